// Every change is one registry call, so an entry is never half-written, and only a value that
// starts a murmex.exe (or the one new value, when no value of its name exists) is ever touched.
#include "signin.h"

#include <string.h>

namespace {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Where Task Manager and Settings keep the switch of each Run value, under the value's name.
constexpr char kApprovedKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr char kApprovedKey32[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
constexpr char kProgram[] = "murmex.exe";

// The file name at the end of a path.
char* FileName(char* path) {
    char* name = path + lstrlenA(path);
    while (name > path && name[-1] != '\\' && name[-1] != '/')
        --name;
    return name;
}

// Held when a copy of murmex.exe serves that very name: its guard is named as murmex.exe names it.
bool Runs(const char* name) {
    char deviceName[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    if (!*name || !App_DeviceAndGuardNames(name, deviceName, guard))
        return false;
    const HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, guard);
    if (event)
        CloseHandle(event);
    return event != nullptr;
}

// The first of the names a running copy serves is the one said.
void NoteRunning(const char* name, Signin_Status* status) {
    if (!status->runningAs[0] && Runs(name))
        lstrcpynA(status->runningAs, name, APP_NAME_CHARS);
}

// Its first byte is even (2 or 6) while switched on and odd (3 or 7) once switched off; no value
// is on. The value outlives its Run value, so a new entry of an old name may start out switched
// off. Task Manager keeps the machine's switches in the native view only; on 64-bit Windows those
// of the 32-bit view's entries go under Run32, which 32-bit Windows, with its one view, has not.
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

// The Run value the Windows Installer package wrote, named in its own key in the 32-bit view;
// empty when there is none.
void InstallersEntry(char* value, DWORD size) {
    DWORD type = REG_NONE, bytes = size - 1; // stored data need not end in a terminator
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MURMEX_PACKAGE_KEY, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                      &key) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExA(key, MURMEX_PACKAGE_ENTRY, nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &bytes) == ERROR_SUCCESS &&
        type == REG_SZ)
        value[bytes] = '\0';
    else
        value[0] = '\0';
    RegCloseKey(key);
}

