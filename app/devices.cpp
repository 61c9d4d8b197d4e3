// murmex-devices' console lines, its device list and its verdict on a name. The tail is read,
// settled and matched by murmex.exe's own functions, so the answer cannot drift from the
// program's choice; only the advice for a name that chooses nothing is this program's own.
#include <windows.h>
#include <mmsystem.h>

#include "devices.h"
#include "wave_lib.h"

namespace {

constexpr size_t kProductNameChars = MAXPNAMELEN - 1; // what szPname keeps of a product name
constexpr int kLineChars = 1024 + 2; // wvsprintfA writes at most 1024 characters, then CR LF

// The names are bytes of the ANSI code page, which a console does not show unless it happens to
// use it: a console gets them as UTF-16, a file or pipe the very bytes a name is typed as.
void WriteBytes(const char* text, int length) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(out, &mode)) {
        WCHAR wide[kLineChars];
        const int chars = MultiByteToWideChar(CP_ACP, 0, text, length, wide, kLineChars);
        WriteConsoleW(out, wide, static_cast<DWORD>(chars), &written, nullptr);
    } else {
        WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr);
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

void Write(const char* text) {
    WriteBytes(text, lstrlenA(text));
}

void Devices_SystemText(DWORD code, char* text) {
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                        0, text, DEVICES_TEXT_CHARS, nullptr))
        wsprintfA(text, "error %lu", code);
    for (int end = lstrlenA(text); end > 0 && static_cast<unsigned char>(text[end - 1]) <= 0x20;)
        text[--end] = '\0';
}

bool Devices_ProgramBeside(char* file) {
    static const char kProgram[] = "murmex.exe";
    const DWORD length = GetModuleFileNameA(nullptr, file, MAX_PATH);
    char* name = file + length;
    while (name > file && name[-1] != '\\')
        --name;
    if (length == 0 || length >= MAX_PATH || name + sizeof kProgram > file + MAX_PATH)
        return false;
    lstrcpyA(name, kProgram);
    return true;
}

void Say(const char* format, ...) {
    char line[kLineChars];
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(line, format, args);
    va_end(args);
    line[length++] = '\r';
    line[length++] = '\n';
    WriteBytes(line, length);
}

// The mistakes a user can mend, each said once, then what the mended name would choose. Blanks
// are taken off the end before quotes are looked for: cmd leaves the blank after a quoted name.
void Devices_Advise(const char* name) {
    size_t first = 0, end = lstrlenA(name);
    bool blank = false, quotes = false;
    for (;;) {
        if (end > first && IsBlank(name[end - 1])) {
            --end;
            blank = true;
        } else if (end - first >= 2 && name[first] == '"' && name[end - 1] == '"') {
            ++first;
            --end;
            quotes = true;
        } else {
            break;
        }
    }
    const bool longer = end - first > kProductNameChars;
    char mended[kProductNameChars + 1];
    lstrcpynA(mended, name + first, static_cast<int>(longer ? kProductNameChars : end - first) + 1);

    if (blank)
        Say("- It ends in a blank, part of the name: cmd keeps a blank typed before a >.");
    if (quotes)
        Say("- It is wrapped in quotes, which are part of the name: give it without them.");
    if (longer)
        Say("- It is longer than the %u characters Windows keeps of a product name.",
            static_cast<unsigned>(kProductNameChars));
    if (!blank && !quotes && !longer) {
        Say("Give the start of a product name above. A device switched off or unplugged is");
        Say("not listed: murmex.exe plays on it once it is back, but this list cannot tell.");
        return;
    }
    // Settled like a typed name: mended to nothing (a pair of quotes), it is the default.
    char settled[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    App_SettleNames(mended, settled, guard);
    const int chosen = WaveLib_FindDevice(settled);
    if (chosen >= 0)
        Say("Mended to [%s], it would choose device %d.", settled, chosen);
    else
        Say("Mended to [%s], it would choose no device either.", settled);
}

int Devices_Verdict(const char* name, bool settled, bool given) {
    const int chosen = settled ? WaveLib_FindDevice(name) : -1;
    Say("murmex.exe plays on the first device whose product name begins with the name");
    Say("(A to Z in either letter case). Wave-out devices, as Windows gives them to it:");
    const UINT count = waveOutGetNumDevs();
    if (count == 0)
        Say("  (none)");
    for (UINT id = 0; id < count; ++id) {
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR) {
            Say("%4u  (Windows gives no name: passed by)", id);
            continue;
        }
        const char* mark = static_cast<int>(id) == chosen ? "  <- chosen"
                           : WaveLib_NameMatches(caps.szPname, name)
                               ? "  <- matches too; the first is chosen"
                               : "";
        Say("%4u  %s%s", id, caps.szPname, mark);
    }

    // A refused name is far too long to match anything: the advice still says why.
    if (!settled)
        Say("Name: %d characters, too long for murmex.exe: it ends at once.", lstrlenA(name));
    else if (given)
        Say("Name: [%s] (%d characters)", name, lstrlenA(name));
    else
        Say("Name: [%s], the default, as none was given", name);
    if (chosen >= 0) {
        Say("Chosen: device %d. murmex.exe started with this name plays there.", chosen);
    } else {
        Say("Chosen: none. murmex.exe started with this name plays nothing, says nothing.");
        Devices_Advise(name);
    }
    return chosen;
}
