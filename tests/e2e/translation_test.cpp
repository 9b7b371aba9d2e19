// One shader per difference between D3D11 and OpenGL that the Linux backend
// absorbs. Each draws something that comes out visibly wrong, and is checked
// pixel by pixel, if that difference were ignored.
#include "harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace {

// The vertex and geometry stages of a grid test: one quad over most of the
// window, uv from -1 to 1, for a pixel stage that draws cells.
const char *const kGridStages = R"(
struct V { float4 p : SV_Position; float2 uv : TEXCOORD0; };
V vs_main(uint id : SV_InstanceID) { V o; o.p = float4(0.0, 0.0, 0.5, id == 0 ? 1.0 : -1.0); o.uv = 0.0; return o; }
[maxvertexcount(4)]
void gs_main(point V input[1], inout TriangleStream<V> strip) {
    if (input[0].p.w < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        V o;
        o.uv = float2(k / 2, k % 2) * 2.0 - 1.0;
        o.p = float4(o.uv * 0.9, 0.5, 1.0);
        strip.Append(o);
    }
}
)";

class TranslationTest : public ::testing::Test {
  protected:
    void SetUp() override { RestartParticleGenerator(); }

    // Starts the program on the shader and waits for a successful load.
    WindowId Start(const std::string &shader) {
        dir.Write("main.fx", shader);
        program = std::make_unique<Program>(dir.Path(), server.Name());
        std::string line;
        EXPECT_TRUE(program->ReadLine(line));
        EXPECT_EQ(line, "Loaded.");
        EXPECT_TRUE(program->ReadLine(line));
        EXPECT_EQ(line, "Obj Initialize.");
        return desktop.FindProgramWindow();
    }

    // Each expectation: a clip-space point and the colour there.
    struct Spot {
        double x, y;
        Rgb colour;
    };
    // The first particle's square of kPackedFrame: at (s0, s1), green s2.
    void ExpectFirstParticleSquare(const WindowId window) {
        const Particle p = NextParticles()[0];
        const int green  = static_cast<int>(std::lround(std::min(1.0f, p.s2) * 255));
        ExpectSpots(window, {{p.s0 * 1.6 - 0.8, p.s1 * 1.6 - 0.8, {255, green, 0}}});
    }

    void ExpectSpots(WindowId window, const std::vector<Spot> &spots) {
        ASSERT_NE(window, 0u);
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        EXPECT_EQ(WaitForPicture(desktop, window, name,
                                 [&](const Image &image) -> std::string {
                                     for (const Spot &s : spots) {
                                         const Rgb got = image.At(image.X(s.x), image.Y(s.y));
                                         if (!Near(got, s.colour, 2))
                                             return "at (" + std::to_string(s.x) + ", " +
                                                    std::to_string(s.y) + ") " + ToString(got) +
                                                    " instead of " + ToString(s.colour);
                                     }
                                     return "";
                                 }),
                  "");
    }

    Xvfb server;
    Desktop desktop{server.Name()};
    ScratchDir dir;
    std::unique_ptr<Program> program;
};

// Stages link by semantic: the geometry and pixel stages declare their
// inputs in another order than the previous stage wrote them. Linked by
// declaration order, the geometry stage would read the colour as the place
// (and draw nothing), and the pixel stage the decoy as the colour (blue).
TEST_F(TranslationTest, StagesLinkBySemanticNotByDeclarationOrder) {
    const WindowId window = Start(R"(
struct VsOut { float4 position : SV_Position; float4 colour : COLOR0; float4 place : TEXCOORD0; };
struct GsIn { float4 place : TEXCOORD0; float4 colour : COLOR0; float4 position : SV_Position; };
struct GsOut { float4 position : SV_Position; float4 decoy : TEXCOORD1; float4 colour : COLOR0; };
struct PsIn { float4 colour : COLOR0; float4 position : SV_Position; float4 decoy : TEXCOORD1; };
VsOut vs_main(uint id : SV_InstanceID) {
    VsOut o;
    o.position = float4(0.0, 0.0, 0.5, 1.0);
    o.colour = float4(1.0, 0.5, 0.0, 1.0);
    o.place = float4(-0.5, 0.5, id == 0 ? 1.0 : 0.0, 0.0);
    return o;
}
[maxvertexcount(4)]
void gs_main(point GsIn input[1], inout TriangleStream<GsOut> strip) {
    if (input[0].place.z != 1.0) return;
    for (int k = 0; k < 4; ++k) {
        GsOut o;
        o.position = float4(input[0].place.xy + (float2(k / 2, k % 2) * 2.0 - 1.0) * 0.2, 0.5, 1.0);
        o.decoy = float4(0.0, 0.0, 1.0, 1.0);
        o.colour = input[0].colour;
        strip.Append(o);
    }
}
float4 ps_main(PsIn input) : SV_Target { return input.colour; }
)");
    ExpectSpots(window, {{-0.5, 0.5, {255, 128, 0}}, {0.5, -0.5, kBackground}});
}

