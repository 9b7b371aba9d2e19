// The typed HLSL model (platform/gl/hlsl/model/model.h) against the
// Windows compiler's record: the types of expressions, the overload each
// call picks, implicit conversions, the scopes and symbols of declarations,
// recovery from broken text, and what each entry point reaches. Where the
// HLSL reference and vkd3d's tests (run on Windows) differ, the tests hold.
#include "platform/gl/hlsl/model/model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

HlslModel Build(const std::string &text) {
    return BuildModel(text, LexHlsl(text, "main.fx"));
}

std::string Errors(const HlslModel &model) {
    std::string all;
    for (const HlslError &e : model.errors)
        if (!e.isWarning) all += std::to_string(e.pos.line) + ": " + e.words + "\n";
    return all;
}

// The last statement of Probe(), which the tables write as an expression.
const HlslExpr *ProbeExpr(const HlslModel &model) {
    for (const HlslFunction &f : model.functions) {
        if (f.name != "Probe" || f.body < 0) continue;
        const HlslStmt &body = model.stmts[f.body];
        if (body.children.empty()) return nullptr;
        const HlslStmt &last = model.stmts[body.children.back()];
        return last.expr >= 0 ? &model.exprs[last.expr] : nullptr;
    }
    return nullptr;
}

struct Probe {
    HlslModel model;
    const HlslExpr *expr;
};

Probe Typed(const std::string &declarations, const std::string &expression) {
    Probe p{Build(declarations + "\nvoid Probe() {\n" + expression + ";\n}\n"), nullptr};
    p.expr = ProbeExpr(p.model);
    return p;
}

struct TypeRow {
    const char *declarations;
    const char *expression;
    const char *type;
};

void CheckTypes(const std::vector<TypeRow> &rows) {
    for (const TypeRow &row : rows) {
        SCOPED_TRACE(std::string(row.declarations) + " | " + row.expression);
        const Probe p = Typed(row.declarations, row.expression);
        ASSERT_NE(p.expr, nullptr);
        EXPECT_EQ(HlslTypeName(p.expr->type), row.type);
        EXPECT_EQ(Errors(p.model), "");
    }
}

// Literals, the built-in type names and their spellings.
TEST(ModelTypes, LiteralsAndTypeNames) {
    CheckTypes({
        {"", "1", "int"},
        {"", "1u", "uint"},
        {"", "0x1F", "int"},
        {"", "0x1Fu", "uint"},
        {"", "1.0", "float"},
        {"", ".5", "float"},
        {"", "5.", "float"},
        {"", "1e-3", "float"},
        {"", "1.0f", "float"},
        {"", "1.5h", "half"},
        {"", "1.0l", "double"},
        {"", "true", "bool"},
        {"vector<float, 3> x;", "x", "const float3"},
        {"matrix<int, 2, 3> x;", "x", "const int2x3"},
        {"static vector v; static matrix m;", "m", "float4x4"},
        {"static bool1x3 x;", "x", "bool1x3"},
        {"static unsigned int x;", "x", "uint"},
        {"static dword x;", "x", "uint"},
        {"static min16float2 a;", "a", "min16float2"},
        {"static min10float a;", "a", "min10float"},
        {"static min12int a;", "a", "min12int"},
        {"static min16uint4x2 a;", "a", "min16uint4x2"},
        {"static int x[4];", "x", "int[4]"},
        {"static float3 x[2][3];", "x[1]", "float3[3]"},
        {"Texture2D t;", "t", "Texture2D<float4>"},
        {"Texture2DMS<float, 4> t;", "t", "Texture2DMS<float, 4>"},
        {"SamplerComparisonState s;", "s", "SamplerComparisonState"},
        {"struct S { float a; };", "S s; s", "S"},
    });
}

// Operators by HLSL's promotion: the later component type of bool < int <
// uint < half < float < double wins; a scalar splats; of two vectors or
// matrices the smaller; bool computes as int; comparisons give bool.
TEST(ModelTypes, Operators) {
    const char *decls = "static float3 v3; static float4 v4; static float2 v2; static int i; "
                        "static uint u; static int2 i2; static uint2 u2; static bool b; "
                        "static half h; static float f; static double d; static min16float m16; "
                        "static min16int mi; static float4x4 m44; static float3x3 m33; "
                        "static float2x2 m22; static int3 i3;";
    CheckTypes({
        {decls, "v3 + i", "float3"},     {decls, "v3 * 2", "float3"},
        {decls, "i2 + u2", "uint2"},     {decls, "i + u", "uint"},
        {decls, "b + b", "int"},         {decls, "h * f", "float"},
        {decls, "h * h", "half"},        {decls, "f + d", "double"},
        {decls, "m16 + f", "float"},     {decls, "mi + i", "int"},
        {decls, "m44 * 2", "float4x4"},  {decls, "m44 + m33", "float3x3"},
        {decls, "v4 + m22", "float4"},   {decls, "v3 < 1", "bool3"},
        {decls, "v3 == i3", "bool3"},    {decls, "i && v2", "bool2"},
        {decls, "!v2", "bool2"},         {decls, "-b", "int"},
        {decls, "~i2", "int2"},          {decls, "i2 << 1u", "int2"},
        {decls, "u << i", "uint"},       {decls, "i & u", "uint"},
        {decls, "i % 3", "int"},         {decls, "v3 % 2", "float3"},
        {decls, "i++", "int"},           {decls, "--v3", "float3"},
        {decls, "v3 += 1", "float3"},    {decls, "f = i", "float"},
        {decls, "b ? v3 : 1", "float3"}, {decls, "b ? i3 : v3", "float3"},
        {decls, "(1, 2.0)", "float"},    {decls, "1 + 2 * 3 < 4 == true", "bool"},
        {decls, "i = u = 3", "int"},
    });
}

// Vectors of different lengths meet at the shorter, with a warning; a
// float3 and a float2x2 do not meet at all.
TEST(ModelTypes, TruncationWarnsAndMismatchFails) {
    Probe p = Typed("static float4 a; static float2 b;", "a + b");
    ASSERT_NE(p.expr, nullptr);
    EXPECT_EQ(HlslTypeName(p.expr->type), "float2");
    ASSERT_EQ(p.model.errors.size(), 1u);
    EXPECT_TRUE(p.model.errors[0].isWarning);
    EXPECT_EQ(p.model.errors[0].kind, HlslErrorKind::Truncation);

    p = Typed("static float3 a; static float2x2 m;", "a + m");
    ASSERT_FALSE(p.model.errors.empty());
    EXPECT_EQ(p.model.errors[0].kind, HlslErrorKind::BadOperands);
    p = Typed("static float f;", "f & 1");
    ASSERT_FALSE(p.model.errors.empty());
    EXPECT_EQ(p.model.errors[0].kind, HlslErrorKind::BadOperands);
}

