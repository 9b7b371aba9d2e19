#define GL_GLEXT_PROTOTYPES 1

#include "harness.h"

#include "app/app.h"
#include "device/device.h"
#include "scene/scene.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// An unnamed temporary file, gone when closed.
int TemporaryFile() {
    std::string pattern = (fs::temp_directory_path() / "hotfx-output-XXXXXX").string();
    const int fd        = mkstemp(&pattern[0]);
    if (fd < 0) throw std::runtime_error("mkstemp");
    unlink(pattern.c_str());
    return fd;
}

std::string ReadFrom(int fd, off_t &offset) {
    std::string text;
    char chunk[65536];
    ssize_t got = 0;
    while ((got = pread(fd, chunk, sizeof chunk, offset)) > 0) {
        text.append(chunk, static_cast<size_t>(got));
        offset += got;
    }
    return text;
}

} // namespace

Capture::Capture() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::cout.flush();
    savedOut_ = dup(1);
    savedErr_ = dup(2);
    out_      = TemporaryFile();
    err_      = TemporaryFile();
    dup2(out_, 1);
    dup2(err_, 2);
}

Capture::~Capture() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::cout.flush();
    dup2(savedOut_, 1);
    dup2(savedErr_, 2);
    for (int fd : {savedOut_, savedErr_, out_, err_})
        close(fd);
}

std::string Capture::TakeOut() {
    std::fflush(stdout);
    return ReadFrom(out_, outRead_);
}

std::string Capture::TakeErr() {
    std::fflush(stderr);
    return ReadFrom(err_, errRead_);
}

long OpenProgram() {
    static bool registered = false;
    if (!registered) {
        WindowClass.hInstance = GetModuleHandleA(nullptr);
        registered            = RegisterClassExA(&WindowClass) != 0;
        if (!registered) return -1;
    }
    HWND window =
        CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, "test", "test", WS_OVERLAPPEDWINDOW, 0,
                        0, 1024, 768, nullptr, nullptr, WindowClass.hInstance, nullptr);
    if (!window) return -1;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return InitDevice(window, 1024, 768);
}

void CloseProgram() {
    ReleaseScene();
    ReleaseDevice();
}

void FinishGl() {
    glFinish();
}

int LiveGlNames(unsigned range) {
    int live = 0;
    for (GLuint name = 1; name <= range; ++name) {
        live += glIsProgram(name) + glIsBuffer(name) + glIsTexture(name) + glIsFramebuffer(name) +
                glIsProgramPipeline(name) + glIsVertexArray(name);
    }
    return live;
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}
