// murmex-devices: lists the wave-out devices and tells which one murmex.exe would play on with
// the same command tail, or why none, whether a copy runs for that device and whether one starts
// at sign-in. Double-clicked, alone on its console, it then asks for a device and sets murmex.exe
// up to start with Windows.
#include <windows.h>

#include "console.h"
#include "dialogue.h"

int main() {
    const char* tail = App_CommandTail(GetCommandLineA(), CP_ACP);
    // On the stack: a static would be stored as that many zero bytes.
    Devices_List list;
    Devices_Read(&list);
    Devices_Choice choice;
    Devices_ChoiceOf(&list, tail, &choice);
    Console_Choice(&list, &choice);
    Signin_Entries entries;
    Signin_Status status;
    Signin_Find(&list, choice.refused ? choice.refused : choice.name, choice.chosen, &entries,
                &status);
    Console_Status(&status);

    // Started from Explorer, the console is its own and closes with it: the one moment to ask.
    DWORD processes[2], mode;
    if (GetConsoleProcessList(processes, 2) == 1) {
        if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
            Dialogue_Run();
        else
            Console_Line("Its input is not this window's keyboard: it asks nothing and changes "
                         "nothing.");
    }
    return choice.chosen >= 0 ? 0 : 1;
}