// HLSL packs a float3 after a float into the same register, starts an array
// on a new one and packs a float2 after a float; std140 would move Zero0 to
// 16, X0 (after the array) to 272 and S1S2 to 280, and the square elsewhere.
// The particle's square, placed by members the buffer at b0 packs as HLSL
// does; drawn at (s0, s1), green s2.
const char *const kPackedFrame = R"(
cbuffer Frame : register(b0) {
    float Time;        // 0
    float3 Zero0;      // 4
    float4 Zeros[15];  // 16
    float X0;          // 256: particle 0
    float Y0;          // 260
    float2 V0;         // 264
    float S0;          // 272
    float2 S1S2;       // 276
    float Phase0;      // 284
};
float4 vs_main(uint id : SV_InstanceID) : CENTRE {
    return float4(S0 * 1.6 - 0.8, S1S2.x * 1.6 - 0.8, id == 0 ? S1S2.y : -1.0, 1.0);
}
struct Corner { float4 position : SV_Position; float4 colour : COLOR0; };
[maxvertexcount(4)]
void gs_main(point float4 input[1] : CENTRE, inout TriangleStream<Corner> strip) {
    if (input[0].z < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        Corner c;
        c.position = float4(input[0].xy + (float2(k / 2, k % 2) * 2.0 - 1.0) * 0.05, 0.5, 1.0);
        c.colour = float4(1.0, input[0].z, 0.0, 1.0);
        strip.Append(c);
    }
}
float4 ps_main(Corner c) : SV_Target { return c.colour; }
)";

TEST_F(TranslationTest, ConstantBufferUsesHlslPacking) {
    ExpectFirstParticleSquare(Start(kPackedFrame));
}

