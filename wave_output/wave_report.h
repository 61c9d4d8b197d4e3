#pragma once

#include <windows.h>
#include <mmsystem.h>

// Writes one failure line, formatted with the audio service's text for the
// result code (empty when the service has none), to standard output.
void WaveLib_ReportFailure(const char* format, MMRESULT result);
