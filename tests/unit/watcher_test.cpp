// The device watcher in real time against the scripted service: a stream that plays and then
// fails, and two failed opens.
#include <gtest/gtest.h>

#include "device_watch.h"
#include "fake_wave_out.h"

using fake::Op;

namespace {

// The pause is 2000 ms after every attempt, never before the first; a loaded machine, under
// emulation too, may add to it but never take from it.
constexpr double kPauseMs = 2000, kLateMs = 1500;

TEST(Watcher, TriesAtOnceThenTwoSecondsAfterEveryEnd) {
    fake::Reset({{"ATI HDMI Output"}}, {0, MMSYSERR_NOTENABLED, MMSYSERR_NOTENABLED},
                {0, 0, 0, 0, MMSYSERR_NOMEM});
    static char name[] = "ATI HDMI";
    const double started = fake::Now();
    HANDLE watcher = nullptr;
    const std::string out = Stdout([&] {
        watcher = CreateThread(nullptr, 0, DeviceWatchThread, name, 0, nullptr);
        if (fake::AllQueued())
            fake::HandBack({0});
        WaitUntil([] { return fake::Args(Op::Text).size() == 3; }, 3 * kPauseMs + 3 * kLateMs);
        Sleep(200); // into the third pause, out of every call
    });
    TerminateThread(watcher, 0);
    CloseHandle(watcher);

    EXPECT_EQ(out, "waveOutWrite failed: error 7\nwaveOutOpen failed: error 3\n"
                   "waveOutOpen failed: error 3\n");
    EXPECT_EQ(fake::Trace(), "devs caps0 open0 prepare0 write0 prepare1 write1 prepare2 write2 "
                             "prepare3 write3 write0 text7+event reset123 close "
                             "devs caps0 open0 text3 devs caps0 open0 text3");
    std::vector<double> attempts, ends; // an attempt begins with the device count
    for (const fake::Call& call : fake::Calls()) {
        if (call.op == Op::Devs)
            attempts.push_back(call.ms);
        if (call.op == Op::Close || (call.op == Op::Text && call.arg == MMSYSERR_NOTENABLED))
            ends.push_back(call.ms);
    }
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_LT(attempts[0] - started, kLateMs);
    for (int i : {0, 1}) {
        EXPECT_GE(attempts[i + 1] - ends[i], kPauseMs) << "after attempt " << i + 1;
        EXPECT_LT(attempts[i + 1] - ends[i], kPauseMs + kLateMs) << "after attempt " << i + 1;
    }
}

} // namespace