// Swizzles, matrix swizzles, indexing, members, casts and constructors.
TEST(ModelTypes, AccessCastsAndConstructors) {
    const char *decls = "static float4 v; static float f; static float4x4 m; static float3x2 n; "
                        "static float a[4]; static int2 b[3]; float4 g; "
                        "struct S { float3 p; int n; }; static S s;";
    CheckTypes({
        {decls, "v.xy", "float2"},
        {decls, "v.x", "float"},
        {decls, "v.bgra", "float4"},
        {decls, "v.xxxx", "float4"},
        {decls, "f.xxx", "float3"},
        {decls, "m._m00_m11", "float2"},
        {decls, "m._11", "float"},
        {decls, "m._11_22_33_44", "float4"},
        {decls, "m[0]", "float4"},
        {decls, "n[1]", "float2"},
        {decls, "n[1][0]", "float"},
        {decls, "v[0]", "float"},
        {decls, "a[1]", "float"},
        {decls, "b", "int2[3]"},
        {decls, "b[2].y", "int"},
        {decls, "g", "const float4"},
        {decls, "g.xy", "const float2"},
        {decls, "s.p", "float3"},
        {decls, "s.p.z", "float"},
        {decls, "(float3)v", "float3"},
        {decls, "(int)1.5", "int"},
        {decls, "(S)0", "S"},
        {decls, "(float2)m", "float2"},
        {decls, "float3(1, 2, 3)", "float3"},
        {decls, "float4(v.xyz, 1)", "float4"},
        {decls, "float2x2(v)", "float2x2"},
        {decls, "float4(1, 2, 3, 4).zw", "float2"},
        {decls, "const float2 c = {1, 2}; c", "const float2"},
    });
}

struct ErrorRow {
    const char *declarations;
    const char *expression;
    HlslErrorKind kind;
};

TEST(ModelTypes, RefusedExpressions) {
    const char *decls     = "static float4 v; static float4x4 m; static float3 t; float4 g; "
                            "struct S { float a; }; static S s; Texture2D tex;";
    const ErrorRow rows[] = {
        {decls, "v.xr", HlslErrorKind::BadSwizzle},
        {decls, "t.w", HlslErrorKind::BadSwizzle},
        {decls, "v.xyzwx", HlslErrorKind::BadSwizzle},
        {decls, "m._m44", HlslErrorKind::BadSwizzle},
        {decls, "s.b", HlslErrorKind::NoMember},
        {decls, "s[0]", HlslErrorKind::NotIndexable},
        {decls, "nothing + 1", HlslErrorKind::Undeclared},
        {decls, "g = 1", HlslErrorKind::ConstAssign},
        {decls, "float4(1, 2, 3)", HlslErrorKind::ArgumentCount},
        {decls, "float2(v)", HlslErrorKind::ArgumentCount},
        {decls, "t = (float3)tex", HlslErrorKind::NoConversion},
        {decls, "float3 x = v; float4 y = x", HlslErrorKind::NoConversion},
        {decls, "tex.Nothing(1)", HlslErrorKind::NoMember},
        {decls, "unknown_t x", HlslErrorKind::UnknownType},
    };
    for (const ErrorRow &row : rows) {
        SCOPED_TRACE(row.expression);
        const Probe p = Typed(row.declarations, row.expression);
        bool found    = false;
        for (const HlslError &e : p.model.errors)
            found = found || (e.kind == row.kind && !e.isWarning);
        EXPECT_TRUE(found) << Errors(p.model);
    }
}

// The intrinsics, with the disagreements of the reference and the record
// settled by the record.
TEST(ModelIntrinsics, ResultTypes) {
    const char *decls = "static int i; static uint u; static float f; static bool bo; "
                        "static int2 i2; static int3 i3; static float2 f2; static float3 f3; "
                        "static float4 f4; static float3x3 m33; static float4x4 m44; "
                        "static float4x3 m43; static float3x4 m34; static float3x2 m32; "
                        "static float1x4 m14; sampler2D s2; SamplerState ss; "
                        "Texture2D<float4> t4; Texture2D<float> t1; Texture2D<uint2> tu; "
                        "Buffer<uint4> buf; ByteAddressBuffer raw; "
                        "struct V { float4 p : SV_Position; }; static V vv;";
    CheckTypes({
        {decls, "dot(i3, i3)", "int"},
        {decls, "dot(f3, f3)", "float"},
        {decls, "dot(f, f4)", "float"},
        {decls, "any(f3)", "bool"},
        {decls, "all(i2)", "bool"},
        {decls, "length(i3)", "float"},
        {decls, "distance(i2, i2)", "float"},
        {decls, "mul(2.0, 3.0)", "float"},
        {decls, "mul(i, i)", "int"},
        {decls, "mul(f, f3)", "float3"},
        {decls, "mul(f, m44)", "float4x4"},
        {decls, "mul(f4, f)", "float4"},
        {decls, "mul(f4, f4)", "float"},
        {decls, "mul(f4, m43)", "float3"},
        {decls, "mul(m34, f4)", "float3"},
        {decls, "mul(m43, m32)", "float4x2"},
        {decls, "mul(m14, m44)", "float1x4"},
        {decls, "mul(m33, m33)", "float3x3"},
        {decls, "max(i, f)", "float"},
        {decls, "max(i, u)", "uint"},
        {decls, "min(bo, u)", "uint"},
        {decls, "lerp(f3, f3, f)", "float3"},
        {decls, "abs(i2)", "int2"},
        {decls, "abs(f)", "float"},
        {decls, "saturate(i)", "float"},
        {decls, "saturate(i2)", "float2"},
        {decls, "step(f3, f)", "float3"},
        {decls, "step(i, i)", "float"},
        {decls, "clamp(i, f, f)", "float"},
        {decls, "clamp(i2, 0, 1)", "int2"},
        {decls, "sign(f3)", "int3"},
        {decls, "pow(i, i)", "float"},
        {decls, "sin(i3)", "float3"},
        {decls, "transpose(m43)", "float3x4"},
        {decls, "determinant(m33)", "float"},
        {decls, "cross(f3, f3)", "float3"},
        {decls, "normalize(f3)", "float3"},
        {decls, "reflect(f3, f3)", "float3"},
        {decls, "refract(f3, f3, f)", "float3"},
        {decls, "countbits(i)", "uint"},
        {decls, "firstbithigh(i2)", "int2"},
        {decls, "asuint(f2)", "uint2"},
        {decls, "asfloat(i)", "float"},
        {decls, "asint(f4)", "int4"},
        {decls, "isnan(f2)", "bool2"},
        {decls, "f32tof16(f)", "uint"},
        {decls, "f16tof32(u)", "float"},
        {decls, "lit(f, f, f)", "float4"},
        {decls, "frexp(f3, f3)", "float3"},
        {decls, "modf(f, f)", "float"},
        {decls, "sincos(f, f, f)", "void"},
        {decls, "clip(f)", "void"},
        {decls, "fmod(f2, f)", "float2"},
        {decls, "mad(i, i, i)", "int"},
        {decls, "noise(f2)", "float"},
        {decls, "tex2D(s2, f2)", "float4"},
        {decls, "tex2Dlod(s2, f4)", "float4"},
        {decls, "t4.Sample(ss, f2)", "float4"},
        {decls, "t1.Sample(ss, f2)", "float"},
        {decls, "t1.SampleLevel(ss, f2, 0)", "float"},
        {decls, "t4.SampleGrad(ss, f2, f2, f2)", "float4"},
        {decls, "t4.SampleBias(ss, f2, 1)", "float4"},
        {decls, "t1.SampleCmp(ss, f2, f)", "float"},
        {decls, "t1.SampleCmpLevelZero(ss, f2, f)", "float"},
        {decls, "t4.Load(i3)", "float4"},
        {decls, "tu.Load(i3)", "uint2"},
        {decls, "t1.Gather(ss, f2)", "float4"},
        {decls, "tu.Gather(ss, f2)", "uint4"},
        {decls, "t4.CalculateLevelOfDetail(ss, f2)", "float"},
        {decls, "t4.GetDimensions(u, u)", "void"},
        {decls, "buf[u]", "uint4"},
        {decls, "buf.Load(i)", "uint4"},
        {decls, "raw.Load3(u)", "uint3"},
        {decls, "t4[i2]", "float4"},
    });
}

