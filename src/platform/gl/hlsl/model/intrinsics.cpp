// The built-in functions and object methods of the HLSL model, from the
// HLSL reference, with the Windows compiler's results where vkd3d's tests
// record them: one row per function saying how its arguments combine into
// one type T (by the binary-operator rules, so a scalar splats and a
// longer vector is cut), what component type T is converted to, what
// shapes it accepts and what it returns.
#include "platform/gl/hlsl/model/builder.h"

#include <cstring>

namespace {

enum class Component : unsigned char {
    Keep,    // abs, min, dot: int stays int
    Float,   // sin, length, saturate: bool, int and uint become float
    Uint,    // countbits, reversebits
    Integer, // firstbithigh: int and uint kept, others become uint
};

enum class Shape : unsigned char { Any, NotMatrix, Matrix, Scalar };

enum class Result : unsigned char {
    Same,       // T
    Scalar,     // T's component type
    Bool,       // bool
    BoolShape,  // bool in T's shape
    IntShape,   // int in T's shape (sign, asint)
    UintShape,  //
    FloatShape, //
    Void,
    Float4,     // lit
    Vector3,    // cross
    Transposed, // transpose
};

struct Intrinsic {
    std::string_view name;
    int minArgs, maxArgs;
    int combined; // how many leading arguments make T; the others are out values
    Component component;
    Shape shape;
    Result result;
};

const Intrinsic kIntrinsics[] = {
    {"abs", 1, 1, 1, Component::Keep, Shape::Any, Result::Same},
    {"acos", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"all", 1, 1, 1, Component::Keep, Shape::Any, Result::Bool},
    {"any", 1, 1, 1, Component::Keep, Shape::Any, Result::Bool},
    {"asfloat", 1, 1, 1, Component::Keep, Shape::Any, Result::FloatShape},
    {"asin", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"asint", 1, 1, 1, Component::Keep, Shape::Any, Result::IntShape},
    {"asuint", 1, 1, 1, Component::Keep, Shape::Any, Result::UintShape},
    {"atan", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"atan2", 2, 2, 2, Component::Float, Shape::Any, Result::Same},
    {"ceil", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"clamp", 3, 3, 3, Component::Keep, Shape::Any, Result::Same},
    {"clip", 1, 1, 1, Component::Float, Shape::Any, Result::Void},
    {"cos", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"cosh", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"countbits", 1, 1, 1, Component::Uint, Shape::NotMatrix, Result::Same},
    {"cross", 2, 2, 2, Component::Float, Shape::NotMatrix, Result::Vector3},
    {"ddx", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"ddx_coarse", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"ddx_fine", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"ddy", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"ddy_coarse", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"ddy_fine", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"degrees", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"determinant", 1, 1, 1, Component::Float, Shape::Matrix, Result::Scalar},
    {"distance", 2, 2, 2, Component::Float, Shape::NotMatrix, Result::Scalar},
    {"dot", 2, 2, 2, Component::Keep, Shape::NotMatrix, Result::Scalar},
    {"exp", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"exp2", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"f16tof32", 1, 1, 1, Component::Uint, Shape::NotMatrix, Result::FloatShape},
    {"f32tof16", 1, 1, 1, Component::Float, Shape::NotMatrix, Result::UintShape},
    {"faceforward", 3, 3, 3, Component::Float, Shape::NotMatrix, Result::Same},
    {"firstbithigh", 1, 1, 1, Component::Integer, Shape::NotMatrix, Result::Same},
    {"firstbitlow", 1, 1, 1, Component::Integer, Shape::NotMatrix, Result::Same},
    {"floor", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"fmod", 2, 2, 2, Component::Float, Shape::Any, Result::Same},
    {"frac", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"frexp", 2, 2, 1, Component::Float, Shape::Any, Result::Same},
    {"fwidth", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"isfinite", 1, 1, 1, Component::Float, Shape::Any, Result::BoolShape},
    {"isinf", 1, 1, 1, Component::Float, Shape::Any, Result::BoolShape},
    {"isnan", 1, 1, 1, Component::Float, Shape::Any, Result::BoolShape},
    {"ldexp", 2, 2, 2, Component::Float, Shape::Any, Result::Same},
    {"length", 1, 1, 1, Component::Float, Shape::NotMatrix, Result::Scalar},
    {"lerp", 3, 3, 3, Component::Float, Shape::Any, Result::Same},
    {"lit", 3, 3, 3, Component::Float, Shape::Scalar, Result::Float4},
    {"log", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"log10", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"log2", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"mad", 3, 3, 3, Component::Keep, Shape::Any, Result::Same},
    {"max", 2, 2, 2, Component::Keep, Shape::Any, Result::Same},
    {"min", 2, 2, 2, Component::Keep, Shape::Any, Result::Same},
    {"modf", 2, 2, 1, Component::Float, Shape::Any, Result::Same},
    {"noise", 1, 1, 1, Component::Float, Shape::NotMatrix, Result::Scalar},
    {"normalize", 1, 1, 1, Component::Float, Shape::NotMatrix, Result::Same},
    {"pow", 2, 2, 2, Component::Float, Shape::Any, Result::Same},
    {"radians", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"rcp", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"reflect", 2, 2, 2, Component::Float, Shape::NotMatrix, Result::Same},
    {"refract", 3, 3, 2, Component::Float, Shape::NotMatrix, Result::Same},
    {"reversebits", 1, 1, 1, Component::Uint, Shape::NotMatrix, Result::Same},
    {"round", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"rsqrt", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"saturate", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"sign", 1, 1, 1, Component::Keep, Shape::Any, Result::IntShape},
    {"sin", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"sincos", 3, 3, 1, Component::Float, Shape::Any, Result::Void},
    {"sinh", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"smoothstep", 3, 3, 3, Component::Float, Shape::Any, Result::Same},
    {"sqrt", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"step", 2, 2, 2, Component::Float, Shape::Any, Result::Same},
    {"tan", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"tanh", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
    {"transpose", 1, 1, 1, Component::Keep, Shape::Matrix, Result::Transposed},
    {"trunc", 1, 1, 1, Component::Float, Shape::Any, Result::Same},
};

// Functions of no numeric result the model only needs to know exist.
constexpr std::string_view kVoidIntrinsics[] = {
    "AllMemoryBarrier",
    "AllMemoryBarrierWithGroupSync",
    "DeviceMemoryBarrier",
    "DeviceMemoryBarrierWithGroupSync",
    "GroupMemoryBarrier",
    "GroupMemoryBarrierWithGroupSync",
    "InterlockedAdd",
    "InterlockedAnd",
    "InterlockedCompareExchange",
    "InterlockedCompareStore",
    "InterlockedExchange",
    "InterlockedMax",
    "InterlockedMin",
    "InterlockedOr",
    "InterlockedXor",
    "abort",
    "errorf",
    "printf",
};

const Intrinsic *FindIntrinsic(std::string_view name) {
    for (const Intrinsic &i : kIntrinsics)
        if (name == i.name) return &i;
    return nullptr;
}

// tex1D, tex2Dlod, texCUBEbias, ...: the sampler functions of shader model
// 3, which return float4.
bool IsLegacySampleName(std::string_view name) {
    for (std::string_view stem : {"tex1D", "tex2D", "tex3D", "texCUBE"}) {
        if (name.compare(0, stem.size(), stem) != 0) continue;
        const std::string_view rest = name.substr(stem.size());
        return rest.empty() || rest == "lod" || rest == "grad" || rest == "proj" || rest == "bias";
    }
    return false;
}

bool IsPlainNumeric(const HlslType &t) {
    return t.IsNumeric() && !t.IsArray();
}

HlslScalar ConvertComponent(HlslScalar s, Component c) {
    switch (c) {
    case Component::Keep:
        return s;
    case Component::Float:
        return IsFloatScalar(s) ? s : HlslScalar::Float;
    case Component::Uint:
        return HlslScalar::Uint;
    case Component::Integer:
        return IsIntegerScalar(s) ? s : HlslScalar::Uint;
    }
    return s;
}

// mul(a, b) by the reference's nine forms: a scalar scales the other
// operand; vector·vector is their dot; a vector is a row on the left of a
// matrix and a column on its right. The inner sizes meet at the shorter,
// as the compiler truncates (with a warning).
bool MulType(const HlslType &a, const HlslType &b, HlslType &out, bool &truncates) {
    if (!IsPlainNumeric(a) || !IsPlainNumeric(b)) return false;
    const HlslScalar s = CommonScalar(a.scalar, b.scalar);
    truncates          = false;
    if (a.kind == HlslClass::Scalar || b.kind == HlslClass::Scalar) {
        out         = WithScalar(a.kind == HlslClass::Scalar ? b : a, s);
        out.isConst = false;
        return true;
    }
    // As matrices: a vector on the left is 1xN, on the right Nx1.
    const int aRows    = a.kind == HlslClass::Vector ? 1 : a.rows;
    const int aColumns = a.columns;
    const int bRows    = b.kind == HlslClass::Vector ? b.columns : b.rows;
    const int bColumns = b.kind == HlslClass::Vector ? 1 : b.columns;
    truncates          = aColumns != bRows;
    if (a.kind == HlslClass::Vector && b.kind == HlslClass::Vector)
        out = ScalarType(s);
    else if (a.kind == HlslClass::Vector)
        out = VectorType(s, bColumns);
    else if (b.kind == HlslClass::Vector)
        out = VectorType(s, aRows);
    else
        out = MatrixType(s, aRows, bColumns);
    return true;
}

HlslType ElementOrFloat4(const HlslType &object) {
    return object.templateTypes.empty() ? VectorType(HlslScalar::Float, 4)
                                        : object.templateTypes[0];
}

bool Among(std::string_view name, std::initializer_list<const char *> names) {
    for (const char *n : names)
        if (name == n) return true;
    return false;
}

} // namespace

bool IsIntrinsicName(std::string_view name) {
    if (FindIntrinsic(name) || name == "mul" || IsLegacySampleName(name)) return true;
    for (std::string_view n : kVoidIntrinsics)
        if (name == n) return true;
    return false;
}

bool TypeIntrinsicCall(std::string_view name, const std::vector<HlslType> &args, HlslType &result,
                       std::string &error, bool &truncates) {
    truncates = false;
    error.clear();
    if (name == "mul") {
        if (args.size() != 2 || !MulType(args[0], args[1], result, truncates))
            error = "no form of mul takes these";
        return true;
    }
    if (IsLegacySampleName(name)) {
        const bool hasSampler = !args.empty() && args[0].kind == HlslClass::Object;
        if (!hasSampler || args.size() < 2 || args.size() > 4)
            error = "takes a sampler and coordinates";
        result = VectorType(HlslScalar::Float, 4);
        return true;
    }
    for (std::string_view n : kVoidIntrinsics)
        if (name == n) {
            result = VoidType();
            return true;
        }
    const Intrinsic *intrinsic = FindIntrinsic(name);
    if (!intrinsic) return false;
    const int count = static_cast<int>(args.size());
    if (count < intrinsic->minArgs || count > intrinsic->maxArgs) {
        error = "wrong number of arguments";
        return true;
    }
    // T: the leading arguments combined as a binary operator would.
    HlslType combined = args[0];
    combined.isConst  = false;
    combined.major    = HlslMajority::Default;
    if (!IsPlainNumeric(combined)) {
        error = "numeric arguments expected";
        return true;
    }
    for (int i = 1; i < intrinsic->combined; ++i) {
        bool cut = false;
        if (!CommonType(combined, args[i], combined, &cut)) {
            error = "arguments of shapes that do not combine";
            return true;
        }
        truncates = truncates || cut;
    }
    for (int i = intrinsic->combined; i < count; ++i)
        if (!IsPlainNumeric(args[i])) {
            error = "numeric arguments expected";
            return true;
        }
    const bool isMatrix = combined.kind == HlslClass::Matrix;
    if ((intrinsic->shape == Shape::NotMatrix && isMatrix) ||
        (intrinsic->shape == Shape::Matrix && !isMatrix) ||
        (intrinsic->shape == Shape::Scalar && combined.ComponentCount() != 1) ||
        (name == "determinant" && combined.rows != combined.columns)) {
        error = "arguments of a shape it does not take";
        return true;
    }
    const HlslType t =
        WithScalar(combined, ConvertComponent(combined.scalar, intrinsic->component));
    switch (intrinsic->result) {
    case Result::Same:
        result = t;
        break;
    case Result::Scalar:
        result = ScalarType(t.scalar);
        break;
    case Result::Bool:
        result = ScalarType(HlslScalar::Bool);
        break;
    case Result::BoolShape:
        result = WithScalar(t, HlslScalar::Bool);
        break;
    case Result::IntShape:
        result = WithScalar(t, HlslScalar::Int);
        break;
    case Result::UintShape:
        result = WithScalar(t, HlslScalar::Uint);
        break;
    case Result::FloatShape:
        result = WithScalar(t, HlslScalar::Float);
        break;
    case Result::Void:
        result = VoidType();
        break;
    case Result::Float4:
        result = VectorType(HlslScalar::Float, 4);
        break;
    case Result::Vector3:
        result = VectorType(t.scalar, 3);
        break;
    case Result::Transposed:
        result = MatrixType(t.scalar, t.columns, t.rows);
        break;
    }
    return true;
}

bool ObjectElementType(const HlslType &object, HlslType &element) {
    if (object.kind != HlslClass::Object || object.IsArray()) return false;
    const std::string &n = object.objectName;
    if (n.find("ByteAddress") != std::string::npos || IsSamplerObject(object) ||
        n.find("Stream") != std::string::npos || n.find("Shader") != std::string::npos ||
        n.find("State") != std::string::npos)
        return false;
    if (n.find("Patch") != std::string::npos) {
        if (object.templateTypes.empty()) return false;
        element = object.templateTypes[0];
        return true;
    }
    element = ElementOrFloat4(object);
    return true;
}

bool TypeMethodCall(const HlslType &object, std::string_view name,
                    const std::vector<HlslType> &args, HlslType &result, std::string &error) {
    error.clear();
    if (object.kind != HlslClass::Object || object.IsArray()) return false;
    const std::string &n   = object.objectName;
    const int count        = static_cast<int>(args.size());
    const HlslType element = ElementOrFloat4(object);
    auto takes             = [&](int least, int most) {
        if (count < least || count > most) error = "wrong number of arguments";
        return true;
    };
    if (n.find("Stream") != std::string::npos) {
        // PointStream, LineStream, TriangleStream: the geometry shader's output.
        if (name == "Append") return result = VoidType(), takes(1, 1);
        if (name == "RestartStrip") return result = VoidType(), takes(0, 0);
        return false;
    }
    if (name == "GetDimensions") return result = VoidType(), takes(1, 5);
    if (n.find("ByteAddress") != std::string::npos) {
        if (name == "Load") return result = ScalarType(HlslScalar::Uint), takes(1, 2);
        if (Among(name, {"Load2", "Load3", "Load4"}))
            return result = VectorType(HlslScalar::Uint, name.back() - '0'), takes(1, 2);
        if (n[0] == 'R' && Among(name, {"Store", "Store2", "Store3", "Store4"}))
            return result = VoidType(), takes(2, 2);
        if (n[0] == 'R' && name.compare(0, 11, "Interlocked") == 0)
            return result = VoidType(), takes(2, 4);
        return false;
    }
    if (n == "AppendStructuredBuffer") {
        if (name == "Append") return result = VoidType(), takes(1, 1);
        return false;
    }
    if (n == "ConsumeStructuredBuffer") {
        if (name == "Consume") return result = element, takes(0, 0);
        return false;
    }
    if (n == "RWStructuredBuffer" && Among(name, {"IncrementCounter", "DecrementCounter"}))
        return result = ScalarType(HlslScalar::Uint), takes(0, 0);
    if (name == "Load") {
        if (!ObjectElementType(object, result)) return false;
        return takes(1, 3);
    }
    if (!IsTextureObject(object) || n.find("Buffer") != std::string::npos || n[0] == 'R')
        return false;
    // The sampled textures.
    const bool hasSampler = count > 0 && (args[0].kind == HlslClass::Object);
    if (name == "Sample" || name == "SampleBias" || name == "SampleLevel" || name == "SampleGrad") {
        const int least = name == "Sample" ? 2 : name == "SampleGrad" ? 4 : 3;
        if (!hasSampler) error = "a sampler first";
        return result = element, takes(least, least + 3);
    }
    if (name == "SampleCmp" || name == "SampleCmpLevelZero") {
        if (!hasSampler) error = "a sampler first";
        return result = ScalarType(element.IsNumeric() ? element.scalar : HlslScalar::Float),
               takes(3, 5);
    }
    if (name.compare(0, 6, "Gather") == 0) {
        const bool compares = name.compare(0, 9, "GatherCmp") == 0;
        if (!hasSampler) error = "a sampler first";
        result =
            VectorType(element.IsNumeric() && !compares ? element.scalar : HlslScalar::Float, 4);
        return takes(compares ? 3 : 2, compares ? 5 : 4);
    }
    if (name == "CalculateLevelOfDetail" || name == "CalculateLevelOfDetailUnclamped")
        return result = ScalarType(HlslScalar::Float), takes(2, 2);
    if (name == "GetSamplePosition") return result = VectorType(HlslScalar::Float, 2), takes(1, 1);
    return false;
}