// The entries of one Run key, added to the list; machine entries keep their switches under the
// machine's StartupApproved key, those of 64-bit Windows' 32-bit view under Run32. view is 0 for
// the one view of 32-bit Windows, where the package writes too.
void ListKey(Signin_Entries* entries, HKEY root, REGSAM view) {
    const bool machine = root == HKEY_LOCAL_MACHINE;
    const char* approvedKey = machine && view == KEY_WOW64_32KEY ? kApprovedKey32 : kApprovedKey;
    char installed[sizeof Signin_Entry::value];
    installed[0] = '\0';
    if (machine && view != KEY_WOW64_64KEY)
        InstallersEntry(installed, sizeof installed);
    HKEY key;
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
        entry->fullPath = Signin_Program(entry->data, entry->program);
        if (_stricmp(FileName(entry->program), kProgram) != 0)
            continue;
        char guard[APP_NAME_CHARS];
        if (!App_DeviceAndGuardNames(App_CommandTail(entry->data, CP_ACP), entry->name, guard))
            entry->name[0] = '\0'; // a copy that ends at once plays on nothing, but can be removed
        entry->off = SwitchedOff(entry->value, root, approvedKey);
        entry->machine = machine;
        entry->installer = *installed && lstrcmpiA(entry->value, installed) == 0;
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
    const bool twoViews = wow64 || sizeof(void*) == 8;
    ListKey(entries, HKEY_LOCAL_MACHINE, twoViews ? KEY_WOW64_32KEY : 0);
    if (twoViews)
        ListKey(entries, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
}

// The program part, as murmex.exe skips it before its command tail. Quotes only group the blanks
// of a path: a quoted part may start or end anywhere in it. A name without its folder is searched
// for, as the shell searches.
bool Signin_Program(const char* commandLine, char* file) {
    const char* end = App_ProgramEnd(commandLine, CP_ACP);
    int length = 0;
    for (const char* at = commandLine; at < end; ++at) {
        if (*at == '"')
            continue;
        if (length == MAX_PATH - 1) {
            file[0] = '\0';
            return false;
        }
        file[length++] = *at;
    }
    file[length] = '\0';
    return (length > 2 && file[1] == ':' && (file[2] == '\\' || file[2] == '/')) ||
           (file[0] == '\\' && file[1] == '\\');
}

void Signin_Find(const Devices_List* list, const char* name, int chosen, Signin_Entries* entries,
                 Signin_Status* status) {
    Signin_List(entries);
    status->runningAs[0] = '\0';
    status->entry = nullptr;
    status->mark = {ZONE_NONE, 0};
    NoteRunning(name, status);
    if (chosen >= 0)
        NoteRunning(list->device[chosen].name, status);
    for (int i = 0; i < entries->count; ++i) {
        const Signin_Entry* entry = &entries->entry[i];
        const bool same = chosen >= 0 ? *entry->name && Devices_Choose(list, entry->name) == chosen
                                      : strcmp(entry->name, name) == 0;
        if (!same)
            continue;
        NoteRunning(entry->name, status);
        if (!status->entry || (status->entry->off && !entry->off))
            status->entry = entry;
    }
    if (status->entry && status->entry->fullPath)
        status->mark = Zone_Read(status->entry->program);
}

bool Signin_ProgramBeside(char* file) {
    const DWORD length = GetModuleFileNameA(nullptr, file, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    char* name = FileName(file);
    if (name + sizeof kProgram > file + MAX_PATH)
        return false;
    lstrcpyA(name, kProgram);
    return true;
}

void Signin_Add(const char* program, const char* name, Signin_Added* added) {
    added->error = ERROR_SUCCESS;
    added->off = false;
    added->program = program;
    const DWORD attributes = GetFileAttributesA(program);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        added->outcome = SIGNIN_NO_PROGRAM;
        return;
    }
    wsprintfA(added->commandLine, "\"%s\" %s", program, name);
    wsprintfA(added->value, MURMEX_ENTRY_PREFIX "%s", name);
    if (RegGetValueA(HKEY_CURRENT_USER, kRunKey, added->value, RRF_RT_ANY, nullptr, nullptr,
                     nullptr) == ERROR_SUCCESS) {
        added->outcome = SIGNIN_VALUE_TAKEN;
        return;
    }
    added->error = RegSetKeyValueA(HKEY_CURRENT_USER, kRunKey, added->value, REG_SZ,
                                   added->commandLine, lstrlenA(added->commandLine) + 1);
    if (added->error != ERROR_SUCCESS) {
        added->outcome = SIGNIN_REFUSED;
        return;
    }
    added->off = SwitchedOff(added->value);
    added->outcome = SIGNIN_WRITTEN;
}

LONG Signin_Remove(const Signin_Entry* entry) {
    return RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, entry->value);
}

// Detached: murmex.exe has no console of its own and must outlive this window. Out of any job
// this window belongs to, where the job allows it: some terminals end their job's processes with
// the window.
Signin_Start Signin_Run(const char* commandLine, const char* name, DWORD* error) {
    char line[sizeof Signin_Entry::data]; // CreateProcessA may write into it
    lstrcpynA(line, commandLine, sizeof line);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    static const DWORD kTries[] = {DETACHED_PROCESS | CREATE_BREAKAWAY_FROM_JOB, DETACHED_PROCESS};
    bool started = false;
    for (DWORD flags : kTries)
        started = started || CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, flags, nullptr,
                                            nullptr, &startup, &process);
    if (!started) {
        *error = GetLastError();
        return SIGNIN_START_REFUSED;
    }
    CloseHandle(process.hThread);
    bool ended = false;
    for (DWORD waited = 0; !Runs(name) && !ended && waited < SIGNIN_START_WAIT_MS; waited += 100)
        ended = WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0;
    CloseHandle(process.hProcess);
    return Runs(name) ? SIGNIN_START_RUNS : ended ? SIGNIN_START_ENDED : SIGNIN_START_NOT_YET;
}
