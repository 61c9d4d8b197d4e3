#include "test_support.h"

#include "wave_lib.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

std::string Stdout(const std::function<void()>& action) {
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    GetTempFileNameA(dir, "out", 0, path);
    const int file = _open(path, _O_RDWR | _O_TRUNC | _O_BINARY);
    fflush(stdout);
    const int saved = _dup(1);
    _dup2(file, 1);
    action();
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    std::string bytes(static_cast<size_t>(_lseek(file, 0, SEEK_END)), '\0');
    _lseek(file, 0, SEEK_SET);
    _read(file, &bytes[0], static_cast<unsigned>(bytes.size()));
    _close(file);
    DeleteFileA(path);
    return bytes;
}

bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs) {
    const ULONGLONG end = GetTickCount64() + deadlineMs;
    while (!cond()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(1);
    }
    return true;
}

DWORD CloseReturningExitCode(WaveLib_Stream* stream) {
    HANDLE feeder = nullptr;
    DuplicateHandle(GetCurrentProcess(), stream->feederThread, GetCurrentProcess(), &feeder, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    WaveLib_Close(stream);
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeThread(feeder, &exitCode);
    CloseHandle(feeder);
    return exitCode;
}

DWORD HandleCount() {
    DWORD count = 0, flags;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}
