#include "console.h"

#include "murmex.h"

namespace {

constexpr int kLineChars = 1024 + 2; // wvsprintfA writes at most 1024 characters, then CR LF
enum { kTextChars = 512 };

void WriteBytes(const char* text, int length) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(out, &mode)) {
        WCHAR wide[kLineChars];
        const int chars = MultiByteToWideChar(CP_ACP, 0, text, length, wide, kLineChars);
        WriteConsoleW(out, wide, static_cast<DWORD>(chars), &written, nullptr);
    } else {
        WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr);
    }
}

// In the ANSI code page murmex.exe reads its command line in (the console's own code page may
// differ), line end taken off. A line longer than the buffer comes in pieces: the rest is
// dropped, and what is kept is far too long to be a name. The input ends when the window closes,
// or at a Ctrl+Z.
bool ReadTyped(char* line) {
    enum { kChars = CONSOLE_TYPED_CHARS / 2 };
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    WCHAR typed[kChars], rest[64];
    DWORD got, more;
    if (!ReadConsoleW(in, typed, kChars, &got, nullptr) || got == 0 || typed[0] == 0x1A)
        return false;
    for (bool whole = typed[got - 1] == '\n'; !whole; whole = rest[more - 1] == '\n')
        if (!ReadConsoleW(in, rest, 64, &more, nullptr) || more == 0)
            return false;
    while (got > 0 && (typed[got - 1] == '\n' || typed[got - 1] == '\r'))
        --got;
    line[WideCharToMultiByte(CP_ACP, 0, typed, static_cast<int>(got), line, CONSOLE_TYPED_CHARS - 1,
                             nullptr, nullptr)] = '\0';
    return true;
}

// Windows' own text for a system error code, without its line end.
void SystemText(DWORD code, char* text) {
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                        0, text, kTextChars, nullptr))
        wsprintfA(text, "error %lu", code);
    for (int end = lstrlenA(text); end > 0 && static_cast<unsigned char>(text[end - 1]) <= 0x20;)
        text[--end] = '\0';
}

void Refused(const char* what, DWORD code) {
    char text[kTextChars];
    SystemText(code, text);
    Console_Line("%s: %s Nothing changed.", what, text);
}

} // namespace

bool (*Console_ReadLine)(char* line) = ReadTyped;

void Console_Line(const char* format, ...) {
    char line[kLineChars];
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(line, format, args);
    va_end(args);
    line[length++] = '\r';
    line[length++] = '\n';
    WriteBytes(line, length);
}

bool Console_Ask(const char* question, char* line) {
    WriteBytes(question, lstrlenA(question));
    if (Console_ReadLine(line))
        return true;
    Console_Line("");
    Console_Line("The input has ended: nothing more is changed.");
    return false;
}

void Console_Choice(const Devices_List* list, const Devices_Choice* choice) {
    Console_Line("murmex.exe plays on the first device whose product name begins with the name");
    Console_Line("(A to Z in either letter case). Wave-out devices, as Windows gives them to it:");
    if (list->count == 0)
        Console_Line("  (none)");
    static const char* const kStanding[] = {"", "  <- chosen",
                                            "  <- matches too; the first is chosen"};
    for (int id = 0; id < list->count; ++id)
        Console_Line(list->device[id].named ? "%4d  %s%s"
                                            : "%4d  (Windows gives no name: passed by)",
                     id, list->device[id].name, kStanding[choice->standing[id]]);
    if (choice->refused)
        Console_Line("Name: %d characters, too long for murmex.exe: it ends at once.",
                     lstrlenA(choice->refused));
    else
        Console_Line(choice->given ? "Name: [%s] (%d characters)"
                                   : "Name: [%s], the default, as none was given",
                     choice->name, lstrlenA(choice->name));
    if (choice->chosen >= 0) {
        Console_Line("Chosen: device %d. murmex.exe started with this name plays there.",
                     choice->chosen);
    } else {
        Console_Line(
            "Chosen: none. murmex.exe started with this name plays nothing, says nothing.");
        Console_Advice(&choice->advice);
    }
}

void Console_Advice(const Devices_Advice* advice) {
    if (advice->blank)
        Console_Line("- It ends in a blank, part of the name: cmd keeps a blank typed before a >.");
    if (advice->quotes)
        Console_Line(
            "- It is wrapped in quotes, which are part of the name: give it without them.");
    if (advice->longer)
        Console_Line("- It is longer than the %u characters Windows keeps of a product name.",
                     MURMEX_PRODUCT_NAME_CHARS);
    if (!advice->blank && !advice->quotes && !advice->longer) {
        Console_Line(
            "Give the start of a product name above. A device switched off or unplugged is");
        Console_Line(
            "not listed: murmex.exe plays on it once it is back, but this list cannot tell.");
    } else {
        Console_Line(advice->chosen >= 0 ? "Mended to [%s], it would choose device %d."
                                         : "Mended to [%s], it would choose no device either.",
                     advice->corrected, advice->chosen);
    }
}

