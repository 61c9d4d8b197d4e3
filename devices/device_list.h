// The wave-out devices as Windows lists them, and which one a name chooses: murmex.exe's own rule
// (WaveLib_NameMatches, the first match in the order listed) over the very list shown, so the
// answer cannot drift from the program's choice.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "command_line.h"

enum { DEVICES_MAX = 256 }; // more than Windows ever lists
struct Devices_Device {
    char name[MAXPNAMELEN]; // the product name, cut to 31 characters by Windows
    bool named;             // false when its query failed: murmex.exe passes it by
};
struct Devices_List {
    Devices_Device device[DEVICES_MAX];
    int count;
};
void Devices_Read(Devices_List* list);
// The number of the device the name chooses, or -1.
int Devices_Choose(const Devices_List* list, const char* name);

// The mistakes a user can correct in a name that chooses nothing, each found once, and what the
// corrected name would choose: part of a choice of none.
struct Devices_Advice {
    bool blank;                     // it ends in a blank
    bool quotes;                    // it is wrapped in quotes
    bool longer;                    // it is longer than Windows keeps of a product name
    char corrected[APP_NAME_CHARS]; // when one was found: as murmex.exe would take it
    int chosen;
};

// What a command tail chooses: the name murmex.exe would take from it, or the tail it would
// refuse, and how each device listed stands to that name.
enum Devices_Standing { DEVICES_OTHER, DEVICES_CHOSEN, DEVICES_MATCHES_TOO };
struct Devices_Choice {
    char name[APP_NAME_CHARS]; // empty when refused
    const char* refused;       // the tail murmex.exe refuses, too long to use; else nullptr
    bool given;                // false: the default name, as the tail is empty
    int chosen;                // -1: none
    Devices_Standing standing[DEVICES_MAX];
    Devices_Advice advice; // when chosen is -1
};
void Devices_ChoiceOf(const Devices_List* list, const char* tail, Devices_Choice* choice);
