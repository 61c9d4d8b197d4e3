// Weeks of retries and of buffer hand-backs, compressed: nothing may grow,
// and no hand-back may be lost, doubled or answered while its header is queued.
#include <gtest/gtest.h>

#include "fake_wave_out.h"
#include "test_support.h"
#include "wave_lib.h"

#include <psapi.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <utility>

using fake::Op;

namespace {

constexpr char kName[] = "ATI HDMI Output";
constexpr int kCycles = 10000;
constexpr int kStormHandBacks = 200000;
constexpr DWORD kDeadlineMs = 60000; // a stuck feeder fails here, before ctest's timeout

// Windows reports the commit charge as both PrivateUsage and PagefileUsage;
// Wine 8 leaves PrivateUsage at 0 and reports resident anonymous memory.
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

int Sum(const std::vector<int>& counts) {
    return std::accumulate(counts.begin(), counts.end(), 0);
}

bool AllQueued() {
    return WaitUntil([] { return fake::QueuedCount() == WAVELIB_HEADER_COUNT; });
}

// One attempt of the device watcher, ending the way `cycle` picks; returns what went
// wrong, if anything (an assertion's message would vanish into the captured output).
std::string WatcherCycle(int cycle) {
    fake::Reset({{kName}});
    if (cycle % 4 == 0) {
        fake::Script(Op::Open, {MMSYSERR_ALLOCATED});
        return WaveLib_Open(kName) ? "a stream despite the failed open" : "";
    }
    if (cycle % 4 == 1) { // priming fails at header 0 or 2
        std::vector<MMRESULT> writes(cycle % 8 == 1 ? 0 : 2, MMSYSERR_NOERROR);
        writes.push_back(MMSYSERR_NOTENABLED);
        fake::Script(Op::Write, writes);
        WaveLib_Stream* stream = WaveLib_Open(kName);
        if (!stream)
            return "no stream";
        return CloseReturningExitCode(stream) == WAVELIB_FEED_FAILED ? "" : "priming: not 20";
    }
    WaveLib_Stream* stream = WaveLib_Start(0);
    if (!stream || !AllQueued())
        return "not primed";
    DWORD expected = WAVELIB_FEED_STOPPED; // the stream plays and is stopped
    if (cycle % 4 == 2) {                  // or a re-queue fails
        fake::Script(Op::Write, {MMSYSERR_NOMEM});
        fake::HandBack({cycle / 4 % WAVELIB_HEADER_COUNT});
        if (WaitForSingleObject(stream->feederThread, kDeadlineMs) != WAIT_OBJECT_0)
            return "the feeder outlived a failed re-queue";
        expected = WAVELIB_FEED_FAILED;
    }
    return CloseReturningExitCode(stream) == expected ? "" : "unexpected exit code";
}

// GetProcessHandleCount answers 0 under Wine, so HandleCount() scans the
// handle table. A leaked record is 192 KB; the tolerance is well below that.
TEST(Endurance, TenThousandOpenFailCloseCyclesLeaveHandlesAndMemoryAsTheyWere) {
    constexpr DWORD kHandleSlack = 2;
    constexpr SIZE_T kMemorySlack = 64 * 1024;
    StdoutCapture out;
    DWORD handles = 0;
    SIZE_T bytes = 0;
    std::string problem;
    int cycle = 0;
    for (; cycle < kCycles && problem.empty(); ++cycle) {
        problem = WatcherCycle(cycle);
        if (cycle == 99) {
            handles = HandleCount();
            bytes = PrivateBytes();
        }
    }
    const DWORD handlesAfter = HandleCount();
    const SIZE_T bytesAfter = PrivateBytes(); // before the captured lines are read in
    const std::string lines = out.Take();
    ASSERT_EQ(problem, "") << "cycle " << cycle - 1;
    printf("after 100 / %d cycles: %lu / %lu handles, %llu / %llu private bytes\n", kCycles,
           handles, handlesAfter, static_cast<unsigned long long>(bytes),
           static_cast<unsigned long long>(bytesAfter));
    EXPECT_LE(handlesAfter, handles + kHandleSlack);
    EXPECT_LE(bytesAfter, bytes + kMemorySlack);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), kCycles / 4 * 3); // one per failure
}

