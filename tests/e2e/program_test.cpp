// The built program on a display of its own: start-up, the picture, F5
// reloads from our window and from another, failing loads and the two ways
// out.
#include "harness.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <regex>
#include <sstream>

namespace {

// Each particle: a square 12 back-buffer pixels wide at (s0, s1) mapped onto
// -0.8..0.8, coloured (1, 1, s2). Where it is does not depend on how many
// frames ran.
const char *const kSquares = R"(
cbuffer Frame : register(b0) { float4 Clock; float4 Unused[15]; float4 Particle[512]; };
struct Point { float4 centre : CENTRE; float4 colour : COLOR0; };
Point vs_main(uint id : SV_InstanceID) {
    float4 fixedAttributes = Particle[id * 2 + 1];
    Point p;
    p.centre = float4(fixedAttributes.xy * 1.6 - 0.8, 0.5, 1.0);
    p.colour = float4(1.0, 1.0, fixedAttributes.z, 1.0);
    return p;
}
struct Corner { float4 position : SV_Position; float4 colour : COLOR0; };
[maxvertexcount(4)]
void gs_main(point Point input[1], inout TriangleStream<Corner> strip) {
    const float2 half = float2(6.0 / 512.0, 6.0 / 384.0);
    for (int k = 0; k < 4; ++k) {
        Corner c;
        c.position = input[0].centre + float4((float2(k / 2, k % 2) * 2.0 - 1.0) * half, 0.0, 0.0);
        c.colour = input[0].colour;
        strip.Append(c);
    }
}
float4 ps_main(Corner c) : SV_Target { return c.colour; }
)";
constexpr double kHalf     = 6; // back-buffer pixels each side of a square's centre

// An undeclared name on line 5.
const char *const kSyntaxError = R"(// a shader with a mistake
float4 vs_main() : SV_Position
{
    float4 p = float4(0, 0, 0.5, 1);
    return p * undeclared_scale;
}
)";

const char *const kNoGeometryStage = R"(
float4 vs_main() : SV_Position { return float4(0, 0, 0.5, 1); }
float4 ps_main() : SV_Target { return float4(1, 1, 1, 1); }
)";

// Valid HLSL that no GL driver takes: 40 outputs from the vertex stage,
// beyond GL's limit on stage outputs.
std::string TooManyOutputs() {
    std::string members, writes, sum = "0";
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        members += "    float4 t" + n + " : TEXCOORD" + n + ";\n";
        writes += "    o.t" + n + " = float4(" + n + ", 0, 0, 1);\n";
        sum += " + i.t" + n;
    }
    return "struct V {\n    float4 pos : SV_Position;\n" + members +
           "};\nV vs_main(uint id : SV_InstanceID) {\n    V o;\n    o.pos = float4(0, 0, 0.5, "
           "1);\n" +
           writes +
           "    return o;\n}\n[maxvertexcount(1)]\nvoid gs_main(point V p[1], inout PointStream<V> "
           "s) { s.Append(p[0]); }\nfloat4 ps_main(V i) : SV_Target { return " +
           sum + "; }\n";
}

const char *const kGate[5] = {"vshader = 00000000", "gshader   =00000000", "pshader   =00000000",
                              "pConstant =00000000", "pRSStage  =00000000"};

struct Centre {
    double x, y; // back-buffer pixels
};

Centre CentreOf(const Particle &p) {
    return {(p.s0 * 1.6 - 0.8 + 1) * 512, (1 - (p.s1 * 1.6 - 0.8)) * 384};
}

