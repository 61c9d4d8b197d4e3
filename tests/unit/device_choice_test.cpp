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

const std::string k39 = "Digital Output Interface On Front Panel";
const std::string k32 = k39.substr(0, 32);
const std::string k31 = k39.substr(0, 31);

const ChoiceCase kChoices[] = {
    {"default name after another device",
     {{"Speakers"}, {"ATI HDMI Output"}},
     "ATI HDMI Output",
     1},
    {"ASCII case is ignored", {{"ATI HDMI Output"}}, "ati hdmi output", 0},
    {"a leading part matches", {{"Speakers"}, {"ATI HDMI Output (2)"}}, "ATI", 1},
    {"the lowest-numbered match wins", {{"ATI HDMI Output 2"}, {"ATI HDMI Output"}}, "ATI HDMI", 0},
    {"longer than the product name", {{"ATI HDMI Output"}}, "ATI HDMI Output ", -1},
    {"a failed query is skipped",
     {{"ATI HDMI Output", MMSYSERR_NODRIVER}, {"ATI HDMI Output"}},
     "ATI",
     1},
    {"names past 31 characters never match", {{k39}}, k32.c_str(), -1},
    {"31 characters still match", {{k39}}, k31.c_str(), 0},
    {"no folding above ASCII",
     {{"\xC9"
       "couteurs HDMI"}},
     "\xE9"
     "couteurs",
     -1},
    {"bytes above 0x7F are plain characters",
     {{"\xC9"
       "couteurs HDMI"}},
     "\xC9"
     "cout",
     0},
    {"quotes are part of the name", {{"ATI HDMI Output"}}, "\"ATI HDMI Output\"", -1},
    {"an empty table", {}, "ATI HDMI Output", -1},
};

TEST(DeviceChoice, OpensTheFirstDeviceWhoseProductNameBeginsWithTheName) {
    for (const ChoiceCase& c : kChoices) {
        SCOPED_TRACE(c.story);
        fake::Reset(c.devices);
        fake::Script(Op::Open, {MMSYSERR_ALLOCATED}); // returns at once, after the choice
        StdoutCapture out;
        EXPECT_EQ(WaveLib_Open(c.name), nullptr);
        out.Take();
        const std::vector<int> opened = fake::Args(Op::Open);
        if (c.chosen < 0) {
            EXPECT_TRUE(opened.empty());
        } else {
            EXPECT_EQ(opened, std::vector<int>{c.chosen});
            // The search ends at the chosen device.
            EXPECT_EQ(fake::Args(Op::GetDevCaps).back(), c.chosen);
        }
    }
}

TEST(DeviceChoice, NoDeviceMeansNoQueryAndNoOpen) {
    fake::Reset();
    EXPECT_EQ(WaveLib_Open("ATI HDMI Output"), nullptr);
    EXPECT_EQ(fake::Count(Op::GetNumDevs), 1);
    EXPECT_EQ(fake::Calls().size(), 1u);
}

TEST(OpenFailure, WritesOneLineAndLeavesNothingBehind) {
    fake::Reset({{"ATI HDMI Output"}});
    fake::Script(Op::Open, {MMSYSERR_NOTENABLED});
    const DWORD handles = HandleCount();
    StdoutCapture out;
    EXPECT_EQ(WaveLib_Open("ATI HDMI Output"), nullptr);
    EXPECT_EQ(out.Take(), "waveOutOpen failed: error 3\r\n");
    EXPECT_EQ(HandleCount(), handles); // no event, no thread
    EXPECT_EQ(fake::Count(Op::Prepare) + fake::Count(Op::Write) + fake::Count(Op::Close), 0);

    const fake::Call open = fake::Calls()[2];
    EXPECT_EQ(open.flags, static_cast<DWORD>(CALLBACK_FUNCTION));
}

TEST(OpenFailure, CloseOfNothingDoesNothing) {
    fake::Reset({{"ATI HDMI Output"}});
    WaveLib_Close(nullptr);
    EXPECT_TRUE(fake::Calls().empty());
}

} // namespace
