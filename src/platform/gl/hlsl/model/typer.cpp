// The typer of the HLSL model: each expression's type by the Windows
// compiler's rules (literals, operators, swizzles, indexing, members,
// casts, constructors), names resolved in the scopes open where they are
// read, user overloads ranked as the compiler ranks them, and what each
// function reads and calls, for the reach of the entry points.
#include "platform/gl/hlsl/model/builder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

HlslScalar ArithmeticScalar(HlslScalar s) {
    return s == HlslScalar::Bool ? HlslScalar::Int : s;
}

// Records a read of a global symbol by the function (or global initializer)
// being parsed.
void NoteUse(ModelBuilder &b, int symbol) {
    const HlslSymbol &s = b.model.symbols[symbol];
    if (s.scope != 0 || s.kind != HlslSymbolKind::Variable) return;
    std::vector<int> *uses = b.function >= 0 ? &b.model.functions[b.function].uses
                             : b.global >= 0 ? &b.model.symbols[b.global].uses
                                             : nullptr;
    if (uses && std::find(uses->begin(), uses->end(), symbol) == uses->end())
        uses->push_back(symbol);
}

void NoteCall(ModelBuilder &b, int function) {
    std::vector<int> *calls = b.function >= 0 ? &b.model.functions[b.function].calls
                              : b.global >= 0 ? &b.model.symbols[b.global].calls
                                              : nullptr;
    if (calls && std::find(calls->begin(), calls->end(), function) == calls->end())
        calls->push_back(function);
}

// A uniform (a global that is neither static nor groupshared) reads as const,
// as the compiler prints it: 'const float4'.
bool IsImplicitlyConst(const HlslSymbol &s) {
    return s.kind == HlslSymbolKind::Variable && s.scope == 0 &&
           !(s.storage & (kStatic | kGroupShared)) && s.type.kind != HlslClass::Object;
}

const HlslField *FindField(const HlslStruct *s, std::string_view name) {
    for (; s; s = s->base.get())
        for (const HlslField &f : s->fields)
            if (f.name == name) return &f;
    return nullptr;
}

// The type a swizzle reads, or false.
bool SwizzleType(const HlslType &t, std::string_view swizzle, HlslType &out) {
    std::vector<int> components;
    if (!SwizzleComponents(t, swizzle, components)) return false;
    const int count = static_cast<int>(components.size());
    out             = count == 1 ? ScalarType(t.scalar) : VectorType(t.scalar, count);
    out.isConst     = t.isConst;
    return true;
}

std::string ArgumentList(const std::vector<HlslType> &args) {
    std::string list;
    for (size_t i = 0; i < args.size(); ++i)
        list += (i ? ", " : "") + HlslTypeName(args[i]);
    return list;
}

// How well an argument matches a parameter, best 0, in the Windows
// compiler's order as vkd3d's function-overload tests record it. A
// narrowing (float4 to float2, however much) is worse than any conversion
// of the component type; within each, with C the common type of the two
// component types in arithmetic:
//   0 the same component type and count (float and float1, float4 and
//     float2x2 alike);
//   1 C is the argument's component type, spread to more components;
//   2 int to uint or back;
//   3 C is a promotion of the argument's float type (half to float);
//   4 C is the argument's component type;
//   5 C is the parameter's only (int to float).
int ConversionRank(const HlslType &arg, const HlslType &param) {
    if (!arg.IsNumeric() || !param.IsNumeric() || arg.IsArray() || param.IsArray())
        return SameType(arg, param) ? 0 : 5;
    const int argCount = arg.ComponentCount(), paramCount = param.ComponentCount();
    const int narrowing = paramCount < argCount ? 10 : 0;
    const HlslScalar c  = CommonScalar(arg.scalar, param.scalar);
    auto isIntOrUint = [](HlslScalar s) { return s == HlslScalar::Int || s == HlslScalar::Uint; };
    if (arg.scalar == param.scalar) return narrowing + (paramCount > argCount ? 1 : 0);
    if (paramCount > argCount && c == arg.scalar) return 1;
    if (isIntOrUint(arg.scalar) && isIntOrUint(param.scalar)) return narrowing + 2;
    if (IsFloatScalar(arg.scalar) && IsFloatScalar(c) && c > arg.scalar) return narrowing + 3;
    return narrowing + (c == arg.scalar ? 4 : 5);
}