// Every square that no other square comes near shows its colour at its
// centre, and the screen away from all squares is the clear colour.
std::string CheckSquares(const Image &image, const std::vector<Particle> &set) {
    const double sx = image.width / 1024.0, sy = image.height / 768.0;
    std::vector<Centre> centres;
    for (const Particle &p : set)
        centres.push_back(CentreOf(p));

    int alone = 0;
    for (size_t i = 0; i < centres.size(); ++i) {
        const Centre &c = centres[i];
        bool crowded    = false;
        for (size_t j = 0; j < centres.size() && !crowded; ++j)
            crowded = j != i && std::abs(c.x - centres[j].x) < 2 * kHalf + 4 &&
                      std::abs(c.y - centres[j].y) < 2 * kHalf + 4;
        if (crowded) continue;
        ++alone;
        const int x = static_cast<int>(c.x * sx), y = static_cast<int>(c.y * sy);
        const Rgb want = {255, 255, static_cast<int>(std::lround(std::min(1.0f, set[i].s2) * 255))};
        const Rgb got  = image.At(x, y);
        if (!Near(got, want, 3))
            return "particle " + std::to_string(i) + " at (" + std::to_string(x) + ", " +
                   std::to_string(y) + ") is " + ToString(got) + ", not " + ToString(want);
    }
    if (alone < 64) return "only " + std::to_string(alone) + " squares stand alone";

    for (int y = 2; y < image.height; y += 16)
        for (int x = 2; x < image.width; x += 16) {
            const double bx = x / sx, by = y / sy;
            const bool covered = std::any_of(centres.begin(), centres.end(), [&](const Centre &c) {
                return std::abs(bx - c.x) < kHalf + 3 && std::abs(by - c.y) < kHalf + 3;
            });
            if (!covered && !Near(image.At(x, y), kBackground, 1))
                return "(" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                       ToString(image.At(x, y)) + ", not the background " + ToString(kBackground);
        }
    return "";
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { RestartParticleGenerator(); }

    void Start() { program = std::make_unique<Program>(dir.Path(), server.Name()); }

    std::string Line() {
        std::string line;
        return program->ReadLine(line) ? line : "(no line)";
    }

    // Skips whole rounds of the five gate lines, each exactly as an empty
    // scene prints them, and returns the next other line.
    std::string LineAfterGate() {
        for (;;) {
            const std::string line = Line();
            if (line != kGate[0]) return line;
            for (int k = 1; k < 5; ++k)
                EXPECT_EQ(Line(), kGate[k]);
        }
    }

    // The compiler's text, "ERROR : " first, up to the step line, as lines.
    std::string CompilerTextThenStepLine(std::string &text) {
        text             = LineAfterGate();
        std::string line = Line();
        while (line.rfind("ERROR : scene", 0) != 0 && line != "(no line)") {
            text += "\n" + line;
            line = Line();
        }
        return line;
    }

    void ExpectLoaded() {
        EXPECT_EQ(LineAfterGate(), "Loaded.");
        EXPECT_EQ(Line(), "Obj Initialize.");
    }

    void ExpectSquares(WindowId window, const std::string &name, const std::vector<Particle> &set) {
        EXPECT_EQ(WaitForPicture(desktop, window, name,
                                 [&](const Image &image) { return CheckSquares(image, set); }),
                  "");
    }

    Xvfb server;
    Desktop desktop{server.Name()};
    ScratchDir dir;
    std::unique_ptr<Program> program;
};

TEST_F(ProgramTest, StartsDrawsAndReloadsOnF5FromAnyWindowThenQuitsOnEsc) {
    dir.Write("main.fx", kSquares);
    Start();
    EXPECT_EQ(Line(), "Loaded.");
    EXPECT_EQ(Line(), "Obj Initialize.");

    const WindowId window = desktop.FindProgramWindow();
    ASSERT_NE(window, 0u);
    EXPECT_EQ(desktop.Title(window), "test");
    ExpectSquares(window, "startup", NextParticles());

    desktop.PressKey(XK_F5);
    ExpectLoaded();
    ExpectSquares(window, "reload", NextParticles());

    // F5 goes to another application's window, and still reloads.
    const WindowId editor = desktop.CreateFocusedWindow();
    desktop.PressKey(XK_F5);
    EXPECT_TRUE(desktop.ReceivedKeyPress(editor));
    ExpectLoaded();
    ExpectSquares(window, "reload-elsewhere", NextParticles());

    desktop.Focus(window);
    desktop.PressKey(XK_Escape);
    EXPECT_EQ(program->Wait(), 0);
    std::string more;
    EXPECT_FALSE(program->ReadLine(more, 1)) << more;
}

