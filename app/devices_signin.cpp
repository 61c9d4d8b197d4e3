// Sign-in entries: values under the user's Run key that start a murmex.exe, which Windows runs at
// every sign-in and Task Manager's Startup apps lists and can switch off. Every change is one
// registry call, so an entry is never half-written, and only a value that starts a murmex.exe
// (or the one new value, when no value of its name exists) is ever touched.
#include <string.h>

#include "devices.h"
#include "wave_lib.h"

namespace {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Where Task Manager and Settings keep the switch of each Run value, under the value's name.
constexpr char kApprovedKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr char kProgram[] = "murmex.exe";
constexpr char kApprovedKey32[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
// The Windows Installer package keeps the name of the Run value it wrote, in the 32-bit view.
constexpr char kPackageKey[] = "Software\\Murmex";
constexpr DWORD kStartWaitMs = 10000; // a start under load, or a slow virus scan, takes seconds

// The program part of an entry's command line, as murmex.exe skips it before its tail: quoted or
// not, it must name a file called murmex.exe.
bool StartsMurmex(const char* data, const char* tail) {
    const char* end = tail;
    while (end > data && static_cast<unsigned char>(end[-1]) <= 0x20)
        --end;
    if (end > data && end[-1] == '"')
        --end;
    const char* file = end - (sizeof kProgram - 1);
    return file >= data && WaveLib_NameMatches(file, kProgram) &&
           (file == data || file[-1] == '\\' || file[-1] == '/' || file[-1] == '"');
}

// Held when a copy of murmex.exe serves that very name: its guard is named as murmex.exe names it.
bool Runs(const char* name) {
    char settled[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    if (!*name || !App_SettleNames(name, settled, guard))
        return false;
    const HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, guard);
    if (event)
        CloseHandle(event);
    return event != nullptr;
}

// Its first byte is even (2 or 6) while switched on and odd (3 or 7) once switched off; no value
// is on. The value outlives its Run value, so a new entry of an old name may start out switched
// off. Task Manager keeps the machine's switches in the native view only, those of the 32-bit
// view's entries under Run32.
bool SwitchedOff(const char* value, HKEY root = HKEY_CURRENT_USER,
                 const char* approvedKey = kApprovedKey) {
    BYTE approved[64];
    DWORD bytes = sizeof approved, type = REG_NONE;
    HKEY key;
    if (RegOpenKeyExA(root, approvedKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    const LONG result = RegQueryValueExA(key, value, nullptr, &type, approved, &bytes);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_BINARY && bytes > 0 && (approved[0] & 1);
}

void SayRefused(const char* what, DWORD code) {
    char text[DEVICES_TEXT_CHARS];
    Devices_SystemText(code, text);
    Say("%s: %s Nothing changed.", what, text);
}

// Starts the entry's very command line, as sign-in will, detached: murmex.exe has no console of
// its own and must outlive this window. Then waits for its guard, or for it to end.
void Start(char* commandLine, const char* name) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // Out of any job this window belongs to, where the job allows it: some terminals end their
    // job's processes with the window.
    const auto create = [&](DWORD flags) {
        return CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE,
                              DETACHED_PROCESS | flags, nullptr, nullptr, &startup, &process);
    };
    if (!create(CREATE_BREAKAWAY_FROM_JOB) && !create(0)) {
        SayRefused("Windows refused to start it now (it still starts at sign-in)", GetLastError());
        return;
    }
    CloseHandle(process.hThread);
    bool ended = false;
    for (DWORD waited = 0; !Runs(name) && !ended && waited < kStartWaitMs; waited += 100)
        ended = WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0;
    CloseHandle(process.hProcess);
    if (Runs(name))
        Say("Running now: yes, murmex.exe started and holds the guard of [%s].", name);
    else if (ended)
        Say("Running now: no, murmex.exe ended at once. Security software or a policy may have "
            "stopped it.");
    else
        Say("Running now: not yet, murmex.exe holds no guard after %lu seconds. Task Manager's "
            "Details tab shows whether it runs.",
            kStartWaitMs / 1000);
}

} // namespace

namespace {

// The entries of one Run key, added to the list; machine entries keep their switches under the
// machine's StartupApproved key, those of the 32-bit view under Run32.
void ListKey(Signin_Entries* entries, HKEY root, REGSAM view) {
    const bool machine = root == HKEY_LOCAL_MACHINE;
    const char* approvedKey = machine && view == KEY_WOW64_32KEY ? kApprovedKey32 : kApprovedKey;
    char installed[sizeof Signin_Entry::value] = "";
    HKEY key;
    if (machine && view == KEY_WOW64_32KEY &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPackageKey, 0, KEY_QUERY_VALUE | view, &key) ==
            ERROR_SUCCESS) {
        DWORD type, bytes = sizeof installed - 1;
        if (RegQueryValueExA(key, "Entry", nullptr, &type, reinterpret_cast<BYTE*>(installed),
                             &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            bytes = 0;
        installed[bytes] = '\0';
        RegCloseKey(key);
    }
    if (RegOpenKeyExA(root, kRunKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; entries->count < SIGNIN_MAX_ENTRIES; ++index) {
        Signin_Entry* entry = &entries->entry[entries->count];
        DWORD valueChars = sizeof entry->value, type, bytes = sizeof entry->data - 1;
        const LONG result = RegEnumValueA(key, index, entry->value, &valueChars, nullptr, &type,
                                          reinterpret_cast<BYTE*>(entry->data), &bytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;              // too long to be one of ours, or no text
        entry->data[bytes] = '\0'; // stored data need not end in a terminator
        const char* tail = App_CommandTail(entry->data, CP_ACP);
        char guard[APP_NAME_CHARS];
        if (!StartsMurmex(entry->data, tail))
            continue;
        if (!App_SettleNames(tail, entry->name, guard))
            entry->name[0] = '\0'; // a copy that ends at once plays on nothing, but can be removed
        entry->off = SwitchedOff(entry->value, machine ? HKEY_LOCAL_MACHINE : root, approvedKey);
        entry->machine = machine;
        entry->installer = machine && *installed && lstrcmpiA(entry->value, installed) == 0;
        ++entries->count;
    }
    RegCloseKey(key);
}

} // namespace

// The user's entries first, then the machine's: on 64-bit Windows both views, the 32-bit one the
// package writes and the native one; elsewhere the one view there is.
void Signin_List(Signin_Entries* entries) {
    entries->count = 0;
    ListKey(entries, HKEY_CURRENT_USER, 0);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    ListKey(entries, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    if (wow64 || sizeof(void*) == 8)
        ListKey(entries, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
}

void Signin_Tell(const Signin_Entries* entries, const char* name, int chosen,
                 Signin_Status* status) {
    status->runningAs[0] = '\0';
    status->entry = nullptr;
    WAVEOUTCAPSA caps;
    const char* product = "";
    if (chosen >= 0 && waveOutGetDevCapsA(chosen, &caps, sizeof caps) == MMSYSERR_NOERROR)
        product = caps.szPname;
    const char* names[SIGNIN_MAX_ENTRIES + 2] = {name, product};
    int count = 2;
    for (int i = 0; i < entries->count; ++i) {
        const Signin_Entry* entry = &entries->entry[i];
        const bool same = chosen >= 0 ? *entry->name && WaveLib_FindDevice(entry->name) == chosen
                                      : strcmp(entry->name, name) == 0;
        if (!same)
            continue;
        names[count++] = entry->name;
        if (!status->entry || (status->entry->off && !entry->off))
            status->entry = entry;
    }
    for (int i = 0; i < count && !status->runningAs[0]; ++i)
        if (Runs(names[i]))
            lstrcpynA(status->runningAs, names[i], APP_NAME_CHARS);
    if (status->runningAs[0])
        Say("Running now: yes, murmex.exe holds the guard of [%s].", status->runningAs);
    else
        Say("Running now: no murmex.exe plays on it.");
    const Signin_Entry* entry = status->entry;
    if (entry && entry->off)
        Say("Starts at sign-in: no, \"%s\" = %s is switched off in Task Manager's Startup "
            "apps: Enable there switches it on.",
            entry->value, entry->data);
    else if (entry && entry->installer)
        Say("Starts at sign-in: yes, for every user, from the installer: \"%s\" = %s", entry->value,
            entry->data);
    else if (entry && entry->machine)
        Say("Starts at sign-in: yes, for every user, from the machine's Run key: \"%s\" = %s",
            entry->value, entry->data);
    else if (entry)
        Say("Starts at sign-in: yes, \"%s\" = %s", entry->value, entry->data);
    else
        Say("Starts at sign-in: no entry starts murmex.exe for it.");
    if (entry)
        Zone_TellEntry(entry->data);
}

void Signin_Add(const char* name, const Signin_Status* status) {
    char path[MAX_PATH], commandLine[MAX_PATH + 3 + APP_NAME_CHARS], value[8 + APP_NAME_CHARS];
    if (!Devices_ProgramBeside(path)) {
        Say("This program cannot tell its own folder: nothing written.");
        return;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Say("No murmex.exe beside this program (%s): nothing written.", path);
        return;
    }
    wsprintfA(commandLine, "\"%s\" %s", path, name);
    wsprintfA(value, "Murmex: %s", name);
    // A value of that name that is not one of ours (or is ours for a name now choosing another
    // device) is someone's: it is never overwritten.
    if (RegGetValueA(HKEY_CURRENT_USER, kRunKey, value, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS) {
        Say("The Run key has a value \"%s\" already, for something else: nothing written.", value);
        return;
    }
    const LONG result = RegSetKeyValueA(HKEY_CURRENT_USER, kRunKey, value, REG_SZ, commandLine,
                                        lstrlenA(commandLine) + 1);
    if (result != ERROR_SUCCESS) {
        SayRefused("Windows refused the sign-in entry", result);
        return;
    }
    if (SwitchedOff(value))
        Say("Starts at sign-in: no, written \"%s\" = %s, but Task Manager's Startup apps keeps "
            "this name switched off from an earlier entry: Enable there switches it on.",
            value, commandLine);
    else
        Say("Starts at sign-in: yes, written \"%s\" = %s", value, commandLine);
    if (status->runningAs[0])
        Say("Running now: yes already, as [%s]: not started again.", status->runningAs);
    else
        Start(commandLine, name);
}

void Signin_Remove(const Signin_Entry* entry) {
    const LONG result = RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, entry->value);
    if (result != ERROR_SUCCESS) {
        SayRefused("Windows refused to remove it", result);
        return;
    }
    Say("Removed \"%s\": it no longer starts murmex.exe at sign-in.", entry->value);
    Say("A copy running now keeps running. To stop it: taskkill /F /IM murmex.exe (every copy),");
    Say("or end murmex.exe in Task Manager's Details tab, or sign out.");
}

void Signin_Start(const Signin_Entry* entry) {
    char commandLine[sizeof entry->data]; // CreateProcessA may write into it
    lstrcpyA(commandLine, entry->data);
    Start(commandLine, entry->name);
}
