// A scripted stand-in for the wave-output service, linked into the test
// executable in place of winmm.dll. It keeps the rules the program relies on:
// a queued header is the service's until it is handed back with WHDR_DONE set
// and a WOM_DONE callback, writing a queued header fails with 33 ("still
// playing"), and a reset hands every queued header back.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <functional>
#include <string>
#include <vector>

struct WaveLib_Stream;

namespace fake {

enum class Op { GetNumDevs, GetDevCaps, Open, Prepare, Write, Reset, Close, GetErrorText };

struct Call {
    Op op;
    int arg;     // device number, header index or result code, by op
    DWORD flags; // a header's flags as the program passed them (Prepare, Write)
};

struct Device {
    std::string name; // cut to 31 characters, as the service does
    MMRESULT capsResult = MMSYSERR_NOERROR;
};

// Forgets everything: no devices, no scripts, empty log.
void Reset(std::vector<Device> devices = {});
// Results of the next calls of one kind (Open, Write); calls past the script succeed.
void Script(Op op, std::vector<MMRESULT> results);
std::vector<Call> Calls();
std::vector<int> Args(Op op); // the arg of every logged call of one kind, in order
int Count(Op op);

// From a service thread: hands the given headers back if they are queued, and
// calls the callback once per header; returns the indices actually handed back.
std::vector<int> HandBack(std::vector<int> headers);
// Sets WHDR_DONE on queued headers without a callback, as a service thread
// would just before it calls back.
void MarkDone(std::vector<int> headers);
// Calls the callback with WOM_DONE from a service thread, nothing handed back.
void CallBack();
int QueuedCount();
// Counts how often each header was handed back / written, for storm checks.
std::vector<int> HandBackCounts();

// Runs until stopped: hands back random non-empty subsets of the queued
// headers from its own thread, like a device finishing loops. Stops by itself
// once the device is reset. Returns the number of headers handed back.
void StartStorm(unsigned seed, int handBacks);
int JoinStorm();

// Runs action under the service's lock, so that no wave-output call comes
// between it and the log position it returns (the number of calls logged).
size_t WhileHeld(const std::function<void()>& action);

} // namespace fake
