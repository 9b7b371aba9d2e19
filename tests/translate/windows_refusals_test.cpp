// Mistakes glslang would take and the Windows compiler refuses, one row
// each, with the first line the Windows compiler prints; beside them the
// valid forms closest to each, which must still compile with nothing said,
// and the warnings a failed compile carries.
#include "platform/gl/glsl/translate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct Case {
    const char *source; // a pixel stage whose entry point is ps_main
    const char *first;  // the first line of the compiler's text; null: compiles, says nothing
};

#define PS(body) "float4 ps_main() : SV_Target\n{\n" body "    return 0;\n}\n"

const Case kCases[] = {
    // A missing ';' is reported at the token that follows it.
    {PS("    float core = exp(-2.0)\n    float rim = 1.0;\n"),
     "main.fx(4,5-9): error X3000: syntax error: unexpected token 'float'"},
    {PS("    float a = 1\n    a += 2;\n"),
     "main.fx(4,5): error X3000: syntax error: unexpected token 'a'"},
    {PS("    float a = 1;\n    a += 2\n    if (a > 2) a = 0;\n"),
     "main.fx(5,5-6): error X3000: syntax error: unexpected token 'if'"},
    {"float4 ps_main() : SV_Target\n{\n    return 0\n}\n",
     "main.fx(4,1): error X3000: syntax error: unexpected token '}'"},
    {PS("    float a = 1\n    2.5;\n"),
     "main.fx(4,5-7): error X3000: syntax error: unexpected float constant"},
    {"struct S { float a; }\nstruct T { float b; };\n" PS(""),
     "main.fx(2,1-6): error X3000: syntax error: unexpected token 'struct'"},
    {"static const float K = 1\nstatic float L;\n" PS(""),
     "main.fx(2,1-6): error X3000: syntax error: unexpected token 'static'"},
    {PS("") "float4 g = 1", "main.fx(5,13): error X3000: syntax error: unexpected end of file"},
    // A text that ends inside a statement is refused before glslang, which
    // crashed on a call cut off inside a ?:.
    {PS("") "float n() { e(0 ? 5 :",
     "main.fx(5,22): error X3000: syntax error: unexpected end of file"},
    {PS("") "float n() { return n(",
     "main.fx(5,22): error X3000: syntax error: unexpected end of file"},
    // A name declared nowhere as a ?:'s last operand in an argument (glslang
    // crashed on it); a declared one compiles.
    {"float f(float a) { return a; }\n" PS("    float a = 1;\n    a = f(a ? 1 : b);\n"),
     "main.fx(5,19): error X3004: undeclared identifier 'b'"},
    {"float f(float a) { return a; }\n" PS("    float a = 1, b = 2;\n    a = f(a ? 1 : b);\n"),
     nullptr},
    // With a syntax error after it, the syntax error is the message.
    {"float f(float a) { return a; }\n" PS("    float a = 1;\n    a = f(a ? 1 : b : c);\n"),
     "main.fx(5,21): error X3000: syntax error: unexpected token ':'"},
    // A label outside a switch (glslang crashed on it).
    {PS("    int i = 1;\n    if (i) { case 1: i = 2; }\n"),
     "main.fx(4,14-17): error: syntax error: unexpected token 'case'"},
    {PS("    int i = 1;\n    switch (i) { case 0: { i = 2; break; } default: i = 3; }\n"), nullptr},
    // Only the first syntax error, as the Windows compiler stops there.
    {PS("    float a = 1\n    float b = 2\n"),
     "main.fx(4,5-9): error X3000: syntax error: unexpected token 'float'"},

    // Writes to what is const, each in one line of Windows' words.
    {"static const float K = 1;\n" PS("    K = 2;\n"),
     "main.fx(4,5-9): error X3025: l-value specifies const object"},
    {PS("    const float c = 2;\n    c += 3;\n"),
     "main.fx(4,5-10): error X3025: l-value specifies const object"},
    {"float f(const float x) { x++; return x; }\n" PS(""),
     "main.fx(1,26-28): error X3025: l-value specifies const object"},
    {"struct S { float a; };\n" PS("    const S s = { 1 };\n    --s.a;\n"),
     "main.fx(5,5-9): error X3025: l-value specifies const object"},
    {"float4 g;\n" PS("    g.x = 0;\n"),
     "main.fx(4,5-11): error X3025: global variables are implicitly constant, enable "
     "compatibility mode to allow modification"},
    {"cbuffer C { float4 m[2]; };\n" PS("    m[1] *= 2;\n"),
     "main.fx(4,5-13): error X3025: global variables are implicitly constant, enable "
     "compatibility mode to allow modification"},
    {"void set(out float v) { v = 1; }\n" PS("    const float c = 0;\n    set(c);\n"),
     "main.fx(5,9): error X3025: l-value specifies const object"},
    {"void inc(inout float v) { v += 1; }\n" PS("    inc(1);\n"),
     "main.fx(4,9): error X3025: l-value specifies const object"},
    {"float g;\nvoid set(out float v) { v = 1; }\n" PS("    set(g);\n"),
     "main.fx(5,9): error X3025: out parameters require l-value arguments (given argument is "
     "implicitly const, such as a global)"},
    {"void set(out float v) { v = 1; }\n" PS("    float a = 0;\n    set(a + 1);\n"),
     "main.fx(5,9-13): error X3025: out parameters require l-value arguments"},
    {PS("    const float s = 0;\n    float c;\n    sincos(1.0, s, c);\n"),
     "main.fx(5,17): error X3025: l-value specifies const object"},

    // A second global or structure member of one name.
    {"float x;\nstatic float y;\nfloat x;\n" PS(""),
     "main.fx(3,7): error X3003: redefinition of 'x'"},
    {"struct S\n{\n    float4 p : A;\n    float2 p : B;\n};\n" PS(""),
     "main.fx(4,12): error X3003: redefinition of 'S::p'"},
    {"float x;\nstruct S { float x; };\nstruct T { float x; };\n"
     "float f(float x) { float y = x; { float x = 2; y += x; } return y; }\n" PS(
         "    S s = { x };\n    T t = { f(s.x) };\n    return t.x;\n"),
     nullptr},

    // A result that some path does not return.
    {"float f(float x) { if (x > 0) return 1; else discard; }\n" PS("    return f(1);\n"),
     "main.fx(1,7-16): error X3507: 'f': Not all control paths return a value"},
    {"float4 ps_main() : SV_Target\n{\n    float4 c = 1;\n}\n",
     "main.fx(1,14-16): error X3507: 'ps_main': Not all control paths return a value"},
    {"float f(int x)\n{\n    if (x) { return 1; } else { if (x > 2) return 2; }\n}\n" PS(""),
     "main.fx(1,7-14): error X3507: 'f': Not all control paths return a value"},
    {"float f(int x) { if (x) return 1; else { return 2; } }\n"
     "float g(int x) { switch (x) { case 0: return 1; default: return 2; } }\n"
     "float h(int x) { for (int i = 0; i < 4; i++) if (i == x) return i; }\n"
     "float k(int x) { while (true) { if (x > 4) return x; x++; } }\n"
     "void v(int x) { if (x) return; }\n" PS("    v(1);\n    return f(1) + g(1) + h(1) + k(1);\n"),
     nullptr},

    // What may be written, and reads of what may not, compile.
    {"static const float K = 2;\nstatic float G;\nfloat4 U;\n"
     "void set(out float v) { v = K; }\nvoid inc(inout float2 v) { v += U.xy; }\n"
     "struct S { float2 a; };\n" PS("    float a = K;\n    a += 1;\n    a++;\n    G = a;\n"
                                    "    S s;\n    set(s.a.x);\n    inc(s.a);\n"
                                    "    float c;\n    sincos(a, c, s.a.y);\n"),
     nullptr},
    // Forms the Windows compiler takes that read like a missing ';'.
    {"typedef int Int;\nunsigned Int u;\nstruct V { float4 p : A : SV_Position; };\n"
     "float4 ps_main(V v) : B : SV_Target { return v.p * u; }\n",
     nullptr},

// A failed compile carries the warnings, in source order, the place of
// each the span of what it warns about.
#define WITH_K "static const float K = 1;\n"
    {WITH_K PS("    float4 v = 1;\n    float3 t = v;\n    K = t.x;\n"),
     "main.fx(5,16): warning X3206: implicit truncation of vector type"},
    {WITH_K "float f(float2 a) { return a.x; }\n" PS(
         "    float4 v = 1;\n    float x = f(v);\n    K = x;\n"),
     "main.fx(6,15-18): warning X3206: 'f': implicit truncation of vector type"},
    {WITH_K PS("    float4 v = 1;\n    min16float m = 0.5 * v.x;\n    K = m;\n"),
     "main.fx(5,20-28): warning X3205: conversion from larger type to smaller, possible loss "
     "of data"},
    {WITH_K PS("    float4 v = 1;\n    min16float m = 0.5;\n    m *= 2;\n    K = m;\n"),
     "main.fx(7,5-9): error X3025: l-value specifies const object"},
    {WITH_K PS("    float4 v = 1;\n    K = v.x; float3 t = v;\n"),
     "main.fx(5,5-11): error X3025: l-value specifies const object"},
    {WITH_K
     "#pragma warning(disable: 3206)\n" PS("    float3 t = float4(1, 2, 3, 4);\n    K = 1;\n"),
     "main.fx(6,5-9): error X3025: l-value specifies const object"},
    {WITH_K "#pragma warning( disable : 3205 3206 )\n" PS(
         "    min16float m = 0.5f;\n    float3 t = float4(1, 2, 3, 4);\n    K = 1;\n"),
     "main.fx(7,5-9): error X3025: l-value specifies const object"},
    {WITH_K PS("    float3 t = float4(1, 2, 3, 4);\n") "#pragma warning(disable: 3206)\n"
                                                       "void f() { float3 t = float4(1, 2, 3, 4); "
                                                       "K = 1; }\n",
     "main.fx(4,16-33): warning X3206: implicit truncation of vector type"},
    // A warning made an error refuses a compile that would load.
    {"#pragma warning(error: 3206)\n" PS("    float3 t = float4(1, 2, 3, 4);\n"),
     "main.fx(4,16-33): error X3206: implicit truncation of vector type"},
    {"#pragma warning(error: 3206)\n#pragma warning(default: 3206)\n" PS(
         "    float3 t = float4(1, 2, 3, 4);\n"),
     nullptr},
    // Nothing but the syntax error, which stops the Windows compiler
    // before it looks at types.
    {PS("    float3 t = float4(1, 2, 3, 4);\n    float a = 1\n    a = 2;\n"),
     "main.fx(5,5): error X3000: syntax error: unexpected token 'a'"},
    // A compile that succeeds says nothing of its warnings.
    {PS("    float3 t = float4(1, 2, 3, 4);\n    min16float m = t.x;\n    t += m;\n"), nullptr},
};

