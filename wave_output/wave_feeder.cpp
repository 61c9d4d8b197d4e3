// Silence feeder: primes the device with four looping headers and re-queues
// each one the service hands back, until a queue call fails or a stop is asked.
#include "wave_lib.h"
#include "wave_report.h"

namespace {

constexpr DWORD kLoopForever = 0xFFFFFFFF;

volatile LONG* FlagsOf(WAVEHDR* header) {
    static_assert(sizeof header->dwFlags == sizeof(LONG), "flags word is 32 bits");
    return reinterpret_cast<volatile LONG*>(&header->dwFlags);
}

// The service sets WHDR_DONE on its own thread; an interlocked read sees it.
bool IsDone(WAVEHDR* header) {
    return (InterlockedOr(FlagsOf(header), 0) & WHDR_DONE) != 0;
}

bool StopRequested(WaveLib_Stream* stream) {
    return InterlockedOr(&stream->stopRequested, 0) != 0;
}

// Called only while the feeder owns the header (before the first queue call,
// or while WHDR_DONE is set). Every other flag, the prepared bit above all,
// stays as the service left it.
void ArmHeader(WaveLib_Stream* stream, WAVEHDR* header) {
    InterlockedAnd(FlagsOf(header), ~static_cast<LONG>(WHDR_DONE));
    InterlockedOr(FlagsOf(header), WHDR_BEGINLOOP | WHDR_ENDLOOP);
    header->dwLoops = kLoopForever;
    header->lpData = reinterpret_cast<LPSTR>(stream->silence);
    header->dwBufferLength = WAVELIB_BUFFER_BYTES;
}

// One pass over the headers in order; stops at the first failed queue call
// and leaves the headers after it alone.
MMRESULT RequeueDoneHeaders(WaveLib_Stream* stream) {
    for (WAVEHDR& header : stream->headers) {
        if (!IsDone(&header))
            continue;
        ArmHeader(stream, &header);
        const MMRESULT result = waveOutWrite(stream->device, &header, sizeof header);
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    return MMSYSERR_NOERROR;
}

} // namespace

// Runs on the service's thread: touches nothing but the event.
void CALLBACK WaveLib_WaveOutProc(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR,
                                  DWORD_PTR) {
    if (message == WOM_DONE)
        SetEvent(reinterpret_cast<WaveLib_Stream*>(instance)->completionEvent);
}

MMRESULT WaveLib_SetupAudio(WaveLib_Stream* stream) {
    for (WAVEHDR& header : stream->headers) {
        header.dwBufferLength = WAVELIB_BUFFER_BYTES;
        header.lpData = reinterpret_cast<LPSTR>(stream->silence);
        waveOutPrepareHeader(stream->device, &header,
                             sizeof header); // a failure shows in the write
        ArmHeader(stream, &header);
        const MMRESULT result = waveOutWrite(stream->device, &header, sizeof header);
        if (result != MMSYSERR_NOERROR)
            return result; // earlier headers stay queued until the reset
    }
    return MMSYSERR_NOERROR;
}

DWORD WINAPI WaveLib_FeedThread(LPVOID parameter) {
    auto* stream = static_cast<WaveLib_Stream*>(parameter);
    DWORD exitCode = WAVELIB_FEED_STOPPED;

    MMRESULT result = WaveLib_SetupAudio(stream);
    if (result != MMSYSERR_NOERROR) {
        WaveLib_ReportFailure("WaveLib_SetupAudio failed: %s\n", result);
        exitCode = WAVELIB_FEED_FAILED;
    }
    // The event is auto-reset: several hand-backs between two waits wake us
    // once, so every wake-up scans all four headers. The stop flag is written
    // before the event is set, and read before any header is looked at.
    while (exitCode == WAVELIB_FEED_STOPPED) {
        WaitForSingleObject(stream->completionEvent, INFINITE);
        if (StopRequested(stream))
            break;
        result = RequeueDoneHeaders(stream);
        if (result != MMSYSERR_NOERROR) {
            WaveLib_ReportFailure("waveOutWrite failed: %s\n", result);
            exitCode = WAVELIB_FEED_FAILED;
        }
    }
    // Every path resets, after its failure line: the reset hands all queued
    // headers back so the device can be closed.
    waveOutReset(stream->device);
    return exitCode;
}
