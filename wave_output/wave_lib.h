// Silence output: one open wave-output device kept playing silence.
//
// How it works. WaveLib_Open finds the device whose product name begins with
// the given name, opens it at 48000 Hz, 2 channels, 16 bits with
// WaveLib_WaveOutProc as callback, and starts WaveLib_FeedThread. The feeder
// queues four headers that all loop the same one-second zero buffer, then
// sleeps on the stream's auto-reset completion event. The audio service marks
// a header done (WHDR_DONE) when it has finished with it and then sends
// WOM_DONE to the callback on its own thread, which only sets that event; the
// feeder wakes, re-queues every header marked done and sleeps again, until a
// queue call fails or WaveLib_Close asks it to stop. A device that goes away
// (a receiver switched off) marks nothing done and fails nothing, so the
// feeder also checks the playing position once a second, and ends the stream
// when the query fails or the position has stood still since the last check.
// WaveLib_Open returns only once the feeder has ended, so the calling thread
// is blocked for as long as the stream plays.
//
// A device that has gone also keeps what was queued on it: the reset marks
// nothing done, and the service refuses to unprepare or close while a header
// is queued (WAVERR_STILLPLAYING). It then still holds the headers, the buffer
// they point at and the callback with the record as instance data, so
// WaveLib_Close keeps such a stream whole as an abandoned handle, its
// completion event open, and every later WaveLib_Open tries again to close it
// once it has read the device list (which is when Windows is reported to
// abandon the handles of devices that have gone). The record is freed after a
// close the service accepts, or at the attempt after one that found every
// header marked done, whatever the close answers: an abandoned handle may
// refuse every call for ever.
//
// No lock is used. A header belongs to the service while it is queued and to
// the feeder while WHDR_DONE is set, so its fields are never written by both
// at once; the flags word and the stop flag are still read and written with
// interlocked operations because two threads touch them.
#pragma once

#include <windows.h>
#include <mmsystem.h>

enum {
    WAVELIB_HEADER_COUNT = 4,
    WAVELIB_SAMPLE_RATE = 48000,
    WAVELIB_CHANNELS = 2,
    WAVELIB_BITS = 16,
    WAVELIB_BLOCK_ALIGN = WAVELIB_CHANNELS * WAVELIB_BITS / 8,
    WAVELIB_BYTES_PER_SECOND = WAVELIB_SAMPLE_RATE * WAVELIB_BLOCK_ALIGN,
    WAVELIB_BUFFER_BYTES = WAVELIB_BYTES_PER_SECOND, // one second
    WAVELIB_FEED_STOPPED = 0,                        // feeder exit codes
    WAVELIB_FEED_FAILED = 20,
};

// One allocation per stream, zero-filled, so the silence buffer needs no fill.
struct WaveLib_Stream {
    HWAVEOUT device;        // zero while not open
    HANDLE completionEvent; // auto-reset, set on every WOM_DONE
    HANDLE feederThread;    // zero until the feeder is started
    WAVEFORMATEX format;
    volatile LONG stopRequested; // written by WaveLib_Close before it sets the event
    WAVEHDR headers[WAVELIB_HEADER_COUNT];
    BYTE silence[WAVELIB_BUFFER_BYTES]; // never written after the allocation
    WaveLib_Stream* next;               // while abandoned: the next abandoned stream
    bool allDone; // while abandoned: an attempt found every header marked done
};

// Returns the stream after its feeder has ended, or nullptr when no device
// matches, the record cannot be allocated or the device cannot be opened.
// A returned stream must be passed to WaveLib_Close.
WaveLib_Stream* WaveLib_Open(const char* deviceName);

// Stops the feeder if one was started, closes the device and frees the record;
// when the service refuses the close, keeps the stream as abandoned for a later
// WaveLib_Open to free. Accepts nullptr.
void WaveLib_Close(WaveLib_Stream* stream);

// The pieces of WaveLib_Open, exercised directly by tests and shared with murmex-devices.

// Opens the device and starts the feeder without waiting for it. Returns
// nullptr, with nothing left open, when the record cannot be allocated, the
// device cannot be opened or the event not created; only the failed open is
// reported, since only failures of the audio service are. The feeder handle
// is zero if the thread could not be started.
WaveLib_Stream* WaveLib_Start(UINT deviceId);
void CALLBACK WaveLib_WaveOutProc(HWAVEOUT device, UINT message, DWORD_PTR instance,
                                  DWORD_PTR param1, DWORD_PTR param2);
MMRESULT WaveLib_SetupAudio(WaveLib_Stream* stream);
// True when the service holds no header: none is in its queue, and each the feeder queued is
// marked done. The done bit is set just before the WOM_DONE callback runs, not after it.
bool WaveLib_AllDone(WaveLib_Stream* stream);
DWORD WINAPI WaveLib_FeedThread(LPVOID stream);

// Device choice: true when productName begins with deviceName, ASCII letters
// compared without regard to case and every other byte exactly.
bool WaveLib_NameMatches(const char* productName, const char* deviceName);
// The lowest-numbered device whose product name matches, or -1: the choice WaveLib_Open makes.
int WaveLib_FindDevice(const char* deviceName);
