#include "fake_wave_out.h"

#include "wave_lib.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace fake {
namespace {

// Guarded by g_lock, held through callbacks as a real service holds its own.
std::mutex g_lock;
std::vector<Device> g_devices;
std::map<Op, std::vector<MMRESULT>> g_scripts;
std::vector<DWORD> g_positions;
DWORD g_position;
std::atomic<DWORD> g_parked;
std::vector<Call> g_calls;
WaveLib_Stream* g_stream; // the instance data of the last open; freed by its close
LPDRVCALLBACK g_callback;
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

// Logs a call and returns its scripted result.
MMRESULT Record(Op op, int arg, DWORD flags = 0, bool event = false) {
    g_calls.push_back({op, arg, flags, event, Now()});
    return Next(g_scripts[op], MMRESULT{MMSYSERR_NOERROR});
}

void Done(WAVEHDR* header) {
    g_callback(nullptr, WOM_DONE, reinterpret_cast<DWORD_PTR>(g_stream),
               reinterpret_cast<DWORD_PTR>(header), 0);
}

bool HandBackLocked(WAVEHDR* header, bool callBack) {
    if (!(Flags(header) & WHDR_INQUEUE))
        return false;
    Flags(header, WHDR_DONE, WHDR_INQUEUE);
    if (callBack)
        Done(header);
    return true;
}

} // namespace

void Reset(std::vector<Device> devices, std::map<Op, std::vector<MMRESULT>> results,
           std::vector<DWORD> positions) {
    Lock lock(g_lock);
    g_devices = std::move(devices);
    g_scripts = std::move(results);
    g_positions = std::move(positions);
    g_calls.clear();
    g_stream = nullptr;
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
        trace += call.event ? "+event" : "";
    }
    return trace;
}

WaveLib_Stream* Opened() {
    Lock lock(g_lock);
    return g_stream;
}

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void HandBack(const std::vector<int>& headers, bool callBack) {
    Lock lock(g_lock);
    for (int index : headers)
        HandBackLocked(&g_stream->headers[index], callBack);
}

void CallBack() {
    Lock lock(g_lock);
    Done(nullptr);
}

void Park(DWORD threadId) {
    g_parked = threadId;
}

bool AllQueued() {
    return WaitUntil([] {
        Lock lock(g_lock);
        int queued = 0;
        for (int index = 0; g_stream && index < WAVELIB_HEADER_COUNT; ++index)
            queued += (Flags(&g_stream->headers[index]) & WHDR_INQUEUE) ? 1 : 0;
        return queued == WAVELIB_HEADER_COUNT;
    });
}

} // namespace fake

std::string Stdout(const std::function<void()>& action) {
    int pipe[2], saved = _dup(1);
    _pipe(pipe, 1 << 16, _O_BINARY); // holds all that any test writes
    fflush(stdout);
    _dup2(pipe[1], 1);
    _close(pipe[1]);
    action();
    fflush(stdout);
    _dup2(saved, 1); // the last write end: the pipe now ends after what was written
    _close(saved);
    std::string bytes(1 << 16, '\0'); // one read takes all that was written
    bytes.resize(static_cast<size_t>(std::max(0, _read(pipe[0], bytes.data(), 1 << 16))));
    _close(pipe[0]);
    return bytes;
}

bool WaitUntil(const std::function<bool()>& cond, DWORD deadlineMs) {
    for (const ULONGLONG end = GetTickCount64() + deadlineMs; !cond(); Sleep(1))
        if (GetTickCount64() > end)
            return false;
    return true;
}

using namespace fake;

UINT WINAPI waveOutGetNumDevs() {
    Lock lock(g_lock);
    Record(Op::Devs, 0);
    return static_cast<UINT>(g_devices.size());
}

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT size) {
    Lock lock(g_lock);
    Record(Op::Caps, static_cast<int>(id));
    if (id >= g_devices.size() || size != sizeof(WAVEOUTCAPSA))
        return MMSYSERR_BADDEVICEID;
    *caps = {};
    snprintf(caps->szPname, sizeof caps->szPname, "%s", g_devices[id].name.c_str());
    return g_devices[id].capsResult;
}

// The one format the program opens with, which Windows checks for consistency and Wine does not.
MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD flags) {
    Lock lock(g_lock);
    g_stream = reinterpret_cast<WaveLib_Stream*>(instance);
    *handle = reinterpret_cast<HWAVEOUT>(UINT_PTR{0x5000} + id);
    g_callback = reinterpret_cast<LPDRVCALLBACK>(callback);
    const MMRESULT scripted =
        Record(Op::Open, static_cast<int>(id), flags, g_stream->completionEvent != nullptr);
    const WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    return memcmp(format, &pcm, sizeof pcm) ? WAVERR_BADFORMAT : scripted;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT, LPWAVEHDR header, UINT size) {
    Lock lock(g_lock);
    Record(Op::Prepare, static_cast<int>(header - g_stream->headers), Flags(header));
    Flags(header, size == sizeof(WAVEHDR) ? WHDR_PREPARED : 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT, LPWAVEHDR header, UINT size) {
    Lock lock(g_lock);
    const DWORD flags = Flags(header);
    const MMRESULT scripted =
        Record(Op::Write, static_cast<int>(header - g_stream->headers), flags);
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (!(flags & WHDR_PREPARED) || size != sizeof(WAVEHDR))
        return WAVERR_UNPREPARED;
    if (scripted == MMSYSERR_NOERROR)
        Flags(header, WHDR_INQUEUE, WHDR_DONE);
    return scripted;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT) {
    Lock lock(g_lock);
    const MMRESULT scripted = Record(Op::Reset, 0);
    for (int index = 0; !scripted && index < WAVELIB_HEADER_COUNT; ++index)
        g_calls.back().arg |= HandBackLocked(&g_stream->headers[index], true) ? 1 << index : 0;
    return scripted;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT, LPWAVEHDR header, UINT size) {
    Lock lock(g_lock);
    const DWORD flags = Flags(header);
    Record(Op::Unprepare, static_cast<int>(header - g_stream->headers), flags);
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    Flags(header, 0, size == sizeof(WAVEHDR) ? WHDR_PREPARED : 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetPosition(HWAVEOUT, LPMMTIME time, UINT size) {
    if (GetCurrentThreadId() == g_parked)
        Sleep(INFINITE);
    Lock lock(g_lock);
    g_position = Next(g_positions, g_position + 4800);
    const MMRESULT scripted = Record(Op::Position, static_cast<int>(g_position));
    if (size != sizeof(MMTIME) || time->wType != TIME_BYTES)
        return MMSYSERR_INVALPARAM;
    time->u.cb = g_position;
    return scripted;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT) {
    Lock lock(g_lock);
    Record(Op::Close, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetErrorTextA(MMRESULT result, LPSTR text, UINT size) {
    Lock lock(g_lock);
    Record(Op::Text, static_cast<int>(result), 0, g_stream && g_stream->completionEvent);
    snprintf(text, size, "error %u", result);
    return MMSYSERR_NOERROR;
}
