#include "fake_wave_out.h"

#include "wave_lib.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <tuple>

namespace fake {
namespace {

struct Opening {            // what the service keeps of one open
    WaveLib_Stream* stream; // the instance data
    LPDRVCALLBACK callback;
    Loss loss;
    int countsHeld;      // while lost: device counts until the service lets go of the handle
    MMRESULT afterwards; // and then the answer to every call on it
    bool closed;
};
constexpr UINT_PTR kFirstHandle = 0x5000;

// Guarded by g_lock, held through callbacks as a real service holds its own.
std::mutex g_lock;
struct Script {
    std::vector<Device> devices;
    std::map<Op, std::vector<MMRESULT>> results;
    std::vector<DWORD> frames;
    UINT timeType;
} g_script;
DWORD g_frames;
std::atomic<DWORD> g_parked;
std::vector<Call> g_calls;
std::vector<Opening> g_opens; // handle kFirstHandle + i is g_opens[i]; the last is the last open
using Lock = std::lock_guard<std::mutex>;

DWORD Flags(WAVEHDR* header, DWORD set = 0, DWORD clear = 0) {
    auto* word = reinterpret_cast<volatile LONG*>(&header->dwFlags);
    InterlockedAnd(word, ~static_cast<LONG>(clear));
    return static_cast<DWORD>(InterlockedOr(word, static_cast<LONG>(set))) | set;
}

template <typename T> T Next(std::vector<T>& script, T otherwise) {
    if (script.empty())
        return otherwise;
    const T next = script.front();
    script.erase(script.begin());
    return next;
}

MMRESULT Record(Op op, int arg, DWORD flags = 0) {
    g_calls.push_back({op, arg, flags, Now()});
    return Next(g_script.results[op], MMRESULT{MMSYSERR_NOERROR});
}

// The service would write into the record, or call back with it: it must still be there.
bool Alive(const Opening& open) {
    const bool alive = HeapValidate(GetProcessHeap(), 0, open.stream);
    EXPECT_TRUE(alive) << "the service touched the freed record " << open.stream;
    return alive;
}

// The opening of a handle the service holds, or nullptr: never opened, closed, or its record freed.
Opening* Find(HWAVEOUT device) {
    const UINT_PTR index = reinterpret_cast<UINT_PTR>(device) - kFirstHandle;
    Opening* open = index < g_opens.size() && !g_opens[index].closed ? &g_opens[index] : nullptr;
    return open && Alive(*open) ? open : nullptr;
}

// What a call on the handle answers before anything else: 0 while the service serves it.
MMRESULT Refusal(const Opening* open) {
    return !open ? MMSYSERR_INVALHANDLE : open->countsHeld ? 0 : open->afterwards;
}

// The header's index in whichever record it belongs to, for the log; -1: none.
int IndexOf(const WAVEHDR* header) {
    for (const Opening& open : g_opens) {
        const ptrdiff_t index = header - open.stream->headers;
        if (index >= 0 && index < WAVELIB_HEADER_COUNT)
            return static_cast<int>(index);
    }
    return -1;
}

void Done(const Opening& open, WAVEHDR* header) {
    DWORD flags;
    if (!Alive(open))
        return;
    EXPECT_TRUE(GetHandleInformation(open.stream->completionEvent, &flags))
        << "its event is closed";
    open.callback(nullptr, WOM_DONE, reinterpret_cast<DWORD_PTR>(open.stream),
                  reinterpret_cast<DWORD_PTR>(header), 0);
}

bool MarkDoneLocked(const Opening& open, int index, bool callBack) {
    WAVEHDR* header = &open.stream->headers[index];
    if (!Alive(open) || !(Flags(header) & WHDR_INQUEUE))
        return false;
    Flags(header, WHDR_DONE, WHDR_INQUEUE);
    if (callBack)
        Done(open, header);
    return true;
}

int Queued(const Opening& open) {
    WAVEHDR* headers = open.stream->headers;
    return static_cast<int>(std::count_if(headers, headers + WAVELIB_HEADER_COUNT,
                                          [](WAVEHDR& h) { return Flags(&h) & WHDR_INQUEUE; }));
}

} // namespace

void Reset(std::vector<Device> devices, std::map<Op, std::vector<MMRESULT>> results,
           std::vector<DWORD> frames, UINT timeType) {
    Lock lock(g_lock);
    g_script = {std::move(devices), std::move(results), std::move(frames), timeType};
    g_calls.clear();
}

void Serve(std::vector<Device> devices) {
    Lock lock(g_lock);
    g_script.devices = std::move(devices);
}

void Lose(Loss way, int countsHeld, MMRESULT afterwards) {
    Lock lock(g_lock);
    Opening& open = g_opens.back();
    std::tie(open.loss, open.countsHeld, open.afterwards) = std::tuple(way, countsHeld, afterwards);
}

std::vector<Call> Calls() {
    Lock lock(g_lock);
    return g_calls;
}

size_t Count(Op op) {
    const std::vector<Call> calls = Calls();
    return std::count_if(calls.begin(), calls.end(), [op](const Call& c) { return c.op == op; });
}

std::string Trace(size_t from) {
    const char* const words[] = {"devs",  "caps",  "open", "prepare",  "write",
                                 "reset", "close", "text", "unprepare"};
    const std::vector<Call> calls = Calls();
    std::string trace;
    for (size_t i = from; i < calls.size(); ++i) {
        const Call& call = calls[i];
        if (call.op == Op::Position)
            continue;
        trace += (trace.empty() ? "" : " ") + std::string(words[static_cast<int>(call.op)]);
        for (int index = 0; call.op == Op::Reset && index < WAVELIB_HEADER_COUNT; ++index)
            trace += (call.arg >> index & 1) ? std::to_string(index) : "";
        if (call.op != Op::Devs && call.op != Op::Reset && call.op != Op::Close)
            trace += std::to_string(call.arg);
    }
    return trace;
}

WaveLib_Stream* Opened() {
    Lock lock(g_lock);
    return g_opens.empty() ? nullptr : g_opens.back().stream;
}

double Now() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(now).count();
}

