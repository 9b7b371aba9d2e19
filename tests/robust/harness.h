// The system in-process on the real Linux backend: an Xvfb of the process's
// own, a scratch working directory for "main.fx", the window and device made
// as the program's entry makes them, and standard output and standard error
// captured so a test can read exactly what a load or a frame printed.
// Shared by the robustness tests, the program benchmarks and the fuzz target;
// free of any test framework.
#pragma once

#include "scratch.h"
#include "xvfb.h"

#include <string>
#include <sys/types.h>

// Sends file descriptors 1 and 2 to files of their own while it lives. The
// system flushes after each report, so Take* sees every line printed so far.
class Capture {
  public:
    Capture();
    ~Capture();
    Capture(const Capture &)            = delete;
    Capture &operator=(const Capture &) = delete;
    std::string TakeOut(); // standard output printed since the last call
    std::string TakeErr(); // standard error likewise

  private:
    int savedOut_ = -1, savedErr_ = -1;
    int out_ = -1, err_ = -1;
    off_t outRead_ = 0, errRead_ = 0;
};

// What the program's entry does before its loop: registers the window class
// (once per process), creates and shows the window and creates the device.
// Returns InitDevice's result.
long OpenProgram();
// What it does after its loop: ReleaseScene, then ReleaseDevice.
void CloseProgram();

// Waits for the GL work queued so far, so a timing includes it.
void FinishGl();

// GL names of every kind the backend makes (programs, buffers, textures,
// framebuffers, pipelines, vertex arrays) alive in the current context,
// among the first `range` of each kind.
int LiveGlNames(unsigned range = 4096);

// Resident memory of this process in kB (VmRSS), or -1.
long ResidentKb();
