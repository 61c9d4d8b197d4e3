#pragma once

#include <windows.h>

enum { APP_NAME_CHARS = 260 }; // device-name and guard-name buffers, terminator included
// The longest device name whose guard name, "Murmex-" and the name, fits its buffer.
enum { APP_LONGEST_NAME = APP_NAME_CHARS - 1 - 7 };
// Windows keeps 31 characters of a device's product name (MAXPNAMELEN - 1): a longer name begins
// no device's name, and so chooses none.
enum { APP_KEPT_NAME_CHARS = 31 };

// The rest of the command line after the program's own name, with the blanks
// and control bytes before it skipped: always a valid, possibly empty, string
// inside commandLine. codePage decides which bytes lead a double-byte character.
const char* App_CommandTail(const char* commandLine, UINT codePage);

// Settles the device name (the tail, or the default when the tail is empty)
// and the guard name "Murmex-<device name>". Returns false, filling nothing
// usable, when either would not fit its APP_NAME_CHARS buffer.
bool App_SettleNames(const char* tail, char* deviceName, char* guardName);
