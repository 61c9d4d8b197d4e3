// The floor under murmex's footprint: the least a program can do to keep one
// device playing the same looping silence through the same wave-output
// service (same format, same four one-second headers looped 0xFFFFFFFF times),
// with no window, no watcher, no feeder and no callback. scripts/bench runs
// it beside murmex.exe; what murmex costs above this is what murmex adds.
// The device name is the command-line tail, matched like murmex matches it.
#include <windows.h>
#include <mmsystem.h>
#include <string.h>

enum { BYTES_PER_SECOND = 48000 * 4 };

static BYTE silence[BYTES_PER_SECOND];
static WAVEHDR headers[4];

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
    (void)instance, (void)previous, (void)show;
    const char* name = *tail ? tail : "ATI HDMI Output";
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 48000, BYTES_PER_SECOND, 4, 16, 0};
    WAVEOUTCAPSA caps;
    HWAVEOUT device;
    UINT count = waveOutGetNumDevs(), id = 0;
    while (id < count && (waveOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR ||
                          _strnicmp(caps.szPname, name, strlen(name)) != 0)) {
        id++;
    }
    if (id == count || waveOutOpen(&device, id, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return 1;
    }
    for (int i = 0; i < 4; i++) {
        headers[i].lpData = (LPSTR)silence;
        headers[i].dwBufferLength = sizeof silence;
        waveOutPrepareHeader(device, &headers[i], sizeof headers[i]);
        headers[i].dwFlags |= WHDR_BEGINLOOP | WHDR_ENDLOOP;
        headers[i].dwLoops = 0xFFFFFFFF;
        if (waveOutWrite(device, &headers[i], sizeof headers[i]) != MMSYSERR_NOERROR) {
            return 1;
        }
    }
    Sleep(INFINITE);
    return 0;
}
