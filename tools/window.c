// Without arguments, lists every top-level window of murmex.exe's class or title (murmex.h) as
// "PID<TAB>CLASS<TAB>TITLE<TAB>visible|hidden". With "quit PID", posts WM_QUIT
// to that process's window, which ends its message loop and so the program, normally; exits 1
// when the process has no such window. With "quit-on-enter", prints "ready" and, once a line
// comes on its standard input, posts WM_QUIT to every such window: programs end the moment the
// caller chooses, without a Wine start between; exits 1 when there was no window. With "close
// PID", sends WM_CLOSE, as a close request from outside does: the window is destroyed and the
// program runs on without it.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "murmex.h"

static DWORD quit_pid;
static UINT quit_message = WM_QUIT;
static int quit_every, quit_posted;

static BOOL CALLBACK visit(HWND window, LPARAM unused) {
    (void)unused;
    char class_name[256] = "", title[256] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(class_name, MURMEX_WINDOW_CLASS) != 0 && strcmp(title, MURMEX_WINDOW_TITLE) != 0) {
        return TRUE;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!quit_pid && !quit_every) {
        printf("%lu\t%s\t%s\t%s\n", pid, class_name, title,
               IsWindowVisible(window) ? "visible" : "hidden");
    } else if (quit_every || pid == quit_pid) {
        quit_posted |= quit_message == WM_CLOSE ? SendMessageA(window, WM_CLOSE, 0, 0) == 0
                                                : PostMessageA(window, WM_QUIT, 0, 0);
    }
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc == 3 && (strcmp(argv[1], "quit") == 0 || strcmp(argv[1], "close") == 0)) {
        quit_pid = strtoul(argv[2], NULL, 10);
        quit_message = argv[1][0] == 'c' ? WM_CLOSE : WM_QUIT;
    } else if (argc == 2 && strcmp(argv[1], "quit-on-enter") == 0) {
        char line[8];
        printf("ready\n");
        fflush(stdout);
        quit_every = fgets(line, sizeof line, stdin) != NULL;
        if (!quit_every) {
            return 2;
        }
    } else if (argc != 1) {
        fprintf(stderr, "usage: murmex-window [quit PID | close PID | quit-on-enter]\n");
        return 2;
    }
    EnumWindows(visit, 0);
    return (quit_pid || quit_every) && !quit_posted;
}
