// What the Windows compiler refuses beyond the profile's models, each beside
// the closest form it compiles, so that a rule grown too wide fails here as
// surely as one that stopped refusing. The refusing forms and the compiling
// ones are as vkd3d's Windows-run tests record them.
#include "platform/gl/glsl/translate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct Case {
    const char *source;  // a pixel stage whose entry point is ps_main
    const char *message; // "file(line,column): error: text" or part of it; null: it compiles
};

#define PS(body) "float4 ps_main() : SV_Target { " body " return 0; }\n"

const Case kCases[] = {
    {"row_major row_major float4x4 m;\n" PS(""), "main.fx(1,1): error: 'row_major' is given"},
    {"row_major column_major float4x4 m;\n" PS(""),
     "main.fx(1,1): error X3048: matrix types cannot be both column_major and row_major"},
    {"typedef row_major float2x2 t;\nrow_major t m;\n" PS(""), nullptr},
    {"typedef row_major float2x2 t;\ncolumn_major t m;\n" PS(""), "contradicts the 'row_major'"},
    {"column_major float4 f;\n" PS(""), "applies only to matrices"},
    {"typedef float4x4 a[2];\nrow_major a m;\n" PS(""), "applies only to matrices"},
    {"const const float4 c;\n" PS(""), "'const' is given more than once"},
    {PS("const float f;"), "main.fx(1,44): error X3012: 'f': missing initial value"},
    {PS("const float f = 1, g;"), "'g': missing initial value"},
    {"static uniform float4 f;\n" PS(""), "'static' and 'uniform'"},
    {"uniform in float4 f;\n" PS(""), "'uniform' and 'in'"},
    {"float4 ps_main(uniform in float4 a) : SV_Target { return a; }", nullptr},
    {PS("uniform float f;"), "a local variable cannot be 'uniform'"},
    {"Texture2D t : register(PS, t1);\n" PS(""), "'PS' is not a shader profile"},
    {"Texture2D t : register(ps, t1) : register(ps_4_0, t2);\n" PS(""), "conflicting registers"},
    {"Texture2D t : register(ps, t1) : register(ps_5_0, t2);\n" PS(""), nullptr},
    {"[one][one]\n" PS(""), "main.fx(1,7): error: attribute 'one' is given more than once"},
    {"[one][One]\n" PS(""), nullptr},
    {"[one]\nfloat4 f;\n" PS(""), "not to a variable"},
    {"float4 f() { return 0; }\n[one]\nfloat4 g;\n" PS(""), "main.fx(2,2): error: attribute 'one'"},
    {"[one]\nfloat4 f() { return 0; }\n" PS(""), nullptr},
    // A function's body, at any depth, is the model's function's: its
    // statements' attributes and its locals are judged there.
    {PS("{ [loop] [loop] for (int i = 0; i < 2; ++i) {} }"),
     "main.fx(1,42): error: attribute 'loop' is given more than once"},
    {PS("if (true) { uniform float f = 0; }"), "a local variable cannot be 'uniform'"},
    {PS("[loop] for (int i = 0; i < 2; ++i) { [branch] if (i) {} }"), nullptr},
    {PS("float4 teChnique = 0;"), "'teChnique' is a keyword of effects"},
    {PS("float4 fxGroup = 0; float4 technique10 = 0; float4 float = 0;"), nullptr},
    {"typedef float2 float;\n" PS(""), "'float' is the name of a type"},
    {PS("float4 a[] = {1, 2, 3, 4, 5, 6, 7};"), "7 values do not fill whole elements"},
    {PS("float4 a[] = {1, 2, 3, 4, 5, 6, 7, 8}; float2 b[][3] = {1, 2, 3, 4, 5, 6};"), nullptr},
    {PS("float4 a[];"), "needs an initializer"},
    {"float4 g[];\n" PS(""),
     "main.fx(1,9): error: array 'g' of implicit size needs an initializer"},
    {"float g[] = {1, 2, 3};\n" PS("float2 a[] = {-1, +2};"), nullptr},
    {"struct S { float4 a[]; };\n" PS(""), "cannot have an implicit size"},
    {PS("float a[65537];"), "more than 65536 elements"},
    {PS("float a[65536];"), nullptr},
    // An implicit size is refused where it stands, at its '[', and counted
    // in signed literals; the same declarations sized compile.
    {PS("float2 a[] = {-1, +2, 3};"),
     "main.fx(1,40): error: 3 values do not fill whole elements of 'a', an array of 'float2'"},
    {"typedef float4 t[];\n" PS(""),
     "main.fx(1,17): error: typedef 't' cannot have an implicit array size"},
    {"cbuffer C { float4 a[]; }\n" PS(""), "structure member 'a' cannot have an implicit size"},
    {PS("struct L { float b[]; };"), "structure member 'b' cannot have an implicit size"},
    {"typedef float4 t[2];\ncbuffer C { float4 a[2]; }\n" PS("struct L { float b[2]; };"), nullptr},
    {"struct { float4 a; };\n" PS(""), "an anonymous structure declares nothing"},
    {"float a = 7;\nfloat4 b = {1, 2, a, 4};\n" PS(""), "main.fx(2,19): error: the initial value"},
    {"static const float a = 7;\nfloat4 b = {1, 2, a, 4};\n" PS(""), nullptr},
    {PS("float4 x = 0; x.xzzx = 1;"), "names a component twice"},
    {PS("float2x2 m = 0; m._m01_m01 = 1; m._m00_m01 = 1; float4 x = 0; x.xz = 1;"),
     "main.fx(1,1): error: the destination of an assignment names a component twice"},
    {"float4 ps_main(float2 a : T0, float3 b : T0) : SV_Target { return 0; }",
     "input semantic 'T0'"},
    {"float4 ps_main(float2 a : T0, half2 b : T0, float2x1 c : T0) : SV_Target { return 0; }",
     nullptr},
    // A vector of a row_major matrix never shares an input's layout, a
    // parameter's or a structure member's; a row_major member does not make
    // another member row_major.
    {"float4 ps_main(float2 a : T0, row_major float1x2 b : T0) : SV_Target { return 0; }",
     "input semantic 'T0' is given to values of different layouts"},
    {"struct S { float2x1 b : T0; row_major float1x2 c : T1; };\n"
     "float4 ps_main(float2 a : T0, S s) : SV_Target { return 0; }",
     nullptr},
    {"struct S { row_major float1x2 c : T0; };\n"
     "float4 ps_main(float2 a : T0, S s) : SV_Target { return 0; }",
     "input semantic 'T0' is given to values of different layouts"},
    {"struct S { float2x1 b : T0; row_major float1x2 c : T1; };\n"
     "float4 ps_main(float2 a : T0, float1x2 d : T1, S s) : SV_Target { return 0; }",
     "input semantic 'T1' is given to values of different layouts"},
    {"void ps_main(out float4 a : SV_Target0, out float4 b : sv_target) { a = b = 0; }",
     "output semantic 'SV_TARGET0'"},
    {"struct S { float4 t[2] : T0; };\n"
     "void ps_main(out S s, out float4 c : SV_Target) { s.t[0] = s.t[1] = c = 0; }",
     nullptr},
    // [unroll] counts the loop's header as folded constants: a literal, a
    // const, a negative step; 1023 iterations unroll, 1024 do not.
    {PS("[unroll] for (int i = 0; i < 1024; ++i) {}"),
     "main.fx(1,41): error: unable to unroll loop, loop does not appear to terminate in a timely "
     "manner (1024 iterations)"},
    {"static const int N = 2048;\n" PS("int i; [unroll] for (i = N; i > 0; i -= 2) {}"),
     "(1024 iterations)"},
    {PS("[fastopt] [unroll] for (uint i = 1; i <= 1024u; i++) {}"), "(1024 iterations)"},
    {"static const int N = 1024;\n" PS("[unroll] for (int i = 1; i < N; ++i) {} [unroll(1337)] for "
                                       "(int j = 0; j < 1337; ++j) {}"),
     nullptr},
    {PS("[unroll] for (int i = 2000; i == 0; --i) {} [loop] for (int j = 0; j < 4096; ++j) {}"),
     nullptr},
    {PS("int i; [unroll] for (i = 1024; i > 0; i--) {}"), "(1024 iterations)"},
    {PS("[unroll] for (int i = 0; i <= 1023; i += 1) {}"), "(1024 iterations)"},
    {"static const uint N = 1023;\n" PS("[unroll] for (uint i = 0; i <= N; ++i) {}"),
     "(1024 iterations)"},
    {PS("[unroll] for (int i = 0; i <= 1022; i += 1) {} [unroll] for (int j = 0; j < 2046; j += 2) "
        "{}"),
     nullptr},
    // A const local needs its value, an array too; a static const given one
    // and a loop's own counter are not judged.
    {PS("const float2 f[2];"), "main.fx(1,45): error X3012: 'f': missing initial value"},
    {PS("static const float f = 1; const float2 g[2] = {1, 2, 3, 4}; float h;"), nullptr},
    {PS("const float a = 1, b[2];"), "main.fx(1,51): error X3012: 'b': missing initial value"},
    {PS("for (const int i = 0; i < 2;) {}"), nullptr},
    // Effect keywords name nothing, structure members included.
    {"struct S { float4 Technique; };\n" PS(""),
     "main.fx(1,19): error: 'Technique' is a keyword of effects, not a name"},
    {"struct S { float4 technique11; };\ncbuffer C { float4 fxGroup; }\n" PS(""), nullptr},
    {"float4 ps_main(float4 Technique : T0) : SV_Target { return 0; }",
     "main.fx(1,23): error: 'Technique' is a keyword of effects"},
    {"cbuffer C { float4 fxgroup; }\n" PS(""), "'fxgroup' is a keyword of effects"},
    {"struct S { struct { float4 TECHNIQUE; } inner; };\n" PS(""),
     "main.fx(1,28): error: 'TECHNIQUE' is a keyword of effects"},
    // A uniform or extern global is a variable; a static one is the
    // shader's own and may read them.
    {"uniform float a;\nfloat4 b = float4(a, 1, 2, 3);\n" PS(""),
     "main.fx(2,19): error: the initial"},
    {"float a = 7;\nstatic float b = a;\nstatic const float c = 2;\nfloat d = c;\n" PS(""),
     nullptr},
    // Bitwise operators take integers, whatever the floating-point operand
    // is: a name, a literal, a sum or a member.
    {PS("uint u = 5; float f = 2; uint r = u >> f;"),
     "error X3082: int or unsigned int type required"},
    {PS("uint u = 5; float2 f = 2; uint r = (f.x + 1) << u;"), "int or unsigned int type required"},
    {PS("uint u = 5; uint r = u & 2.0;"), "int or unsigned int type required"},
    {PS("uint u = 5; int2 i = 3; uint r = (u << 2) | (i.x >> u) ^ ~u & (uint)2.5;"), nullptr},
    {PS("int a = asint(true);"), "asint() does not take a bool"},
    {PS("bool2 b = true; uint2 a = asuint(b);"), "asuint() does not take a bool"},
    {PS("int a = asint(1.5) + asint(2u) + asint((float)true);"), nullptr},
    {"[numthreads(float2(1), 1, 1)]\n" PS(""), "1 values do not make a 'float2'"},
    {"[numthreads(-float2(1, 2), 1)]\n" PS(""), nullptr},
    // State blocks read the file's globals and functions as declared: through
    // a typedef, with default parameter values.
    {"typedef float2 pair;\npair p;\nsampler s { MinLOD = p.z; };\n" PS(""),
     "'z' reads past the components of 'p'"},
    {"typedef float2 pair;\npair p;\nsampler s { MinLOD = p.y; };\n" PS(""), nullptr},
    {"float f(float a, float b = 1) { return a; }\nsampler s { MinLOD = f(1); };\n" PS(""),
     nullptr},
    {"float f(float a, float b = 1) { return a; }\nsampler s { MinLOD = f(1, 2, 3); };\n" PS(""),
     "no overload of 'f' takes these arguments"},
    // The tokens are those of the text glslang parsed, lit() renamed and its
    // body put before the file's first line.
    {PS("float4 l = lit(1, 2, 3); const float f;"), "error X3012: 'f': missing initial value"},
    // Lines of an included file are its own.
    {"#include \"inc.fxh\"\n" PS(""), "inc.fxh(2,12): error: 'PS' is not a shader profile"},
};

TEST(WindowsRules, RefusesWhatWindowsRefusesAndNoMore) {
    namespace fs            = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / ("hotfx_rules_" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    std::ofstream("inc.fxh") << "// included\nfloat4 f : register(PS, c1);\n";
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.source);
        std::ofstream("main.fx", std::ios::binary) << c.source;
        ID3D10Blob *shader = nullptr, *messages = nullptr;
        const HRESULT hr = D3DX11CompileFromFileA("main.fx", nullptr, nullptr, "ps_main", "ps_4_0",
                                                  0, 0, nullptr, &shader, &messages, nullptr);
        const std::string text =
            messages ? static_cast<const char *>(messages->GetBufferPointer()) : "";
        if (shader) shader->Release();
        if (messages) messages->Release();
        if (!c.message)
            EXPECT_EQ(hr, 0) << text;
        else
            EXPECT_NE(text.find(c.message), std::string::npos) << text;
    }
    fs::current_path(previous);
    fs::remove_all(folder);
}

} // namespace
