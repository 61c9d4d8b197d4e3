// Many watcher attempts, and a race of hand-backs: nothing may grow, and no hand-back may be
// lost, doubled or answered while its header is queued.
#include <gtest/gtest.h>

#include "fake_wave_out.h"
#include "test_support.h"
#include "wave_lib.h"

#include <psapi.h>

#include <algorithm>
#include <random>

using fake::Op;

namespace {

constexpr char kName[] = "ATI HDMI Output";

bool AllQueued() {
    return WaitUntil([] { return fake::Queued() == WAVELIB_HEADER_COUNT; });
}

// Windows reports the commit charge as both PrivateUsage and PagefileUsage; Wine 8 leaves
// PrivateUsage at 0 and reports resident anonymous memory.
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// One attempt of the device watcher, ending the way `cycle` picks: a failed open, a failed
// priming, or a playing stream that is stopped. False if it did not end so.
bool Attempt(int cycle) {
    fake::Reset({{kName}});
    if (cycle % 3 == 0) {
        fake::Script(Op::Open, {MMSYSERR_ALLOCATED});
        return !WaveLib_Open(kName);
    }
    if (cycle % 3 == 1) {
        fake::Script(Op::Write, {MMSYSERR_NOERROR, MMSYSERR_NOTENABLED});
        WaveLib_Stream* stream = WaveLib_Open(kName);
        return stream && CloseReturningExitCode(stream) == WAVELIB_FEED_FAILED;
    }
    WaveLib_Stream* stream = WaveLib_Start(0);
    return stream && AllQueued() && CloseReturningExitCode(stream) == WAVELIB_FEED_STOPPED;
}

// One leaked record is 192 KB and one leaked handle is one handle, so a hundred attempts show
// either far above the noise of the first ones, which warm the heap and the handle table.
TEST(Endurance, HundredsOfAttemptsLeaveHandlesAndMemoryAsTheyWere) {
    DWORD handles = 0;
    SIZE_T bytes = 0;
    int failed = -1;
    const std::string out = Stdout([&] {
        for (int cycle = 0; cycle < 120 && failed < 0; ++cycle) {
            if (cycle == 20) {
                handles = HandleCount();
                bytes = PrivateBytes();
            }
            failed = Attempt(cycle) ? -1 : cycle;
        }
    });
    ASSERT_EQ(failed, -1) << "attempt " << failed << " did not end as it should";
    EXPECT_LE(HandleCount(), handles + 2);
    EXPECT_LE(PrivateBytes(), bytes + 2 * 1024 * 1024);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 80); // one line per failure
}

// This thread hands back random sets of headers as fast as the feeder re-queues them, so that
// hand-backs often pile up between two wake-ups.
TEST(Race, EveryHandBackIsRequeuedExactlyOnce) {
    fake::Reset({{kName}});
    WaveLib_Stream* stream = WaveLib_Start(0);
    ASSERT_TRUE(stream && AllQueued());
    std::mt19937 random(7);
    std::vector<int> handedBack(WAVELIB_HEADER_COUNT), writes(WAVELIB_HEADER_COUNT);
    for (int round = 0; round < 20000; ++round) {
        std::vector<int> headers;
        for (int index = 0, bits = static_cast<int>(random()); index < 4; ++index)
            if (bits >> index & 1)
                headers.push_back(index);
        for (int index : fake::HandBack(headers))
            ++handedBack[index];
    }
    ASSERT_TRUE(AllQueued()) << "a handed-back header was never re-queued";
    for (int index : fake::Args(Op::Write))
        ++writes[index];
    for (int index = 0; index < WAVELIB_HEADER_COUNT; ++index) // priming, then one per hand-back
        EXPECT_EQ(writes[index], 1 + handedBack[index]) << "header " << index;
    // A write of a queued header fails, which would have ended the feeder with 20.
    EXPECT_EQ(CloseReturningExitCode(stream), static_cast<DWORD>(WAVELIB_FEED_STOPPED));
}

} // namespace
