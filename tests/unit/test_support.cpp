#include "test_support.h"

#include "wave_lib.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <fstream>
#include <sstream>

StdoutCapture::StdoutCapture() {
    char dir[MAX_PATH], file[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    GetTempFileNameA(dir, "out", 0, file);
    path = file;
    fflush(stdout);
    saved = _dup(1);
    const int fd = _open(file, _O_WRONLY | _O_TRUNC | _O_TEXT);
    _dup2(fd, 1);
    _close(fd);
}

std::string StdoutCapture::Take() {
    if (saved < 0)
        return {};
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    saved = -1;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    DeleteFileA(path.c_str());
    return bytes.str();
}

StdoutCapture::~StdoutCapture() {
    Take();
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

// Taking the signal ourselves would hide it from the feeder, so give it back
// and look again until the event is found unset.
bool WaitEventTaken(HANDLE event) {
    return WaitUntil([event] {
        if (WaitForSingleObject(event, 0) == WAIT_TIMEOUT)
            return true;
        SetEvent(event);
        return false;
    });
}

DWORD CloseReturningExitCode(WaveLib_Stream* stream) {
    HANDLE feeder = nullptr;
    if (stream && stream->feederThread)
        DuplicateHandle(GetCurrentProcess(), stream->feederThread, GetCurrentProcess(), &feeder, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
    WaveLib_Close(stream);
    DWORD exitCode = STILL_ACTIVE;
    if (feeder) {
        GetExitCodeThread(feeder, &exitCode);
        CloseHandle(feeder);
    }
    return exitCode;
}

// Wine answers GetProcessHandleCount with 0, so count the handle values that
// name an open object instead; the program's handles are all small values.
DWORD HandleCount() {
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}
