#include "dialogue.h"

#include "console.h"
#include "text.h"

namespace {

// A number as listed: digits only, few enough to be one.
bool ReadNumber(const char* text, UINT* number) {
    const char* end = Text_ReadNumber(text, number);
    return end && *end == '\0';
}

bool Yes(const char* line) {
    return *line == 'y' || *line == 'Y';
}

void StartNow(const char* commandLine, const char* name) {
    DWORD error = ERROR_SUCCESS;
    Console_Started(Signin_Run(commandLine, name, &error), error, name);
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
    if (Yes(line))
        StartNow(entry->data, entry->name);
    else
        Console_Line("Nothing changed.");
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
    if (!Signin_ProgramBeside(file)) {
        Console_Line("This program cannot tell its own folder: nothing written.");
        return true;
    }
    const Zone_Mark mark = Zone_Read(file);
    Console_Mark(file, mark);
    if (!OfferUnblock(file, mark, line))
        return false;
    Signin_Added added;
    Signin_Add(file, name, &added);
    Console_Added(&added);
    if (added.outcome != SIGNIN_WRITTEN)
        return true;
    if (status->runningAs[0])
        Console_Line("Running now: yes already, as [%s]: not started again.", status->runningAs);
    else
        StartNow(added.commandLine, name);
    return true;
}

// A number stands for that device's whole product name, which chooses the first device of that
// name; a typed name is read as murmex.exe reads its command tail. False when the input ends.
bool SetUp(const char* typed, char* line) {
    Devices_List list; // on the stack: a static would be stored as that many zero bytes
    Devices_Read(&list);
    UINT id;
    const bool byNumber = ReadNumber(typed, &id);
    const Devices_Device* device =
        byNumber && id < static_cast<UINT>(list.count) ? &list.device[id] : nullptr;
    // A device without a product name would stand for the default name.
    if (byNumber && (!device || !device->named || !device->name[0])) {
        Console_Line(device && device->named
                         ? "Device %s has no product name to choose it by: nothing changed."
                         : "No device %s is listed: nothing changed.",
                     typed);
        return true;
    }
    Devices_Choice choice;
    Devices_ChoiceOf(&list, byNumber ? device->name : typed, &choice);
    if (choice.refused) {
        Console_Line("Name: %d characters, too long for murmex.exe: it ends at once. Nothing "
                     "changed.",
                     lstrlenA(typed));
        return true;
    }
    if (choice.chosen < 0) {
        Console_Line("[%s] chooses no device: nothing changed.", choice.name);
        Console_Advice(&choice.advice);
        return true;
    }
    Console_Line("[%s] chooses device %d.", choice.name, choice.chosen);
    if (byNumber && choice.chosen != static_cast<int>(id))
        Console_Line("Device %d has the same product name and comes first: murmex.exe plays there "
                     "instead.",
                     choice.chosen);

    Signin_Entries entries;
    Signin_Status status;
    Signin_Find(&list, choice.name, choice.chosen, &entries, &status);
    Console_Status(&status);
    if (!status.entry)
        return OfferNew(choice.name, &status, line);
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
    const Signin_Entry* entry =
        ReadNumber(line, &number) && number >= 1 && number <= UINT(entries.count)
            ? &entries.entry[number - 1]
            : nullptr;
    if (!*line)
        Console_Line("Nothing changed.");
    else if (!entry)
        Console_Line("No entry %s is listed: nothing changed.", line);
    else if (entry->machine) // the installer's too
        Console_Line(entry->installer
                         ? "That entry is the installer's: uninstalling Murmex, or installing it "
                           "with another DEVICE, changes it. Nothing changed."
                         : "That entry is the machine's, for every user: an administrator removes "
                           "it. Nothing changed.");
    else
        Console_Removed(entry, Signin_Remove(entry));
    return true;
}

} // namespace

void Dialogue_Run() {
    // A blank, then the line typed: a command line whose program part is empty, whose tail is the
    // line read as murmex.exe reads its own.
    char commandLine[1 + CONSOLE_TYPED_CHARS], *line = commandLine + 1;
    commandLine[0] = ' ';
    Console_Line("");
    Console_Line("To start murmex.exe now and at every sign-in, type a device's number as listed "
                 "or the");
    Console_Line("start of its name; type - to remove a sign-in entry. Enter alone closes this "
                 "window.");
    for (;;) {
        Console_Line("");
        if (!Console_Ask("Device: ", line))
            return;
        const char* typed = App_CommandTail(commandLine, CP_ACP);
        if (!*typed)
            return;
        if (typed[0] == '-' && !typed[1] ? !RemoveOne(line) : !SetUp(typed, line))
            return;
    }
}
