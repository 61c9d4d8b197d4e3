#include <gtest/gtest.h>

#include "command_line.h"

#include <string>

namespace {

constexpr UINT kWestern = 1252;
constexpr UINT kJapanese = 932; // 0x81-0x9F and 0xE0-0xFC lead a two-byte character

struct TailCase {
    std::string line; // may hold a zero byte before its end
    UINT codePage;
    const char* tail;
};

const TailCase kTails[] = {
    {"murmex.exe", kWestern, ""},
    {"", kWestern, ""},
    {"murmex.exe ATI HDMI Output", kWestern, "ATI HDMI Output"},
    {"murmex.exe \t \t ATI", kWestern, "ATI"},
    {"murmex.exe\tDen", kWestern, "Den"},
    {"murmex.exe \x01\x1f\x7f", kWestern, "\x7f"},
    {"murmex.exe  ATI  ", kWestern, "ATI  "},
    {"murmex.exe \"ATI HDMI Output\"", kWestern, "\"ATI HDMI Output\""},
    {"\"C:\\Program Files\\murmex.exe\" ATI", kWestern, "ATI"},
    {"\"C:\\Program Files\\murmex.exe\"ATI x", kWestern, "x"},
    {"C:\\a\"b c\"d.exe e f", kWestern, "e f"},
    {"\"unclosed path with blanks", kWestern, ""},
    {"murmex.exe \xC9tude", kWestern, "\xC9tude"},
    {"m\xE9.exe \xA0x", kWestern, "\xA0x"},
    {"\x81 x.exe tail", kJapanese, "tail"},             // the blank is a trail byte
    {"\x81 x.exe tail", kWestern, "x.exe tail"},        // the same bytes, single-byte
    {std::string("abc\x81\0 tail", 10), kJapanese, ""}, // a lead byte never eats the end
};

TEST(CommandTail, FollowsTheProgramNameRule) {
    for (const TailCase& c : kTails) {
        SCOPED_TRACE(testing::PrintToString(c.line));
        const char* tail = App_CommandTail(c.line.c_str(), c.codePage);
        EXPECT_STREQ(tail, c.tail);
        EXPECT_GE(tail, c.line.c_str()); // inside the line, not a copy
        EXPECT_LE(tail, c.line.c_str() + strlen(c.line.c_str()));
    }
}

TEST(SettleNames, DefaultsAndRefusesANameWhoseGuardWouldNotFit) {
    char device[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    ASSERT_TRUE(App_SettleNames("", device, guard));
    EXPECT_STREQ(device, "ATI HDMI Output");
    const std::string longest(252, 'x'); // "Murmex-" + 252 + terminator = 260
    ASSERT_TRUE(App_SettleNames(longest.c_str(), device, guard));
    EXPECT_EQ(std::string(guard), "Murmex-" + longest);
    ASSERT_TRUE(App_SettleNames("\"Speakers\" ", device, guard)); // quotes and blanks kept
    EXPECT_STREQ(guard, "Murmex-\"Speakers\" ");
    for (size_t length : {253u, 259u, 260u, 4000u})
        EXPECT_FALSE(App_SettleNames(std::string(length, 'x').c_str(), device, guard)) << length;
}

} // namespace
