#pragma once

#include <windows.h>
#include <mmsystem.h>

// A result of the program's own, never one of the service's: the device has
// stopped playing without failing any call.
constexpr MMRESULT WAVELIB_STALLED = 0xFFFFFFFF;

// Writes one failure line, formatted with the audio service's text for the
// result code (empty when the service has none) or the program's own text for
// WAVELIB_STALLED, to standard output.
void WaveLib_ReportFailure(const char* format, MMRESULT result);
