// Prints the wave-out devices as this Wine process numbers them: "NUMBER<TAB>PRODUCT NAME",
// the name in the ANSI code page, exactly as the program under test sees it.
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>

int main(void) {
    UINT count = waveOutGetNumDevs();
    for (UINT id = 0; id < count; id++) {
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            printf("%u\t%s\n", id, caps.szPname);
        }
    }
    return 0;
}
