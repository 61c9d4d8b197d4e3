#include "fake_wave_out.h"

#include "wave_lib.h"

#include <stdio.h>
#include <string.h>

#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>

namespace fake {
namespace {

// Everything below is guarded by g_lock; callbacks run with it held, so a
// reset can never race a hand-back that is still calling back.
std::mutex g_lock;
std::vector<Device> g_devices;
std::map<Op, std::deque<MMRESULT>> g_scripts;
std::vector<Call> g_calls;
DWORD_PTR g_callback = 0;
DWORD_PTR g_instance = 0;
WaveLib_Stream* g_stream = nullptr;
bool g_reset = false;
int g_handBacks[WAVELIB_HEADER_COUNT];
std::thread g_storm;
int g_stormHandBacks = 0;

using Lock = std::lock_guard<std::mutex>;

volatile LONG* FlagsOf(WAVEHDR* header) {
    return reinterpret_cast<volatile LONG*>(&header->dwFlags);
}
DWORD FlagsNow(WAVEHDR* header) {
    return static_cast<DWORD>(InterlockedOr(FlagsOf(header), 0));
}

int IndexOf(const WAVEHDR* header) {
    return g_stream ? static_cast<int>(header - g_stream->headers) : -1;
}

MMRESULT Scripted(Op op) {
    auto& script = g_scripts[op];
    if (script.empty())
        return MMSYSERR_NOERROR;
    const MMRESULT result = script.front();
    script.pop_front();
    return result;
}

void Notify(UINT message, WAVEHDR* header) {
    auto callback = reinterpret_cast<LPDRVCALLBACK>(g_callback);
    callback(nullptr, message, g_instance, reinterpret_cast<DWORD_PTR>(header), 0);
}

// The service's side of giving a header back: no longer queued, marked done.
void MarkReturned(WAVEHDR* header) {
    InterlockedAnd(FlagsOf(header), ~static_cast<LONG>(WHDR_INQUEUE));
    InterlockedOr(FlagsOf(header), WHDR_DONE);
}

bool HandBackLocked(int index) {
    WAVEHDR* header = &g_stream->headers[index];
    if (g_reset || !(FlagsNow(header) & WHDR_INQUEUE))
        return false;
    MarkReturned(header);
    ++g_handBacks[index];
    Notify(WOM_DONE, header);
    return true;
}

} // namespace

void Reset(std::vector<Device> devices) {
    Lock lock(g_lock);
    g_devices = std::move(devices);
    g_scripts.clear();
    g_calls.clear();
    g_callback = g_instance = 0;
    g_stream = nullptr;
    g_reset = false;
    memset(g_handBacks, 0, sizeof g_handBacks);
}

void Script(Op op, std::vector<MMRESULT> results) {
    Lock lock(g_lock);
    g_scripts[op].assign(results.begin(), results.end());
}

std::vector<Call> Calls() {
    Lock lock(g_lock);
    return g_calls;
}

std::vector<int> Args(Op op) {
    std::vector<int> args;
    for (const Call& call : Calls())
        if (call.op == op)
            args.push_back(call.arg);
    return args;
}

int Count(Op op) {
    return static_cast<int>(Args(op).size());
}

std::vector<int> HandBack(std::vector<int> headers) {
    std::vector<int> handed;
    std::thread service([&] {
        Lock lock(g_lock);
        for (int index : headers)
            if (HandBackLocked(index))
                handed.push_back(index);
    });
    service.join();
    return handed;
}

void MarkDone(std::vector<int> headers) {
    Lock lock(g_lock);
    for (int index : headers)
        MarkReturned(&g_stream->headers[index]);
}

void CallBack() {
    std::thread service([] {
        Lock lock(g_lock);
        Notify(WOM_DONE, nullptr);
    });
    service.join();
}

int QueuedCount() {
    Lock lock(g_lock);
    int queued = 0;
    for (WAVEHDR& header : g_stream->headers)
        queued += (FlagsNow(&header) & WHDR_INQUEUE) ? 1 : 0;
    return queued;
}

std::vector<int> HandBackCounts() {
    Lock lock(g_lock);
    return std::vector<int>(g_handBacks, g_handBacks + WAVELIB_HEADER_COUNT);
}

void StartStorm(unsigned seed, int handBacks) {
    g_stormHandBacks = 0;
    g_storm = std::thread([seed, handBacks] {
        std::mt19937 random(seed);
        while (g_stormHandBacks < handBacks) {
            {
                Lock lock(g_lock);
                if (g_reset)
                    return;
                const unsigned subset = random() % 15 + 1; // a non-empty subset of four
                for (int index = 0; index < WAVELIB_HEADER_COUNT; ++index)
                    if ((subset >> index) & 1)
                        g_stormHandBacks += HandBackLocked(index) ? 1 : 0;
            }
            std::this_thread::yield();
        }
    });
}

int JoinStorm() {
    g_storm.join();
    return g_stormHandBacks;
}

size_t WhileHeld(const std::function<void()>& action) {
    Lock lock(g_lock);
    action();
    return g_calls.size();
}

} // namespace fake

