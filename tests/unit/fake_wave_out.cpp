#include "fake_wave_out.h"

#include "wave_lib.h"

#include <stdio.h>

#include <deque>
#include <map>
#include <mutex>

namespace fake {
namespace {

// All state is guarded by g_lock. Callbacks run with it held, as a real service calls back
// under its own lock, so a reset never races a hand-back that is still calling back.
std::mutex g_lock;
std::vector<Device> g_devices;
std::map<Op, std::deque<MMRESULT>> g_scripts;
std::vector<Call> g_calls;
WaveLib_Stream* g_stream; // the instance data of the last open, alive until its close
DWORD_PTR g_callback;
bool g_reset; // nothing is handed back after a reset

using Lock = std::lock_guard<std::mutex>;

DWORD Flags(WAVEHDR* header, DWORD set = 0, DWORD clear = 0) {
    auto* word = reinterpret_cast<volatile LONG*>(&header->dwFlags);
    InterlockedAnd(word, ~static_cast<LONG>(clear));
    return static_cast<DWORD>(InterlockedOr(word, static_cast<LONG>(set)) | set);
}

void Log(Op op, int arg, DWORD flags = 0, bool event = false) {
    g_calls.push_back({op, arg, flags, event, Now()});
}

MMRESULT Scripted(Op op) {
    std::deque<MMRESULT>& script = g_scripts[op];
    if (script.empty())
        return MMSYSERR_NOERROR;
    const MMRESULT result = script.front();
    script.pop_front();
    return result;
}

void Notify(UINT message, WAVEHDR* header) {
    reinterpret_cast<LPDRVCALLBACK>(g_callback)(nullptr, message,
                                                reinterpret_cast<DWORD_PTR>(g_stream),
                                                reinterpret_cast<DWORD_PTR>(header), 0);
}

bool HandBackLocked(int index) {
    WAVEHDR* header = &g_stream->headers[index];
    if (g_reset || !(Flags(header) & WHDR_INQUEUE))
        return false;
    Flags(header, WHDR_DONE, WHDR_INQUEUE);
    Notify(WOM_DONE, header);
    return true;
}

int IndexOf(WAVEHDR* header) {
    return static_cast<int>(header - g_stream->headers);
}

} // namespace

void Reset(std::vector<Device> devices) {
    Lock lock(g_lock);
    g_devices = std::move(devices);
    g_scripts.clear();
    g_calls.clear();
    g_stream = nullptr;
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

std::string Trace(size_t from) {
    static const char* const kWords[] = {"devs",  "caps",  "open",  "prepare",
                                         "write", "reset", "close", "text"};
    const std::vector<Call> calls = Calls();
    std::string trace;
    for (size_t i = from; i < calls.size(); ++i) {
        const Call& call = calls[i];
        trace += (trace.empty() ? "" : " ") + std::string(kWords[static_cast<int>(call.op)]);
        if (call.op == Op::Reset) {
            for (int index = 0; index < WAVELIB_HEADER_COUNT; ++index)
                trace += (call.arg >> index & 1) ? std::to_string(index) : "";
        } else if (call.op != Op::Devs && call.op != Op::Close) {
            trace += std::to_string(call.arg);
        }
        trace += call.event ? "+event" : "";
    }
    return trace;
}

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::vector<int> HandBack(const std::vector<int>& headers) {
    Lock lock(g_lock);
    std::vector<int> handed;
    for (int index : headers)
        if (HandBackLocked(index))
            handed.push_back(index);
    return handed;
}

void MarkDone(const std::vector<int>& headers) {
    Lock lock(g_lock);
    for (int index : headers)
        Flags(&g_stream->headers[index], WHDR_DONE, WHDR_INQUEUE);
}

void CallBack() {
    Lock lock(g_lock);
    Notify(WOM_DONE, nullptr);
}

int Queued() {
    Lock lock(g_lock);
    int queued = 0;
    for (int index = 0; g_stream && index < WAVELIB_HEADER_COUNT; ++index)
        queued += (Flags(&g_stream->headers[index]) & WHDR_INQUEUE) ? 1 : 0;
    return queued;
}

} // namespace fake

using namespace fake;

UINT WINAPI waveOutGetNumDevs() {
    Lock lock(g_lock);
    Log(Op::Devs, 0);
    return static_cast<UINT>(g_devices.size());
}

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT size) {
    Lock lock(g_lock);
    Log(Op::Caps, static_cast<int>(id));
    if (id >= g_devices.size() || size != sizeof(WAVEOUTCAPSA))
        return MMSYSERR_BADDEVICEID;
    *caps = {};
    snprintf(caps->szPname, sizeof caps->szPname, "%s", g_devices[id].name.c_str());
    return g_devices[id].capsResult;
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT id, LPCWAVEFORMATEX, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD flags) {
    Lock lock(g_lock);
    g_stream = reinterpret_cast<WaveLib_Stream*>(instance);
    Log(Op::Open, static_cast<int>(id), flags, g_stream->completionEvent != nullptr);
    *handle = reinterpret_cast<HWAVEOUT>(UINT_PTR{0xBAD});
    if (const MMRESULT result = Scripted(Op::Open))
        return result;
    if (id >= g_devices.size())
        return MMSYSERR_BADDEVICEID;
    *handle = reinterpret_cast<HWAVEOUT>(UINT_PTR{0x5000} + id);
    g_callback = callback;
    g_reset = false;
    Notify(WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT, LPWAVEHDR header, UINT size) {
    Lock lock(g_lock);
    Log(Op::Prepare, IndexOf(header), Flags(header));
    if (size != sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    Flags(header, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT, LPWAVEHDR header, UINT size) {
    Lock lock(g_lock);
    const DWORD flags = Flags(header);
    Log(Op::Write, IndexOf(header), flags);
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (!(flags & WHDR_PREPARED) || size != sizeof(WAVEHDR))
        return WAVERR_UNPREPARED;
    if (const MMRESULT result = Scripted(Op::Write))
        return result;
    Flags(header, WHDR_INQUEUE, WHDR_DONE);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT) {
    Lock lock(g_lock);
    int handed = 0;
    for (int index = 0; index < WAVELIB_HEADER_COUNT; ++index)
        handed |= HandBackLocked(index) ? 1 << index : 0;
    g_reset = true;
    Log(Op::Reset, handed);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT) {
    Lock lock(g_lock);
    Log(Op::Close, 0);
    for (WAVEHDR& header : g_stream->headers)
        if (Flags(&header) & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
    Notify(WOM_CLOSE, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetErrorTextA(MMRESULT result, LPSTR text, UINT size) {
    Lock lock(g_lock);
    Log(Op::Text, static_cast<int>(result), 0, g_stream && g_stream->completionEvent);
    snprintf(text, size, "error %u", result);
    return MMSYSERR_NOERROR;
}
