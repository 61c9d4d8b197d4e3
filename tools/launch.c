// Starts the command line stored byte for byte in a file and exits with the child's exit code.
// Wine's own loader rebuilds the command line from Unix arguments (it quotes any argument with
// blanks and converts from UTF-8), so exact quoting, blanks and code-page bytes need this detour.
// A file that begins with UTF-8's byte-order mark holds UTF-8, started with CreateProcessW: a
// name outside the code page reaches the child whole.
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    static char line[32768];
    static WCHAR wide[32768];
    FILE* file = argc == 2 ? fopen(argv[1], "rb") : NULL;
    if (!file) {
        fprintf(stderr, "usage: murmex-launch COMMAND-LINE-FILE\n");
        return 2;
    }
    line[fread(line, 1, sizeof line - 1, file)] = 0;
    fclose(file);

    // The job ends the child with the launcher, so stopping the launcher stops the program too.
    HANDLE job = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {0};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

    STARTUPINFOW startup = {.cb = sizeof startup, .dwFlags = STARTF_USESTDHANDLES};
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child;
    BOOL started;
    if (memcmp(line, "\xEF\xBB\xBF", 3) == 0) {
        MultiByteToWideChar(CP_UTF8, 0, line + 3, -1, wide, sizeof wide / sizeof *wide);
        started = CreateProcessW(NULL, wide, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL,
                                 &startup, &child);
    } else {
        started = CreateProcessA(NULL, line, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL,
                                 (STARTUPINFOA*)&startup, &child);
    }
    if (!started) {
        fprintf(stderr, "murmex-launch: CreateProcess failed: %lu\n", GetLastError());
        return 2;
    }
    AssignProcessToJobObject(job, child.hProcess);
    ResumeThread(child.hThread);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(child.hProcess, &code);
    return (int)code;
}
