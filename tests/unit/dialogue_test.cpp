// The dialogue of a double-clicked companion, one row a story: the answers typed, what the window
// then shows (answers echoed as typed) and what changed in the Run key and the download marks.
// Every row starts from one user's registry, a scratch key in HKEY_CURRENT_USER's place: entries
// of murmex.exe, one switched off in Task Manager, and of other programs, a copy running for the
// monitor, and where the row says so a policy that hides the ways to remove marks. {other} is a
// murmex.exe in a folder of its own that an entry starts, with an internet mark; {beside} the one
// beside this program, with none, which a new entry starts.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "console.h"
#include "dialogue.h"
#include "fake_wave_out.h"

namespace {

struct DialogueCase {
    const char* story;
    bool policy;
    std::vector<std::string> typed;
    std::string said;
    std::string changed; // "-value; " removed, "+value = data; " added, then "unmarked": {other}
};
void PrintTo(const DialogueCase& row, std::ostream* out) {
    *out << row.story;
}

const std::pair<const char*, const char*> kRun[] = {
    {"Alpha", "\"C:\\Tools\\murmex.exe\" LG TV"},
    {"Beta", "C:\\Tools\\MURMEX.EXE Speakers"},
    {"Gamma", "\"{other}\" Speakers"},
    {"Murmex: Monitor", "\"C:\\Program Files\\Vendor\\display-tool.exe\" /tray"},
    {"OneDrive", "\"C:\\OneDrive.exe\" /background"},
    {"Tray xmurmex", "C:\\Xmurmex.exe Monitor"},
};

#define ASKED(typed)                                                                               \
    "\nDevice: " typed "\n[" typed "] chooses device 3.\nRunning now: yes, murmex.exe holds the "  \
    "guard of [Monitor (HDMI)].\nStarts at sign-in: no entry starts murmex.exe for it.\nStart "    \
    "murmex.exe for it now and at every sign-in? (y/n) "
#define UNBLOCK "Remove the mark from that file alone, as Properties > Unblock does? (y/n) "
#define KEPT                                                                                       \
    UNBLOCK "n\nThe mark stays, and Windows keeps acting on it at sign-in.\nTo remove it later: "  \
            "Properties > Unblock on the file, or in PowerShell: Unblock-File -LiteralPath "       \
            "\"{other}\"\n"
#define SPEAKERS                                                                                   \
    "\nDevice: speakers\n[speakers] chooses device 0.\nRunning now: no murmex.exe plays on it.\n"  \
    "Starts at sign-in: yes, \"Gamma\" = \"{other}\" Speakers\nDownload mark: {other} came from "  \
    "the internet (zone 3). At every sign-in Windows shows \"Open File - Security Warning\" for "  \
    "it, and Murmex starts only once someone clicks Run.\nRemoving the mark from that file ends "  \
    "it: Properties > Unblock, PowerShell's Unblock-File, or this program, double-clicked.\nIt "   \
    "has a sign-in entry already: no second one is written.\n"
#define NO_START                                                                                   \
    "Start murmex.exe for it now, with the entry's command line? (y/n) n\nNothing changed.\n"

const std::string kLong(253, 'x');

// clang-format off
const DialogueCase kCases[] = {
    {"answers that choose nothing change nothing, nor does the input's end", false,
     {"9", "realtek", "\"lg tv ss\" ", kLong},
     "\nDevice: 9\nNo device 9 is listed: nothing changed.\n\nDevice: realtek\n[realtek] chooses "
     "no device: nothing changed.\nGive the start of a product name above. A device switched off "
     "or unplugged is\nnot listed: murmex.exe plays on it once it is back, but this list cannot "
     "tell.\n\nDevice: \"lg tv ss\" \n[\"lg tv ss\" ] chooses no device: nothing changed.\n- It "
     "ends in a blank, part of the name: cmd keeps a blank typed before a >.\n- It is wrapped in "
     "quotes, which are part of the name: give it without them.\nMended to [lg tv ss], it would "
     "choose device 2.\n\nDevice: " + kLong + "\nName: 253 characters, too long for murmex.exe: "
     "it ends at once. Nothing changed.\n\nDevice: \nThe input has ended: nothing more is "
     "changed.\n", ""},
    {"an answer not understood is a no; someone's value of the entry's name is kept; a new entry "
     "starts {beside}, and a copy that runs is not started again",
     false, {"monitor", "", "monitor", "y", "Monitor (HDMI)", "y", ""},
     ASKED("monitor") "\nNothing changed.\n" ASKED("monitor") "y\nThe Run key has a value \"Murmex: "
     "monitor\" already, for something else: nothing written.\n" ASKED("Monitor (HDMI)") "y\n"
     "Starts at sign-in: yes, written \"Murmex: Monitor (HDMI)\" = \"{beside}\" Monitor (HDMI)\n"
     "Running now: yes already, as [Monitor (HDMI)]: not started again.\n\nDevice: \n",
     "+Murmex: Monitor (HDMI) = \"{beside}\" Monitor (HDMI); "},
    {"of a device's entries the one switched on is said; the mark of the murmex.exe it starts "
     "elsewhere is kept after a no and removed after a yes, there alone", false,
     {"speakers", "n", "n", "speakers", "y", "n", ""},
     SPEAKERS KEPT NO_START SPEAKERS UNBLOCK "y\nRemoved the mark from {other} alone: "
     "Windows starts it at sign-in without a word.\n" NO_START "\nDevice: \n",
     "unmarked"},
    {"a policy that hides the ways to remove marks is said, and no mark is offered", true,
     {"speakers", "n", ""},
     SPEAKERS "A policy of this computer hides the ways to remove download marks: its "
     "administrator can unblock the file.\n" NO_START "\nDevice: \n", ""},
    {"only entries that start a murmex.exe are listed, as switched; the one numbered in the "
     "middle is the one removed", false, {"-", "2", ""},
     "\nDevice: -\nSign-in entries that start murmex.exe:\n   1  \"Alpha\" = \"C:\\Tools\\murmex.exe\" "
     "LG TV\n   2  \"Beta\" = C:\\Tools\\MURMEX.EXE Speakers  (switched off)\n   3  \"Gamma\" = "
     "\"{other}\" Speakers\nEntry to remove (its number; Enter alone keeps them all): 2\nRemoved "
     "\"Beta\": it no longer starts murmex.exe at sign-in.\nA copy running now keeps running. To "
     "stop it: taskkill /F /IM murmex.exe (every copy),\nor end murmex.exe in Task Manager's "
     "Details tab, or sign out.\n\nDevice: \n", "-Beta; "},
};
// clang-format on

constexpr char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";
constexpr char kScratch[] = "Software\\Murmex tests\\user";
std::vector<std::string> g_typed;

// Answers in turn, each echoed as the window shows it.
bool Typed(char* line) {
    if (g_typed.empty())
        return false;
    lstrcpynA(line, g_typed.front().c_str(), CONSOLE_TYPED_CHARS);
    const std::string echo = g_typed.front() + "\n";
    g_typed.erase(g_typed.begin());
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), echo.data(), echo.size(), &written, nullptr);
    return true;
}