TEST(ModelIntrinsics, RefusedArguments) {
    const char *decls = "static float1x3 a; static float4x1 b; static float3x4 c; static float f; "
                        "Texture2D t; SamplerState s;";
    for (const char *call : {"length(a)", "length(b)", "determinant(c)", "sin(t)", "dot(f)",
                             "mul(t, f)", "t.Sample(f, f)", "lit(float2(1, 2), f, f)"}) {
        SCOPED_TRACE(call);
        const Probe p = Typed(decls, call);
        ASSERT_FALSE(p.model.errors.empty());
        EXPECT_EQ(p.model.errors[0].kind, HlslErrorKind::NoOverload);
    }
}

// Geometry shader streams and patches: their methods and elements.
TEST(ModelIntrinsics, StreamsAndPatches) {
    CheckTypes({
        {"struct V { float4 p : SV_Position; };", "TriangleStream<V> o; V v; o.Append(v)", "void"},
        {"struct V { float4 p : SV_Position; };", "LineStream<V> o; o.RestartStrip()", "void"},
        {"struct V { float4 p : SV_Position; };", "InputPatch<V, 3> ip; ip[0].p", "float4"},
    });
}

struct OverloadRow {
    const char *declarations;
    const char *call;
    const char *chosen; // the signature, "intrinsic" or "ambiguous"
};

// Which overload a call picks, by the ranking vkd3d's function-overload and
// intrinsic-override tests record for the Windows compiler.
TEST(ModelOverloads, Choice) {
    const OverloadRow rows[] = {
        {"float f(int a) { return 1; } float f(uint a) { return 2; }", "f(1u)", "f(uint)"},
        {"float f(int a) { return 1; } float f(uint a) { return 2; }", "int i = 0; f(i)", "f(int)"},
        {"float f(int a) { return 1; } float f(uint a) { return 2; }", "f(int2(1, 1))", "f(int)"},
        {"void f(float a) {} void f(float1 a) {}", "float x = 1; f(x)", "ambiguous"},
        {"float4 f(float3 x) { return 0; } float4 f(float2 x) { return 1; }",
         "f(float4(0, 0, 0, 0))", "ambiguous"},
        {"float4 f(float4 x) { return 0; } float4 f(int2 x) { return 1; }", "f(int4(0, 0, 0, 0))",
         "f(float4)"},
        {"float4 f(min16int x) { return 2; } float4 f(float x) { return 1; }", "f(int(0))",
         "f(min16int)"},
        {"float4 f(uint x) { return 2; } float4 f(min16int x) { return 1; }", "f(int(0))",
         "f(uint)"},
        {"float4 f(int x) { return 2; } float4 f(min16uint x) { return 1; }", "f(uint(0))",
         "f(int)"},
        {"float4 f(double x) { return 2; } float4 f(int x) { return 1; }", "f(float(0))",
         "f(double)"},
        {"float4 f(float2 x) { return 2; } float4 f(double x) { return 1; }", "f(float(0))",
         "f(float2)"},
        {"float4 f(float2x2 x) { return 2; } float4 f(float4 x) { return 1; }",
         "f(float4(0, 0, 0, 0))", "ambiguous"},
        {"float4 f(float1x3 x) { return 2; } float4 f(float3 x) { return 1; }",
         "f(float4(0, 0, 0, 0))", "ambiguous"},
        {"float f(float a, float b = 1) { return a; }", "f(2.0)", "f(float, float)"},
        {"float f(float a);", "f(2.0)", "f(float)"},
        // A user function of an intrinsic's name hides it where it takes
        // the arguments, even by a splat; elsewhere the intrinsic serves.
        {"float2 max(float2 a, float2 b) { return a + b; }", "max(0.1, 0.2)",
         "max(float2, float2)"},
        {"float2 max(float2 a, float3 b) { return a + b.xy; }",
         "max(float2(0.1, 0.2), float2(0.3, 0.4))", "intrinsic"},
    };
    for (const OverloadRow &row : rows) {
        SCOPED_TRACE(std::string(row.declarations) + " | " + row.call);
        const Probe p = Typed(row.declarations, row.call);
        ASSERT_NE(p.expr, nullptr);
        std::string chosen = p.expr->function >= 0
                                 ? HlslSignature(p.model, p.model.functions[p.expr->function])
                             : !p.expr->intrinsic.empty() ? "intrinsic"
                                                          : "";
        for (const HlslError &e : p.model.errors)
            if (e.kind == HlslErrorKind::Ambiguous) chosen = "ambiguous";
        EXPECT_EQ(chosen, row.chosen) << Errors(p.model);
    }
}

