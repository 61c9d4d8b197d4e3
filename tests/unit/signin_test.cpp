// The companion's device choice and its sign-in entries, against the scripted service and a Run key
// as a user's looks: other programs' entries, look-alikes, hand-made entries and Task Manager's
// switches.
#include <gtest/gtest.h>

#include <string>

#include "fake_wave_out.h"
#include "scratch_registry.h"
#include "signin.h"

namespace {

const std::vector<fake::Device> kDevices = {{"Speakers (Realtek High Definiti"},
                                            {"LG TV (NVIDIA High Definition A"},
                                            {"LG TV SSCR2"},
                                            {"Monitor (HDMI)"}};

// Exactly one device is chosen, the first that matches; a corrected name is matched again.
TEST(Choice, MarksTheFirstMatchChosenAndAdvisesOnTheCorrectedName) {
    fake::Reset(kDevices);
    Devices_List list;
    Devices_Read(&list);
    Devices_Choice choice;
    Devices_ChoiceOf(&list, "lg tv", &choice);
    EXPECT_EQ(choice.chosen, 1);
    EXPECT_EQ(std::vector(choice.standing, choice.standing + list.count),
              std::vector({DEVICES_OTHER, DEVICES_CHOSEN, DEVICES_MATCHES_TOO, DEVICES_OTHER}));

    Devices_Advice advice;
    Devices_Advise(&list, "\"lg tv ss\" ", &advice);
    EXPECT_EQ(std::tuple(advice.blank, advice.quotes, advice.longer, std::string(advice.corrected),
                         advice.chosen),
              std::tuple(true, true, false, std::string("lg tv ss"), 2));
}

// In name order, so that any enumeration order lists them so: each device with two entries has
// the one switched off first once and last once.
const std::tuple<const char*, const char*, char> kUsersKey[] = {
    {"Alpha Murmex", "\"C:\\Tools\\Murmex\\murmex.exe\" LG TV", '7'},
    {"Beta", "C:\\Tools\\Murmex\\MURMEX.EXE lg tv (NVIDIA", '6'},
    {"Gamma", "\"C:\\Tools\\Murmex\\murmex.exe\" Speakers", '2'},
    {"Murmex: Monitor", "\"C:\\Program Files\\Vendor\\display-tool.exe\" /tray", '-'},
    {"Murmex: Speakers", "\"C:\\Tools\\Murmex\\murmex.exe\" Speakers (Realtek", '3'},
    {"OneDrive",
     "\"C:\\Users\\Ann\\AppData\\Local\\Microsoft\\OneDrive\\OneDrive.exe\" /background", '2'},
    {"SecurityHealth", "%windir%\\system32\\SecurityHealthSystray.exe", '6'},
    {"Tray notmurmex", "\"C:\\Apps\\notmurmex.exe\" LG TV SSCR2", '-'},
    {"Tray xmurmex", "C:\\Apps\\Xmurmex.exe Monitor", '-'},
    {"Zeta", "\"D:\\Murmex\\murmex.exe\" LG TV SS", '-'},
};

// Task Manager's record of a switch: an even first byte is on, an odd one off, then the time of
// the switch-off; both pairs are seen on Windows 10 and 11. '-': never switched.
void Switch(const char* value, char how) {
    BYTE record[12] = {static_cast<BYTE>(how - '0')};
    if (how & 1)
        memcpy(record + 4, "\xD4\x0D\x43\x8D\xC8\x3B\xD9\x01", 8);
    RegSetKeyValueA(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run",
                    value, REG_BINARY, record, sizeof record);
}

struct SignIn : ScratchRegistry {
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ScratchRegistry::SetUp());
        for (auto [value, data, how] : kUsersKey) {
            Write(kRun, value, data);
            if (how != '-')
                Switch(value, how);
        }
        fake::Reset(kDevices);
        Devices_Read(&list);
    }
    // The value of the entry said for a name, " off" when switched off, and the copy running.
    std::string Status(const char* name) {
        Signin_Entries entries;
        Signin_Status status;
        Signin_Find(&list, name, Devices_Choose(&list, name), &entries, &status);
        const Signin_Entry* entry = status.entry;
        return (entry ? std::string(entry->value) + (entry->off ? " off" : "") : "none") + ", [" +
               status.runningAs + "]";
    }
    Devices_List list;
};

// Only what starts a murmex.exe, switched as Task Manager shows it, with the name it plays on.
TEST_F(SignIn, ListsTheEntriesThatStartAMurmexExe) {
    Signin_Entries entries;
    Signin_List(&entries);
    std::string listed;
    for (const Signin_Entry* e = entries.entry; e < entries.entry + entries.count; ++e)
        listed += std::string(e->value) + " [" + e->name + "]" + (e->off ? " off" : "") + "; ";
    EXPECT_EQ(listed, "Alpha Murmex [LG TV] off; Beta [lg tv (NVIDIA]; Gamma [Speakers]; "
                      "Murmex: Speakers [Speakers (Realtek] off; Zeta [LG TV SS]; ");
}

// Of a device's entries the one that starts it is said, whichever comes first; a copy runs for a
// device when it holds the guard of any name that chooses it, its product name too.
TEST_F(SignIn, SaysTheEntryThatStartsTheDeviceAndTheCopyThatRuns) {
    const HANDLE guard = CreateEventA(nullptr, FALSE, FALSE, MURMEX_GUARD_PREFIX "Monitor (HDMI)");
    for (auto [name, said] : {std::pair{"lg tv", "Beta, []"},
                              {"SPEAKERS", "Gamma, []"},
                              {"LG TV SSCR2", "Zeta, []"},
                              {"Monitor", "none, [Monitor (HDMI)]"},
                              {"Realtek", "none, []"}})
        EXPECT_EQ(Status(name), said) << name;
    CloseHandle(guard);
    Switch("Gamma", '3');
    EXPECT_EQ(Status("Speakers"), "Gamma off, []");
}

} // namespace
