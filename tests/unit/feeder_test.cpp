// Stories of one stream: what the service does, what the feeder answers.
#include <gtest/gtest.h>

#include "fake_wave_out.h"
#include "test_support.h"
#include "wave_lib.h"

#include <algorithm>

using fake::Op;

namespace {

constexpr DWORD kArmed = WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP;

std::vector<int> WritesAfterPriming() {
    std::vector<int> writes = fake::Args(Op::Write);
    writes.erase(writes.begin(), writes.begin() + std::min<size_t>(4, writes.size()));
    return writes;
}

// A stream whose four headers are queued, with the feeder asleep on its event.
struct PlayingStream : ::testing::Test {
    void SetUp() override {
        fake::Reset({{"ATI HDMI Output"}});
        handles = HandleCount();
        stream = WaveLib_Start(0);
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(WaitUntil([] { return fake::QueuedCount() == 4; }));
    }
    void TearDown() override {
        if (stream)
            WaveLib_Close(stream);
    }
    DWORD Close() {
        const DWORD exitCode = CloseReturningExitCode(stream);
        stream = nullptr;
        return exitCode;
    }
    WaveLib_Stream* stream = nullptr;
    DWORD handles = 0;
};

TEST_F(PlayingStream, PrimesFourLoopingHeadersOnTheFixedFormat) {
    const WAVEFORMATEX& f = stream->format;
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.nAvgBytesPerSec, 192000u);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.cbSize, 0);

    EXPECT_EQ(fake::Args(Op::Prepare), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(fake::Args(Op::Write), (std::vector<int>{0, 1, 2, 3}));
    for (const fake::Call& call : fake::Calls()) {
        if (call.op == Op::Prepare) {
            EXPECT_EQ(call.flags, 0u);
        } else if (call.op == Op::Write) {
            EXPECT_EQ(call.flags, kArmed);
        }
    }
    for (const WAVEHDR& header : stream->headers) {
        EXPECT_EQ(header.lpData, reinterpret_cast<LPSTR>(stream->silence));
        EXPECT_EQ(header.dwBufferLength, 192000u);
        EXPECT_EQ(header.dwLoops, 0xFFFFFFFFu);
    }
}

TEST_F(PlayingStream, RequeuesEveryHeaderHandedBackInOnePassInOrder) {
    fake::MarkDone({3, 0});
    fake::CallBack(); // one wake-up for both
    ASSERT_TRUE(WaitUntil([] { return fake::QueuedCount() == 4; }));
    EXPECT_EQ(WritesAfterPriming(), (std::vector<int>{0, 3}));
    for (const fake::Call& call : fake::Calls()) {
        if (call.op == Op::Write) {
            EXPECT_EQ(call.flags, kArmed); // done cleared, prepared kept
        }
    }

    const BYTE* silence = stream->silence;
    EXPECT_TRUE(std::all_of(silence, silence + sizeof stream->silence, [](BYTE b) { return !b; }));
    EXPECT_EQ(Close(), 0u);
}

TEST_F(PlayingStream, AWakeUpWithNothingDoneCallsNothing) {
    fake::CallBack();
    ASSERT_TRUE(WaitEventTaken(stream->completionEvent));
    ASSERT_EQ(fake::HandBack({2}), std::vector<int>{2});
    ASSERT_TRUE(WaitUntil([] { return fake::Count(Op::Write) == 5; }));
    EXPECT_EQ(WritesAfterPriming(), std::vector<int>{2});
    EXPECT_EQ(Close(), 0u);
}

TEST_F(PlayingStream, AStopRequestQueuesNothingEvenWithHeadersDone) {
    fake::MarkDone({1, 2});
    EXPECT_EQ(Close(), static_cast<DWORD>(WAVELIB_FEED_STOPPED));
    EXPECT_TRUE(WritesAfterPriming().empty());
    const std::vector<fake::Call> calls = fake::Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].op, Op::Reset); // the device is closed after the reset
    EXPECT_EQ(calls.back().op, Op::Close);
    EXPECT_EQ(fake::Count(Op::Reset), 1);
    EXPECT_EQ(HandleCount(), handles); // event and thread handles closed
}

TEST_F(PlayingStream, AFailedRequeueSkipsTheRestAndEndsTheFeeder) {
    fake::Script(Op::Write, {MMSYSERR_NOMEM});
    fake::MarkDone({1, 2, 3});
    StdoutCapture out;
    fake::CallBack();
    ASSERT_EQ(WaitForSingleObject(stream->feederThread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(out.Take(), "waveOutWrite failed: error 7\r\n");
    EXPECT_EQ(WritesAfterPriming(), std::vector<int>{1}); // 2 and 3 never looked at
    EXPECT_EQ(fake::Calls().back().op, Op::Reset);
    EXPECT_EQ(Close(), static_cast<DWORD>(WAVELIB_FEED_FAILED));
}

struct PrimingCase {
    int failingHeader;
    std::vector<int> handedBackByReset;
};

TEST(Priming, AFailureReportsOnceResetsAndEndsWith20) {
    for (const PrimingCase& c : {PrimingCase{0, {0, 0, 0, 0}}, PrimingCase{2, {1, 1, 0, 0}}}) {
        SCOPED_TRACE(c.failingHeader);
        fake::Reset({{"ATI HDMI Output"}});
        std::vector<MMRESULT> writes(c.failingHeader, MMSYSERR_NOERROR);
        writes.push_back(MMSYSERR_NOTENABLED);
        fake::Script(Op::Write, writes);

        StdoutCapture out;
        WaveLib_Stream* stream = WaveLib_Open("ATI HDMI Output");
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(out.Take(), "WaveLib_SetupAudio failed: error 3\r\n");

        std::vector<int> upToFailure;
        for (int i = 0; i <= c.failingHeader; ++i)
            upToFailure.push_back(i);
        EXPECT_EQ(fake::Args(Op::Prepare), upToFailure);
        EXPECT_EQ(fake::Args(Op::Write), upToFailure);
        EXPECT_EQ(fake::HandBackCounts(), c.handedBackByReset);
        EXPECT_EQ(fake::Calls().back().op, Op::Reset);
        EXPECT_EQ(CloseReturningExitCode(stream), static_cast<DWORD>(WAVELIB_FEED_FAILED));
        EXPECT_EQ(fake::Calls().back().op, Op::Close);
    }
}

} // namespace
