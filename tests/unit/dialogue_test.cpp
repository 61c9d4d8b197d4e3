// The dialogue of a double-clicked companion, one row a story: what the user's Run key holds and
// which copies run; the answers typed; what the window then shows, answers as typed, and what the
// Run key holds afterwards. {other} is a murmex.exe in a folder of its own, {beside} the one beside
// this program, which a new entry starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console.h"
#include "dialogue.h"
#include "fake_wave_out.h"
#include "scratch_registry.h"

namespace {

struct DialogueCase {
    const char* story;
    std::vector<std::pair<const char*, const char*>> run; // in name order, as Wine lists them
    std::vector<const char*> running;                     // names whose guard a copy holds
    std::vector<const char*> typed;
    const char* said;
    const char* runAfter;
    bool marked; // {other} and {beside} carry an internet mark, and {beside} keeps it
};

#define TOOLS "\"C:\\Tools\\murmex.exe\" "
#define MONITOR_ASKED                                                                              \
    "[monitor] chooses device 3.\nRunning now: yes, murmex.exe holds the guard of [Monitor "       \
    "(HDMI)].\nStarts at sign-in: no entry starts murmex.exe for it.\nStart murmex.exe for it "    \
    "now and at every sign-in? (y/n) "
#define DISPLAY_TOOL "\"C:\\Program Files\\Vendor\\display-tool.exe\" /tray"

const DialogueCase kCases[] = {
    {"a number not listed and a name of no device change nothing, nor does the input's end",
     {},
     {},
     {"9", "realtek"},
     "\nDevice: 9\nNo device 9 is listed: nothing changed.\n\nDevice: realtek\n[realtek] chooses "
     "no device: nothing changed.\nGive the start of a product name above. A device switched off "
     "or unplugged is\nnot listed: murmex.exe plays on it once it is back, but this list cannot "
     "tell.\n\nDevice: \nThe input has ended: nothing more is changed.\n",
     "",
     false},
    {"an answer not understood is a no; someone's value of the entry's name is kept; a new entry "
     "starts {beside}, and a copy that runs is not started again",
     {{"Murmex: Monitor", DISPLAY_TOOL}},
     {"Monitor (HDMI)"},
     {"monitor", "", "monitor", "y", "Monitor (HDMI)", "y", ""},
     "\nDevice: monitor\n" MONITOR_ASKED "\nNothing changed.\n\nDevice: monitor\n" MONITOR_ASKED
     "y\nThe Run key has a value \"Murmex: monitor\" already, for something else: nothing "
     "written.\n\nDevice: Monitor (HDMI)\n[Monitor (HDMI)] chooses device 3.\nRunning now: yes, "
     "murmex.exe holds the guard of [Monitor (HDMI)].\nStarts at sign-in: no entry starts "
     "murmex.exe for it.\nStart murmex.exe for it now and at every sign-in? (y/n) y\nStarts at "
     "sign-in: yes, written \"Murmex: Monitor (HDMI)\" = \"{beside}\" Monitor (HDMI)\nRunning "
     "now: yes already, as [Monitor (HDMI)]: not started again.\n\nDevice: \n",
     "Murmex: Monitor = " DISPLAY_TOOL "; Murmex: Monitor (HDMI) = \"{beside}\" Monitor (HDMI); ",
     false},
    {"the mark of the murmex.exe an entry starts elsewhere is said, and removed there alone",
     {{"Gamma", "\"{other}\" Speakers"}},
     {},
     {"speakers", "y", "n", ""},
     "\nDevice: speakers\n[speakers] chooses device 0.\nRunning now: no murmex.exe plays on it.\n"
     "Starts at sign-in: yes, \"Gamma\" = \"{other}\" Speakers\nDownload mark: {other} came from "
     "the internet (zone 3). At every sign-in Windows shows \"Open File - Security Warning\" for "
     "it, and Murmex starts only once someone clicks Run.\nRemoving the mark from that file ends "
     "it: Properties > Unblock, PowerShell's Unblock-File, or this program, double-clicked.\nIt "
     "has a sign-in entry already: no second one is written.\nRemove the mark from that file "
     "alone, as Properties > Unblock does? (y/n) y\nRemoved the mark from {other} alone: Windows "
     "starts it at sign-in without a word.\nStart murmex.exe for it now, with the entry's command "
     "line? (y/n) n\nNothing changed.\n\nDevice: \n",
     "Gamma = \"{other}\" Speakers; ",
     true},
    {"the entry numbered in the middle of several is the one removed",
     {{"Alpha", TOOLS "LG TV"},
      {"Beta", TOOLS "Monitor"},
      {"Gamma", TOOLS "Speakers"},
      {"OneDrive", "\"C:\\OneDrive.exe\" /background"}},
     {},
     {"-", "2", ""},
     "\nDevice: -\nSign-in entries that start murmex.exe:\n   1  \"Alpha\" = " TOOLS "LG TV\n   2 "
     " \"Beta\" = " TOOLS "Monitor\n   3  \"Gamma\" = " TOOLS "Speakers\nEntry to remove (its "
     "number; Enter alone keeps them all): 2\nRemoved \"Beta\": it no longer starts murmex.exe at "
     "sign-in.\nA copy running now keeps running. To stop it: taskkill /F /IM murmex.exe (every "
     "copy),\nor end murmex.exe in Task Manager's Details tab, or sign out.\n\nDevice: \n",
     "Alpha = " TOOLS "LG TV; Gamma = " TOOLS "Speakers; OneDrive = \"C:\\OneDrive.exe\" "
     "/background; ",
     false},
};

std::vector<std::string> g_typed;

// Answers in turn, each shown as the window echoes it.
bool Typed(char* line) {
    if (g_typed.empty())
        return false;
    const std::string echo = g_typed.front() + "\n";
    lstrcpynA(line, g_typed.front().c_str(), CONSOLE_TYPED_CHARS);
    g_typed.erase(g_typed.begin());
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), echo.data(), echo.size(), &written, nullptr);
    return true;
}

