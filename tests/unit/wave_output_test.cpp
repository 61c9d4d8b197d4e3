// WaveLib against the scripted service: device choice, headers marked done, streams lost and
// let go of.
#include <gtest/gtest.h>

#include "device_list.h"
#include "fake_wave_out.h"
#include "wave_lib.h"

#include <memory>
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

// A story, the devices, the name, the device number chosen (-1: none).
const std::tuple<const char*, std::vector<fake::Device>, const char*, int> kChoices[] = {
    {"A to Z fold, their neighbours do not", {{"Zone A [@]"}}, "zONE a [@]", 0},
    {"no folding next to the alphabet", {{"Zone A [@]"}}, "Zone A {`}", -1},
    {"longer than the product name", {{kName}}, "ATI HDMI Output ", -1},
    {"a failed query is skipped", {{kName, MMSYSERR_NODRIVER}, {kName}}, "ATI", 1},
    {"no folding above ASCII", {{"\xC9tude HDMI"}}, "\xE9tude", -1},
    {"the lowest-numbered match wins", {{"ATI HDMI Output 2"}, {kName}}, "ATI HDMI", 0},
};

// The companion chooses over the list it shows as murmex.exe does, and marks every device the name
// matches.
TEST(DeviceChoice, OpensTheFirstDeviceWhoseProductNameBeginsWithTheName) {
    Devices_List list;
    Devices_Choice choice;
    for (const auto& [story, devices, name, chosen] : kChoices) {
        fake::Reset(devices);
        Devices_Read(&list);
        Devices_ChoiceOf(&list, name, &choice);
        EXPECT_EQ(std::pair(WaveLib_FindDevice(name), choice.chosen), std::pair(chosen, chosen))
            << story;
    }
    EXPECT_EQ(std::vector(choice.standing, choice.standing + 2), // the last story's: both match
              std::vector({DEVICES_CHOSEN, DEVICES_MATCHES_TOO}));
}

// Some drivers mark a looping header done at the end of each pass: the wake-up resets the event,
// so the feeder sleeps again, costing next to nothing, and still checks the position once a second.
TEST(Feeder, PrimesRequeuesAllMarkedDoneSleepsAgainAndStopsWhenAsked) {
    fake::Reset({{kName}});
    std::unique_ptr<WaveLib_Stream, void (*)(WaveLib_Stream*)> stream(WaveLib_Start(0),
                                                                      WaveLib_Close);
    ASSERT_TRUE(stream && fake::AllQueued());

    // Two headers done before one wake-up: both re-queued in one pass, in order, done cleared.
    const size_t from = fake::Calls().size();
    fake::MarkDone({3, 0});
    ASSERT_TRUE(fake::AllQueued());
    EXPECT_EQ(fake::Trace(from), "write0 write3");
    EXPECT_EQ(fake::Calls().back().flags, DWORD{WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP});
    const size_t checks = fake::Count(Op::Position);
    EXPECT_TRUE(WaitUntil([&] { return fake::Count(Op::Position) >= checks + 2; }, 3000));

    // Headers done faster than the passes: none lost, none written twice (a queued header's fails).
    for (int round = 0; round < 20000; ++round)
        fake::MarkDone({0, 1, 2, 3}); // those of them that are queued
    ASSERT_TRUE(fake::AllQueued());

    // A stop request queues nothing, even headers marked done; the reset marks the rest done.
    const size_t stop = fake::Calls().size();
    fake::MarkDone({1, 2}, false);
    WaveLib_Close(stream.release());
    EXPECT_EQ(fake::Trace(stop), "reset03" + kClose);
}

using LossCase = std::tuple<fake::Loss, int, MMRESULT>; // way, counts held, answers afterwards
using fake::Loss;
// clang-format off
const LossCase kWeek[] = {
    {Loss::Windows, 1, 0}, {Loss::Wine, 3, 0}, {Loss::Frozen, 1, 0}, {Loss::Windows, 2, MMSYSERR_INVALHANDLE},
    {Loss::Wine, 1, MMSYSERR_NODRIVER}, {Loss::Windows, 6, MMSYSERR_NODRIVER}, {Loss::Wine, 1, 0},
    {Loss::Frozen, 1, 0}, {Loss::Wine, 4, MMSYSERR_INVALHANDLE}, {Loss::Windows, 1, MMSYSERR_NODRIVER},
    {Loss::Wine, 2, MMSYSERR_NODRIVER}, {Loss::Windows, 1, MMSYSERR_INVALHANDLE},
};
// clang-format on

// A week of a receiver switched off and on, without the pauses: each stream, lost after its first
// position check, is let go of in one of the service's ways (closed, forgotten or abandoned, at the
// next count or later; or frozen, its reset marking all done), reported once, and played again.
// Then it stays off: every record and event goes, and no attempt retries or calls for a stream
// freed.
TEST(Week, EveryLostStreamIsReportedOncePlayedAgainAndLetGoOf) {
    fake::Reset({{kName}}, {}, {}, TIME_BYTES); // answered whatever was asked, as Windows may
    const DWORD handles = HandleCount();
    std::thread off([] {
        for (size_t opens = 1; opens <= std::size(kWeek); ++opens) {
            WaitUntil([opens] {
                return fake::Count(Op::Open) == opens && fake::Calls().back().op == Op::Position;
            });
            std::apply(fake::Lose, kWeek[opens - 1]);
            if (std::get<Loss>(kWeek[opens - 1]) == Loss::Windows) // one back, its re-queue refused
                fake::MarkDone({0});
        }
    });
    std::vector<WaveLib_Stream*> records;
    std::string lines;
    for (const LossCase& c : kWeek)
        lines += std::get<Loss>(c) == Loss::Windows
                     ? "waveOutWrite failed: error 6\n"
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
    // Four streams held, let go of at the next count (those lost the Windows way had header 0
    // unprepared at their close); the one abandoned goes an attempt later.
    fake::Serve({});
    const std::string kRetry = " reset" + kClose, kWindows = " reset" + kClose.substr(11);
    for (const std::string& trace :
         {"devs" + kWindows + kRetry + kRetry + kWindows, "devs" + kRetry, std::string("devs")}) {
        const size_t from = fake::Calls().size();
        EXPECT_EQ(WaveLib_Open(kName), nullptr);
        EXPECT_EQ(fake::Trace(from), trace);
    }
    for (WaveLib_Stream* record : records)
        EXPECT_TRUE(Freed(record)) << record;
    EXPECT_EQ(HandleCount(), handles);
}

} // namespace
