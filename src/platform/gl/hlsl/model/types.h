// The one type of the HLSL model: every value, variable, parameter and
// expression has an HlslType, and every rule about types (the names the
// Windows compiler prints, the implicit conversions it allows, the common
// type of a binary operator) is a function here, so the parser, the typer
// and the overload resolution agree on them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Scalar component types, in the order of the binary-operator promotion:
// of two operands, the component type later in this list wins. The
// minimum-precision types sit below the full type of their kind, so an
// int meets a min16int as int, and a float meets a min16float as float.
enum class HlslScalar : unsigned char {
    Bool,
    Min12Int,
    Min16Int,
    Int,
    Min16Uint,
    Uint,
    Min10Float,
    Min16Float,
    Half,
    Float,
    Double,
};

enum class HlslClass : unsigned char {
    Void,
    Scalar,
    Vector,
    Matrix,
    Struct,
    Object, // textures, buffers, samplers, streams, patches, shader and state objects
    String,
    Error, // an expression whose type could not be decided; it matches anything quietly
};

enum class HlslMajority : unsigned char { Default, RowMajor, ColumnMajor };

struct HlslStruct;

struct HlslType {
    HlslClass kind     = HlslClass::Error;
    HlslScalar scalar  = HlslScalar::Float; // of a scalar, vector or matrix
    int rows           = 1;                 // of a matrix; 1 otherwise
    int columns        = 1;                 // of a matrix or the size of a vector
    HlslMajority major = HlslMajority::Default;
    bool isConst       = false;
    std::vector<int> arraySizes;                 // outermost first; 0 for an unsized dimension
    std::string objectName;                      // "Texture2D", "SamplerState", "TriangleStream"
    std::vector<HlslType> templateTypes;         // Texture2D<float4>: float4; InputPatch<V, 3>: V
    std::vector<int> templateNumbers;            // Texture2DMS<float4, 8>: 8; InputPatch<V, 3>: 3
    std::shared_ptr<const HlslStruct> structure; // of a struct

    bool IsNumeric() const {
        return kind == HlslClass::Scalar || kind == HlslClass::Vector || kind == HlslClass::Matrix;
    }
    bool IsArray() const { return !arraySizes.empty(); }
    int ComponentCount() const { return IsNumeric() ? rows * columns : 0; }
};

struct HlslField {
    std::string name;
    HlslType type;
    std::string semantic;
    std::vector<std::string> modifiers; // nointerpolation, linear, centroid, ...
    int line = 0, column = 0, file = 0; // where its name stands
    size_t token  = 0;                  // its name's code token
    size_t offset = 0;                  // and that token's offset in the text
};

struct HlslStruct {
    std::string name; // empty for an anonymous struct
    std::shared_ptr<const HlslStruct> base;
    std::vector<HlslField> fields; // its own, without the base's
};

HlslType ScalarType(HlslScalar s);
HlslType VectorType(HlslScalar s, int size);
HlslType MatrixType(HlslScalar s, int rows, int columns);
// A scalar, vector or matrix of the given component type with the shape of t.
HlslType WithScalar(const HlslType &t, HlslScalar s);
// The type without its outermost array dimension, and without const.
HlslType ElementType(const HlslType &t);
HlslType VoidType();
HlslType ErrorType();

// The type a built-in name spells without template arguments: "float3",
// "int", "bool1x3", "dword", "half", "vector" (float4), "matrix" (float4x4),
// "Texture2D", "SamplerState", "string". False for any other name.
bool BuiltinTypeFromName(std::string_view name, HlslType &out);
// Whether the name may spell a scalar, vector or matrix type: each starts
// with one of these letters. A pass that asks of every word of a file
// skips the others at this cost.
inline bool MaybeNumericTypeName(std::string_view name) {
    return !name.empty() && std::string_view("bdfhimuv").find(name[0]) != std::string_view::npos;
}
// Whether the name is one of the object types that take template
// arguments or are objects without them (Texture2D, sampler, PointStream).
bool IsObjectTypeName(std::string_view name);
bool IsTextureObject(const HlslType &t);
bool IsSamplerObject(const HlslType &t);

// The type as the Windows compiler prints it in its messages.
std::string HlslTypeName(const HlslType &t);
const char *HlslScalarName(HlslScalar s);

// Whether two types are the same, const and majority aside.
bool SameType(const HlslType &a, const HlslType &b);
bool IsFloatScalar(HlslScalar s);
bool IsIntegerScalar(HlslScalar s); // bool aside

// Whether a value of type from converts implicitly to type to, as for an
// assignment, an argument or a return: numeric types by their shapes (a
// scalar to anything, anything to a scalar, a vector or matrix to a narrower
// one, a vector and a matrix of as many components), other types only to
// themselves. `truncates` tells of a narrowing, which Windows warns about.
bool ConvertsImplicitly(const HlslType &from, const HlslType &to, bool *truncates = nullptr);
// Whether an explicit cast (to)from is allowed: any implicit conversion,
// and a numeric value to a struct or array of as many components or more.
bool CastsExplicitly(const HlslType &from, const HlslType &to);

// The type both operands of an arithmetic, bitwise or comparison operator
// are converted to: the component type later in HlslScalar's order, the
// shape by the truncation rules. False when their shapes do not combine
// (a float3 and a float2x2). `truncates` tells of a vector or matrix cut
// to the other's size. Bool operands stay bool here; the operators that
// compute on them promote them to int.
bool CommonType(const HlslType &a, const HlslType &b, HlslType &out, bool *truncates = nullptr);
HlslScalar CommonScalar(HlslScalar a, HlslScalar b);
// The 32-bit component type a minimum-precision one holds below shader
// model 6 (min16float and min10float hold a float, min16int and min12int an
// int, min16uint a uint); any other as it is.
HlslScalar FullPrecision(HlslScalar s);

// The components v.xyz, v.rgba, s.xx, m._m00_m11, m._11 read, in order: a
// vector's by letter, a matrix's as row * columns + column; false where the
// swizzle is none of t's (or reads more than four).
bool SwizzleComponents(const HlslType &t, std::string_view swizzle, std::vector<int> &out);

// How many scalar components the type holds, arrays and struct members
// counted; 0 for objects and strings.
int FlattenedCount(const HlslType &t);
