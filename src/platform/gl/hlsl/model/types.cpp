// The rules of HlslType (types.h): built-in type names, the names the
// Windows compiler prints, implicit conversions and common types.
#include "platform/gl/hlsl/model/types.h"

#include <algorithm>
#include <unordered_set>
#include <cstring>

namespace {

struct ScalarName {
    const char *name;
    HlslScalar scalar;
};

// The names that take a size suffix (float3, int2x2), longest first so that
// "min16float" is not read as "min16f..." of something shorter.
const ScalarName kScalarNames[] = {
    {"min16float", HlslScalar::Min16Float},
    {"min10float", HlslScalar::Min10Float},
    {"min16uint", HlslScalar::Min16Uint},
    {"min16int", HlslScalar::Min16Int},
    {"min12int", HlslScalar::Min12Int},
    {"double", HlslScalar::Double},
    {"float", HlslScalar::Float},
    {"dword", HlslScalar::Uint},
    {"half", HlslScalar::Half},
    {"bool", HlslScalar::Bool},
    {"uint", HlslScalar::Uint},
    {"int", HlslScalar::Int},
};

// Object types; textures and buffers without a template argument hold float4.
constexpr std::string_view kTextureNames[] = {
    "Texture1D",
    "Texture1DArray",
    "Texture2D",
    "Texture2DArray",
    "Texture3D",
    "TextureCube",
    "TextureCubeArray",
    "Texture2DMS",
    "Texture2DMSArray",
    "Buffer",
    "StructuredBuffer",
    "ByteAddressBuffer",
    "RWTexture1D",
    "RWTexture1DArray",
    "RWTexture2D",
    "RWTexture2DArray",
    "RWTexture3D",
    "RWBuffer",
    "RWStructuredBuffer",
    "RWByteAddressBuffer",
    "AppendStructuredBuffer",
    "ConsumeStructuredBuffer",
    "texture",
    "texture1D",
    "texture2D",
    "texture3D",
    "textureCUBE",
    "Texture",
};
constexpr std::string_view kSamplerNames[] = {
    "SamplerState", "SamplerComparisonState", "sampler", "sampler1D", "sampler2D", "sampler3D",
    "samplerCUBE",  "sampler_state",
};
constexpr std::string_view kOtherObjectNames[] = {
    "PointStream",       "LineStream",      "TriangleStream",   "InputPatch",
    "OutputPatch",       "VertexShader",    "PixelShader",      "GeometryShader",
    "HullShader",        "DomainShader",    "ComputeShader",    "BlendState",
    "DepthStencilState", "RasterizerState", "RenderTargetView", "DepthStencilView",
};

template <size_t N> bool InList(const std::string_view (&list)[N], std::string_view name) {
    for (std::string_view n : list)
        if (name == n) return true;
    return false;
}

// The texture types whose template argument is the element type and which
// hold float4 when none is given (the structured buffers need one).
bool DefaultsToFloat4(std::string_view name) {
    return name.find("Texture") != std::string_view::npos || name == "Buffer" || name == "RWBuffer";
}

bool IsOneComponent(const HlslType &t) {
    return t.IsNumeric() && t.rows == 1 && t.columns == 1;
}

// A 1xN or Nx1 matrix, which converts to and from vectors like one.
bool IsVectorLike(const HlslType &t) {
    return t.kind == HlslClass::Vector ||
           (t.kind == HlslClass::Matrix && (t.rows == 1 || t.columns == 1));
}

} // namespace

HlslType ScalarType(HlslScalar s) {
    HlslType t;
    t.kind   = HlslClass::Scalar;
    t.scalar = s;
    return t;
}

HlslType VectorType(HlslScalar s, int size) {
    HlslType t = ScalarType(s);
    t.kind     = HlslClass::Vector;
    t.columns  = size;
    return t;
}

HlslType MatrixType(HlslScalar s, int rows, int columns) {
    HlslType t = ScalarType(s);
    t.kind     = HlslClass::Matrix;
    t.rows     = rows;
    t.columns  = columns;
    return t;
}

HlslType WithScalar(const HlslType &t, HlslScalar s) {
    HlslType out = t;
    if (out.IsNumeric()) out.scalar = s;
    return out;
}

HlslType ElementType(const HlslType &t) {
    HlslType out = t;
    if (!out.arraySizes.empty()) out.arraySizes.erase(out.arraySizes.begin());
    out.isConst = false;
    return out;
}

