// murmex-setup.dll: the custom actions of the Windows Installer package, run by the installer from
// its Binary table and never installed. KeepDevice reads back the DEVICE an installed version was
// given, which its uninstall must see to remove the very value it wrote. CheckDevice refuses a
// DEVICE that murmex.exe would refuse, by murmex.exe's own rule, and says why in the log, which
// a launch condition cannot do for a length (nor, under some installers, for any rule). EndCopies
// ends the copies of murmex.exe started from the installed folder before an uninstall or an upgrade
// removes their files: a running file cannot be deleted, and a copy left playing would keep the old
// program and the device it holds.
//
// How copies are ended. murmex.exe ends only by a quit message posted to its hidden window (class
// MurmexClass); its window procedure is the platform's default, so the close requests that Restart
// Manager and taskkill send destroy the window and leave the program running. Window messages do
// not cross sessions, and EndCopies runs deferred as LocalSystem in the installer service's
// session, whoever started the uninstall. So it posts the quit to the windows on its own desktop,
// starts a helper in every other session (rundll32 with this DLL's QuitCopiesHere, as LocalSystem,
// on that session's default desktop), and then waits for every process whose image lies in the
// folder to end. A copy that outlives the wait (one whose window was closed earlier) is named in
// the log; Windows Installer then replaces its file at the next restart and returns 3010.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include "command_line.h"
#include "device_rule.h"

extern "C" IMAGE_DOS_HEADER __ImageBase; // this DLL, wherever the installer extracted it

namespace {

constexpr char kClassName[] = "MurmexClass";
constexpr char kKey[] = "Software\\Murmex"; // the package's own, in the 32-bit view it writes
constexpr char kEntryPrefix[] = "Murmex: ";
constexpr DWORD kEndWaitMs = 10000; // a copy whose device is stalled may take seconds to end
constexpr DWORD kHelperWaitMs = kEndWaitMs + 5000;
enum { kMaxCopies = MAXIMUM_WAIT_OBJECTS, kLineChars = 1024 };

// One line in the installer's log (and, for an error, a message box at a full user interface).
// The installer formats the line: each bracket of a device name goes in escaped, as [\[] or [\]].
void Tell(MSIHANDLE install, INSTALLMESSAGE kind, const char* format, ...) {
    char line[kLineChars], escaped[sizeof "Murmex: " + 5 * kLineChars] = "Murmex: ";
    va_list args;
    va_start(args, format);
    wvsprintfA(line, format, args);
    va_end(args);
    char* out = escaped + lstrlenA(escaped);
    for (const char* c = line; *c; ++c) {
        if (*c == '[' || *c == ']') {
            *out++ = '[';
            *out++ = '\\';
            *out++ = *c;
            *out++ = ']';
        } else {
            *out++ = *c;
        }
    }
    *out = '\0';
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringA(record, 0, escaped);
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

// True when the process's image lies directly in the folder, which ends in a backslash.
bool StartedFrom(DWORD pid, const char* folder) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    char image[MAX_PATH];
    DWORD chars = MAX_PATH;
    const bool named = QueryFullProcessImageNameA(process, 0, image, &chars);
    CloseHandle(process);
    const int length = lstrlenA(folder);
    if (!named || static_cast<int>(chars) <= length)
        return false;
    const char kept = image[length];
    image[length] = '\0';
    const bool same = lstrcmpiA(image, folder) == 0;
    image[length] = kept;
    for (const char* c = image + length; *c; ++c)
        if (*c == '\\')
            return false;
    return same;
}

struct Copies {
    const char* folder;
    HANDLE process[kMaxCopies]; // SYNCHRONIZE handles, to wait on
    int count;
};

BOOL CALLBACK PostQuit(HWND window, LPARAM param) {
    Copies* copies = reinterpret_cast<Copies*>(param);
    char name[sizeof kClassName + 1];
    DWORD pid = 0;
    if (!GetClassNameA(window, name, sizeof name) || lstrcmpA(name, kClassName) != 0 ||
        !GetWindowThreadProcessId(window, &pid) || !StartedFrom(pid, copies->folder))
        return TRUE;
    if (PostMessageA(window, WM_QUIT, 0, 0) && copies->count < kMaxCopies) {
        const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        if (process)
            copies->process[copies->count++] = process;
    }
    return TRUE;
}

// Posts the quit to every copy from the folder with a window on this thread's desktop and waits
// for those to end; returns how many were told.
int QuitCopies(const char* folder) {
    Copies copies = {folder, {}, 0};
    EnumWindows(PostQuit, reinterpret_cast<LPARAM>(&copies));
    if (copies.count)
        WaitForMultipleObjects(copies.count, copies.process, TRUE, kEndWaitMs);
    for (int i = 0; i < copies.count; ++i)
        CloseHandle(copies.process[i]);
    return copies.count;
}

// The processes of any session whose image lies in the folder, up to kMaxCopies ids.
int Running(const char* folder, DWORD* pids) {
    int count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && count < kMaxCopies;
         more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID != GetCurrentProcessId() &&
            StartedFrom(entry.th32ProcessID, folder))
            pids[count++] = entry.th32ProcessID;
    CloseHandle(snapshot);
    return count;
}

