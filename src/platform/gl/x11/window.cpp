// Win32 window, message queue, key state and kernel services over Xlib.
//
// One X connection, opened by the first CreateWindowExA. Every X event is
// read by Pump(): window events become MSGs on our own queue, which
// PeekMessageA hands out; XInput2 raw key events, which the server sends
// whichever window has the focus, update the system-wide key state that
// GetAsyncKeyState reads. Both callers pump, so neither can lose what the
// other needs.
#include "platform/gl/x11/window.h"

#include "platform/gl/backend.h"
#include "platform/gl/x11/glx_context.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

struct RegisteredClass {
    std::string name;
    WNDPROC proc;
};

std::vector<RegisteredClass> classes;
std::vector<std::unique_ptr<HWND__>> windows; // never destroyed before the process ends
Display *display    = nullptr;
Atom wmProtocols    = 0;
Atom wmDeleteWindow = 0;
int xinputOpcode    = -1; // XInput2's opcode once raw key events are selected on the root
std::deque<MSG> queue;
bool quitPosted  = false;
int quitCode     = 0;
XErrorTrap *trap = nullptr; // the innermost trap, if requests are being trapped

// Per virtual key, as Windows keeps it: 0x8000 while the key is down, 1 once
// it was pressed since the last GetAsyncKeyState for it.
uint16_t keyState[256];

// What the stock icon, cursor, brush and module handles point at: they are
// only ever passed back to us.
char stockObject;

int OnXError(Display *d, XErrorEvent *event) {
    if (trap) {
        trap->failed = true;
        return 0;
    }
    char text[256] = "";
    XGetErrorText(d, event->error_code, text, sizeof text);
    ReportBackendError(std::string("X error: ") + text + " (request " +
                       std::to_string(event->request_code) + ")");
    return 0;
}

// Xlib ends the process once this returns; end it ourselves, having said why.
int OnXIOError(Display *) {
    std::fflush(stdout);
    ReportBackendError("the connection to the X display was lost");
    _exit(0);
}

DWORD Milliseconds() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int VirtualKey(KeySym k) {
    if (k >= XK_a && k <= XK_z) return 'A' + static_cast<int>(k - XK_a);
    if (k >= XK_A && k <= XK_Z) return 'A' + static_cast<int>(k - XK_A);
    if (k >= XK_0 && k <= XK_9) return '0' + static_cast<int>(k - XK_0);
    if (k >= XK_F1 && k <= XK_F24) return VK_F1 + static_cast<int>(k - XK_F1);
    if (k >= XK_KP_0 && k <= XK_KP_9) return VK_NUMPAD0 + static_cast<int>(k - XK_KP_0);
    switch (k) {
    case XK_BackSpace:
        return VK_BACK;
    case XK_Tab:
        return VK_TAB;
    case XK_Return:
    case XK_KP_Enter:
        return VK_RETURN;
    case XK_Shift_L:
    case XK_Shift_R:
        return VK_SHIFT;
    case XK_Control_L:
    case XK_Control_R:
        return VK_CONTROL;
    case XK_Alt_L:
    case XK_Alt_R:
        return VK_MENU;
    case XK_Pause:
        return VK_PAUSE;
    case XK_Caps_Lock:
        return VK_CAPITAL;
    case XK_Escape:
        return VK_ESCAPE;
    case XK_space:
        return VK_SPACE;
    case XK_Prior:
        return VK_PRIOR;
    case XK_Next:
        return VK_NEXT;
    case XK_End:
        return VK_END;
    case XK_Home:
        return VK_HOME;
    case XK_Left:
        return VK_LEFT;
    case XK_Up:
        return VK_UP;
    case XK_Right:
        return VK_RIGHT;
    case XK_Down:
        return VK_DOWN;
    case XK_Insert:
        return VK_INSERT;
    case XK_Delete:
        return VK_DELETE;
    default:
        return 0; // keys without a virtual key of ours are not reported
    }
}

// The key's own symbol, whatever the modifiers: Windows names keys, not
// characters.
int VirtualKeyOfKeycode(unsigned keycode) {
    if (keycode > 255) return 0;
    return VirtualKey(XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0));
}

void KeyChanged(int vk, bool down) {
    if (vk <= 0 || vk > 255) return;
    if (down)
        keyState[vk] = 0x8001;
    else
        keyState[vk] &= static_cast<uint16_t>(~0x8000u);
}

void Post(HWND__ *window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m     = {};
    m.hwnd    = window;
    m.message = message;
    m.wParam  = wParam;
    m.lParam  = lParam;
    m.time    = Milliseconds();
    queue.push_back(m);
}

