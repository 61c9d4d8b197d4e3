// The rule the Windows Installer package applies to its DEVICE property: the name its sign-in
// entry gives murmex.exe must be one murmex.exe reads back whole and can use.
#pragma once

enum Setup_DeviceFault {
    SETUP_DEVICE_OK,
    SETUP_DEVICE_QUOTE,    // murmex.exe would take it as part of the name
    SETUP_DEVICE_LEADING,  // a blank or control byte first: murmex.exe skips it
    SETUP_DEVICE_TRAILING, // a blank last: murmex.exe keeps it, and no product name ends so
    SETUP_DEVICE_CONTROL,  // a tab or a line end within: no product name holds one
    SETUP_DEVICE_TOO_LONG, // longer than Windows keeps of a product name: it chooses no device
};

// device: the bytes murmex.exe reads back, in the system's code page.
Setup_DeviceFault Setup_CheckDevice(const char* device);
