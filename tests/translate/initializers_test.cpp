// The initialiser pass (platform/gl/hlsl/initializers.h) on its own: the
// text it leaves for brace initialisers, static variables without one,
// array sizes, componentwise casts, assignments, arguments and returns, and
// the casts it refuses. The expected texts are what Windows reads the source
// as (vkd3d's initializer-*, array-size-expr, static-initializer and
// cast-componentwise-* records), in the shape glslang takes.
#include "platform/gl/hlsl/initializers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

struct Shaped {
    std::string text;
    bool ok = false;
    std::string messages; // "main.fx(line,column): words", one a line
};

// The one place the pass is called: the model is built from the text it
// rewrites.
Shaped Shape(const std::string &source) {
    Shaped out;
    out.text         = source;
    LexedHlsl lexed  = LexHlsl(out.text, "main.fx");
    const auto model = BuildModel(out.text, lexed);
    Diagnostics diagnostics;
    out.ok = ShapeInitializers(out.text, lexed, model, diagnostics);
    for (const Diagnostic &d : diagnostics.items)
        out.messages += d.file + "(" + std::to_string(d.line) + "," + std::to_string(d.column) +
                        "): " + (d.code.empty() ? "" : d.code + ": ") + d.text + "\n";
    return out;
}

// A source and the text the pass leaves; null: the source as it is.
struct Row {
    const char *source;
    const char *shaped;
};

template <size_t N> void Check(const Row (&rows)[N]) {
    for (const Row &row : rows) {
        SCOPED_TRACE(row.source);
        const Shaped s = Shape(row.source);
        EXPECT_TRUE(s.ok);
        EXPECT_EQ(s.messages, "");
        EXPECT_EQ(s.text, row.shaped ? row.shaped : row.source);
    }
}

#define F(body) "float4 f() { " body " return 0; }"

// Values broken into components fill the variable's components in order,
// whatever braces they stand in; a value that spans members is read by
// swizzle, member or index.
TEST(ShapeInitializers, FlattenedValuesFillVectorsMatricesStructsAndArrays) {
    const Row rows[] = {
        {F("float4 v = {1, float2(2, 3), 4};"), F("float4 v = float4(1, float2 ( 2 , 3 ), 4);")},
        {"struct S { int3 a; float4 b; };\n" F("S s = {1, 2, float2(3, 4), int3(5, 6, 7)};"),
         "struct S { int3 a; float4 b; };\n" F("S s = {int3(1, 2, float2 ( 3 , 4 ).x), "
                                               "float4(float2 ( 3 , 4 ).y, int3 ( 5 , 6 , 7 ))};")},
        {"struct S { float a; int b; };\n" F("S s = {2, 3}; float4 v = {1, s, 4};"),
         "struct S { float a; int b; };\n" F("S s = {2, 3}; float4 v = float4(1, s.a, s.b, 4);")},
        {F("int4 i = {10, 20, 30, 40}; float4 a[3] = {1, i, i, 2, 3, 4};"),
         F("int4 i = {10, 20, 30, 40}; float4 a[3] = {float4(1, i.x, i.y, i.z), "
           "float4(i.w, i.x, i.y, i.z), float4(i.w, 2, 3, 4)};")},
        // A float2 across two members.
        {"struct S { float a; float3 b; };\n" F("float2 p = {1, 2}; S s = {p, 3, 4};"),
         "struct S { float a; float3 b; };\n" F(
             "float2 p = {1, 2}; S s = {float(p.x), float3(p.y, 3, 4)};")},
        // An inherited struct: the base's members first.
        {"struct A { float a; };\nstruct B : A { float2 b; };\n" F("B v = {1, 2, 3};"),
         "struct A { float a; };\nstruct B : A { float2 b; };\n" F(
             "B v = {float(1), float2(2, 3)};")},
        // Matrices fill row by row, and are read so.
        {F("float4 x = 1; float3x2 m = {11, x, 32};"),
         F("float4 x = 1; float3x2 m = float3x2(11, x, 32);")},
        {F("float2x2 m = 1; float2 a[2] = {m};"),
         F("float2x2 m = 1; float2 a[2] = {float2(m._m00, m._m01), float2(m._m10, m._m11)};")},
        {"typedef float2 pairs[2];\n" F("pairs p = {1, 2, 3, 4};"),
         "typedef float2 pairs[2];\n" F("pairs p = {float2(1, 2), float2(3, 4)};")},
        // The lines the initialiser spanned stay, after it.
        {F("float2 p = 1; float4 v = {p,\n3,\n4};"),
         F("float2 p = 1; float4 v = float4(p, 3, 4)\n\n;")},
    };
    Check(rows);
}