HWND__ *FindWindow(Window window) {
    for (const auto &w : windows)
        if (w->display && w->window == window) return w.get();
    return nullptr;
}

void HandleRawKey(XGenericEventCookie &cookie) {
    if (!XGetEventData(display, &cookie)) return;
    if (cookie.evtype == XI_RawKeyPress || cookie.evtype == XI_RawKeyRelease) {
        const auto *raw = static_cast<const XIRawEvent *>(cookie.data);
        KeyChanged(VirtualKeyOfKeycode(static_cast<unsigned>(raw->detail)),
                   cookie.evtype == XI_RawKeyPress);
    }
    XFreeEventData(display, &cookie);
}

// Reads every event the server has sent, without waiting for more.
void Pump() {
    if (!display) return;
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == GenericEvent && event.xcookie.extension == xinputOpcode) {
            HandleRawKey(event.xcookie);
            continue;
        }
        HWND__ *w = FindWindow(event.xany.window);
        if (!w) continue;
        switch (event.type) {
        case KeyPress:
        case KeyRelease: {
            const bool down = event.type == KeyPress;
            const int vk    = VirtualKeyOfKeycode(event.xkey.keycode);
            // Without XInput2 the key state sees only the keys our window gets.
            if (xinputOpcode < 0) KeyChanged(vk, down);
            // lParam: repeat count 1; a key-up also has the previous-state and
            // transition bits.
            if (vk) Post(w, down ? WM_KEYDOWN : WM_KEYUP, vk, down ? 1 : 0xC0000001);
            break;
        }
        case ClientMessage:
            // The close button: what Windows makes of a click on it.
            if (event.xclient.message_type == wmProtocols &&
                static_cast<Atom>(event.xclient.data.l[0]) == wmDeleteWindow)
                Post(w, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case ConfigureNotify:
            w->width  = event.xconfigure.width;
            w->height = event.xconfigure.height;
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == w->window) Post(w, WM_DESTROY, 0, 0);
            break;
        default:
            break;
        }
    }
}

// Raw key events on the root window come from every keyboard whichever
// window has the focus: that is what makes F5 in the user's editor reload.
void SelectRawKeys() {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return;
    int major = 2, minor = 0;
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2) return;

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask = {XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XErrorTrap t(display);
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    if (!t.Failed()) xinputOpcode = opcode;
}

bool OpenDisplay() {
    if (display) return true;
    display = XOpenDisplay(nullptr);
    if (!display) {
        const std::string name = XDisplayName(nullptr);
        ReportBackendError(name.empty() ? "no X display: DISPLAY is not set"
                                        : "cannot open the X display \"" + name + "\"");
        return false;
    }
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnXIOError);
    wmProtocols    = XInternAtom(display, "WM_PROTOCOLS", False);
    wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    // A held key repeats as presses only, as on Windows, not release-press pairs.
    XkbSetDetectableAutoRepeat(display, True, nullptr);
    SelectRawKeys();
    return true;
}

bool CreateXWindow(HWND__ *w, int x, int y, const char *title, const char *className) {
    const int screen  = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    Visual *visual    = DefaultVisual(display, screen);
    int depth         = DefaultDepth(display, screen);
    XVisualInfo *info = ChooseGlVisual(display, w);
    if (info) {
        visual = info->visual;
        depth  = info->depth;
    }

    XErrorTrap t(display);
    XSetWindowAttributes a = {};
    a.colormap             = XCreateColormap(display, root, visual, AllocNone);
    a.background_pixel     = BlackPixel(display, screen); // the class's black brush
    a.border_pixel         = 0;
    a.event_mask           = KeyPressMask | KeyReleaseMask | StructureNotifyMask;
    Window window          = XCreateWindow(display, root, x, y, static_cast<unsigned>(w->width),
                                           static_cast<unsigned>(w->height), 0, depth, InputOutput, visual,
                                           CWColormap | CWBackPixel | CWBorderPixel | CWEventMask, &a);
    if (info) XFree(info);
    if (t.Failed() || !window) {
        ReportBackendError("cannot create an X window");
        return false;
    }
    w->display = display;
    w->window  = window;

    XStoreName(display, window, title ? title : "");
    if (title) {
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(title),
                        static_cast<int>(std::strlen(title)));
    }
    std::string name = className;
    XClassHint hint  = {&name[0], &name[0]};
    XSetClassHint(display, window, &hint);
    XSizeHints size = {};
    size.flags      = USPosition | PPosition;
    size.x          = x;
    size.y          = y;
    XSetWMNormalHints(display, window, &size);
    XSetWMProtocols(display, window, &wmDeleteWindow, 1);
    return !t.Failed();
}

