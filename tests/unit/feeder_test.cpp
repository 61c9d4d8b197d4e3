// Stories of one stream: what the service does, what the feeder answers.
#include <gtest/gtest.h>

#include "fake_wave_out.h"
#include "test_support.h"
#include "wave_lib.h"

#include <string.h>

#include <algorithm>

using fake::Op;

namespace {

constexpr DWORD kArmed = WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP;

// A stream whose four headers are queued, with the feeder asleep on its event.
struct PlayingStream : ::testing::Test {
    void SetUp() override {
        fake::Reset({{"ATI HDMI Output"}});
        handles = HandleCount();
        stream = WaveLib_Start(0);
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(WaitUntil([] { return fake::Queued() == 4; }));
        primed = fake::Calls().size();
    }
    void TearDown() override {
        if (stream)
            WaveLib_Close(stream);
    }
    DWORD Close() { // the feeder's exit code
        return CloseReturningExitCode(std::exchange(stream, nullptr));
    }
    WaveLib_Stream* stream = nullptr;
    DWORD handles = 0;
    size_t primed = 0;
};

TEST_F(PlayingStream, PrimesFourLoopingHeadersOnTheFixedFormat) {
    const WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    EXPECT_EQ(memcmp(&stream->format, &pcm, sizeof pcm), 0);
    // The completion event comes after the open, before the feeder's first call.
    EXPECT_EQ(fake::Trace(),
              "open0 prepare0 write0 prepare1 write1 prepare2 write2 prepare3 write3");
    for (const fake::Call& call : fake::Calls()) {
        if (call.op == Op::Prepare || call.op == Op::Write) {
            EXPECT_EQ(call.flags, call.op == Op::Prepare ? 0 : kArmed);
        }
    }
    for (const WAVEHDR& header : stream->headers) {
        EXPECT_EQ(header.lpData, reinterpret_cast<LPSTR>(stream->silence));
        EXPECT_EQ(header.dwBufferLength, 192000u);
        EXPECT_EQ(header.dwLoops, 0xFFFFFFFFu);
    }
}

TEST_F(PlayingStream, RequeuesEveryHeaderHandedBackInOnePassInOrder) {
    fake::HandBack({3, 0}, false);
    fake::CallBack(); // one wake-up for both
    ASSERT_TRUE(WaitUntil([] { return fake::Queued() == 4; }));
    EXPECT_EQ(fake::Trace(primed), "write0 write3");
    EXPECT_EQ(fake::Calls().back().flags, kArmed); // done cleared, prepared kept
    const BYTE* silence = stream->silence;
    EXPECT_TRUE(std::all_of(silence, silence + sizeof stream->silence, [](BYTE b) { return !b; }));
    EXPECT_EQ(Close(), static_cast<DWORD>(WAVELIB_FEED_STOPPED));
}

TEST_F(PlayingStream, AWakeUpWithNothingDoneCallsNothing) {
    fake::CallBack();
    Sleep(200); // the feeder wakes and finds nothing done
    EXPECT_EQ(WaitForSingleObject(stream->completionEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the wake-up left the event set";
    ASSERT_EQ(fake::HandBack({2}), std::vector<int>{2});
    ASSERT_TRUE(WaitUntil([] { return fake::Queued() == 4; }));
    EXPECT_EQ(fake::Trace(primed), "write2");
}

// After a stop request nothing is queued, even headers marked done; the reset hands back the
// rest before the device is closed, and the stream's handles are gone.
TEST_F(PlayingStream, AStopRequestQueuesNothingResetsAndCloses) {
    fake::HandBack({1, 2}, false);
    EXPECT_EQ(Close(), static_cast<DWORD>(WAVELIB_FEED_STOPPED));
    EXPECT_EQ(fake::Trace(primed), "reset03 close");
    EXPECT_EQ(HandleCount(), handles);
}

TEST_F(PlayingStream, AFailedRequeueSkipsTheRestAndEndsTheFeeder) {
    fake::Script(Op::Write, {MMSYSERR_NOMEM});
    fake::HandBack({1, 2, 3}, false);
    EXPECT_EQ(Stdout([&] {
                  fake::CallBack();
                  WaitForSingleObject(stream->feederThread, 10000);
              }),
              "waveOutWrite failed: error 7\n");
    EXPECT_EQ(fake::Trace(primed), "write1 text7+event reset0"); // 2 and 3 never looked at
    EXPECT_EQ(Close(), static_cast<DWORD>(WAVELIB_FEED_FAILED));
}

TEST(Priming, AFailureReportsOnceResetsAndEndsWith20) {
    fake::Reset({{"ATI HDMI Output"}});
    fake::Script(Op::Write, {MMSYSERR_NOERROR, MMSYSERR_NOERROR, MMSYSERR_NOTENABLED});
    WaveLib_Stream* stream = nullptr;
    EXPECT_EQ(Stdout([&] { stream = WaveLib_Open("ATI HDMI Output"); }),
              "WaveLib_SetupAudio failed: error 3\n");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(CloseReturningExitCode(stream), static_cast<DWORD>(WAVELIB_FEED_FAILED));
    // Header 3 is never prepared nor queued; the reset hands back the two queued before.
    EXPECT_EQ(fake::Trace(), "devs caps0 open0 prepare0 write0 prepare1 write1 prepare2 write2 "
                             "text3+event reset01 close");
}

} // namespace