// Buffers that share a register each reserve it, read or not; the one the
// entry point reads is bound there. Here two unread buffers name b0 before
// the frame's, and one of them is read by a function no stage calls.
TEST_F(TranslationTest, TheBufferReadAtASharedRegisterIsBoundThere) {
    ExpectFirstParticleSquare(Start(std::string(R"(
cbuffer Before : register(b0) { float4 junk[20]; };
cbuffer Lights : register(b0) { float4 light; };
float4 Unused() { return junk[3] + light; }
)") + kPackedFrame));
}

// packoffset places each member where the source says, whatever the order
// and the HLSL packing would give: a 3x2 grid of cells, each showing the
// (s0, s1, s2) of a particle read through one form (registers 17 + 2i), and
// grey from a register of zeros. Packed in order, every cell would show
// Time and zeros.
TEST_F(TranslationTest, PackoffsetPlacesConstantsExactly) {
    const WindowId window         = Start(std::string(kGridStages) + R"(
struct S { float a; float3 b; };
cbuffer Packed : register(b0) {
    float3 tail0 : packoffset(c17.y);
    float s00 : packoffset(c17);
    float2 head1 : packoffset(c19);
    float s12 : packoffset(c19.z);
    row_major float3x3 m : packoffset(c21);
    S s4 : packoffset(c25);
    float4 zero : packoffset(c5);
    float2 tail5 : packoffset(c27.y);
    float s05 : packoffset(c27);
};
float4 ps_main(V v) : SV_Target {
    int2 cell = int2(floor((v.uv * 0.5 + 0.5) * float2(3.0, 2.0)));
    int rule = cell.x + 3 * cell.y;
    float3 c = 0.5 + zero.xyz;
    if (rule == 0) c = float3(s00, tail0.xy);
    if (rule == 1) c = float3(head1, s12);
    if (rule == 2) c = m[2];
    if (rule == 3) c = float3(s4.a, s4.b.xy);
    if (rule == 4) c = float3(s05, tail5);
    return float4(c, 1.0);
}
)");
    const std::vector<Particle> p = NextParticles();
    auto colour                   = [&](int i) {
        auto c = [](float v) { return static_cast<int>(std::lround(v * 255)); };
        return Rgb{c(p[i].s0), c(p[i].s1), c(p[i].s2)};
    };
    // Particle i is in registers 16 + 2i and 17 + 2i.
    const Rgb expected[6] = {colour(0), colour(1), colour(3),
                             colour(4), colour(5), {128, 128, 128}};
    std::vector<Spot> spots;
    for (int i = 0; i < 6; ++i)
        spots.push_back({(i % 3 - 1) * 0.6, (i / 3) * 0.9 - 0.45, expected[i]});
    ExpectSpots(window, spots);
}

// SV_Position in the pixel stage counts pixels from the top-left corner,
// centres at .5: red marks the top quarter, green the left quarter, blue
// the pixel centres.
TEST_F(TranslationTest, PixelPositionCountsFromTheTopLeftWithCentresAtHalf) {
    const WindowId window = Start(R"(
float4 vs_main(uint id : SV_InstanceID) : CENTRE { return float4(0.0, 0.0, 0.5, id == 0 ? 1.0 : -1.0); }
struct Corner { float4 position : SV_Position; };
[maxvertexcount(4)]
void gs_main(point float4 input[1] : CENTRE, inout TriangleStream<Corner> strip) {
    if (input[0].w < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        Corner c;
        c.position = float4(float2(k / 2, k % 2) * 2.0 - 1.0, 0.5, 1.0);
        strip.Append(c);
    }
}
float4 ps_main(float4 position : SV_Position) : SV_Target {
    return float4(position.y < 192.0 ? 1.0 : 0.0, position.x < 256.0 ? 1.0 : 0.0,
                  all(frac(position.xy) == 0.5) ? 1.0 : 0.0, 1.0);
}
)");
    ExpectSpots(window, {{-0.9, 0.9, {255, 255, 255}},
                         {0.9, 0.9, {255, 0, 255}},
                         {-0.9, -0.9, {0, 255, 255}},
                         {0.9, -0.9, {0, 0, 255}}});
}

// Clip-space +y is the top of the window and +x its right: red goes top
// right, green bottom left.
TEST_F(TranslationTest, PositiveYIsAtTheTop) {
    const WindowId window = Start(R"(
struct Point { float4 centre : CENTRE; float4 colour : COLOR0; };
Point vs_main(uint id : SV_InstanceID) {
    Point p;
    p.centre = id == 0 ? float4(0.5, 0.5, 0.5, 1.0) : float4(-0.5, -0.5, 0.5, id == 1 ? 1.0 : -1.0);
    p.colour = id == 0 ? float4(1.0, 0.0, 0.0, 1.0) : float4(0.0, 1.0, 0.0, 1.0);
    return p;
}
struct Corner { float4 position : SV_Position; float4 colour : COLOR0; };
[maxvertexcount(4)]
void gs_main(point Point input[1], inout TriangleStream<Corner> strip) {
    if (input[0].centre.w < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        Corner c;
        c.position = input[0].centre + float4((float2(k / 2, k % 2) * 2.0 - 1.0) * 0.2, 0.0, 0.0);
        c.colour = input[0].colour;
        strip.Append(c);
    }
}
float4 ps_main(Corner c) : SV_Target { return c.colour; }
)");
    ExpectSpots(window, {{0.5, 0.5, {255, 0, 0}},
                         {-0.5, -0.5, {0, 255, 0}},
                         {-0.5, 0.5, kBackground},
                         {0.5, -0.5, kBackground}});
}

// SV_InstanceID runs 0 to 255, one per drawn point: instance i fills cell
// (i % 16, i / 16) of a grid with a colour made from i.
TEST_F(TranslationTest, InstanceIdNumbersThe256Points) {
    const WindowId window = Start(R"(
struct Cell { float4 centre : CENTRE; float4 colour : COLOR0; };
Cell vs_main(uint id : SV_InstanceID) {
    Cell c;
    float2 cell = float2(id % 16, id / 16);
    c.centre = float4(-0.9375 + cell.x * 0.125, 0.9375 - cell.y * 0.125, 0.5, 1.0);
    c.colour = float4(cell / 15.0, 1.0, 1.0);
    return c;
}
struct Corner { float4 position : SV_Position; float4 colour : COLOR0; };
[maxvertexcount(4)]
void gs_main(point Cell input[1], inout TriangleStream<Corner> strip) {
    for (int k = 0; k < 4; ++k) {
        Corner c;
        c.position = input[0].centre + float4((float2(k / 2, k % 2) * 2.0 - 1.0) * 0.04, 0.0, 0.0);
        c.colour = input[0].colour;
        strip.Append(c);
    }
}
float4 ps_main(Corner c) : SV_Target { return c.colour; }
)");
    std::vector<Spot> spots;
    for (int i = 0; i < 256; ++i)
        spots.push_back({-0.9375 + (i % 16) * 0.125,
                         0.9375 - (i / 16) * 0.125,
                         {(i % 16) * 17, (i / 16) * 17, 255}});
    ExpectSpots(window, spots);
}

// Depth runs 0 to 1 and clips: of three squares at depth 0.5, -0.5 and 1.5
// only the first shows. GL's own -1..1 would keep the second, depth clamping
// the second and third.
TEST_F(TranslationTest, DepthClipsOutside0To1) {
    const WindowId window = Start(R"(
float4 vs_main(uint id : SV_InstanceID) : CENTRE {
    return float4(-0.5 + 0.5 * id, 0.0, id == 0 ? 0.5 : (id == 1 ? -0.5 : 1.5), id < 3 ? 1.0 : -1.0);
}
struct Corner { float4 position : SV_Position; float4 colour : COLOR0; };
[maxvertexcount(4)]
void gs_main(point float4 input[1] : CENTRE, inout TriangleStream<Corner> strip) {
    if (input[0].w < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        Corner c;
        c.position = float4(input[0].xy + (float2(k / 2, k % 2) * 2.0 - 1.0) * 0.15, input[0].z, 1.0);
        c.colour = input[0].z == 0.5 ? float4(0.0, 1.0, 0.0, 1.0) : float4(1.0, 0.0, 0.0, 1.0);
        strip.Append(c);
    }
}
float4 ps_main(Corner c) : SV_Target { return c.colour; }
)");
    ExpectSpots(window,
                {{-0.5, 0.0, {0, 255, 0}}, {0.0, 0.0, kBackground}, {0.5, 0.0, kBackground}});
}

// glslang's preprocessor defines VULKAN, GL_core_profile and a macro for
// every extension it knows; the Windows compiler defines none of them, only
// the standard __FILE__ and __LINE__. A file that branches on them draws what Windows
// draws: green in each of a 2x2 grid of cells, one rule a cell.
TEST_F(TranslationTest, OnlyTheWindowsCompilersMacrosAreDefined) {
    const WindowId window = Start(std::string(kGridStages) + R"(
float4 ps_main(V v) : SV_Target {
    int2 cell = int2(v.uv * 0.5 + 1.0);
    int rule = cell.x + 2 * cell.y;
    bool ok = true;
#ifdef VULKAN
    if (rule == 0) ok = false;
#endif
#if defined(GL_core_profile) || defined(GL_SPIRV) || defined(GL_FRAGMENT_PRECISION_HIGH)
    if (rule == 1) ok = false;
#endif
#if defined(GL_ARB_gpu_shader5) || defined(GL_GOOGLE_include_directive) || defined(GL_EXT_control_flow_attributes)
    if (rule == 2) ok = false;
#endif
#if __LINE__ != 28
    if (rule == 3) ok = false;
#endif
    return ok ? float4(0.0, 1.0, 0.0, 1.0) : float4(1.0, 0.0, 0.0, 1.0);
}
)");
    std::vector<Spot> spots;
    for (int i = 0; i < 4; ++i)
        spots.push_back({(i % 2) - 0.5, (i / 2) - 0.5, {0, 255, 0}});
    ExpectSpots(window, spots);
}

// Texture slots that hold nothing read as zeros, whatever the resource kind
// and read: a 3x3 grid of cells, each green where its reads all give 0 and
// red otherwise. GL's incomplete textures would give an alpha of 1, a 1x1
// stand-in texture a size of 1.
TEST_F(TranslationTest, EmptyTextureSlotsReadZero) {
    const WindowId window = Start(std::string(kGridStages) + R"(
Texture2D tex : register(t3);
Texture2D<int4> itex;
Texture2D<uint> utex;
Texture1D t1;
Texture1DArray t1a;
Texture2DArray t2a;
Texture3D t3;
TextureCube cube;
Texture2DMS<float4> ms;
Texture2DMSArray<float4, 4> msa;
Buffer<float4> buf;
Buffer<uint> ubuf;
SamplerState s0 : register(s2), s1;
SamplerComparisonState cmp;
bool Zero(float4 v) { return all(v == 0.0); }
// Offsets that are literals once the loops are unrolled, with [unroll] or not.
float4 Around(float2 uv) {
    float4 r = 0.0;
    [unroll] for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
            r += tex.Sample(s0, uv, int2(i, j)) + tex.Load(int3(0, 0, 0), int2(j, i));
    return r;
}
float4 ps_main(V v) : SV_Target {
    int2 cell = int2(floor((v.uv * 0.5 + 0.5) * 3.0));
    int rule = cell.x + 3 * cell.y;
    bool ok = false;
    uint w = 7, h = 7, d = 7, n = 7;
    if (rule == 0) ok = Zero(tex.Sample(s0, v.uv)) && Zero(tex.Sample(s1, v.uv)) && Zero(tex.SampleLevel(s0, v.uv, 0.0));
    if (rule == 1) ok = Zero(tex.Load(int3(0, 0, 0))) && Zero(tex[uint2(0, 0)]) && Zero(tex.mips[0][uint2(0, 0)]) && Zero(Around(v.uv));
    if (rule == 2) ok = all(itex.Load(int3(0, 0, 0)) == 0) && utex.Load(int3(0, 0, 0)) == 0 && ubuf.Load(0) == 0;
    if (rule == 3) ok = Zero(t1.Sample(s0, 0.5)) && Zero(t1a.Sample(s0, float2(0.5, 0.0))) && Zero(t2a.Sample(s1, float3(v.uv, 0.0))) && Zero(t3.Sample(s0, 0.5));
    if (rule == 4) ok = Zero(cube.Sample(s0, float3(1.0, 0.0, 0.0))) && Zero(cube.SampleLevel(s1, float3(0.0, 1.0, 0.0), 2.0));
    if (rule == 5) ok = Zero(ms.Load(int2(0, 0), 0)) && Zero(msa.Load(int3(0, 0, 0), 1)) && Zero(buf.Load(0)) && Zero(buf[1]);
    if (rule == 6) ok = tex.SampleCmp(cmp, v.uv, 0.5) == 0.0 && tex.SampleCmpLevelZero(cmp, v.uv, -1.0) == 0.0;
    if (rule == 7) ok = Zero(tex.SampleGrad(s0, v.uv, 0.1, 0.1)) && Zero(tex.SampleBias(s1, v.uv, 1.0));
    if (rule == 8) {
        tex.GetDimensions(0, w, h, n);
        ok = w == 0 && h == 0 && n == 0;
        t2a.GetDimensions(w, h, d);
        ok = ok && w == 0 && h == 0 && d == 0;
        ms.GetDimensions(w, h, n);
        ok = ok && w == 0 && h == 0 && n == 0;
        buf.GetDimensions(w);
        ok = ok && w == 0;
    }
    return ok ? float4(0.0, 1.0, 0.0, 1.0) : float4(1.0, 0.0, 0.0, 1.0);
}
)");
    std::vector<Spot> spots;
    for (int i = 0; i < 9; ++i)
        spots.push_back({(i % 3 - 1) * 0.6, (i / 3 - 1) * 0.6, {0, 255, 0}});
    ExpectSpots(window, spots);
}

// An array with one semantic takes consecutive indices, as on Windows, so
// the stages may declare one array or separate semantics on either side: a
// 2x2 grid of cells, green where the pixel stage reads what the vertex
// stage wrote. The geometry stage reads arrays inside its input structure,
// which glslang splits into one variable per element.
TEST_F(TranslationTest, ArraysWithOneSemanticTakeConsecutiveIndices) {
    const WindowId window = Start(R"(
struct VsOut {
    float4 centre : CENTRE;
    float4 n[3] : NORMALS;   // NORMALS0 to NORMALS2
    float2 t[2] : TEXCOORD3; // TEXCOORD3, TEXCOORD4
    float4 r1 : REV1;        // written before REV0
    float4 r0 : REV0;
    float4 e[2] : EXTRA2;    // EXTRA2, EXTRA3
};
struct GsIn {
    float4 centre : CENTRE;
    float4 n[3] : NORMALS;
    float2 t[2] : TEXCOORD3;
    float4 r[2] : REV0;
    float4 e[2] : EXTRA2;
};
struct GsOut {
    float4 position : SV_Position;
    float2 uv : UV;
    float4 n0 : NORMALS0;
    float4 n2 : NORMALS2;
    float4 n1 : NORMALS1;
    float2 t[2] : TEXCOORD3;
    float4 r1 : REV1;
    float4 r0 : REV0;
    float4 e[2] : EXTRA2;
};
struct PsIn {
    float4 position : SV_Position;
    float2 uv : UV;
    float4 n[3] : NORMALS0;
    float2 t4 : TEXCOORD4;
    float2 t3 : TEXCOORD3;
    float4 r[2] : REV0;
    float4 e[2] : EXTRA2; // only e[1] is read
};
VsOut vs_main(uint id : SV_InstanceID) {
    VsOut o;
    o.centre = float4(0.0, 0.0, 0.5, id == 0 ? 1.0 : -1.0);
    o.n[0] = float4(1.0, 0.0, 0.0, 0.0);
    o.n[1] = float4(2.0, 0.0, 0.0, 0.0);
    o.n[2] = float4(3.0, 0.0, 0.0, 0.0);
    o.t[0] = float2(4.0, 5.0);
    o.t[1] = float2(6.0, 7.0);
    o.r0 = 8.0;
    o.r1 = 9.0;
    o.e[0] = 10.0;
    o.e[1] = 11.0;
    return o;
}
[maxvertexcount(4)]
void gs_main(point GsIn input[1], inout TriangleStream<GsOut> strip) {
    if (input[0].centre.w < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        GsOut o;
        o.uv = float2(k / 2, k % 2) * 2.0 - 1.0;
        o.position = float4(o.uv * 0.9, 0.5, 1.0);
        o.n0 = input[0].n[0];
        o.n1 = input[0].n[1];
        o.n2 = input[0].n[2];
        o.t = input[0].t;
        o.r0 = input[0].r[0];
        o.r1 = input[0].r[1];
        o.e = input[0].e;
        strip.Append(o);
    }
}
float4 ps_main(PsIn v) : SV_Target {
    int2 cell = int2(floor((v.uv * 0.5 + 0.5) * 2.0));
    int rule = cell.x + 2 * cell.y;
    bool ok = false;
    if (rule == 0) ok = v.n[0].x == 1.0 && v.n[1].x == 2.0 && v.n[2].x == 3.0;
    if (rule == 1) ok = all(v.t3 == float2(4.0, 5.0)) && all(v.t4 == float2(6.0, 7.0));
    if (rule == 2) ok = all(v.r[0] == 8.0) && all(v.r[1] == 9.0);
    if (rule == 3) ok = all(v.e[1] == 11.0);
    return ok ? float4(0.0, 1.0, 0.0, 1.0) : float4(1.0, 0.0, 0.0, 1.0);
}
)");
    std::vector<Spot> spots;
    for (int i = 0; i < 4; ++i)
        spots.push_back({(i % 2 - 0.5) * 0.9, (i / 2 - 0.5) * 0.9, {0, 255, 0}});
    ExpectSpots(window, spots);
}

// Clip distances clip what the last stage before the rasterizer writes,
// scalar or vector, two semantics packed as Direct3D packs them; a
// geometry stage reads the vertex stage's from its input structure, and
// the pixel stage reads them interpolated (15.4). One cell per rule, each a
// square whose right half is clipped away where the rule clips, green
// where the pixel stage reads what was written.
TEST_F(TranslationTest, ClipDistancesClipAsOnWindows) {
    const WindowId window = Start(R"(
struct VsOut { float4 centre : CENTRE; float c : SV_ClipDistance0; };
VsOut vs_main(uint id : SV_InstanceID) {
    VsOut o;
    o.centre = float4(-0.75 + 0.5 * (id % 4), 0.5 - (id / 4), id, id < 6 ? 1.0 : -1.0);
    o.c = id == 4 ? -1.0 : 1.0;
    return o;
}
struct GsOut {
    float4 position : SV_Position;
    float2 s : UV;
    float2 a : SV_ClipDistance0;
    float3 b : SV_ClipDistance1; // starts a second group of four
};
bool Near(float x, float y) { return abs(x - y) < 0.01; }
[maxvertexcount(4)]
void gs_main(point VsOut input[1], inout TriangleStream<GsOut> strip) {
    if (input[0].centre.w < 0.0) return;
    const float rule = input[0].centre.z;
    for (int k = 0; k < 4; ++k) {
        GsOut o;
        o.s = float2(k / 2, k % 2) * 2.0 - 1.0;
        o.position = float4(input[0].centre.xy + o.s * 0.2, 0.5, 1.0);
        o.a = float2(rule == 1 ? -o.s.x : 1.0, rule == 2 ? -o.s.x : 3.0);
        o.b = float3(input[0].c * (rule == 4 ? o.s.x : 4.0), 5.0, rule == 3 ? -o.s.x : 2.0 - o.s.x);
        strip.Append(o);
    }
}
float4 ps_main(GsOut v) : SV_Target {
    // What each rule wrote, where the pixel is not clipped.
    bool ok = Near(v.b.y, 5.0) && (Near(v.b.z, 2.0 - v.s.x) || Near(v.b.z, -v.s.x)) &&
              (Near(v.a.y, 3.0) || Near(v.a.y, -v.s.x));
    return ok ? float4(0.0, 1.0, 0.0, 1.0) : float4(1.0, 0.0, 0.0, 1.0);
}
)");
    std::vector<Spot> spots;
    for (int rule = 0; rule < 6; ++rule) {
        const double x = -0.75 + 0.5 * (rule % 4), y = 0.5 - (rule / 4);
        const bool clipped = rule >= 1 && rule <= 4;
        spots.push_back({x - 0.1, y, {0, 255, 0}});
        spots.push_back({x + 0.1, y, clipped ? kBackground : Rgb{0, 255, 0}});
    }
    ExpectSpots(window, spots);
}

// A primitive goes where all its vertices have a negative cull distance,
// and stays whole where only some have (15.4.2): the left square is
// culled, the right one drawn across.
TEST_F(TranslationTest, CullDistancesCullWholePrimitives) {
    const WindowId window = Start(R"(
float4 vs_main(uint id : SV_InstanceID) : CENTRE { return float4(id == 0 ? -0.5 : 0.5, 0.0, id, id < 2 ? 1.0 : -1.0); }
struct GsOut { float4 position : SV_Position; float2 cull : SV_CullDistance0; };
[maxvertexcount(4)]
void gs_main(point float4 input[1] : CENTRE, inout TriangleStream<GsOut> strip) {
    if (input[0].w < 0.0) return;
    for (int k = 0; k < 4; ++k) {
        GsOut o;
        float2 s = float2(k / 2, k % 2) * 2.0 - 1.0;
        o.position = float4(input[0].xy + s * 0.2, 0.5, 1.0);
        o.cull = float2(1.0, input[0].z == 0.0 ? -1.0 : -s.x);
        strip.Append(o);
    }
}
float4 ps_main(GsOut v) : SV_Target { return float4(0.0, 1.0, 0.0, 1.0); }
)");
    ExpectSpots(window,
                {{-0.5, 0.0, kBackground}, {0.4, 0.0, {0, 255, 0}}, {0.6, 0.0, {0, 255, 0}}});
}

} // namespace
