// murmex-devices' pieces: its entry (devices_main.cpp), the console, the verdict and the advice
// (devices.cpp), the sign-in entries and the copies that run (devices_signin.cpp), the download
// mark (zone_mark.cpp, devices_zone.cpp) and the dialogue of a double-clicked window
// (devices_dialogue.cpp). Names are bytes of the ANSI code page throughout, as murmex.exe reads
// them; only the console sees them as UTF-16.
#pragma once

#include <windows.h>

#include "command_line.h"

// A line on the console or to a file or pipe; Write leaves the line open for an answer.
void Say(const char* format, ...);
void Write(const char* text);
// Windows' own text for a system error code, without its line end, into DEVICES_TEXT_CHARS.
enum { DEVICES_TEXT_CHARS = 512 };
void Devices_SystemText(DWORD code, char* text);
// The murmex.exe beside this program, which a new entry starts, into MAX_PATH bytes.
bool Devices_ProgramBeside(char* file);

// The device list with the chosen one marked, and the verdict on one name: the device it chooses
// or -1. The name is a settled name, or a tail murmex.exe would refuse (settled false).
int Devices_Verdict(const char* name, bool settled, bool given);
// The advice for a settled name that chooses nothing: what to mend, and what the mended name
// would choose.
void Devices_Advise(const char* name);

// One value under the user's Run key (or the machine's, in either registry view on 64-bit
// Windows) whose data starts a murmex.exe, with the name that copy would play on, settled as
// murmex.exe settles its command tail.
struct Signin_Entry {
    char value[300];
    char data[640];
    char name[APP_NAME_CHARS];
    bool off;     // switched off in Task Manager's Startup apps: the value stays, Windows skips it
    bool machine; // under the machine's Run key: it starts murmex.exe for every user
    bool installer; // the one the Windows Installer package wrote for its DEVICE
};
enum { SIGNIN_MAX_ENTRIES = 32 };
struct Signin_Entries {
    Signin_Entry entry[SIGNIN_MAX_ENTRIES];
    int count;
};

// What runs and what starts at sign-in for the device a name chooses (chosen >= 0), counting
// every name that chooses the same device; for a name that chooses none, for that name alone.
struct Signin_Status {
    char runningAs[APP_NAME_CHARS]; // empty when no copy holds a guard for it
    const Signin_Entry* entry;      // nullptr when no entry is written for it; may be off
};

void Signin_List(Signin_Entries* entries);
// Finds the status and says it in two lines: running now, starts at sign-in.
void Signin_Tell(const Signin_Entries* entries, const char* name, int chosen,
                 Signin_Status* status);
// Writes the entry for a settled name that has none and starts it unless a copy runs: every
// outcome is said.
void Signin_Add(const char* name, const Signin_Status* status);
void Signin_Remove(const Signin_Entry* entry);
// Starts an entry's very command line now, as sign-in does, and says whether it runs.
void Signin_Start(const Signin_Entry* entry);

// Windows' mark of a download on a file (zone_mark.cpp, said in devices_zone.cpp): the zone it
// names, 0 (this computer) to 4 (restricted sites), or none, or one that cannot be read (error:
// why, 0 when the text holds no zone of those).
enum { ZONE_NONE = -1, ZONE_UNREADABLE = -2, ZONE_INTERNET = 3, ZONE_RESTRICTED = 4 };
struct Zone_Mark {
    int zone;
    DWORD error;
};
// The zone in a mark's bytes, which it narrows in place: bytes has room for length + 1.
int Zone_Parse(char* bytes, DWORD length);
Zone_Mark Zone_Read(const char* file);
// Deletes file's mark alone; ERROR_SUCCESS once it has none.
DWORD Zone_Remove(const char* file);
// The file a command line starts, into MAX_PATH bytes; false unless it is a full path.
bool Zone_Program(const char* commandLine, char* file);
// Says what a file's mark does at sign-in when Windows acts on it or it cannot be read, and
// returns it; says nothing of no mark, or of one Windows starts without a word.
Zone_Mark Zone_Tell(const char* file);
void Zone_TellEntry(const char* commandLine);
// False, once said why, when a policy hides the ways to remove marks.
bool Zone_MayRemove();
// Removes file's mark after a yes and says so, or says it stays and how to remove it later.
void Zone_Unblock(const char* file, bool yes);

// Asks until Enter alone or the end of input; only on a console of its own.
void Dialogue_Run();
