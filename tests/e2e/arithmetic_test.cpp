// Arithmetic as Direct3D defines it, in each stage: one shader checks every
// rule of the table below in the vertex, geometry and pixel stages and draws
// a grid with one cell per rule and stage, green where the stage computed
// Direct3D's value, red where not. Most operands come from the constant
// buffer's zeroed registers, so no compiler can work the results out before
// the driver runs them; the literal rules check what compilers work out.
#include "harness.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace {

struct Rule {
    const char *name;
    const char *check; // HLSL, true when the stage computes what Direct3D does
};

// z is 0.0, u and i are 0, nan a quiet NaN, inf +infinity, den the smallest
// positive denormal: all read at run time.
const Rule kRules[] = {
    {"fmod has the sign of x", "fmod(-3.5 + z, 2.0) == -1.5 && fmod(3.5 + z, -2.0) == 1.5"},
    {"float % has the sign of x",
     "all((float2(-3.5, 5.5) + z) % float2(2.0, -2.0) == float2(-1.5, 1.5))"},
    {"int cast saturates", "(int)(3e9 + z) == 2147483647 && (int)(-3e9 + z) == (int)0x80000000"},
    {"uint cast saturates", "(uint)(-1.0 + z) == 0 && (uint)(5e9 + z) == 0xffffffff"},
    {"NaN casts to 0", "(int)nan == 0 && (uint)nan == 0"},
    {"constructor and implicit conversion saturate",
     "all(int2(float2(3e9, nan) + z) == int2(2147483647, 0)) && PassUint(-2.5 + z) == 0"},
    {"min and max return the number", "min(nan, 1.0 + z) == 1.0 && min(1.0 + z, nan) == 1.0 && "
                                      "max(nan, 1.0 + z) == 1.0 && max(1.0 + z, nan) == 1.0 && "
                                      "min(nan, 1.0) == 1.0 && max(2.0, nan) == 2.0"},
    {"clamp and saturate of NaN",
     "clamp(nan, 0.25, 1.0 + z) == 0.25 && clamp(nan, 0.25, 1.0) == 0.25 && saturate(nan) == 0.0"},
    {"round halves to even", "all(round(float3(2.5, -2.5, 3.5) + z) == float3(2.0, -2.0, 4.0))"},
    {"shifts use the count's low 5 bits",
     "(1u << (33u + u)) == 2u && (0x80000000u >> (33u + u)) == 0x40000000u && (((int)0x80000000 + "
     "i) >> (33 + i)) == (int)0xc0000000"},
    {"vector shifts", "all((uint2(1, 1) << (uint2(32, 35) + u)) == uint2(1, 8))"},
    {"unsigned division by zero", "(7u + u) / u == 0xffffffff && (7u + u) % u == 0xffffffff"},
    {"unsigned vector division", "all((uint2(7, 8) + u) / uint2(u, 3u) == uint2(0xffffffff, 2))"},
    {"signed division truncates",
     "(-7 + i) / 2 == -3 && (-42 + i) % 5 == -2 && (42 + i) % -5 == 2"},
    {"-2^31 / -1", "((int)0x80000000 + i) / (-1 + i) == (int)0x80000000"},
    {"reciprocal of zeros", "rcp(z) == inf && rcp(-z) == -inf && 1.0 / z == inf"},
    {"rsqrt of zeros and negatives",
     "rsqrt(z) == inf && rsqrt(-z) == -inf && IsNan(rsqrt(-1.0 + z))"},
    {"sqrt of -0 and negatives", "asuint(sqrt(-z)) == 0x80000000 && IsNan(sqrt(-1.0 + z))"},
    {"log of zero and negatives", "log(z) == -inf && log2(-z) == -inf && IsNan(log(-1.0 + z))"},
    {"sign", "sign(-2.0 + z) == -1 && sign(z) == 0 && sign(nan) == 0 && sign(-3 + i) == -1"},
    {"frac", "frac(-1.25 + z) == 0.75 && frac(1.75 + z) == 0.75"},
    {"lerp", "lerp(2.0 + z, 4.0, 0.25) == 2.5 && all(lerp(float2(z, 1.0), float2(8.0, 3.0), "
             "float2(0.5, 2.0)) == float2(4.0, 5.0))"},
    {"smoothstep", "smoothstep(z, 1.0, 0.5) == 0.5 && smoothstep(z, 1.0, 2.0) == 1.0"},
    {"step", "step(1.0 + z, 1.0) == 1.0 && step(2.0 + z, 1.0) == 0.0 && step(nan, 1.0) == 0.0"},
    {"integer abs of -2^31", "abs((int)0x80000000 + i) == (int)0x80000000 && abs(-5 + i) == 5"},
    {"asfloat keeps NaN bits", "asuint(asfloat(0x7fc00001u + u)) == 0x7fc00001 && "
                               "asuint(asfloat(0xffbfffffu + u)) == 0xffbfffff"},
    {"isnan and isinf",
     "isnan(nan) && !isnan(1.0 + z) && isinf(inf) && isinf(-inf) && !isinf(nan)"},
    {"comparisons with NaN", "nan != 1.0 + z && !(nan == nan) && !(nan < 1.0) && !(nan >= 1.0)"},
    {"NaN converts to true", "(bool)nan && !(bool)z"},
    {"f32tof16 and f16tof32", "f32tof16(1.5 + z) == 0x3e00 && f16tof32(0x3e00u + u) == 1.5 && "
                              "f16tof32(1u + u) == 5.9604645e-8"},
    {"pow of a negative base", "IsNan(pow(-2.0 + z, 2.0 + z))"},
    {"pow(0, 0) is NaN", "IsNan(pow(z, z)) && pow(z, 2.0 + z) == 0.0"},
    {"normalize of zero", "IsNan(normalize(float3(z, z, z)).x)"},
    {"asin and acos outside [-1, 1]", "IsNan(asin(2.0 + z)) && IsNan(acos(-2.0 + z))"},
    {"isfinite", "isfinite(1.0 + z) && !isfinite(inf) && !isfinite(nan)"},
    {"NaN stays NaN", "IsNan(exp2(nan)) && IsNan(log2(nan)) && IsNan(sin(nan)) && IsNan(sqrt(nan)) "
                      "&& IsNan(floor(nan)) && IsNan(z * -inf)"},
    {"frexp and ldexp", "FrexpMantissa(12.0 + z) == 0.75 && FrexpExponent(12.0 + z) == 4.0 && "
                        "ldexp(1.5 + z, 3.0) == 12.0"},
    {"modf", "ModfWhole(-2.5 + z) == -2.0 && modf(-2.5 + z, whole) == -0.5"},
    {"denormals flush in arithmetic", "asuint(den * (1.0 + z)) == 0 && asuint(den + z) == 0"},
    {"f32tof16 rounds toward zero and clamps",
     "f32tof16(65520.0 + z) == 0x7bff && f32tof16(1.00146484375 + z) == 0x3c01 && f32tof16(-1e-6 + "
     "z) == 0x8010 && f32tof16(den) == 0 && f32tof16(-inf) == 0xfc00 && (f32tof16(nan) & 0x7fff) > "
     "0x7c00"},
    {"f32tof16 of vectors",
     "all(f32tof16(float3(70000.0, 3.0517578125e-5, -2.0) + z) == uint3(0x7bff, 0x200, 0xc000))"},
    {"rules hold for values known before run time", "Known()"},
    {"moves keep denormals", "asuint(asfloat(1u + u)) == 1u"},
    {"signed division by zero", "(7 + i) / i == -1 && (-7 + i) / i == 1 && (7 + i) % i == -1 && "
                                "(-7 + i) % i == 1 && ((int)0x80000000 + i) % (-1 + i) == 0 && "
                                "all((int2(7, -7) + i) / int2(i, 3 + i) == int2(-1, -2))"},
    {"lit",
     "all(lit(-0.5 + z, 0.5, 2.0) == float4(1, 0, 0, 1)) && lit(0.5 + z, -0.5, 2.0).z == "
     "0.0 && abs(lit(0.5 + z, 0.5, 2.0 + z).z - 0.25) < 1e-6 && lit(0.5, 0.5, 3.0).y == 0.5"},
    {"exp2(y * log2(x)) as written",
     "IsNan(exp2(z * log2(z))) && IsNan(exp2((2.0 + z) * log2(-2.0 + z)))"},
    // Literals alone, which the HLSL front end would otherwise work out by C's rules.
    {"literal fmod and %", "fmod(-3.5, 2) == -1.5 && -3.5 % 2 == -1.5 && fmod(3.5, -2.0) == 1.5"},
    {"literal casts saturate", "(int)3e9 == 2147483647 && (uint)-1.0 == 0 && int(-3e9) == "
                               "(int)0x80000000 && (uint)5e9 == 0xffffffff && PassUint(-2.5) == 0"},
    {"literal NaN rules",
     "min(0.0 / 0.0, 1.0) == 1.0 && max(2.0, asfloat(0x7fc00000)) == 2.0 && "
     "saturate(asfloat(0x7fc00000)) == 0.0 && (int)asfloat(0x7fc00000) == 0 && "
     "!(asfloat(0x7fc00000) <= 1.0) && step(asfloat(0x7fc00000), 1.0) == 0.0"},
    {"literal shifts, rounding and division",
     "(1u << 33) == 2u && (1 << 32) == 1 && round(2.5) == 2.0 && round(-2.5) == -2.0 && -7 / 2 == "
     "-3 && -2147483648 / -1 == (int)0x80000000"},
    {"static constants", "fmod(kMinusThreeHalves, 2.0) == -1.5 && (int)kBig == 2147483647 && "
                         "(uint)kMinusOne == 0 && kTable[kTwo - 1] == 2.0"},
};

