#include "device_watch.h"

#include "wave_lib.h"

namespace {
constexpr DWORD kRetryPauseMs = 2000;
}

// The pause follows every attempt alike (no device, a failed open, a stream
// that played for hours), never precedes the first.
DWORD WINAPI DeviceWatchThread(LPVOID deviceName) {
    for (;;) {
        WaveLib_Stream* stream = WaveLib_Open(static_cast<const char*>(deviceName));
        if (stream)
            WaveLib_Close(stream);
        Sleep(kRetryPauseMs);
    }
}