void Set(const char* key, const char* value, DWORD type, const void* data, DWORD size) {
    RegSetKeyValueA(HKEY_CURRENT_USER, (kKey + std::string(key)).c_str(), value, type, data, size);
}

std::map<std::string, std::string> RunKey() {
    std::map<std::string, std::string> values;
    char value[300], data[640];
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, (kKey + std::string("Run")).c_str(), 0, KEY_READ, &key);
    for (DWORD i = 0, chars = sizeof value, bytes = sizeof data;
         RegEnumValueA(key, i, value, &chars, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                       &bytes) == ERROR_SUCCESS;
         ++i, chars = sizeof value, bytes = sizeof data)
        values[value] = data;
    RegCloseKey(key);
    return values;
}

std::string Here() { // this program's folder
    char path[MAX_PATH];
    return std::string(path, GetModuleFileNameA(nullptr, path, MAX_PATH))
        .erase(strrchr(path, '\\') - path + 1);
}

// The registry is put back, and the files and the guard gone, whatever stops a row.
struct Dialogue : testing::TestWithParam<DialogueCase> {
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kScratch, &scratch), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);
        for (auto [value, data] : kRun)
            Set("Run", value, REG_SZ, Fill(data).c_str(), Fill(data).size() + 1);
        Set("Explorer\\StartupApproved\\Run", "Beta", REG_BINARY, "\x07\0\0\0", 4);
        if (GetParam().policy)
            Set("Policies\\Attachments", "HideZoneInfoOnProperties", REG_DWORD, "\x01\0\0\0", 4);
        CreateDirectoryA(folder.c_str(), nullptr);
        for (const std::string& file : {other, mark}) {
            const HANDLE handle =
                CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD written;
            WriteFile(handle, "[ZoneTransfer]\r\nZoneId=3\r\n", 26, &written, nullptr);
            CloseHandle(handle);
        }
        fake::Reset({{"Speakers (Realtek High Definiti"},
                     {"LG TV (NVIDIA High Definition A"},
                     {"LG TV SSCR2"},
                     {"Monitor (HDMI)"}});
        Console_ReadLine = Typed;
        before = RunKey();
    }
    void TearDown() override {
        Console_ReadLine = reader;
        CloseHandle(guard);
        for (const std::string& file : {mark, other})
            DeleteFileA(file.c_str());
        RemoveDirectoryA(folder.c_str());
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(scratch);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    }
    std::string Fill(std::string text) const {
        for (auto [name, path] : {std::pair{"{other}", &other}, {"{beside}", &beside}})
            for (size_t at; (at = text.find(name)) != std::string::npos;)
                text.replace(at, strlen(name), *path);
        return text;
    }
    // What the row changed: the Run key's values removed and added, then the marks removed.
    std::string Changed() const {
        std::string changed;
        std::map<std::string, std::string> after = RunKey();
        for (auto& [value, data] : before)
            changed += after.count(value) ? "" : "-" + value + "; ";
        for (auto& [value, data] : after)
            changed += before.count(value) ? "" : "+" + value + " = " + data + "; ";
        if (GetFileAttributesA(mark.c_str()) == INVALID_FILE_ATTRIBUTES)
            changed += "unmarked";
        return changed;
    }
    HKEY scratch = nullptr;
    const HANDLE guard = CreateEventA(nullptr, FALSE, FALSE, MURMEX_GUARD_PREFIX "Monitor (HDMI)");
    std::string folder = Here() + "other", other = folder + "\\murmex.exe";
    std::string mark = other + ":Zone.Identifier", beside = Here() + "murmex.exe";
    std::map<std::string, std::string> before;
    bool (*reader)(char*) = Console_ReadLine;
};

TEST_P(Dialogue, AnswersAsTheRowSays) {
    const DialogueCase& row = GetParam();
    g_typed = row.typed;
    EXPECT_EQ(Stdout(Dialogue_Run),
              Fill("\nTo start murmex.exe now and at every sign-in, type a device's number as "
                   "listed or the\nstart of its name; type - to remove a sign-in entry. Enter "
                   "alone closes this window.\n" +
                   row.said));
    EXPECT_EQ(Changed(), Fill(row.changed));
}

INSTANTIATE_TEST_SUITE_P(Rows, Dialogue, testing::ValuesIn(kCases));

} // namespace
