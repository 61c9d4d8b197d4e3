// Silence feeder: primes the device with four looping headers and re-queues
// each one the service marks done, until a queue call fails, the device stops
// playing, or a stop is asked.
#include "wave_lib.h"
#include "wave_report.h"

namespace {

constexpr DWORD kLoopForever = 0xFFFFFFFF;

// A healthy stream never marks a header done (each loops for 136 years), and a stream whose
// device has gone does not either: the service reports no failure, so the feeder checks the
// position whenever a second passes without a WOM_DONE, and takes a position that has stood
// still since the last check as the stream's end.
constexpr DWORD kPositionCheckMs = 1000;
// Checks that may find a new stream still at 0 before it counts as lost: a start can be slow.
constexpr int kStartChecks = 5;

// What the last position check saw. The position is asked in samples: Wine answers its frame count
// as it stands, where its bytes come from a signed 32-bit MulDiv that reads 0xFFFFFFFF from 2^31
// bytes on (3.1 hours at this rate), a healthy stream standing still. It is compared for
// equality only, so a wrap at 2^32 (24.8 days of samples, 6.2 hours of bytes) is a move like
// any other, and so is a change in any other time format the service may answer with.
struct PositionCheck {
    DWORD position;
    int stillChecks; // checks in a row that found the position where it was
};

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

// A header the service refuses never became its own: it gets its done bit back, so the
// tear-down counts it among those marked done.
MMRESULT QueueHeader(WaveLib_Stream* stream, WAVEHDR* header) {
    ArmHeader(stream, header);
    const MMRESULT result = waveOutWrite(stream->device, header, sizeof *header);
    if (result != MMSYSERR_NOERROR)
        InterlockedOr(FlagsOf(header), WHDR_DONE);
    return result;
}

// One pass over the headers in order; stops at the first failed queue call
// and leaves the headers after it alone.
MMRESULT RequeueDoneHeaders(WaveLib_Stream* stream) {
    for (WAVEHDR& header : stream->headers) {
        if (!IsDone(&header))
            continue;
        const MMRESULT result = QueueHeader(stream, &header);
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    return MMSYSERR_NOERROR;
}

// 0 while the stream plays; otherwise the position query's failure, or WAVELIB_STALLED.
MMRESULT CheckPosition(WaveLib_Stream* stream, PositionCheck* check) {
    MMTIME time = {};
    time.wType = TIME_SAMPLES;
    const MMRESULT result = waveOutGetPosition(stream->device, &time, sizeof time);
    if (result != MMSYSERR_NOERROR)
        return result;
    // Whatever format came back, its value shares this place.
    check->stillChecks = time.u.sample == check->position ? check->stillChecks + 1 : 0;
    check->position = time.u.sample;
    return check->stillChecks >= (time.u.sample == 0 ? kStartChecks : 1) ? WAVELIB_STALLED
                                                                         : MMSYSERR_NOERROR;
}

} // namespace

// A header whose loop bits are clear was never armed, so never queued.
bool WaveLib_AllDone(WaveLib_Stream* stream) {
    for (WAVEHDR& header : stream->headers) {
        const LONG flags = InterlockedOr(FlagsOf(&header), 0);
        if ((flags & WHDR_INQUEUE) || ((flags & WHDR_BEGINLOOP) && !(flags & WHDR_DONE)))
            return false;
    }
    return true;
}

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
        const MMRESULT result = QueueHeader(stream, &header);
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
    // The event is auto-reset: several WOM_DONEs between two waits wake us
    // once, so every wake-up scans all four headers. The stop flag is written
    // before the event is set, and read before any header is examined.
    PositionCheck check = {};
    while (exitCode == WAVELIB_FEED_STOPPED) {
        const DWORD woke = WaitForSingleObject(stream->completionEvent, kPositionCheckMs);
        if (StopRequested(stream))
            break;
        const bool timedOut = woke == WAIT_TIMEOUT;
        result = timedOut ? CheckPosition(stream, &check) : RequeueDoneHeaders(stream);
        if (result != MMSYSERR_NOERROR) {
            WaveLib_ReportFailure(
                timedOut ? "waveOutGetPosition failed: %s\n" : "waveOutWrite failed: %s\n", result);
            exitCode = WAVELIB_FEED_FAILED;
        }
    }
    // Every path resets, after its failure line: the reset marks all queued
    // headers done so the device can be closed. A device that has gone marks
    // nothing done and fails the reset; the close does not wait for them.
    waveOutReset(stream->device);
    return exitCode;
}
