// A scripted stand-in for winmm's wave output, with the real one's rules and surprises: a header
// is the service's from its write until it is handed back, done, with a WOM_DONE callback; a
// queued or unprepared header cannot be written; a reset hands every queued header back; a
// failed open or query may still fill its output. Below it, the helpers the tests share.
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

// Forgets everything and serves these devices. Each call answers with its scripted results in
// turn, then succeeds; a failed reset hands nothing back, as on a device that has gone. The
// position queries find the scripted positions in turn, then one that moves at every query.
void Reset(std::vector<Device> devices, std::map<Op, std::vector<MMRESULT>> results = {},
           std::vector<DWORD> positions = {});
std::vector<Call> Calls();
std::vector<int> Args(Op op);
// The log from call `from` on, a word a call, such as "devs caps0 open0 prepare0 write0 text3
// reset01 close": the number is the call's arg ("reset01": headers 0 and 1 handed back), and
// "+event" marks an Open or Text made while the stream already had its completion event.
// Position queries come at their own pace and are left out.
std::string Trace(size_t from = 0);
WaveLib_Stream* Opened(); // the record the last open was given
double Now();             // milliseconds, on the performance counter: the tick count is coarser

// The service's side, on the calling thread: gives back those of the headers that are queued,
// each with a WOM_DONE callback unless callBack is false (the callback still to come).
void HandBack(const std::vector<int>& headers, bool callBack = true);
void CallBack();  // a WOM_DONE with nothing handed back
bool AllQueued(); // waits until all four headers are queued
// From now on the thread's next position query or device count never returns, and holds
// nothing meanwhile: a thread that must not end a story calls the service no more.
void Park(DWORD threadId);

} // namespace fake

// What the program writes to standard output while action runs, through a binary pipe: a line
// ends as the program wrote it.
std::string Stdout(const std::function<void()>& action);
bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs = 10000);
// WaveLib_Close, returning the feeder's exit code.
DWORD CloseReturningExitCode(WaveLib_Stream* stream);
// Wine answers GetProcessHandleCount with 0: this counts the small handle values in use.
DWORD HandleCount();
// Whether the process heap no longer holds this block.
bool Freed(const void* block);