void EnablePrivilege(HANDLE token, const char* name) {
    TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
}

// Starts the command line as LocalSystem on the default desktop of another session and waits
// for it; false with the error when Windows refuses (only LocalSystem may move a token there).
bool RunInSession(DWORD session, char* commandLine, DWORD* error) {
    HANDLE own = nullptr, token = nullptr;
    bool ran = false;
    if (OpenProcessToken(GetCurrentProcess(),
                         TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &own)) {
        EnablePrivilege(own, SE_TCB_NAME);
        EnablePrivilege(own, SE_ASSIGNPRIMARYTOKEN_NAME);
        EnablePrivilege(own, SE_INCREASE_QUOTA_NAME);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<char*>("winsta0\\default");
    PROCESS_INFORMATION helper;
    if (own &&
        DuplicateTokenEx(own, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary,
                         &token) &&
        SetTokenInformation(token, TokenSessionId, &session, sizeof session) &&
        CreateProcessAsUserA(token, nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &helper)) {
        WaitForSingleObject(helper.hProcess, kHelperWaitMs);
        CloseHandle(helper.hThread);
        CloseHandle(helper.hProcess);
        ran = true;
    }
    *error = ran ? ERROR_SUCCESS : GetLastError();
    if (token)
        CloseHandle(token);
    if (own)
        CloseHandle(own);
    return ran;
}

// Every session but the own one and the listeners, where a copy may run: signed-in users,
// connected or not. Wide only because the ANSI call is a stub in some Windows look-alikes; no
// name is read.
void QuitInOtherSessions(MSIHANDLE install, const char* folder) {
    DWORD own = 0, count = 0;
    WTS_SESSION_INFOW* sessions = nullptr;
    ProcessIdToSessionId(GetCurrentProcessId(), &own);
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        Tell(install, INSTALLMESSAGE_INFO, "the sessions cannot be listed (error %lu)",
             GetLastError());
        return;
    }
    char rundll[MAX_PATH], self[MAX_PATH];
    char commandLine[2 * MAX_PATH + sizeof ",QuitCopiesHere " + MAX_PATH];
    GetSystemDirectoryA(rundll, MAX_PATH);
    GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), self, MAX_PATH);
    for (DWORD i = 0; i < count; ++i) {
        const DWORD session = sessions[i].SessionId;
        if (session == own || sessions[i].State == WTSListen)
            continue;
        // A 32-bit caller's system folder is redirected to the 32-bit one, whose rundll32 loads
        // this 32-bit DLL.
        wsprintfA(commandLine, "\"%s\\rundll32.exe\" \"%s\",QuitCopiesHere %s", rundll, self,
                  folder);
        DWORD error;
        if (RunInSession(session, commandLine, &error))
            Tell(install, INSTALLMESSAGE_INFO, "session %lu: asked its copies to quit", session);
        else
            Tell(install, INSTALLMESSAGE_INFO, "session %lu: no helper could start (error %lu)",
                 session, error);
    }
    WTSFreeMemory(sessions);
}

} // namespace

