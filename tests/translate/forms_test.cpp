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
    // Matrix swizzles of elements in more than one row, read, and written
    // through a compound assignment, on any type, shape and majority.
    {"ps_4_0", "float3x2 m;\n" PS("return m._21_31_11_12;"), nullptr},
    {"ps_4_0", "row_major int4x3 m;\n" PS("int2 p = m._m00_m32; return float4(p, m._m10_m21);"),
     nullptr},
    {"ps_4_0", "float4x4 m;\n" PS("float4x4 n = m; n._m00_m11_m22 *= 2; return n._11_22_33_44;"),
     nullptr},
    {"vs_4_0",
     "uint2x3 m;\nfloat4 main() : SV_Position { uint2x3 n = m; n._m00_m12 += 1; "
     "return n._m01_m02_m10_m11; }",
     nullptr},
    {"ps_4_0", "float2x2 m;\n" PS("return m._11_m00.xyxy;"), "invalid subscript '_11_m00'"},
    // A matrix among a constructor's arguments gives its elements row by row;
    // whole int matrices take arithmetic and comparisons.
    {"ps_4_0",
     "float2x2 a;\n" PS("float4x2 m = float4x2(1, 2, a, 5, 6); return m[1].xyxy + m[3].x;"),
     nullptr},
    {"ps_4_0", "int3x3 a;\n" PS("int3x3 b = a + a - 1; b /= 2; b &= 6; return b[1].xyzz;"),
     nullptr},
    {"ps_4_0", "uint3x2 a;\n" PS("uint3x2 b = a | 1; b %= 3; b++; b = ~b; return b[2].xyxy;"),
     nullptr},
    {"ps_4_0", "float4 c;\n" PS("bool2x2 b = {c.x > 0, c.y, c.zw > 0}; return float4(b[0], b[1]);"),
     nullptr},
    {"ps_4_0",
     "uint3x2 a; float3x2 f;\n" PS(
         "bool3x2 b = a > 2; bool3x2 e = f == a; return float4(b[2], e[0]);"),
     nullptr},
    // a * b of matrices multiplies their elements, mul(a, b) is the product.
    {"ps_4_0",
     "float2x2 a; int3x3 b;\n" PS(
         "float2x2 m = a * a; m *= mul(a, a); int3x3 n = b * b; return float4(m[0], n[2].xy);"),
     nullptr},
    // A Direct3D 9 sampler whose state names its texture, read with tex2D.
    {"ps_4_0",
     "Texture2D t;\nsampler2D s = sampler_state { Texture = <t>; };\n" PS(
         "return tex2D(s, float2(0.5, 0.5));"),
     nullptr},
    // An attribute without its arguments, and the entry point's prototype.
    {"ps_4_0", "[numthreads]\nfloat4 main() : SV_Target { return 0; }", nullptr},
    {"ps_4_0", "float4 main();\nfloat4 main() : SV_Target { return 0; }", nullptr},
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