TEST(ModelOverloads, ResultTypeAndNoMatch) {
    Probe p = Typed("float3 f(float3 a) { return a; }", "f(1)");
    ASSERT_NE(p.expr, nullptr);
    EXPECT_EQ(HlslTypeName(p.expr->type), "float3");

    p = Typed("struct S { float a; }; float f(int a) { return a; }", "S s; f(s)");
    ASSERT_FALSE(p.model.errors.empty());
    EXPECT_EQ(p.model.errors.back().kind, HlslErrorKind::NoOverload);

    // A declaration and its definition are one function, whose body a call
    // through the declaration reaches.
    p = Typed("float f(float a); float f(float a) { return a; }", "f(1.0)");
    ASSERT_NE(p.expr, nullptr);
    ASSERT_GE(p.expr->function, 0);
    EXPECT_GE(p.model.functions[p.expr->function].body, 0);
    EXPECT_EQ(p.model.functions.size(), 2u); // f and Probe

    const HlslModel twice = Build("float f(int a) { return 1; }\nfloat f(int a) { return 2; }");
    ASSERT_FALSE(twice.errors.empty());
    EXPECT_EQ(twice.errors[0].kind, HlslErrorKind::Redefinition);
    EXPECT_EQ(twice.errors[0].pos.line, 2);
}

struct ConversionRow {
    const char *from, *to;
    bool converts, truncates;
};

TEST(ModelConversions, ImplicitByShape) {
    const ConversionRow rows[] = {
        {"float", "float4", true, false},        {"float4", "float", true, true},
        {"float4", "float3", true, true},        {"float3", "float4", false, false},
        {"int3", "float3", true, false},         {"float4x4", "float3x3", true, true},
        {"float3x3", "float4x4", false, false},  {"float4", "float2x2", true, false},
        {"float2x2", "float4", true, false},     {"float1x3", "float2", true, true},
        {"float3x3", "float3", false, false},    {"float4x4", "float4", false, false},
        {"float1", "float4x4", true, false},     {"bool2", "int2", true, false},
        {"Texture2D", "Texture2D", true, false}, {"Texture2D", "Texture3D", false, false},
        {"float", "SamplerState", false, false},
    };
    for (const ConversionRow &row : rows) {
        SCOPED_TRACE(std::string(row.from) + " -> " + row.to);
        HlslType from, to;
        ASSERT_TRUE(BuiltinTypeFromName(row.from, from));
        ASSERT_TRUE(BuiltinTypeFromName(row.to, to));
        bool truncates = false;
        EXPECT_EQ(ConvertsImplicitly(from, to, &truncates), row.converts);
        EXPECT_EQ(truncates, row.truncates);
    }
    HlslType array   = ScalarType(HlslScalar::Float);
    array.arraySizes = {2};
    EXPECT_FALSE(ConvertsImplicitly(array, ScalarType(HlslScalar::Float)));
    EXPECT_TRUE(ConvertsImplicitly(array, array));
    EXPECT_TRUE(CastsExplicitly(VectorType(HlslScalar::Float, 4), array));
}

// Declarations that convert: a warning for a narrowing, an error for a
// widening, the initializer list's count against the type's.
TEST(ModelConversions, Declarations) {
    struct Row {
        const char *code;
        int errors, warnings;
    } rows[] = {
        {"static float3 a = float4(1, 2, 3, 4);", 0, 1},
        {"static float4 a = float3(1, 2, 3);", 1, 0},
        {"static float4 a = 1;", 0, 0},
        {"static float3 a = {1, 2, 3};", 0, 0},
        {"static float3 a = {1, 2};", 1, 0},
        {"static float2x2 a = {float2(1, 2), 3, 4};", 0, 0},
        {"static float a[] = {1, 2, 3};", 0, 0},
        {"float3 f() { return float4(0, 0, 0, 0); }", 0, 1},
        {"float4 f() { return float3(0, 0, 0); }", 1, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.code);
        const HlslModel model = Build(row.code);
        int errors = 0, warnings = 0;
        for (const HlslError &e : model.errors)
            ++(e.isWarning ? warnings : errors);
        EXPECT_EQ(errors, row.errors) << Errors(model);
        EXPECT_EQ(warnings, row.warnings);
    }
    const HlslModel model = Build("static float a[] = {1, 2, 3};");
    EXPECT_EQ(HlslTypeName(model.symbols[FindGlobal(model, "a")].type), "float[3]");
}

// Structs with a base, typedefs of every form.
TEST(ModelSymbols, StructsAndTypedefs) {
    CheckTypes({
        {"struct A { float a; }; struct B : A { float2 b; }; static B x;", "x.a", "float"},
        {"struct A { float a; }; struct B : A { float2 b; }; static B x;", "x.b", "float2"},
        {"struct A { float a; }; struct B : A { }; struct C : B { int c; }; static C x;", "x.a",
         "float"},
        {"typedef float3 color;", "color c; c", "float3"},
        {"typedef const float2 cf2;", "cf2 c = {1, 2}; c", "const float2"},
        {"typedef float arr3[3];", "arr3 q; q", "float[3]"},
        {"typedef vector<int, 2> iv2, iv2b;", "iv2b q; q", "int2"},
        {"typedef struct { float u; } Anon;", "Anon a; a.u", "float"},
    });
    const HlslModel model = Build("typedef row_major float4x4 M; M m;");
    EXPECT_EQ(model.symbols[FindGlobal(model, "m")].type.major, HlslMajority::RowMajor);

    // #pragma pack_matrix gives its majority to the matrices declared after
    // it that name none: a typedef keeps the one of its own declaration, a
    // struct member the one of the struct's, code inside functions none.
    const HlslModel packed = Build("#pragma pack_matrix(row_major)\n"
                                   "typedef float2x2 T; struct S { float3x3 m; };\n"
                                   "#pragma pack_matrix(column_major)\n"
                                   "T t; S s; float2x2 c; column_major float2x2 given;\n"
                                   "void f() { float2x2 local = 0; }\n");
    const std::vector<std::pair<const char *, HlslMajority>> majors = {
        {"T", HlslMajority::RowMajor},
        {"t", HlslMajority::RowMajor},
        {"c", HlslMajority::ColumnMajor},
        {"given", HlslMajority::ColumnMajor}};
    for (const auto &[name, major] : majors)
        EXPECT_EQ(packed.symbols[FindGlobal(packed, name)].type.major, major) << name;
    // An array typedef made with no majority is column-major where it is
    // used, a pragma after it notwithstanding.
    const HlslModel arrays = Build("typedef float2x2 A[2];\n#pragma pack_matrix(row_major)\n"
                                   "A a; float2x2 b;\n");
    EXPECT_EQ(arrays.symbols[FindGlobal(arrays, "a")].type.major, HlslMajority::ColumnMajor);
    EXPECT_EQ(arrays.symbols[FindGlobal(arrays, "b")].type.major, HlslMajority::RowMajor);
    const HlslType &s = packed.symbols[FindGlobal(packed, "s")].type;
    ASSERT_TRUE(s.structure);
    EXPECT_EQ(s.structure->fields[0].type.major, HlslMajority::RowMajor);
    for (const HlslSymbol &symbol : packed.symbols)
        if (symbol.name == "local") {
            EXPECT_EQ(symbol.type.major, HlslMajority::Default);
        }

    const Probe p = Typed("struct A { float a; }; struct B : A { float b; }; static B x;", "x.c");
    ASSERT_FALSE(p.model.errors.empty());
    EXPECT_EQ(p.model.errors[0].kind, HlslErrorKind::NoMember);
}

