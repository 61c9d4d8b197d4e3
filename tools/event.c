// Prints "held" when a named event exists and "free" when none does: with the program's guard
// name (MURMEX_GUARD_PREFIX and the device name) it tells whether a copy serves that device.
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: murmex-event NAME\n");
        return 2;
    }
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, argv[1]);
    puts(event ? "held" : "free");
    if (event) {
        CloseHandle(event);
    }
    return 0;
}