// The user function a call resolves to among the overloads of that name;
// -1 when none takes the arguments (no error then: the intrinsics are
// tried next) or when the best is ambiguous (reported).
int ResolveUserCall(ModelBuilder &b, const HlslExpr &call, const std::vector<HlslType> &args,
                    bool &ambiguous) {
    ambiguous = false;
    std::vector<int> viable;
    std::vector<std::vector<int>> ranks;
    for (int s : b.model.scopes[0].symbols) {
        const HlslSymbol &symbol = b.model.symbols[s];
        if (symbol.kind != HlslSymbolKind::Function || symbol.name != call.text) continue;
        const HlslFunction &f = b.model.functions[symbol.function];
        size_t required       = 0;
        for (int p : f.params)
            if (b.model.symbols[p].initializer < 0) ++required;
        if (args.size() < required || args.size() > f.params.size()) continue;
        std::vector<int> rank;
        bool ok = true;
        for (size_t i = 0; ok && i < args.size(); ++i) {
            const HlslType &param = b.model.symbols[f.params[i]].type;
            ok                    = ConvertsImplicitly(args[i], param);
            rank.push_back(ConversionRank(args[i], param));
        }
        if (!ok) continue;
        viable.push_back(symbol.function);
        ranks.push_back(rank);
    }
    if (viable.empty()) return -1;
    // The best is no worse than every other in every argument.
    auto dominates = [&](size_t a, size_t c) {
        bool better = false;
        for (size_t i = 0; i < args.size(); ++i) {
            if (ranks[a][i] > ranks[c][i]) return false;
            better = better || ranks[a][i] < ranks[c][i];
        }
        return better;
    };
    for (size_t a = 0; a < viable.size(); ++a) {
        bool best = true;
        for (size_t c = 0; best && c < viable.size(); ++c)
            best = c == a || dominates(a, c);
        if (best) return viable[a];
    }
    ambiguous = true;
    b.Error(HlslErrorKind::Ambiguous, call.pos, {call.text, ArgumentList(args)});
    return -1;
}

bool HasUserFunction(const ModelBuilder &b, const std::string &name) {
    for (int s : b.model.scopes[0].symbols)
        if (b.model.symbols[s].kind == HlslSymbolKind::Function && b.model.symbols[s].name == name)
            return true;
    return false;
}

// Warns of an argument cut to a narrower parameter, naming the function as
// the Windows compiler does.
void WarnTruncation(ModelBuilder &b, const HlslExpr &call, int index, const std::string &types,
                    const std::string &to) {
    if (HlslError *w = b.Error(HlslErrorKind::Truncation, call.pos, {types, to}, true)) {
        w->expr   = index;
        w->callee = call.text;
    }
}

// The components of the coordinate a texture's Sample methods take (its
// second argument, after the sampler); 0 for any other method or object.
int SampledCoordinates(const HlslType &object, std::string_view method) {
    if (method.compare(0, 6, "Sample") != 0) return 0;
    static const struct {
        std::string_view name;
        int components;
    } kTextures[] = {
        {"Texture1D", 1}, {"Texture1DArray", 2}, {"Texture2D", 2},        {"Texture2DArray", 3},
        {"Texture3D", 3}, {"TextureCube", 3},    {"TextureCubeArray", 4},
    };
    for (const auto &t : kTextures)
        if (object.objectName == t.name) return t.components;
    return 0;
}

void TypeCall(ModelBuilder &b, int index, const std::vector<HlslType> &args) {
    HlslExpr &e      = b.model.exprs[index];
    bool ambiguous   = false;
    const int chosen = ResolveUserCall(b, e, args, ambiguous);
    if (chosen >= 0) {
        e.function     = chosen;
        e.type         = b.model.functions[chosen].returnType;
        e.type.isConst = false;
        NoteCall(b, chosen);
        const std::vector<int> &params = b.model.functions[chosen].params;
        for (size_t i = 0; i < args.size() && i < params.size(); ++i) {
            bool truncates = false;
            HlslType to    = b.model.symbols[params[i]].type;
            to.isConst     = false;
            if (ConvertsImplicitly(args[i], to, &truncates) && truncates)
                WarnTruncation(b, b.model.exprs[index], index, HlslTypeName(args[i]),
                               HlslTypeName(to));
        }
        return;
    }
    if (ambiguous) return;
    HlslType result;
    std::string error;
    bool truncates = false;
    if (TypeIntrinsicCall(e.text, args, result, error, truncates)) {
        if (!error.empty()) {
            b.Error(HlslErrorKind::NoOverload, e.pos, {e.text, ArgumentList(args)});
            return;
        }
        e.intrinsic = e.text;
        e.type      = result;
        if (truncates) WarnTruncation(b, e, index, ArgumentList(args), HlslTypeName(result));
        return;
    }
    if (HasUserFunction(b, e.text))
        b.Error(HlslErrorKind::NoOverload, e.pos, {e.text, ArgumentList(args)});
    else
        b.Error(HlslErrorKind::Undeclared, e.pos, {e.text});
}

bool AnyError(const std::vector<HlslType> &types) {
    return std::any_of(types.begin(), types.end(),
                       [](const HlslType &t) { return t.kind == HlslClass::Error; });
}

