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
    // glslang's own macros are undefined, the standard ones stay.
    {"ps_4_0",
     "#if defined(VULKAN) || defined(GL_SPIRV) || defined(GL_core_profile) || "
     "defined(GL_ARB_gpu_shader5) || defined(E_GL_EXT_shader_atomic_int64)\n"
     "#error a glslang macro\n#endif\n#if __LINE__ != 4\n#error a line moved\n#endif\n" PS(
         "return __LINE__;"),
     nullptr},
    // const on a return type means nothing; a const parameter is not written.
    {"ps_4_0",
     "const float3x3 inv(const float3x3 m);\nstatic const float3x3 g = inv((float3x3)2);\n"
     "const float3x3 inv(const float3x3 m) { return m; }\n"
     "static const float f(const in float x) { return x; }\n" PS(
         "const float3x3 k = inv(g); const float y = f(k[0].x); return y;"),
     nullptr},
    {"ps_4_0", "float f(const float x) { x = 2; return x; }\n" PS("return f(1);"),
     "error X3025: l-value specifies const object"},
    // Buffers that share a register: each reserves it once, read or not, and
    // an entry point may read one of those at a register (the Windows
    // record: register-reservations-numeric.shader_test).
    {"ps_4_0",
     "cbuffer A0 : register(b0) { float4 a0; };\ncbuffer A1 : register(b1) { float4 a1; "
     "};\ncbuffer A2 : register(b2) { float4 a2; };\ncbuffer A3 : register(b0) { float4 a3; "
     "};\ncbuffer A4 : register(b1) { float4 a4; };\ncbuffer A5 : register(b2) { float4 a5; "
     "};\ncbuffer A6 : register(b0) { float4 a6; };\ncbuffer A7 : register(b1) { float4 a7; "
     "};\ncbuffer A8 : register(b2) { float4 a8; };\ncbuffer A9 : register(b0) { float4 a9; "
     "};\ncbuffer A10 : register(b1) { float4 a10; };\ncbuffer A11 : register(b2) { float4 a11; "
     "};\ncbuffer A12 : register(b0) { float4 a12; };\ncbuffer A13 : register(b1) { float4 a13; "
     "};\ncbuffer A14 : register(b2) { float4 a14; };\ncbuffer A15 : register(b0) { float4 a15; "
     "};\ncbuffer A16 : register(b1) { float4 a16; };\ncbuffer A17 : register(b2) { float4 a17; "
     "};\ncbuffer A18 : register(b0) { float4 a18; };\ncbuffer A19 : register(b1) { float4 a19; "
     "};\ncbuffer A20 : register(b2) { float4 a20; };\ncbuffer A21 : register(b0) { float4 a21; "
     "};\n" PS("return a4 + a8 + a3;"),
     nullptr},
    {"ps_4_0",
     "cbuffer B1_0 : register(b1) { float4 b1_0; };\ncbuffer B1_1 : register(b1) { float4 b1_1; "
     "};\ncbuffer B1_2 : register(b1) { float4 b1_2; };\ncbuffer B4_0 : register(b4) { float4 "
     "b4_0; };\ncbuffer B4_1 : register(b4) { float4 b4_1; };\ncbuffer B4_2 : register(b4) { "
     "float4 b4_2; };\ncbuffer B6_0 : register(b6) { float4 b6_0; };\ncbuffer B6_1 : register(b6) "
     "{ float4 b6_1; };\ncbuffer B6_2 : register(b6) { float4 b6_2; };\ncbuffer B9_0 : "
     "register(b9) { float4 b9_0; };\ncbuffer B9_1 : register(b9) { float4 b9_1; };\ncbuffer B9_2 "
     ": register(b9) { float4 b9_2; };\n" PS("return b1_2 + b4_0 + b6_1 + b9_2;"),
     nullptr},
    {"ps_4_0",
     "cbuffer P : register(b0) { float4 p; };\ncbuffer Q : register(b0) { float4 q; };\n" PS(
         "return p + q;"),
     "overlapping register semantics not yet implemented 'b0'"},
    {"ps_4_0",
     "float g;\ncbuffer U0 : register(b0) { float4 u0; };\ncbuffer U1 : register(b1) { float4 u1; "
     "};\ncbuffer U2 : register(b2) { float4 u2; };\ncbuffer U3 : register(b3) { float4 u3; "
     "};\ncbuffer U4 : register(b4) { float4 u4; };\ncbuffer U5 : register(b5) { float4 u5; "
     "};\ncbuffer U6 : register(b6) { float4 u6; };\ncbuffer U7 : register(b7) { float4 u7; "
     "};\ncbuffer U8 : register(b8) { float4 u8; };\ncbuffer U9 : register(b9) { float4 u9; "
     "};\ncbuffer U10 : register(b10) { float4 u10; };\ncbuffer U11 : register(b11) { float4 u11; "
     "};\ncbuffer U12 : register(b12) { float4 u12; };\n"
     "cbuffer U13 : register(b13) { float4 u13; };\n" PS("return g + u0;"),
     "constant buffers"},
    // Textures and samplers alike; a profile before the register is no register.
    {"ps_4_0",
     "Texture2D a : register(t0); Texture2D b : register(t0); SamplerState s : register(ps, "
     "s0);\nSamplerState z : register(ps_4_0, s1);\n" PS("return b.Sample(s, 0) + a.Load(0);"),
     "overlapping register semantics not yet implemented 't0'"},
    {"ps_4_0",
     "Texture2D a : register(t0); Texture2D b : register(t0); SamplerState s : register(ps, "
     "s0);\nTexture2D c : register(ps, t1);\n" PS("return b.Sample(s, 0) + c.Load(0);"),
     nullptr},
    // A struct returned as another of the same component types; not of others.
    {"vs_4_0",
     "struct I { float4 pos : POSITION; float2 uv : TEXCOORD0; };\n"
     "struct O { float4 pos : SV_Position; float2 uv : TEXCOORD0; };\n"
     "struct P { float2 a[3]; };\nP Pairs(O o) { return o; }\n"
     "O main(I input) { O o = input; if (Pairs(o).a[1].x > 0) return input; return o; }",
     nullptr},
    {"vs_4_0",
     "struct A { float a; };\nstruct B { int b; };\nB f(A x) { return x; }\n"
     "float4 main() : SV_Position { A a = {1}; return f(a).b; }",
     "error X3017: cannot convert from 'struct A' to 'struct B'"},
    // Numbers and objects in one static variable, through a base structure,
    // a typedef, an array or a local; apart they are fine.
    {"ps_4_0",
     "struct A { SamplerState s; };\nstruct B : A { float4 v; };\nstatic B b;\n" PS("return 0;"),
     "'b': a static variable cannot hold both numeric and object components"},
    {"ps_4_0", "typedef struct { Texture2D t; float f; } T;\n" PS("static T l[2]; return 0;"),
     "'l': a static variable cannot hold both numeric and object components"},
    {"ps_4_0",
     "struct O { Texture2D t; };\nstruct N { float f; };\nstatic O o; static N n;\n" PS(
         "return n.f;"),
     nullptr},
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
    // The untyped texture has no methods.
    {"ps_4_0", "Texture t;\nSamplerState s;\n" PS("return t.Sample(s, float2(0, 0));"),
     "an untyped texture has no methods"},
    // Overloads, as Windows picks them; an unused double overload compiles.
    {"ps_4_0",
     "float f(int a) { return 1; }\nfloat f(min16int a) { return 2; }\n" PS(
         "return f((min16int)1) + f(1);"),
     nullptr},
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
    // A static initialised by a call.
    {"ps_4_0", "float g() { return 0.6; }\nstatic float a = g() + 0.2;\n" PS("return a;"), nullptr},
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
     "error X3025: l-value specifies const object"},
    {"ps_4_0", "void add(inout float x) { x += 3; }\n" PS("add(0.2); return 0;"),
     "error X3025: l-value specifies const object"},
    {"ps_4_0", "float f(float x);\nint f(float x) { return 1; }\n" PS("return f(2);"),
     "different return type"},
    {"ps_4_0", "void add(inout float2 x) { x += 3; }\n" PS("float2 v = 0; add(v.yy); return 0;"),
     "must be a variable"},
    {"ps_4_0",
     "float4 f;\nvoid set(out float4 o) { o = f; }\n" PS("float4 x; set((int4)x); return x;"),
     nullptr},
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
    // A scalar spread over an int, uint or bool matrix, converted to its elements.
    {"ps_4_0",
     "float f; uint u;\n" PS("int2x2 a = (int2x2)f; uint3x2 b = (uint3x2)f; bool2x2 c = f; "
                             "int4x4 d = (int4x4)u; return float4(a[1], c[0] + b[2] + d[3].xy);"),
     nullptr},
    // mul() of a scalar, and of integer and mixed vectors and matrices.
    {"ps_4_0",
     "float4 v; int4 k; int4x4 m; uint4x2 n;\n" PS(
         "return mul(2, v) + mul(v, 3) + mul(k, m) + mul(m, k) + mul(n, v.xy).x + mul(v, k);"),
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
    // Integers and floats in one buffer whose packing std140 cannot express.
    {"ps_4_0",
     "struct S { float a; int i; float3 b; };\ncbuffer C { S s[2]; uint c; }\n" PS(
         "return float4(s[1].b, s[1].i + c);"),
     nullptr},
    // #pragma pack_matrix on typedefs, structure members and several names.
    {"ps_4_0",
     "#pragma pack_matrix(row_major)\ntypedef float2x2 T[2];\nstruct S { float3x2 m; };\n"
     "matrix<float, 2, 3> a, b;\n#pragma pack_matrix(column_major)\nT t;\nS s;\n" PS(
         "return float4(t[1][0], s.m[2]) + a[0].x + b[1].y;"),
     nullptr},
    {"ps_4_0",
     "#pragma pack_matrix(row_major)\ntypedef float2x2 T;\ncolumn_major T m;\n" PS(
         "return m[0].x;"),
     "contradicts the 'row_major'"},
    // 13 cbuffers, $Globals and $Params are over the 14 slots.
    {"ps_4_0",
     "#define B(n) cbuffer c##n { float4 x##n; }\nB(0) B(1) B(2) B(3) B(4) B(5) B(6) B(7) B(8) "
     "B(9) B(10) B(11) B(12)\nfloat4 g;\nfloat4 main(uniform float4 p) : SV_Target { return g "
     "* p; }",
     "constant buffers there are"},
    // The entry point's prototype, with other semantics, before its definition.
    {"ps_4_0",
     "float4 main(float4 p : bogus) : bogus;\nfloat4 main(float4 p : SV_Position) : SV_Target { "
     "return p; }",
     nullptr},
    // A global const without a value is a uniform.
    {"ps_4_0", "const float4 a;\nuniform const float4 b;\n" PS("return a + b;"), nullptr},
    {"ps_4_0",
     "struct I { nointerpolation centroid float4 t : TEXCOORD0; };\n"
     "float4 main(I i) : SV_Target { return i.t; }",
     "'nointerpolation' does not go with 'centroid'"},
    // An input array of structures reads one element's semantics.
    {"vs_4_0",
     "struct A { float4 p : POSITION; };\n"
     "float4 main(A a[2][2]) : SV_Position { return a[1][0].p + a[0][1].p; }",
     nullptr},
    // One-row and one-column matrices of every majority in buffers and
    // structures, and a copy of a structure holding an array.
    {"ps_4_0",
     "struct S { float a; float3x1 m; float b[2]; };\ncbuffer C { float c; S s; float1x3 n; "
     "row_major float2x1 r; row_major float1x2 q; float1x1 k; }\n" PS(
         "S t = s; t.m[0][0] += 1; return float4(t.m._m00_m10, t.b[1], determinant(r)) + "
         "mul(n, t.m) + n[0].x + r[1][0] + q._m01 + k;"),
     nullptr},
    // Matrices among the inputs and outputs take one semantic per column.
    {"vs_4_0",
     "void main(float4 p : POSITION, float4x3 w : WORLD, out float2x3 t[2] : TEXCOORD0, out "
     "float4 o : SV_Position) { o = float4(mul(p, w), 1); t[0] = w; t[1] = 0; }",
     nullptr},
    {"vs_4_0",
     "struct O { row_major float2x3 t[2] : TEXCOORD0; float4 o : SV_Position; };\n"
     "O main(row_major float4x3 w : WORLD) { O r; r.o = float4(w[0], 1); r.t[0] = r.t[1] = 0; "
     "return r; }",
     nullptr},
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
     "outside the range -8 to 7"},
    {"ps_4_0", "extern static float4 g;\n" PS("return g;"), "'extern' and 'static'"},
    {"ps_4_0", PS("float4 r = 0; [unroll] [loop] for (int i = 0; i < 4; i++) r.x += i; return r;"),
     "can't use loop and unroll"},
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
    // A semantic on a structure-typed entry parameter whose members carry
    // their own: glslang crashed on it in a geometry input, and read the
    // whole structure as the built-in in a pixel one.
    {"gs_4_0",
     "struct V { float4 p : SV_Position; };\n[maxvertexcount(1)] void main(point V i[1] : "
     "SV_POSITION, inout PointStream<V> o) { o.Append(i[0]); }",
     nullptr},
    {"ps_4_0",
     "struct S { float4 p : SV_Position; bool f : SV_IsFrontFace; };\nfloat4 main(S s : "
     "SV_POSITION) : SV_Target { return s.f ? s.p : 0; }",
     nullptr},
    // bool semantics between stages (bool-semantics.shader_test), which
    // SPIR-V allows among the inputs and outputs only as built-ins.
    {"vs_4_0",
     "void main(float4 p : POSITION, bool4 on : ON, out float4 o : SV_Position, out bool2 m[2] : "
     "MASK) { o = p; m[0] = on.xy; m[1] = !on.zw; }",
     nullptr},
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
