// The GLX side of the device: the visual a window is made with, so that GL
// can render to it, and the OpenGL 4.5 core context on that window.
#define GL_GLEXT_PROTOTYPES 1

#include "platform/gl/x11/glx_context.h"

#include "platform/gl/x11/debug_output.h"

#include <GL/glxext.h>

#include <cstring>

namespace {

// Debug builds ask for a debug context and route GL's debug output to the
// error channel (debug_output.h); the code is built either way so it cannot
// rot unseen.
#ifdef HOTFX_GL_DEBUG_OUTPUT
constexpr bool kDebugContext = true;
#else
constexpr bool kDebugContext = false;
#endif

bool HasExtension(const char *list, const char *name) {
    const size_t length = std::strlen(name);
    for (const char *p = list; p && (p = std::strstr(p, name)) != nullptr; p += length)
        if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) return true;
    return false;
}

} // namespace

XVisualInfo *ChooseGlVisual(Display *display, HWND__ *w) {
    int errorBase = 0, eventBase = 0;
    if (!glXQueryExtension(display, &errorBase, &eventBase)) return nullptr;
    static const int attributes[] = {GLX_X_RENDERABLE,
                                     True,
                                     GLX_DRAWABLE_TYPE,
                                     GLX_WINDOW_BIT,
                                     GLX_RENDER_TYPE,
                                     GLX_RGBA_BIT,
                                     GLX_X_VISUAL_TYPE,
                                     GLX_TRUE_COLOR,
                                     GLX_RED_SIZE,
                                     8,
                                     GLX_GREEN_SIZE,
                                     8,
                                     GLX_BLUE_SIZE,
                                     8,
                                     GLX_DOUBLEBUFFER,
                                     True,
                                     None};
    int count                     = 0;
    GLXFBConfig *configs = glXChooseFBConfig(display, DefaultScreen(display), attributes, &count);
    XVisualInfo *chosen  = nullptr;
    for (int i = 0; i < count; ++i) {
        XVisualInfo *info = glXGetVisualFromFBConfig(display, configs[i]);
        if (!info) continue;
        if (!chosen || (chosen->depth != 24 && info->depth == 24)) {
            if (chosen) XFree(chosen);
            chosen    = info;
            w->config = configs[i];
        } else {
            XFree(info);
        }
    }
    if (configs) XFree(configs);
    return chosen;
}

GLXContext CreateGlContext(HWND__ *w, std::string &error) {
    if (!w->config) {
        error = "the X display offers no GLX visual to render to";
        return nullptr;
    }
    Display *display       = w->display;
    const char *extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    auto create            = reinterpret_cast<PFNGLXCREATECONTEXTATTRIBSARBPROC>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXCreateContextAttribsARB")));
    if (!create || !HasExtension(extensions, "GLX_ARB_create_context_profile")) {
        error = "GLX cannot create an OpenGL core profile context";
        return nullptr;
    }
    static const int attributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB,
                                     4,
                                     GLX_CONTEXT_MINOR_VERSION_ARB,
                                     5,
                                     GLX_CONTEXT_PROFILE_MASK_ARB,
                                     GLX_CONTEXT_CORE_PROFILE_BIT_ARB,
                                     GLX_CONTEXT_FLAGS_ARB,
                                     kDebugContext ? GLX_CONTEXT_DEBUG_BIT_ARB : 0,
                                     None};
    XErrorTrap trap(display);
    GLXContext context = create(display, w->config, nullptr, True, attributes);
    if (trap.Failed() || !context) {
        error = "OpenGL 4.5 core is not available";
        return nullptr;
    }
    if (!glXMakeCurrent(display, w->window, context) || trap.Failed()) {
        glXDestroyContext(display, context);
        error = "cannot make the OpenGL context current on the window";
        return nullptr;
    }
    if (HasExtension(extensions, "GLX_EXT_swap_control")) {
        auto swapInterval = reinterpret_cast<PFNGLXSWAPINTERVALEXTPROC>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalEXT")));
        if (swapInterval) swapInterval(display, w->window, 0);
    } else if (HasExtension(extensions, "GLX_MESA_swap_control")) {
        auto swapInterval = reinterpret_cast<PFNGLXSWAPINTERVALMESAPROC>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalMESA")));
        if (swapInterval) swapInterval(0);
    }
    trap.Failed(); // a refused swap interval only means vsync stays as it is
    if (kDebugContext) EnableGlDebugOutput();
    return context;
}
