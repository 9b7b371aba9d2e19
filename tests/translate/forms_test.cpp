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
    // Overloads, as Windows picks them; an unused double overload compiles.
    {"ps_4_0",
     "float f(int a) { return 1; }\nfloat f(uint a) { return 2; }\n" PS("return f(int2(1, 2));"),
     nullptr},
    {"ps_4_0",
     "float f(float2 a) { return 1; }\nfloat f(double a) { return 2; }\n" PS("return f(1.0);"),
     nullptr},
    {"ps_4_0",
     "float f(float4 a) { return 1; }\nfloat f(half4 a) { return 2; }\n" PS(
         "return f((half4)1) + f(float4(1, 2, 3, 4));"),
     nullptr},
    {"ps_4_0",
     "float f(float a) { return 1; }\nfloat f(float1 a) { return 2; }\n" PS("return f(1.0);"),
     "ambiguous function call"},
    {"ps_4_0", "float f(int a) { return 1; }\nfloat f(uint a) { return 2; }\n" PS("return f(3);"),
     "ambiguous function call"},
    {"ps_4_0",
     "float3 max(float3 a, float3 b, float3 c) { return max(max(a, b), c); }\n" PS(
         "return float4(max(1, 2, 3), max(1, 2));"),
     nullptr},
    // Statics: one initialised by a call; an object never given a resource.
    {"ps_4_0", "float g() { return 0.6; }\nstatic float a = g() + 0.2;\n" PS("return a;"), nullptr},
    {"ps_4_0", "static Texture2D t;\nSamplerState s;\n" PS("return t.Sample(s, 0.5);"),
     "never given a resource"},
    // Array sizes from constants of any type.
    {"ps_4_0",
     "static const float2 k = float2(2.5, 1);\nstatic const int n[2] = {1, 3};\nfloat4 c[k.x + "
     "n[1]];\n" PS("return c[4];"),
     nullptr},
    {"ps_4_0", PS("float a[4.1] = {1, 2, 3, 4}; float b[true] = {a[3]}; return b[0];"), nullptr},
    {"ps_4_0", PS("float4 r = 0; [unroll] for (int i = 0; i < 1024; ++i) r += i; return r;"),
     "unable to unroll loop"},
    // Arguments: a cast variable to an out parameter, a conversion both ways
    // to an inout one, an array to one of another shape; export.
    {"ps_4_0", "void set(out float x) { x = 3; }\n" PS("int i; set((float)i); return i;"), nullptr},
    {"ps_4_0", "void add(inout float2 x) { x += 3; }\n" PS("int2 i = 1; add(i); return i.xyxy;"),
     nullptr},
    {"ps_4_0",
     "float f(float a[2][3]) { return a[1][2]; }\n" PS(
         "float b[6] = {1, 2, 3, 4, 5, 6}; return f(b);"),
     nullptr},
    {"ps_4_0", "export float twice(float x) { return 2 * x; }\n" PS("return twice(2);"), nullptr},
    {"ps_4_0", "void set(out float x) { x = 3; }\n" PS("const float c = 1; set(c); return c;"),
     "must be a variable that is not const"},
    {"ps_4_0", "void add(inout float x) { x += 3; }\n" PS("add(0.2); return 0;"),
     "must be a variable"},
    {"ps_4_0", "float f(float x);\nint f(float x) { return 1; }\n" PS("return f(2);"),
     "different return type"},
    {"ps_4_0", "void add(inout float2 x) { x += 3; }\n" PS("float2 v = 0; add(v.yy); return 0;"),
     "must be a variable"},
    {"ps_4_0",
     "float4 f;\nvoid set(out float4 o) { o = f; }\n" PS("float4 x; set((int4)x); return x;"),
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