using fake::Op;

namespace {
void Log(Op op, int arg, DWORD flags = 0) {
    fake::g_calls.push_back({op, arg, flags});
}
} // namespace

UINT WINAPI waveOutGetNumDevs() {
    fake::Lock lock(fake::g_lock);
    Log(Op::GetNumDevs, 0);
    return static_cast<UINT>(fake::g_devices.size());
}

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT size) {
    fake::Lock lock(fake::g_lock);
    Log(Op::GetDevCaps, static_cast<int>(id));
    if (id >= fake::g_devices.size() || size != sizeof(WAVEOUTCAPSA))
        return MMSYSERR_BADDEVICEID;
    const fake::Device& device = fake::g_devices[id];
    if (device.capsResult != MMSYSERR_NOERROR)
        return device.capsResult;
    memset(caps, 0, sizeof *caps);
    snprintf(caps->szPname, sizeof caps->szPname, "%s", device.name.c_str());
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD flags) {
    fake::Lock lock(fake::g_lock);
    Log(Op::Open, static_cast<int>(id), flags);
    if (const MMRESULT result = fake::Scripted(Op::Open))
        return result;
    if (id >= fake::g_devices.size() || format->wFormatTag != WAVE_FORMAT_PCM)
        return MMSYSERR_BADDEVICEID;
    *handle = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(0x5000 + id));
    fake::g_callback = callback;
    fake::g_instance = instance;
    fake::g_stream = reinterpret_cast<WaveLib_Stream*>(instance);
    fake::g_reset = false;
    fake::Notify(WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT, LPWAVEHDR header, UINT size) {
    fake::Lock lock(fake::g_lock);
    Log(Op::Prepare, fake::IndexOf(header), header->dwFlags);
    if (size != sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    InterlockedOr(fake::FlagsOf(header), WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT, LPWAVEHDR header, UINT size) {
    fake::Lock lock(fake::g_lock);
    const DWORD flags = fake::FlagsNow(header);
    Log(Op::Write, fake::IndexOf(header), flags);
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (!(flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (size != sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (const MMRESULT result = fake::Scripted(Op::Write))
        return result;
    InterlockedAnd(fake::FlagsOf(header), ~static_cast<LONG>(WHDR_DONE));
    InterlockedOr(fake::FlagsOf(header), WHDR_INQUEUE);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT) {
    fake::Lock lock(fake::g_lock);
    Log(Op::Reset, 0);
    for (int index = 0; index < WAVELIB_HEADER_COUNT; ++index)
        fake::HandBackLocked(index);
    fake::g_reset = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT) {
    fake::Lock lock(fake::g_lock);
    Log(Op::Close, 0);
    for (WAVEHDR& header : fake::g_stream->headers)
        if (fake::FlagsNow(&header) & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
    fake::Notify(WOM_CLOSE, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetErrorTextA(MMRESULT result, LPSTR text, UINT size) {
    fake::Lock lock(fake::g_lock);
    Log(Op::GetErrorText, static_cast<int>(result));
    snprintf(text, size, "error %u", result);
    return MMSYSERR_NOERROR;
}
