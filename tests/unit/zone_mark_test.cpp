// The download mark as the companion reads it: the zone in the texts Windows and others write, and
// the file an entry's command line starts, whose mark is the one sign-in meets.
#include <gtest/gtest.h>

#include <string>

#include "signin.h"
#include "zone_mark.h"

namespace {

std::string Wide(const std::string& text) { // UTF-16LE of ASCII text
    std::string wide;
    for (char c : text)
        wide += std::string{c, '\0'};
    return wide;
}

struct MarkCase {
    std::string text;
    int zone;
};

const std::string kBrowser = "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://example.org/\r\n"
                             "HostUrl=https://example.org/murmex.zip\r\n";

const MarkCase kMarks[] = {
    {kBrowser, 3},
    {"[ZoneTransfer]\nZoneId=4", 4},
    {" [zonetransfer]\r\n zoneid \t=  2 \r\n", 2},
    {"[Other]\r\nZoneId=1\r\n[ZoneTransfer]\r\nLastWriterPackageFamilyName=x\r\nZoneId=3\r\n", 3},
    {"\xEF\xBB\xBF" + kBrowser, 3},
    {"\xFF\xFE" + Wide(kBrowser), 3},
    {Wide("[ZoneTransfer]\r\nZoneId=4\r\n"), 4},
    {"[ZoneTransfer]\r\nZoneId=3\r\nZoneId=0\r\n", 3}, // the first counts
    {"", ZONE_UNREADABLE},
    {"ZoneId=3\r\n", ZONE_UNREADABLE}, // outside its section
    {"[ZoneTransfer]\r\nZoneId=3x\r\n", ZONE_UNREADABLE},
    {"[ZoneTransfer]\r\nZoneId=5\r\n", ZONE_UNREADABLE}, // user-defined zones too (1000 on)
    {"\xFF\xFE" + Wide("[ZoneTransfer]\r\nHostUrl=") + "\x41\x04" + Wide("\r\nZoneId=3"), 3},
};

TEST(ZoneMark, NamesTheZoneOfTheTextsWrittenAndNothingElse) {
    for (const MarkCase& c : kMarks) {
        std::string bytes = c.text + '\0'; // room for the terminator
        EXPECT_EQ(Zone_Parse(&bytes[0], static_cast<DWORD>(c.text.size())), c.zone)
            << testing::PrintToString(c.text);
    }
}

struct ProgramCase {
    std::string commandLine;
    const char* file; // empty: no file named for sure
};

const ProgramCase kPrograms[] = {
    {"C:\\\"Program Files\"\\murmex.exe x", "C:\\Program Files\\murmex.exe"},
    {"\"\\\\server\\share\\murmex.exe\" x", "\\\\server\\share\\murmex.exe"},
    {"murmex.exe LG TV", ""},
    {"\"C:\\" + std::string(MAX_PATH, 'x') + "\\murmex.exe\" LG", ""}, // too long
};

TEST(ZoneMark, TheFileAnEntryStartsIsItsProgramPartWithoutQuotes) {
    for (const ProgramCase& c : kPrograms) {
        char file[MAX_PATH] = "(unchanged)";
        EXPECT_STREQ(Signin_Program(c.commandLine.c_str(), file) ? file : "", c.file)
            << c.commandLine;
    }
}

} // namespace
