// The X11 side of a window, shared by the window services (window.cpp) and
// the GLX context (glx_context.cpp) and swap chain (swap_chain.cpp), which
// render into the window.
#pragma once

#include "platform/portable/win32.h"

#include <X11/Xlib.h>
#include <GL/glx.h>

struct HWND__ {
    WNDPROC proc       = nullptr;
    Display *display   = nullptr; // null: a headless window, created without a display
    Window window      = 0;
    GLXFBConfig config = nullptr; // the GLX configuration of the window's visual, if any
    int width = 0, height = 0;    // the client area, kept up to date from ConfigureNotify
};

// Windows counts a window's size with its frame; X11 counts the client area
// and lets the window manager add the frame. A window is created with its
// client area smaller than the asked size by the frame of an overlapped
// window on Windows 10 at 96 DPI (8 pixels each side, a 31-pixel caption and
// top border, 8 at the bottom), so the back buffer is stretched as it is
// there (1024 x 768 becomes 1008 x 729).
constexpr int kFrameWidth  = 16;
constexpr int kFrameHeight = 39;

// Runs the X requests made while it lives under an error handler that
// records errors instead of reporting them; Failed() waits for the server's
// answers and says whether any request failed.
struct XErrorTrap {
    explicit XErrorTrap(Display *display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap &)            = delete;
    XErrorTrap &operator=(const XErrorTrap &) = delete;
    bool Failed();

    Display *display;
    XErrorTrap *outer;
    bool failed = false;
};
