// Output stream: device lookup, open, and the tear-down that undoes it.
#include "wave_lib.h"
#include "wave_report.h"

namespace {

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void SetStreamFormat(WAVEFORMATEX* format) {
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = WAVELIB_CHANNELS;
    format->nSamplesPerSec = WAVELIB_SAMPLE_RATE;
    format->nAvgBytesPerSec = WAVELIB_BYTES_PER_SECOND;
    format->nBlockAlign = WAVELIB_BLOCK_ALIGN;
    format->wBitsPerSample = WAVELIB_BITS;
    format->cbSize = 0;
}

} // namespace

bool WaveLib_NameMatches(const char* productName, const char* deviceName) {
    for (; *deviceName; ++deviceName, ++productName) {
        if (AsciiLower(*productName) != AsciiLower(*deviceName))
            return false; // also where the product name ends first
    }
    return true;
}

// szPname holds at most 31 characters: longer names can never match.
int WaveLib_FindDevice(const char* deviceName) {
    const UINT count = waveOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
            continue;
        if (WaveLib_NameMatches(caps.szPname, deviceName))
            return static_cast<int>(id);
    }
    return -1;
}

WaveLib_Stream* WaveLib_Start(UINT deviceId) {
    auto* stream = static_cast<WaveLib_Stream*>(
        LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, sizeof(WaveLib_Stream)));
    if (!stream)
        return nullptr;
    SetStreamFormat(&stream->format);

    const MMRESULT result = waveOutOpen(&stream->device, deviceId, &stream->format,
                                        reinterpret_cast<DWORD_PTR>(&WaveLib_WaveOutProc),
                                        reinterpret_cast<DWORD_PTR>(stream), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
        WaveLib_ReportFailure("waveOutOpen failed: %s\n", result);
        stream->device = nullptr; // a failed open may leave anything in the handle
        WaveLib_Close(stream);
        return nullptr;
    }

    // Created only now: the open notification, the one message that can come
    // before this, needs no event.
    stream->completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!stream->completionEvent) {
        // The feeder would sleep forever on nothing; let the watcher retry.
        WaveLib_Close(stream);
        return nullptr;
    }
    stream->feederThread = CreateThread(nullptr, 0, WaveLib_FeedThread, stream, 0, nullptr);
    return stream;
}

WaveLib_Stream* WaveLib_Open(const char* deviceName) {
    const int deviceId = WaveLib_FindDevice(deviceName);
    if (deviceId < 0)
        return nullptr;
    WaveLib_Stream* stream = WaveLib_Start(static_cast<UINT>(deviceId));
    if (stream && stream->feederThread)
        WaitForSingleObject(stream->feederThread, INFINITE);
    return stream;
}

// Reverse order of setup: the feeder must be gone before its event and thread
// handles are closed, every header unprepared before the device is closed,
// and the device closed before the record that its callback receives as
// instance data is freed. The event is closed even when no feeder was
// started, so a failed thread start leaks nothing. Nothing here waits on the
// service: a device that has gone fails these calls, and the record is freed
// all the same, since such a device hands nothing back.
void WaveLib_Close(WaveLib_Stream* stream) {
    if (!stream)
        return;
    if (stream->feederThread) {
        InterlockedExchange(&stream->stopRequested, 1);
        SetEvent(stream->completionEvent);
        WaitForSingleObject(stream->feederThread, INFINITE);
    }
    if (stream->completionEvent)
        CloseHandle(stream->completionEvent);
    if (stream->feederThread)
        CloseHandle(stream->feederThread);
    if (stream->device) {
        for (WAVEHDR& header : stream->headers)
            if (header.dwFlags & WHDR_PREPARED)
                waveOutUnprepareHeader(stream->device, &header, sizeof header);
        waveOutClose(stream->device);
    }
    LocalFree(stream);
}