// What glslang reads as Windows does already, and what the pass cannot
// tell, stay as written.
TEST(ShapeInitializers, CShapedAndUntypedInitialisersStay) {
    const Row rows[] = {
        {F("float4 v = {1, 2, 3, 4};"), nullptr},
        {F("float4 a[2] = {{1, 2, 3, 4}, {5, 6, 7, 8}};"), nullptr},
        {"struct S { float2 a; float2 b; };\n" F("S s = {float2(1, 2), float2(3, 4)};"), nullptr},
        // Scalars that intrinsics return.
        {F("float3 n = 1; float4 v = {dot(n, n), length(n), distance(n, n), 1};"), nullptr},
        {F("float4 q = 1; float4 a[2] = {q, unknownThing};"), nullptr},
        // Counts Windows refuses are left to glslang's errors.
        {F("float4 v = {1, 2, 3, 4, 5};"), nullptr},
        {F("float2 p = 1; float4 v = {p,\n#line 9 \"other.fx\"\n3, 4};"), nullptr},
    };
    Check(rows);
}

// An array declared without a size gets the one its initialiser gives.
TEST(ShapeInitializers, ImplicitArraySizes) {
    const Row rows[] = {
        {F("float4 a[] = {10, 20, 30, 40, 50, 60, 70, 80};"),
         F("float4 a[2] = {float4(10, 20, 30, 40), float4(50, 60, 70, 80)};")},
        {F("float2 a[][3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};"),
         F("float2 a[2][3] = {{float2(1, 2), float2(3, 4), float2(5, 6)}, "
           "{float2(7, 8), float2(9, 10), float2(11, 12)}};")},
        {F("float4 a[2] = {1, 2, 3, 4, 5, 6, 7, 8}; float4 b[] = a;"),
         F("float4 a[2] = {float4(1, 2, 3, 4), float4(5, 6, 7, 8)}; float4 b[2] = a;")},
        {"struct A { float3 x; float4 y; };\nstruct B { A a; int2 b; float4 c[2]; };\n" F(
             "B p[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};"),
         "struct A { float3 x; float4 y; };\nstruct B { A a; int2 b; float4 c[2]; };\n" F(
             "B p[1] = {{{float3(1, 2, 3), float4(4, 5, 6, 7)}, int2(8, 9), "
             "{float4(10, 11, 12, 13), float4(14, 15, 16, 17)}}};")},
    };
    Check(rows);
}

