// The device watcher in real time against the scripted service: a stream whose device goes
// away, two refused opens while it is gone, and a stream that plays again once it is back.
#include <gtest/gtest.h>

#include "device_watch.h"
#include "fake_wave_out.h"
#include "wave_lib.h"

using fake::Op;

namespace {

// The pause is 2000 ms after every attempt, never before the first; a loaded machine, under
// emulation too, may add to it but never take from it, nor make it 3000 ms.
constexpr double kPauseMs = 2000, kLateMs = 800;
constexpr char kPlays[] = "devs caps0 open0 prepare0 write0 prepare1 write1 prepare2 write2 "
                          "prepare3 write3";

TEST(Watcher, TriesAtOnceThenTwoSecondsAfterEveryEndAndPlaysAgainWhenTheDeviceIsBack) {
    fake::Reset({{"ATI HDMI Output"}}, {{Op::Open, {0, MMSYSERR_NOTENABLED, MMSYSERR_NOTENABLED}}},
                {9600, 9600}); // the position stops at the second look
    static char name[] = "ATI HDMI";
    const double started = fake::Now();
    const std::string out = Stdout([&] {
        CloseHandle(CreateThread(nullptr, 0, DeviceWatchThread, name, 0, nullptr));
        ASSERT_TRUE(WaitUntil([] { return fake::Args(Op::Open).size() == 4; }, 20000));
        ASSERT_TRUE(fake::AllQueued());
        // The watcher waits on this stream's feeder, which from its next look on waits forever.
        fake::Park(GetThreadId(fake::Opened()->feederThread));
    });

    EXPECT_EQ(out, "waveOutGetPosition failed: The device stopped playing.\n"
                   "waveOutOpen failed: error 3\nwaveOutOpen failed: error 3\n");
    EXPECT_EQ(fake::Trace(), std::string(kPlays) +
                                 " reset0123 unprepare0 unprepare1 unprepare2 unprepare3 close "
                                 "devs caps0 open0 text3 devs caps0 open0 text3 " +
                                 kPlays);
    const std::vector<fake::Call> calls = fake::Calls();
    EXPECT_LT(calls[0].ms - started, kLateMs);
    for (size_t i = 1; i < calls.size(); ++i) { // from the end of one attempt to the next
        if (calls[i].op == Op::Devs) {
            EXPECT_GE(calls[i].ms - calls[i - 1].ms, kPauseMs) << "attempt at call " << i;
            EXPECT_LT(calls[i].ms - calls[i - 1].ms, kPauseMs + kLateMs) << "attempt at call " << i;
        }
    }
}

} // namespace
