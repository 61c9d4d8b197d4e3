#pragma once

#include <windows.h>

// Thread function that never returns: plays one stream after another on the
// device named by the zero-terminated string it is given, which must outlive it.
DWORD WINAPI DeviceWatchThread(LPVOID deviceName);
