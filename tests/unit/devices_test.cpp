// The companion's verdict and its sign-in entries, against the scripted service and a Run key as
// a user's looks: other programs' entries, look-alikes, hand-made entries and Task Manager's
// switches. The user's registry is a scratch key put in HKEY_CURRENT_USER's place.
#include <gtest/gtest.h>

#include "devices.h"
#include "fake_wave_out.h"
#include "wave_lib.h"

#include <string>
#include <vector>

namespace {

constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kSwitches[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr char kScratch[] = "Software\\Murmex tests\\user";
constexpr char kLg[] = "LG TV (NVIDIA High Definition A";

const std::vector<fake::Device> kDevices = {
    {"Speakers (Realtek High Definiti"}, {kLg}, {"LG TV SSCR2"}, {"Monitor (HDMI)"}};

// Task Manager's record of a switch: an even first byte is on, an odd one off, then the time of
// the switch-off. Both pairs are seen on Windows 10 and 11.
constexpr BYTE kOn2[12] = {2}, kOn6[12] = {6};
constexpr BYTE kOff3[12] = {3, 0, 0, 0, 0xD4, 0x0D, 0x43, 0x8D, 0xC8, 0x3B, 0xD9, 0x01};
constexpr BYTE kOff7[12] = {7, 0, 0, 0, 0x71, 0xC9, 0x33, 0xAE, 0x16, 0xD9, 0xD1, 0x01};

struct RunValue {
    const char* name;
    const char* data;
    const BYTE* approved; // nullptr: Task Manager has never switched it
    DWORD type = REG_SZ;
};

// Written in name order, so that any enumeration order lists them so. Each device with two
// entries has the one switched off first once and last once.
const RunValue kUsersKey[] = {
    {"Alpha Murmex", "\"C:\\Tools\\Murmex\\murmex.exe\" LG TV", kOff7},
    {"Beta", "C:\\Tools\\Murmex\\MURMEX.EXE lg tv (NVIDIA", kOn6},
    {"Gamma", "\"C:\\Tools\\Murmex\\murmex.exe\" Speakers", kOn2},
    {"Murmex: Monitor", "\"C:\\Program Files\\Vendor\\display-tool.exe\" /tray", nullptr},
    {"Murmex: Speakers", "\"C:\\Tools\\Murmex\\murmex.exe\" Speakers (Realtek", kOff3},
    {"OneDrive", "\"C:\\Users\\Ann\\AppData\\Local\\Microsoft\\OneDrive\\OneDrive.exe\" /background",
     kOn2},
    {"SecurityHealth", "%windir%\\system32\\SecurityHealthSystray.exe", kOn6, REG_EXPAND_SZ},
    {"Tray notmurmex", "\"C:\\Apps\\notmurmex.exe\" LG TV SSCR2", nullptr},
    {"Tray xmurmex", "C:\\Apps\\Xmurmex.exe Monitor", nullptr},
    {"Zeta", "\"D:\\Murmex\\murmex.exe\" LG TV SS", nullptr},
};

// HKEY_CURRENT_USER is the scratch key, holding the values above, until the test ends.
struct UsersKey : ::testing::Test {
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &scratch, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);
        for (const RunValue& v : kUsersKey) {
            ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kRun, v.name, v.type, v.data,
                                      lstrlenA(v.data) + 1),
                      ERROR_SUCCESS);
            if (v.approved) {
                ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kSwitches, v.name, REG_BINARY,
                                          v.approved, 12),
                          ERROR_SUCCESS);
            }
        }
        fake::Reset(kDevices);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(scratch);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    }
    HKEY scratch = nullptr;
};

std::vector<std::string> Listed() {
    Signin_Entries entries;
    Signin_List(&entries);
    std::vector<std::string> listed;
    for (int i = 0; i < entries.count; ++i)
        listed.push_back(std::string(entries.entry[i].value) + " [" + entries.entry[i].name + "]" +
                         (entries.entry[i].off ? " off" : ""));
    return listed;
}

// The sign-in line Signin_Tell says for a name, and the status it finds.
std::string SignIn(const char* name, Signin_Status* status) {
    Signin_Entries entries;
    Signin_List(&entries);
    const std::string said =
        Stdout([&] { Signin_Tell(&entries, name, WaveLib_FindDevice(name), status); });
    return said.substr(said.find("Starts at sign-in:"));
}

std::string Data(const char* value) {
    char data[640] = "";
    DWORD bytes = sizeof data;
    RegGetValueA(HKEY_CURRENT_USER, kRun, value, RRF_RT_REG_SZ, nullptr, data, &bytes);
    return data;
}

