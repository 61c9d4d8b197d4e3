#include "command_line.h"

#include <string.h>

namespace {

constexpr char kDefaultDeviceName[] = "ATI HDMI Output";
constexpr char kGuardFormat[] = MURMEX_GUARD_PREFIX "%s";

bool IsBlankOrControl(unsigned char c) {
    return c >= 0x01 && c <= 0x20;
}

} // namespace

// Works on the raw command line: the C runtime's own command tail compares bytes as
// signed chars and drops every byte of 0x80 and above as if it were a blank.
const char* App_ProgramEnd(const char* commandLine, UINT codePage) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    bool inQuotes = false;
    while (*p != '\0' && (*p > 0x20 || inQuotes)) {
        if (*p == '"')
            inQuotes = !inQuotes;
        else if (IsDBCSLeadByteEx(codePage, *p) && p[1] != '\0')
            ++p; // the trail byte goes with it, but never the terminator
        ++p;
    }
    return reinterpret_cast<const char*>(p);
}

const char* App_CommandTail(const char* commandLine, UINT codePage) {
    const char* p = App_ProgramEnd(commandLine, codePage);
    while (IsBlankOrControl(*p))
        ++p;
    return p;
}

bool App_DeviceAndGuardNames(const char* tail, char* deviceName, char* guardName) {
    const char* name = (tail && *tail) ? tail : kDefaultDeviceName;
    const size_t length = strlen(name);
    // Refuse rather than truncate: a cut name would guard and match another device.
    if (length > APP_LONGEST_NAME)
        return false;
    memcpy(deviceName, name, length + 1);
    wsprintfA(guardName, kGuardFormat, deviceName);
    return true;
}