// The count of a value's components follows from its expression: the
// operators' shapes, ternaries, swizzles, members, indices and calls.
TEST(ShapeInitializers, ValuesCountedByTheirExpressions) {
    const Row rows[] = {
        {F("float3 n = 1; float4 v = {max(n, 0), 1};"),
         F("float3 n = 1; float4 v = float4(max ( n , 0 ), 1);")},
        // The overload the call picks gives the value's type.
        {"float2 pick(float x) { return x; }\nfloat3 pick(float3 x) { return x; }\n" F(
             "float4 a[] = {pick(1.0), pick(1.0), pick(1.0), pick(1.0)};"),
         "float2 pick(float x) { return x; }\nfloat3 pick(float3 x) { return x; }\n" F(
             "float4 a[2] = {float4(pick ( 1.0 ), pick ( 1.0 )), float4(pick ( 1.0 ), pick ( 1.0 "
             "))};")},
        // Operands of other sizes truncate to the smaller.
        {F("float2 a = 1; float4 v = {max(a, float3(1, 2, 3)), 1, 2};"),
         F("float2 a = 1; float4 v = float4(max ( a , float3 ( 1 , 2 , 3 ) ), 1, 2);")},
        {F("float2 a = 1; float4 v = {a.x * a.y + 1, a, 3};"),
         F("float2 a = 1; float4 v = float4(a . x * a . y + 1, a, 3);")},
        {F("bool c = true; float2 a = 1; float4 v = {c ? 1 : 2, a, 4};"),
         F("bool c = true; float2 a = 1; float4 v = float4(c ? 1 : 2, a, 4);")},
        {F("float2 a = 1; float4 v = {a.x > 0 ? a : a.yx, 3, 4};"),
         F("float2 a = 1; float4 v = float4(a . x > 0 ? a : a . yx, 3, 4);")},
        {F("float2 a = 1; float3 b = 1; float4 v = {a + (a.x ? b : b), 3, 4};"),
         F("float2 a = 1; float3 b = 1; float4 v = float4(a + ( a . x ? b : b ), 3, 4);")},
        {F("float4 q = 1; float4 v = {(float2)q, 3, 4};"),
         F("float4 q = 1; float4 v = float4(( float2 ) q, 3, 4);")},
        {"struct P { float3 p; };\nstruct Q { P a[2]; float w; };\n" F(
             "Q q = {1, 2, 3, 4, 5, 6, 7}; float4 v = {q.a[1].p.xy, q.w, q.a[0].p.z};"),
         "struct P { float3 p; };\nstruct Q { P a[2]; float w; };\n" F(
             "Q q = {{{float3(1, 2, 3)}, {float3(4, 5, 6)}}, float(7)}; "
             "float4 v = float4(q . a [ 1 ] . p . xy, q . w, q . a [ 0 ] . p . z);")},
        {F("float3x3 m = 1; float4 v = {m[1][2], m[0]};"),
         F("float3x3 m = 1; float4 v = float4(m [ 1 ] [ 2 ], m [ 0 ]);")},
        {F("float2x2 m = 1; float2 a = 1; float4 v = {m._11, m._m00_m11, a.x};"),
         F("float2x2 m = 1; float2 a = 1; float4 v = float4(m . _11, m . _m00_m11, a . x);")},
        {"float2 h(float4 v) { return v.xy; }\n" F("float4 q = 1; float4 v = {h(q), h(q).x, 2};"),
         "float2 h(float4 v) { return v.xy; }\n" F(
             "float4 q = 1; float4 v = float4(h ( q ), h ( q ) . x, 2);")},
    };
    Check(rows);
}

// Windows zeroes a static variable without an initialiser.
TEST(ShapeInitializers, StaticsWithoutInitialiserGetZeros) {
    const Row rows[] = {
        {"struct S { float a; float2 b; };\nstatic S g;",
         "struct S { float a; float2 b; };\nstatic S g = {float(0), float2(0, 0)};"},
        {"static float2 a, b[2];",
         "static float2 a = float2(0, 0), b[2] = {float2(0, 0), float2(0, 0)};"},
        {F("static float k;"), F("static float k = float(0);")},
        // Constants glslang zeroes itself; uniforms; objects; large arrays.
        {"static const float c;\nfloat u;\nstatic Texture2D t;\nstatic float big[300];", nullptr},
    };
    Check(rows);
}

// Sizes that are constant expressions become the numbers glslang folds.
TEST(ShapeInitializers, ArraySizesFoldToNumbers) {
    const Row rows[] = {
        {"static const int N = 2;\n" F("float a[N + 1] = {1, 2, 3};"),
         "static const int N = 2;\n" F("float a[3] = {1, 2, 3};")},
        {"static const int2 D = {2, 3};\nstatic const float F = 4.7;\n" F("float a[D.y][(int)F];"),
         "static const int2 D = {2, 3};\nstatic const float F = 4.7;\n" F("float a[3][4];")},
        {"static const int N = 3;\nstruct S { float v[N - 1]; };\nvoid f(float a[N]) {}",
         "static const int N = 3;\nstruct S { float v[2]; };\nvoid f(float a[3]) {}"},
        {"static const struct { float f; float2x3 m[2]; } a = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, "
         "5, 1};\nfloat g[a.m[1]._13_22_21.zxy.z];",
         "static const struct { float f; float2x3 m[2]; } a = {float(0), {float2x3(1, 1, 1, 1, 1, "
         "1), float2x3(1, 1, 1, 1, 5, 1)}};\nfloat g[5];"},
        {F("const int n = 4; float b[4.1]; float c[n]; float d[true] = {1};"),
         F("const int n = 4; float b[4]; float c[4]; float d[1] = {1};")},
        // The lines the size spanned stay, after the number.
        {"static const int N = 3;\nfloat g[N\n+ 1];", "static const int N = 3;\nfloat g[4\n];"},
    };
    Check(rows);
}