struct Dialogue : ScratchRegistry, testing::WithParamInterface<DialogueCase> {
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ScratchRegistry::SetUp());
        char path[MAX_PATH];
        folder = std::string(path, GetTempPathA(MAX_PATH, path)) + "murmex other";
        other = folder + "\\murmex.exe";
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        beside = std::string(path, strrchr(path, '\\') + 1) + "murmex.exe";
        CreateDirectoryA(folder.c_str(), nullptr);
        CloseHandle(
            CreateFileA(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        for (const std::string& file : {other, beside}) {
            DeleteFileA((file + ":Zone.Identifier").c_str());
            if (GetParam().marked)
                Mark(file);
        }
        for (auto [value, data] : GetParam().run)
            Write(kRun, value, Fill(data).c_str());
        for (const char* name : GetParam().running)
            guards.push_back(CreateEventA(nullptr, FALSE, FALSE,
                                          (MURMEX_GUARD_PREFIX + std::string(name)).c_str()));
        fake::Reset({{"Speakers (Realtek High Definiti"},
                     {"LG TV (NVIDIA High Definition A"},
                     {"LG TV SSCR2"},
                     {"Monitor (HDMI)"}});
        Console_ReadLine = Typed;
    }
    void TearDown() override {
        Console_ReadLine = reader;
        for (HANDLE guard : guards)
            CloseHandle(guard);
        for (const std::string& file : {other, beside})
            DeleteFileA((file + ":Zone.Identifier").c_str());
        DeleteFileA(other.c_str());
        RemoveDirectoryA(folder.c_str());
        ScratchRegistry::TearDown();
    }
    static void Mark(const std::string& file) {
        const char kInternet[] = "[ZoneTransfer]\r\nZoneId=3\r\n";
        const HANDLE mark = CreateFileA((file + ":Zone.Identifier").c_str(), GENERIC_WRITE, 0,
                                        nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        WriteFile(mark, kInternet, sizeof kInternet - 1, &written, nullptr);
        CloseHandle(mark);
    }
    static bool Marked(const std::string& file) {
        return GetFileAttributesA((file + ":Zone.Identifier").c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::string Fill(std::string text) const {
        for (auto [name, path] : {std::pair{"{other}", &other}, {"{beside}", &beside}})
            for (size_t at; (at = text.find(name)) != std::string::npos;)
                text.replace(at, strlen(name), *path);
        return text;
    }
    static std::string RunKey() {
        std::string values;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kRun, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return values;
        char value[300], data[640];
        for (DWORD i = 0;; ++i) {
            DWORD valueChars = sizeof value, bytes = sizeof data;
            if (RegEnumValueA(key, i, value, &valueChars, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS)
                break;
            values += std::string(value) + " = " + data + "; ";
        }
        RegCloseKey(key);
        return values;
    }
    std::string folder, other, beside;
    std::vector<HANDLE> guards;
    bool (*reader)(char*) = Console_ReadLine;
};

TEST_P(Dialogue, AnswersAsTheRowSays) {
    const DialogueCase& row = GetParam();
    g_typed.assign(row.typed.begin(), row.typed.end());
    EXPECT_EQ(Stdout(Dialogue_Run),
              "\nTo start murmex.exe now and at every sign-in, type a device's number as listed or "
              "the\nstart of its name; type - to remove a sign-in entry. Enter alone closes this "
              "window.\n" +
                  Fill(row.said))
        << row.story;
    EXPECT_EQ(RunKey(), Fill(row.runAfter)) << row.story;
    EXPECT_EQ(std::pair(Marked(other), Marked(beside)), std::pair(false, row.marked)) << row.story;
}

INSTANTIATE_TEST_SUITE_P(Rows, Dialogue, testing::ValuesIn(kCases));

} // namespace
