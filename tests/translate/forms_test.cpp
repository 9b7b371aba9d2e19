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
    // unsigned before an int type, or a typedef of one; any other type is refused.
    {"ps_4_0", "typedef int2x2 I;\nunsigned int a; unsigned I m;\n" PS("return a + m[0].xyxy;"),
     nullptr},
    {"ps_4_0", "Texture2D<unsigned int2> t;\n" PS("return t.Load(0).x;"), nullptr},
    {"ps_4_0", "unsigned uint2 u;\n" PS("return u.x;"), "'unsigned' cannot be used with type"},
    // Minimum precision: 32-bit values at 4_0, in every place a type goes.
    {"ps_4_0",
     "cbuffer c { min16float4x4 m; min16uint4x2 u; };\nstruct S { min10float3 v; min12int i; };\n"
     "float f(min16int2 p) { return p.y; }\n" PS("S s = (S)0; min16float2x2 k = 1; "
                                                 "return m[1] + u[3].x + s.v.x + f(s.i) + k[0].x;"),
     nullptr},
    {"vs_4_0", "float4 main(min16float4 p : POSITION) : SV_Position { return p; }", nullptr},
    // string in any case in annotations and effect globals; String is a keyword.
    {"ps_4_0",
     "float4 c < String UIName = \"c\"; STRING Widget = \"w\"; >;\n"
     "sTring s = \"x\"; string a[2] = {\"p\", \"q\"};\nstring j = \"u\" \"v\";\n" PS("return c;"),
     nullptr},
    {"ps_4_0", "typedef float4 String;\n" PS("return 0;"), "unexpected token 'String'"},
    {"ps_4_0", "struct S { float a; string b; };\n" PS("return 0;"),
     "a structure member cannot be a string"},
    // Any escape in a string, which only effects read.
    {"ps_4_0", "string s = \"\\sA\\e[41m\\x2A1\\\"\\\\\";\n" PS("return 0;"), nullptr},
    // precise: a modifier before a type, a name anywhere else.
    {"ps_4_0", "float4 precise; precise float4 v;\n" PS("precise float x = 1; return precise + x;"),
     nullptr},
    // A global constant of type half needs the backwards-compatibility flag.
    {"ps_4_0", "uniform half h;\n" PS("return 0;"), "'h': a global constant of type half"},
    // State blocks on variables of any type, globals and locals.
    {"ps_4_0",
     "float f { MaxAnisotropy = 3; };\nfloat2 v { {A = 1;}, {B = 2;} };\n"
     "Texture2D t { Filter = LINEAR; };\n" PS("float a {}; float b { foo = bar; }, c = 1; "
                                              "return f + v.x + c;"),
     nullptr},
    {"ps_4_0", "float f { foo = (sampler)2; };\n" PS("return 0;"), "cannot cast to 'sampler'"},
    {"ps_4_0",
     "float4 g(float a, float b) { return a; }\nsampler s { cat = g(1); };\n" PS("return 0;"),
     "no overload of 'g'"},
    // Outside a state block a shader's arguments are declared names.
    {"ps_4_0",
     "float4 g(uniform float a) : SV_Target { return a; }\n"
     "PixelShader p = CompileShader(ps_4_0, g(foobar));\n" PS("return 0;"),
     "undeclared identifier 'foobar'"},
    // NULL (not null) is an object's value.
    {"ps_4_0",
     "Texture2DMS<float4> t = NULL; Texture u = NULL; PixelShader p = NULL;\n" PS("return 0;"),
     nullptr},
    {"ps_4_0", "Texture t = null;\n" PS("return 0;"), "undeclared identifier 'null'"},
    // A static variable holds numbers or objects, not both.
    {"ps_4_0", "struct S { sampler s; float4 f; };\nstatic S a;\n" PS("return 0;"),
     "'a': a static variable cannot hold both"},
    // A structure inherits its base's members, first, a shadowed one kept.
    {"ps_4_0",
     "struct A { float4 a; float4 b; };\nstruct B : A { float4 c; };\nstruct C : B { float4 b; };\n"
     "C d;\n" PS("C e = d; e.a = 1; return e.a + d.b + d.c;"),
     nullptr},
    // dword, matrix and vector in any case; a local typedef may take a type's name.
    {"ps_4_0",
     PS("DWORD d = 4; Vector v = 1; maTrix m = 2; typedef float2 float; "
        "float f = {1, 2}; return v + m[0] + d + f.x;"),
     nullptr},
    // The texture types' lowercase spellings as templates.
    {"ps_4_0",
     "texture2D<float> t; texture3D<float4> c;\n" PS(
         "return t.Load(0) + c.Load(int4(0, 0, 0, 0));"),
     nullptr},
    // A static among a cbuffer's members is no member; it may read those before
    // it, or size an array after it.
    {"ps_4_0",
     "cbuffer C { static const int N = 2; float4 k[N]; static float s = k[1].y, t[2] = {1, 2};\n"
     "float4 j; };\n" PS("return j * s + t[1];"),
     nullptr},
    // A global initialised by a componentwise cast of a uniform.
    {"ps_4_0", "float4 d[2];\nstatic float e[8] = (float[8])d, g = 1;\n" PS("return e[5] + g;"),
     nullptr},
    // A typedef takes an effect type's other spellings.
    {"ps_4_0", "typedef float4 texturE;\ntexturE v;\n" PS("return v;"), nullptr},
    // An effect shader in an initialiser list leaves the element unwritten.
    {"ps_4_0",
     "float4 g() : SV_Target { return 0; }\nfloat2 p = {5, CompileShader(ps_2_0, g())};\n"
     "float4 q = {1, compile ps_2_0 g(), 3, 4};\n" PS("return p.xyxy + q;"),
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
