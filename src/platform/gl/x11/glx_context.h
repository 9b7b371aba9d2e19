// The GLX visual and context (glx_context.cpp): what the window is made with
// (window.cpp) and what the device renders through (swap_chain.cpp).
#pragma once

#include "platform/gl/x11/window.h"

#include <X11/Xutil.h>
#include <GL/glx.h>

#include <string>

// A visual the device can render to with GLX, double-buffered RGB8,
// preferring the 24-bit depth of an ordinary window; sets w->config to its
// configuration. Null without GLX; the window is then made with the default
// visual and the device fails. The caller frees the result with XFree.
XVisualInfo *ChooseGlVisual(Display *display, HWND__ *w);

// An OpenGL 4.5 core context on the window, made current, without vsync.
// Null, with the reason in error, when there is none.
GLXContext CreateGlContext(HWND__ *w, std::string &error);
