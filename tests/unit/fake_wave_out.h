// A scripted stand-in for winmm's wave output with the platform's documented rules, not Wine's (a
// header is the service's from its write until it is handed back; a queued or unprepared header
// cannot be written; unprepare and close are refused while a header is queued; a handle it did
// not open, or has closed, is refused) and surprises (a failed open or query may still fill its
// output; a device that goes away keeps what is queued on it); then the helpers. Touching a header
// or calling back into a record that has been freed, or whose event is closed, fails the test.
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
    int arg; // device number, header index, result code or position; Reset: the headers handed back
    DWORD flags; // Open: the open flags; Prepare, Write: the header's flags as passed
    bool event;  // Open, Text: the stream record held its completion event at the call
    double ms;   // when, on Now()'s clock
};

struct Device {
    std::string name; // cut to 31 characters, as the service does
    MMRESULT capsResult = MMSYSERR_NOERROR;
};

// Forgets all but the handles it holds, and serves these devices. Each call answers with its
// scripted results in turn, then succeeds; a failed reset hands nothing back. The position queries
// find the scripted positions in turn, then one that moves at every query, in bytes unless timeType
// says otherwise (the service may answer in another format than asked).
void Reset(std::vector<Device> devices, std::map<Op, std::vector<MMRESULT>> results = {},
           std::vector<DWORD> positions = {}, UINT timeType = TIME_BYTES);
void Serve(std::vector<Device> devices); // the list changes under a running program

// The device of the last open goes away. Windows: the position and write fail with
// MMSYSERR_NODRIVER, the reset succeeds and hands nothing back. Wine: the position stands still,
// the reset fails and hands nothing back. Either way the service lets go of the handle at the
// countsHeld-th device count from now: each queued header is handed back, with a WOM_DONE; then
// the handle can be closed, or if forget is set, is no longer the service's.
enum class Loss { None, Windows, Wine };
void Lose(Loss way, int countsHeld = 1, bool forget = false);
std::vector<Call> Calls();
std::vector<int> Args(Op op);
// The log from call `from` on, but for the position queries (they come at their own pace), a
// word a call, such as "devs caps0 open0 text3 reset01 close": the number is the call's arg
// ("reset01": headers 0 and 1 handed back); "+event": the stream had its completion event.
std::string Trace(size_t from = 0);
WaveLib_Stream* Opened(); // the record the last open was given
double Now();             // milliseconds, on the performance counter: the tick count is coarser

// The service's side, on the calling thread, for the last open: gives back those of the headers
// that are queued, each with a WOM_DONE callback unless callBack is false (still to come).
void HandBack(const std::vector<int>& headers, bool callBack = true);
void CallBack();  // a WOM_DONE with nothing handed back
bool AllQueued(); // waits until all four headers are queued
// The thread's next position query never returns, and holds nothing meanwhile: a feeder, and
// the watcher waiting on it, that must outlive a story call the service no more.
void Park(DWORD threadId);

} // namespace fake

// What the program writes to standard output while action runs, line ends as written.
std::string Stdout(const std::function<void()>& action);
bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs = 10000);
