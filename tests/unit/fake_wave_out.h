// A scripted stand-in for winmm's wave output with the platform's documented rules, not Wine's: a
// header is the service's from its write until it is marked done; unprepare and close are refused
// while one is queued; a handle it does not hold is refused; a lost device keeps what is queued.
// Touching a freed record, or calling back into a closed event, fails the test. Then the helpers.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct WaveLib_Stream;

namespace fake {

enum class Op { Devs, Caps, Open, Prepare, Write, Reset, Close, Text, Unprepare, Position };

struct Call {
    Op op;
    int arg; // device number, header index, result code or position; Reset: the headers marked done
    DWORD flags; // Prepare, Unprepare, Write: the header's flags as passed
    double ms;   // when, on Now()'s clock
};

struct Device {
    std::string name; // cut to 31 characters, as the service does
    MMRESULT capsResult = MMSYSERR_NOERROR;
};

// Forgets all but the handles it holds. Calls answer with their scripted results, then succeed (a
// failed reset marks nothing done). Position checks find the frames played (the script's, then a
// second more a check) in the format asked, Wine's way (bytes stand at 0xFFFFFFFF from 2^31 on),
// or always in timeType, wrapping at 2^32, as Windows may answer.
void Reset(std::vector<Device> devices, std::map<Op, std::vector<MMRESULT>> results = {},
           std::vector<DWORD> frames = {}, UINT timeType = 0);
void Serve(std::vector<Device> devices); // the list changes under a running program

// The last open's device goes away, the Windows way (position and write fail with 6, the reset
// succeeds) or Wine's (the position stands still, the reset fails), marking nothing done, until the
// countsHeld-th device count from now: then each queued header is marked done with a WOM_DONE, and
// every call on the handle answers `afterwards`: 0 (it can be closed), 5 (forgotten) or 6
// (abandoned, for ever). A frozen stream only stands still: its reset marks all done.
enum class Loss { None, Windows, Wine, Frozen };
void Lose(Loss way, int countsHeld = 1, MMRESULT afterwards = MMSYSERR_NOERROR);
std::vector<Call> Calls();
size_t Count(Op op);
// The calls from `from` on but position checks, a word each ("devs caps0 open0 text3 reset01"):
// the number is the call's arg ("reset01": headers 0 and 1 marked done).
std::string Trace(size_t from = 0);
WaveLib_Stream* Opened(); // the record the last open was given
double Now();             // milliseconds, on the steady clock: the tick count is coarser

// For the last open, on the calling thread: marks done those of the headers that are queued, then
// calls back once for all, unless callBack is false (still to come).
void MarkDone(const std::vector<int>& headers, bool callBack = true);
bool AllQueued();          // waits until all four headers are queued
void Park(DWORD threadId); // the thread's next position check never returns, holding nothing

} // namespace fake

const std::string kClose = " unprepare0 unprepare1 unprepare2 unprepare3 close"; // a tear-down
// What the program writes to standard output while action runs, line ends as written.
std::string Stdout(const std::function<void()>& action);
bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs = 10000);