// e is the expression at index, or a copy of it (a compound assignment's
// operator).
void TypeBinary(ModelBuilder &b, HlslExpr &e, int index, const HlslType &l, const HlslType &r) {
    const std::string_view op = e.text;
    HlslType common;
    bool truncates = false;
    if (!CommonType(l, r, common, &truncates)) {
        b.Error(HlslErrorKind::BadOperands, e.pos, {e.text, HlslTypeName(l), HlslTypeName(r)});
        return;
    }
    if (truncates)
        if (HlslError *w = b.Error(HlslErrorKind::Truncation, e.pos,
                                   {HlslTypeName(l), HlslTypeName(common)}, true))
            w->expr = index;
    const bool comparison = op == "<" || op == ">" || op == "<=" || op == ">=" || op == "==" ||
                            op == "!=" || op == "&&" || op == "||";
    if (comparison) {
        e.type = WithScalar(common, HlslScalar::Bool);
        return;
    }
    const bool bitwise = op == "&" || op == "|" || op == "^" || op == "<<" || op == ">>";
    if (bitwise && (IsFloatScalar(l.scalar) || IsFloatScalar(r.scalar))) {
        b.Error(HlslErrorKind::BadOperands, e.pos, {e.text, HlslTypeName(l), HlslTypeName(r)});
        return;
    }
    // A shift has the left operand's component type; the others the common one.
    const bool shift = op == "<<" || op == ">>";
    e.type           = WithScalar(common, ArithmeticScalar(shift ? l.scalar : common.scalar));
}

// The operator of a compound assignment, "+" for "+=".
std::string CompoundOperator(const std::string &op) {
    return op.size() >= 2 && op != "==" ? op.substr(0, op.size() - 1) : std::string();
}

// Whether the expression names something that can be written: a variable
// or parameter (not const), or a member, swizzle or element of one.
void CheckAssignable(ModelBuilder &b, const HlslExpr &target) {
    if (target.type.kind == HlslClass::Error) return;
    if (target.type.isConst) {
        std::string name  = target.text;
        const HlslExpr *e = &target;
        while (e->kind != HlslExprKind::Name && !e->children.empty())
            e = &b.model.exprs[e->children[0]];
        b.Error(HlslErrorKind::ConstAssign, target.pos, {e->text.empty() ? name : e->text});
    }
}

void TypeMember(ModelBuilder &b, HlslExpr &e, const HlslType &object) {
    if (object.kind == HlslClass::Error) return;
    if (object.kind == HlslClass::Struct && !object.IsArray()) {
        if (const HlslField *f = FindField(object.structure.get(), e.text)) {
            e.type         = f->type;
            e.type.isConst = e.type.isConst || object.isConst;
            return;
        }
        b.Error(HlslErrorKind::NoMember, e.pos, {e.text, HlslTypeName(object)});
        return;
    }
    if (object.IsNumeric() && SwizzleType(object, e.text, e.type)) {
        e.isSwizzle = true;
        return;
    }
    if (object.IsNumeric() && !object.IsArray())
        b.Error(HlslErrorKind::BadSwizzle, e.pos, {e.text, HlslTypeName(object)});
    else
        b.Error(HlslErrorKind::NoMember, e.pos, {e.text, HlslTypeName(object)});
    e.type = ErrorType();
}

void TypeIndex(ModelBuilder &b, HlslExpr &e, const HlslType &object, const HlslType &index) {
    if (object.kind == HlslClass::Error) return;
    if (index.kind != HlslClass::Error && !index.IsNumeric())
        b.Error(HlslErrorKind::NoConversion, e.pos, {HlslTypeName(index), "uint"});
    if (object.IsArray()) {
        e.type         = ElementType(object);
        e.type.isConst = object.isConst;
        return;
    }
    if (object.kind == HlslClass::Vector) {
        e.type = ScalarType(object.scalar);
    } else if (object.kind == HlslClass::Matrix) {
        e.type = VectorType(object.scalar, object.columns); // a row
    } else if (object.kind == HlslClass::Object && ObjectElementType(object, e.type)) {
        return;
    } else {
        b.Error(HlslErrorKind::NotIndexable, e.pos, {HlslTypeName(object)});
        return;
    }
    e.type.isConst = object.isConst;
}

void TypeConstructor(ModelBuilder &b, HlslExpr &e, const std::vector<HlslType> &args) {
    e.type         = e.castType;
    e.type.isConst = false;
    if (AnyError(args)) return;
    int given = 0;
    for (const HlslType &a : args) {
        if (a.kind == HlslClass::Object || a.kind == HlslClass::String ||
            a.kind == HlslClass::Void) {
            b.Error(HlslErrorKind::NoConversion, e.pos,
                    {HlslTypeName(a), HlslTypeName(e.castType)});
            return;
        }
        given += FlattenedCount(a);
    }
    const int wanted = FlattenedCount(e.castType);
    if (given != wanted)
        b.Error(HlslErrorKind::ArgumentCount, e.pos,
                {HlslTypeName(e.castType), std::to_string(wanted), std::to_string(given)});
}

} // namespace