TEST_F(UsersKey, OnlyMurmexEntriesAreListedEachSwitchedAsTaskManagerShowsIt) {
    EXPECT_EQ(Listed(), (std::vector<std::string>{
                            "Alpha Murmex [LG TV] off", "Beta [lg tv (NVIDIA]", "Gamma [Speakers]",
                            "Murmex: Speakers [Speakers (Realtek] off", "Zeta [LG TV SS]"}));
}

// Of a device's entries the one that starts it is said, whichever comes first; a look-alike
// program's entry starts nothing of ours.
TEST_F(UsersKey, TheStatusNamesTheEntryThatStartsTheDevice) {
    struct {
        const char* name;
        const char* said;
    } const cases[] = {
        {"lg tv", "yes, \"Beta\" = C:\\Tools\\Murmex\\MURMEX.EXE lg tv (NVIDIA"},
        {"SPEAKERS", "yes, \"Gamma\" = \"C:\\Tools\\Murmex\\murmex.exe\" Speakers"},
        {"LG TV SSCR2", "yes, \"Zeta\" = \"D:\\Murmex\\murmex.exe\" LG TV SS"},
        {"Monitor", "no entry starts murmex.exe for it."},
    };
    Signin_Status status;
    for (const auto& c : cases)
        EXPECT_EQ(SignIn(c.name, &status), std::string("Starts at sign-in: ") + c.said + "\n")
            << c.name;

    // Task Manager switches Gamma off: the device's other entry is off too.
    RegSetKeyValueA(HKEY_CURRENT_USER, kSwitches, "Gamma", REG_BINARY, kOff3, 12);
    EXPECT_EQ(SignIn("Speakers", &status),
              "Starts at sign-in: no, \"Gamma\" = \"C:\\Tools\\Murmex\\murmex.exe\" Speakers is "
              "switched off in Task Manager's Startup apps: Enable there switches it on.\n");
}

// A value of the name the companion would write that starts something else is never
// overwritten; a new name is written in the companion's form, beside the program's own folder.
TEST_F(UsersKey, AddingWritesItsOwnValueOnlyAndRemovingTakesTheOneChosen) {
    Signin_Status status;
    const HANDLE guards[] = {CreateEventA(nullptr, FALSE, FALSE, "Murmex-Monitor"),
                             CreateEventA(nullptr, FALSE, FALSE, "Murmex-Monitor (HDMI)")};
    SignIn("Monitor", &status);
    EXPECT_EQ(Stdout([&] { Signin_Add("Monitor", &status); }),
              "The Run key has a value \"Murmex: Monitor\" already, for something else: nothing "
              "written.\n");
    EXPECT_EQ(Data("Murmex: Monitor"), kUsersKey[3].data);

    char folder[MAX_PATH];
    *strrchr((GetModuleFileNameA(nullptr, folder, MAX_PATH), folder), '\\') = '\0';
    const std::string data = "\"" + std::string(folder) + "\\murmex.exe\" Monitor (HDMI)";
    SignIn("Monitor (HDMI)", &status); // its guard is held: a copy runs, none is started
    EXPECT_EQ(Stdout([&] { Signin_Add("Monitor (HDMI)", &status); }),
              "Starts at sign-in: yes, written \"Murmex: Monitor (HDMI)\" = " + data +
                  "\nRunning now: yes already, as [Monitor (HDMI)]: not started again.\n");
    EXPECT_EQ(Data("Murmex: Monitor (HDMI)"), data);
    for (HANDLE guard : guards)
        CloseHandle(guard);

    Signin_Entries entries;
    Signin_List(&entries);
    Stdout([&] { Signin_Remove(&entries.entry[2]); });
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Alpha Murmex [LG TV] off",
                                                  "Beta [lg tv (NVIDIA]",
                                                  "Murmex: Monitor (HDMI) [Monitor (HDMI)]",
                                                  "Murmex: Speakers [Speakers (Realtek] off",
                                                  "Zeta [LG TV SS]"}));
    EXPECT_EQ(Data("OneDrive"), kUsersKey[5].data);
}

// Exactly one device is chosen, the first that matches; a mended name is matched again.
TEST(Verdict, MarksTheFirstMatchChosenAndTheMendedNamesOwnChoice) {
    fake::Reset(kDevices);
    const std::string said = Stdout([] { EXPECT_EQ(Devices_Verdict("lg tv", true, true), 1); });
    EXPECT_NE(said.find("   0  Speakers (Realtek High Definiti\n"
                        "   1  LG TV (NVIDIA High Definition A  <- chosen\n"
                        "   2  LG TV SSCR2  <- matches too; the first is chosen\n"
                        "   3  Monitor (HDMI)\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(Stdout([] { Devices_Advise("\"lg tv ss\" "); }),
              "- It ends in a blank, part of the name: cmd keeps a blank typed before a >.\n"
              "- It is wrapped in quotes, which are part of the name: give it without them.\n"
              "Mended to [lg tv ss], it would choose device 2.\n");
}

} // namespace
