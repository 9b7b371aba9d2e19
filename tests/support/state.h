// The double's shared state and the helpers its Win32 and Direct3D halves use.
#pragma once

#include "fake.h"

#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

namespace fake::detail {

// The reference count of one object. Objects are owned by the state and only
// freed by Reset, so misuse after the count reaches zero can be recorded.
struct Tracked {
    std::string name;
    int refs           = 1;
    virtual ~Tracked() = default;
};

struct State {
    std::vector<std::string> calls;
    std::vector<std::string> staticInitCalls;
    bool resetOnce = false;

    std::map<std::string, int> callCounts;
    std::map<std::string, std::map<int, HRESULT>> failures; // nth (0: every) -> result
    std::map<std::string, int> kindCounts;
    std::vector<std::string> faults;

    std::vector<std::unique_ptr<Tracked>> objects;
    std::map<const void *, Tracked *> objectAt;
    // Handles are never freed: WindowClass keeps its icon, cursor and brush
    // from static initialisation for the whole test run.
    std::vector<std::unique_ptr<char>> handles;
    std::map<const void *, std::string> handleNames;

    std::map<std::string, Compile> compiles;

    std::deque<std::optional<MSG>> queue; // nullopt: one poll that finds nothing
    bool quitPending   = false;
    int quitCode       = 0;
    int emptyPolls     = 0;
    HWND lastWindow    = nullptr;
    WNDCLASSEXA wclass = {};
    bool registered    = false;
    std::map<HWND, WNDPROC> windowProcs;
    std::deque<SHORT> keys;
    LRESULT defWindowProcResult = 0;
    std::vector<std::string> debug;

    FILE *savedStdout = nullptr;
    FILE *capture     = nullptr;
    bool closing      = false;
    std::string output;
    std::vector<std::string> writes;
    std::function<void(const std::string &)> observer;
};

// Constructed on first use: the system's static initialisation calls into the
// double before main, in an order the linker chooses.
State &S();

void Log(const std::string &call);
void Fault(const std::string &what);
// Counts a call of `name` and says whether the test made this one fail.
bool Injected(const std::string &name, HRESULT *hr);
std::string NextName(const std::string &kind);
void *NewHandle(const std::string &kind);
// Records a call on an object, as a fault if the object is already released;
// `result` names what the call handed out.
void LogMethod(const void *self, const std::string &method, const std::string &args,
               const std::string &result = "");
// "&null", "&name" or "null" for an out-parameter, by what its slot holds.
template <class T> std::string OutSlot(T *const *slot) {
    return slot ? "&" + NameOf(*slot) : "null";
}

template <class T> T *Adopt(std::unique_ptr<T> object, const std::string &kind) {
    T *raw                                     = object.get();
    object->name                               = NextName(kind);
    State &s                                   = S();
    s.objectAt[static_cast<const void *>(raw)] = raw;
    s.objects.push_back(std::move(object));
    return raw;
}

// Concatenates its arguments as text.
template <class... A> std::string Str(const A &...parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

std::string Hex(uint64_t value);

} // namespace fake::detail
