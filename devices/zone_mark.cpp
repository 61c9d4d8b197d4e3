// Wine keeps no streams: there the mark's path is a plain file of that name, and the same calls
// work on it.
#include "zone_mark.h"

#include <string.h>

#include "text.h"

namespace {

constexpr char kStream[] = ":Zone.Identifier";
constexpr DWORD kMarkBytes = 4000; // the zone comes first; long URLs may follow it
constexpr UINT kLastZone = 4;      // URLZONE_UNTRUSTED; user-defined zones start at 1000
constexpr char kPolicies[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Attachments";

bool StreamPath(const char* file, char* path) {
    if (lstrlenA(file) >= MAX_PATH)
        return false;
    wsprintfA(path, "%s%s", file, kStream);
    return true;
}

// An ini key or section, which Windows' ini reader compares without regard to case.
bool StartsWithKey(const char* text, const char* key) {
    return _strnicmp(text, key, strlen(key)) == 0;
}

} // namespace

int Zone_Parse(char* bytes, DWORD length) {
    // Windows writes the text in the ANSI code page; UTF-16, with or without its byte-order mark,
    // and a UTF-8 mark are met too. Only ASCII matters, so UTF-16 is narrowed where it lies.
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    DWORD at = 0, step = 1;
    if (length >= 2 && in[0] == 0xFF && in[1] == 0xFE)
        at = 2, step = 2;
    else if (length >= 2 && in[1] == 0)
        step = 2;
    else if (length >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF)
        at = 3;
    DWORD chars = 0;
    for (; at < length; at += step)
        bytes[chars++] = in[at] && (step == 1 || (at + 1 < length && !in[at + 1])) ? in[at] : '?';
    bytes[chars] = '\0';

    // The first ZoneId of the [ZoneTransfer] section counts, as an ini reader takes it.
    bool section = false;
    for (const char* line = bytes; *line;) {
        const char* end = line;
        while (*end && *end != '\r' && *end != '\n')
            ++end;
        const char* key = Text_SkipBlanks(line);
        if (*key == '[') {
            section = StartsWithKey(key, "[ZoneTransfer]");
        } else if (section && StartsWithKey(key, "ZoneId")) {
            const char* value = Text_SkipBlanks(key + 6);
            if (*value == '=') {
                UINT zone;
                const char* after = Text_ReadNumber(Text_SkipBlanks(value + 1), &zone);
                return after && Text_SkipBlanks(after) == end && zone <= kLastZone
                           ? static_cast<int>(zone)
                           : ZONE_UNREADABLE;
            }
        }
        line = *end ? end + 1 : end;
    }
    return ZONE_UNREADABLE;
}

// Where the file system has no streams, opening one is refused as a bad name or an unsupported
// call: no mark can be kept there.
Zone_Mark Zone_Read(const char* file) {
    char path[MAX_PATH + sizeof kStream], bytes[kMarkBytes + 1];
    HANDLE stream = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILENAME_EXCED_RANGE, got = 0;
    if (StreamPath(file, path)) {
        stream =
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        error = GetLastError();
    }
    if (stream != INVALID_HANDLE_VALUE) {
        const bool read = ReadFile(stream, bytes, kMarkBytes, &got, nullptr);
        error = GetLastError();
        CloseHandle(stream);
        if (read)
            return {Zone_Parse(bytes, got), 0};
    } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return {ZONE_NONE, 0}; // no mark, or no file to carry one: nothing for Windows to act on
    }
    const bool noStreams = error == ERROR_INVALID_NAME || error == ERROR_INVALID_PARAMETER ||
                           error == ERROR_NOT_SUPPORTED;
    return {noStreams ? ZONE_NO_STREAMS : ZONE_UNREADABLE, error};
}

DWORD Zone_Remove(const char* file) {
    char path[MAX_PATH + sizeof kStream];
    if (!StreamPath(file, path))
        return ERROR_FILENAME_EXCED_RANGE;
    if (DeleteFileA(path))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error; // gone already
}

// "Hide mechanisms to remove zone information": Properties loses its Unblock, and a program that
// removed marks anyway would undo what the administrator chose.
bool Zone_MayRemove() {
    const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (HKEY root : roots) {
        DWORD hide = 0, bytes = sizeof hide;
        if (RegGetValueA(root, kPolicies, "HideZoneInfoOnProperties", RRF_RT_REG_DWORD, nullptr,
                         &hide, &bytes) == ERROR_SUCCESS &&
            hide == 1)
            return false;
    }
    return true;
}
