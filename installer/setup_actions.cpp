// murmex-setup.dll: the custom actions of the Windows Installer package, run by the installer from
// its Binary table and never installed. They run as LocalSystem on every PC of a fleet, so they do
// as little as the job needs, read nothing an ordinary user can write, and use the wide calls:
// a device name in any script is kept, compared and removed exactly.
//
// KeepDevice reads back the DEVICE an installed version was given, which its uninstall needs to
// remove the very value it wrote, and refuses another DEVICE for the installed version, which
// would otherwise answer success and change nothing. CheckDevice refuses a DEVICE murmex.exe could
// not use, by murmex.exe's own rule. CheckFolder refuses any folder but the one under Program
// Files: a folder made elsewhere inherits write access for every user, who could then replace the
// program the machine's Run entry starts for everyone. EndCopies ends the running copies of the
// installed files before the uninstall removes them.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "command_line.h"
#include "device_rule.h"

namespace {

constexpr wchar_t kClassName[] = L"" MURMEX_WINDOW_CLASS;
constexpr wchar_t kKey[] = L"" MURMEX_PACKAGE_KEY; // in the 32-bit view the package writes
constexpr wchar_t kEntryPrefix[] = L"" MURMEX_ENTRY_PREFIX;
constexpr wchar_t kFolderName[] = L"" MURMEX_INSTALL_FOLDER L"\\"; // under ProgramFilesFolder
constexpr wchar_t kLogPrefix[] = L"Murmex: "; // the administrators' README names it
constexpr DWORD kQuitWaitMs = 3000;           // a copy asked to quit ends its message loop at once
constexpr DWORD kTerminateWaitMs = 10000; // TerminateProcess returns before the process has ended
enum { kLineChars = 1024, kNameChars = 64, kMaxCopies = MAXIMUM_WAIT_OBJECTS, kPasses = 4 };

// One line in the installer's log (and, for an error, a message box at a full user interface).
// The installer formats the line: each bracket of a device name goes in escaped, as [\[] or [\]].
void Say(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* format, va_list args) {
    wchar_t line[kLineChars], escaped[sizeof kLogPrefix + 5 * kLineChars];
    wvsprintfW(line, format, args);
    lstrcpyW(escaped, kLogPrefix);
    wchar_t* out = escaped + lstrlenW(escaped);
    for (const wchar_t* c = line; *c; ++c) {
        if (*c == L'[' || *c == L']') {
            *out++ = L'[';
            *out++ = L'\\';
            *out++ = *c;
            *out++ = L']';
        } else {
            *out++ = *c;
        }
    }
    *out = L'\0';
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, escaped);
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

void Tell(MSIHANDLE install, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Say(install, INSTALLMESSAGE_INFO, format, args);
    va_end(args);
}

// Fails the action with its reason, which a full user interface also shows.
UINT Refuse(MSIHANDLE install, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Say(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), format,
        args);
    va_end(args);
    return ERROR_INSTALL_FAILURE;
}

bool Equal(const wchar_t* a, const wchar_t* b, bool ignoreCase) {
    return CompareStringOrdinal(a, -1, b, -1, ignoreCase) == CSTR_EQUAL;
}

// A property's value, or its length in *chars and ERROR_MORE_DATA when it does not fit.
UINT Property(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD* chars) {
    const DWORD room = *chars;
    const UINT read = MsiGetPropertyW(install, name, value, chars);
    if (read != ERROR_SUCCESS && room)
        value[0] = L'\0';
    return read;
}

bool IsSet(MSIHANDLE install, const wchar_t* name) {
    wchar_t none[1];
    DWORD chars = 1;
    MsiGetPropertyW(install, name, none, &chars);
    return chars > 0;
}

