// Effect files and includes through D3DX11CompileFromFileA: each entry point
// of a file written for the effect framework compiles for its vs/gs/ps
// profile as on Windows, and translates to GLSL where it reads no texture.
// The .fx files are in effects/; the smaller sources below are written next
// to them in a scratch copy.
#include "platform/gl/glsl/translate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Case {
    const char *file, *entry, *profile;
    // "": compiles and translates; "reads a texture": compiles (textures do
    // not translate yet); anything else: a pattern the compile error matches.
    const char *expect;
};

constexpr const char *kTexture = "reads a texture";

const Case kCases[] = {
    {"tutorial.fx", "VS", "vs_4_0", ""},
    {"tutorial.fx", "PS", "ps_4_0", kTexture},
    {"tutorial.fx", "PSSolid", "ps_4_0", kTexture},
    {"shadow.fx", "VS_Depth", "vs_4_0", ""},
    {"shadow.fx", "VS_Scene", "vs_4_0", ""},
    {"shadow.fx", "PS_Scene", "ps_4_0", kTexture},
    {"particles.fx", "VSPassThroughmain", "vs_4_0", ""},
    {"particles.fx", "GSAdvance", "gs_4_0", ""},
    {"particles.fx", "VSScenemain", "vs_4_0", ""},
    {"particles.fx", "GSScenemain", "gs_4_0", ""},
    {"particles.fx", "PSScenemain", "ps_4_0", kTexture},
    {"particles.fx", "PSSolid", "ps_4_0", ""},
    {"post.fx", "ScreenQuadVS", "vs_4_0", ""},
    {"post.fx", "GlowPS", "ps_4_0", kTexture},
    {"post.fx", "TintPS", "ps_4_0", kTexture},
    {"main.fx", "vs_main", "vs_4_0", ""},
    {"main.fx", "gs_main", "gs_4_0", ""},
    {"main.fx", "ps_main", "ps_4_0", ""},
    {"main.fx", "ps_textured", "ps_4_0", kTexture},
    // The overload defined last is the entry point; the other one, which
    // reads what no stage writes, is an ordinary function it calls.
    {"overload.fx", "ps_main", "ps_4_0", ""},
    {"lines.fx", "ps_main", "ps_4_0", R"(lines\.fx[:(]13\b.*undeclared)"},
    {"nested.fx", "ps_main", "ps_4_0", R"(lib/deeper/inner\.fxh[:(]2\b.*undeclared)"},
    {"missing.fx", "ps_main", "ps_4_0", R"(missing\.fx[:(]3\b.*'lib/nowhere\.fxh')"},
    {"loop.fx", "ps_main", "ps_4_0", R"(loop\.fxh[:(]1\b.*nest deeper)"},
    // A form glslang crashes on, refused before it, inside a header.
    {"guard.fx", "ps_main", "ps_4_0", R"(lib/square\.fxh[:(]2\b.*'\[')"},
    // A header beside its includer: the column is the name's in its text.
    {"lib/bits.fx", "ps_main", "ps_4_0", R"(lib/bits\.fxh\(3,14\): error: reversebits needs)"},
    // Annotations holding shifts and a comparison: each technique is blanked
    // up to the '>' that closes its annotation.
    {"annotation.fx", "ps_main", "ps_4_0", ""},
    // Clip distances in a geometry stage's input and output.
    {"clip.fx", "gs_main", "gs_4_0", ""},
    {"clip.fx", "gs_out", "gs_4_0", ""},
    // What the text passes find in a file is each entry point's, compiled
    // one after another: the refusal, and the rewritten lit() and matrix.
    {"states.fx", "vs_main", "vs_4_0", R"(states\.fx\(3,5\): error: 'Bogus' is not a state)"},
    {"states.fx", "ps_main", "ps_4_0", R"(states\.fx\(3,5\): error: 'Bogus' is not a state)"},
    {"lit.fx", "vs_main", "vs_4_0", ""},
    {"lit.fx", "ps_main", "ps_4_0", ""},
};

