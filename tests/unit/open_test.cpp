// Which device WaveLib_Open picks, and what a failed open leaves behind.
#include <gtest/gtest.h>

#include "fake_wave_out.h"
#include "test_support.h"
#include "wave_lib.h"

using fake::Op;

namespace {

struct ChoiceCase {
    const char* story;
    std::vector<fake::Device> devices;
    const char* name;
    int chosen; // device number opened, -1 for none
};

const ChoiceCase kChoices[] = {
    {"default name after another device",
     {{"Speakers"}, {"ATI HDMI Output"}},
     "ATI HDMI Output",
     1},
    {"ASCII case is ignored", {{"ATI HDMI Output"}}, "ati hdmi output", 0},
    {"a leading part matches", {{"Speakers"}, {"ATI HDMI Output (2)"}}, "ATI", 1},
    {"the lowest-numbered match wins", {{"ATI HDMI Output 2"}, {"ATI HDMI Output"}}, "ATI HDMI", 0},
    {"longer than the product name", {{"ATI HDMI Output"}}, "ATI HDMI Output ", -1},
    {"a failed query is skipped, whatever name it left",
     {{"ATI HDMI Output", MMSYSERR_NODRIVER}, {"ATI HDMI Output"}},
     "ATI",
     1},
    {"no folding above ASCII", {{"\xC9tude HDMI"}}, "\xE9tude", -1},
    {"bytes above 0x7F are plain characters", {{"\xC9tude HDMI"}}, "\xC9tu", 0},
    {"quotes are part of the name", {{"ATI HDMI Output"}}, "\"ATI HDMI Output\"", -1},
    {"an empty table", {}, "ATI HDMI Output", -1},
};

TEST(DeviceChoice, OpensTheFirstDeviceWhoseProductNameBeginsWithTheName) {
    for (const ChoiceCase& c : kChoices) {
        SCOPED_TRACE(c.story);
        fake::Reset(c.devices);
        fake::Script(Op::Open, {MMSYSERR_ALLOCATED}); // returns at once, after the choice
        WaveLib_Stream* stream = nullptr;
        const std::string out = Stdout([&] { stream = WaveLib_Open(c.name); });
        EXPECT_EQ(stream, nullptr);
        EXPECT_EQ(out.empty(), c.chosen < 0); // no match is no failure
        const std::vector<int> opened = fake::Args(Op::Open);
        if (c.chosen < 0) {
            EXPECT_TRUE(opened.empty());
        } else {
            EXPECT_EQ(opened, std::vector<int>{c.chosen});
            EXPECT_EQ(fake::Args(Op::Caps).back(), c.chosen); // the search ends there
        }
    }
}

TEST(DeviceChoice, NoDeviceMeansNoQueryAndCloseOfNothingDoesNothing) {
    fake::Reset();
    EXPECT_EQ(WaveLib_Open("ATI HDMI Output"), nullptr);
    WaveLib_Close(nullptr);
    EXPECT_EQ(fake::Trace(), "devs");
}

// The failure line comes before anything else happens to the stream: no completion event at
// the open or at the report, no feeder to prepare or queue headers, and no close of whatever
// the failed open left in the handle.
TEST(OpenFailure, WritesOneLineAndMakesNoEventNoFeederNoClose) {
    fake::Reset({{"ATI HDMI Output"}});
    fake::Script(Op::Open, {MMSYSERR_NOTENABLED});
    WaveLib_Stream* stream = nullptr;
    EXPECT_EQ(Stdout([&] { stream = WaveLib_Open("ATI HDMI Output"); }),
              "waveOutOpen failed: error 3\n");
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(fake::Trace(), "devs caps0 open0 text3");
    EXPECT_EQ(fake::Calls()[2].flags, static_cast<DWORD>(CALLBACK_FUNCTION));
}

} // namespace
