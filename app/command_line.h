#pragma once

#include <windows.h>

#include "murmex.h"

// The longest name, as the package's rule knows it, and the buffers for a device name and its
// guard's name (MURMEX_GUARD_PREFIX and the name), terminator included: the longest name fills
// them.
enum { APP_LONGEST_NAME = MURMEX_LONGEST_NAME };
enum { APP_NAME_CHARS = sizeof MURMEX_GUARD_PREFIX + APP_LONGEST_NAME };

// The end of the program's own name at the start of a command line, quoted or not: the byte
// after it, before the blanks that part it from the rest. codePage decides which bytes lead a
// double-byte character.
const char* App_ProgramEnd(const char* commandLine, UINT codePage);

// The rest of the command line after the program's own name, with the blanks
// and control bytes before it skipped: always a valid, possibly empty, string
// inside commandLine.
const char* App_CommandTail(const char* commandLine, UINT codePage);

// Fills in the device name (the command tail, or the default when it is empty)
// and the guard name, MURMEX_GUARD_PREFIX and the device name. Returns false, filling nothing
// usable, when either would not fit its APP_NAME_CHARS buffer.
bool App_DeviceAndGuardNames(const char* tail, char* deviceName, char* guardName);