// Matrices of one row or one column, read as the matrices written: by
// _mRC, row by row.
TEST(ShapeInitializers, OneRowAndOneColumnMatrices) {
    const Row rows[] = {
        {F("float1x3 m = {1, 2, 3};"), nullptr},
        {F("float3x1 m = {1, float2(2, 3)};"), F("float3x1 m = float3x1(1, float2 ( 2 , 3 ));")},
        {"struct S { float1x3 a; float3x1 b; };\n" F("S s = {1, 2, 3, 4, 5, 6};"),
         "struct S { float1x3 a; float3x1 b; };\n" F(
             "S s = {float1x3(1, 2, 3), float3x1(4, 5, 6)};")},
        {F("float1x3 m = 1; float4 v = {m, 4};"),
         F("float1x3 m = 1; float4 v = float4(m._m00, m._m01, m._m02, 4);")},
        {F("float3x1 m = 1; float4 v = {m, 4};"),
         F("float3x1 m = 1; float4 v = float4(m._m00, m._m10, m._m20, 4);")},
    };
    Check(rows);
}

// A local of a struct that holds an array of objects: one assignment per
// member and element, on which glslang does not crash.
TEST(ShapeInitializers, StructsHoldingObjectArraysAssignEachMember) {
    const Row rows[] = {
        {"Texture2D t0;\nTexture2D t1;\nstruct M { Texture2D t[2]; float k; };\n" F(
             "M m = {t0, t1, 2};"),
         "Texture2D t0;\nTexture2D t1;\nstruct M { Texture2D t[2]; float k; };\n" F(
             "M m ; m.t[0] = t0; m.t[1] = t1; m.k = float(2);")},
        // Not a global's, which no assignment can follow.
        {"Texture2D t0;\nTexture2D t1;\nstruct M { Texture2D t[2]; };\nstatic M g = {t0, t1};",
         nullptr},
    };
    Check(rows);
}

// A numeric constructor reads an array or struct argument as its
// components; glslang takes them spelled out.
TEST(ShapeInitializers, ConstructorArgumentsSpreadArraysAndStructs) {
    const Row rows[] = {
        {"float4 f() { float a[4] = {1, 2, 3, 4}; return float4(a); }",
         "float4 f() { float a[4] = {1, 2, 3, 4}; return float4(a[0], a[1], a[2], a[3]); }"},
        {"struct S { float a; float2 b; };\n"
         "float4 f(float c[1], S s) { return float4(c, s); }",
         "struct S { float a; float2 b; };\n"
         "float4 f(float c[1], S s) { return float4(c[0], s.a, s.b); }"},
        {"struct S { float a; float2 b; };\nfloat4 f(S s) { float4 v; v = float4(s, 4).wzyx; "
         "return v; }",
         "struct S { float a; float2 b; };\nfloat4 f(S s) { float4 v; v = float4(s.a, s.b, "
         "4).wzyx; return v; }"},
        {"float4 f(float2x2 m) { return float4(m); }", nullptr},
        // In a declaration's initialiser too.
        {"float4 f(float a[3]) { float4 v = float4(a, 4); return v; }",
         "float4 f(float a[3]) { float4 v = float4(a[0], a[1], a[2], 4); return v; }"},
        {"struct S { float a; float b; };\nfloat4 f(S s) { float2 v = float2(s); return 0; }",
         "struct S { float a; float b; };\nfloat4 f(S s) { float2 v = float2(s.a, s.b); return 0; "
         "}"},
    };
    Check(rows);
}