void Console_Status(const Signin_Status* status) {
    Console_Line(status->runningAs[0] ? "Running now: yes, murmex.exe holds the guard of [%s]."
                                      : "Running now: no murmex.exe plays on it.",
                 status->runningAs);
    const Signin_Entry* entry = status->entry;
    if (!entry) {
        Console_Line("Starts at sign-in: no entry starts murmex.exe for it.");
        return;
    }
    Console_Line(entry->off ? "Starts at sign-in: no, \"%s\" = %s is switched off in Task "
                              "Manager's Startup apps: Enable there switches it on."
                 : entry->installer
                     ? "Starts at sign-in: yes, for every user, from the installer: \"%s\" = %s"
                 : entry->machine ? "Starts at sign-in: yes, for every user, from the machine's "
                                    "Run key: \"%s\" = %s"
                                  : "Starts at sign-in: yes, \"%s\" = %s",
                 entry->value, entry->data);
    if (entry->fullPath)
        Console_Mark(entry->program, status->mark);
}

void Console_Mark(const char* file, Zone_Mark mark) {
    char text[kTextChars];
    if (mark.zone == ZONE_UNREADABLE && mark.error)
        SystemText(mark.error, text);
    const char* said =
        mark.zone == ZONE_INTERNET
            ? "Download mark: %s came from the internet (zone 3). At every sign-in Windows shows "
              "\"Open File - Security Warning\" for it, and Murmex starts only once someone clicks "
              "Run."
        : mark.zone == ZONE_RESTRICTED
            ? "Download mark: %s came from a restricted site (zone 4). Windows blocks it at "
              "sign-in, and Murmex does not start."
        : mark.zone == ZONE_NO_STREAMS
            ? "Download mark: none can be kept where %s lives (no file streams there, as on FAT32 "
              "or some network shares): Windows goes by its place alone."
        : mark.zone != ZONE_UNREADABLE ? nullptr
        : mark.error                   ? "Download mark: that of %s cannot be read: %s"
                     : "Download mark: %s has one this program cannot read (no ZoneId of 0 to 4 "
                       "under [ZoneTransfer]).";
    if (!said)
        return;
    Console_Line(said, file, text);
    if (Zone_ActsAtSignIn(mark))
        Console_Line("Removing the mark from that file ends it: Properties > Unblock, PowerShell's "
                     "Unblock-File, or this program, double-clicked.");
    else if (mark.zone == ZONE_UNREADABLE)
        Console_Line(
            "If Windows asks before it starts at sign-in, Properties > Unblock removes the mark.");
}

// Entries for every user are listed but not this program's to remove.
void Console_Entries(const Signin_Entries* entries) {
    Console_Line("Sign-in entries that start murmex.exe:");
    for (int i = 0; i < entries->count; ++i) {
        const Signin_Entry* entry = &entries->entry[i];
        Console_Line("%4d  \"%s\" = %s%s%s", i + 1, entry->value, entry->data,
                     entry->off ? "  (switched off)" : "",
                     entry->installer ? "  (every user's, from the installer)"
                     : entry->machine ? "  (every user's, the machine's)"
                                      : "");
    }
}

void Console_Added(const Signin_Added* added) {
    const Signin_Outcome outcome = added->outcome;
    if (outcome == SIGNIN_REFUSED) {
        Refused("Windows refused the sign-in entry", added->error);
        return;
    }
    const char* said =
        outcome == SIGNIN_NO_PROGRAM ? "No murmex.exe beside this program (%s): nothing written."
        : outcome == SIGNIN_VALUE_TAKEN
            ? "The Run key has a value \"%s\" already, for something else: nothing written."
        : added->off ? "Starts at sign-in: no, written \"%s\" = %s, but Task Manager's Startup "
                       "apps keeps this name switched off from an earlier entry: Enable there "
                       "switches it on."
                     : "Starts at sign-in: yes, written \"%s\" = %s";
    Console_Line(said, outcome == SIGNIN_NO_PROGRAM ? added->program : added->value,
                 added->commandLine);
}

void Console_Started(Signin_Start started, DWORD error, const char* name) {
    if (started == SIGNIN_START_REFUSED)
        Refused("Windows refused to start it now (it still starts at sign-in)", error);
    else if (started == SIGNIN_START_NOT_YET)
        Console_Line("Running now: not yet, murmex.exe holds no guard after %lu seconds. Task "
                     "Manager's Details tab shows whether it runs.",
                     SIGNIN_START_WAIT_MS / 1000);
    else
        Console_Line(started == SIGNIN_START_RUNS
                         ? "Running now: yes, murmex.exe started and holds the guard of [%s]."
                         : "Running now: no, murmex.exe ended at once. Security software or a "
                           "policy may have stopped it.",
                     name);
}

void Console_Removed(const Signin_Entry* entry, LONG result) {
    if (result != ERROR_SUCCESS) {
        Refused("Windows refused to remove it", result);
        return;
    }
    Console_Line("Removed \"%s\": it no longer starts murmex.exe at sign-in.", entry->value);
    Console_Line("A copy running now keeps running. To stop it: taskkill /F /IM murmex.exe (every "
                 "copy),");
    Console_Line("or end murmex.exe in Task Manager's Details tab, or sign out.");
}

void Console_Unblocked(const char* file, bool yes, DWORD result) {
    const bool refused = yes && result != ERROR_SUCCESS;
    char text[kTextChars];
    if (refused)
        SystemText(result, text);
    Console_Line(
        !yes      ? "The mark stays, and Windows keeps acting on it at sign-in."
        : refused ? "Windows refused to remove the mark: %s It stays: the file's owner or an "
                    "administrator can remove it."
                  : "Removed the mark from %s alone: Windows starts it at sign-in without a word.",
        refused ? text : file);
    if (yes && !refused)
        return;
    Console_Line("To remove it later: Properties > Unblock on the file, or in PowerShell: "
                 "Unblock-File -LiteralPath \"%s\"",
                 file);
}