// Storage, registers, semantics and parameters as declared.
TEST(ModelSymbols, Declarations) {
    const HlslModel model =
        Build("static const float k = 2;\n"
              "groupshared float cache[64];\n"
              "extern uniform float4 tint : register(c3);\n"
              "Texture2D<float4> tex : register(t2);\n"
              "cbuffer Frame : register(b1) { float4x4 view : packoffset(c0); float time; };\n"
              "tbuffer Lights { float4 light; }\n"
              "float4 Shade(in float2 uv : TEXCOORD0, out float depth, inout int n,\n"
              "             uniform float scale = 1.0) : SV_Target { depth = 0; return 0; }\n");
    EXPECT_EQ(Errors(model), "");
    auto symbol = [&](const char *name) -> const HlslSymbol & {
        return model.symbols[FindGlobal(model, name)];
    };
    EXPECT_EQ(symbol("k").storage, unsigned(kStatic | kConst));
    EXPECT_EQ(symbol("cache").storage, unsigned(kGroupShared));
    EXPECT_EQ(symbol("tint").storage, unsigned(kExtern | kUniform));
    EXPECT_EQ(symbol("tint").registerName, "c3");
    EXPECT_EQ(symbol("tex").registerName, "t2");
    EXPECT_EQ(symbol("Frame").kind, HlslSymbolKind::Buffer);
    EXPECT_EQ(symbol("Frame").registerName, "b1");
    EXPECT_FALSE(symbol("Frame").isTbuffer);
    EXPECT_TRUE(symbol("Lights").isTbuffer);
    EXPECT_EQ(symbol("view").packOffset, "c0");
    EXPECT_EQ(symbol("time").buffer, FindGlobal(model, "Frame"));
    EXPECT_EQ(symbol("Frame").members.size(), 2u);

    const HlslFunction &f = model.functions[symbol("Shade").function];
    EXPECT_EQ(f.semantic, "SV_Target");
    ASSERT_EQ(f.params.size(), 4u);
    EXPECT_EQ(model.symbols[f.params[0]].semantic, "TEXCOORD0");
    EXPECT_EQ(model.symbols[f.params[0]].storage, unsigned(kIn));
    EXPECT_EQ(model.symbols[f.params[1]].storage, unsigned(kOut));
    EXPECT_EQ(model.symbols[f.params[2]].storage, unsigned(kIn | kOut));
    EXPECT_EQ(model.symbols[f.params[3]].storage, unsigned(kUniform));
    EXPECT_GE(model.symbols[f.params[3]].initializer, 0);
}

// Array sizes from constant expressions; what has no constant value (a
// constant defined by itself, a size past any buffer) is left unsized.
TEST(ModelSymbols, ArraySizes) {
    const struct {
        const char *code;
        const char *type;
    } rows[] = {
        {"static const int N = 4; static float a[N];", "float[4]"},
        {"static const int N = 2; static float a[N * 3 + 1];", "float[7]"},
        {"static const uint N = 0x10; static float a[N / 2 - (1)];", "float[7]"},
        {"static float4 a[2][3];", "float4[2][3]"},
        {"static const int n = n + 1; static float a[n];", "float[]"},
        {"static float a[1e30];", "float[]"},
        {"static int k = 3; static float a[k];", "float[]"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.code);
        const HlslModel model = Build(row.code);
        ASSERT_GE(FindGlobal(model, "a"), 0);
        EXPECT_EQ(HlslTypeName(model.symbols[FindGlobal(model, "a")].type), row.type);
    }
}

// Constant expressions as array sizes take them on Windows
// (array-size-expr.shader_test): computed in the expression's types, with
// the elements, members and swizzles of constants; what is not known while
// compiling has no value.
TEST(ModelConstants, Folding) {
    const struct {
        const char *declarations;
        const char *expression;
        std::vector<double> values; // empty: no constant
    } rows[] = {
        {"", "1 + 2 * 3", {7}},
        {"", "7 / 2", {3}},
        {"", "7.0 / 2", {3.5}},
        {"", "2.5 * 2", {5}},
        {"", "(int)2.9 * 2", {4}},
        {"", "(int)-2.7", {-2}},
        {"", "-7 % 2", {-1}},
        {"", "1 << 3 | 1", {9}},
        {"", "3 > 2 && 1 != 1", {0}},
        {"", "true ? 4 : 5", {4}},
        {"", "0x10 / 4", {4}},
        {"", "int3(1, 2, 3).z", {3}},
        {"", "(float3)float4(1, 2, 3, 4)", {1, 2, 3}},
        {"", "float2(4, 5).yx", {5, 4}},
        {"static const float2 v = {1, 2};", "v.y * 3", {6}},
        {"static const int a[3] = {4, 5, 6};", "a[1] + a[2]", {11}},
        {"static const int2 a[2] = {1, 2, 3, 4};", "a[1]", {3, 4}},
        {"struct S { int a; float2 b; }; static const S s = {1, 2, 3};", "s.b.y", {3}},
        {"struct A { int a; }; struct B : A { int b; }; static const B v = {1, 2};", "v.b", {2}},
        {"static const float2x2 m = 2;", "m._m01 + m._22", {4}},
        {"static const int N = 4; static const int M = N * 2;", "M - 1", {7}},
        {"static const int i = 2.9;", "i", {2}},
        // Not constants: a variable, a division by zero, a chain into itself,
        // an index past the end, a call.
        {"static int k = 3;", "k", {}},
        {"", "1 / 0", {}},
        {"static const int n = n + 1;", "n", {}},
        {"static const int a[2] = {1, 2};", "a[2]", {}},
        {"", "abs(-1)", {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.declarations) + " | " + row.expression);
        const Probe p = Typed(row.declarations, row.expression);
        ASSERT_NE(p.expr, nullptr);
        HlslConstant c;
        const bool known =
            EvaluateConstant(p.model, static_cast<int>(p.expr - p.model.exprs.data()), c);
        EXPECT_EQ(known, !row.values.empty());
        if (known) {
            EXPECT_EQ(c.values, row.values);
        }
    }
}