namespace {

// The bits the Windows compiler counts a component type as, for its
// warning of a conversion to a smaller type; 0 for bool, which it never
// warns of. half is a float in the 4_0 profiles.
int ScalarBits(HlslScalar s) {
    switch (s) {
    case HlslScalar::Bool:
        return 0;
    case HlslScalar::Min10Float:
        return 10;
    case HlslScalar::Min12Int:
        return 12;
    case HlslScalar::Min16Int:
    case HlslScalar::Min16Uint:
    case HlslScalar::Min16Float:
        return 16;
    case HlslScalar::Double:
        return 64;
    default:
        return 32;
    }
}

// The bits of the value an expression computes. A literal without a
// suffix takes the type of what it meets, so it counts for nothing: a
// min16float times 0.5 stays a min16float.
int ValueBits(const HlslModel &model, int expr) {
    if (expr < 0) return 0;
    const HlslExpr &e = model.exprs[expr];
    auto most         = [&](size_t from) {
        int bits = 0;
        for (size_t i = from; i < e.children.size(); ++i)
            bits = std::max(bits, ValueBits(model, e.children[i]));
        return bits;
    };
    switch (e.kind) {
    case HlslExprKind::Literal: {
        const bool hex  = e.text.size() > 1 && (e.text[1] == 'x' || e.text[1] == 'X');
        const char last = e.text.empty() ? '0' : e.text.back();
        return std::strchr(hex ? "uUlL" : "fFhHlLuU", last) ? ScalarBits(e.type.scalar) : 0;
    }
    case HlslExprKind::Unary:
        return e.text == "!" ? 0 : most(0);
    case HlslExprKind::Binary:
        return e.type.IsNumeric() && e.type.scalar == HlslScalar::Bool ? 0 : most(0);
    case HlslExprKind::Conditional:
        return most(1);
    case HlslExprKind::Comma:
        return ValueBits(model, e.children[1]);
    default:
        return e.type.IsNumeric() ? ScalarBits(e.type.scalar) : 0;
    }
}

} // namespace

void CheckConversion(ModelBuilder &b, const HlslType &from, const HlslType &to, const HlslPos &pos,
                     int value, int at) {
    bool truncates = false;
    HlslType plain = to;
    plain.isConst  = false;
    if (!ConvertsImplicitly(from, to, &truncates)) {
        b.Error(HlslErrorKind::NoConversion, pos, {HlslTypeName(from), HlslTypeName(to)});
        return;
    }
    if (truncates)
        if (HlslError *w = b.Error(HlslErrorKind::Truncation, pos,
                                   {HlslTypeName(from), HlslTypeName(plain)}, true))
            w->expr = at;
    const int bits = to.IsNumeric() ? ScalarBits(to.scalar) : 0;
    if (value >= 0 && bits > 0 && ValueBits(b.model, value) > bits)
        if (HlslError *w = b.Error(HlslErrorKind::Narrowing, pos,
                                   {HlslTypeName(from), HlslTypeName(plain)}, true))
            w->expr = at;
}

