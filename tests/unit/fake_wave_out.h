// A scripted stand-in for the wave-output service, linked into the test executable in place of
// winmm.dll. It keeps the rules the program relies on, and the surprises of the real one: a
// queued header is the service's until it is handed back with WHDR_DONE set and a WOM_DONE
// callback; writing a queued or unprepared header fails; a reset hands every queued header
// back; a failed open may leave anything in the handle; a failed capability query may still
// have filled in the product name.
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
// The log from call `from` on, one word a call: "devs caps0 open0 prepare0 write0 text3 reset01
// close", where a number is the call's arg ("reset01": the reset handed headers 0 and 1 back)
// and "+event" marks an Open or Text made while the stream already had its completion event.
std::string Trace(size_t from = 0);
double Now(); // milliseconds

// The service's side; the calling thread acts as the service's thread. HandBack gives back
// those of the headers that are queued, each with a WOM_DONE callback, and returns them.
std::vector<int> HandBack(const std::vector<int>& headers);
void MarkDone(const std::vector<int>& headers); // done, but the callback has not come yet
void CallBack();                                // a WOM_DONE with nothing handed back
int Queued();

} // namespace fake
