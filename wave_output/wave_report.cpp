// <stdio.h> comes before any header that pulls in libstdc++'s configuration,
// which switches printf to MinGW's own implementation; the C runtime DLL's
// printf is the one the program ships with.
#include <stdio.h>

#include "wave_report.h"

// printf holds the stream lock for the whole call, so lines written by the
// watcher and a feeder never interleave. Standard output is never flushed
// here: on a console each line goes out at once, into a file in blocks and
// the rest when WinMain writes it out at its end.
void WaveLib_ReportFailure(const char* format, MMRESULT result) {
    if (result == WAVELIB_STALLED) {
        printf(format, "The device stopped playing.");
        return;
    }
    char text[MAXERRORLENGTH] = "";
    waveOutGetErrorTextA(result, text, sizeof text);
    text[sizeof text - 1] = '\0';
    printf(format, text);
}
