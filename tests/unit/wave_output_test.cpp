// WaveLib against the scripted service: device choice, failed opens, hand-backs, stream ends.
#include <gtest/gtest.h>

#include "fake_wave_out.h"
#include "wave_lib.h"

#include <thread>

using fake::Op;

namespace {

constexpr char kName[] = "ATI HDMI Output";

bool Freed(const void* block) {
    return !HeapValidate(GetProcessHeap(), 0, block);
}

// Wine answers GetProcessHandleCount with 0: this counts the small handle values in use.
DWORD HandleCount() {
    DWORD count = 0, flags;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

struct ChoiceCase {
    const char* story;
    std::vector<fake::Device> devices;
    const char* name;
    int chosen; // device number, -1 for none
};

const ChoiceCase kChoices[] = {
    {"A to Z fold, their neighbours do not", {{"Zone A [@]"}}, "zONE a [@]", 0},
    {"no folding next to the alphabet", {{"Zone A [@]"}}, "Zone A {`}", -1},
    {"the lowest-numbered match wins", {{"ATI HDMI Output 2"}, {kName}}, "ATI HDMI", 0},
    {"longer than the product name", {{kName}}, "ATI HDMI Output ", -1},
    {"a failed query is skipped", {{kName, MMSYSERR_NODRIVER}, {kName}}, "ATI", 1},
    {"no folding above ASCII", {{"\xC9tude HDMI"}}, "\xE9tude", -1},
};

// A failed open is reported, starts no feeder, closes nothing it left in the handle, frees all.
TEST(DeviceChoice, OpensTheFirstDeviceWhoseProductNameBeginsWithTheName) {
    for (const ChoiceCase& c : kChoices) {
        fake::Reset(c.devices);
        EXPECT_EQ(WaveLib_FindDevice(c.name), c.chosen) << c.story;
    }
    fake::Reset({{"Speakers"}, {kName}}, {{Op::Open, {MMSYSERR_NOTENABLED}}});
    EXPECT_EQ(Stdout([] { EXPECT_EQ(WaveLib_Open("ati"), nullptr); }),
              "waveOutOpen failed: error 3\n");
    EXPECT_TRUE(Freed(fake::Opened()));
}

// A stream primed on device 0, with the feeder asleep on its event; closed after the story.
struct Feeder : ::testing::Test {
    void Play(std::map<Op, std::vector<MMRESULT>> results = {}, std::vector<DWORD> frames = {},
              UINT timeType = 0) {
        fake::Reset({{kName}}, results, frames, timeType);
        stream = WaveLib_Start(0);
        ASSERT_TRUE(stream && fake::AllQueued());
    }
    void TearDown() override { WaveLib_Close(stream); }
    void Close() { WaveLib_Close(std::exchange(stream, nullptr)); }
    WaveLib_Stream* stream = nullptr;
};

TEST_F(Feeder, PrimesRequeuesAllThatIsHandedBackAndStopsWhenAsked) {
    ASSERT_NO_FATAL_FAILURE(Play());
    EXPECT_EQ(fake::Trace(),
              "open0 prepare0 write0 prepare1 write1 prepare2 write2 prepare3 write3");
    for (const WAVEHDR& h : stream->headers) // each loops the one second of silence for ever
        EXPECT_EQ(std::tuple(h.lpData, h.dwBufferLength, h.dwLoops),
                  std::tuple(reinterpret_cast<LPSTR>(stream->silence), 192000ul, 0xFFFFFFFFul));

    // Two headers back before one wake-up: both re-queued in one pass, in order, done cleared.
    const size_t from = fake::Calls().size();
    fake::HandBack({3, 0}, false);
    fake::CallBack();
    ASSERT_TRUE(fake::AllQueued());
    EXPECT_EQ(fake::Trace(from), "write0 write3");
    EXPECT_EQ(fake::Calls().back().flags, DWORD{WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP});

    // Hand-backs faster than the passes: none lost, none written twice (a queued header's fails).
    for (int round = 0; round < 20000; ++round)
        fake::HandBack({0, 1, 2, 3}); // those of them that are queued
    ASSERT_TRUE(fake::AllQueued());

    // A stop request queues nothing, even headers marked done; the reset hands back the rest.
    const size_t stop = fake::Calls().size();
    fake::HandBack({1, 2}, false);
    Close();
    EXPECT_EQ(fake::Trace(stop), "reset03 unprepare0 unprepare1 unprepare2 unprepare3 close");
}

struct EndCase {
    const char* story;
    std::map<Op, std::vector<MMRESULT>> results;
    fake::Loss loss;     // or the device goes away after the first look,
    int countsHeld;      // and the service lets go of it at this device count,
    MMRESULT afterwards; // after which every call on the handle answers this
    const char* line;
    const char* trace; // from the hand-back of headers 1 to 3 up to the reset
};

// clang-format off
const EndCase kEnds[] = {
    {"a failed re-queue: the headers after it are never looked at",
     {{Op::Write, {0, 0, 0, 0, MMSYSERR_NOMEM}}}, fake::Loss::None, 0, 0,
     "waveOutWrite failed: error 7\n", "write1 text7 reset0"},
    {"gone the Wine way, let go at the next device count", {}, fake::Loss::Wine, 1, 0,
     "waveOutGetPosition failed: The device stopped playing.\n", "write1 write2 write3 reset"},
    {"gone the Windows way, let go and forgotten at the second device count", {},
     fake::Loss::Windows, 2, MMSYSERR_INVALHANDLE, "waveOutGetPosition failed: error 6\n", "write1 write2 write3 text6 reset"},
};
// clang-format on

// A stream ends at a failed re-queue or at a look that finds it lost. A reset that hands all
// back lets the tear-down free all at once. A device that has gone keeps its headers queued, so
// unprepare and close are refused: the stream stays whole, its event open and late WOM_DONEs
// harmless, and each later attempt tries the close again until one goes through. Two such
// streams, let go of in another order than they came, leave nothing behind.
TEST_F(Feeder, AStreamThatEndsIsFreedOnceTheServiceHasLetGoOfItsDevice) {
    const std::string kClose = "unprepare0 unprepare1 unprepare2 unprepare3 close";
    std::vector<WaveLib_Stream*> lost;
    for (const EndCase& c : kEnds) {
        SCOPED_TRACE(c.story);
        ASSERT_NO_FATAL_FAILURE(Play(c.results));
        const size_t from = fake::Calls().size();
        fake::HandBack({1, 2, 3}, false); // seen at one wake-up
        EXPECT_EQ(Stdout([&] {
                      fake::CallBack();
                      if (c.loss != fake::Loss::None &&
                          WaitUntil([] { return !fake::Args(Op::Position).empty(); }))
                          fake::Lose(c.loss, c.countsHeld, c.afterwards);
                      WaitForSingleObject(stream->feederThread, 10000);
                  }),
                  c.line);
        WaveLib_Stream* record = stream;
        const DWORD handles = HandleCount();
        Close();
        EXPECT_EQ(fake::Trace(from), c.trace + (" " + kClose));
        if (c.loss != fake::Loss::None) {
            lost.push_back(record);
            fake::CallBack(); // a late WOM_DONE
        }
        EXPECT_EQ(Freed(record), c.loss == fake::Loss::None);
        EXPECT_EQ(HandleCount(), handles - (c.loss == fake::Loss::None ? 2 : 1)); // event held
    }
    // Attempts that find no device: each tries again the close of every stream held, and frees the
    // one the service let go of at its device count.
    const DWORD handles = HandleCount();
    const std::string kRetry = " reset " + kClose;
    for (const std::string& trace : {"devs caps0" + kRetry + kRetry, "devs caps0" + kRetry}) {
        const size_t from = fake::Calls().size();
        EXPECT_EQ(WaveLib_Open("Elsewhere"), nullptr);
        EXPECT_EQ(fake::Trace(from), trace);
    }
    EXPECT_EQ(HandleCount(), handles - lost.size()); // their events
    EXPECT_TRUE(Freed(lost[0]) && Freed(lost[1]));
}

// Hours into a stream, its samples climb where Wine's bytes stand at 0xFFFFFFFF from 2^31 on, and
// Windows' bytes, answered whatever was asked, wrap at 2^32: neither is taken for lost.
TEST_F(Feeder, AStreamThatHasPlayedForHoursIsNotTakenForLost) {
    for (UINT timeType : {0u, UINT{TIME_BYTES}}) {
        const DWORD frames = (timeType ? 1u << 30 : 1u << 29) - 2 * 48000; // 2 looks before
        EXPECT_EQ(Stdout([&] {
                      ASSERT_NO_FATAL_FAILURE(Play({}, {frames}, timeType));
                      EXPECT_TRUE(WaitUntil([] { return fake::Args(Op::Position).size() == 5; }));
                  }),
                  "");
        EXPECT_EQ(WaitForSingleObject(stream->feederThread, 0), DWORD{WAIT_TIMEOUT});
        Close();
    }
}

struct LossCase {
    fake::Loss way;
    int countsHeld;
    MMRESULT afterwards;
};
// clang-format off
const LossCase kWeek[] = {
    {fake::Loss::Windows, 1, 0}, {fake::Loss::Wine, 3, 0}, {fake::Loss::Frozen, 1, 0},
    {fake::Loss::Windows, 2, MMSYSERR_INVALHANDLE}, {fake::Loss::Wine, 1, MMSYSERR_NODRIVER},
    {fake::Loss::Windows, 6, MMSYSERR_NODRIVER}, {fake::Loss::Wine, 1, 0}, {fake::Loss::Frozen, 1, 0},
    {fake::Loss::Wine, 4, MMSYSERR_INVALHANDLE}, {fake::Loss::Windows, 1, MMSYSERR_NODRIVER},
    {fake::Loss::Wine, 2, MMSYSERR_NODRIVER}, {fake::Loss::Windows, 1, MMSYSERR_INVALHANDLE},
};
// clang-format on

// A week of a receiver switched off and on, without the pauses: each stream is lost after its
// first look and let go of in one of the service's ways (at the next device count or later, closed,
// forgotten or deserted; or frozen, its reset handing all back), each loss reported once, the
// device played again each time. Then it stays off: every record and event goes, and the attempts
// end with nothing to retry, never calling the service for a stream already freed.
TEST(Week, EveryLostStreamIsReportedOncePlayedAgainAndLetGoOf) {
    fake::Reset({{kName}});
    const DWORD handles = HandleCount();
    std::thread off([] {
        for (const LossCase& c : kWeek) {
            WaitUntil([&c] {
                const std::vector<fake::Call> calls = fake::Calls();
                return fake::Args(Op::Open).size() == size_t(&c - kWeek + 1) &&
                       calls.back().op == Op::Position;
            });
            fake::Lose(c.way, c.countsHeld, c.afterwards);
        }
    });
    std::vector<WaveLib_Stream*> records;
    std::string lines;
    for (const LossCase& c : kWeek)
        lines += c.way == fake::Loss::Windows
                     ? "waveOutGetPosition failed: error 6\n"
                     : "waveOutGetPosition failed: The device stopped playing.\n";
    EXPECT_EQ(Stdout([&] {
                  for (size_t i = 0; i < std::size(kWeek); ++i) {
                      records.push_back(WaveLib_Open(kName));
                      ASSERT_TRUE(records.back());
                      WaveLib_Close(records.back());
                  }
              }),
              lines);
    off.join();
    fake::Serve({});
    for (int attempt = 0; attempt < 8; ++attempt)
        EXPECT_EQ(WaveLib_Open(kName), nullptr);
    const size_t from = fake::Calls().size();
    EXPECT_EQ(WaveLib_Open(kName), nullptr);
    EXPECT_EQ(fake::Trace(from), "devs");
    for (WaveLib_Stream* record : records)
        EXPECT_TRUE(Freed(record)) << record;
    EXPECT_EQ(HandleCount(), handles);
}

} // namespace