namespace {

// A constant's initializer may name another constant, or (declared before
// its initializer is read) itself: the chain is followed this far only.
constexpr int kMaxConstantChain = 64;

bool IntegralType(const HlslType &t) {
    return !IsFloatScalar(t.scalar);
}

// A struct's members in memory order, its bases' first.
std::vector<const HlslField *> FieldsInOrder(const HlslType &t) {
    std::vector<const HlslStruct *> chain;
    for (const HlslStruct *s = t.structure.get(); s && chain.size() < kMaxNesting;
         s                   = s->base.get())
        chain.insert(chain.begin(), s);
    std::vector<const HlslField *> out;
    for (const HlslStruct *s : chain)
        for (const HlslField &f : s->fields)
            out.push_back(&f);
    return out;
}

bool Fold(const HlslModel &m, int expr, HlslConstant &out, int depth);

// The value a constant of type t holds, from its initializer: the
// components in order, one splat over a scalar, vector or matrix.
bool FoldInitializer(const HlslModel &m, int init, const HlslType &t, HlslConstant &out,
                     int depth) {
    if (!Fold(m, init, out, depth)) return false;
    const size_t n = static_cast<size_t>(FlattenedCount(t));
    if (out.values.size() == 1 && t.IsNumeric() && !t.IsArray())
        out.values.resize(n, out.values[0]);
    if (out.values.size() != n) return false;
    if (t.IsNumeric() && !t.IsArray() && IntegralType(t))
        for (double &v : out.values)
            v = std::trunc(v);
    out.type = t;
    return true;
}

// a op b; not a number where op is not one a constant takes.
double Apply(std::string_view op, double a, double b, bool integral) {
    const long long ia = static_cast<long long>(a), ib = static_cast<long long>(b);
    if (op == "||") return a != 0 || b != 0;
    if (op == "&&") return a != 0 && b != 0;
    if (op == "==") return a == b;
    if (op == "!=") return a != b;
    if (op == "<") return a < b;
    if (op == ">") return a > b;
    if (op == "<=") return a <= b;
    if (op == ">=") return a >= b;
    if (op == "+") return a + b;
    if (op == "-") return a - b;
    if (op == "*") return a * b;
    if (op == "/") return integral ? static_cast<double>(ia / ib) : a / b;
    if (op == "%") return integral ? static_cast<double>(ia % ib) : std::fmod(a, b);
    if (op == "|") return static_cast<double>(ia | ib);
    if (op == "^") return static_cast<double>(ia ^ ib);
    if (op == "&") return static_cast<double>(ia & ib);
    if (op == "<<" && ib >= 0 && ib < 32) return static_cast<double>(ia << ib);
    if (op == ">>" && ib >= 0 && ib < 32) return static_cast<double>(ia >> ib);
    return std::nan("");
}

bool Fold(const HlslModel &m, int expr, HlslConstant &out, int depth) {
    if (expr < 0 || static_cast<size_t>(expr) >= m.exprs.size() || depth > kMaxConstantChain)
        return false;
    const HlslExpr &e = m.exprs[static_cast<size_t>(expr)];
    out.type          = e.type;
    out.values.clear();
    switch (e.kind) {
    case HlslExprKind::Literal: {
        if (!e.type.IsNumeric()) return false;
        const bool hex = e.text.size() > 1 && (e.text[1] == 'x' || e.text[1] == 'X');
        out.values     = {e.text == "true"    ? 1.0
                          : e.text == "false" ? 0.0
                          : hex ? static_cast<double>(std::strtoull(e.text.c_str(), nullptr, 16))
                                : std::strtod(e.text.c_str(), nullptr)};
        return true;
    }
    case HlslExprKind::Name: {
        if (e.symbol < 0) return false;
        const HlslSymbol &s = m.symbols[static_cast<size_t>(e.symbol)];
        // const int N = 4; sizes arrays as a literal would.
        return s.type.isConst && FoldInitializer(m, s.initializer, s.type, out, depth + 1);
    }
    case HlslExprKind::InitList:
    case HlslExprKind::Cast:
    case HlslExprKind::Constructor: {
        for (const int child : e.children) {
            HlslConstant part;
            if (!Fold(m, child, part, depth + 1)) return false;
            out.values.insert(out.values.end(), part.values.begin(), part.values.end());
        }
        if (e.kind == HlslExprKind::InitList) return true;
        const HlslType &t = e.castType;
        const size_t n    = static_cast<size_t>(FlattenedCount(t));
        if (!t.IsNumeric() || t.IsArray() || out.values.empty()) return false;
        // A cast reads its operand's first components; a constructor's
        // arguments give them all, or one gives every component.
        if (out.values.size() == 1) out.values.resize(n, out.values[0]);
        if (e.kind == HlslExprKind::Cast ? out.values.size() < n : out.values.size() != n)
            return false;
        out.values.resize(n);
        if (IntegralType(t))
            for (double &v : out.values)
                v = std::trunc(v);
        out.type = t;
        return true;
    }
    case HlslExprKind::Unary: {
        if (!Fold(m, e.children[0], out, depth + 1) || out.values.size() != 1) return false;
        double &v = out.values[0];
        if (e.text == "-")
            v = -v;
        else if (e.text == "!")
            v = v == 0;
        else if (e.text == "~" && IntegralType(e.type))
            v = static_cast<double>(~static_cast<long long>(v));
        else if (e.text != "+")
            return false;
        out.type = e.type;
        return true;
    }
    case HlslExprKind::Binary: {
        HlslConstant l, r;
        if (!Fold(m, e.children[0], l, depth + 1) || !Fold(m, e.children[1], r, depth + 1) ||
            l.values.size() != 1 || r.values.size() != 1)
            return false;
        // Sizes are small: the operands are kept to a range that cannot overflow.
        const double a = l.values[0], b = r.values[0];
        if (!(std::fabs(a) < 1e15 && std::fabs(b) < 1e15)) return false;
        const bool integral = IntegralType(l.type) && IntegralType(r.type);
        if ((e.text == "/" || e.text == "%") &&
            (integral ? static_cast<long long>(b) == 0 : b == 0))
            return false;
        const double v = Apply(e.text, a, b, integral);
        if (std::isnan(v)) return false;
        out.values = {v};
        out.type   = e.type;
        return true;
    }
    case HlslExprKind::Conditional: {
        HlslConstant condition;
        if (!Fold(m, e.children[0], condition, depth + 1) || condition.values.size() != 1)
            return false;
        return Fold(m, e.children[condition.values[0] != 0 ? 1 : 2], out, depth + 1);
    }
    case HlslExprKind::Member: {
        HlslConstant whole;
        if (!Fold(m, e.children[0], whole, depth + 1)) return false;
        const HlslType t = whole.type;
        out.values.clear();
        if (t.kind == HlslClass::Struct && !t.IsArray()) {
            size_t offset = 0;
            for (const HlslField *f : FieldsInOrder(t)) {
                const size_t n = static_cast<size_t>(FlattenedCount(f->type));
                if (f->name == e.text) {
                    if (offset + n > whole.values.size()) return false;
                    out.values.assign(whole.values.begin() + static_cast<long>(offset),
                                      whole.values.begin() + static_cast<long>(offset + n));
                    out.type = f->type;
                    return true;
                }
                offset += n;
            }
            return false;
        }
        std::vector<int> components;
        if (!e.isSwizzle || !SwizzleComponents(t, e.text, components)) return false;
        for (const int c : components) {
            if (static_cast<size_t>(c) >= whole.values.size()) return false;
            out.values.push_back(whole.values[static_cast<size_t>(c)]);
        }
        out.type = e.type;
        return true;
    }
    case HlslExprKind::Index: {
        HlslConstant whole, index;
        if (!Fold(m, e.children[0], whole, depth + 1) ||
            !Fold(m, e.children[1], index, depth + 1) || index.values.size() != 1)
            return false;
        const size_t n = static_cast<size_t>(FlattenedCount(e.type));
        const double k = index.values[0];
        if (n == 0 || !(k >= 0 && k < 1e9) ||
            (static_cast<size_t>(k) + 1) * n > whole.values.size())
            return false;
        const size_t at = static_cast<size_t>(k) * n;
        out.values.assign(whole.values.begin() + static_cast<long>(at),
                          whole.values.begin() + static_cast<long>(at + n));
        out.type = e.type;
        return true;
    }
    default:
        return false;
    }
}

} // namespace

