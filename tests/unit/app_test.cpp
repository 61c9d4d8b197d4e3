// The program shell: the device name from the command line, the package's rule for it, and the
// watcher in real time.
#include <gtest/gtest.h>

#include "command_line.h"
#include "device_rule.h"
#include "device_watch.h"
#include "fake_wave_out.h"
#include "wave_lib.h"

using fake::Op;

namespace {

constexpr UINT kWestern = 1252;
constexpr UINT kJapanese = 932; // 0x81-0x9F and 0xE0-0xFC lead a two-byte character

struct TailCase {
    std::string line; // may hold a zero byte before its end
    UINT codePage;
    const char* tail;
};

const TailCase kTails[] = {
    {"murmex.exe\tDen", kWestern, "Den"},
    {"murmex.exe \x01\x1f\x7f", kWestern, "\x7f"},
    {"murmex.exe \t \t \"ATI\"  ", kWestern, "\"ATI\"  "},
    {"\"C:\\Program Files\\murmex.exe\"ATI x", kWestern, "x"},
    {"C:\\a\"b c\"d.exe e f", kWestern, "e f"},
    {"\"unclosed path with blanks", kWestern, ""},
    {"m\xE9.exe \xA0x", kWestern, "\xA0x"},
    {"\x81 x.exe tail", kJapanese, "tail"},             // the blank is a trail byte
    {"\x81 x.exe tail", kWestern, "x.exe tail"},        // the same bytes, single-byte
    {std::string("abc\x81\0 tail", 10), kJapanese, ""}, // a lead byte never eats the end
};

TEST(CommandTail, FollowsTheProgramNameRule) {
    for (const TailCase& c : kTails)
        EXPECT_STREQ(App_CommandTail(c.line.c_str(), c.codePage), c.tail)
            << testing::PrintToString(c.line);
}

// A name is taken whole up to 252 characters, the most whose guard's name fits in MAX_PATH with
// its end; a longer one is refused, never cut.
TEST(DeviceName, TakesUpTo252CharactersWholeAndRefusesALongerOne) {
    char device[APP_NAME_CHARS], guard[APP_NAME_CHARS];
    const std::string longest(252, 'x');
    EXPECT_TRUE(App_DeviceAndGuardNames(longest.c_str(), device, guard));
    EXPECT_EQ(std::string(device) + "|" + guard, longest + "|Murmex-" + longest);
    EXPECT_FALSE(App_DeviceAndGuardNames((longest + "x").c_str(), device, guard));
}

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

// The package refuses a DEVICE murmex.exe would not read back from the sign-in entry, or not use.
TEST(SetupDevice, RefusesWhatMurmexCouldNotReadBackOrUse) {
    for (const DeviceCase& c : kDevices)
        EXPECT_EQ(Setup_CheckDevice(c.device.c_str()), c.fault) << testing::PrintToString(c.device);
}

constexpr char kPrime[] = " prepare0 write0 prepare1 write1 prepare2 write2 prepare3 write3";
constexpr char kAmongThree[] = " devs caps0 caps1 caps2";

// A device's road as only Windows walks it, its position checked once a second: it appears while
// the program runs; it plays after a slow start, hours in, its count of samples wrapping past 2^32
// (where Wine's bytes stand still); it goes away, and the service keeps the lost stream until it
// next reads its device list; it comes back under another number, held by another program at
// first; it fails its priming (header 2), and once takes the open but never plays.
TEST(Watcher, FollowsADeviceThatAppearsGoesComesBackElsewhereIsTakenAndFailsTwoSecondsApart) {
    fake::Reset({{"Speakers"}},
                {{Op::Open, {0, MMSYSERR_ALLOCATED}}, {Op::Write, {0, 0, 0, 0, 0, 0, 3}}},
                {0, 0, 0, 0, 0xFFFF0000, 0xFFFFFC00, 0x100, 0, 0, 0, 0, 0});
    static char name[] = "ATI HDMI";
    const double started = fake::Now();
    const std::string out = Stdout([&] {
        CloseHandle(CreateThread(nullptr, 0, DeviceWatchThread, name, 0, nullptr));
        ASSERT_TRUE(WaitUntil([] { return fake::Count(Op::Devs) == 1; }));
        fake::Serve({{"Speakers"}, {"ATI HDMI Output"}});
        ASSERT_TRUE(WaitUntil([] { return fake::Count(Op::Position) == 7; }, 20000));
        fake::Lose(fake::Loss::Windows);
        fake::Serve({{"Speakers"}, {"HDMI 2"}, {"ATI HDMI Output"}});
        ASSERT_TRUE(WaitUntil([] { return fake::Count(Op::Open) == 5; }, 30000));
        ASSERT_TRUE(fake::AllQueued());
        // The watcher waits on this stream's feeder, which from its next position check on waits
        // forever.
        fake::Park(GetThreadId(fake::Opened()->feederThread));
    });

    EXPECT_EQ(out, "waveOutGetPosition failed: error 6\nwaveOutOpen failed: error 4\n"
                   "WaveLib_SetupAudio failed: error 3\n"
                   "waveOutGetPosition failed: The device stopped playing.\n");
    EXPECT_EQ(fake::Trace(), "devs caps0 devs caps0 caps1 open1" + std::string(kPrime) +
                                 " text6 reset" + kClose + kAmongThree + " reset" + kClose +
                                 " open2 text4" + kAmongThree +
                                 " open2 prepare0 write0 prepare1 write1 prepare2 write2 text3"
                                 " reset01 unprepare0 unprepare1 unprepare2 close" +
                                 kAmongThree + " open2" + kPrime + " reset0123" + kClose +
                                 kAmongThree + " open2" + kPrime);
    // The pause is 2000 ms after every attempt, never before the first: a loaded machine, under
    // emulation too, may add to it but never take from it, nor make it 3000 ms.
    const std::vector<fake::Call> calls = fake::Calls();
    EXPECT_LT(calls[0].ms - started, 800);
    for (size_t i = 1; i < calls.size(); ++i) {
        const double gap = calls[i].ms - calls[i - 1].ms; // from the call before
        EXPECT_TRUE(calls[i].op != Op::Devs || (gap >= 2000 && gap < 2800))
            << "attempt at call " << i << " after " << gap << " ms";
    }
}

} // namespace
