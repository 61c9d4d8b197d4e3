// Stories of WaveLib against the scripted service: which device it picks, what a failed open
// leaves behind, how the feeder answers hand-backs and failures.
#include <gtest/gtest.h>

#include "fake_wave_out.h"
#include "wave_lib.h"

#include <algorithm>
#include <map>

using fake::Op;

namespace {

constexpr char kName[] = "ATI HDMI Output";
constexpr DWORD kArmed = WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP;

struct ChoiceCase {
    const char* story;
    std::vector<fake::Device> devices;
    const char* name;
    int chosen; // device number opened, -1 for none
};

const ChoiceCase kChoices[] = {
    {"default name after another device", {{"Speakers"}, {kName}}, kName, 1},
    {"ASCII case is ignored", {{kName}}, "ati hdmi output", 0},
    {"A to Z fold, their neighbours do not", {{"Zone A [@]"}}, "zONE a [@]", 0},
    {"no folding next to the alphabet", {{"Zone A [@]"}}, "Zone A {`}", -1},
    {"a leading part matches", {{"Speakers"}, {"ATI HDMI Output (2)"}}, "ATI", 1},
    {"the lowest-numbered match wins", {{"ATI HDMI Output 2"}, {kName}}, "ATI HDMI", 0},
    {"longer than the product name", {{kName}}, "ATI HDMI Output ", -1},
    {"a failed query is skipped", {{kName, MMSYSERR_NODRIVER}, {kName}}, "ATI", 1},
    {"no folding above ASCII", {{"\xC9tude HDMI"}}, "\xE9tude", -1},
    {"bytes above 0x7F are plain characters", {{"\xC9tude HDMI"}}, "\xC9tu", 0},
    {"quotes are part of the name", {{kName}}, "\"ATI HDMI Output\"", -1},
    {"an empty table", {}, kName, -1},
};

TEST(DeviceChoice, OpensTheFirstDeviceWhoseProductNameBeginsWithTheName) {
    for (const ChoiceCase& c : kChoices) {
        SCOPED_TRACE(c.story);
        fake::Reset(c.devices, {{Op::Open, {MMSYSERR_ALLOCATED}}}); // the open fails: back at once
        WaveLib_Stream* stream = nullptr;
        const std::string out = Stdout([&] { stream = WaveLib_Open(c.name); });
        EXPECT_EQ(stream, nullptr);
        EXPECT_EQ(out.empty(), c.chosen < 0); // no match is no failure
        EXPECT_EQ(fake::Args(Op::Open),
                  c.chosen < 0 ? std::vector<int>{} : std::vector<int>{c.chosen});
        // Every device is asked about, up to the chosen one.
        EXPECT_EQ(fake::Args(Op::Caps).size(), c.chosen < 0 ? c.devices.size() : c.chosen + 1u);
    }
}

// The line comes before anything else happens to the stream: no completion event at the open
// or at the report, no feeder to prime the device, no close of what the open left in the handle;
// then the record is freed.
TEST(OpenFailure, WritesOneLineAndLeavesNothingBehind) {
    fake::Reset({{kName}}, {{Op::Open, {MMSYSERR_NOTENABLED}}});
    const DWORD handles = HandleCount();
    WaveLib_Stream* stream = nullptr;
    EXPECT_EQ(Stdout([&] { stream = WaveLib_Open(kName); }), "waveOutOpen failed: error 3\n");
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(fake::Trace(), "devs caps0 open0 text3");
    EXPECT_TRUE(Freed(fake::Opened()));
    EXPECT_EQ(HandleCount(), handles);
}

// A stream primed on device 0, with the feeder asleep on its event; closed after the story.
struct Feeder : ::testing::Test {
    void Play(std::map<Op, std::vector<MMRESULT>> results = {}, std::vector<DWORD> positions = {}) {
        fake::Reset({{kName}}, results, positions);
        stream = WaveLib_Start(0);
        ASSERT_TRUE(stream && fake::AllQueued());
    }
    void TearDown() override { WaveLib_Close(stream); }
    DWORD Close() { return CloseReturningExitCode(std::exchange(stream, nullptr)); } // exit code
    WaveLib_Stream* stream = nullptr;
};

TEST_F(Feeder, PrimesRequeuesWhatIsHandedBackAndStopsWhenAsked) {
    ASSERT_NO_FATAL_FAILURE(Play());
    // The completion event comes after the open, before the feeder's first call.
    EXPECT_EQ(fake::Trace(),
              "open0 prepare0 write0 prepare1 write1 prepare2 write2 prepare3 write3");
    for (const fake::Call& call : fake::Calls()) // prepared as allocated, queued armed
        EXPECT_EQ(call.flags, call.op == Op::Write  ? kArmed
                              : call.op == Op::Open ? CALLBACK_FUNCTION
                                                    : 0);
    for (const WAVEHDR& header : stream->headers) {
        EXPECT_EQ(header.lpData, reinterpret_cast<LPSTR>(stream->silence));
        EXPECT_EQ(header.dwBufferLength, 192000u);
        EXPECT_EQ(header.dwLoops, 0xFFFFFFFFu);
    }

    // Two headers back before one wake-up: both re-queued in one pass, in order, done cleared.
    size_t from = fake::Calls().size();
    fake::HandBack({3, 0}, false);
    fake::CallBack();
    ASSERT_TRUE(fake::AllQueued());
    EXPECT_EQ(fake::Trace(from), "write0 write3");
    EXPECT_EQ(fake::Calls().back().flags, kArmed);

    // A wake-up with nothing done takes the event's signal and calls nothing.
    from = fake::Calls().size();
    fake::CallBack();
    Sleep(200);
    EXPECT_EQ(WaitForSingleObject(stream->completionEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    fake::HandBack({2});
    ASSERT_TRUE(fake::AllQueued());
    EXPECT_EQ(fake::Trace(from), "write2");
    const BYTE* silence = stream->silence;
    EXPECT_TRUE(std::all_of(silence, silence + sizeof stream->silence, [](BYTE b) { return !b; }));

    // A stop request queues nothing, even headers marked done; the reset hands back the rest
    // before the close, and the stream's event, thread handle and record are gone.
    from = fake::Calls().size();
    const DWORD handles = HandleCount();
    fake::HandBack({1, 2}, false);
    EXPECT_EQ(Close(), 0u);
    EXPECT_EQ(fake::Trace(from), "reset03 unprepare0 unprepare1 unprepare2 unprepare3 close");
    EXPECT_EQ(HandleCount(), handles - 2);
    EXPECT_TRUE(Freed(fake::Opened()));
}

// This thread hands headers back as fast as the feeder re-queues them, so that hand-backs pile
// up between wake-ups and arrive during passes: none may be lost, and none written twice (the
// write of a queued header fails and ends the feeder with 20).
TEST_F(Feeder, NoHandBackIsLostWhenTheyComeFasterThanThePasses) {
    ASSERT_NO_FATAL_FAILURE(Play());
    for (int round = 0; round < 20000; ++round)
        fake::HandBack({0, 1, 2, 3}); // those of them that are queued
    EXPECT_TRUE(fake::AllQueued());
    EXPECT_EQ(Close(), 0u);
}

TEST_F(Feeder, AFailedRequeueSkipsTheRestAndEndsTheFeederWith20) {
    ASSERT_NO_FATAL_FAILURE(Play({{Op::Write, {0, 0, 0, 0, MMSYSERR_NOMEM}}}));
    const size_t from = fake::Calls().size();
    fake::HandBack({1, 2, 3}, false);
    EXPECT_EQ(Stdout([&] {
                  fake::CallBack();
                  WaitForSingleObject(stream->feederThread, 10000);
              }),
              "waveOutWrite failed: error 7\n");
    EXPECT_EQ(fake::Trace(from), "write1 text7+event reset0"); // 2 and 3 never looked at
    EXPECT_EQ(Close(), 20u);
}

struct LossCase {
    const char* story;
    std::map<Op, std::vector<MMRESULT>> results;
    std::vector<DWORD> positions; // what the looks find, the last one ending the stream
    const char* line;
    const char* trace; // after the priming
};

constexpr char kStopped[] = "waveOutGetPosition failed: The device stopped playing.\n";
constexpr char kTornDown[] = "reset0123 unprepare0 unprepare1 unprepare2 unprepare3 close";
const LossCase kLosses[] = {
    {"the position query fails",
     {{Op::Position, {MMSYSERR_NODRIVER}}},
     {9600},
     "waveOutGetPosition failed: error 6\n",
     "text6+event reset0123 unprepare0 unprepare1 "
     "unprepare2 unprepare3 close"},
    {"the position stops after its wrap past 2^32 bytes",
     {},
     {0xFFFFF000, 0x1000, 0x1000},
     kStopped,
     kTornDown},
    {"a slow start, then the position stops and the reset hands nothing back",
     {{Op::Reset, {MMSYSERR_ERROR}}},
     {0, 0, 0, 0, 9600, 9600},
     kStopped,
     "reset unprepare0 unprepare1 unprepare2 unprepare3 close"},
};

// A device that goes away hands nothing back and fails nothing: the feeder looks at the position
// about once a second and ends the stream at the first look that finds it lost; the tear-down
// waits for nothing the device would have to give back, and leaves nothing behind.
TEST_F(Feeder, ALostStreamEndsAtTheLookThatFindsItAndLeavesNothingBehind) {
    for (const LossCase& c : kLosses) {
        SCOPED_TRACE(c.story);
        ASSERT_NO_FATAL_FAILURE(Play(c.results, c.positions));
        const size_t from = fake::Calls().size();
        EXPECT_EQ(Stdout([&] { WaitForSingleObject(stream->feederThread, 10000); }), c.line);
        const DWORD handles = HandleCount();
        EXPECT_EQ(Close(), 20u);
        EXPECT_EQ(fake::Trace(from), c.trace);
        EXPECT_TRUE(Freed(fake::Opened()));
        EXPECT_EQ(HandleCount(), handles - 2);
        EXPECT_EQ(fake::Args(Op::Position),
                  std::vector<int>(c.positions.begin(), c.positions.end()));
        const std::vector<fake::Call> calls = fake::Calls();
        for (size_t i = from; i < calls.size(); ++i) { // from the priming or the look before
            if (calls[i].op == Op::Position) {
                EXPECT_NEAR(calls[i].ms - calls[i - 1].ms, 1350, 450) << "look at call " << i;
            }
        }
    }
}

TEST_F(Feeder, AFailedPrimingReportsOnceResetsAndEndsWith20) {
    fake::Reset({{kName}}, {{Op::Write, {0, 0, MMSYSERR_NOTENABLED}}});
    EXPECT_EQ(Stdout([&] { stream = WaveLib_Open(kName); }),
              "WaveLib_SetupAudio failed: error 3\n");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(Close(), 20u);
    EXPECT_TRUE(Freed(fake::Opened()));
    // Header 3 is never prepared nor queued; the reset hands back the two queued before.
    EXPECT_EQ(fake::Trace(), "devs caps0 open0 prepare0 write0 prepare1 write1 prepare2 write2 "
                             "text3+event reset01 unprepare0 unprepare1 unprepare2 close");
}

} // namespace