bool EvaluateConstant(const HlslModel &model, int expr, HlslConstant &out) {
    return Fold(model, expr, out, 0);
}

bool EvaluateInteger(const ModelBuilder &b, int expr, long long &value) {
    HlslConstant c;
    if (!Fold(b.model, expr, c, 0) || c.values.size() != 1 || !(std::fabs(c.values[0]) < 1e15))
        return false;
    // A size is what the value truncates to, a float's too (4.1 is 4).
    value = static_cast<long long>(c.values[0]);
    return true;
}

void TypeExpression(ModelBuilder &b, int index) {
    HlslExpr &e = b.model.exprs[index];
    std::vector<HlslType> kids;
    for (int c : e.children)
        kids.push_back(c >= 0 ? b.model.exprs[c].type : ErrorType());
    e.type = ErrorType();
    switch (e.kind) {
    case HlslExprKind::Error:
    case HlslExprKind::InitList:
    case HlslExprKind::StateBlock:
        return;
    case HlslExprKind::Literal:
        e.type = HlslLiteralType(e.text);
        return;
    case HlslExprKind::Name: {
        const int symbol = b.Lookup(e.text);
        if (symbol < 0) {
            b.Error(HlslErrorKind::Undeclared, e.pos, {e.text});
            return;
        }
        const HlslSymbol &s = b.model.symbols[symbol];
        if (s.kind != HlslSymbolKind::Variable && s.kind != HlslSymbolKind::Parameter) {
            b.Error(HlslErrorKind::Undeclared, e.pos, {e.text});
            return;
        }
        e.symbol = symbol;
        e.type   = s.type;
        if (IsImplicitlyConst(s)) e.type.isConst = true;
        NoteUse(b, symbol);
        return;
    }
    case HlslExprKind::Unary:
    case HlslExprKind::Postfix: {
        const HlslType &o = kids[0];
        if (o.kind == HlslClass::Error) return;
        if (!o.IsNumeric()) {
            b.Error(HlslErrorKind::BadOperands, e.pos, {e.text, HlslTypeName(o), ""});
            return;
        }
        HlslType plain = o;
        plain.isConst  = false;
        if (e.text == "!") {
            e.type = WithScalar(plain, HlslScalar::Bool);
        } else if (e.text == "++" || e.text == "--") {
            CheckAssignable(b, b.model.exprs[e.children[0]]);
            e.type = plain;
        } else if (e.text == "~" && IsFloatScalar(o.scalar)) {
            b.Error(HlslErrorKind::BadOperands, e.pos, {e.text, HlslTypeName(o), ""});
        } else {
            e.type = WithScalar(plain, ArithmeticScalar(o.scalar));
        }
        return;
    }
    case HlslExprKind::Binary:
        if (kids[0].kind == HlslClass::Error || kids[1].kind == HlslClass::Error) return;
        TypeBinary(b, e, index, kids[0], kids[1]);
        return;
    case HlslExprKind::Assign: {
        const HlslType &target = kids[0];
        e.type                 = target;
        e.type.isConst         = false;
        if (target.kind == HlslClass::Error || kids[1].kind == HlslClass::Error) return;
        CheckAssignable(b, b.model.exprs[e.children[0]]);
        const std::string op = CompoundOperator(e.text);
        HlslType value       = kids[1];
        if (!op.empty()) {
            HlslExpr computed   = e;
            computed.text       = op;
            const size_t before = b.model.errors.size();
            TypeBinary(b, computed, index, target, kids[1]);
            value = computed.type;
            // a += b with b the narrower is refused, not cut to b's size
            // (the conditional-operator tests of the Windows compiler).
            if (!ConvertsImplicitly(value, e.type) && b.model.errors.size() > before &&
                b.model.errors.back().kind == HlslErrorKind::Truncation)
                b.model.errors.pop_back();
        }
        CheckConversion(b, value, e.type, e.pos, e.children[1], index);
        return;
    }
    case HlslExprKind::Conditional: {
        const HlslType &a = kids[1], &c = kids[2];
        if (a.kind == HlslClass::Error || c.kind == HlslClass::Error) return;
        if (kids[0].kind != HlslClass::Error && !kids[0].IsNumeric())
            b.Error(HlslErrorKind::NoConversion, e.pos, {HlslTypeName(kids[0]), "bool"});
        if (a.IsNumeric() && c.IsNumeric() && !a.IsArray() && !c.IsArray()) {
            bool truncates = false;
            if (!CommonType(a, c, e.type, &truncates)) {
                b.Error(HlslErrorKind::BadOperands, e.pos,
                        {"?:", HlslTypeName(a), HlslTypeName(c)});
            } else if (truncates) {
                if (HlslError *w = b.Error(HlslErrorKind::Truncation, e.pos,
                                           {HlslTypeName(a), HlslTypeName(e.type)}, true))
                    w->expr = index;
            }
            e.type.isConst = false;
        } else if (SameType(a, c)) {
            e.type = a;
        } else {
            b.Error(HlslErrorKind::BadOperands, e.pos, {"?:", HlslTypeName(a), HlslTypeName(c)});
        }
        return;
    }
    case HlslExprKind::Comma:
        e.type = kids[1];
        return;
    case HlslExprKind::Cast:
        e.type = e.castType;
        if (!CastsExplicitly(kids[0], e.castType))
            b.Error(HlslErrorKind::NoConversion, e.pos,
                    {HlslTypeName(kids[0]), HlslTypeName(e.castType)});
        return;
    case HlslExprKind::Constructor:
        TypeConstructor(b, e, kids);
        return;
    case HlslExprKind::Call:
        if (AnyError(kids)) {
            // Still resolve the name for the reach, quietly.
            for (int s : b.model.scopes[0].symbols)
                if (b.model.symbols[s].kind == HlslSymbolKind::Function &&
                    b.model.symbols[s].name == e.text) {
                    NoteCall(b, b.model.symbols[s].function);
                }
            return;
        }
        TypeCall(b, index, kids);
        return;
    case HlslExprKind::MethodCall: {
        if (AnyError(kids)) return;
        std::vector<HlslType> args(kids.begin() + 1, kids.end());
        std::string error;
        if (!TypeMethodCall(kids[0], e.text, args, e.type, error)) {
            b.Error(HlslErrorKind::NoMember, e.pos, {e.text, HlslTypeName(kids[0])});
            e.type = ErrorType();
        } else if (!error.empty()) {
            b.Error(HlslErrorKind::NoOverload, e.pos,
                    {HlslTypeName(kids[0]) + "." + e.text, ArgumentList(args)});
            e.type = ErrorType();
        } else {
            e.intrinsic      = e.text;
            const int needed = SampledCoordinates(kids[0], e.text);
            if (needed > 0 && args.size() > 1 && args[1].IsNumeric() &&
                args[1].ComponentCount() > needed)
                WarnTruncation(b, e, index, ArgumentList(args),
                               HlslTypeName(VectorType(args[1].scalar, needed)));
        }
        return;
    }
    case HlslExprKind::Member:
        TypeMember(b, e, kids[0]);
        return;
    case HlslExprKind::Index:
        TypeIndex(b, e, kids[0], kids[1]);
        return;
    }
}

