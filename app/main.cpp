// Program shell: hidden window, one copy per device name, the device watcher,
// and a message loop for the rest of the program's life. The program has no
// orderly stop of its own: a quit message posted by someone else ends the
// loop, and the process ends with the watcher and any open stream inside it.
#include <stdio.h>

#include <windows.h>

#include "command_line.h"
#include "device_watch.h"
#include "murmex.h"

namespace {

bool CreateHiddenWindow(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = MURMEX_WINDOW_CLASS;
    if (!RegisterClassExA(&windowClass))
        return false;
    // Never shown: no show or update call, and WinMain's show command is ignored.
    return CreateWindowExA(0, MURMEX_WINDOW_CLASS, MURMEX_WINDOW_TITLE, WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                           nullptr, instance, nullptr) != nullptr;
}

// Static rather than on WinMain's frame: the watcher keeps reading the name
// while the C runtime runs its exit code after WinMain has returned.
char g_deviceName[APP_NAME_CHARS];

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (!CreateHiddenWindow(instance))
        return 0;

    char guardName[APP_NAME_CHARS];
    if (!App_DeviceAndGuardNames(App_CommandTail(GetCommandLineA(), CP_ACP), g_deviceName,
                                 guardName))
        return 0;

    // Held, never closed, until the process ends; names compare case-sensitively.
    if (!CreateEventA(nullptr, FALSE, FALSE, guardName) || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;

    // The handle is deliberately not kept: the watcher runs until the process ends.
    CreateThread(nullptr, 0, DeviceWatchThread, g_deviceName, 0, nullptr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // Written here, not by exit: Wine's C runtime writes only at DLL detach, which may never come.
    fflush(stdout);
    return 0;
}
