#include "device_rule.h"

#include <string.h>

#include "command_line.h"

// The entry's command line is the quoted path, a blank and the name: what murmex.exe reads back
// as its tail is the name from its first byte above the blank on, to the end.
Setup_DeviceFault Setup_CheckDevice(const char* device) {
    const size_t length = strlen(device);
    if (strchr(device, '"'))
        return SETUP_DEVICE_QUOTE;
    if (length && static_cast<unsigned char>(device[0]) <= 0x20)
        return SETUP_DEVICE_LEADING;
    if (length && (device[length - 1] == ' '))
        return SETUP_DEVICE_TRAILING;
    for (const char* c = device; *c; ++c)
        if (static_cast<unsigned char>(*c) < 0x20)
            return SETUP_DEVICE_CONTROL;
    return length > MURMEX_PRODUCT_NAME_CHARS ? SETUP_DEVICE_TOO_LONG : SETUP_DEVICE_OK;
}
