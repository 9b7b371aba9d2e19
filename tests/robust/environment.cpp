#include "environment.h"

#include "platform/gl/backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>

namespace {

class ProgramEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        xvfb_                 = std::make_unique<Xvfb>();
        scratch_              = std::make_unique<ScratchDir>(ScratchDir::Entered);
        long hr               = 0;
        const Printed printed = Capturing([&] { hr = OpenProgram(); });
        ASSERT_EQ(hr, 0) << printed.out << printed.err;
    }
    void TearDown() override {
        Capturing(CloseProgram);
        EXPECT_EQ(LiveObjectCount(), 0) << "device objects left after the program's release";
        scratch_.reset();
        xvfb_.reset();
    }

  private:
    std::unique_ptr<Xvfb> xvfb_;
    std::unique_ptr<ScratchDir> scratch_;
};

} // namespace

std::string ExampleShader() {
    return ReadFile(HOTFX_EXAMPLE);
}

std::string Replace(const std::string &text, const std::string &from, const std::string &to) {
    const size_t at = text.find(from);
    if (at == std::string::npos || text.find(from, at + 1) != std::string::npos) {
        ADD_FAILURE() << "the example shader does not hold \"" << from << "\" once";
        return text;
    }
    return text.substr(0, at) + to + text.substr(at + from.size());
}

std::string StepLine(int step, unsigned hr) {
    const char *label = "";
    switch (step) {
    case 112:
        label = "CompileShaderFromFile VS";
        break;
    case 113:
        label = "CompileShaderFromFile GS";
        break;
    case 114:
        label = "CompileShaderFromFile PS";
        break;
    case 115:
        label = "CreateVertexShader";
        break;
    case 116:
        label = "CreateGeometryShader";
        break;
    case 117:
        label = "CreatePixelShader";
        break;
    }
    char line[128];
    std::snprintf(line, sizeof line, "ERROR : scene : %d 0x%08X : %s\n", step, hr, label);
    return line;
}

bool IsGate(const std::string &out) {
    static const std::regex gate("vshader = [0-9A-F]{8,16}\n"
                                 "gshader   =[0-9A-F]{8,16}\n"
                                 "pshader   =[0-9A-F]{8,16}\n"
                                 "pConstant =[0-9A-F]{8,16}\n"
                                 "pRSStage  =[0-9A-F]{8,16}\n");
    return std::regex_match(out, gate);
}

void RemoveShader() {
    std::error_code ignored;
    std::filesystem::remove_all("main.fx", ignored);
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
