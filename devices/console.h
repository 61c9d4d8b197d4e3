// The companion's one voice: every line it writes goes out here, worded from the records the
// other modules fill. A console gets the names as UTF-16, a file or pipe the very bytes a name is
// typed as: they are bytes of the ANSI code page, which a console does not show unless it happens
// to use it.
#pragma once

#include <windows.h>

#include "device_list.h"
#include "signin.h"
#include "zone_mark.h"

enum { CONSOLE_TYPED_CHARS = 2 * 1024 + 1 }; // a typed line, as the ANSI code page's bytes

// Reads one line typed at the window, without its line end; false once the input has ended. The
// console's own reader until a test puts a scripted one in its place.
extern bool (*Console_ReadLine)(char* line);

void Console_Line(const char* format, ...);
// Asks and reads the answer into CONSOLE_TYPED_CHARS; says so when the input has ended instead.
bool Console_Ask(const char* question, char* line);

// The device list with the chosen device marked, the name, and what it chooses or how to
// correct it.
void Console_Choice(const Devices_List* list, const Devices_Choice* choice);
void Console_Advice(const Devices_Advice* advice);
// Two lines, running now and starts at sign-in, then the mark of the entry's program.
void Console_Status(const Signin_Status* status);
// What a file's mark does at sign-in when Windows acts on it or it cannot be read; nothing of no
// mark, or of one Windows starts without a word.
void Console_Mark(const char* file, Zone_Mark mark);
// The entries, numbered from 1, with those that are not the user's to remove marked.
void Console_Entries(const Signin_Entries* entries);
void Console_Added(const Signin_Added* added);
void Console_Started(Signin_Start started, DWORD error, const char* name);
void Console_Removed(const Signin_Entry* entry, LONG result);
// A mark removed after a yes (result: the removal's), or kept, and how to remove it later.
void Console_Unblocked(const char* file, bool yes, DWORD result);