// The volume and index that name one file or folder, however its path is spelt.
bool Identify(const wchar_t* path, BY_HANDLE_FILE_INFORMATION* file) {
    const HANDLE handle = CreateFileW(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(handle, file);
    CloseHandle(handle);
    return known;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

struct Copy {
    DWORD pid;
    HANDLE process; // held from the image check to the end: the id cannot be reused meanwhile
    wchar_t image[MAX_PATH];
    bool asked;
};

struct Copies {
    Copy copy[kMaxCopies];
    int count;
};

// The processes of every session whose image is a file of the folder, by the image's folder's
// identity (a copy started by a short or another spelling of the path is found too), leaving out
// those already found unendable.
void FindCopies(const BY_HANDLE_FILE_INFORMATION& folder, const DWORD* skip, int skipped,
                Copies* copies) {
    copies->count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && copies->count < kMaxCopies;
         more = Process32NextW(snapshot, &entry)) {
        bool known = entry.th32ProcessID == GetCurrentProcessId();
        for (int i = 0; i < skipped && !known; ++i)
            known = skip[i] == entry.th32ProcessID;
        if (known)
            continue;
        Copy* copy = &copies->copy[copies->count];
        copy->process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                    entry.th32ProcessID);
        if (!copy->process)
            continue;
        DWORD chars = MAX_PATH;
        wchar_t* name = nullptr;
        BY_HANDLE_FILE_INFORMATION imageFolder;
        if (QueryFullProcessImageNameW(copy->process, 0, copy->image, &chars)) {
            name = copy->image + chars;
            while (name > copy->image && name[-1] != L'\\')
                --name;
        }
        bool ours = false;
        if (name && name > copy->image) {
            const wchar_t kept = *name;
            *name = L'\0'; // the folder, its backslash kept: "C:\" stays a folder
            ours = Identify(copy->image, &imageFolder) && SameFile(imageFolder, folder);
            *name = kept;
        }
        if (!ours) {
            CloseHandle(copy->process);
            continue;
        }
        // Held open, the id cannot name another process: the second open reaches the same one.
        const HANDLE full =
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (full) {
            CloseHandle(copy->process);
            copy->process = full;
        }
        copy->pid = entry.th32ProcessID;
        copy->asked = false;
        ++copies->count;
    }
    CloseHandle(snapshot);
}

// murmex.exe ends by a quit posted to its hidden window; a close request would only destroy the
// window. Window messages reach only the windows of this session's desktop.
BOOL CALLBACK AskToQuit(HWND window, LPARAM param) {
    Copies* copies = reinterpret_cast<Copies*>(param);
    wchar_t name[sizeof kClassName / sizeof *kClassName + 1];
    DWORD pid = 0;
    if (!GetClassNameW(window, name, sizeof name / sizeof *name) ||
        !Equal(name, kClassName, false) || !GetWindowThreadProcessId(window, &pid))
        return TRUE;
    for (int i = 0; i < copies->count; ++i)
        if (copies->copy[i].pid == pid && PostMessageW(window, WM_QUIT, 0, 0))
            copies->copy[i].asked = true;
    return TRUE;
}

// Ends one pass's copies: those asked to quit are given a moment, the rest are ended outright,
// as taskkill /F does; murmex.exe keeps no data that this loses. Returns how many ended; those
// that could not be ended are added to unendable.
int EndPass(MSIHANDLE install, Copies* copies, DWORD* unendable, int* stuck) {
    EnumWindows(AskToQuit, reinterpret_cast<LPARAM>(copies));
    HANDLE asked[kMaxCopies];
    int count = 0;
    for (int i = 0; i < copies->count; ++i)
        if (copies->copy[i].asked)
            asked[count++] = copies->copy[i].process;
    if (count)
        WaitForMultipleObjects(count, asked, TRUE, kQuitWaitMs);
    int ended = 0;
    for (int i = 0; i < copies->count; ++i) {
        Copy* copy = &copies->copy[i];
        if (WaitForSingleObject(copy->process, 0) == WAIT_OBJECT_0) {
            ++ended;
            Tell(install, L"process %lu (%s) ended: %s", copy->pid, copy->image,
                 copy->asked ? L"it quit when asked" : L"it ended by itself");
        } else {
            const bool terminated =
                TerminateProcess(copy->process, 1) &&
                WaitForSingleObject(copy->process, kTerminateWaitMs) == WAIT_OBJECT_0;
            const DWORD error = terminated ? ERROR_SUCCESS : GetLastError();
            if (terminated) {
                ++ended;
                Tell(install, L"process %lu (%s) ended outright%s", copy->pid, copy->image,
                     copy->asked ? L": it did not quit when asked" : L"");
            } else {
                Tell(install,
                     L"process %lu (%s) could not be ended (error %lu): Windows Installer "
                     L"replaces its file at the next restart",
                     copy->pid, copy->image, error ? error : WAIT_TIMEOUT);
                unendable[(*stuck)++] = copy->pid;
            }
        }
        CloseHandle(copy->process);
    }
    return ended;
}

} // namespace