HlslType VoidType() {
    HlslType t;
    t.kind = HlslClass::Void;
    return t;
}

HlslType ErrorType() {
    return HlslType();
}

bool IsObjectTypeName(std::string_view name) {
    // Asked of every word that may start a declaration: one look-up.
    static const std::unordered_set<std::string_view> kNames = [] {
        std::unordered_set<std::string_view> names;
        names.insert(std::begin(kTextureNames), std::end(kTextureNames));
        names.insert(std::begin(kSamplerNames), std::end(kSamplerNames));
        names.insert(std::begin(kOtherObjectNames), std::end(kOtherObjectNames));
        return names;
    }();
    return kNames.count(name) > 0;
}

bool IsTextureObject(const HlslType &t) {
    return t.kind == HlslClass::Object && InList(kTextureNames, t.objectName);
}

bool IsSamplerObject(const HlslType &t) {
    return t.kind == HlslClass::Object && InList(kSamplerNames, t.objectName);
}

bool BuiltinTypeFromName(std::string_view name, HlslType &out) {
    if (name == "void") {
        out = VoidType();
        return true;
    }
    // string in any case: String, STRING (strings.shader_test).
    if (name.size() == 6 && std::equal(name.begin(), name.end(), "string", [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        })) {
        out      = HlslType();
        out.kind = HlslClass::String;
        return true;
    }
    if (name == "vector") {
        out = VectorType(HlslScalar::Float, 4);
        return true;
    }
    if (name == "matrix") {
        out = MatrixType(HlslScalar::Float, 4, 4);
        return true;
    }
    if (name == "unsigned") {
        out = ScalarType(HlslScalar::Uint);
        return true;
    }
    if (IsObjectTypeName(name)) {
        out            = HlslType();
        out.kind       = HlslClass::Object;
        out.objectName = std::string(name);
        if (DefaultsToFloat4(name) && name.find("texture") != 0)
            out.templateTypes.push_back(VectorType(HlslScalar::Float, 4));
        return true;
    }
    for (const ScalarName &s : kScalarNames) {
        const size_t length = std::strlen(s.name);
        if (name.compare(0, length, s.name) != 0) continue;
        std::string_view rest = name.substr(length);
        auto digit            = [](char c) { return c >= '1' && c <= '4'; };
        if (rest.empty()) {
            out = ScalarType(s.scalar);
            return true;
        }
        if (rest.size() == 1 && digit(rest[0])) {
            out = VectorType(s.scalar, rest[0] - '0');
            return true;
        }
        if (rest.size() == 3 && digit(rest[0]) && rest[1] == 'x' && digit(rest[2])) {
            out = MatrixType(s.scalar, rest[0] - '0', rest[2] - '0');
            return true;
        }
        return false;
    }
    return false;
}

const char *HlslScalarName(HlslScalar s) {
    switch (s) {
    case HlslScalar::Bool:
        return "bool";
    case HlslScalar::Min12Int:
        return "min12int";
    case HlslScalar::Min16Int:
        return "min16int";
    case HlslScalar::Int:
        return "int";
    case HlslScalar::Min16Uint:
        return "min16uint";
    case HlslScalar::Uint:
        return "uint";
    case HlslScalar::Min10Float:
        return "min10float";
    case HlslScalar::Min16Float:
        return "min16float";
    case HlslScalar::Half:
        return "half";
    case HlslScalar::Float:
        return "float";
    case HlslScalar::Double:
        return "double";
    }
    return "float";
}

std::string HlslTypeName(const HlslType &t) {
    std::string name = t.isConst ? "const " : "";
    switch (t.kind) {
    case HlslClass::Void:
        name += "void";
        break;
    case HlslClass::Error:
        name += "<error>";
        break;
    case HlslClass::String:
        name += "string";
        break;
    case HlslClass::Scalar:
        name += HlslScalarName(t.scalar);
        break;
    case HlslClass::Vector:
        name += HlslScalarName(t.scalar) + std::to_string(t.columns);
        break;
    case HlslClass::Matrix:
        name += HlslScalarName(t.scalar) + std::to_string(t.rows) + "x" + std::to_string(t.columns);
        break;
    case HlslClass::Struct:
        name += t.structure && !t.structure->name.empty() ? t.structure->name
                                                          : std::string("<unnamed>");
        break;
    case HlslClass::Object: {
        name += t.objectName;
        if (t.templateTypes.empty() && t.templateNumbers.empty()) break;
        name += '<';
        bool first = true;
        for (const HlslType &a : t.templateTypes) {
            name += (first ? "" : ", ") + HlslTypeName(a);
            first = false;
        }
        for (int n : t.templateNumbers) {
            name += (first ? "" : ", ") + std::to_string(n);
            first = false;
        }
        name += '>';
        break;
    }
    }
    for (int size : t.arraySizes)
        name += size > 0 ? "[" + std::to_string(size) + "]" : std::string("[]");
    return name;
}