// Geometry and hull shaders: primitive and stream parameters, patches,
// attributes with strings.
TEST(ModelSymbols, GeometryAndHullShaders) {
    const HlslModel model = Build(R"(
struct V { float4 p : SV_Position; };
[maxvertexcount(3)]
void GS(triangle V input[3], inout TriangleStream<V> stream) {
    for (int i = 0; i < 3; i++) stream.Append(input[i]);
    stream.RestartStrip();
}
struct PC { float e[3] : SV_TessFactor; float i : SV_InsideTessFactor; };
PC Patch(InputPatch<V, 3> ip) { PC pc; pc.e[0] = pc.e[1] = pc.e[2] = 1; pc.i = ip[0].p.x; return pc; }
[domain("tri")] [partitioning("integer")] [outputtopology("triangle_cw")]
[outputcontrolpoints(3)] [patchconstantfunc("Patch")]
V HS(InputPatch<V, 3> ip, uint id : SV_OutputControlPointID) { return ip[id]; }
)");
    EXPECT_EQ(Errors(model), "");
    const HlslFunction &gs = model.functions[model.symbols[FindGlobal(model, "GS")].function];
    EXPECT_EQ(model.symbols[gs.params[0]].storage, unsigned(kPrimitive));
    EXPECT_EQ(HlslTypeName(model.symbols[gs.params[1]].type), "TriangleStream<V>");
    const HlslFunction &hs = model.functions[model.symbols[FindGlobal(model, "HS")].function];
    EXPECT_EQ(hs.attributes.size(), 5u);
    EXPECT_EQ(HlslTypeName(model.symbols[hs.params[0]].type), "InputPatch<V, 3>");
}

// Locals live in their block; a for loop's variable in the loop.
TEST(ModelSymbols, Scopes) {
    const struct {
        const char *body;
        bool undeclared;
    } rows[] = {
        {"for (int i = 0; i < 4; ++i) { float x = i; } ", false},
        {"for (int i = 0; i < 4; ++i) {} i = 1;", true},
        {"{ float y = 1; } y = 2;", true},
        {"float z = 1; { float z = 2; z = 3; }", false},
        {"if (true) { int w; } else { w = 0; }", true},
        {"z = 1; float z;", true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.body);
        const HlslModel model = Build(std::string("void f() { ") + row.body + " }");
        bool undeclared       = false;
        for (const HlslError &e : model.errors)
            undeclared = undeclared || e.kind == HlslErrorKind::Undeclared;
        EXPECT_EQ(undeclared, row.undeclared) << Errors(model);
    }
}

// Broken text: one error recorded, no crash, and the declarations after
// the broken one still read.
TEST(ModelRecovery, BrokenInputs) {
    const struct {
        const char *text;
        const char *after; // a global that must still be declared, or ""
    } rows[] = {
        {"float4 main( : SV_Target { return 0; }\nfloat after;", "after"},
        {"struct S { float a; float b(", ""},
        {"void f() { if (x) { ", ""},
        {"float x = ;\nfloat after = 1;", "after"},
        {"void f() { int a = 1 +; int b = a; }\nfloat after;", "after"},
        {")))]]]}}}", ""},
        {"cbuffer { float a; }\nfloat after;", "after"},
        {"float4 v = float4(1, 2, 3, 4;\nfloat after;", "after"},
        {"void f() { for (int i = 0; i < ; ) {} }\nfloat after;", "after"},
        {"Texture2D<float4 t;\nfloat after;", "after"},
        {"struct S { float a }; float after;", "after"},
        {"float4 main() : { }", ""},
        {"\"unterminated\n;float after;", "after"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        const HlslModel model = Build(row.text);
        EXPECT_TRUE(model.HasErrors());
        if (*row.after) {
            EXPECT_GE(FindGlobal(model, row.after), 0) << Errors(model);
        }
    }
    EXPECT_TRUE(Build("").errors.empty());
}

// Errors are placed where they are, in the file the #line directives name.
TEST(ModelRecovery, ErrorPlaces) {
    const HlslModel model = Build("float a;\n#line 10 \"inc.fxh\"\nfloat b = nothing;\n");
    ASSERT_EQ(model.errors.size(), 1u);
    EXPECT_EQ(model.files[model.errors[0].pos.file], "inc.fxh");
    EXPECT_EQ(model.errors[0].pos.line, 10);
    EXPECT_EQ(model.errors[0].pos.column, 11);
    EXPECT_EQ(model.errors[0].words, "undeclared identifier 'nothing'");
}

// Nesting past the limit is refused with one error, not followed down.
TEST(ModelRecovery, DeepNesting) {
    const std::string parens =
        "float x = " + std::string(2000, '(') + "1" + std::string(2000, ')') + ";\nfloat after;";
    const std::string unary = "float x = " + std::string(5000, '-') + "1;";
    std::string assigns     = "void f() { float a; ";
    for (int i = 0; i < 3000; ++i)
        assigns += "a = ";
    assigns += "1; }";
    const std::string blocks = "void f() " + std::string(3000, '{') + std::string(3000, '}');
    for (const std::string &text : {parens, unary, assigns, blocks}) {
        const HlslModel model = Build(text);
        bool tooDeep          = false;
        for (const HlslError &e : model.errors)
            tooDeep = tooDeep || e.kind == HlslErrorKind::TooDeep;
        EXPECT_TRUE(tooDeep);
    }
    EXPECT_GE(FindGlobal(Build(parens), "after"), 0);
}

// Random bytes and random token soup: the model holds, every error placed
// inside the text and their count bounded.
TEST(ModelRecovery, RandomInputs) {
    const char *const soup[] = {"float4", "(",  ")",       "{", "}",         ";",    "x",
                                "=",      "1",  "struct",  "[", "]",         ",",    ".",
                                "return", "if", "<",       ">", "cbuffer",   ":",    "?",
                                "for",    "+",  "typedef", "S", "Texture2D", "1.5h", "-"};
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 400);
        for (int i = 0; i < length; ++i) {
            if (round % 2) {
                text += static_cast<char>(random() % 256);
            } else {
                text += soup[random() % (sizeof(soup) / sizeof(soup[0]))];
                text += ' ';
            }
        }
        const LexedHlsl lexed = LexHlsl(text, "main.fx");
        const HlslModel model = BuildModel(text, lexed);
        EXPECT_LE(model.errors.size(), 200u);
        for (const HlslError &e : model.errors) {
            EXPECT_LE(e.pos.token, lexed.tokens.size());
            EXPECT_GE(e.pos.line, 1);
            EXPECT_LT(static_cast<size_t>(e.pos.file), model.files.size());
        }
    }
}