TEST_F(ProgramTest, WithoutMainFxGatesEveryFrameUntilF5LoadsAGoodFileThenClosesOnTheCloseButton) {
    Start();
    EXPECT_EQ(Line(), "ERROR : scene : 112 0x80070002 : CompileShaderFromFile VS");
    for (int round = 0; round < 3; ++round)
        for (const char *line : kGate)
            EXPECT_EQ(Line(), line);
    const WindowId window = desktop.FindProgramWindow();
    ASSERT_NE(window, 0u);

    dir.Write("main.fx", kSquares);
    desktop.PressKey(XK_F5);
    ExpectLoaded();
    ExpectSquares(window, "recovered", NextParticles());

    EXPECT_TRUE(desktop.TakesCloseButton(window));
    desktop.ClickClose(window);
    EXPECT_EQ(program->Wait(), 0);
    std::string more;
    EXPECT_FALSE(program->ReadLine(more, 1)) << "drawing frames print nothing, got: " << more;
}

TEST_F(ProgramTest, CompileAndCreationFailuresPrintTheirLinesAndTheProgramRunsOn) {
    dir.Write("main.fx", kSyntaxError);
    Start();
    std::string text;
    EXPECT_EQ(CompilerTextThenStepLine(text),
              "ERROR : scene : 112 0x80004005 : CompileShaderFromFile VS");
    EXPECT_EQ(text.rfind("ERROR : ", 0), 0u) << text;
    // One line per diagnostic in the Windows compiler's shape, the first at
    // the undeclared name.
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "ERROR : main.fx(5,16-31): error X3004: undeclared identifier 'undeclared_scale'");
    const std::regex shape(R"((ERROR : )?main\.fx\(\d+,\d+(-\d+)?\): error( X\d{4})?: \S.*|)");
    std::istringstream lines(text);
    for (std::string each; std::getline(lines, each);)
        EXPECT_TRUE(std::regex_match(each, shape)) << each;
    const WindowId window = desktop.FindProgramWindow();
    ASSERT_NE(window, 0u);

    dir.Write("main.fx", kNoGeometryStage);
    desktop.PressKey(XK_F5);
    EXPECT_EQ(CompilerTextThenStepLine(text),
              "ERROR : scene : 113 0x80004005 : CompileShaderFromFile GS");
    EXPECT_EQ(text.rfind("ERROR : ", 0), 0u) << text;

    dir.Write("main.fx", TooManyOutputs());
    desktop.PressKey(XK_F5);
    EXPECT_EQ(LineAfterGate(), "ERROR : scene : 115 0x80004005 : CreateVertexShader");
    dir.Write("main.fx", kSquares);
    for (const char *line : kGate)
        EXPECT_EQ(Line(), line);

    // Still alive and well: the next good file loads and draws.
    desktop.PressKey(XK_F5);
    ExpectLoaded();
    ExpectSquares(window, "after-failures", NextParticles());
    desktop.ClickClose(window);
    EXPECT_EQ(program->Wait(), 0);
}

TEST(NoDisplayTest, DeviceCreationFailsAndTheProgramEndsWithZero) {
    ScratchDir dir;
    dir.Write("main.fx", kSquares);
    Program program(dir.Path(), "");
    std::string line;
    ASSERT_TRUE(program.ReadLine(line));
    EXPECT_EQ(line, "ERROR : D3D11CreateDeviceAndSwapChain");
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(program.ReadLine(line, 1)) << line;
}

} // namespace
