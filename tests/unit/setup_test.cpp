// The package's rule for DEVICE: what murmex.exe would read back from the sign-in entry and use.
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "device_rule.h"

namespace {

struct DeviceCase {
    std::string device;
    Setup_DeviceFault fault;
};

const DeviceCase kDevices[] = {
    {"LG TV (NVIDIA High Definition A", SETUP_DEVICE_OK},
    {"#2 TV [HDMI] & Co. \xC9tude", SETUP_DEVICE_OK}, // the package keeps these whole
    {"LG TV (NVIDIA High Definition Audio)", SETUP_DEVICE_TOO_LONG}, // Windows keeps 31 of them
    {"\"LG TV\"", SETUP_DEVICE_QUOTE},
    {" LG TV", SETUP_DEVICE_LEADING},
    {"LG TV ", SETUP_DEVICE_TRAILING},
    {"LG TV\r\n", SETUP_DEVICE_CONTROL},
    {std::string(253, ' '), SETUP_DEVICE_LEADING}, // the first fault is the one said
};

TEST(SetupDevice, RefusesWhatMurmexCouldNotReadBackOrUse) {
    for (const DeviceCase& c : kDevices)
        EXPECT_EQ(Setup_CheckDevice(c.device.c_str()), c.fault) << testing::PrintToString(c.device);
}

} // namespace