std::vector<std::string> Names(const HlslModel &model, const std::vector<int> &symbols) {
    std::vector<std::string> names;
    for (int s : symbols)
        names.push_back(model.symbols[s].name);
    return names;
}

std::vector<std::string> FunctionNames(const HlslModel &model, const std::vector<int> &functions) {
    std::vector<std::string> names;
    for (int f : functions)
        names.push_back(model.functions[f].name);
    return names;
}

using Strings = std::vector<std::string>;

// Each entry point reaches its own buffer, textures and helpers; a read of
// one member reaches the whole buffer; a static's initializer is read by
// whoever reads the static.
TEST(ModelReach, PerEntryPoint) {
    const HlslModel model = Build(R"(
cbuffer PerFrame : register(b0) { float4x4 viewProj; float time; };
cbuffer PerDraw : register(b1) { float4 tint; float unusedInDraw; };
Texture2D<float4> albedo : register(t0);
Texture2D<float4> unused : register(t1);
SamplerState linearSampler : register(s0);
float4 loose;
static float phase = time * 2;
float4 Wave(float4 p) { return p + phase; }
float4 Helper(float2 uv) { return albedo.Sample(linearSampler, uv) * tint; }
float4 VS(float4 p : POSITION) : SV_Position { return mul(Wave(p), viewProj); }
float4 PS(float2 uv : TEXCOORD0) : SV_Target { return Helper(uv) + loose; }
)");
    ASSERT_EQ(Errors(model), "");
    const HlslReach vs = ReachOf(model, "VS");
    EXPECT_TRUE(vs.found);
    EXPECT_EQ(FunctionNames(model, vs.functions), (Strings{"VS", "Wave"}));
    EXPECT_EQ(Names(model, vs.buffers), (Strings{"PerFrame"}));
    EXPECT_EQ(Names(model, vs.globals), (Strings{"phase"}));
    EXPECT_TRUE(vs.textures.empty());
    EXPECT_TRUE(vs.samplers.empty());

    const HlslReach ps = ReachOf(model, "PS");
    EXPECT_EQ(FunctionNames(model, ps.functions), (Strings{"PS", "Helper"}));
    EXPECT_EQ(Names(model, ps.buffers), (Strings{"PerDraw"}));
    EXPECT_EQ(Names(model, ps.globals), (Strings{"loose"}));
    EXPECT_EQ(Names(model, ps.textures), (Strings{"albedo"}));
    EXPECT_EQ(Names(model, ps.samplers), (Strings{"linearSampler"}));

    EXPECT_FALSE(ReachOf(model, "Missing").found);
}

// Effect files: state blocks, techniques and shader compiles are skipped as
// such, leaving the functions and variables around them whole.
TEST(ModelReach, EffectFiles) {
    const HlslModel model = Build(R"(
float4x4 World : WORLD < string UIName = "World"; >;
texture DiffuseTex;
sampler DiffuseSampler = sampler_state { Texture = <DiffuseTex>; MinFilter = Linear; };
SamplerState PointSampler { Filter = MIN_MAG_MIP_POINT; };
struct VSOut { float4 pos : SV_Position; float2 uv : TEXCOORD0; };
VSOut VS(float4 p : POSITION) { VSOut o; o.pos = mul(p, World); o.uv = p.xy; return o; }
float4 PS(VSOut i) : COLOR { return tex2D(DiffuseSampler, i.uv); }
technique11 Main < string Script = "x"; > {
    pass P0 { SetVertexShader(CompileShader(vs_4_0, VS())); SetPixelShader(NULL); }
}
technique Old { pass P0 { VertexShader = compile vs_2_0 VS(); } }
VertexShader Compiled = CompileShader(vs_4_0, VS());
)");
    EXPECT_EQ(Errors(model), "");
    EXPECT_EQ(Names(model, ReachOf(model, "VS").globals), (Strings{"World"}));
    EXPECT_EQ(Names(model, ReachOf(model, "PS").samplers), (Strings{"DiffuseSampler"}));
    EXPECT_GE(FindGlobal(model, "Main"), 0);
    EXPECT_GE(FindGlobal(model, "Compiled"), 0);
}

// Statements of every kind parse into their nodes.
TEST(ModelStatements, Kinds) {
    const HlslModel model = Build(R"(
[numthreads(8, 8, 1)]
void CS(uint3 id : SV_DispatchThreadID) {
    [unroll] for (int i = 0; i < 4; i++) { if (i == 2) continue; else break; }
    int n = 0;
    while (n < 3) n++;
    do { n--; } while (n > 0);
    switch (n) { case 0: n = 1; break; default: break; }
    [branch] if (n) discard;
    return;
}
)");
    EXPECT_EQ(Errors(model), "");
    const HlslFunction &cs = model.functions[0];
    EXPECT_EQ(cs.attributes, (Strings{"numthreads(8,8,1)"}));
    const std::vector<int> &body = model.stmts[cs.body].children;
    std::vector<HlslStmtKind> kinds;
    for (int s : body)
        kinds.push_back(model.stmts[s].kind);
    EXPECT_EQ(kinds,
              (std::vector<HlslStmtKind>{HlslStmtKind::For, HlslStmtKind::Decl, HlslStmtKind::While,
                                         HlslStmtKind::Do, HlslStmtKind::Switch, HlslStmtKind::If,
                                         HlslStmtKind::Return}));
    EXPECT_EQ(model.stmts[body[0]].attributes, (Strings{"unroll"}));
    EXPECT_EQ(model.stmts[body[5]].attributes, (Strings{"branch"}));
}

