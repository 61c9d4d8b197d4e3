// Sign-in entries: values under a Run key that start a murmex.exe, which Windows runs at every
// sign-in and Task Manager's Startup apps lists and can switch off. Names are bytes of the ANSI
// code page throughout, as murmex.exe reads them.
#pragma once

#include <windows.h>

#include "command_line.h"
#include "device_list.h"
#include "murmex.h"
#include "zone_mark.h"

// One value under the user's Run key (or the machine's, in either registry view on 64-bit
// Windows) whose data starts a murmex.exe, with the name that copy would play on.
struct Signin_Entry {
    char value[300];
    char data[640];
    char name[APP_NAME_CHARS]; // empty when murmex.exe refuses its command tail and ends at once
    char program[MAX_PATH];    // the file its command line starts, quotes taken out
    bool fullPath; // program names one file, whose mark is the one sign-in meets; else Windows
                   // searches for it
    bool off;      // switched off in Task Manager's Startup apps: the value stays, Windows skips it
    bool machine;  // under the machine's Run key: it starts murmex.exe for every user
    bool installer; // the one the Windows Installer package wrote for its DEVICE
};
enum { SIGNIN_MAX_ENTRIES = 32 };
struct Signin_Entries {
    Signin_Entry entry[SIGNIN_MAX_ENTRIES];
    int count;
};
void Signin_List(Signin_Entries* entries);
// The file a command line starts, quotes taken out, into MAX_PATH bytes; true when it is a full
// path, naming the one file Windows will start.
bool Signin_Program(const char* commandLine, char* file);

// What runs and what starts at sign-in for the device a name chooses (chosen >= 0), counting
// every name that chooses the same device; for a name that chooses none, for that name alone.
// The entries are listed into entries, which the status points into.
struct Signin_Status {
    char runningAs[APP_NAME_CHARS]; // empty when no copy holds a guard for it
    const Signin_Entry* entry;      // nullptr when no entry is written for it; may be off
    Zone_Mark mark;                 // of the entry's program, when that is a full path
};
void Signin_Find(const Devices_List* list, const char* name, int chosen, Signin_Entries* entries,
                 Signin_Status* status);

// The murmex.exe beside this program, which a new entry starts, into MAX_PATH bytes.
bool Signin_ProgramBeside(char* file);

// A new entry in the user's Run key, in the companion's form, that starts program with a name
// that has none. A value of that name that is not one of ours is someone's: it is never
// overwritten.
enum Signin_Outcome {
    SIGNIN_NO_PROGRAM,  // no such file
    SIGNIN_VALUE_TAKEN, // value exists already
    SIGNIN_REFUSED,     // Windows refused the write: error
    SIGNIN_WRITTEN,     // value = commandLine, switched off when Task Manager kept its old switch
};
struct Signin_Added {
    Signin_Outcome outcome;
    LONG error;
    bool off;
    const char* program;
    char value[sizeof MURMEX_ENTRY_PREFIX + APP_NAME_CHARS];
    char commandLine[MAX_PATH + 3 + APP_NAME_CHARS];
};
void Signin_Add(const char* program, const char* name, Signin_Added* added);
// Deletes an entry of the user's; the registry's result.
LONG Signin_Remove(const Signin_Entry* entry);

// Starts a command line now, as sign-in does, and waits for murmex.exe to hold the name's guard.
enum { SIGNIN_START_WAIT_MS = 10000 }; // a start under load, or a slow virus scan, takes seconds
enum Signin_Start {
    SIGNIN_START_REFUSED, // Windows refused to start it: error
    SIGNIN_START_RUNS,    // it holds the guard
    SIGNIN_START_ENDED,   // it ended at once
    SIGNIN_START_NOT_YET, // no guard after the wait
};
Signin_Start Signin_Run(const char* commandLine, const char* name, DWORD* error);
