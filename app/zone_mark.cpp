// Windows' mark of a download on one file: the stream <file>:Zone.Identifier, an ini text whose
// [ZoneTransfer] section names the zone the file came from (ZoneId=3: the internet). Browsers
// write it, and Explorer's extractor copies a zip's mark onto every file it extracts. Wine keeps
// no streams: there the same path is a plain file of that name, and the same calls work on it.
#include "devices.h"
#include "wave_lib.h"

namespace {

constexpr char kStream[] = ":Zone.Identifier";
constexpr DWORD kMarkBytes = 4000; // the zone comes first; long URLs may follow it
constexpr int kLastZone = 4;       // URLZONE_UNTRUSTED; user-defined zones start at 1000

bool StreamPath(const char* file, char* path) {
    const int length = lstrlenA(file);
    if (length >= MAX_PATH)
        return false;
    lstrcpyA(path, file);
    lstrcpyA(path + length, kStream);
    return true;
}

const char* SkipBlanks(const char* text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
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
        const char* key = SkipBlanks(line);
        if (*key == '[') {
            section = WaveLib_NameMatches(key, "[ZoneTransfer]");
        } else if (section && WaveLib_NameMatches(key, "ZoneId")) {
            const char* value = SkipBlanks(key + 6);
            if (*value == '=') {
                int zone = 0, digits = 0;
                for (value = SkipBlanks(value + 1); *value >= '0' && *value <= '9' && digits < 5;
                     ++value, ++digits)
                    zone = zone * 10 + (*value - '0');
                return digits && SkipBlanks(value) == end && zone <= kLastZone ? zone
                                                                               : ZONE_UNREADABLE;
            }
        }
        line = *end ? end + 1 : end;
    }
    return ZONE_UNREADABLE;
}

Zone_Mark Zone_Read(const char* file) {
    char path[MAX_PATH + sizeof kStream], bytes[kMarkBytes + 1];
    if (!StreamPath(file, path))
        return {ZONE_UNREADABLE, ERROR_FILENAME_EXCED_RANGE};
    const HANDLE stream =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // No mark, or no file to carry one: nothing for Windows to act on.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return {ZONE_NONE, 0};
        return {ZONE_UNREADABLE, error};
    }
    DWORD got = 0;
    const bool read = ReadFile(stream, bytes, kMarkBytes, &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(stream);
    if (!read)
        return {ZONE_UNREADABLE, error};
    return {Zone_Parse(bytes, got), 0};
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

bool Zone_Program(const char* commandLine, char* file) {
    const char* end = App_CommandTail(commandLine, CP_ACP);
    while (end > commandLine && static_cast<unsigned char>(end[-1]) <= 0x20)
        --end;
    // Quotes only group the blanks of a path: a quoted part may start or end anywhere in it.
    int length = 0;
    for (const char* at = commandLine; at < end; ++at) {
        if (*at == '"')
            continue;
        if (length == MAX_PATH - 1)
            return false;
        file[length++] = *at;
    }
    file[length] = '\0';
    // A name without its folder is searched for, as the shell searches: only a full path names
    // the one file Windows will start.
    return (length > 2 && file[1] == ':' && (file[2] == '\\' || file[2] == '/')) ||
           (file[0] == '\\' && file[1] == '\\');
}