bool SameType(const HlslType &a, const HlslType &b) {
    if (a.kind != b.kind || a.arraySizes != b.arraySizes) return false;
    switch (a.kind) {
    case HlslClass::Scalar:
    case HlslClass::Vector:
    case HlslClass::Matrix:
        return a.scalar == b.scalar && a.rows == b.rows && a.columns == b.columns;
    case HlslClass::Struct:
        return a.structure == b.structure;
    case HlslClass::Object: {
        if (a.objectName != b.objectName || a.templateNumbers != b.templateNumbers ||
            a.templateTypes.size() != b.templateTypes.size())
            return false;
        for (size_t i = 0; i < a.templateTypes.size(); ++i)
            if (!SameType(a.templateTypes[i], b.templateTypes[i])) return false;
        return true;
    }
    default:
        return true;
    }
}

bool IsFloatScalar(HlslScalar s) {
    return s >= HlslScalar::Min10Float;
}

bool IsIntegerScalar(HlslScalar s) {
    return s != HlslScalar::Bool && !IsFloatScalar(s);
}

int FlattenedCount(const HlslType &t) {
    int count = 0;
    if (t.IsNumeric()) count = t.rows * t.columns;
    if (t.kind == HlslClass::Struct) {
        for (const HlslStruct *s = t.structure.get(); s; s = s->base.get())
            for (const HlslField &f : s->fields)
                count += FlattenedCount(f.type);
    }
    for (int size : t.arraySizes)
        count *= std::max(size, 1);
    return count;
}

bool ConvertsImplicitly(const HlslType &from, const HlslType &to, bool *truncates) {
    if (truncates) *truncates = false;
    if (from.kind == HlslClass::Error || to.kind == HlslClass::Error) return true;
    if (from.IsArray() || to.IsArray()) {
        // Arrays convert only to arrays of the same size; a one-element
        // array of the elements is not a scalar.
        return from.arraySizes == to.arraySizes &&
               ConvertsImplicitly(ElementType(from), ElementType(to), truncates);
    }
    if (!from.IsNumeric() || !to.IsNumeric()) return SameType(from, to);
    const int fromCount = from.ComponentCount(), toCount = to.ComponentCount();
    bool ok = false;
    if (IsOneComponent(from)) {
        ok = true; // a scalar splats to any shape
    } else if (IsOneComponent(to)) {
        ok = true;
    } else if (from.kind == HlslClass::Matrix && to.kind == HlslClass::Matrix) {
        ok = from.rows >= to.rows && from.columns >= to.columns;
    } else if (from.kind == HlslClass::Matrix || to.kind == HlslClass::Matrix) {
        // A vector and a matrix of as many components convert either way; a
        // 1xN or Nx1 matrix narrows like a vector.
        ok = fromCount == toCount ||
             (IsVectorLike(from) && IsVectorLike(to) && fromCount >= toCount);
    } else {
        ok = from.columns >= to.columns;
    }
    if (ok && truncates) *truncates = toCount < fromCount;
    return ok;
}

bool CastsExplicitly(const HlslType &from, const HlslType &to) {
    if (ConvertsImplicitly(from, to)) return true;
    if (from.kind == HlslClass::Error || to.kind == HlslClass::Error) return true;
    // A flattened value casts to any type with no more components than it
    // holds: (float2)float2x2, (S)float4, (float[2])float4.
    const int fromCount = FlattenedCount(from), toCount = FlattenedCount(to);
    const bool numericParts = from.kind == HlslClass::Struct || from.IsNumeric();
    const bool toParts      = to.kind == HlslClass::Struct || to.IsNumeric();
    return numericParts && toParts && fromCount > 0 && toCount > 0 &&
           (fromCount >= toCount || fromCount == 1);
}