// A playing stream under a storm of hand-backs; whatever a story leaves
// running is stopped after it, failed or not.
struct Storm : ::testing::Test {
    void Start(unsigned seed, int handBacks) {
        fake::Reset({{kName}});
        stream = WaveLib_Start(0);
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(AllQueued());
        fake::StartStorm(seed, handBacks);
        storming = true;
    }
    bool Ended() { return WaitForSingleObject(stream->feederThread, 0) == WAIT_OBJECT_0; }
    // Waits until the storm has handed back that many headers; fails if the feeder ends first.
    void Reach(int handBacks) {
        ASSERT_TRUE(WaitUntil([=] { return Sum(fake::HandBackCounts()) >= handBacks || Ended(); },
                              kDeadlineMs));
        ASSERT_FALSE(Ended()) << "the feeder ended during the storm";
    }
    DWORD Stop() { // the feeder's exit code
        const DWORD exitCode = CloseReturningExitCode(stream);
        stream = nullptr;
        if (std::exchange(storming, false))
            fake::JoinStorm(); // the reset ends it
        return exitCode;
    }
    void TearDown() override {
        if (stream)
            Stop();
    }
    WaveLib_Stream* stream = nullptr;
    bool storming = false;
};

TEST_F(Storm, EveryHandBackIsRequeuedOnceAndNoneIsLost) {
    ASSERT_NO_FATAL_FAILURE(Start(7, kStormHandBacks));
    ASSERT_NO_FATAL_FAILURE(Reach(kStormHandBacks));
    EXPECT_GE(fake::JoinStorm(), kStormHandBacks);
    storming = false;
    ASSERT_TRUE(AllQueued()) << "a handed-back header was never re-queued";

    const std::vector<int> handedBack = fake::HandBackCounts();
    std::vector<int> writes(WAVELIB_HEADER_COUNT);
    int writesWhileQueued = 0;
    for (const fake::Call& call : fake::Calls()) {
        if (call.op == Op::Write) {
            ++writes[call.arg];
            writesWhileQueued += (call.flags & WHDR_INQUEUE) ? 1 : 0;
        }
    }
    for (int i = 0; i < WAVELIB_HEADER_COUNT; ++i) // priming, then one per hand-back
        EXPECT_EQ(writes[i], 1 + handedBack[i]) << "header " << i;
    EXPECT_EQ(writesWhileQueued, 0);
    EXPECT_EQ(Stop(), static_cast<DWORD>(WAVELIB_FEED_STOPPED)); // 20 after any failed write
}

// The stop flag is set under the service's lock, so the log position marks
// exactly the calls made after it: at most the rest of a pass already under
// way (headers in rising order), then the reset. That a wake-up which sees the
// flag re-queues nothing at all is pinned down without a storm, in
// PlayingStream.AStopRequestQueuesNothingEvenWithHeadersDone.
TEST_F(Storm, AStopAtAnyMomentEndsTheFeederAfterAtMostThePassUnderWay) {
    std::mt19937 random(11);
    for (int round = 0; round < 100 && !HasFailure(); ++round) {
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(Start(round, 1 << 30)); // until the feeder's reset
        ASSERT_NO_FATAL_FAILURE(Reach(static_cast<int>(random() % 3000)));
        const size_t stop =
            fake::WhileHeld([this] { InterlockedExchange(&stream->stopRequested, 1); });
        SetEvent(stream->completionEvent);
        ASSERT_EQ(WaitForSingleObject(stream->feederThread, kDeadlineMs), WAIT_OBJECT_0);
        EXPECT_EQ(Stop(), static_cast<DWORD>(WAVELIB_FEED_STOPPED));

        const std::vector<fake::Call> calls = fake::Calls();
        std::vector<int> writes;
        size_t at = stop;
        for (; at < calls.size() && calls[at].op == Op::Write; ++at)
            writes.push_back(calls[at].arg);
        EXPECT_EQ(std::adjacent_find(writes.begin(), writes.end(), std::greater_equal<int>()),
                  writes.end());
        ASSERT_EQ(calls.size() - at, 2u) << "calls after the writes that followed the stop";
        EXPECT_EQ(calls[at].op, Op::Reset);
        EXPECT_EQ(calls[at + 1].op, Op::Close);
    }
}

} // namespace
