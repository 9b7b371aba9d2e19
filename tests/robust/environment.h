// What the robustness tests share: one program per test process (Xvfb,
// scratch directory, window and device, made before the first test), the
// example shader, and running a piece of the system with its output caught.
#pragma once

#include "harness.h"

#include <string>

struct Printed {
    std::string out; // standard output: the program's own lines
    std::string err; // standard error: the backend's "hotfx: ..." lines
};

// Runs f with standard output and standard error captured.
template <class F> Printed Capturing(F f) {
    Capture capture;
    f();
    Printed printed;
    printed.out = capture.TakeOut();
    printed.err = capture.TakeErr();
    return printed;
}

// The text of examples/main.fx.
std::string ExampleShader();

// text with its one occurrence of `from` replaced by `to`; a test failure
// (and text unchanged) when `from` does not occur exactly once.
std::string Replace(const std::string &text, const std::string &from, const std::string &to);

// The line a failing scene step prints.
std::string StepLine(int step, unsigned hr);

// Whether out is exactly the five object lines of a frame that does not
// draw.
bool IsGate(const std::string &out);

// Removes whatever "main.fx" is (file, link, directory).
void RemoveShader();