// Casts, assignments, initialisers, arguments and returns between types of
// other shapes whose components Windows converts one by one: a call of a
// generated function. reads: the value that function builds (null: the
// value is written out in place, as for a global); use: a piece of the text
// where the cast or value stood (null: the source stays as it is).
TEST(ShapeInitializers, ComponentwiseConversions) {
    const struct {
        const char *source;
        const char *reads;
        const char *use;
    } rows[] = {
        {"struct A { float3 a; int b; };\nfloat4 f(float v[4]) { A a = (A) v; return 0; }",
         "{{float3(value[0], value[1], value[2]), int(value[3])}}", "A a = hf_convert0(v).v;"},
        {"float4 f(float v[5]) { int4 i = (int4) v; return i; }",
         "{int4(value[0], value[1], value[2], value[3])}", "int4 i = hf_convert0(v).v;"},
        {"struct A { int2 a; float2 b; };\nfloat4 f(A a) { float2x2 m = (float2x2) a; return 0; }",
         "{float2x2(value.a.x, value.a.y, value.b.x, value.b.y)}",
         "float2x2 m = hf_convert0(a).v;"},
        {"struct A { float3 a; int b; };\nfloat4 f(float2x2 m) { A a = (A) m; return 0; }",
         "{{float3(value._m00, value._m01, value._m10), int(value._m11)}}",
         "A a = hf_convert0(m).v;"},
        {"Texture2D t;\nstruct A { int2 a; Texture2D b; float c; };\n"
         "struct B { float a[2]; Texture2D b; int c; };\n"
         "float4 f(A a) { B b = (B) a; return 0; }",
         "{{{float(value.a.x), float(value.a.y)}, value.b, int(value.c)}}",
         "B b = hf_convert0(a).v;"},
        {"struct S { float2 a; float b; };\nfloat4 f(float3 v) { S s = (S) v; return 0; }",
         "{{float2(value.x, value.y), float(value.z)}}", "S s = hf_convert0(v).v;"},
        // One row or one column: as many components or fewer.
        {"float4 f(float a[5]) { int1x4 m = (int1x4) a; return 0; }",
         "{int4(value[0], value[1], value[2], value[3])}", "int1x4 m = hf_convert0(a).v;"},
        {"float4 f(float4x1 m) { int a[3] = (int[3]) m; return 0; }",
         "{{int(value.x), int(value.y), int(value.z)}}", "int a[3] = hf_convert0(m).v;"},
        {"float4 f(float1x4 m) { float2x2 n = (float2x2) m; return 0; }",
         "{float2x2(value.x, value.y, value.z, value.w)}", "float2x2 n = hf_convert0(m).v;"},
        // A global's initialiser is written out: glslang takes no call there.
        {"float4 v;\nstatic float2 d[2] = (float2[2]) v;", nullptr,
         "static float2 d[2] = {float2(v.x, v.y), float2(v.z, v.w)};"},
        // Structs and arrays of the same component types: assignments,
        // initialisers, arguments and returns.
        {"struct A { float3 a; float b; };\nfloat4 f(float v[4]) { A a; a = v; return 0; }",
         "{{float3(value[0], value[1], value[2]), float(value[3])}}", "a = hf_convert0(v).v;"},
        {"struct A { float2 p; };\nstruct B { float x; float y; };\n"
         "float4 f(A a) { B b = a; return b.x; }",
         "{{float(value.p.x), float(value.p.y)}}", "B b = hf_convert0(a).v;"},
        {"Texture2D t;\nstruct A { int2 a; Texture2D b; float c; };\n"
         "struct B { int a[2]; Texture2D b; float c; };\n"
         "float4 g(B b) { return b.c; }\nfloat4 f(A a) { return g(a); }",
         "{{{int(value.a.x), int(value.a.y)}, value.b, float(value.c)}}",
         "return g(hf_convert0(a).v);"},
        {"struct I { float4 p : POSITION; float2 uv : TEXCOORD0; };\n"
         "struct O { float4 p : SV_Position; float2 uv : TEXCOORD0; };\n"
         "O main(I i) { return i; }",
         "{{float4(value.p.x, value.p.y, value.p.z, value.p.w), float2(value.uv.x, value.uv.y)}}",
         "O main(I i) { return hf_convert0(i).v; }"},
        // Left as they are: component types that differ, fewer components
        // of a vector, a matrix cut to a smaller one, a scalar spread.
        {"struct A { float3 a; int b; };\nfloat4 f(float v[4]) { A a; a = v; return 0; }", nullptr,
         nullptr},
        {"float4 f(float4 v) { int3 i = (int3) v; return 0; }", nullptr, nullptr},
        {"float4 f(float3x3 m) { float2x2 n = (float2x2) m; return 0; }", nullptr, nullptr},
        {"float4 f(float2x2 m) { float1x2 a = (float1x2) m; float2x1 b = (float2x1) m; return 0; }",
         nullptr, nullptr},
        {"float4 f(float4 v, float1x4 m) { int1x3 a = (int1x3) v; int3 b = (int1x3) m; return 0; }",
         nullptr, nullptr},
        {"float4 f(float4x1 m) { int3 a = (int3) m; return 0; }", nullptr, nullptr},
        {"struct S { float2 a; float b; };\nfloat4 f() { S s = (S) 0; return 0; }", nullptr,
         nullptr},
        // An assignment to a member or element converts as one to a variable.
        {"struct A { float2 a; float b; };\nstruct B { float a; float2 b; };\n"
         "struct W { B b; };\nfloat4 f(A a) { W w; w.b = a; return 0; }",
         "{{float(value.a.x), float2(value.a.y, value.b)}}", "w.b = hf_convert0(a).v;"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.source);
        const Shaped s = Shape(row.source);
        EXPECT_TRUE(s.ok);
        EXPECT_EQ(s.messages, "");
        if (!row.use) {
            EXPECT_EQ(s.text, row.source);
            continue;
        }
        EXPECT_NE(s.text.find(row.use), std::string::npos) << s.text;
        if (row.reads)
            EXPECT_NE(s.text.find(std::string("r = ") + row.reads + "; return r; }"),
                      std::string::npos)
                << s.text;
        else
            EXPECT_EQ(s.text.find("struct hf_"), std::string::npos) << s.text;
    }
}

