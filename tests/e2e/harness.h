// The end-to-end harness: a private Xvfb, the built hotfx started in a
// scratch directory with its standard output read line by line, keys sent
// through XTest and the window read back with XGetImage.
#pragma once

#include "particles/particles.h"
#include "scratch.h"
#include "xvfb.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Xlib's names stay out of the tests (its macros clash with GoogleTest's).
using WindowId = unsigned long;
struct _XDisplay;

struct Rgb {
    int r, g, b;
};
bool Near(Rgb a, Rgb b, int tolerance);
std::string ToString(Rgb c);

// The clear colour, (0, 0.125, 0.3), in 8 bits.
constexpr Rgb kBackground = {0, 32, 76};

struct Image {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // Where a clip-space point lands: the 1024 x 768 back buffer is stretched
    // over the whole client area.
    int X(double clipX) const { return static_cast<int>((clipX + 1) / 2 * width); }
    int Y(double clipY) const { return static_cast<int>((1 - clipY) / 2 * height); }
    void SavePpm(const std::string &path) const;
};

// The built hotfx (or the one at `path`), running in a directory on a
// display (none if empty), killed if it is still running when the object goes.
class Program {
  public:
    Program(const std::string &directory, const std::string &display,
            const std::string &path = HOTFX_PROGRAM);
    ~Program();
    // The next complete line of standard output without its "\n"; false at
    // the end of the output or after `seconds` without one.
    bool ReadLine(std::string &line, double seconds = 20);
    // The exit code, or -1 if the program has not ended within `seconds`
    // or ended by a signal. What it printed stays readable.
    int Wait(double seconds = 20);

  private:
    bool Fill(int milliseconds);
    pid_t pid_ = -1;
    int out_   = -1;
    std::string buffer_;
};

// The test's own connection to the display.
class Desktop {
  public:
    explicit Desktop(const std::string &display);
    ~Desktop();
    // The one viewable top-level window the test did not make; 0 if none
    // appears within `seconds`.
    WindowId FindProgramWindow(double seconds = 20);
    Image Grab(WindowId window);
    void PressKey(unsigned long keysym);
    std::string Title(WindowId window);
    void Focus(WindowId window);
    // Whether the window asks for WM_DELETE_WINDOW, which a window manager
    // sends when the close button is clicked.
    bool TakesCloseButton(WindowId window);
    void ClickClose(WindowId window);
    // A small window of the test's own, away from the program's, with the
    // keyboard focus; it records key presses.
    WindowId CreateFocusedWindow();
    bool ReceivedKeyPress(WindowId window);

  private:
    _XDisplay *display_ = nullptr;
    std::vector<WindowId> own_;
};

// Grabs the window until check accepts the picture (returns "") or 20
// seconds pass; returns the last complaint, and then keeps the picture as
// <name>.ppm in the working directory.
std::string WaitForPicture(Desktop &desktop, WindowId window, const std::string &name,
                           const std::function<std::string(const Image &)> &check);

// The simulation's next InitParticles, as the program computes it: the
// generator runs on from the previous call in this process.
std::vector<Particle> NextParticles();
void RestartParticleGenerator();
