// The HLSL forms real-world files use, one short source per row, each
// compiled through D3DX11CompileFromFileA at a 4_0 profile and translated with
// TranslateToGlsl: a row either compiles and translates, as on Windows, or is
// refused with the message the row names, as Windows refuses it. The README's
// audit of the language lists the same forms.
#include "platform/gl/glsl/translate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct Form {
    const char *profile; // the entry point is always "main"
    const char *source;
    const char *refusal; // part of the message Windows' refusal gives; null: it compiles
};

#define PS(body) "float4 main() : SV_Target { " body " }\n"

const Form kForms[] = {
    // Structured and byte-address buffers compile at every 4_0 profile.
    {"ps_4_0", "StructuredBuffer<float4> b;\n" PS("return b[1];"), nullptr},
    {"vs_4_0", "ByteAddressBuffer b;\nfloat4 main() : SV_Position { return b.Load4(0); }", nullptr},
    {"ps_4_0", "Buffer<float4> b;\n" PS("uint n; b.GetDimensions(n); return n;"), nullptr},
    // The shift in an annotation is one operator.
    {"ps_4_0", "float4 c < int a = 1 << 2; >;\n" PS("return c;"), nullptr},
    {"ps_4_0", "double d;\n" PS("return d;"), "double needs shader model 5.0"},
    // Integers and floats in one buffer whose packing std140 cannot express.
    {"ps_4_0",
     "struct S { float a; int i; float3 b; };\ncbuffer C { S s[2]; uint c; }\n" PS(
         "return float4(s[1].b, s[1].i + c);"),
     nullptr},
    // #pragma pack_matrix on typedefs, structure members and several names.
    {"ps_4_0",
     "#pragma pack_matrix(row_major)\ntypedef float2x2 T[2];\nstruct S { float3x2 m; };\n"
     "matrix<float, 2, 3> a, b;\n#pragma pack_matrix(column_major)\nT t;\nS s;\n" PS(
         "return float4(t[1][0], s.m[2]) + a[0].x + b[1].y;"),
     nullptr},
    {"ps_4_0",
     "#pragma pack_matrix(row_major)\ntypedef float2x2 T;\ncolumn_major T m;\n" PS(
         "return m[0].x;"),
     "contradicts the 'row_major'"},
    // 13 cbuffers, $Globals and $Params are over the 14 slots.
    {"ps_4_0",
     "#define B(n) cbuffer c##n { float4 x##n; }\nB(0) B(1) B(2) B(3) B(4) B(5) B(6) B(7) B(8) "
     "B(9) B(10) B(11) B(12)\nfloat4 g;\nfloat4 main(uniform float4 p) : SV_Target { return g "
     "* p; }",
     "constant buffers there are"},
    // The entry point's prototype, with other semantics, before its definition.
    {"ps_4_0",
     "float4 main(float4 p : bogus) : bogus;\nfloat4 main(float4 p : SV_Position) : SV_Target { "
     "return p; }",
     nullptr},
    // A global const without a value is a uniform.
    {"ps_4_0", "const float4 a;\nuniform const float4 b;\n" PS("return a + b;"), nullptr},
    {"ps_4_0",
     "struct I { nointerpolation centroid float4 t : TEXCOORD0; };\n"
     "float4 main(I i) : SV_Target { return i.t; }",
     "'nointerpolation' does not go with 'centroid'"},
    // An input array of structures reads one element's semantics.
    {"vs_4_0",
     "struct A { float4 p : POSITION; };\n"
     "float4 main(A a[2][2]) : SV_Position { return a[1][0].p + a[0][1].p; }",
     nullptr},
    // One-row and one-column matrices of every majority in buffers and
    // structures, and a copy of a structure holding an array.
    {"ps_4_0",
     "struct S { float a; float3x1 m; float b[2]; };\ncbuffer C { float c; S s; float1x3 n; "
     "row_major float2x1 r; row_major float1x2 q; float1x1 k; }\n" PS(
         "S t = s; t.m[0][0] += 1; return float4(t.m._m00_m10, t.b[1], determinant(r)) + "
         "mul(n, t.m) + n[0].x + r[1][0] + q._m01 + k;"),
     nullptr},
    // Matrices among the inputs and outputs take one semantic per column.
    {"vs_4_0",
     "void main(float4 p : POSITION, float4x3 w : WORLD, out float2x3 t[2] : TEXCOORD0, out "
     "float4 o : SV_Position) { o = float4(mul(p, w), 1); t[0] = w; t[1] = 0; }",
     nullptr},
    {"vs_4_0",
     "struct O { row_major float2x3 t[2] : TEXCOORD0; float4 o : SV_Position; };\n"
     "O main(row_major float4x3 w : WORLD) { O r; r.o = float4(w[0], 1); r.t[0] = r.t[1] = 0; "
     "return r; }",
     nullptr},
};

ShaderStage StageOf(const std::string &profile) {
    if (profile[0] == 'v') return ShaderStage::Vertex;
    if (profile[0] == 'g') return ShaderStage::Geometry;
    return ShaderStage::Pixel;
}

TEST(Forms, CompileOrAreRefusedAsOnWindows) {
    namespace fs            = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / ("hotfx_forms_" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    for (const Form &form : kForms) {
        SCOPED_TRACE(form.source);
        std::ofstream("main.fx", std::ios::binary) << form.source;
        ID3D10Blob *shader = nullptr, *messages = nullptr;
        const HRESULT hr = D3DX11CompileFromFileA("main.fx", nullptr, nullptr, "main", form.profile,
                                                  0, 0, nullptr, &shader, &messages, nullptr);
        const std::string text =
            messages ? static_cast<const char *>(messages->GetBufferPointer()) : "";
        if (form.refusal) {
            EXPECT_NE(hr, 0);
            EXPECT_NE(text.find(form.refusal), std::string::npos) << text;
        } else {
            EXPECT_EQ(hr, 0) << text;
        }
        if (!form.refusal && shader) {
            Translation translation;
            std::string error;
            EXPECT_TRUE(TranslateToGlsl(StageOf(form.profile), shader->GetBufferPointer(),
                                        shader->GetBufferSize(), nullptr, translation, error))
                << error;
        }
        if (shader) shader->Release();
        if (messages) messages->Release();
    }
    fs::current_path(previous);
    fs::remove_all(folder);
}

} // namespace
