// The companion's verdict and its sign-in entries, against the scripted service and a Run key as
// a user's looks: other programs' entries, look-alikes, hand-made entries and Task Manager's
// switches. The user's registry is a scratch key put in HKEY_CURRENT_USER's place.
#include <gtest/gtest.h>

#include "devices.h"
#include "fake_wave_out.h"
#include "wave_lib.h"

namespace {

constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kSwitches[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr char kScratch[] = "Software\\Murmex tests\\user";

const std::vector<fake::Device> kDevices = {{"Speakers (Realtek High Definiti"},
                                            {"LG TV (NVIDIA High Definition A"},
                                            {"LG TV SSCR2"},
                                            {"Monitor (HDMI)"}};

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
    RegSetKeyValueA(HKEY_CURRENT_USER, kSwitches, value, REG_BINARY, record, sizeof record);
}

std::string Data(const char* value) {
    char data[640] = "";
    DWORD bytes = sizeof data;
    RegGetValueA(HKEY_CURRENT_USER, kRun, value, RRF_RT_REG_SZ, nullptr, data, &bytes);
    return data;
}

std::string Listed(Signin_Entries* entries) {
    Signin_List(entries);
    std::string listed;
    for (const Signin_Entry* e = entries->entry; e < entries->entry + entries->count; ++e)
        listed += std::string(e->value) + " [" + e->name + "]" + (e->off ? " off" : "") + "; ";
    return listed;
}

// What the companion says of a name, from its sign-in line on.
std::string SignIn(const char* name, Signin_Status* status) {
    Signin_Entries entries;
    Signin_List(&entries);
    const std::string said =
        Stdout([&] { Signin_Tell(&entries, name, WaveLib_FindDevice(name), status); });
    return said.substr(said.find("Starts at sign-in: ") + 19);
}

TEST(SignIn, WalksAUsersRunKey) {
    HKEY scratch;
    RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kScratch, &scratch), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);
    for (auto [value, data, how] : kUsersKey) {
        RegSetKeyValueA(HKEY_CURRENT_USER, kRun, value, REG_SZ, data, lstrlenA(data) + 1);
        if (how != '-')
            Switch(value, how);
    }
    fake::Reset(kDevices);

    // Only what starts a murmex.exe, switched as Task Manager shows it; of a device's entries the
    // one that starts it is said, whichever comes first.
    Signin_Entries entries;
    EXPECT_EQ(Listed(&entries), "Alpha Murmex [LG TV] off; Beta [lg tv (NVIDIA]; Gamma [Speakers]; "
                                "Murmex: Speakers [Speakers (Realtek] off; Zeta [LG TV SS]; ");
    Signin_Status status;
    for (auto [name, said] :
         {std::pair{"lg tv", "yes, \"Beta\" = C:\\Tools\\Murmex\\MURMEX.EXE lg tv (NVIDIA"},
          {"SPEAKERS", "yes, \"Gamma\" = \"C:\\Tools\\Murmex\\murmex.exe\" Speakers"},
          {"LG TV SSCR2", "yes, \"Zeta\" = \"D:\\Murmex\\murmex.exe\" LG TV SS"},
          {"Monitor", "no entry starts murmex.exe for it."}})
        EXPECT_EQ(SignIn(name, &status), std::string(said) + "\n");
    Switch("Gamma", '3');
    EXPECT_EQ(SignIn("Speakers", &status),
              "no, \"Gamma\" = \"C:\\Tools\\Murmex\\murmex.exe\" Speakers is switched off in "
              "Task Manager's Startup apps: Enable there switches it on.\n");

    // Someone else's value of the name it would write is kept; a new one is written in the
    // companion's form. Their copies run (their guards are held), so none is started.
    const HANDLE guards[] = {CreateEventA(nullptr, FALSE, FALSE, "Murmex-Monitor"),
                             CreateEventA(nullptr, FALSE, FALSE, "Murmex-Monitor (HDMI)")};
    SignIn("Monitor", &status);
    EXPECT_EQ(Stdout([&] { Signin_Add("Monitor", &status); }),
              "The Run key has a value \"Murmex: Monitor\" already, for something else: nothing "
              "written.\n");
    EXPECT_EQ(Data("Murmex: Monitor"), std::get<1>(kUsersKey[3]));
    char folder[MAX_PATH];
    *strrchr((GetModuleFileNameA(nullptr, folder, MAX_PATH), folder), '\\') = '\0';
    const std::string data = "\"" + std::string(folder) + "\\murmex.exe\" Monitor (HDMI)";
    SignIn("Monitor (HDMI)", &status);
    EXPECT_EQ(Stdout([&] { Signin_Add("Monitor (HDMI)", &status); }),
              "Starts at sign-in: yes, written \"Murmex: Monitor (HDMI)\" = " + data +
                  "\nRunning now: yes already, as [Monitor (HDMI)]: not started again.\n");
    EXPECT_EQ(Data("Murmex: Monitor (HDMI)"), data);
    for (HANDLE guard : guards)
        CloseHandle(guard);

    // The third of six listed goes, and nothing else.
    Listed(&entries);
    Stdout([&] { Signin_Remove(&entries.entry[2]); });
    EXPECT_EQ(Listed(&entries), "Alpha Murmex [LG TV] off; Beta [lg tv (NVIDIA]; Murmex: Monitor "
                                "(HDMI) [Monitor (HDMI)]; Murmex: Speakers [Speakers (Realtek] "
                                "off; Zeta [LG TV SS]; ");
    EXPECT_EQ(Data("OneDrive"), std::get<1>(kUsersKey[5]));

    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(scratch);
    RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
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
