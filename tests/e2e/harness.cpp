#include "harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#ifndef HOTFX_PROGRAM
#error "HOTFX_PROGRAM must name the built hotfx"
#endif

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(double seconds) {
    return Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// A request on a window that has just gone away must not end the test.
int IgnoreXError(Display *, XErrorEvent *) {
    return 0;
}

const ParticleGenerator initialGenerator = generator;

} // namespace

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string ToString(Rgb c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) +
           ")";
}

void Image::SavePpm(const std::string &path) const {
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << width << " " << height << "\n255\n";
    for (const Rgb &c : pixels)
        file.put(char(c.r)).put(char(c.g)).put(char(c.b));
}

Program::Program(const std::string &directory, const std::string &display,
                 const std::string &path) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        if (chdir(directory.c_str()) != 0) _exit(127);
        if (display.empty())
            unsetenv("DISPLAY");
        else
            setenv("DISPLAY", display.c_str(), 1);
        execl(path.c_str(), path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
}

Program::~Program() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

bool Program::Fill(int milliseconds) {
    pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, milliseconds) <= 0) return false;
    char chunk[4096];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
}

bool Program::ReadLine(std::string &line, double seconds) {
    const auto deadline = After(seconds);
    for (;;) {
        const size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return true;
        }
        if (!Fill(RemainingMs(deadline))) return false;
    }
}

int Program::Wait(double seconds) {
    const auto deadline = After(seconds);
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            while (Fill(0)) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (RemainingMs(deadline) == 0) return -1;
        // Keep reading, so a program still printing never blocks on a full pipe.
        if (!Fill(100)) Pause();
    }
}

Desktop::Desktop(const std::string &name) {
    display_ = XOpenDisplay(name.c_str());
    if (!display_) throw std::runtime_error("cannot open display " + name);
    XSetErrorHandler(IgnoreXError);
}

Desktop::~Desktop() {
    XCloseDisplay(display_);
}

Window Desktop::FindProgramWindow(double seconds) {
    const auto deadline = After(seconds);
    do {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        Window found   = 0;
        if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count && !found; ++i) {
                XWindowAttributes a;
                const bool own = std::find(own_.begin(), own_.end(), children[i]) != own_.end();
                if (!own && XGetWindowAttributes(display_, children[i], &a) &&
                    a.map_state == IsViewable)
                    found = children[i];
            }
            if (children) XFree(children);
        }
        if (found) return found;
        Pause();
    } while (RemainingMs(deadline) > 0);
    return 0;
}

Image Desktop::Grab(Window window) {
    Image image;
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, window, &a)) return image;
    XImage *x = XGetImage(display_, window, 0, 0, static_cast<unsigned>(a.width),
                          static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (!x) return image;
    image.width  = a.width;
    image.height = a.height;
    image.pixels.resize(static_cast<size_t>(a.width) * a.height);
    for (int y = 0; y < a.height; ++y)
        for (int x0 = 0; x0 < a.width; ++x0) {
            const unsigned long p                               = XGetPixel(x, x0, y);
            image.pixels[static_cast<size_t>(y) * a.width + x0] = {
                int((p & x->red_mask) >> __builtin_ctzl(x->red_mask)),
                int((p & x->green_mask) >> __builtin_ctzl(x->green_mask)),
                int((p & x->blue_mask) >> __builtin_ctzl(x->blue_mask))};
        }
    XDestroyImage(x);
    return image;
}

void Desktop::PressKey(unsigned long keysym) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
}

std::string Desktop::Title(Window window) {
    char *name = nullptr;
    if (!XFetchName(display_, window, &name) || !name) return "(no title)";
    std::string title = name;
    XFree(name);
    return title;
}

void Desktop::Focus(Window window) {
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
}

bool Desktop::TakesCloseButton(Window window) {
    Atom *protocols = nullptr;
    int count       = 0;
    if (!XGetWMProtocols(display_, window, &protocols, &count)) return false;
    const Atom close = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    const bool found = std::find(protocols, protocols + count, close) != protocols + count;
    XFree(protocols);
    return found;
}

void Desktop::ClickClose(Window window) {
    XEvent e               = {};
    e.xclient.type         = ClientMessage;
    e.xclient.window       = window;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format       = 32;
    e.xclient.data.l[0]    = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1]    = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &e);
    XSync(display_, False);
}

Window Desktop::CreateFocusedWindow() {
    XSetWindowAttributes a = {};
    a.event_mask           = KeyPressMask;
    const Window window =
        XCreateWindow(display_, DefaultRootWindow(display_), 1100, 100, 100, 100, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWEventMask, &a);
    own_.push_back(window);
    XStoreName(display_, window, "editor");
    XMapRaised(display_, window);
    XSync(display_, False);
    for (int i = 0; i < 100; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, window, &attributes) &&
            attributes.map_state == IsViewable)
            break;
        Pause();
    }
    Focus(window);
    return window;
}

bool Desktop::ReceivedKeyPress(Window window) {
    XEvent e;
    XSync(display_, False);
    return XCheckTypedWindowEvent(display_, window, KeyPress, &e);
}

std::string WaitForPicture(Desktop &desktop, Window window, const std::string &name,
                           const std::function<std::string(const Image &)> &check) {
    const auto deadline = After(20);
    Image image;
    std::string complaint;
    do {
        image     = desktop.Grab(window);
        complaint = image.width ? check(image) : "the window cannot be read";
        if (complaint.empty()) return complaint;
        Pause();
    } while (RemainingMs(deadline) > 0);
    if (image.width) image.SavePpm(name + ".ppm");
    return complaint + " (picture kept as " + name + ".ppm)";
}

std::vector<Particle> NextParticles() {
    InitParticles();
    return std::vector<Particle>(particles, particles + kParticleCount);
}

void RestartParticleGenerator() {
    generator = initialGenerator;
}
