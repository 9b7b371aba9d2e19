// What a user's editor, shell or typing can leave in "main.fx": each one
// must end in a clear error line, a program that keeps running (the next
// frame shows the five object lines and draws nothing), and a good file plus
// a reload that brings everything back with no object left over.
#include "environment.h"

#include "platform/gl/backend.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace {

constexpr unsigned kFail         = 0x80004005;
constexpr unsigned kInvalidArg   = 0x80070057;
constexpr unsigned kFileNotFound = 0x80070002;
constexpr unsigned kAccessDenied = 0x80070005;

const char *const kLoaded = "Loaded.\nObj Initialize.\n";

// Bytes no editor would write: a fixed pseudo-random run, NULs included.
std::string Garbage(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char &c : bytes) {
        state = state * 1103515245u + 12345u;
        c     = static_cast<char>(state >> 24);
    }
    return bytes;
}

struct BadInput {
    const char *name;
    std::function<void()> make; // puts the bad "main.fx" in place
    int step;                   // the failing step's number
    unsigned hr;                // and its result
    const char *message;        // part of the error text; null when none is printed
};

void PrintTo(const BadInput &input, std::ostream *os) {
    *os << input.name;
}

void Write(const std::string &text) {
    WriteFileAtomically("main.fx", text);
}

const BadInput kBadInputs[] = {
    {"Empty", [] { Write(""); }, 112, kFail, "error X3501: 'vs_main': entrypoint not found"},
    {"BinaryGarbage", [] { Write(Garbage(65536)); }, 112, kFail, "main.fx(1,"},
    // A good shader followed by 50 MB of comments: refused unread.
    {"FiftyMegabytes", [] { Write(ExampleShader() + std::string(50 << 20, ' ') + "\n"); }, 112,
     kFail, "main.fx(1,1): error: is too large"},
    {"Directory", [] { std::filesystem::create_directory("main.fx"); }, 112, kAccessDenied,
     "main.fx(1,1): error: is a directory"},
    {"DanglingLink", [] { ASSERT_EQ(symlink("nowhere.fx", "main.fx"), 0); }, 112, kFileNotFound,
     nullptr},
    {"LoopingLink", [] { ASSERT_EQ(symlink("main.fx", "main.fx"), 0); }, 112, kFail,
     "main.fx(1,1): error: cannot open"},
    // Saved half-way through the geometry stage.
    {"TruncatedInFunction",
     [] {
         const std::string text = ExampleShader();
         Write(text.substr(0, text.find("strip.Append(p);")));
     },
     112, kFail, "main.fx("},
    // A half-typed parameter: crashed glslang before it was checked for.
    {"ParameterArrayLeftOpen",
     [] { Write(Replace(ExampleShader(), "point Sprite input[1]", "point Sprite input[1")); }, 112,
     kFail, "main.fx(55,1): error: '[': no matching ']'"},
    // A for loop short of a ';': "k < 4 ++k" crashed glslang.
    {"ForLoopShortOfASemicolon",
     [] {
         Write(
             Replace(ExampleShader(), "for (int k = 0; k < 4; ++k)", "for (int k = 0; k < 4 ++k)"));
     },
     112, kFail, "main.fx(60,29): error X3000: syntax error: unexpected token 'k'"},
    // A parameter without a name: crashed glslang.
    {"EntryParameterWithoutName",
     [] {
         Write(Replace(ExampleShader(), "Sprite vs_main(uint id : SV_InstanceID)",
                       "Sprite vs_main(uint id : SV_InstanceID, uint : SV_VertexID)"));
     },
     112, kFail, "'vs_main': every parameter of an entry point needs a name"},
    {"NonAsciiIdentifier", [] { Write(Replace(ExampleShader(), "float pulse", "float pulsé")); },
     112, kFail, "main.fx("},
    // Entry points whose signatures do not fit their stage.
    {"GeometryWithoutMaxVertexCount",
     [] { Write(Replace(ExampleShader(), "[maxvertexcount(4)]", "")); }, 113, kFail,
     "'gs_main': a geometry entry point needs [maxvertexcount(N)]"},
    {"GeometryInputNotAnArray", // crashed glslang before it was checked for
     [] {
         std::string text = Replace(ExampleShader(), "point Sprite input[1]", "Sprite input");
         for (size_t at; (at = text.find("input[0]")) != std::string::npos;)
             text.replace(at, 8, "input");
         Write(text);
     },
     113, kFail, "'input': a geometry stage input must be an array"},
    {"GeometryInputNeverWritten",
     [] {
         const std::string moved =
             "struct Moved { float4 centre : WHERE; float4 colour : COLOR0; };\n"
             "Moved vs_main(uint id : SV_InstanceID)";
         Write(Replace(Replace(ExampleShader(), "Sprite vs_main(uint id : SV_InstanceID)", moved),
                       "Sprite s;", "Moved s;"));
     },
     116, kInvalidArg, "geometry stage input 'CENTRE0' is not written by the vertex stage"},
    // Beyond the 1024 vertices a geometry invocation may emit: refused by the
    // compiler, as on Windows, not by the GL driver at creation.
    {"GeometryOutputsTooManyVertices",
     [] { Write(Replace(ExampleShader(), "[maxvertexcount(4)]", "[maxvertexcount(4096)]")); }, 113,
     kFail, "maxvertexcount(4096) is over the limit of 1024 vertices"},
};

