// The dialogue of a double-clicked murmex-devices: it runs only when the window is its own and its
// input is that window's keyboard, asks one question at a time and changes nothing until a
// question is answered; an answer that is not understood changes nothing either.
#include <windows.h>
#include <mmsystem.h>

#include "devices.h"
#include "wave_lib.h"

namespace {

enum { kTypedChars = 1024 };

// One line typed at the window, in the ANSI code page murmex.exe reads its command line in (the
// console's own code page may differ), line end taken off. False when the input has ended: the
// window is closing, or Ctrl+Z was typed.
bool ReadTyped(char* line) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    WCHAR typed[kTypedChars], rest[64];
    DWORD got, more;
    if (!ReadConsoleW(in, typed, kTypedChars, &got, nullptr) || got == 0 || typed[0] == 0x1A)
        return false;
    // A line longer than the buffer comes in pieces: the rest is dropped, and what is kept is
    // far too long to be a name.
    for (bool whole = typed[got - 1] == '\n'; !whole; whole = rest[more - 1] == '\n')
        if (!ReadConsoleW(in, rest, 64, &more, nullptr) || more == 0)
            return false;
    while (got > 0 && (typed[got - 1] == '\n' || typed[got - 1] == '\r'))
        --got;
    line[WideCharToMultiByte(CP_ACP, 0, typed, static_cast<int>(got), line, 2 * kTypedChars,
                             nullptr, nullptr)] = '\0';
    return true;
}

bool Ask(const char* question, char* line) {
    Write(question);
    if (ReadTyped(line))
        return true;
    Say("");
    Say("The input has ended: nothing more is changed.");
    return false;
}

// A number as listed: digits only, few enough to be one.
bool ReadNumber(const char* text, UINT* number) {
    *number = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9' && digits < 5; ++text, ++digits)
        *number = *number * 10 + static_cast<UINT>(*text - '0');
    return digits > 0 && *text == '\0';
}

bool Yes(const char* line) {
    return *line == 'y' || *line == 'Y';
}

// The mark Windows acts on at sign-in, offered for removal from that one file. False when the
// input ends.
bool OfferUnblock(const char* file, int zone, char* line) {
    if ((zone != ZONE_INTERNET && zone != ZONE_RESTRICTED) || !Zone_MayRemove())
        return true;
    if (!Ask("Remove the mark from that file alone, as Properties > Unblock does? (y/n) ", line))
        return false;
    Zone_Unblock(file, Yes(line));
    return true;
}

// An entry written already: the mark of the file it starts offered for removal, then a start
// now when no copy runs. False when the input ends.
bool OfferForEntry(const Signin_Status* status, char* line) {
    char file[MAX_PATH];
    if (Zone_Program(status->entry->data, file) && !OfferUnblock(file, Zone_Read(file).zone, line))
        return false;
    if (status->runningAs[0])
        return true;
    if (!Ask("Start murmex.exe for it now, with the entry's command line? (y/n) ", line))
        return false;
    if (Yes(line))
        Signin_Start(status->entry);
    else
        Say("Nothing changed.");
    return true;
}

// A number stands for that device's whole product name, which chooses the first device of that
// name; a typed name is read as murmex.exe reads the tail of its command line. False when the
// input ends.
bool SetUp(const char* typed, char* line) {
    char name[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    UINT id;
    WAVEOUTCAPSA caps;
    const bool byNumber = ReadNumber(typed, &id);
    if (byNumber) {
        if (id >= waveOutGetNumDevs() ||
            waveOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR) {
            Say("No device %s is listed: nothing changed.", typed);
            return true;
        }
        if (!caps.szPname[0]) { // it would stand for the default name
            Say("Device %s has no product name to choose it by: nothing changed.", typed);
            return true;
        }
        App_SettleNames(caps.szPname, name, guard);
    } else if (!App_SettleNames(typed, name, guard)) {
        Say("Name: %d characters, too long for murmex.exe: it ends at once. Nothing changed.",
            lstrlenA(typed));
        return true;
    }
    const int chosen = WaveLib_FindDevice(name);
    if (chosen < 0) {
        Say("[%s] chooses no device: nothing changed.", name);
        Devices_Advise(name);
        return true;
    }
    Say("[%s] chooses device %d.", name, chosen);
    if (byNumber && chosen != static_cast<int>(id))
        Say("Device %d has the same product name and comes first: murmex.exe plays there instead.",
            chosen);

    Signin_Entries entries; // on the stack: a static would be stored as that many zero bytes
    Signin_List(&entries);
    Signin_Status status;
    Signin_Tell(&entries, name, chosen, &status);
    if (status.entry) {
        Say("It has a sign-in entry already: no second one is written.");
        return OfferForEntry(&status, line);
    }
    if (!Ask("Start murmex.exe for it now and at every sign-in? (y/n) ", line))
        return false;
    const bool add = Yes(line); // the line takes the next answer
    char file[MAX_PATH];
    if (add && Devices_ProgramBeside(file) && !OfferUnblock(file, Zone_Tell(file).zone, line))
        return false;
    if (add)
        Signin_Add(name, &status);
    else
        Say("Nothing changed.");
    return true;
}

// Entries for every user are listed but not this program's to remove.
const char* Owner(const Signin_Entry* entry) {
    return entry->installer ? "  (every user's, from the installer)"
           : entry->machine ? "  (every user's, the machine's)"
                            : "";
}

bool RemoveOne(char* line) {
    Signin_Entries entries;
    Signin_List(&entries);
    if (entries.count == 0) {
        Say("No sign-in entry starts murmex.exe: nothing to remove.");
        return true;
    }
    Say("Sign-in entries that start murmex.exe:");
    for (int i = 0; i < entries.count; ++i)
        Say("%4d  \"%s\" = %s%s%s", i + 1, entries.entry[i].value, entries.entry[i].data,
            entries.entry[i].off ? "  (switched off)" : "", Owner(&entries.entry[i]));
    if (!Ask("Entry to remove (its number; Enter alone keeps them all): ", line))
        return false;
    UINT number;
    if (!*line)
        Say("Nothing changed.");
    else if (!ReadNumber(line, &number) || number < 1 || number > UINT(entries.count))
        Say("No entry %s is listed: nothing changed.", line);
    else if (entries.entry[number - 1].installer)
        Say("That entry is the installer's: uninstalling Murmex, or installing it with another "
            "DEVICE, changes it. Nothing changed.");
    else if (entries.entry[number - 1].machine)
        Say("That entry is the machine's, for every user: an administrator removes it. Nothing "
            "changed.");
    else
        Signin_Remove(&entries.entry[number - 1]);
    return true;
}

} // namespace

void Dialogue_Run() {
    char line[2 * kTypedChars + 1], commandLine[sizeof "murmex.exe " + sizeof line];
    Say("");
    Say("To start murmex.exe now and at every sign-in, type a device's number as listed or the");
    Say("start of its name; type - to remove a sign-in entry. Enter alone closes this window.");
    for (;;) {
        Say("");
        if (!Ask("Device: ", line))
            return;
        lstrcpyA(commandLine, "murmex.exe ");
        lstrcatA(commandLine, line);
        const char* typed = App_CommandTail(commandLine, CP_ACP);
        if (!*typed)
            return;
        if (lstrcmpA(typed, "-") == 0 ? !RemoveOne(line) : !SetUp(typed, line))
            return;
    }
}
