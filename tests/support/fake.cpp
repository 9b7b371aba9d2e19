// The double's state: call log, failure script, object ledger and the
// standard-output capture.
#include "state.h"

#include <cstring>

namespace fake {
namespace detail {

State &S() {
    static State *state = new State; // never destroyed: used until the process ends
    return *state;
}

void Log(const std::string &call) {
    S().calls.push_back(call);
}

void Fault(const std::string &what) {
    S().faults.push_back(what);
}

bool Injected(const std::string &name, HRESULT *hr) {
    State &s        = S();
    const int count = ++s.callCounts[name];
    auto script     = s.failures.find(name);
    if (script == s.failures.end()) return false;
    for (int key : {count, 0}) {
        auto hit = script->second.find(key);
        if (hit != script->second.end()) {
            *hr = hit->second;
            return true;
        }
    }
    return false;
}

std::string NextName(const std::string &kind) {
    return Str(kind, "#", ++S().kindCounts[kind]);
}

void *NewHandle(const std::string &kind) {
    State &s = S();
    s.handles.push_back(std::make_unique<char>());
    void *handle          = s.handles.back().get();
    s.handleNames[handle] = NextName(kind);
    return handle;
}

void LogMethod(const void *self, const std::string &method, const std::string &args,
               const std::string &result) {
    State &s               = S();
    auto at                = s.objectAt.find(self);
    const std::string name = at == s.objectAt.end() ? "unknown" : at->second->name;
    Log(Str(name, ".", method, "(", args, ")", result.empty() ? "" : " -> ", result));
    if (at != s.objectAt.end() && at->second->refs <= 0 && method != "Release")
        Fault(Str(name, ".", method, " after its last Release"));
}

std::string Hex(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace detail

using namespace detail;

void Reset() {
    State &s = S();
    if (!s.resetOnce) s.staticInitCalls = s.calls;
    s.resetOnce = true;
    s.calls.clear();
    s.callCounts.clear();
    s.failures.clear();
    s.kindCounts.clear();
    s.faults.clear();
    s.objectAt.clear();
    s.objects.clear();
    s.compiles.clear();
    s.queue.clear();
    s.quitPending = false;
    s.quitCode    = 0;
    s.emptyPolls  = 0;
    s.lastWindow  = nullptr;
    s.wclass      = {};
    s.registered  = false;
    s.windowProcs.clear();
    s.keys.clear();
    s.defWindowProcResult = 0;
    s.debug.clear();
    s.output.clear();
    s.writes.clear();
    s.observer = nullptr;
}

const std::vector<std::string> &Calls() {
    return S().calls;
}
void ClearCalls() {
    S().calls.clear();
}
const std::vector<std::string> &StaticInitCalls() {
    State &s = S();
    return s.resetOnce ? s.staticInitCalls : s.calls;
}

void Fail(const std::string &name, HRESULT hr, int nth) {
    S().failures[name][nth] = hr;
}

void ScriptCompile(const std::string &entryPoint, const Compile &result) {
    S().compiles[entryPoint] = result;
}

void Post(UINT message, WPARAM wParam, LPARAM lParam, HWND window) {
    MSG m     = {};
    m.hwnd    = window;
    m.message = message;
    m.wParam  = wParam;
    m.lParam  = lParam;
    S().queue.push_back(m);
}

void Idle(int polls) {
    for (int i = 0; i < polls; ++i)
        S().queue.push_back(std::nullopt);
}

void ScriptKeys(const std::vector<SHORT> &states) {
    S().keys.insert(S().keys.end(), states.begin(), states.end());
}

void SetDefWindowProcResult(LRESULT result) {
    S().defWindowProcResult = result;
}

HWND NewWindow() {
    return static_cast<HWND>(NewHandle("hwnd"));
}

const WNDCLASSEXA &RegisteredClass() {
    return S().wclass;
}

const std::vector<std::string> &DebugOutput() {
    return S().debug;
}

std::vector<std::string> Alive() {
    std::vector<std::string> names;
    for (const auto &object : S().objects)
        if (object->refs > 0) names.push_back(object->name);
    return names;
}

const std::vector<std::string> &Faults() {
    return S().faults;
}

std::string NameOf(const void *pointer) {
    if (!pointer) return "null";
    State &s    = S();
    auto object = s.objectAt.find(pointer);
    if (object != s.objectAt.end()) return object->second->name;
    auto handle = s.handleNames.find(pointer);
    return handle == s.handleNames.end() ? "unknown" : handle->second;
}

// Standard output goes through a cookie stream (glibc lets a program assign
// stdout). Fully buffered with a large buffer, it writes only when flushed.
static ssize_t WriteCaptured(void *, const char *data, size_t size) {
    State &s = S();
    std::string text(data, size);
    s.output += text;
    s.writes.push_back(text);
    if (s.closing) Fault("standard output left unflushed: " + text);
    if (s.observer) s.observer(text);
    return static_cast<ssize_t>(size);
}

void CaptureStdout() {
    State &s = S();
    if (s.capture) return;
    std::fflush(stdout);
    cookie_io_functions_t io = {};
    io.write                 = WriteCaptured;
    s.capture                = fopencookie(nullptr, "w", io);
    std::setvbuf(s.capture, nullptr, _IOFBF, 1 << 16);
    s.savedStdout = stdout;
    stdout        = s.capture;
}

void StopCapture() {
    State &s = S();
    if (!s.capture) return;
    s.closing = true;
    std::fclose(s.capture);
    s.closing = false;
    s.capture = nullptr;
    stdout    = s.savedStdout;
}

const std::string &Output() {
    return S().output;
}
const std::vector<std::string> &OutputWrites() {
    return S().writes;
}
void ClearOutput() {
    S().output.clear();
    S().writes.clear();
    S().debug.clear();
}
void OnOutput(std::function<void(const std::string &)> observer) {
    S().observer = std::move(observer);
}

} // namespace fake