void MarkDone(const std::vector<int>& headers, bool callBack) {
    Lock lock(g_lock);
    for (int index : headers)
        MarkDoneLocked(g_opens.back(), index, false);
    if (callBack)
        Done(g_opens.back(), &g_opens.back().stream->headers[headers.back()]);
}

void Park(DWORD threadId) {
    g_parked = threadId;
}

bool AllQueued() {
    return WaitUntil([] {
        Lock lock(g_lock);
        return !g_opens.empty() && Queued(g_opens.back()) == WAVELIB_HEADER_COUNT;
    });
}

} // namespace fake

std::string Stdout(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs) {
    for (const ULONGLONG end = GetTickCount64() + deadlineMs; !cond(); Sleep(1))
        if (GetTickCount64() > end)
            return false;
    return true;
}

using namespace fake;

// Reading the device list is when Windows abandons the handles of devices that have gone.
UINT WINAPI waveOutGetNumDevs() {
    Lock lock(g_lock);
    Record(Op::Devs, 0);
    for (Opening& open : g_opens)
        if (!open.closed && open.countsHeld > 0 && --open.countsHeld == 0) {
            for (int index = 0; index < WAVELIB_HEADER_COUNT; ++index)
                MarkDoneLocked(open, index, true);
            open.closed = open.afterwards == MMSYSERR_INVALHANDLE;
        }
    return static_cast<UINT>(g_script.devices.size());
}

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT size) {
    Lock lock(g_lock);
    Record(Op::Caps, static_cast<int>(id));
    if (id >= g_script.devices.size() || size != sizeof(WAVEOUTCAPSA))
        return MMSYSERR_BADDEVICEID;
    *caps = {};
    snprintf(caps->szPname, sizeof caps->szPname, "%s", g_script.devices[id].name.c_str());
    return g_script.devices[id].capsResult;
}

// The one format the program opens with, which Windows checks for consistency and Wine does not.
// A failed open still leaves a value in the handle, one that is not the service's.
MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD) {
    Lock lock(g_lock);
    auto* stream = reinterpret_cast<WaveLib_Stream*>(instance);
    g_opens.push_back(
        {stream, reinterpret_cast<LPDRVCALLBACK>(callback), Loss::None, -1, 0, false});
    *handle = reinterpret_cast<HWAVEOUT>(kFirstHandle + g_opens.size() - 1);
    const WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    MMRESULT result = Record(Op::Open, static_cast<int>(id));
    result = memcmp(format, &pcm, sizeof pcm) ? WAVERR_BADFORMAT : result;
    g_opens.back().closed = result != MMSYSERR_NOERROR;
    return result;
}

