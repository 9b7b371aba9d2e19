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
    // Texture objects: sample counts that are expressions or absent, the
    // Direct3D 9 spellings, the mips and sample operators of every type.
    {"ps_4_0",
     "static const int n = 2;\nTexture2DMS<float4, n - 1> t;\n" PS("return t.Load(0, 0);"),
     nullptr},
    {"ps_4_0", "Texture2DMS<float4> t;\n" PS("Texture2DMS<float4, 4> s = t; return s.Load(0, 0);"),
     nullptr},
    {"ps_4_0",
     "texture2D<float> a;\ntexture3D b;\ntextureCUBE c;\nSamplerState s;\n" PS(
         "return a.Load(0) + b.Load(0) + c.Sample(s, 0);"),
     nullptr},
    {"ps_4_0", "Texture2DMS<float4, 4> t;\n" PS("return t.sample[1][int2(0, 0)];"), nullptr},
    {"ps_4_0", "Texture2DMSArray<float4, 4> t;\n" PS("return t.sample[3][int3(0, 0, 1)];"),
     nullptr},
    {"ps_4_0", "Texture1D t;\n" PS("return t.mips[1][0];"), nullptr},
    {"ps_4_0", "Texture1DArray t;\n" PS("return t.mips[1][uint2(0, 1)];"), nullptr},
    {"ps_4_0", "Texture2D t[2];\n" PS("return t[1].mips[1][uint2(0, 1)];"), nullptr},
    {"ps_4_0", "Texture2DArray t;\n" PS("return t.mips[1][uint3(0, 1, 0)];"), nullptr},
    {"ps_4_0",
     "Texture3D t;\nfloat4 f(Texture3D p) { return p.mips[0][uint3(0, 1, 0)]; }\n" PS(
         "return f(t);"),
     nullptr},
    // A file's other functions do not stop an entry point that never calls them.
    {"ps_4_0", "Texture2D t;\nfloat4 g() { return t.mips[1][uint2(0, 0)]; }\n" PS("return 0;"),
     nullptr},
    {"ps_4_0",
     "sampler3D s;\nfloat4 g() { return tex3Dlod(s, 0) + tex3Dbias(s, 0); }\n" PS("return 0;"),
     nullptr},
    // Texture offsets the Windows compiler knows at compile time: known
    // components of a vector, and static consts read in an unrolled loop.
    {"ps_4_0",
     "Texture2D t;\nint i;\n" PS("int4 a = {1, 2, i, i}; return t.Load(int3(0, 0, 0), a.yx);"),
     nullptr},
    {"ps_4_0",
     "Texture2D t;\nSamplerState s;\nstatic const int2 o[2] = {int2(1, 0), int2(0, 1)};\n"
     "static const int n = 4 / 2;\n" PS(
         "float4 r = 0; for (int k = 0; k < n; ++k) r += t.Sample(s, 0, o[k].yx); return r;"),
     nullptr},
    {"ps_4_0",
     "Texture2D t;\nSamplerState s;\nint n;\n" PS(
         "float4 r = 0; for (int k = 0; k < n; ++k) r += t.Sample(s, 0, int2(k, 0)); return r;"),
     "literal offset"},
    // Arrays of objects are indexed by what is known once loops are unrolled.
    {"ps_4_0",
     "Texture2D t[3];\nSamplerState s;\n" PS(
         "float4 r = 0; for (int k = 0; k < 3; ++k) r += t[k].Sample(s, 0); return r;"),
     nullptr},
    {"ps_4_0",
     "Texture2D t[3];\nSamplerState s[2] : register(s1);\n" PS(
         "float4 r = 0; for (int k = 0; k < 3; ++k) r += t[k].Sample(s[k % 2], 0); return r;"),
     nullptr},
    {"vs_4_0",
     "Texture2D t;\nSamplerState s[2];\n"
     "float4 main() : SV_Position { return t.SampleLevel(s[1], 0, 0); }",
     nullptr},
    {"ps_4_0", "Texture2D t[3];\nint n;\n" PS("return t[n].Load(0);"), "shader model 5.1"},
    {"ps_4_0", "SamplerState s[3];\nTexture2D t;\nint n;\n" PS("return t.Sample(s[n], 0);"),
     "shader model 5.1"},
    {"ps_4_0",
     "Texture2D t[3];\nstruct S { Texture2D t; };\nint n;\n" PS(
         "S s[3]; s[0].t = t[0]; s[1].t = t[1]; s[2].t = t[2]; return s[n].t.Load(0);"),
     "shader model 5.1"},
    // An object declared as NULL is unbound.
    {"ps_4_0",
     "Texture2DMS<float4> t = NULL;\nBuffer<uint> b = NULL, c;\nSamplerState s = NULL;\n" PS(
         "return t.Load(int2(0, 0), 0) + b.Load(0) + c.Load(1);"),
     nullptr},
    // A local object is read only once something is assigned to it.
    {"ps_4_0", "SamplerState s;\n" PS("Texture2D t; t = t; return t.Sample(s, 0);"),
     "before anything is assigned"},
    {"ps_4_0", "Texture2D a;\nSamplerState s;\n" PS("Texture2D t; t = a; return t.Sample(s, 0);"),
     nullptr},
    {"ps_4_0", "static Texture2D t;\nSamplerState s;\n" PS("return t.Sample(s, 0);"),
     "before anything is assigned"},
    {"ps_4_0",
     "static Texture2D t;\nSamplerState s;\n" PS("if (0) return t.Sample(s, 0); return 1;"),
     nullptr},
    // An entry point's out and inout parameters hold no object.
    {"ps_4_0", "float4 main(out Texture2D t : TEXTURE) : SV_Target { return 0; }",
     "cannot hold a texture"},
    {"ps_4_0", "struct P { SamplerState s; };\nfloat4 main(inout P p) : SV_Target { return 0; }",
     "cannot hold a texture"},
    // GetDimensions with outputs of mixed types, for every object kind.
    {"ps_4_0", "Texture2D t;\n" PS("uint w; float h; t.GetDimensions(w, h); return w + h;"),
     nullptr},
    {"ps_4_0",
     "TextureCube t;\n" PS("float w; uint h, n; t.GetDimensions(0, w, h, n); return w + h + n;"),
     nullptr},
    {"ps_4_0",
     "Texture2DMSArray<float4> t;\n" PS(
         "uint w, e; float h, s; t.GetDimensions(w, h, e, s); return w + h + e + s;"),
     nullptr},
    {"ps_4_0", "Buffer<float4> b;\n" PS("float n; if (true) b.GetDimensions(n); return n;"),
     nullptr},
    // Buffer.Load reads a vector location's first component.
    {"ps_4_0", "Buffer b;\n" PS("return b.Load(float2(2, 9999));"), nullptr},
    {"vs_4_0", "Buffer<uint4> b;\nfloat4 main() : SV_Position { return b.Load(uint3(1, 2, 3)); }",
     nullptr},
    // A local struct holding an array of objects, initialised from a flat list.
    {"ps_4_0",
     "Texture2D a, b;\nstruct S { float2 f; Texture2D t[2]; float4 g; };\n" PS(
         "S q = {1, 2, a, b, 3, 4, 5, 6}; return q.t[1].Load(0) + q.g;"),
     nullptr},
    // operator[] takes as many components as the texture has coordinates.
    {"ps_4_0", "Texture2D t;\n" PS("return t[uint3(0, 0, 0)];"), "3 components"},
    {"ps_4_0", "Texture1D t;\n" PS("return t[uint2(0, 0)];"), "2 components"},
    {"ps_4_0",
     "Texture2DArray a;\nTexture2DMS<float4> m;\nBuffer b;\n" PS(
         "return a[uint3(0, 0, 0)] + m[uint2(0, 0)] + b[1];"),
     nullptr},
    // A literal offset is a texel count from -8 to 7.
    {"ps_4_0", "Texture2D t;\n" PS("return t.Load(int3(0, 0, 0), int2(8, 1));"), "-8 to 7"},
    {"ps_4_0", "Texture2D t;\nSamplerState s;\n" PS("return t.Sample(s, 0, int2(0, -9));"),
     "-8 to 7"},
    {"ps_4_0", "Texture2D t;\n" PS("return t.Load(int3(0, 0, 0), int2(-8, 7));"), nullptr},
    // The Direct3D 9 sampling functions need the backwards-compatibility option.
    {"ps_4_0", "sampler2D s;\n" PS("return tex2D(s, float2(0, 0));"), "backwards-compatibility"},
    {"ps_4_0", "sampler1D s;\n" PS("return tex1D(s, 0);"), "backwards-compatibility"},
    {"ps_4_0", "samplerCUBE s;\n" PS("return texCUBE(s, float3(0, 0, 1));"),
     "backwards-compatibility"},
    {"ps_4_0", "sampler s;\n" PS("return tex2Dproj(s, float4(0, 0, 0, 1));"),
     "backwards-compatibility"},
    {"ps_4_0",
     "sampler2D s;\n" PS("return tex2Dgrad(s, float2(0, 0), float2(0, 0), float2(0, 0));"),
     "backwards-compatibility"},
    {"vs_4_0",
     "sampler2D s;\nfloat4 main() : SV_Position { return tex2Dlod(s, float4(0, 0, 0, 0)); }",
     "backwards-compatibility"},
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
