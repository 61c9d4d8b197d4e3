// Windows' mark of a download on one file: the stream <file>:Zone.Identifier, an ini text whose
// [ZoneTransfer] section names the zone the file came from. Browsers write it, and Explorer's
// extractor copies a zip's mark onto every file it extracts. Started from a Run entry at sign-in,
// Explorer's shell checks the zone of the file it starts: one from the internet (zone 3) gets
// "Open File - Security Warning" every time, one from a restricted site (zone 4) is blocked. A
// start the companion makes itself does no such check, so only the mark tells what sign-in will
// do.
#pragma once

#include <windows.h>

// The zone a mark names, 0 (this computer) to 4 (restricted sites), or why there is none to act
// on: no mark, one that cannot be read (error: why, 0 when the text holds no zone of those), or
// a file system that keeps no streams, where Windows goes by the file's place alone.
enum {
    ZONE_NONE = -1,
    ZONE_UNREADABLE = -2,
    ZONE_NO_STREAMS = -3,
    ZONE_INTERNET = 3,
    ZONE_RESTRICTED = 4,
};
struct Zone_Mark {
    int zone;
    DWORD error;
};
// The zone in a mark's bytes, which it narrows in place: bytes has room for length + 1.
int Zone_Parse(char* bytes, DWORD length);
Zone_Mark Zone_Read(const char* file);
// True for a mark Windows acts on at sign-in: it asks first, or it blocks.
inline bool Zone_ActsAtSignIn(Zone_Mark mark) {
    return mark.zone == ZONE_INTERNET || mark.zone == ZONE_RESTRICTED;
}
// Deletes file's mark alone; ERROR_SUCCESS once it has none.
DWORD Zone_Remove(const char* file);
// False when a policy hides the ways to remove marks.
bool Zone_MayRemove();