// Prepare and unprepare: refused for a queued header, ignored for a header of the wrong size.
MMRESULT Prepare(Op op, HWAVEOUT device, LPWAVEHDR header, UINT size) {
    Lock lock(g_lock);
    Opening* open = Find(device);
    const DWORD flags = Flags(header);
    Record(op, IndexOf(header), flags);
    if (const MMRESULT refused = Refusal(open))
        return refused;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    const DWORD prepared = size == sizeof(WAVEHDR) ? WHDR_PREPARED : 0;
    Flags(header, op == Op::Prepare ? prepared : 0, op == Op::Prepare ? 0 : prepared);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size) {
    return Prepare(Op::Prepare, device, header, size);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size) {
    return Prepare(Op::Unprepare, device, header, size);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT size) {
    Lock lock(g_lock);
    Opening* open = Find(device);
    const DWORD flags = Flags(header);
    const MMRESULT scripted = Record(Op::Write, IndexOf(header), flags);
    if (const MMRESULT refused = Refusal(open))
        return refused;
    if (open->loss == Loss::Windows)
        return MMSYSERR_NODRIVER;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (!(flags & WHDR_PREPARED) || size != sizeof(WAVEHDR))
        return WAVERR_UNPREPARED;
    if (scripted == MMSYSERR_NOERROR)
        Flags(header, WHDR_INQUEUE, WHDR_DONE);
    return scripted;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT device) {
    Lock lock(g_lock);
    Opening* open = Find(device);
    MMRESULT result = Record(Op::Reset, 0);
    if (const MMRESULT refused = Refusal(open))
        return refused;
    if (open->loss == Loss::Windows || open->loss == Loss::Wine) // a lost device hands nothing back
        return open->loss == Loss::Wine ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    for (int index = 0; !result && index < WAVELIB_HEADER_COUNT; ++index)
        g_calls.back().arg |= MarkDoneLocked(*open, index, true) ? 1 << index : 0;
    return result;
}

MMRESULT WINAPI waveOutGetPosition(HWAVEOUT device, LPMMTIME time, UINT size) {
    if (GetCurrentThreadId() == g_parked)
        Sleep(INFINITE);
    Lock lock(g_lock);
    Opening* open = Find(device);
    if (open && open->loss == Loss::None) // a lost device's position leaves the script alone
        g_frames = Next(g_script.frames, g_frames + 48000);
    const MMRESULT scripted = Record(Op::Position, static_cast<int>(g_frames));
    if (const MMRESULT refused = Refusal(open))
        return refused;
    if (open->loss == Loss::Windows)
        return MMSYSERR_NODRIVER;
    const UINT asked = time->wType, type = g_script.timeType ? g_script.timeType : asked;
    const ULONGLONG bytes = ULONGLONG{g_frames} * WAVELIB_BLOCK_ALIGN;
    if (size != sizeof(MMTIME) ||
        (asked != TIME_MS && asked != TIME_SAMPLES && asked != TIME_BYTES))
        return MMSYSERR_INVALPARAM;
    time->wType = type; // u.ms, u.sample and u.cb share one place
    time->u.cb = type == TIME_MS                         ? static_cast<DWORD>(g_frames / 48)
                 : type == TIME_SAMPLES                  ? g_frames
                 : g_script.timeType || bytes <= MAXLONG ? static_cast<DWORD>(bytes)
                                                         : 0xFFFFFFFF;
    return scripted;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT device) {
    Lock lock(g_lock);
    Opening* open = Find(device);
    Record(Op::Close, 0);
    if (const MMRESULT refused = Refusal(open))
        return refused;
    if (Queued(*open))
        return WAVERR_STILLPLAYING;
    open->closed = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetErrorTextA(MMRESULT result, LPSTR text, UINT size) {
    Lock lock(g_lock);
    Record(Op::Text, static_cast<int>(result));
    snprintf(text, size, "error %u", result);
    return MMSYSERR_NOERROR;
}
