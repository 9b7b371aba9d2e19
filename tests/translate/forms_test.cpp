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
    // Operands of different shapes take the smaller one (shape.shader_test).
    {"ps_4_0", PS("float1 x = 1; float2 y = 2; return float4(x + y, 0, 0);"), nullptr},
    {"ps_4_0", PS("float1x4 x = 1; float4x4 y = 2; return x * y;"), nullptr},
    {"ps_4_0", PS("float4x1 x = 1; float4x4 y = 2; return (y - x) / x;"), nullptr},
    {"ps_4_0", PS("float2x3 a = 1; float3x2 b = 2; return float4(max(a, b));"), nullptr},
    {"ps_4_0", PS("float2x3 a = 1; float3x4 b = 2; return float4(lerp(a, b, b));"), nullptr},
    {"ps_4_0", PS("float1 a = 2; float4 b = 3; return pow(b, a) + clamp(b, a, 4);"), nullptr},
    {"ps_4_0", "float1 f(float1 q) { return q; }\n" PS("float4 v = 1; v += f(2) * 3; return v;"),
     nullptr},
    {"ps_4_0", "Texture2D t;\nSamplerState s;\n" PS("float1 x = 2; return x * t.Sample(s, 0);"),
     nullptr},
    // An index is a scalar; a vector's component is written to at a known one.
    {"ps_4_0", PS("float4 v = 1; int1 i = 2; return v[i];"), "index must be a scalar"},
    {"ps_4_0", "int i;\n" PS("float4 v = 1; v[i] = 2; return v;"), "not natively addressable"},
    {"ps_4_0", "int i;\n" PS("float4 v[2] = {1, 2, 3, 4, 5, 6, 7, 8}; v[i] = 2; return v[0];"),
     nullptr},
    {"ps_4_0", PS("float4 v = 1; for (int i = 0; i < 4; ++i) v[i] = i; return v;"), nullptr},
    // Constructors and casts read arrays and structs component by component.
    {"ps_4_0", PS("float f[4] = {1, 2, 3, 4}; return float4(f);"), nullptr},
    {"ps_4_0", "struct S { float a; float2 b; };\n" PS("S s = {1, 2, 3}; return float4(s, 4);"),
     nullptr},
    {"ps_4_0", PS("int2 a[2] = {1, 2, 3, 4}; return float4(a[1], a[0]);"), nullptr},
    {"ps_4_0", PS("float2x2 m = 1; return (float3)m;"), "cannot convert from"},
    {"ps_4_0", PS("float a[5] = {1, 2, 3, 4, 5}; return ((float4x1)a)[0];"), "cannot convert from"},
    {"ps_4_0", PS("float3x4 m = 1; return ((float3x3)m)[0].xyzz + (float)m;"), nullptr},
    // mul() sums over the smaller inner dimension: an outer product here.
    {"ps_4_0", PS("float4x1 a = 1; float1x4 b = 2; return mul(a, b)[1];"), nullptr},
    {"ps_4_0", PS("float4x4 a = 1; float1x3 b = 2; return mul(a, b)[1].xyzz;"), nullptr},
    {"ps_4_0", PS("float2x1 a = 1; float3x3 b = 2; return mul(a, b)[1].xyzz;"), nullptr},
    {"ps_4_0", PS("float2x1 m = 3; float1x1 k = 2; return determinant(m) + determinant(k);"),
     nullptr},
    {"ps_4_0", "float2x1 m;\n" PS("return determinant(m);"), nullptr},
    {"ps_4_0", "cbuffer c { float1x1 m; float f; };\n" PS("return determinant(m) + f;"), nullptr},
    {"ps_4_0", PS("[branch] [flatten] if (1) return 1; return 0;"),
     "can't use branch and flatten attributes together"},
    {"ps_4_0", PS("float4 c = 0; [unroll] [loop] for (int i = 0; i < 2; ++i) c += i; return c;"),
     "can't use loop and unroll attributes together"},
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
