// The HLSL forms real-world files use, one short source per row, each
// compiled through D3DX11CompileFromFileA at a 4_0 profile and translated with
// TranslateToGlsl: a row either compiles and translates, as on Windows, or is
// refused with the message the row names, as Windows refuses it.
// docs/hlsl-forms.md audits the language form by form at the same profiles.
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
    // One row per class of form the 4_0 profiles refuse. Shader model 4.1:
    // gather4, lod, cube arrays, sampleinfo and sample-frequency inputs are
    // D3D10.1 instructions (Direct3D 11.3 functional reference, 22.4, 22.5).
    {"ps_4_0", "Texture2D t;\nSamplerState s;\n" PS("return t.Gather(s, float2(0, 0));"),
     "Gather needs shader model 4.1"},
    {"ps_4_0", "Texture2D t;\nSamplerState s;\n" PS("return t.CalculateLevelOfDetail(s, 0.5);"),
     "CalculateLevelOfDetail needs shader model 4.1"},
    {"ps_4_0",
     "TextureCubeArray t;\nSamplerState s;\n" PS("return t.Sample(s, float4(0, 0, 1, 0));"),
     "TextureCubeArray 't' needs shader model 4.1"},
    {"ps_4_0", PS("return GetRenderTargetSampleCount();"),
     "GetRenderTargetSampleCount needs shader model 4.1"},
    {"ps_4_0", "float4 main(sample float4 c : C) : SV_Target { return c; }",
     "'sample' interpolation modifier needs shader model 4.1"},
    // Shader model 5.0: per-channel gathers, coarse and fine derivatives,
    // early depth, tiled-resource status, UAVs outside the pixel stage.
    {"ps_4_0", "Texture2D t;\nSamplerState s;\n" PS("return t.GatherRed(s, float2(0, 0));"),
     "Gather forms needs shader model 5.0"},
    {"ps_4_0", "float4 main(float4 p : SV_Position) : SV_Target { return ddx_coarse(p); }",
     "ddx_coarse needs shader model 5.0"},
    {"ps_4_0", "[earlydepthstencil]\n" PS("return 0;"),
     "[earlydepthstencil] needs shader model 5.0"},
    {"ps_4_0", PS("return CheckAccessFullyMapped(0);"),
     "CheckAccessFullyMapped needs shader model 5.0"},
    {"vs_4_0", "RWBuffer<float4> u;\nfloat4 main() : SV_Position { return u[0]; }",
     "(a UAV) needs shader model 5.0"},
    // Barriers belong to compute shaders, which 4_0 has none of here.
    {"ps_4_0", PS("GroupMemoryBarrierWithGroupSync(); return 0;"), "only for compute shaders"},
    // Texel offsets are immediates in the sample instructions.
    {"ps_4_0",
     "Texture2D t;\nSamplerState s;\n" PS("int2 o = int2(t.Load(0).xy); return t.Sample(s, 0, o);"),
     "texture access requires a literal offset"},
    // The Windows compiler refuses recursive calls.
    {"ps_4_0", "float f(float x) { return x > 0 ? f(x - 1) : 0; }\n" PS("return f(1);"),
     "Recursion detected"},
    // Implicit derivatives, discard and clip are pixel-stage instructions,
    // judged on what the entry point reaches.
    {"vs_4_0",
     "Texture2D t;\nSamplerState s;\nfloat4 main(float4 p : POSITION) : SV_Position { return "
     "t.Sample(s, p.xy); }",
     "only for pixel shaders"},
    {"gs_4_0",
     "struct V { float4 p : SV_Position; };\n[maxvertexcount(1)] void main(point V i[1], inout "
     "PointStream<V> o) { V v = i[0]; v.p.x += ddx(v.p.x); o.Append(v); }",
     "'ddx' is only for pixel shaders"},
    {"vs_4_0", "float4 main(float4 p : POSITION) : SV_Position { clip(p.x); return p; }",
     "only for pixel shaders"},
    {"vs_4_0",
     "Texture2D t;\nSamplerState s;\nfloat4 f(float2 uv) { return t.Sample(s, uv) + ddx(uv.x); "
     "}\nfloat4 main(float4 p : POSITION) : SV_Position { return p; }",
     nullptr},
    {"ps_4_0", "Texture2D t;\nSamplerState s;\n" PS("return t.Sample(s, 0, int2(8, 0));"),
     "outside -8..7"},
    {"ps_4_0", "extern static float4 g;\n" PS("return g;"), "'extern' and 'static'"},
    {"ps_4_0", PS("float4 r = 0; [unroll] [loop] for (int i = 0; i < 4; i++) r.x += i; return r;"),
     "contradict"},
    {"ps_4_0", "struct S { float4 a; };\nConstantBuffer<S> c;\n" PS("return c.a;"),
     "needs shader model 5.1"},
    {"ps_4_0", "cbuffer C : register(b0, space1) { float4 a; };\n" PS("return a;"),
     "register spaces need shader model 5.1"},
    {"ps_4_0", "Texture var = null;\n" PS("return 0;"), "'null'"},
    {"ps_4_0",
     "struct V { float4 p : SV_Position; };\nfloat4 main(InputPatch<V, 3> ip) : SV_Target { "
     "return ip[0].p; }",
     "InputPatch"},
    {"ps_4_0", PS("return noise(float2(0, 0));"), "noise"},
    {"ps_4_0", PS("float3 a, c; float b; ProcessTriTessFactorsAvg(1, 1, a, b, c); return b;"),
     "only for hull shaders"},
    {"ps_4_0", PS("abort(); return 0;"), "abort"},
    // Forms the Windows compiler takes that glslang reads otherwise.
    {"ps_4_0", PS("float4 r = 0; for (int i = 0; i < 4; i++) r.x += i; r.y = i; return r;"),
     nullptr},
    {"ps_4_0", "namespace N { float f() { return 1; } }\n" PS("return N::f();"), nullptr},
    {"ps_4_0", "float f(uniform float x) { return x; }\n" PS("return f(1);"), nullptr},
    {"ps_4_0", PS("if (true) printf(\"x %d\", 1); else errorf(\"y\"); return 0;"), nullptr},
    {"ps_4_0",
     "Texture2D t;\nSamplerState s[2];\nfloat4 main(float4 p : SV_Position) : SV_Target { return "
     "t.Sample(s[1], p.xy); }",
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
