// What the 4_0 profiles refuse, one small source per rule, compiled as the
// scene load compiles the stage that the step number names; and sources that
// must still compile. Every refusal's text is in the Windows compiler's shape.
#include "platform/gl/glsl/translate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

struct Case {
    int step;            // 112 vertex, 113 geometry, 114 pixel
    const char *source;  // holds that stage's entry point
    const char *message; // part of the error text; null when it must compile
};

// A geometry stage's usual frame around a body.
#define GS(attributes, body)                                                                       \
    "struct V { float4 p : SV_Position; };\n" attributes                                           \
    "\nvoid gs_main(point V i[1], inout PointStream<V> s) {\n" body "\n}\n"

const Case kCases[] = {
    // Resources, types and intrinsics of later models.
    {114,
     "RWTexture2D<float4> rw : register(u1);\n"
     "float4 ps_main() : SV_Target { rw[uint2(0, 0)] = 1; return 0; }",
     "main.fx(2,32): error: read-write resource 'rw' (a UAV) needs shader model 5.0; the profile "
     "is ps_4_0"},
    {112, "RWStructuredBuffer<float> b;\nfloat4 vs_main() : SV_Position { b[0] = 1; return 0; }",
     "read-write buffer 'b' (a UAV) needs shader model 5.0"},
    {114,
     "AppendStructuredBuffer<float> a;\n"
     "float4 ps_main() : SV_Target { a.Append(1); return 0; }",
     "read-write buffer 'a' (a UAV)"},
    {112, "float4 vs_main(uint i : SV_VertexID) : SV_Position { return reversebits(i); }",
     "reversebits needs"},
    {112, "float4 vs_main(uint i : SV_VertexID) : SV_Position { double d = i; return d; }",
     "double needs shader model 5.0"},
    {112, "class C { float x; };\nfloat4 vs_main() : SV_Position { C c; c.x = 1; return c.x; }",
     "class 'C' needs shader model 5.0"},
    {112, "interface I { float f(); };\nfloat4 vs_main() : SV_Position { return 0; }",
     "main.fx(1,1): error: interface 'I' needs shader model 5.0"},
    {114, "float4 ps_main(float2 t : T) : SV_Target { return EvaluateAttributeAtCentroid(t).x; }",
     "EvaluateAttributeAtCentroid needs shader model 5.0; the profile is ps_4_0"},
    {114, "float4 ps_main(float t : T) : SV_Target { return ddx_fine(t); }", "ddx_fine needs"},
    {114,
     "Texture2D x; SamplerState s;\n"
     "float4 ps_main() : SV_Target { return x.Gather(s, 0); }",
     "Gather needs shader model 4.1"},
    {114,
     "Texture2D x; SamplerState s;\n"
     "float4 ps_main() : SV_Target { return x.GatherRed(s, 0); }",
     "Gather forms needs shader model 5.0"},
    {114,
     "Texture2D x; SamplerComparisonState s;\n"
     "float4 ps_main() : SV_Target { return x.GatherCmp(s, 0, 0); }",
     "Gather forms needs"},
    {114,
     "Texture2D x; SamplerState s;\n"
     "float4 ps_main() : SV_Target { return x.CalculateLevelOfDetail(s, 0); }",
     "CalculateLevelOfDetail needs shader model 4.1"},
    {114,
     "TextureCubeArray x; SamplerState s;\n"
     "float4 ps_main() : SV_Target { return x.Sample(s, 0); }",
     "TextureCubeArray 'x' needs shader model 4.1"},
    {114,
     "Texture2DMS<float4> x;\n"
     "float4 ps_main() : SV_Target { return x.GetSamplePosition(0).x; }",
     "GetSamplePosition needs shader model 4.1"},
    {114, "float4 ps_main(uint c : SV_Coverage) : SV_Target { return c; }",
     "SV_Coverage as an input needs shader model 5.0"},
    {114, "float4 ps_main(uint i : SV_SampleIndex) : SV_Target { return i; }",
     "SV_SampleIndex needs shader model 4.1"},
    {113, GS("[instance(2)] [maxvertexcount(1)]", "s.Append(i[0]);"),
     "[instance(2)] needs shader model 5.0; the profile is gs_4_0"},
    {113,
     "struct V { float4 p : SV_Position; };\n[maxvertexcount(1)]\n"
     "void gs_main(point V i[1], uint n : SV_GSInstanceID, inout PointStream<V> s) {}",
     "SV_GSInstanceID needs shader model 5.0"},
    // Required forms and limits.
    {113,
     "struct V { float4 p : SV_Position; };\n[maxvertexcount(1)]\n"
     "void gs_main(point V i[1], inout PointStream<V> a, inout PointStream<V> b) "
     "{ a.Append(i[0]); b.Append(i[0]); }",
     "more than one output stream needs shader model 5.0"},
    {113, GS("", "s.Append(i[0]);"), "'gs_main': a geometry entry point needs [maxvertexcount(N)]"},
    {113, GS("[maxvertexcount(1025)]", "s.Append(i[0]);"), "over the limit of 1024 vertices"},
    {113, GS("[maxvertexcount(257)]", "s.Append(i[0]);"),
     "maxvertexcount(257) times the 4 scalar components of the output vertex is 1028"},
    {114, "float4 ps_main() { return 0; }", "'ps_main': function return value missing semantics"},
    {112, "float4 vs_main(float k) : SV_Position { return k; }",
     "'vs_main': input parameter 'k' missing semantics"},
    {112,
     "cbuffer Big { float4 r[4096]; float x; };\n"
     "float4 vs_main() : SV_Position { return r[0] + x; }",
     "constant buffer 'Big' takes 4097 registers, over the limit of 4096"},
    {112, "cbuffer C : register(b14) { float4 r; };\nfloat4 vs_main() : SV_Position { return r; }",
     "error X4567: maximum cbuffer exceeded. target has 14 slots, manual bind to slot 14 failed"},
    {114,
     "Texture2D x : register(t128); SamplerState s;\n"
     "float4 ps_main() : SV_Target { return x.Sample(s, 0); }",
     "'x' at register t128 is beyond t127"},
    {114,
     "Texture2D x; SamplerState s[2] : register(s15);\n"
     "float4 ps_main() : SV_Target { return x.Sample(s[1], 0); }",
     "'s' at register s15 is beyond s15"},
    // packoffset as the Windows compiler takes it: all members or none, none
    // across a register boundary, aggregates at .x, only in a cbuffer.
    {114,
     "cbuffer C { float4 a : packoffset(c1);\n  float b; };\n"
     "float4 ps_main() : SV_Target { return a + b; }",
     "main.fx(2,9): error X3530: cannot mix packoffset elements with nonpackoffset elements in a "
     "cbuffer"},
    {114,
     "cbuffer C { float2 a : packoffset(c0.w); };\nfloat4 ps_main() : SV_Target { return a.x; }",
     "'a': packoffset places it across a register boundary"},
    {114,
     "cbuffer C { float a[2] : packoffset(c0.y); };\n"
     "float4 ps_main() : SV_Target { return a[1]; }",
     "'a': an array, structure or matrix placed with packoffset must start a register"},
    {114,
     "cbuffer C { float4 a[2] : packoffset(c1); float4 b : packoffset(c2); };\n"
     "float4 ps_main() : SV_Target { return a[0] + b; }",
     "main.fx(1,50): error: 'b': packoffset places it on bytes of 'a'"},
    // A float2x3 takes three registers, one per column: c2 is its last.
    {114,
     "cbuffer C { float2x3 m : packoffset(c0); float q : packoffset(c2); };\n"
     "float4 ps_main() : SV_Target { return m[1].x + q; }",
     "main.fx(1,48): error: 'q': packoffset places it on bytes of 'm'"},
    {114, "float4 g : packoffset(c0);\nfloat4 ps_main() : SV_Target { return g; }",
     "packoffset is only allowed in a constant buffer"},
    // A texture offset must be known once the loops around it are unrolled.
    {114,
     "Texture2D t; SamplerState s; cbuffer C { int n; };\n"
     "float4 ps_main(float2 uv : T) : SV_Target { float4 r = 0;\n"
     "  for (int i = 0; i < 3; ++i) r += t.Sample(s, uv, int2(i, 0));\n"
     "  [loop] for (int j = 0; j < n; ++j) r += t.Load(int3(0, 0, 0), int2(0, j));\n"
     "  return r; }",
     "main.fx(4,43): error: 't': texture access requires a literal offset"},
    // What shader model 4 has, and what the stage does not use. The Windows
    // compiler takes rcp, countbits, firstbithigh/low, mad and read-only
    // structured and byte-address buffers at 4_0, whatever the reference's
    // minimum-model lines say (vkd3d's tests, run on Windows, record it).
    {112,
     "StructuredBuffer<float4> b; ByteAddressBuffer r;\n"
     "float4 vs_main(uint i : SV_VertexID) : SV_Position\n"
     "{ return b[0] + rcp(b[1]) + countbits(i) + firstbithigh(i) + firstbitlow(r.Load(0))"
     " + mad(b[2], b[3], b[4]); }",
     nullptr},
    {114,
     "float4 ps_main(float4 p : SV_Position) : SV_Target "
     "{ precise float a = f16tof32(f32tof16(p.x)); return a; }",
     nullptr},
    {114,
     "float unused(uint i) { return countbits(i); }\nRWTexture2D<float> rw;\n"
     "float4 ps_main() : SV_Target { return 1; }",
     nullptr},
    {114,
     "Texture2D x : register(t127); SamplerState s : register(s15); "
     "SamplerComparisonState c; Buffer<float4> b;\n"
     "tbuffer T { float4 k; };\n"
     "float4 ps_main(float4 p : SV_Position) : SV_Target { uint w, h, n; "
     "x.GetDimensions(0, w, h, n); return x.Sample(s, p.xy) + x.SampleLevel(s, 0, 0) + "
     "x.SampleGrad(s, 0, 0, 0) + x.SampleCmpLevelZero(c, 0, 0) + x.Load(0) + b.Load(0) + "
     "k + w; }",
     nullptr},
    {112,
     "cbuffer Full : register(b13) { float4 r[4095]; float x; };\n"
     "float4 vs_main() : SV_Position { return r[0] + x; }",
     nullptr},
    {113, GS("[maxvertexcount(256)]", "s.Append(i[0]);"), nullptr},
    {114,
     "Texture2D t; SamplerState s; SamplerComparisonState c;\n"
     "float4 ps_main(float2 uv : T) : SV_Target { float4 r = 0;\n"
     "  [unroll] for (int i = -1; i < 2; ++i) for (int j = 0; j < 2; ++j)\n"
     "    r += t.SampleLevel(s, uv, 0, int2(i, j)) + t.SampleGrad(s, uv, 0, 0, int2(j, i)) +\n"
     "         t.SampleCmp(c, uv, 0.5, int2(i, -j)) + t.Load(int3(0, 0, 0), int2(j, j));\n"
     "  return r; }",
     nullptr},
    {114,
     "cbuffer C { float3 a : packoffset(c0.y); float4x4 m : packoffset(c2); "
     "float b : packoffset(c0); };\nfloat4 ps_main() : SV_Target { return a.x + m[1] + b; }",
     nullptr},
};