extern "C" {

// Immediate, before the launch conditions, whenever the product is installed or no DEVICE is
// given: DEVICE becomes the name in the Run value the package wrote (kept as Entry), or nothing.
// Read here rather than by a registry search, which would double a # that begins the name.
UINT __stdcall KeepDevice(MSIHANDLE install) {
    char entry[sizeof kEntryPrefix + kLineChars] = "";
    DWORD bytes = sizeof entry - 1, type = REG_NONE;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) ==
        ERROR_SUCCESS) {
        if (RegQueryValueExA(key, "Entry", nullptr, &type, reinterpret_cast<BYTE*>(entry),
                             &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            bytes = 0;
        entry[bytes] = '\0'; // stored data need not end in a terminator
        RegCloseKey(key);
    }
    const int prefix = sizeof kEntryPrefix - 1;
    const char* name =
        CompareStringA(LOCALE_INVARIANT, 0, entry, prefix, kEntryPrefix, prefix) == CSTR_EQUAL
            ? entry + prefix
            : "";
    MsiSetPropertyA(install, "DEVICE", name);
    if (*name)
        Tell(install, INSTALLMESSAGE_INFO, "DEVICE is [%s], as installed", name);
    else
        Tell(install, INSTALLMESSAGE_INFO, "no DEVICE is installed: no sign-in entry");
    return ERROR_SUCCESS;
}

// Immediate, before anything is written, when DEVICE is given to an install or an upgrade.
UINT __stdcall CheckDevice(MSIHANDLE install) {
    char device[kLineChars];
    DWORD chars = sizeof device;
    const UINT read = MsiGetPropertyA(install, "DEVICE", device, &chars);
    const Setup_DeviceFault fault = read == ERROR_MORE_DATA ? SETUP_DEVICE_TOO_LONG
                                    : read != ERROR_SUCCESS ? SETUP_DEVICE_CONTROL
                                                            : Setup_CheckDevice(device);
    const char* reason = nullptr;
    switch (fault) {
    case SETUP_DEVICE_OK:
        return ERROR_SUCCESS;
    case SETUP_DEVICE_QUOTE:
        reason = "holds a quote, which murmex.exe would take as part of the name: give the name "
                 "alone (msiexec takes off the quotes around a value)";
        break;
    case SETUP_DEVICE_LEADING:
        reason = "begins with a blank, which murmex.exe skips: the entry would be named for "
                 "another name than it starts";
        break;
    case SETUP_DEVICE_TRAILING:
        reason =
            "ends in a blank, which murmex.exe keeps as part of the name: it matches no device";
        break;
    case SETUP_DEVICE_CONTROL:
        reason = "holds a control character (a tab or a line end), which no device name has";
        break;
    case SETUP_DEVICE_TOO_LONG:
        reason = "is %lu characters long; murmex.exe accepts at most %d and ends at once";
        break;
    }
    char text[kLineChars];
    wsprintfA(text, reason, chars, APP_LONGEST_NAME);
    Tell(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
         "DEVICE %s. Nothing was installed.", text);
    return ERROR_INSTALL_FAILURE;
}

// Deferred, as LocalSystem; its CustomActionData is the installed folder, ending in a backslash.
// It never fails the uninstall: a copy it cannot end costs a restart, not the removal.
UINT __stdcall EndCopies(MSIHANDLE install) {
    char folder[MAX_PATH + 1];
    DWORD chars = sizeof folder;
    if (MsiGetPropertyA(install, "CustomActionData", folder, &chars) != ERROR_SUCCESS || !*folder)
        return ERROR_SUCCESS;
    Tell(install, INSTALLMESSAGE_INFO, "ending the copies of murmex.exe started from %s", folder);
    Tell(install, INSTALLMESSAGE_INFO, "this session: copies asked to quit: %d",
         QuitCopies(folder));
    QuitInOtherSessions(install, folder);
    DWORD pids[kMaxCopies];
    int left = Running(folder, pids);
    for (DWORD waited = 0; left && waited < kEndWaitMs; waited += 100) {
        Sleep(100);
        left = Running(folder, pids);
    }
    for (int i = 0; i < left; ++i)
        Tell(install, INSTALLMESSAGE_INFO,
             "process %lu still runs from that folder: its file goes at the next restart", pids[i]);
    if (!left)
        Tell(install, INSTALLMESSAGE_INFO, "no copy runs from that folder");
    return ERROR_SUCCESS;
}

// EndCopies' helper in another session, started as rundll32 DLL,QuitCopiesHere FOLDER.
void CALLBACK QuitCopiesHere(HWND, HINSTANCE, LPSTR folder, int) {
    QuitCopies(folder);
}

} // extern "C"
