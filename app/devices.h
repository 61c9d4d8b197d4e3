// murmex-devices' pieces: the console, the verdict and the advice (devices.cpp), the sign-in
// entries and the copies that run (devices_signin.cpp), and the dialogue of a double-clicked window
// (devices_dialogue.cpp). Names are bytes of the ANSI code page throughout, as murmex.exe reads
// them; only the console sees them as UTF-16.
#pragma once

#include <windows.h>

#include "command_line.h"

// A line on the console or to a file or pipe; Write leaves the line open for an answer.
void Say(const char* format, ...);
void Write(const char* text);

// The advice for a settled name that chooses nothing: what to mend, and what the mended name
// would choose.
void Devices_Advise(const char* name);

// One value under the user's Run key (or the machine's, in either registry view on 64-bit
// Windows) whose data starts a murmex.exe, with the name that copy
// would play on, settled as murmex.exe settles its command tail.
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

// Asks until Enter alone or the end of input; only on a console of its own.
void Dialogue_Run();