extern "C" {

// Immediate, before the launch conditions, whenever the product is installed or no DEVICE is
// given: DEVICE becomes the name in the Run value the package wrote (kept as Entry), or nothing.
// Read here rather than by a registry search, which would double a # that begins the name.
__declspec(dllexport) UINT __stdcall KeepDevice(MSIHANDLE install) {
    wchar_t entry[kLineChars], given[kLineChars], remove[4];
    DWORD bytes = sizeof entry, chars = kLineChars, removeChars = 4;
    // Older Windows ignore RegGetValue's own view flags: the key is opened in the 32-bit view.
    HKEY key;
    entry[0] = L'\0';
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) ==
        ERROR_SUCCESS) {
        if (RegGetValueW(key, nullptr, L"" MURMEX_PACKAGE_ENTRY, RRF_RT_REG_SZ, nullptr, entry,
                         &bytes) != ERROR_SUCCESS)
            entry[0] = L'\0';
        RegCloseKey(key);
    }
    const int prefix = sizeof kEntryPrefix / sizeof *kEntryPrefix - 1;
    const wchar_t* name =
        CompareStringOrdinal(entry, prefix, kEntryPrefix, prefix, FALSE) == CSTR_EQUAL
            ? entry + prefix
            : L"";
    const UINT read = Property(install, L"DEVICE", given, &chars);
    Property(install, L"REMOVE", remove, &removeChars);
    // Installed again with another DEVICE, the product would keep its entry and answer success.
    if (IsSet(install, L"Installed") && !Equal(remove, L"ALL", true) &&
        (read == ERROR_MORE_DATA || (*given && !Equal(given, name, false))))
        return Refuse(install,
                      L"this version of Murmex is installed with DEVICE [%s] and keeps it: to "
                      L"change the device, uninstall Murmex (msiexec /x) and install it with the "
                      L"new DEVICE, or install a later version with it. Nothing was changed.",
                      name);
    MsiSetPropertyW(install, L"DEVICE", name);
    if (*name)
        Tell(install, L"DEVICE is [%s], as installed", name);
    else
        Tell(install, L"no DEVICE is installed: no sign-in entry");
    return ERROR_SUCCESS;
}