// The Windows compiler's warnings, each with the expression it names: a
// truncation (with the function whose argument it cuts), a conversion to a
// smaller component type, which a literal without a suffix never makes.
TEST(ModelWarnings, TruncationAndNarrowing) {
    struct Row {
        const char *expression;
        const char *warnings; // "T" truncation, "T'f'" of an argument of f, "N" narrowing
        bool refused = false;
    };
    const Row rows[] = {
        {"float3 t = v4", "T"},
        {"float3 t = v4.xyz", ""},
        {"float x = f(v4)", "T'f'"},
        {"float3 s = v4 + v4.xyz", "T"},
        {"float2 s = x > 0 ? v4.xy : v4", "T"},
        {"min16float m = x", "N"},
        {"min16float m = 0.5 * m16", ""},
        {"min16float m = 0.5f * m16", "N"},
        {"m16 += 0.5", ""},
        {"m16 *= x", "N"},
        {"float2 s = 1; s += v4", "T"},
        {"v4 += v4.xy", "", true},
        {"min16float m = m16 > 0 ? 1 : x", "N"},
        {"int i = x", ""},
        {"min12int i = m16i", "N"},
        {"min16int i = m12i", ""},
        {"bool b = x", ""},
        {"float4 c = t.Sample(s, v4.xyz)", "T'Sample'"},
        {"float4 c = t.SampleLevel(s, v4.xy, 0)", ""},
        {"float4 c = cube.Sample(s, v4.xyz)", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.expression);
        const Probe p = Typed("static float4 v4; static float x; static min16float m16;\n"
                              "static min16int m16i; static min12int m12i;\n"
                              "Texture2D t; TextureCube cube; SamplerState s;\n"
                              "float f(float2 a) { return a.x; }",
                              row.expression);
        std::string warnings;
        for (const HlslError &e : p.model.errors) {
            if (!e.isWarning) continue;
            warnings += e.kind == HlslErrorKind::Narrowing ? "N" : "T";
            if (!e.callee.empty()) warnings += "'" + e.callee + "'";
            ASSERT_GE(e.expr, 0);
        }
        EXPECT_EQ(Errors(p.model).empty(), !row.refused);
        EXPECT_EQ(warnings, row.warnings);
    }
}

// An expression's text runs from its first token, parentheses included, to
// its last character.
TEST(ModelExpressions, Spans) {
    const Probe p = Typed("float4 v; float f(float a) { return a; }", "(v.x + 2) * f(v.y)");
    ASSERT_NE(p.expr, nullptr);
    EXPECT_EQ(p.expr->start.line, 3);
    EXPECT_EQ(p.expr->start.column, 1);
    EXPECT_EQ(p.expr->end.column, 18);
    const HlslExpr &sum = p.model.exprs[p.expr->children[0]];
    EXPECT_EQ(sum.start.column, 1);
    EXPECT_EQ(sum.end.column, 9);
}

// Forms that read like a missing ';' and are not: several semantics, state
// blocks after any variable, 'unsigned' before a typedef, strings that
// continue; and a keyword where a name belongs, which is one.
TEST(ModelSyntax, SeparatorsWhereWindowsWantsThem) {
    EXPECT_EQ(Errors(Build("typedef int Int;\nunsigned Int u;\nstring s = \"a\" \"b\";\n"
                           "struct V { float4 p : A : B; };\nfloat g : register(c1) {};\n"
                           "float4 main(V v) : C : SV_Target { float a {}; return v.p * u; }\n")),
              "");
    const HlslModel model = Build("struct A { float a; }\nstruct B { float b; };\n");
    ASSERT_FALSE(model.errors.empty());
    EXPECT_EQ(model.errors[0].expected, ";");
    EXPECT_EQ(model.errors[0].token, "struct");
    EXPECT_EQ(model.errors[0].pos.line, 2);
}

} // namespace

// A later pass finds the model's expressions in the text that earlier
// passes edited: through insertions before, around and inside them, and a
// replacement of a whole one; an expression an edit cut into is not found,
// nor is text a pass wrote.
TEST(ModelPlaces, FollowTheEdits) {
    std::string text      = "float f(float a, float b) {\n"
                            "    float c = (a + b) * length(float2(a, b));\n"
                            "    return c - b;\n"
                            "}\n";
    LexedHlsl lexed       = LexHlsl(text, "main.fx");
    const HlslModel model = BuildModel(text, lexed);
    auto at               = [&](const char *span) { return text.find(span); };

    Edits first; // an insertion before everything, a wrap, a rename
    ASSERT_TRUE(first.Add(0, 0, "static const float k = 1;\n"));
    ASSERT_TRUE(first.Wrap(at("float2(a, b)"), at("float2(a, b)") + 12, "(", ")"));
    ASSERT_TRUE(first.Add(at("length"), 6, "hf_length"));
    first.Apply(text, lexed);
    Edits second; // within "c - b", and across the end of "c - b"
    ASSERT_TRUE(second.Add(at("c - b") + 1, 3, " * "));
    ASSERT_TRUE(second.Add(at("b;"), 2, "b ;"));
    second.Apply(text, lexed);

    const HlslPlaces places(model, lexed);
    const struct {
        const char *span;
        const char *type; // null: no expression there
    } rows[] = {
        {"(a + b)", "float"},
        {"a + b", "float"},
        {"float2(a, b)", "float2"},
        {"((float2(a, b)))", "float2"},
        {"hf_length((float2(a, b)))", "float"},
        {"(a + b) * hf_length((float2(a, b)))", "float"},
        {"1", nullptr},     // the inserted declaration
        {"c * b", nullptr}, // the cut one
        {"b) *", nullptr},  // no expression's span
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.span);
        const size_t begin = text.find(row.span);
        ASSERT_NE(begin, std::string::npos);
        const int e = places.At(text, begin, begin + std::strlen(row.span));
        if (!row.type) {
            EXPECT_EQ(e, -1);
            continue;
        }
        ASSERT_GE(e, 0);
        EXPECT_EQ(HlslTypeName(model.exprs[e].type), row.type);
    }
    const int call = places.CallAt(text.find("hf_length"));
    ASSERT_GE(call, 0);
    EXPECT_EQ(model.exprs[call].text, "length");
}