// The casts Windows refuses: into fewer components than the source's, but
// more than one, from a matrix of several rows and columns or into a matrix
// of several rows. The message is placed at the cast's '('; ends: how it
// ends where it names a struct, whose spelling is left open.
TEST(ShapeInitializers, RefusedCasts) {
    const struct {
        const char *source;
        const char *message;
        const char *ends;
    } rows[] = {
        {"float4 f(float2x2 m) { float3 v = (float3) m; return 0; }",
         "main.fx(1,35): X3017: cannot convert from 'float2x2' to 'float3'\n", nullptr},
        {"float4 f(float2x2 m) { float2 v = (float2) m; return 0; }",
         "main.fx(1,35): X3017: cannot convert from 'float2x2' to 'float2'\n", nullptr},
        {"float4 f(float2x2 m) { int a[3]; a = (int[3]) m; return 0; }",
         "main.fx(1,38): X3017: cannot convert from 'float2x2' to 'int[3]'\n", nullptr},
        {"float4 f(float a[5]) { float2x2 m = (float2x2) a; return 0; }",
         "main.fx(1,37): X3017: cannot convert from 'float[5]' to 'float2x2'\n", nullptr},
        {"float4 f(float4 v) {\n  float3x1 m = (float3x1) v;\n  return 0;\n}",
         "main.fx(2,16): X3017: cannot convert from 'float4' to 'float3x1'\n", nullptr},
        {"struct A { float2 a; float3 b; };\nfloat4 f(A a) { float2x2 m = (float2x2) a; return 0; "
         "}",
         "main.fx(2,30): X3017: cannot convert from 'struct A' to 'float2x2'\n", nullptr},
        {"struct A { float2 a; float2 b; };\nfloat4 f(float3x2 m) { A a = (A) m; return 0; }",
         "main.fx(2,30): X3017: cannot convert from 'float3x2' to 'struct A'\n", nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.source);
        const Shaped s = Shape(row.source);
        EXPECT_FALSE(s.ok);
        if (!row.ends) {
            EXPECT_EQ(s.messages, row.message);
            continue;
        }
        const std::string &m = s.messages;
        const size_t n       = std::strlen(row.ends);
        EXPECT_EQ(m.rfind(row.message, 0), 0u) << m;
        EXPECT_TRUE(m.size() >= n && m.compare(m.size() - n, n, row.ends) == 0) << m;
        EXPECT_EQ(std::count(m.begin(), m.end(), '\n'), 1) << m;
    }
}

} // namespace