// Derivatives, in the pixel stage only: v is 0 at the top of the cell and
// 1 at its bottom. (ddx_coarse, ddx_fine and their ddy twins are shader
// model 5, which ps_4_0 refuses.)
const Rule kDerivatives[] = {
    {"ddx of x", "ddx(position.x) == 1.0"},
    {"ddy of y", "ddy(position.y) == 1.0"},
    {"ddy of a varying growing downward", "ddy(v) > 0.0 && abs(ddx(v)) < 1e-6"},
    {"ddy of a vector", "all(ddy(float2(position.y, -position.y)) == float2(1.0, -1.0))"},
    {"fwidth", "fwidth(position.y) == 1.0 && fwidth(-v) > 0.0"},
};

constexpr int kColumns = 16;
constexpr int kStages  = 4; // vertex, geometry, pixel, pixel derivatives: four rows each

std::string Cases(const Rule *rules, size_t count) {
    std::string text;
    for (size_t r = 0; r < count; ++r)
        text += "    case " + std::to_string(r) + ": return " + rules[r].check + ";\n";
    return text;
}

std::string Shader() {
    return R"(
cbuffer Frame : register(b0) { float Time; float3 Pad; float4 Zeros[15]; };
uint PassUint(uint x) { return x; }
static const float kMinusThreeHalves = -3.5, kBig = 3e9, kMinusOne = -1.0;
static const int kTwo = 2;
static const float kTable[kTwo] = {1.0, 2.0};
bool IsNan(float x) { return (asuint(x) & 0x7fffffff) > 0x7f800000; }
float FrexpMantissa(float x) { float e; return frexp(x, e); }
float FrexpExponent(float x) { float e; frexp(x, e); return e; }
float ModfWhole(float x) { float w; modf(x, w); return w; }
// Values the optimizer knows before the driver runs.
bool Known() {
    float big = 3e9, minusOne = -1.0, x = -3.5, zero = 0.0;
    uint count = 33;
    float nan = zero / zero;
    // (An integer division by a zero the compiler knows is refused on Windows:
    // arithmetic-uint.shader_test of vkd3d's tests.)
    return (int)big == 2147483647 && (uint)minusOne == 0 && (int)nan == 0 && fmod(x, 2.0) == -1.5 &&
           (1u << count) == 2u && min(nan, 1.0) == 1.0;
}
bool Check(uint rule) {
    float z = Zeros[1].x, whole;
    uint u = asuint(z);
    int i = asint(z);
    float nan = asfloat(0x7fc00000u + u), inf = asfloat(0x7f800000u + u), den = asfloat(1u + u);
    switch (rule) {
)" + Cases(kRules, std::size(kRules)) +
           R"(    }
    return false;
}
bool CheckDerivative(uint rule, float4 position, float v) {
    switch (rule) {
)" + Cases(kDerivatives, std::size(kDerivatives)) +
           R"(    }
    return false;
}
struct Cell { float4 centre : CENTRE; uint rule : RULE; uint stage : STAGE; uint verdict : VERDICT; };
Cell vs_main(uint id : SV_InstanceID) {
    Cell c;
    c.rule = id % 64;
    c.stage = id / 64;
    c.centre = float4(((id % 16) + 0.5) / 8.0 - 1.0, 1.0 - ((id / 16) + 0.5) / 8.0, 0.5, 1.0);
    c.verdict = c.stage == 0 ? (Check(c.rule) ? 1 : 0) : 2;
    return c;
}
struct Corner {
    float4 position : SV_Position;
    nointerpolation uint rule : RULE;
    nointerpolation uint stage : STAGE;
    nointerpolation uint verdict : VERDICT;
    float v : TEXCOORD0;
};
[maxvertexcount(4)]
void gs_main(point Cell input[1], inout TriangleStream<Corner> strip) {
    uint verdict = input[0].stage == 1 ? (Check(input[0].rule) ? 1 : 0) : input[0].verdict;
    for (int k = 0; k < 4; ++k) {
        Corner c;
        float2 corner = float2(k / 2, k % 2);
        c.position = float4(input[0].centre.xy + (corner * 2.0 - 1.0) * float2(0.05, 0.05), 0.5, 1.0);
        c.rule = input[0].rule;
        c.stage = input[0].stage;
        c.verdict = verdict;
        c.v = 1.0 - corner.y;
        strip.Append(c);
    }
}
float4 ps_main(Corner c) : SV_Target {
    uint verdict = c.verdict;
    if (c.stage == 2) verdict = Check(c.rule) ? 1 : 0;
    if (c.stage == 3) verdict = CheckDerivative(c.rule, c.position, c.v) ? 1 : 0;
    return verdict == 1 ? float4(0.0, 1.0, 0.0, 1.0) : float4(1.0, 0.0, 0.0, 1.0);
}
)";
}

