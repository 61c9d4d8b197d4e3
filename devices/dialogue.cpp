#include "dialogue.h"

#include "console.h"
#include "text.h"

namespace {

typedef char Line[CONSOLE_TYPED_CHARS];

// A number as listed: digits only, few enough to be one.
bool ReadNumber(const char* text, UINT* number) {
    const char* end = Text_ReadNumber(text, number);
    return end && *end == '\0';
}

bool Yes(const char* line) {
    return *line == 'y' || *line == 'Y';
}

// The mark Windows acts on at sign-in, offered for removal from that one file. False when the
// input ends.
bool OfferUnblock(const char* file, Zone_Mark mark, char* line) {
    if (!Zone_ActsAtSignIn(mark))
        return true;
    if (!Zone_MayRemove()) {
        Console_Line("A policy of this computer hides the ways to remove download marks: its "
                     "administrator can unblock the file.");
        return true;
    }
    if (!Console_Ask("Remove the mark from that file alone, as Properties > Unblock does? (y/n) ",
                     line))
        return false;
    const bool yes = Yes(line);
    const DWORD result = yes ? Zone_Remove(file) : ERROR_SUCCESS;
    Console_Unblocked(file, yes, result);
    return true;
}

// An entry written already: the mark of the file it starts offered for removal, then a start
// now when no copy runs. False when the input ends.
bool OfferForEntry(const Signin_Status* status, char* line) {
    const Signin_Entry* entry = status->entry;
    if (entry->fullPath && !OfferUnblock(entry->program, status->mark, line))
        return false;
    if (status->runningAs[0])
        return true;
    if (!Console_Ask("Start murmex.exe for it now, with the entry's command line? (y/n) ", line))
        return false;
    if (Yes(line)) {
        DWORD error = ERROR_SUCCESS;
        Console_Started(Signin_Run(entry->data, entry->name, &error), error, entry->name);
    } else {
        Console_Line("Nothing changed.");
    }
    return true;
}

// A new entry after a yes, with the mark of the murmex.exe it would start offered for removal
// first; a copy that runs already is not started again. False when the input ends.
bool OfferNew(const char* name, const Signin_Status* status, char* line) {
    if (!Console_Ask("Start murmex.exe for it now and at every sign-in? (y/n) ", line))
        return false;
    if (!Yes(line)) {
        Console_Line("Nothing changed.");
        return true;
    }
    char file[MAX_PATH];
    if (Signin_ProgramBeside(file)) {
        const Zone_Mark mark = Zone_Read(file);
        Console_Mark(file, mark);
        if (!OfferUnblock(file, mark, line))
            return false;
    }
    Signin_Added added;
    Signin_Add(name, &added);
    Console_Added(&added);
    if (added.outcome != SIGNIN_WRITTEN)
        return true;
    if (status->runningAs[0]) {
        Console_Line("Running now: yes already, as [%s]: not started again.", status->runningAs);
    } else {
        DWORD error = ERROR_SUCCESS;
        Console_Started(Signin_Run(added.commandLine, name, &error), error, name);
    }
    return true;
}

// A number stands for that device's whole product name, which chooses the first device of that
// name; a typed name is read as murmex.exe reads its command tail. False when the input ends.
bool SetUp(const char* typed, char* line) {
    Devices_List list; // on the stack: a static would be stored as that many zero bytes
    Devices_Read(&list);
    char name[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    UINT id;
    const bool byNumber = ReadNumber(typed, &id);
    if (byNumber) {
        if (id >= static_cast<UINT>(list.count) || !list.device[id].named) {
            Console_Line("No device %s is listed: nothing changed.", typed);
            return true;
        }
        if (!list.device[id].name[0]) { // it would stand for the default name
            Console_Line("Device %s has no product name to choose it by: nothing changed.", typed);
            return true;
        }
        App_SettleNames(list.device[id].name, name, guard);
    } else if (!App_SettleNames(typed, name, guard)) {
        Console_Line("Name: %d characters, too long for murmex.exe: it ends at once. Nothing "
                     "changed.",
                     lstrlenA(typed));
        return true;
    }
    const int chosen = Devices_Choose(&list, name);
    if (chosen < 0) {
        Console_Line("[%s] chooses no device: nothing changed.", name);
        Devices_Advice advice;
        Devices_Advise(&list, name, &advice);
        Console_Advice(&advice);
        return true;
    }
    Console_Line("[%s] chooses device %d.", name, chosen);
    if (byNumber && chosen != static_cast<int>(id))
        Console_Line("Device %d has the same product name and comes first: murmex.exe plays there "
                     "instead.",
                     chosen);

    Signin_Entries entries;
    Signin_List(&entries);
    Signin_Status status;
    Signin_Find(&entries, &list, name, chosen, &status);
    Console_Status(&status);
    if (!status.entry)
        return OfferNew(name, &status, line);
    Console_Line("It has a sign-in entry already: no second one is written.");
    return OfferForEntry(&status, line);
}

bool RemoveOne(char* line) {
    Signin_Entries entries;
    Signin_List(&entries);
    if (entries.count == 0) {
        Console_Line("No sign-in entry starts murmex.exe: nothing to remove.");
        return true;
    }
    Console_Entries(&entries);
    if (!Console_Ask("Entry to remove (its number; Enter alone keeps them all): ", line))
        return false;
    UINT number;
    if (!*line)
        Console_Line("Nothing changed.");
    else if (!ReadNumber(line, &number) || number < 1 || number > UINT(entries.count))
        Console_Line("No entry %s is listed: nothing changed.", line);
    else if (entries.entry[number - 1].installer)
        Console_Line("That entry is the installer's: uninstalling Murmex, or installing it with "
                     "another DEVICE, changes it. Nothing changed.");
    else if (entries.entry[number - 1].machine)
        Console_Line("That entry is the machine's, for every user: an administrator removes it. "
                     "Nothing changed.");
    else
        Console_Removed(&entries.entry[number - 1], Signin_Remove(&entries.entry[number - 1]));
    return true;
}

} // namespace

void Dialogue_Run() {
    Line line;
    char commandLine[sizeof "murmex.exe " + sizeof line];
    Console_Line("");
    Console_Line("To start murmex.exe now and at every sign-in, type a device's number as listed "
                 "or the");
    Console_Line("start of its name; type - to remove a sign-in entry. Enter alone closes this "
                 "window.");
    for (;;) {
        Console_Line("");
        if (!Console_Ask("Device: ", line))
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