std::string Compile(int step, const std::string &source, HRESULT &hr) {
    std::ofstream("main.fx", std::ios::binary) << source;
    const char *entry   = step == 112 ? "vs_main" : step == 113 ? "gs_main" : "ps_main";
    const char *profile = step == 112 ? "vs_4_0" : step == 113 ? "gs_4_0" : "ps_4_0";
    ID3D10Blob *shader = nullptr, *messages = nullptr;
    hr = D3DX11CompileFromFileA("main.fx", nullptr, nullptr, entry, profile, 0x800, 0, nullptr,
                                &shader, &messages, nullptr);
    std::string text;
    if (messages) text = static_cast<const char *>(messages->GetBufferPointer());
    if (shader) shader->Release();
    if (messages) messages->Release();
    return text;
}

TEST(Profile, RefusesWhatShaderModel4LacksInTheWindowsShape) {
    namespace fs            = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path folder =
        fs::temp_directory_path() / ("hotfx_profile_" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    const std::regex shape(R"(main\.fx\(\d+,\d+(-\d+)?\): (error|warning)( X\d{4})?: \S.*)");
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.source);
        HRESULT hr             = 0;
        const std::string text = Compile(c.step, c.source, hr);
        if (!c.message) {
            EXPECT_EQ(hr, 0) << text;
            continue;
        }
        EXPECT_LT(hr, 0);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(std::regex_match(line, shape)) << "[" << line << "]";
    }
    fs::current_path(previous);
    fs::remove_all(folder);
}

} // namespace
