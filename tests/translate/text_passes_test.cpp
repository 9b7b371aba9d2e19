// The text passes on half-written sources: the example cut after every
// token, and with each of its closing brackets taken out, passes or is
// refused, never read past its end. Under the asan preset (bounds-checked
// containers) a read past the last token aborts the test.
#include "platform/gl/compiler/stages.h"
#include "../support/scene_stages.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/source_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string ReadExample() {
    std::ifstream in(HOTFX_EXAMPLE, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Runs the text passes for the three stages; returns how many refused.
int Refusals(const std::string &source) {
    int refused = 0;
    for (const auto &stage : kSceneStages) {
        Diagnostics diagnostics;
        std::string text;
        const bool ok = CheckHlslText(source, "main.fx", stage.entry, stage.profile, stage.language,
                                      diagnostics, text);
        // A refusal says why; a pass never fails silently.
        EXPECT_EQ(ok, !diagnostics.HasErrors()) << source;
        refused += ok ? 0 : 1;
    }
    return refused;
}

TEST(TextPassesTest, TheWholeExamplePasses) {
    EXPECT_EQ(Refusals(ReadExample()), 0);
}

TEST(TextPassesTest, EveryCutOfTheExampleEndsCleanly) {
    const std::string example = ReadExample();
    const LexedHlsl lexed     = LexHlsl(example);
    ASSERT_GT(lexed.tokens.size(), 100u);
    int refused = 0;
    for (const Token &t : lexed.tokens)
        refused += Refusals(example.substr(0, t.end()));
    // Most cuts leave an entry point missing or a bracket open.
    EXPECT_GT(refused, 0);
}

TEST(TextPassesTest, EveryBracketLeftOpenEndsCleanly) {
    const std::string example = ReadExample();
    const LexedHlsl lexed     = LexHlsl(example);
    int cases                 = 0;
    for (const Token &t : lexed.tokens) {
        const char c = MarkOf(example, t);
        if (c != ')' && c != ']' && c != '}') continue;
        std::string open = example;
        open.erase(t.offset, 1);
        Refusals(open);
        ++cases;
    }
    EXPECT_GT(cases, 20);
}

// Reads past the last token give the end token, which matches nothing.
TEST(TextPassesTest, ReadsPastTheLastTokenGiveTheEnd) {
    const std::string text = "struct S { float a; float b(";
    const LexedHlsl lexed  = LexHlsl(text);
    size_t brace           = 0;
    while (!IsMark(text, lexed.tokens[brace], '{'))
        ++brace;
    const size_t close = ClosingBracket(text, lexed.tokens, brace);
    EXPECT_EQ(close, lexed.tokens.size());
    const Token &end = lexed.tokens[close + 1];
    EXPECT_EQ(end.kind, TokenKind::End);
    EXPECT_EQ(end.offset, text.size());
    EXPECT_EQ(end.length, 0u);
    EXPECT_EQ(MarkOf(text, end), '\0');
    // A list made of some of the tokens ends where the text ends too.
    EXPECT_EQ(CodeTokens(lexed.tokens)[1000].offset, text.size());
}

// A pixel stage and a piece of the text the passes leave of it.
struct LeftRow {
    const char *source;
    const char *left;
};

template <size_t N> void CheckLeft(const LeftRow (&rows)[N]) {
    for (const LeftRow &row : rows) {
        SCOPED_TRACE(row.source);
        Diagnostics diagnostics;
        std::string text;
        ASSERT_TRUE(CheckHlslText(row.source, "main.fx", "main", "ps_4_0", EShLangFragment,
                                  diagnostics, text));
        EXPECT_NE(text.find(row.left), std::string::npos) << text;
    }
}

} // namespace