class BadInputTest : public ::testing::TestWithParam<BadInput> {
  protected:
    void SetUp() override {
        RemoveShader();
        Write(ExampleShader());
        ASSERT_EQ(Capturing([] {
                      LoadScene();
                      RenderFrame();
                  }).out,
                  kLoaded);
        liveObjects_ = LiveObjectCount();
        liveNames_   = LiveGlNames();
        RemoveShader();
    }

    int liveObjects_ = 0;
    int liveNames_   = 0;
};

TEST_P(BadInputTest, ReportsKeepsRunningAndRecovers) {
    const BadInput &input = GetParam();
    input.make();

    const Printed load     = Capturing(LoadScene);
    const std::string line = StepLine(input.step, input.hr);
    ASSERT_GE(load.out.size(), line.size()) << load.out;
    EXPECT_EQ(load.out.substr(load.out.size() - line.size()), line) << load.out;
    if (input.step <= 114) {
        // A compile step: the compiler's text first, unless it gave none.
        if (input.message) {
            EXPECT_EQ(load.out.rfind("ERROR : ", 0), 0u) << load.out;
            EXPECT_NE(load.out.find(input.message), std::string::npos) << load.out;
        } else {
            EXPECT_EQ(load.out, line);
        }
    } else {
        // A device step: only the step line; the backend says why on stderr.
        EXPECT_EQ(load.out, line);
        EXPECT_NE(load.err.find(input.message), std::string::npos) << load.err;
    }

    EXPECT_TRUE(IsGate(Capturing(RenderFrame).out));

    RemoveShader();
    Write(ExampleShader());
    EXPECT_EQ(Capturing([] {
                  LoadScene();
                  RenderFrame();
              }).out,
              kLoaded);
    EXPECT_EQ(LiveObjectCount(), liveObjects_);
    EXPECT_EQ(LiveGlNames(), liveNames_);
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadInputTest, ::testing::ValuesIn(kBadInputs),
                         [](const ::testing::TestParamInfo<BadInput> &info) {
                             return std::string(info.param.name);
                         });

// Bytes above 127 in comments are nobody's business; in a string they are
// either accepted or refused with a message, never a crash.
TEST(NonAsciiTest, LoadsWithNonAsciiComments) {
    RemoveShader();
    Write(Replace(ExampleShader(), "// Vertex stage: one call per particle.",
                  "// Vertex stage \xC3\xA9\xE2\x80\x94\xE7\xB2\x92\xE5\xAD\x90 \xFF\xFE\x80.\n"
                  "/* \xC0\xC1 \xF5\xFF */ //"));
    EXPECT_EQ(Capturing(LoadScene).out, kLoaded);
}

TEST(NonAsciiTest, StringsLoadOrReportAndRecover) {
    RemoveShader();
    Write(Replace(ExampleShader(), "static const float3 Background",
                  "static const string Name = \"gr\xC3\xBC\xC3\x9F \xFF\x80\";\n"
                  "static const float3 Background"));
    const std::string out = Capturing(LoadScene).out;
    if (out != kLoaded) {
        EXPECT_EQ(out.rfind("ERROR : ", 0), 0u) << out;
        EXPECT_NE(out.find("ERROR : scene : 11"), std::string::npos) << out;
    }
    Write(ExampleShader());
    EXPECT_EQ(Capturing(LoadScene).out, kLoaded);
}

// Loads each file of a folder as "main.fx": it loads or reports a step,
// the program keeps running, and the example then loads again.
void EachLoadsOrReportsAndRecovers(const char *folder) {
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().string());
        ++count;
        RemoveShader();
        std::filesystem::copy_file(entry.path(), "main.fx");
        const Printed load = Capturing([] {
            LoadScene();
            RenderFrame();
        });
        const bool loaded  = load.out.rfind(kLoaded, 0) == 0;
        EXPECT_TRUE(loaded || load.out.find("ERROR : scene : 11") != std::string::npos) << load.out;
        RemoveShader();
        Write(ExampleShader());
        EXPECT_EQ(Capturing(LoadScene).out, kLoaded);
    }
    EXPECT_GT(count, 0);
}

// Inputs that crashed a library until a check caught them, kept as found.
TEST(KeptInputTest, EachLoadsOrReportsAndRecovers) {
    EachLoadsOrReportsAndRecovers(HOTFX_INPUTS);
}

// Sources glslang 12 crashes on that no check catches: the compile server
// dies instead of the program, and the load reports it as a compile error.
TEST(KnownCrashTest, EachReportsTheCrashAndRecovers) {
    EachLoadsOrReportsAndRecovers(HOTFX_CRASHES);
    for (const auto &entry : std::filesystem::directory_iterator(HOTFX_CRASHES)) {
        SCOPED_TRACE(entry.path().string());
        RemoveShader();
        std::filesystem::copy_file(entry.path(), "main.fx");
        const std::string out = Capturing(LoadScene).out;
        EXPECT_NE(out.find("the HLSL compiler (glslang) crashed"), std::string::npos) << out;
    }
}

} // namespace