const std::pair<const char *, const char *> kSources[] = {
    {"overload.fx", "float4 ps_main(float4 c : UNWRITTEN) : SV_Target { return c; }\n"
                    "float4 ps_main(float4 p : SV_Position) : SV_Target\n"
                    "{ return ps_main(p / 1024); }\n"},
    // Line 13 is the first one that glslang sees as it was written.
    {"lines.fx", "#include \"common/math.fxh\"\n"
                 "technique11 T\n{\n"
                 "    pass P0 < string s = \"a; {\"; >\n"
                 "    {\n        SetPixelShader(CompileShader(ps_4_0, ps_main()));\n    }\n}\n"
                 "BlendState B\n{\n    BlendEnable[0] = TRUE;\n};\n"
                 "float4 ps_main() : SV_Target { return undeclared; }\n"},
    {"nested.fx", "#include \"lib\\outer.fxh\"\nfloat4 ps_main() : SV_Target { return f(); }\n"},
    {"lib/outer.fxh", "#include \"deeper/inner.fxh\"\n"},
    {"lib/deeper/inner.fxh", "float4 f()\n{ return undeclared; }\n"},
    {"missing.fx", "// A header the file names but nobody wrote.\n\n#include <lib/nowhere.fxh>\n"},
    {"loop.fx", "#include \"loop.fxh\"\n"},
    {"guard.fx", "#include \"lib/square.fxh\"\n"},
    {"lib/square.fxh", "float4 ps_main() : SV_Target\n{ float a[2;\n return 0; }\n"},
    {"annotation.fx", "float4 ps_main() : SV_Target { return 1; }\n"
                      "technique11 T < int a = 1 << 2; >\n"
                      "{ pass P { SetPixelShader(CompileShader(ps_4_0, ps_main())); } }\n"
                      "technique11 U < int b = 8 >> 1; bool c = 1 < 2; > { }\n"},
    {"clip.fx", "struct V { float4 pos : SV_Position; float clip : SV_ClipDistance0; };\n"
                "[maxvertexcount(1)]\n"
                "void gs_main(point V v[1], inout PointStream<V> s) { s.Append(v[0]); }\n"
                "[maxvertexcount(1)]\n"
                "void gs_out(point float4 p[1] : SV_Position, inout PointStream<V> s)\n"
                "{ V o; o.pos = p[0]; o.clip = p[0].x; s.Append(o); }\n"},
    {"states.fx", "BlendState B\n{\n    Bogus(1);\n};\n"
                  "float4 vs_main() : SV_Position { return 0; }\n"
                  "float4 ps_main() : SV_Target { return 1; }\n"},
    {"lit.fx",
     "float4 f(float3 n) { float1x4 m = float1x4(n, 1); return lit(n.x, n.y, 2) * m[0]; }\n"
     "float4 vs_main(float3 n : N) : SV_Position { return f(n); }\n"
     "float4 ps_main(float4 n : SV_Position) : SV_Target { return f(n.xyz); }\n"},
    {"loop.fxh", "#include \"loop.fxh\"\n"},
    {"lib/bits.fx",
     "#include \"bits.fxh\"\nfloat4 ps_main(uint i : I) : SV_Target { return f(i); }\n"},
    {"lib/bits.fxh", "float f(uint i)\n{\n    return   reversebits(i);\n}\n"},
};

ShaderStage StageOf(const char *profile) {
    return profile[0] == 'v'   ? ShaderStage::Vertex
           : profile[0] == 'g' ? ShaderStage::Geometry
                               : ShaderStage::Pixel;
}

TEST(EffectFiles, EntryPointsCompileAsOnWindows) {
    const fs::path previous = fs::current_path();
    const fs::path scratch =
        fs::temp_directory_path() / ("hotfx_effects_" + std::to_string(getpid()));
    fs::remove_all(scratch);
    fs::copy(HOTFX_EFFECTS_DIR, scratch, fs::copy_options::recursive);
    for (const auto &[name, text] : kSources) {
        fs::create_directories((scratch / name).parent_path());
        std::ofstream(scratch / name, std::ios::binary) << text;
    }
    fs::current_path(scratch);

    StageOutputs vertexOutputs, pixelInputs;
    for (const Case &c : kCases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.entry);
        ID3D10Blob *shader = nullptr, *messages = nullptr;
        const HRESULT hr = D3DX11CompileFromFileA(c.file, nullptr, nullptr, c.entry, c.profile,
                                                  0x800, 0, nullptr, &shader, &messages, nullptr);
        const std::string text =
            messages ? static_cast<const char *>(messages->GetBufferPointer()) : "";
        if (messages) messages->Release();
        if (*c.expect && c.expect != kTexture) {
            EXPECT_LT(hr, 0);
            EXPECT_EQ(shader, nullptr);
            EXPECT_TRUE(std::regex_search(text, std::regex(c.expect))) << text;
        } else {
            EXPECT_EQ(hr, 0) << text;
        }
        // In pipeline order: a geometry stage links to the vertex stage
        // translated last, a pixel stage to the vertex or geometry stage.
        Translation result;
        std::string error;
        const ShaderStage stage = StageOf(c.profile);
        if (shader && !*c.expect) {
            EXPECT_TRUE(TranslateToGlsl(
                stage, shader->GetBufferPointer(), shader->GetBufferSize(),
                stage == ShaderStage::Geometry ? &vertexOutputs : &pixelInputs, result, error))
                << error;
            if (stage == ShaderStage::Vertex) vertexOutputs = result.outputs;
            if (stage != ShaderStage::Pixel) pixelInputs = result.outputs;
        }
        if (shader) shader->Release();
    }
    fs::current_path(previous);
    fs::remove_all(scratch);
}

} // namespace