// The call forms read their arguments' types from the model: a struct's
// members, an integer literal the preprocessor split, what an intrinsic
// returns. Each row is a pixel stage and a piece of the text the passes
// leave.
TEST(TextPassesTest, CallFormsTypeArgumentsAsTheModelDoes) {
    const LeftRow rows[] = {
        // A float4 member to a float3 parameter: Windows drops the fourth.
        {"struct S { float4 v; };\nfloat f(float3 p) { return p.x; }\n"
         "float4 main(S s : T0) : SV_Target { return f(s.v); }",
         "f((float3)(s . v))"},
        // length() of a scalar member: as a two-component vector.
        {"struct S { float h; };\nfloat4 main(S s : T0) : SV_Target { return length(s.h); }",
         "length(float2(s . h, 0))"},
        // any() of what max() of scalars returns.
        {"float4 main(float a : T0) : SV_Target { return any(max(a, 1)); }", "(0 != (max(a, 1)))"},
        // 3lu as the preprocessor writes it is a uint: the uint overload.
        {"float f(int a) { return 1; }\nfloat f(uint a) { return 2; }\n"
         "float4 main() : SV_Target { return f(3l u); }",
         "hf_1_f("},
        // A struct member as a componentwise intrinsic's argument: cut to the
        // result's size.
        {"struct S { float4 v; };\n"
         "float4 main(S s : T0, float3 c : T1) : SV_Target { return float4(max(s.v, c), 1); }",
         "max((float3)(s . v), c)"},
        // A float1 that a function returns, in a compound assignment of a
        // float4: read as its scalar.
        {"float1 f(float1 q) { return q; }\n"
         "float4 main() : SV_Target { float4 v = 1; v += f(2) * 3; return v; }",
         "(f(2)* 3).x"},
        // Overloads whose parameters a typedef names are told apart too.
        {"typedef int whole;\nfloat f(whole a) { return 1; }\nfloat f(uint a) { return 2; }\n"
         "float4 main(int i : I) : SV_Target { return f(3u) + f(i); }",
         "hf_1_f(3u)+ hf_0_f(i)"},
        // dot() of scalars: of two-component vectors.
        {"float4 main(float a : T0) : SV_Target { return dot(a, a); }",
         "dot(float2(a, 0), float2(a, 0))"},
    };
    CheckLeft(rows);
}

// The matrix forms ask the model what each name is: a matrix of one row or
// column that became a vector keeps its indexing and swizzles where its own
// name is read, not where another variable of that name is.
TEST(TextPassesTest, MatrixFormsFollowTheModelsNames) {
    const LeftRow rows[] = {
        // m[0] of a row is the whole vector; the other function's m is a
        // 2x2 matrix whose m[1][0] stays.
        {"float f(float1x3 m) { return m[0].y; }\n"
         "float4 main() : SV_Target { float2x2 m = 1; return m[1][0] + f(1); }",
         "return m[1][0]"},
        {"float f(float1x3 m) { return m[0].y; }\n"
         "float4 main() : SV_Target { float2x2 m = 1; return m[1][0] + f(1); }",
         "return m. y"},
        // A member of four rows of one column is a float4; its swizzle is the
        // vector's.
        {"struct S { float4x1 r; };\n"
         "float4 main(float4 v : T0) : SV_Target { S s; s.r = v; return s.r._m10_m20; }",
         "s . r . yz"},
    };
    CheckLeft(rows);
}

// glslang's preprocessor defines VULKAN and GL_ macros the Windows compiler
// does not; they are undefined before the file is read wherever the file
// can meet one: spelled in it, through an included file, or pasted from
// pieces. Each row is a main file, the file it may include, and what the
// preprocessed text holds.
TEST(TextPassesTest, GlslangMacrosAreUndefinedWhereverTheFileCanMeetThem) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(glslang::InitializeProcess());
    const fs::path folder =
        fs::temp_directory_path() / ("hotfx_macros_" + std::to_string(getpid()));
    fs::create_directories(folder);
    const struct {
        const char *main;
        const char *included;
        const char *holds;
    } rows[] = {
        {"#ifdef VULKAN\nglslang\n#else\nwindows\n#endif\n", nullptr, "windows"},
        {"#include \"inc.fxh\"\n", "#ifdef GL_core_profile\nglslang\n#else\nwindows\n#endif\n",
         "windows"},
        {"#include \"inc.fxh\"\n", "int v = VULKAN;\n", "int v = VULKAN;"},
        {"#define CAT(a, b) a##b\nint v = CAT(VUL, KAN);\n", nullptr, "int v = VULKAN;"},
        // A file that meets none keeps its lines.
        {"\nint v = __LINE__;\n", nullptr, "int v = 2;"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.main);
        if (row.included) std::ofstream(folder / "inc.fxh", std::ios::binary) << row.included;
        const std::string name = (folder / "main.fx").string();
        std::string output;
        IncludedFiles included;
        Diagnostics diagnostics;
        ASSERT_TRUE(PreprocessHlsl(row.main, name.c_str(), EShLangFragment, EShMsgReadHlsl, output,
                                   included, diagnostics));
        EXPECT_NE(output.find(row.holds), std::string::npos) << output;
    }
    fs::remove_all(folder);
    glslang::FinalizeProcess();
}