std::string FirstLine(const std::string &text) {
    return text.substr(0, text.find('\n'));
}

// Compiles source as main.fx (ps_main, ps_4_0) in a folder of its own;
// the compiler's text, and the result in hr.
std::string Compile(const char *source, HRESULT &hr) {
    namespace fs            = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path folder =
        fs::temp_directory_path() / ("hotfx_refusals_" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    std::ofstream("main.fx", std::ios::binary) << source;
    ID3D10Blob *shader = nullptr, *messages = nullptr;
    hr = D3DX11CompileFromFileA("main.fx", nullptr, nullptr, "ps_main", "ps_4_0", 0, 0, nullptr,
                                &shader, &messages, nullptr);
    const std::string text =
        messages ? static_cast<const char *>(messages->GetBufferPointer()) : "";
    if (shader) shader->Release();
    if (messages) messages->Release();
    fs::current_path(previous);
    fs::remove_all(folder);
    return text;
}

TEST(WindowsRefusals, FirstLineIsWindows) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.source);
        HRESULT hr             = 0;
        const std::string text = Compile(c.source, hr);
        if (!c.first) {
            EXPECT_EQ(hr, 0) << text;
            EXPECT_EQ(text, "");
        } else {
            EXPECT_NE(hr, 0);
            EXPECT_EQ(FirstLine(text), c.first) << text;
        }
    }
}

// A failed compile's text holds each warning where it stands among the
// errors, the lines of a file in source order; #pragma warning(once: N)
// keeps the first of N only.
TEST(WindowsRefusals, WarningsStandInSourceOrder) {
    HRESULT hr = 0;
    EXPECT_EQ(Compile("static const float K = 1;\n#pragma warning(once: 3206)\n"
                      "float4 ps_main() : SV_Target\n{\n"
                      "    float3 t = float4(1, 2, 3, 4); K = 2; min16float m = t.x;\n"
                      "    float2 u = t;\n    return 0;\n}\n",
                      hr),
              "main.fx(5,16-33): warning X3206: implicit truncation of vector type\n"
              "main.fx(5,36-40): error X3025: l-value specifies const object\n"
              "main.fx(5,58-60): warning X3205: conversion from larger type to smaller, possible "
              "loss of data\n");
    EXPECT_NE(hr, 0);
}

} // namespace
