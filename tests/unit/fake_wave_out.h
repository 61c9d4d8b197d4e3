// A scripted stand-in for the wave-output service, linked into the test executable in place of
// winmm.dll. It keeps the rules the program relies on, and the real service's surprises: a
// queued header is the service's until it is handed back with WHDR_DONE set and a WOM_DONE
// callback; a queued or unprepared header cannot be written; a reset hands every queued header
// back; a failed open may leave anything in the handle, a failed query a name in the caps.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <string>
#include <vector>

namespace fake {

enum class Op { Devs, Caps, Open, Prepare, Write, Reset, Close, Text };

struct Call {
    Op op;
    int arg;     // device number, header index or result code; Reset: the headers it handed back
    DWORD flags; // Open: the open flags; Prepare, Write: the header's flags as passed
    bool event;  // Open, Text: the stream record held its completion event at the call
    double ms;   // when, on Now()'s clock
};

struct Device {
    std::string name; // cut to 31 characters, as the service does
    MMRESULT capsResult = MMSYSERR_NOERROR;
};

// Forgets everything: no devices, no scripts, empty log.
void Reset(std::vector<Device> devices = {});
// Results of the next Open or Write calls, in order; calls past the script succeed.
void Script(Op op, std::vector<MMRESULT> results);
std::vector<Call> Calls();
std::vector<int> Args(Op op);
// The log from call `from` on, a word a call, such as "devs caps0 open0 prepare0 write0 text3
// reset01 close": the number is the call's arg ("reset01": headers 0 and 1 handed back), and
// "+event" marks an Open or Text made while the stream already had its completion event.
std::string Trace(size_t from = 0);
double Now(); // milliseconds, on the performance counter (the tick count is coarser)

// The service's side, with the calling thread as the service's own. HandBack gives back those
// of the headers that are queued, each followed by a WOM_DONE callback unless callBack is false
// (marked done, the callback still to come), and returns them.
std::vector<int> HandBack(const std::vector<int>& headers, bool callBack = true);
void CallBack(); // a WOM_DONE with nothing handed back
int Queued();

} // namespace fake