// ---- queries ----------------------------------------------------------------

bool HlslModel::HasErrors() const {
    return std::any_of(errors.begin(), errors.end(),
                       [](const HlslError &e) { return !e.isWarning; });
}

int FindGlobal(const HlslModel &model, std::string_view name) {
    if (model.scopes.empty()) return -1;
    for (int s : model.scopes[0].symbols)
        if (model.symbols[s].name == name) return s;
    return -1;
}

std::string HlslSignature(const HlslModel &model, const HlslFunction &f) {
    std::string s = f.name + "(";
    for (size_t i = 0; i < f.params.size(); ++i)
        s += (i ? ", " : "") + HlslTypeName(model.symbols[f.params[i]].type);
    return s + ")";
}

HlslReach ReachOf(const HlslModel &model, std::string_view entry) {
    HlslReach reach;
    std::vector<char> seenFunction(model.functions.size(), 0);
    std::vector<char> seenSymbol(model.symbols.size(), 0);
    std::vector<int> pending;
    for (size_t i = 0; i < model.functions.size(); ++i)
        if (model.functions[i].name == entry && model.functions[i].body >= 0) {
            reach.found     = true;
            seenFunction[i] = 1;
            pending.push_back(static_cast<int>(i));
        }
    std::vector<int> symbols;
    auto addCalls = [&](const std::vector<int> &calls) {
        for (int c : calls)
            if (!seenFunction[c]) {
                seenFunction[c] = 1;
                pending.push_back(c);
            }
    };
    auto addUses = [&](const std::vector<int> &uses) {
        for (int u : uses)
            if (!seenSymbol[u]) {
                seenSymbol[u] = 1;
                symbols.push_back(u);
                // What the global's initializer reads and calls is reached too.
                addCalls(model.symbols[u].calls);
            }
    };
    for (size_t next = 0; next < pending.size() || next < symbols.size();) {
        // Functions and symbols both grow; walk both lists to their ends.
        if (next < pending.size()) {
            const HlslFunction &f = model.functions[pending[next]];
            reach.functions.push_back(pending[next]);
            addUses(f.uses);
            addCalls(f.calls);
        }
        if (next < symbols.size()) addUses(model.symbols[symbols[next]].uses);
        ++next;
    }
    for (int s : symbols) {
        const HlslSymbol &symbol = model.symbols[s];
        if (IsTextureObject(symbol.type)) {
            reach.textures.push_back(s);
        } else if (IsSamplerObject(symbol.type)) {
            reach.samplers.push_back(s);
        } else if (symbol.buffer >= 0) {
            if (std::find(reach.buffers.begin(), reach.buffers.end(), symbol.buffer) ==
                reach.buffers.end())
                reach.buffers.push_back(symbol.buffer);
        } else {
            reach.globals.push_back(s);
        }
    }
    for (std::vector<int> *list :
         {&reach.globals, &reach.buffers, &reach.textures, &reach.samplers})
        std::sort(list->begin(), list->end());
    return reach;
}

