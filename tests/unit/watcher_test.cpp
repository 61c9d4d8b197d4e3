// The device watcher in real time against the scripted service: a stream that plays and then
// fails, and two failed opens.
#include <gtest/gtest.h>

#include "device_watch.h"
#include "fake_wave_out.h"

using fake::Op;

namespace {

// The pause is 2000 ms after every attempt, never before the first; a loaded machine, under
// emulation too, may add to it but never take from it, nor make it 3000 ms.
constexpr double kPauseMs = 2000, kLateMs = 800;

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
    const std::vector<fake::Call> calls = fake::Calls();
    ASSERT_EQ(calls.size(), 23u);
    EXPECT_LT(calls[0].ms - started, kLateMs);
    for (auto [end, next] : {std::pair{14, 15}, {18, 19}}) { // from the close, from the text
        EXPECT_GE(calls[next].ms - calls[end].ms, kPauseMs) << "attempt at call " << next;
        EXPECT_LT(calls[next].ms - calls[end].ms, kPauseMs + kLateMs) << "attempt at call " << next;
    }
}

} // namespace
