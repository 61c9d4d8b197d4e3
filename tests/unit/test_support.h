// Small helpers shared by the unit tests.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct WaveLib_Stream;

// Captures what the program writes to standard output (file descriptor 1,
// through the C runtime DLL's stdout) between construction and Take().
struct StdoutCapture {
    StdoutCapture();
    ~StdoutCapture();
    std::string Take(); // ends the capture; the bytes as written, "\r\n" included
    int saved = -1;
    std::string path;
};

// Polls until cond() holds; false after the deadline.
bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs = 10000);

// Waits until the feeder has taken the completion event's signal.
bool WaitEventTaken(HANDLE event);

// WaveLib_Close, returning the feeder's exit code (STILL_ACTIVE if none ran).
DWORD CloseReturningExitCode(WaveLib_Stream* stream);

DWORD HandleCount();
