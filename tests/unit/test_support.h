// Small helpers shared by the unit tests.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct WaveLib_Stream;

// What the program writes to standard output (the C runtime DLL's descriptor 1) while action
// runs, byte for byte: the descriptor is a binary file for the time, so line ends are the
// program's own "\n".
std::string Stdout(const std::function<void()>& action);

// Polls until cond() holds; false after the deadline.
bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs = 10000);

// WaveLib_Close, returning the feeder's exit code (STILL_ACTIVE if none ran).
DWORD CloseReturningExitCode(WaveLib_Stream* stream);

// Open handles of this process. Wine answers GetProcessHandleCount with 0, so this scans the
// handle values instead; the program's handles are all small values.
DWORD HandleCount();
