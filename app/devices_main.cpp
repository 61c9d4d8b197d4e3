// murmex-devices: lists the wave-out devices and tells which one murmex.exe would play on with
// the same command tail, or why none, whether a copy runs for that device and whether one starts
// at sign-in. Double-clicked, alone on its console, it then asks for a device and sets murmex.exe
// up to start with Windows.
#include <windows.h>

#include "devices.h"

int main() {
    const char* tail = App_CommandTail(GetCommandLineA(), CP_ACP);
    char name[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    const bool settled = App_SettleNames(tail, name, guard);
    const int chosen = Devices_Verdict(settled ? name : tail, settled, *tail != '\0');
    Signin_Entries entries; // on the stack: a static would be stored as that many zero bytes
    Signin_List(&entries);
    Signin_Status status;
    Signin_Tell(&entries, settled ? name : tail, chosen, &status);

    // Started from Explorer, the console is its own and closes with it: the one moment to ask.
    DWORD processes[2], mode;
    if (GetConsoleProcessList(processes, 2) == 1) {
        if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
            Dialogue_Run();
        else
            Say("Its input is not this window's keyboard: it asks nothing and changes nothing.");
    }
    return chosen >= 0 ? 0 : 1;
}