// Immediate, before anything is written, when DEVICE is given to an install or an upgrade. The
// rule applies to the bytes murmex.exe reads back: its command line in the system's code page.
__declspec(dllexport) UINT __stdcall CheckDevice(MSIHANDLE install) {
    wchar_t device[kNameChars];
    char bytes[4 * kNameChars];
    DWORD chars = kNameChars;
    int length = 0;
    Setup_DeviceFault fault = SETUP_DEVICE_TOO_LONG; // longer than any device's name
    if (Property(install, L"DEVICE", device, &chars) == ERROR_SUCCESS)
        length = WideCharToMultiByte(CP_ACP, 0, device, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length)
        fault = Setup_CheckDevice(bytes);
    length = length ? length - 1 : static_cast<int>(chars);
    const wchar_t* reason = nullptr;
    switch (fault) {
    case SETUP_DEVICE_OK:
        return ERROR_SUCCESS;
    case SETUP_DEVICE_QUOTE:
        reason = L"holds a quote, which murmex.exe would take as part of the name: give the name "
                 L"alone (msiexec takes off the quotes around a value)";
        break;
    case SETUP_DEVICE_LEADING:
        reason = L"begins with a blank, which murmex.exe skips: the entry would be named for "
                 L"another name than it starts";
        break;
    case SETUP_DEVICE_TRAILING:
        reason =
            L"ends in a blank, which murmex.exe keeps as part of the name: it matches no device";
        break;
    case SETUP_DEVICE_CONTROL:
        reason = L"holds a control character (a tab or a line end), which no device name has";
        break;
    case SETUP_DEVICE_TOO_LONG:
        reason = L"is %d characters long; Windows keeps %d characters of a device's product name, "
                 L"so no device's name can begin with it: give the first %d";
        break;
    }
    wchar_t text[kLineChars];
    wsprintfW(text, reason, length, MURMEX_PRODUCT_NAME_CHARS, MURMEX_PRODUCT_NAME_CHARS);
    return Refuse(install, L"DEVICE %s. Nothing was installed.", text);
}

// Immediate, once the folders are resolved: the package installs into its folder under Program
// Files and nowhere else, whatever INSTALLDIR, TARGETDIR or ProgramFilesFolder were given.
// Windows' own answer is asked, not a property.
__declspec(dllexport) UINT __stdcall CheckFolder(MSIHANDLE install) {
    wchar_t folder[MAX_PATH + 1], expected[MAX_PATH + sizeof kFolderName];
    DWORD chars = MAX_PATH + 1;
    wchar_t* programFiles = nullptr;
    const bool known =
        SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramFilesX86, 0, nullptr, &programFiles)) &&
        lstrlenW(programFiles) < MAX_PATH;
    if (known)
        wsprintfW(expected, L"%s\\%s", programFiles, kFolderName);
    CoTaskMemFree(programFiles);
    if (!known)
        return Refuse(install,
                      L"Windows does not tell where Program Files is. Nothing was installed.");
    if (Property(install, L"INSTALLDIR", folder, &chars) == ERROR_SUCCESS &&
        Equal(folder, expected, true))
        return ERROR_SUCCESS;
    return Refuse(install,
                  L"the folder [%s] is not used: Murmex installs only into %s, which ordinary "
                  L"users cannot change. Give no INSTALLDIR. Nothing was installed.",
                  folder, expected);
}

// Deferred, as LocalSystem, after the sign-in entry and the shortcut are removed and before the
// files are: nothing can start a copy in between. Its CustomActionData is the installed folder.
// It never fails the uninstall: a copy it cannot end costs a restart, not the removal.
__declspec(dllexport) UINT __stdcall EndCopies(MSIHANDLE install) {
    wchar_t folder[MAX_PATH + 1];
    DWORD chars = MAX_PATH + 1;
    BY_HANDLE_FILE_INFORMATION identity;
    if (Property(install, L"CustomActionData", folder, &chars) != ERROR_SUCCESS || !*folder ||
        !Identify(folder, &identity))
        return ERROR_SUCCESS;
    Tell(install, L"ending the processes started from %s", folder);
    DWORD unendable[kPasses * kMaxCopies];
    int stuck = 0, ended = 0;
    // A copy may start while the last ones end, from a window open before the entry went.
    Copies copies;
    for (int pass = 0; pass < kPasses; ++pass) {
        FindCopies(identity, unendable, stuck, &copies);
        if (!copies.count)
            break;
        ended += EndPass(install, &copies, unendable, &stuck);
    }
    Tell(install, L"processes ended: %d; left running: %d", ended, stuck);
    return ERROR_SUCCESS;
}

} // extern "C"
