// What every behaviour test shares: a fresh double and empty slots, standard
// output captured, and at the end no fault in the object ledger.
#pragma once

#include "fake.h"

#include "app/app.h"
#include "device/device.h"
#include "particles/particles.h"
#include "scene/scene.h"

#include <gmock/gmock.h>

#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

constexpr HRESULT kFail = E_FAIL;

class Behaviour : public testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        deviceObjects = {};
        sceneObjects  = {};
        fake::CaptureStdout();
    }
    void TearDown() override {
        const std::string out = fake::Output();
        fake::StopCapture();
        EXPECT_THAT(fake::Faults(), IsEmpty());
        if (HasFailure()) std::printf("--- the program's standard output ---\n%s", out.c_str());
        deviceObjects = {}; // the next Reset frees whatever is still held
        sceneObjects  = {};
    }
};

// The name of the function or method of one logged call.
inline std::string CallName(const std::string &call) {
    const std::string head = call.substr(0, call.find('('));
    return head.substr(head.rfind('.') + 1);
}

// The logged calls of the given names only, in order.
inline std::vector<std::string> Only(const std::vector<std::string> &names) {
    std::vector<std::string> kept;
    for (const std::string &call : fake::Calls())
        for (const std::string &name : names)
            if (CallName(call) == name) kept.push_back(call);
    return kept;
}

// The objects released, in order, from the logged call `from` on.
inline std::vector<std::string> Releases(size_t from = 0) {
    std::vector<std::string> names;
    const auto &calls = fake::Calls();
    for (size_t i = from; i < calls.size(); ++i)
        if (CallName(calls[i]) == "Release")
            names.push_back(calls[i].substr(0, calls[i].find('.')));
    return names;
}

// Index of the first logged call of `name`, or the log's size.
inline size_t FirstCall(const std::string &name) {
    const auto &calls = fake::Calls();
    size_t i          = 0;
    while (i < calls.size() && CallName(calls[i]) != name)
        ++i;
    return i;
}

// The five lines the frame prints while the scene is incomplete, with each
// pointer in upper-case hexadecimal, zero-padded to at least eight digits.
inline std::string GateLines() {
    auto line = [](const char *prefix, const void *slot) {
        std::ostringstream text;
        text << prefix << std::uppercase << std::hex << std::setfill('0') << std::setw(8)
             << reinterpret_cast<uintptr_t>(slot) << "\n";
        return text.str();
    };
    const SceneObjects &s = sceneObjects;
    return line("vshader = ", s.vshader) + line("gshader   =", s.gshader) +
           line("pshader   =", s.pshader) + line("pConstant =", s.pConstant) +
           line("pRSStage  =", s.pRSStage);
}

inline std::vector<unsigned char> ImageBytes() {
    const auto *bytes = reinterpret_cast<const unsigned char *>(&constantImage);
    return {bytes, bytes + sizeof constantImage};
}

inline std::vector<unsigned char> ParticleBytes() {
    const auto *bytes = reinterpret_cast<const unsigned char *>(particles);
    return {bytes, bytes + sizeof particles};
}

inline const std::vector<std::string> kDeviceObjects = {"swapchain#1", "device#1", "context#1",
                                                        "rtv#1"};