TEST(ArithmeticTest, EveryStageComputesWhatDirect3DDefines) {
    ASSERT_LE(std::size(kRules), 64u);
    Xvfb server;
    Desktop desktop{server.Name()};
    ScratchDir dir;
    dir.Write("main.fx", Shader());
    Program program(dir.Path(), server.Name());
    std::string line;
    ASSERT_TRUE(program.ReadLine(line));
    ASSERT_EQ(line, "Loaded.") << dir.Path();
    const WindowId window = desktop.FindProgramWindow();
    ASSERT_NE(window, 0u);

    static const char *const kStageNames[kStages] = {"vertex", "geometry", "pixel", "pixel"};
    const std::string complaint =
        WaitForPicture(desktop, window, "ArithmeticGrid", [&](const Image &image) -> std::string {
            std::string wrong;
            for (int id = 0; id < 64 * kStages; ++id) {
                const int stage  = id / 64;
                const size_t r   = static_cast<size_t>(id % 64);
                const Rule *rule = stage < 3
                                       ? (r < std::size(kRules) ? &kRules[r] : nullptr)
                                       : (r < std::size(kDerivatives) ? &kDerivatives[r] : nullptr);
                if (!rule) continue;
                const double x = ((id % kColumns) + 0.5) / 8.0 - 1.0;
                const double y = 1.0 - ((id / kColumns) + 0.5) / 8.0;
                if (!Near(image.At(image.X(x), image.Y(y)), {0, 255, 0}, 2))
                    wrong += std::string("\n  ") + kStageNames[stage] + ": " + rule->name;
            }
            return wrong;
        });
    EXPECT_EQ(complaint, "");
}

} // namespace