HlslType HlslLiteralType(std::string_view s) {
    if (s == "true" || s == "false") return ScalarType(HlslScalar::Bool);
    if (!s.empty() && s[0] == '"') {
        HlslType t;
        t.kind = HlslClass::String;
        return t;
    }
    std::string lower;
    for (char c : s)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool hex = lower.compare(0, 2, "0x") == 0;
    if (hex)
        return ScalarType(lower.find('u') != std::string::npos ? HlslScalar::Uint
                                                               : HlslScalar::Int);
    size_t end = lower.size();
    while (end > 0 && std::strchr("ulfh", lower[end - 1]))
        --end;
    const std::string suffix = lower.substr(end);
    const bool isFloat =
        lower.find_first_of(".e") < end || suffix.find_first_of("fh") != std::string::npos;
    if (!isFloat)
        return ScalarType(suffix.find('u') != std::string::npos ? HlslScalar::Uint
                                                                : HlslScalar::Int);
    if (suffix.find('h') != std::string::npos) return ScalarType(HlslScalar::Half);
    if (suffix.find('l') != std::string::npos) return ScalarType(HlslScalar::Double);
    return ScalarType(HlslScalar::Float);
}

const char *HlslConstantKind(std::string_view spelled) {
    if (spelled.empty()) return nullptr;
    if (spelled[0] == '"') return "string constant";
    const bool number = std::isdigit(static_cast<unsigned char>(spelled[0])) ||
                        (spelled[0] == '.' && spelled.size() > 1 &&
                         std::isdigit(static_cast<unsigned char>(spelled[1])));
    if (!number) return nullptr;
    return IsFloatScalar(HlslLiteralType(spelled).scalar) ? "float constant" : "integer constant";
}
