// Output stream: device lookup, open, and the tear-down that undoes it.
#include "wave_lib.h"
#include "wave_report.h"

namespace {

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Abandoned streams: those the service has not let go of, each whole until Release frees it.
// Only the watcher's thread touches the list, through WaveLib_Open and WaveLib_Close.
WaveLib_Stream* g_abandoned;

// True once the service has let go of the device: the close went through, or the handle is no
// longer the service's. Every header is unprepared first, as the close requires; while one is
// still queued both are refused.
bool CloseDevice(WaveLib_Stream* stream) {
    if (!stream->device)
        return true;
    for (WAVEHDR& header : stream->headers)
        if (header.dwFlags & WHDR_PREPARED)
            waveOutUnprepareHeader(stream->device, &header, sizeof header);
    const MMRESULT result = waveOutClose(stream->device);
    return result == MMSYSERR_NOERROR || result == MMSYSERR_INVALHANDLE;
}

// Frees the record once the service can no longer reach it: its close went through, or the
// attempt before this one found every header marked done. The service then holds nothing that
// points into the record and calls back for nothing more, but the done bits are set just before
// the last WOM_DONE callback, which reads the record's event, runs on the service's thread: an
// attempt's pause later it has long returned. Returns false, the record kept, otherwise.
bool Release(WaveLib_Stream* stream) {
    // A close first even then: a live handle whose headers came back after the last one takes it.
    if (!CloseDevice(stream) && !stream->allDone) {
        stream->allDone = WaveLib_AllDone(stream);
        return false;
    }
    if (stream->completionEvent)
        CloseHandle(stream->completionEvent);
    LocalFree(stream);
    return true;
}

// The reset again first: it is what marks queued headers done, and it may succeed now where
// the feeder's failed.
void CloseAbandoned() {
    for (WaveLib_Stream** link = &g_abandoned; *link;) {
        WaveLib_Stream* stream = *link;
        WaveLib_Stream* next = stream->next; // read before Release may free it
        waveOutReset(stream->device);
        if (Release(stream))
            *link = next;
        else
            link = &stream->next;
    }
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
    CloseAbandoned(); // after the count: Windows is said to abandon lost devices' handles there
    if (deviceId < 0)
        return nullptr;
    WaveLib_Stream* stream = WaveLib_Start(static_cast<UINT>(deviceId));
    if (stream && stream->feederThread)
        WaitForSingleObject(stream->feederThread, INFINITE);
    return stream;
}

// Reverse order of setup: the feeder must be gone before its thread handle is closed, and the
// device closed before the event its callback sets and the record it receives as instance data
// go. Nothing here waits on the service: a device that has gone marks nothing done, and a stream
// whose close it refuses is kept, abandoned, as it stands.
void WaveLib_Close(WaveLib_Stream* stream) {
    if (!stream)
        return;
    if (stream->feederThread) {
        InterlockedExchange(&stream->stopRequested, 1);
        SetEvent(stream->completionEvent);
        WaitForSingleObject(stream->feederThread, INFINITE);
        CloseHandle(stream->feederThread);
    }
    if (!Release(stream)) {
        stream->next = g_abandoned;
        g_abandoned = stream;
    }
}