const RegisteredClass *FindClass(LPCSTR name) {
    // A class named by atom (a small integer in the pointer) is not supported.
    if (reinterpret_cast<uintptr_t>(name) <= 0xFFFF) return nullptr;
    for (const RegisteredClass &c : classes)
        if (c.name == name) return &c;
    return nullptr;
}

} // namespace

XErrorTrap::XErrorTrap(Display *d) : display(d), outer(trap) {
    if (display) XSync(display, False); // earlier requests' errors are not ours
    trap = this;
}

XErrorTrap::~XErrorTrap() {
    if (display) XSync(display, False);
    trap = outer;
}

bool XErrorTrap::Failed() {
    if (display) XSync(display, False);
    return failed;
}

void ReportBackendError(const std::string &text) {
    std::fprintf(stderr, "hotfx: %s\n", text.c_str());
    std::fflush(stderr);
    OutputDebugStringA(("hotfx: " + text).c_str());
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    // Only the program's own module is known.
    return moduleName ? nullptr : reinterpret_cast<HMODULE>(&stockObject);
}

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) {
    return reinterpret_cast<HICON>(&stockObject);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR) {
    return reinterpret_cast<HCURSOR>(&stockObject);
}

HGDIOBJ WINAPI GetStockObject(int) {
    return &stockObject;
}

uint16_t WINAPI RegisterClassExA(const WNDCLASSEXA *windowClass) {
    if (!windowClass || windowClass->cbSize != sizeof(WNDCLASSEXA) || !windowClass->lpfnWndProc)
        return 0;
    LPCSTR name = windowClass->lpszClassName;
    if (reinterpret_cast<uintptr_t>(name) <= 0xFFFF || !*name || FindClass(name)) return 0;
    classes.push_back({name, windowClass->lpfnWndProc});
    return static_cast<uint16_t>(0xC000 + classes.size() - 1);
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD, int x, int y,
                            int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
    const RegisteredClass *c = FindClass(className);
    if (!c) return nullptr;
    auto w    = std::make_unique<HWND__>();
    w->proc   = c->proc;
    w->width  = std::max(1, width - kFrameWidth);
    w->height = std::max(1, height - kFrameHeight);
    // Without a display the window still exists, headless: creating the
    // device on it is what fails, and the program says so.
    if (OpenDisplay() && !CreateXWindow(w.get(), x, y, windowName, c->name.c_str())) return nullptr;
    windows.push_back(std::move(w));
    return windows.back().get();
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    if (!window || !window->display) return FALSE;
    if (command == 0) // SW_HIDE
        XUnmapWindow(window->display, window->window);
    else
        XMapRaised(window->display, window->window);
    XFlush(window->display);
    return FALSE;
}

BOOL WINAPI UpdateWindow(HWND window) {
    if (window && window->display) XFlush(window->display);
    return window != nullptr;
}

BOOL WINAPI PeekMessageA(MSG *message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (!message) return FALSE;
    Pump();
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (window && it->hwnd != window) continue;
        if ((filterMin || filterMax) && (it->message < filterMin || it->message > filterMax))
            continue;
        *message = *it;
        if (remove & PM_REMOVE) queue.erase(it);
        return TRUE;
    }
    // WM_QUIT comes once the queue holds nothing else, whatever the filters.
    if (quitPosted) {
        *message         = MSG{};
        message->message = WM_QUIT;
        message->wParam  = static_cast<WPARAM>(quitCode);
        message->time    = Milliseconds();
        if (remove & PM_REMOVE) quitPosted = false;
        return TRUE;
    }
    return FALSE;
}

// No character messages: nothing here asks for them.
BOOL WINAPI TranslateMessage(const MSG *) {
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *message) {
    if (!message || !message->hwnd || !message->hwnd->proc) return 0;
    return message->hwnd->proc(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM) {
    // The close command, from the close button or the system menu, becomes
    // WM_CLOSE, sent straight to the window procedure.
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE && window && window->proc)
        return window->proc(window, WM_CLOSE, 0, 0);
    return 0;
}

void WINAPI PostQuitMessage(int exitCode) {
    quitPosted = true;
    quitCode   = exitCode;
}

SHORT WINAPI GetAsyncKeyState(int key) {
    if (key <= 0 || key > 255) return 0;
    Pump();
    const uint16_t state = keyState[key];
    keyState[key] &= static_cast<uint16_t>(~1u);
    return static_cast<SHORT>(state);
}

void WINAPI Sleep(DWORD milliseconds) {
    timespec left = {static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

// The system log is the nearest thing to a channel only a listening debugger
// sees: it never reaches the terminal.
void WINAPI OutputDebugStringA(LPCSTR text) {
    if (text) syslog(LOG_USER | LOG_DEBUG, "%s", text);
}