HlslScalar CommonScalar(HlslScalar a, HlslScalar b) {
    return std::max(a, b);
}

bool CommonType(const HlslType &a, const HlslType &b, HlslType &out, bool *truncates) {
    if (truncates) *truncates = false;
    if (!a.IsNumeric() || !b.IsNumeric() || a.IsArray() || b.IsArray()) return false;
    const HlslScalar scalar = CommonScalar(a.scalar, b.scalar);
    const int aCount = a.ComponentCount(), bCount = b.ComponentCount();
    if (IsOneComponent(a) && IsOneComponent(b)) {
        // float and float1 meet as the scalar unless both are vectors
        out = a.kind == HlslClass::Vector && b.kind == HlslClass::Vector ? VectorType(scalar, 1)
                                                                         : ScalarType(scalar);
        if (a.kind == HlslClass::Matrix && b.kind == HlslClass::Matrix)
            out = MatrixType(scalar, 1, 1);
        return true;
    }
    if (IsOneComponent(a) || IsOneComponent(b)) {
        out         = WithScalar(IsOneComponent(a) ? b : a, scalar);
        out.isConst = false;
        out.major   = HlslMajority::Default;
        return true;
    }
    if (a.kind == HlslClass::Matrix && b.kind == HlslClass::Matrix) {
        out = MatrixType(scalar, std::min(a.rows, b.rows), std::min(a.columns, b.columns));
        if (truncates) *truncates = a.rows != b.rows || a.columns != b.columns;
        return true;
    }
    if (a.kind == HlslClass::Vector && b.kind == HlslClass::Vector) {
        out = VectorType(scalar, std::min(a.columns, b.columns));
        if (truncates) *truncates = a.columns != b.columns;
        return true;
    }
    // A vector and a matrix: of as many components, the vector's shape; a
    // 1xN or Nx1 matrix as the shorter of the two.
    if (aCount == bCount) {
        out = VectorType(scalar, aCount);
        return true;
    }
    if (!IsVectorLike(a) || !IsVectorLike(b)) return false;
    const HlslType &shorter = aCount < bCount ? a : b;
    out = shorter.kind == HlslClass::Matrix ? MatrixType(scalar, shorter.rows, shorter.columns)
                                            : VectorType(scalar, shorter.columns);
    if (truncates) *truncates = true;
    return true;
}

HlslScalar FullPrecision(HlslScalar s) {
    switch (s) {
    case HlslScalar::Min10Float:
    case HlslScalar::Min16Float:
        return HlslScalar::Float;
    case HlslScalar::Min12Int:
    case HlslScalar::Min16Int:
        return HlslScalar::Int;
    case HlslScalar::Min16Uint:
        return HlslScalar::Uint;
    default:
        return s;
    }
}

// The components v.xyz, v.rgba, s.xx, m._m00_m11, m._11 read, in order:
// a vector's by letter, a matrix's as row * columns + column; false where
// the swizzle is none of t's.
bool SwizzleComponents(const HlslType &t, std::string_view swizzle, std::vector<int> &out) {
    out.clear();
    if (t.IsArray()) return false;
    if (t.kind == HlslClass::Matrix) {
        for (size_t i = 0; i < swizzle.size();) {
            if (swizzle[i] != '_') return false;
            const bool zeroBased = i + 1 < swizzle.size() && swizzle[i + 1] == 'm';
            const size_t digits  = i + (zeroBased ? 2 : 1);
            if (digits + 2 > swizzle.size()) return false;
            const int row    = swizzle[digits] - (zeroBased ? '0' : '1');
            const int column = swizzle[digits + 1] - (zeroBased ? '0' : '1');
            if (row < 0 || row >= t.rows || column < 0 || column >= t.columns) return false;
            out.push_back(row * t.columns + column);
            i = digits + 2;
        }
    } else if (t.kind == HlslClass::Vector || t.kind == HlslClass::Scalar) {
        const std::string_view sets[] = {"xyzw", "rgba"};
        for (std::string_view set : sets) {
            if (!out.empty() || swizzle.find_first_not_of(set) != std::string_view::npos) continue;
            for (char c : swizzle) {
                const int component = static_cast<int>(set.find(c));
                if (component >= t.columns) return false;
                out.push_back(component);
            }
        }
    }
    return !out.empty() && out.size() <= 4;
}
