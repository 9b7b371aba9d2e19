// The double's Windows services: handles, window class and window, the
// scripted message queue, key state, sleep and the debugger channel.
#include "state.h"

using namespace fake::detail;

namespace {

std::string Text(LPCSTR text) {
    return text ? text : "null";
}

// A resource name is either a small integer (MAKEINTRESOURCE) or a string.
std::string ResourceName(LPCSTR name) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(name);
    return value <= 0xFFFF ? std::to_string(value) : std::string(name);
}

std::string Message(const MSG *m) {
    if (!m) return "null";
    return Str("{", fake::NameOf(m->hwnd), ", ", Hex(m->message), ", ", Hex(m->wParam), ", ",
               Hex(static_cast<uint64_t>(m->lParam)), "}");
}

// A handle-returning call: null when the test made it fail.
void *Handle(const std::string &name, const std::string &args, const std::string &kind) {
    HRESULT hr = 0;
    if (Injected(name, &hr)) {
        Log(Str(name, "(", args, ") -> null"));
        return nullptr;
    }
    void *handle = NewHandle(kind);
    Log(Str(name, "(", args, ") -> ", fake::NameOf(handle)));
    return handle;
}

// A BOOL-returning call: FALSE when the test made it fail.
BOOL Flag(const std::string &name, const std::string &args) {
    Log(Str(name, "(", args, ")"));
    HRESULT hr = 0;
    return Injected(name, &hr) ? FALSE : TRUE;
}

} // namespace

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    return static_cast<HMODULE>(Handle("GetModuleHandleA", Text(moduleName), "hinstance"));
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR iconName) {
    return static_cast<HICON>(
        Handle("LoadIconA", Str(fake::NameOf(instance), ", ", ResourceName(iconName)), "icon"));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
    return static_cast<HCURSOR>(Handle(
        "LoadCursorA", Str(fake::NameOf(instance), ", ", ResourceName(cursorName)), "cursor"));
}

HGDIOBJ WINAPI GetStockObject(int object) {
    return Handle("GetStockObject", std::to_string(object), "brush");
}

uint16_t WINAPI RegisterClassExA(const WNDCLASSEXA *c) {
    State &s = S();
    Log(Str("RegisterClassExA({cbSize=", c->cbSize, " style=", Hex(c->style),
            " extra=", c->cbClsExtra, ",", c->cbWndExtra, " instance=", fake::NameOf(c->hInstance),
            " icon=", fake::NameOf(c->hIcon), " cursor=", fake::NameOf(c->hCursor),
            " background=", fake::NameOf(c->hbrBackground), " menu=", Text(c->lpszMenuName),
            " class=", Text(c->lpszClassName), " iconSm=", fake::NameOf(c->hIconSm), "})"));
    HRESULT hr = 0;
    // Windows refuses a class whose cbSize is not its own structure's size.
    if (Injected("RegisterClassExA", &hr) || c->cbSize != sizeof(WNDCLASSEXA) || !c->lpfnWndProc)
        return 0;
    s.wclass     = *c;
    s.registered = true;
    return 0xC001;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    State &s = S();
    const std::string args =
        Str(Hex(exStyle), ", ", Text(className), ", ", Text(windowName), ", ", Hex(style), ", ", x,
            ", ", y, ", ", width, ", ", height, ", ", fake::NameOf(parent), ", ",
            fake::NameOf(menu), ", ", fake::NameOf(instance), ", ", param ? "param" : "null");
    HRESULT hr = 0;
    const bool known =
        s.registered && className && std::string(className) == Text(s.wclass.lpszClassName);
    if (Injected("CreateWindowExA", &hr) || !known) {
        Log(Str("CreateWindowExA(", args, ") -> null"));
        return nullptr;
    }
    HWND window           = fake::NewWindow();
    s.windowProcs[window] = s.wclass.lpfnWndProc;
    s.lastWindow          = window;
    Log(Str("CreateWindowExA(", args, ") -> ", fake::NameOf(window)));
    return window;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    return Flag("ShowWindow", Str(fake::NameOf(window), ", ", command));
}

BOOL WINAPI UpdateWindow(HWND window) {
    return Flag("UpdateWindow", fake::NameOf(window));
}

BOOL WINAPI PeekMessageA(MSG *message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    State &s = S();
    const std::string call =
        Str("PeekMessageA(", message ? "&msg" : "null", ", ", fake::NameOf(window), ", ", filterMin,
            ", ", filterMax, ", ", remove, ")");
    // WM_QUIT comes only once nothing is queued in front of it, as on Windows.
    if (!s.queue.empty() && s.queue.front()) {
        MSG m = *s.queue.front();
        s.queue.pop_front();
        if (!m.hwnd && m.message != WM_QUIT) m.hwnd = s.lastWindow;
        *message = m;
        Log(Str(call, " -> ", Hex(m.message)));
        return TRUE;
    }
    if (s.quitPending || (s.queue.empty() && ++s.emptyPolls > 1000)) {
        if (!s.quitPending) Fault("the message loop ran past its script");
        s.quitPending    = false;
        *message         = {};
        message->message = WM_QUIT;
        message->wParam  = static_cast<WPARAM>(s.quitCode);
        Log(Str(call, " -> ", Hex(WM_QUIT)));
        return TRUE;
    }
    if (!s.queue.empty()) s.queue.pop_front(); // a scripted idle poll
    Log(Str(call, " -> none"));
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG *message) {
    Log(Str("TranslateMessage(", Message(message), ")"));
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *message) {
    State &s = S();
    Log(Str("DispatchMessageA(", Message(message), ")"));
    auto proc = s.windowProcs.find(message->hwnd);
    if (proc == s.windowProcs.end()) return 0;
    return proc->second(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Log(Str("DefWindowProcA(", fake::NameOf(window), ", ", Hex(message), ", ", Hex(wParam), ", ",
            Hex(static_cast<uint64_t>(lParam)), ")"));
    return S().defWindowProcResult;
}

void WINAPI PostQuitMessage(int exitCode) {
    Log(Str("PostQuitMessage(", exitCode, ")"));
    S().quitPending = true;
    S().quitCode    = exitCode;
}

SHORT WINAPI GetAsyncKeyState(int key) {
    State &s = S();
    Log(Str("GetAsyncKeyState(", Hex(static_cast<uint32_t>(key)), ")"));
    if (key != VK_F5 || s.keys.empty()) return 0;
    const SHORT state = s.keys.front();
    s.keys.pop_front();
    return state;
}

void WINAPI Sleep(DWORD milliseconds) {
    Log(Str("Sleep(", milliseconds, ")"));
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    Log(Str("OutputDebugStringA(", Text(text), ")"));
    S().debug.push_back(Text(text));
}
