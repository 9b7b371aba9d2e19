// Intrinsic calls as the Windows compiler reads them (call_forms.h). The
// types of arguments and operands are the model's, found in the text the
// earlier passes left through HlslPlaces; the declarations of the file's
// functions are still read from the tokens, for the overloads named apart.
#include "platform/gl/hlsl/call_forms.h"

#include "platform/gl/hlsl/model/model.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <vector>

namespace {

// A numeric type the text names: a scalar, a vector (float1 is one) or a
// matrix, and how many array dimensions a name of it has.
struct ArgumentType {
    bool known = false, vector = false, matrix = false;
    // An integer literal without a suffix, which Windows passes to an int and
    // a uint parameter alike (function-overload.shader_test).
    bool literal  = false;
    bool written  = false; // a parameter declared out or inout
    bool constant = false; // a variable declared const
    std::string base;
    int rows = 1, cols = 1, arrays = 0;
    // A scalar or a one-component vector, which Windows reads as a scalar.
    bool single() const { return known && !matrix && arrays == 0 && cols == 1; }
    bool plain() const { return known && !matrix && arrays == 0; } // a scalar or a vector
};

// A model type as the rewrites here read types: known for a scalar, vector
// or matrix (or an array of one).
ArgumentType FromModel(const HlslType &t) {
    ArgumentType type;
    if (!t.IsNumeric()) return type;
    type.known    = true;
    type.base     = HlslScalarName(t.scalar);
    type.vector   = t.kind == HlslClass::Vector;
    type.matrix   = t.kind == HlslClass::Matrix;
    type.rows     = type.matrix ? t.rows : 1;
    type.cols     = t.columns;
    type.arrays   = static_cast<int>(t.arraySizes.size());
    type.constant = t.isConst;
    return type;
}

// The scalar, vector or matrix type the name spells (float3, dword2x2,
// min16int); unknown for any other name, and for the templates vector and
// matrix, whose arguments follow.
ArgumentType TypeNamed(std::string_view name) {
    HlslType named;
    if (name == "vector" || name == "matrix" || !MaybeNumericTypeName(name) ||
        !BuiltinTypeFromName(name, named))
        return ArgumentType();
    return FromModel(named);
}

// Which of two operands' bases an arithmetic result takes.
int Rank(const std::string &base) {
    static const char *const kOrder[] = {"bool",      "min16int", "min12int",   "int",
                                         "min16uint", "uint",     "min10float", "min16float",
                                         "half",      "float",    "double"};
    for (size_t i = 0; i < std::size(kOrder); ++i)
        if (base == kOrder[i]) return static_cast<int>(i);
    return 0;
}

using Edit = TextEdit;

// Whether tokens [first, last) are a variable, with its members, swizzles
// and elements: what an out argument may be.
bool Variable(const std::string &text, const Tokens &tokens, size_t first, size_t last) {
    if (first >= last || tokens[first].kind != TokenKind::Identifier) return false;
    for (size_t j = first + 1; j < last;) {
        if (MarkOf(text, tokens[j]) == '.' && j + 1 < last &&
            tokens[j + 1].kind == TokenKind::Identifier)
            j += 2;
        else if (MarkOf(text, tokens[j]) == '[')
            j = ClosingBracket(text, tokens, j) + 1;
        else
            return false;
    }
    return true;
}

// A scalar, a vector of two or more components or a matrix of two or more
// rows and columns: what mul() takes as the reference gives it. A float1,
// and a matrix of one row or column, mul() reads as the matrix forms do
// (matrix_forms.h).
bool MulOperand(const ArgumentType &type) {
    return type.known && type.arrays == 0 &&
           (type.matrix ? type.rows > 1 && type.cols > 1 : !type.vector || type.cols > 1);
}

bool Scalar(const ArgumentType &type) {
    return type.known && !type.vector && !type.matrix && type.arrays == 0;
}

// What mul(left, right) returns: left's rows by right's columns, of the base
// the usual arithmetic conversions give (a scalar operand scales the other,
// two vectors give their dot product); unknown for other operands.
ArgumentType MulResult(const ArgumentType &left, const ArgumentType &right) {
    if (!MulOperand(left) || !MulOperand(right)) return ArgumentType();
    ArgumentType type = Scalar(left) ? right : left;
    if (Rank(right.base) > Rank(type.base)) type.base = right.base;
    if (Rank(left.base) > Rank(type.base)) type.base = left.base;
    type.literal = left.literal && right.literal;
    if (Scalar(left) || Scalar(right)) return type;
    type.rows   = left.matrix ? left.rows : 1;
    type.cols   = right.matrix ? right.cols : 1;
    type.matrix = left.matrix && right.matrix;
    type.vector = !type.matrix && (type.rows > 1 || type.cols > 1);
    if (type.vector) type.cols = std::max(type.rows, type.cols);
    if (type.vector) type.rows = 1;
    return type;
}

// Whether the expression is an integer literal without a suffix, or
// arithmetic of those only, which Windows passes to an int and a uint
// parameter alike (function-overload.shader_test).
bool UnsuffixedInteger(const HlslModel &model, int expr) {
    const HlslExpr &e = model.exprs[expr];
    if (e.kind == HlslExprKind::Literal) {
        const std::string &n = e.text;
        const bool hex       = n.size() > 1 && n[0] == '0' && (n[1] == 'x' || n[1] == 'X');
        return !n.empty() && std::isdigit(static_cast<unsigned char>(n[0])) &&
               e.type.scalar == HlslScalar::Int &&
               (hex || std::isdigit(static_cast<unsigned char>(n.back())));
    }
    if (e.kind == HlslExprKind::Unary && e.text != "!")
        return UnsuffixedInteger(model, e.children[0]);
    if (e.kind == HlslExprKind::Binary && e.text.find_first_of("<>=!&|") == std::string::npos)
        return UnsuffixedInteger(model, e.children[0]) && UnsuffixedInteger(model, e.children[1]);
    return false;
}

// The model's type of the expression, where it is a scalar, vector or
// matrix (or an array of one); unknown otherwise, and for expr -1.
ArgumentType TypeOf(const HlslModel &model, int expr) {
    if (expr < 0) return ArgumentType();
    ArgumentType type = FromModel(model.exprs[expr].type);
    type.literal      = type.known && UnsuffixedInteger(model, expr);
    return type;
}

// The types of the expressions in the text, as the model has them: the
// text here is the source as earlier passes left it, and an expression they
// wrote has no type (unknown).
struct Reader {
    const std::string &text;
    const Tokens &tokens;
    const HlslModel &model;
    const HlslPlaces &places;

    // The type of tokens [first, last), where they are one expression of a
    // scalar, vector or matrix type (or an array of one).
    ArgumentType Expression(size_t first, size_t last) const {
        return TypeOf(model, places.At(text, tokens, first, last));
    }
};

// The intrinsics whose arguments are vectors, with how many of their first
// arguments are (refract's last is a scalar), and whether they return one.
struct Geometric {
    const char *name;
    size_t vectors;
    bool returnsVector;
};
const Geometric kGeometric[] = {
    {"normalize", 1, true}, {"reflect", 2, true},   {"refract", 2, true}, {"faceforward", 3, true},
    {"length", 1, false},   {"distance", 2, false}, {"dot", 2, false}};

// The functions the file defines or declares, by name: the parameter types
// of each declaration (unknown where the text does not give a numeric type),
// where the names stand, and whether a parameter has a default value.
struct Function {
    std::vector<std::vector<ArgumentType>> overloads;
    std::vector<size_t> names;
    bool defaults = false;
    std::vector<size_t> otherReturns; // names whose declaration gave another return type
};
using Functions = std::map<std::string, Function, std::less<>>;

// The functions the model has, by name, each declaration where its name
// stands in the text now, in text order; a declaration an earlier pass
// removed or renamed is left out.
Functions DefinedFunctions(const HlslModel &model, const std::string &text,
                           const LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    struct Declaration {
        size_t name;
        int function;
        bool otherReturn;
    };
    std::map<std::string, std::vector<Declaration>, std::less<>> declarations;
    for (size_t f = 0; f < model.functions.size(); ++f) {
        const HlslFunction &function = model.functions[f];
        for (size_t k = 0; k < function.names.size(); ++k) {
            size_t begin = function.names[k].offset, end = begin + function.name.size();
            if (!MovedSpan(lexed, model.moves, begin, end)) continue;
            const auto at =
                std::lower_bound(tokens.begin(), tokens.end(), begin,
                                 [](const Token &t, size_t offset) { return t.offset < offset; });
            if (at == tokens.end() || at->offset != begin || !Is(text, *at, function.name))
                continue;
            declarations[function.name].push_back({static_cast<size_t>(at - tokens.begin()),
                                                   static_cast<int>(f),
                                                   function.otherReturn == static_cast<int>(k)});
        }
    }
    Functions defined;
    for (auto &[name, list] : declarations) {
        std::sort(list.begin(), list.end(),
                  [](const Declaration &a, const Declaration &b) { return a.name < b.name; });
        Function &function = defined[name];
        for (const Declaration &d : list) {
            std::vector<ArgumentType> parameters;
            for (int p : model.functions[d.function].params) {
                const HlslSymbol &parameter = model.symbols[p];
                parameters.push_back(FromModel(parameter.type));
                parameters.back().written = (parameter.storage & kOut) != 0;
                function.defaults         = function.defaults || parameter.initializer >= 0;
            }
            function.names.push_back(d.name);
            function.overloads.push_back(parameters);
            if (d.otherReturn) function.otherReturns.push_back(d.name);
        }
    }
    return defined;
}

// The scalar components of a numeric type.
int Components(const ArgumentType &type) {
    return type.rows * type.cols;
}

// Whether Windows converts a value of type from to a parameter of type to
// without a cast: a scalar to any numeric type, a vector or matrix to one
// of as many components or, truncated, to a scalar, a shorter vector, a
// one-row or one-column matrix or a smaller matrix. Both are known and
// neither is an array.
bool Converts(const ArgumentType &from, const ArgumentType &to) {
    if (from.single() || (from.matrix && Components(from) == 1) || to.single()) return true;
    if (Components(from) < Components(to)) return false;
    if (from.matrix && to.matrix) return to.rows <= from.rows && to.cols <= from.cols;
    return Components(from) == Components(to) || (!from.matrix && !to.matrix) ||
           (from.matrix ? from.rows == 1 || from.cols == 1 : to.rows == 1 || to.cols == 1);
}

// How far passing from to to is from an exact match, lower being better, as
// function-overload.shader_test records Windows choosing: dropping
// components first, then the base type's change (none, int and uint, within
// the integers or the floating-point types, across them), then a scalar
// made a vector. An unsuffixed integer literal is an int and a uint alike.
int Cost(const ArgumentType &from, const ArgumentType &to) {
    auto integer = [](const std::string &base) { return Rank(base) < Rank("min10float"); };
    int base     = 3;
    if (from.base == to.base || (from.literal && (to.base == "int" || to.base == "uint")))
        base = 0;
    else if ((from.base == "int" && to.base == "uint") || (from.base == "uint" && to.base == "int"))
        base = 1;
    else if (integer(from.base) == integer(to.base)) // bool with the integers
        base = 2;
    const int narrowing = Components(to) < Components(from) ? 1 : 0;
    const int widening  = Components(to) > Components(from) ? 1 : 0;
    return narrowing * 100 + base * 10 + widening;
}

// The overload (an index into overloads) the arguments of the given types
// call: the one no other beats on any argument, which beats each other on
// one at least; where a type is not known, the one the others leave.
// kUnknown where that does not tell, kNone where none takes
// the arguments, kAmbiguous where none is best.
constexpr int kUnknown = -1, kNone = -2, kAmbiguous = -3;
int Resolve(const std::vector<std::vector<ArgumentType>> &overloads,
            const std::vector<ArgumentType> &arguments) {
    std::vector<std::vector<int>> costs(overloads.size());
    bool unknown = false;
    for (const ArgumentType &argument : arguments)
        unknown = unknown || !argument.known || argument.arrays;
    for (size_t o = 0; o < overloads.size(); ++o) {
        if (overloads[o].size() != arguments.size()) continue;
        bool takes = true;
        for (size_t a = 0; a < arguments.size() && takes; ++a) {
            if (!overloads[o][a].known || overloads[o][a].arrays) return kUnknown;
            const bool known = arguments[a].known && !arguments[a].arrays;
            takes            = !known || Converts(arguments[a], overloads[o][a]);
            costs[o].push_back(known ? Cost(arguments[a], overloads[o][a]) : 0);
        }
        if (!takes) costs[o].clear();
    }
    auto viable = [&](size_t o) {
        return overloads[o].size() == arguments.size() && costs[o].size() == arguments.size();
    };
    if (unknown) { // the one overload the known arguments leave, if only one
        int only = kUnknown;
        for (size_t o = 0; o < overloads.size(); ++o)
            if (viable(o)) only = only == kUnknown ? static_cast<int>(o) : kAmbiguous;
        return only == kAmbiguous ? kUnknown : only;
    }
    auto beats = [&](size_t a, size_t b) {
        bool better = false;
        for (size_t k = 0; k < arguments.size(); ++k) {
            if (costs[a][k] > costs[b][k]) return false;
            better = better || costs[a][k] < costs[b][k];
        }
        return better;
    };
    int best = kNone;
    for (size_t o = 0; o < overloads.size(); ++o) {
        if (!viable(o)) continue;
        bool all = true;
        for (size_t p = 0; p < overloads.size() && all; ++p)
            all = p == o || !viable(p) || beats(o, p);
        if (all) return static_cast<int>(o);
        best = kAmbiguous;
    }
    return best;
}

// Whether a value of type from is passed to a parameter of type to, as far
// as the text tells: a scalar to anything, a vector to one as long or
// shorter, or to a scalar.
bool Passes(const ArgumentType &from, const ArgumentType &to) {
    if (!from.known || !to.known || from.single()) return true;
    if (from.plain() && to.plain()) return to.single() || from.cols >= to.cols;
    return from.matrix == to.matrix && from.arrays == to.arrays;
}

// The HLSL intrinsics a file may define a function of its own for.
bool Intrinsic(std::string_view name) {
    static const std::set<std::string_view> kNames = {
        "abs",       "acos",        "all",          "any",         "asfloat", "asin",
        "asint",     "asuint",      "atan",         "atan2",       "ceil",    "clamp",
        "clip",      "cos",         "cosh",         "countbits",   "cross",   "ddx",
        "ddy",       "degrees",     "determinant",  "distance",    "dot",     "exp",
        "exp2",      "faceforward", "firstbithigh", "firstbitlow", "floor",   "fmod",
        "frac",      "frexp",       "fwidth",       "isfinite",    "isinf",   "isnan",
        "ldexp",     "length",      "lerp",         "lit",         "log",     "log10",
        "log2",      "max",         "min",          "modf",        "mul",     "normalize",
        "pow",       "radians",     "rcp",          "reflect",     "refract", "reversebits",
        "round",     "rsqrt",       "saturate",     "sign",        "sin",     "sincos",
        "sinh",      "smoothstep",  "sqrt",         "step",        "tan",     "tanh",
        "transpose", "trunc"};
    return kNames.count(name) > 0;
}

// The type name of a shape of base: a scalar, floatN or floatRxC.
std::string Named(const std::string &base, const ArgumentType &shape) {
    if (shape.matrix) return base + std::to_string(shape.rows) + "x" + std::to_string(shape.cols);
    return shape.vector ? base + std::to_string(shape.cols) : base;
}

// The integer function a product of matrices and vectors of base needs:
// each row the sum, over the smaller of the left's columns and the right's
// rows (mul.shader_test), of the left's elements times the right's rows.
std::string IntegerMul(const std::string &name, const std::string &base, const ArgumentType &left,
                       const ArgumentType &right, const ArgumentType &result) {
    const int inner = std::min(left.cols, right.matrix ? right.rows : right.cols);
    auto sum        = [&](const std::string &row) {
        std::string terms;
        for (int j = 0; j < inner; ++j)
            terms += (j ? " + " : "") + ("a" + row + "[" + std::to_string(j) + "]") + " * b[" +
                     std::to_string(j) + "]";
        return terms;
    };
    std::string body;
    for (int i = 0; i < (left.matrix ? left.rows : 1); ++i)
        body += (i ? ", " : "") + sum(left.matrix ? "[" + std::to_string(i) + "]" : "");
    if (left.matrix) body = Named(base, result) + "(" + body + ")";
    return Named(base, result) + " " + name + "(" + Named(base, left) + " a, " +
           Named(base, right) + " b) { return " + body + "; } ";
}

// mul() in the overloads glslang lacks, where the text tells both operands'
// types: with a scalar, the product that scales the other operand; of two
// vectors of another base or length, dot() of them at the shorter length;
// of vectors and matrices of two bases, both made of the base the usual
// arithmetic conversions give, and of integers (which glslang has no
// matrix products of) a function of the file's own that sums the products.
// Bool operands are left to glslang.
void RewriteMul(const Reader &reader, size_t i, Edits &edits) {
    const std::string &text = reader.text;
    const Tokens &tokens    = reader.tokens;
    const auto arguments    = CallArguments(text, tokens, i + 1);
    const size_t close      = ClosingBracket(text, tokens, i + 1);
    if (arguments.size() != 2 || close >= tokens.size()) return;
    const ArgumentType left   = reader.Expression(arguments[0].first, arguments[0].second);
    const ArgumentType right  = reader.Expression(arguments[1].first, arguments[1].second);
    const ArgumentType result = MulResult(left, right);
    if (!result.known || result.base == "bool") return;
    auto wrap = [&](size_t argument, const std::string &before, const std::string &after) {
        edits.push_back({tokens[arguments[argument].first].offset, 0, before});
        edits.push_back({tokens[arguments[argument].second - 1].end(), 0, after});
    };
    if (Scalar(left) || Scalar(right)) {
        edits.push_back({tokens[i].offset, tokens[i].length, std::string()});
        wrap(0, "(", ")");
        edits.push_back({tokens[arguments[0].second].offset, 1, " *"});
        wrap(1, "(", ")");
        return;
    }
    const bool integer     = Rank(result.base) < Rank("min10float");
    const std::string base = !integer                                 ? "float"
                             : Rank(result.base) >= Rank("min16uint") ? "uint"
                                                                      : "int";
    if (!integer && left.base == right.base && (left.matrix || right.matrix)) return;
    if (!left.matrix && !right.matrix) { // two vectors
        if (!integer && left.base == right.base && left.cols == right.cols) return;
        ArgumentType shape = left;
        shape.cols         = std::min(left.cols, right.cols);
        edits.push_back({tokens[i].offset, tokens[i].length, "dot"});
        wrap(0, "(" + Named(base, shape) + ")(", ")");
        wrap(1, "(" + Named(base, shape) + ")(", ")");
        return;
    }
    if (left.base != base) wrap(0, "(" + Named(base, left) + ")(", ")");
    if (right.base != base) wrap(1, "(" + Named(base, right) + ")(", ")");
    if (!integer) return;
    const std::string name = GeneratedName("mul_") + Named(base, left) + "_" + Named(base, right);
    edits.push_back({tokens[i].offset, tokens[i].length, name});
    // Once, before the file's first declaration: it uses no type of the file's.
    size_t first = 0;
    while (first < tokens.size() && tokens[first].kind == TokenKind::Directive)
        ++first;
    const Edit helper{tokens[first].offset, 0, IntegerMul(name, base, left, right, result)};
    for (const Edit &e : edits)
        if (e.offset == helper.offset && e.length == 0 && e.text == helper.text) return;
    edits.push_back(helper);
}

// The edits for the call whose name is tokens[i].
void RewriteCall(const Reader &reader, size_t i, Edits &edits) {
    const std::string &text     = reader.text;
    const Tokens &tokens        = reader.tokens;
    const std::string_view name = Spelling(text, tokens[i]);
    const size_t open = i + 1, close = ClosingBracket(text, tokens, open);
    if (close >= tokens.size()) return;
    const auto arguments = CallArguments(text, tokens, open);
    std::vector<ArgumentType> types;
    for (const auto &[first, last] : arguments)
        types.push_back(reader.Expression(first, last));
    auto wrap = [&](size_t argument, const std::string &before, const std::string &after) {
        edits.push_back({tokens[arguments[argument].first].offset, 0, before});
        edits.push_back({tokens[arguments[argument].second - 1].end(), 0, after});
    };
    if (name == "mul") return RewriteMul(reader, i, edits);
    if (arguments.size() == 1 && types[0].single()) {
        if (name == "any" || name == "all") {
            // A scalar is true where it is not 0 (any.shader_test).
            edits.push_back({tokens[i].offset, tokens[i].length, "(0 != "});
            edits.push_back({tokens[close].end(), 0, ")"});
            return;
        }
        if (types[0].vector && (name == "transpose" || name == "determinant"))
            return; // a vector has neither
        if (name == "transpose") {
            edits.push_back({tokens[i].offset, tokens[i].length, std::string()});
            return;
        }
        if (name == "determinant") {
            edits.push_back({tokens[i].offset, tokens[i].length, "float"});
            return;
        }
    }
    // A one-row or one-column matrix's transpose is the vector the matrix
    // forms make of either (matrix_forms.h); one of 1x1 is its scalar.
    const bool oneByOne = arguments.size() == 1 && types[0].matrix && types[0].arrays == 0 &&
                          types[0].rows == 1 && types[0].cols == 1;
    // A matrix of one row or column has the determinant of its leading
    // 1x1 square: its first element, a scalar (determinant.shader_test).
    if (name == "determinant" && arguments.size() == 1 && types[0].matrix && types[0].arrays == 0 &&
        (types[0].rows == 1 || types[0].cols == 1) &&
        arguments[0].second == arguments[0].first + 1) {
        // The argument's name stays where it stood, for the passes that ask
        // the model what it names.
        const Token &matrix = tokens[arguments[0].first];
        edits.push_back({tokens[i].offset, matrix.offset - tokens[i].offset, std::string()});
        edits.push_back({matrix.end(), tokens[close].end() - matrix.end(), "._m00"});
        return;
    }
    if (oneByOne && (name == "transpose" || name == "determinant")) {
        edits.push_back({tokens[i].offset, tokens[i].length, std::string()});
        return;
    }
    if (name == "transpose" && arguments.size() == 1 && types[0].matrix && types[0].arrays == 0 &&
        (types[0].rows == 1 || types[0].cols == 1)) {
        edits.push_back({tokens[i].offset, tokens[i].length, std::string()});
        wrap(0,
             "(" + types[0].base + std::to_string(types[0].cols) + "x" +
                 std::to_string(types[0].rows) + ")(",
             ")");
        return;
    }
    if (name == "determinant" && arguments.size() == 1 && types[0].known && types[0].matrix &&
        types[0].arrays == 0 && types[0].rows != types[0].cols) {
        // Of the leading square (determinant.shader_test); of a one-row or
        // one-column matrix its first element, which the 1x1 matrix is.
        const std::string n = std::to_string(std::min(types[0].rows, types[0].cols));
        if (n == "1") edits.push_back({tokens[i].offset, tokens[i].length, std::string()});
        wrap(0, "(" + types[0].base + n + "x" + n + ")(", ")");
        return;
    }
    if (name == "refract" && arguments.size() == 3 && types[2].plain() && !types[2].single())
        wrap(2, "(", ").x"); // a vector of ratios gives its first (refract.shader_test)
    const Geometric *geometric = nullptr;
    for (const Geometric &g : kGeometric)
        if (name == g.name) geometric = &g;
    if (!geometric || arguments.size() < geometric->vectors) return;
    int size         = 1;
    std::string base = name == "dot" ? "bool" : "float";
    for (size_t a = 0; a < geometric->vectors; ++a) {
        if (!types[a].plain()) return;
        if (!types[a].single()) {
            if (size > 1 && types[a].cols != size) return; // left as glslang reads it
            size = types[a].cols;
        }
        if (name == "dot" && Rank(types[a].base) > Rank(base)) base = types[a].base;
    }
    if (base == "bool") base = "int";
    if (size == 1) {
        // As two-component vectors whose second components are 0: the
        // lengths and dot products are the scalars'.
        for (size_t a = 0; a < geometric->vectors; ++a)
            wrap(a, base + "2(", ", 0)");
        if (geometric->returnsVector) edits.push_back({tokens[close].end(), 0, ".x"});
        return;
    }
    for (size_t a = 0; a < geometric->vectors; ++a)
        if (types[a].single()) wrap(a, "(" + base + std::to_string(size) + ")(", ")");
}

// Whether the file's own function of an intrinsic's name is what the call
// at tokens[i] calls: on Windows it is wherever its parameters take the
// arguments, the intrinsic elsewhere (intrinsic-override.shader_test).
bool Overrides(const Reader &reader, const Function &function, size_t i) {
    if (std::find(function.names.begin(), function.names.end(), i) != function.names.end())
        return true;
    const auto arguments = CallArguments(reader.text, reader.tokens, i + 1);
    for (const std::vector<ArgumentType> &parameters : function.overloads) {
        bool passes = parameters.size() == arguments.size();
        for (size_t a = 0; passes && a < arguments.size(); ++a)
            passes =
                Passes(reader.Expression(arguments[a].first, arguments[a].second), parameters[a]);
        if (passes) return true;
    }
    return false;
}

// Operands of different shapes, as the Windows compiler reads them: the
// result of a componentwise operation or intrinsic has the smaller shape,
// a scalar or one-component operand taking the other's (vkd3d-tests
// hlsl/shape.shader_test, max-min.shader_test, lerp.shader_test,
// pow.shader_test). glslang takes a float1 only where a vector of one is
// wanted, and no matrix of one row or column (a vector once the matrix
// forms rewrite it) with a matrix; nor matrices of two shapes as arguments of
// one intrinsic. Those operands are made the result's shape in the text.
struct Typed {
    ArgumentType type;
    int expr = -1; // the model's
};

bool OneByOne(const ArgumentType &t) {
    return t.known && t.arrays == 0 && t.rows == 1 && t.cols == 1;
}
bool Degenerate(const ArgumentType &t) {
    return t.matrix && (t.rows == 1 || t.cols == 1);
}

// The componentwise intrinsics whose arguments take one shape.
bool Componentwise(std::string_view name) {
    static const std::set<std::string_view> kNames = {"max",   "min",  "pow",        "lerp",
                                                      "clamp", "step", "smoothstep", "ldexp",
                                                      "atan2", "fmod", "mad"};
    return kNames.count(name) > 0;
}

// The binary operators whose operands take one shape.
bool ShapedOperator(std::string_view op) {
    for (const char *o : {"||", "&&", "|", "^", "&", "==", "!=", "<", ">", "<=", ">=", "<<", ">>",
                          "+", "-", "*", "/", "%"})
        if (op == o) return true;
    return false;
}

struct Shaper {
    const HlslModel &model;
    const HlslPlaces &places;
    Edits &wraps; // inner operands' first
    // Each expression's shape as glslang gives it once the operands inside
    // it are shaped: the model's type, but a componentwise operation's
    // common shape (a float1 with a scalar stays a float1 there).
    std::vector<ArgumentType> shaped;

    Typed Operand(int expr) const { return {shaped[expr], expr}; }

    void Surround(const Typed &operand, const std::string &before, const std::string &after) {
        size_t begin = 0, end = 0;
        if (places.SpanOf(operand.expr, begin, end)) wraps.Wrap(begin, end, before, after);
    }

    // Makes a matrix operand (a one-row or one-column one being a vector in
    // the text) the rows x cols shape, one of them 1, the others' elements
    // dropped.
    void Truncate(const Typed &operand, int rows, int cols) {
        const ArgumentType &t = operand.type;
        if (t.rows == rows && t.cols == cols) return;
        const std::string swizzle = std::string("xyzw").substr(0, rows * cols);
        if (Degenerate(t)) {
            Surround(operand, "(", ")." + swizzle);
        } else if (rows == 1) {
            Surround(operand, "(", ")[0]" + (cols < t.cols ? "." + swizzle : std::string()));
        } else {
            Surround(operand, "transpose(",
                     ")[0]" + (rows < t.rows ? "." + swizzle : std::string()));
        }
    }

    // The shape Windows gives two operands together; unknown where it
    // refuses them or the model does not tell.
    static ArgumentType Common(const ArgumentType &a, const ArgumentType &b) {
        ArgumentType result;
        if (!a.known || !b.known || a.arrays || b.arrays) return result;
        result                    = Rank(b.base) > Rank(a.base) ? b : a;
        result.base               = Rank(b.base) > Rank(a.base) ? b.base : a.base;
        const ArgumentType &shape = OneByOne(a) && OneByOne(b) ? (a.vector || a.matrix ? a : b)
                                    : OneByOne(a)              ? b
                                    : OneByOne(b)              ? a
                                    : (a.matrix == b.matrix)
                                        ? a
                                        : (a.rows * a.cols <= b.rows * b.cols ? a : b);
        result.vector             = shape.vector;
        result.matrix             = shape.matrix;
        result.rows               = shape.rows;
        result.cols               = shape.cols;
        if (!OneByOne(a) && !OneByOne(b) && a.matrix == b.matrix) {
            result.rows = std::min(a.rows, b.rows);
            result.cols = std::min(a.cols, b.cols);
        }
        return result;
    }

    // Rewrites an operand of a componentwise operation whose result has the
    // shape common, where glslang does not give it that shape itself.
    void Fit(const Typed &operand, const ArgumentType &common, bool argument) {
        const ArgumentType &t = operand.type;
        if (OneByOne(t)) {
            if ((t.vector || t.matrix) && !OneByOne(common)) Surround(operand, "(", ").x");
        } else if (t.matrix && common.matrix && (Degenerate(common) || Degenerate(t))) {
            Truncate(operand, common.rows, common.cols);
        } else if (argument && t.matrix && common.matrix &&
                   (t.rows != common.rows || t.cols != common.cols)) {
            Surround(operand,
                     "(" + t.base + std::to_string(common.rows) + "x" +
                         std::to_string(common.cols) + ")(",
                     ")");
        } else if (argument && t.vector && common.vector && t.cols != common.cols) {
            Surround(operand, "(" + t.base + std::to_string(common.cols) + ")(", ")");
        }
    }

    // The arguments of a componentwise intrinsic, made the shape of their
    // result.
    ArgumentType Call(const HlslExpr &call) {
        std::vector<Typed> arguments;
        for (int child : call.children)
            arguments.push_back(Operand(child));
        ArgumentType common = arguments[0].type;
        for (const Typed &argument : arguments)
            common = Common(common, argument.type);
        if (!common.known) return common;
        // A vector with a matrix of as many components reads as one shape
        // already; glslang takes it.
        bool vectors = false, matrices = false;
        for (const Typed &argument : arguments) {
            vectors  = vectors || (argument.type.vector && !OneByOne(argument.type));
            matrices = matrices || (argument.type.matrix && !OneByOne(argument.type));
        }
        if (!(vectors && matrices))
            for (const Typed &argument : arguments)
                Fit(argument, common, true);
        return common;
    }

    ArgumentType Binary(const HlslExpr &e) {
        const Typed left = Operand(e.children[0]), right = Operand(e.children[1]);
        ArgumentType common = Common(left.type, right.type);
        if (common.known) {
            Fit(left, common, false);
            Fit(right, common, false);
            for (const char *op : {"||", "&&", "==", "!=", "<", ">", "<=", ">="})
                if (e.text == op) common.base = "bool";
            return common;
        }
        // A one-component operand reads as a scalar whatever the other is.
        for (const Typed *operand : {&left, &right})
            if (OneByOne(operand->type) && (operand->type.vector || operand->type.matrix) &&
                !(operand == &left ? right : left).type.known)
                Surround(*operand, "(", ").x");
        return common;
    }

    // Whether the expression is an element of a vector or matrix that a
    // uniform's value selects.
    bool UniformElement(const HlslExpr &e) const {
        if (e.kind != HlslExprKind::Index) return false;
        const ArgumentType base = TypeOf(model, e.children[0]);
        const HlslExpr &index   = model.exprs[e.children[1]];
        const HlslSymbol *named = index.kind == HlslExprKind::Name && index.symbol >= 0
                                      ? &model.symbols[index.symbol]
                                      : nullptr;
        return base.known && base.arrays == 0 && (base.vector || base.matrix) && named &&
               named->kind == HlslSymbolKind::Variable && named->scope == 0 &&
               !(named->storage & (kStatic | kConst));
    }
};

// The distinct parameter lists of a function's declarations, in the order
// they first come.
std::string Key(const std::vector<ArgumentType> &parameters) {
    std::string key;
    for (const ArgumentType &p : parameters)
        key += p.base +
               (p.matrix   ? "m"
                : p.vector ? "v"
                           : "s") +
               std::to_string(p.rows) + std::to_string(p.cols) + "[" + std::to_string(p.arrays) +
               (p.known ? "," : "?,");
    return key;
}
std::vector<std::vector<ArgumentType>> Signatures(const Function &function) {
    std::vector<std::vector<ArgumentType>> signatures;
    std::set<std::string> keys;
    for (const std::vector<ArgumentType> &parameters : function.overloads)
        if (keys.insert(Key(parameters)).second) signatures.push_back(parameters);
    return signatures;
}

// A call of a function the file declares: its name's token, and the
// declaration it calls (Resolve) where the file has several.
struct Call {
    size_t name;
    const Function *function;
    int chosen;
    bool overrides; // where the name is an intrinsic's: the file's function is called
    std::vector<ArgumentType> arguments;
    std::vector<ArgumentType> held; // each argument's without a cast in front of it
};

std::string Spelled(const ArgumentType &type) {
    if (type.matrix) return type.base + std::to_string(type.rows) + "x" + std::to_string(type.cols);
    return type.vector ? type.base + std::to_string(type.cols) : type.base;
}

// A cast of each argument that gives a parameter fewer components than it
// has: Windows drops the others, glslang finds no function to call. A cast
// of a variable given to an out or inout parameter is dropped: Windows
// converts the value both ways, glslang converts an out argument itself
// but writes invalid SPIR-V for the cast (or crashes on an inout one).
bool CastArguments(const Reader &reader, const Call &call,
                   const std::vector<ArgumentType> &parameters, Edits &edits,
                   const LexedHlsl &lexed, Diagnostics &diagnostics) {
    const std::string &text = reader.text;
    const Tokens &tokens    = reader.tokens;
    bool refused            = false;
    const auto ranges       = CallArguments(text, tokens, call.name + 1);
    const size_t close      = ClosingBracket(text, tokens, call.name + 1);
    const char before       = call.name > 0 ? MarkOf(text, tokens[call.name - 1]) : ';';
    const bool statement    = close + 1 < tokens.size() && MarkOf(text, tokens[close + 1]) == ';' &&
                           (before == ';' || before == '{' || before == '}' || before == ')' ||
                            (call.name > 0 && Is(text, tokens[call.name - 1], "else")));
    std::string copiesIn, copiesOut;
    for (size_t a = 0; a < ranges.size() && a < parameters.size(); ++a) {
        const auto [first, last] = ranges[a];
        const ArgumentType &to   = parameters[a];
        const bool cast          = last > first + 3 && MarkOf(text, tokens[first]) == '(' &&
                          MarkOf(text, tokens[first + 2]) == ')' &&
                          TypeNamed(Spelling(text, tokens[first + 1])).known;
        const size_t variable   = cast ? first + 3 : first;
        const ArgumentType held = a < call.held.size() ? call.held[a] : ArgumentType();
        // An out or inout argument is a variable that is not const, on
        // Windows ("out parameters require l-value arguments").
        bool lvalue =
            Variable(text, tokens, variable, last) || (!cast && MarkOf(text, tokens[first]) == '(');
        // A swizzle that names a component twice cannot be written
        // (function.shader_test: "x.yy"); a member's name is no swizzle.
        if (lvalue && last > variable + 2 && MarkOf(text, tokens[last - 2]) == '.') {
            const std::string_view swizzle = Spelling(text, tokens[last - 1]);
            const bool letters             = swizzle.size() <= 4 &&
                                 (swizzle.find_first_not_of("xyzw") == std::string_view::npos ||
                                  swizzle.find_first_not_of("rgba") == std::string_view::npos);
            for (size_t k = 0; letters && k < swizzle.size(); ++k)
                if (swizzle.find(swizzle[k], k + 1) != std::string_view::npos) lvalue = false;
        }
        if (to.written && (!lvalue || held.constant)) {
            const Token &t = tokens[first];
            diagnostics.Error(lexed.files[t.file], t.line, t.column,
                              "'" + std::string(Spelling(text, tokens[call.name])) +
                                  "': an out or inout argument must be a variable that is not "
                                  "const");
            refused = true;
            continue;
        }
        if (to.written && Variable(text, tokens, variable, last)) {
            // A variable of another type than the parameter's, where the call
            // is a statement of its own: a temporary of the parameter's type
            // takes the value and gives it back, through the cast's type where
            // there is one (glslang crashes on an inout argument it must
            // convert, and writes invalid SPIR-V for a vector one or a cast;
            // function-cast.shader_test records the value going through the
            // cast both ways).
            bool differs = held.known && to.known && !held.arrays && !to.arrays &&
                           (Key({held}) != Key({to}) || cast);
            for (size_t j = variable; j < last; ++j)
                differs = differs && MarkOf(text, tokens[j]) != '(';
            if (statement && differs) {
                const std::string temporary = GeneratedName("argument" + std::to_string(a));
                const std::string value     = text.substr(
                        tokens[variable].offset, tokens[last - 1].end() - tokens[variable].offset);
                const std::string through =
                    cast ? "(" + std::string(Spelling(text, tokens[first + 1])) + ")" : "";
                copiesIn += Spelled(to) + " " + temporary + " = (" + Spelled(to) + ")" + through +
                            "(" + value + "); ";
                copiesOut += " " + value + " = (" + Spelled(held) + ")" + through + temporary + ";";
                edits.push_back({tokens[first].offset,
                                 tokens[last - 1].end() - tokens[first].offset, temporary});
            } else if (cast) {
                edits.push_back({tokens[first].offset,
                                 tokens[first + 3].offset - tokens[first].offset, std::string()});
            }
            continue;
        }
        if (a >= call.arguments.size()) continue;
        const ArgumentType &from = call.arguments[a];
        if (!from.known || !to.known || to.written || to.arrays || from.arrays ||
            Components(to) >= Components(from) || from.matrix != to.matrix)
            continue;
        edits.push_back({tokens[ranges[a].first].offset, 0, "(" + Spelled(to) + ")("});
        edits.push_back({tokens[ranges[a].second - 1].end(), 0, ")"});
    }
    if (copiesIn.empty()) return refused;
    edits.push_back({tokens[call.name].offset, 0, "{ " + copiesIn});
    edits.push_back({tokens[close + 1].end(), 0, copiesOut + " }"});
    return refused;
}

// Names each of a function's overloads apart, and its calls the one they
// call, where Resolve tells that of every call: glslang picks overloads by
// other rules (int for min16int and uint alike, double before float2 for a
// float) and takes half for float, so that a half and a float overload are
// one function to it. Elsewhere a function named like an intrinsic is
// renamed where its parameters take the arguments. A call Windows finds
// ambiguous, or that gives an out parameter what is no variable or a const
// one, and a declaration of another return type than an earlier one of its
// parameters, are refused; returns whether there was one.
bool NameOverloads(const Reader &reader, const LexedHlsl &lexed, const Functions &defined,
                   const std::vector<Call> &calls, Edits &edits, Diagnostics &diagnostics) {
    const std::string &text = reader.text;
    const Tokens &tokens    = lexed.tokens;
    bool refused            = false;
    for (const Call &call : calls) {
        if (call.chosen != kAmbiguous) continue;
        const Token &t = tokens[call.name];
        diagnostics.Error(lexed.files[t.file], t.line, t.column,
                          "'" + std::string(Spelling(text, t)) + "': ambiguous function call");
        refused = true;
    }
    for (const auto &[name, function] : defined) {
        // Declarations of one parameter list must return one type.
        for (size_t at : function.otherReturns) {
            const Token &t = tokens[at];
            diagnostics.Error(lexed.files[t.file], t.line, t.column,
                              "'" + name + "': redeclared with a different return type");
            refused = true;
        }
        const auto signatures = Signatures(function);
        bool apart            = signatures.size() > 1 && !function.defaults;
        for (const Call &call : calls)
            if (call.function == &function &&
                (call.chosen == kUnknown || call.chosen == kAmbiguous ||
                 (call.chosen == kNone && !Intrinsic(name))))
                if (std::find(function.names.begin(), function.names.end(), call.name) ==
                    function.names.end())
                    apart = false;
        const std::string spelled = name; // a lambda may not capture a structured binding
        auto named                = [&](size_t signature) {
            return GeneratedName(std::to_string(signature) + "_" + spelled);
        };
        for (const Call &call : calls) {
            if (call.function != &function) continue;
            const Token &t = tokens[call.name];
            const auto own = std::find(function.names.begin(), function.names.end(), call.name);
            if (apart && own != function.names.end()) {
                const std::string key = Key(function.overloads[own - function.names.begin()]);
                for (size_t s = 0; s < signatures.size(); ++s)
                    if (Key(signatures[s]) == key) edits.push_back({t.offset, t.length, named(s)});
            } else if (apart) {
                if (call.chosen < 0) continue;
                edits.push_back({t.offset, t.length, named(call.chosen)});
                refused = CastArguments(reader, call, signatures[call.chosen], edits, lexed,
                                        diagnostics) ||
                          refused;
            } else if (call.overrides || (own == function.names.end() && !Intrinsic(name) &&
                                          signatures.size() == 1)) {
                if (call.overrides) edits.push_back({t.offset, t.length, GeneratedName(name)});
                if (own == function.names.end() && signatures.size() == 1)
                    refused =
                        CastArguments(reader, call, signatures[0], edits, lexed, diagnostics) ||
                        refused;
            }
        }
    }
    return refused;
}

} // namespace

bool RewriteScalarCalls(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                        const char *entryPoint, Diagnostics &diagnostics) {
    const Tokens &tokens = lexed.tokens;
    const HlslPlaces places(model, lexed);
    const Reader reader{text, tokens, model, places};
    static const std::set<std::string, std::less<>> kRewritten = {
        "any",     "all",         "transpose", "determinant", "normalize", "reflect",
        "refract", "faceforward", "length",    "distance",    "dot",       "mul"};
    const auto defined = DefinedFunctions(model, text, lexed);
    std::vector<Call> calls;
    Edits edits;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t    = tokens[i];
        const bool member = i > 0 && MarkOf(text, tokens[i - 1]) == '.';
        if (t.kind != TokenKind::Identifier || member || i + 1 >= tokens.size() ||
            MarkOf(text, tokens[i + 1]) != '(')
            continue;
        const std::string_view name = Spelling(text, t);
        auto own                    = defined.find(name);
        if (own == defined.end()) {
            if (kRewritten.count(name)) RewriteCall(reader, i, edits);
            continue;
        }
        if (name == entryPoint) continue;
        const Function &function = own->second;
        calls.push_back(
            {i, &function, kUnknown, Intrinsic(name) && Overrides(reader, function, i), {}, {}});
        if (std::find(function.names.begin(), function.names.end(), i) != function.names.end())
            continue;
        std::vector<ArgumentType> types;
        for (const auto &[first, last] : CallArguments(text, tokens, i + 1)) {
            types.push_back(reader.Expression(first, last));
            const bool cast = last > first + 3 && MarkOf(text, tokens[first]) == '(' &&
                              MarkOf(text, tokens[first + 2]) == ')';
            calls.back().held.push_back(cast ? reader.Expression(first + 3, last) : types.back());
        }
        calls.back().chosen    = Resolve(Signatures(function), types);
        calls.back().arguments = types;
    }
    const bool refused = NameOverloads(reader, lexed, defined, calls, edits, diagnostics);
    // At one offset a replaced name stands after what is put in front of it,
    // and what one call puts after an argument in the order the calls came.
    edits.Apply(text, lexed);
    return !refused;
}

bool RewriteOperandShapes(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                          Diagnostics &diagnostics) {
    const HlslPlaces places(model, lexed);
    Edits wraps;
    Shaper shaper{model, places, wraps, {}};
    shaper.shaped.resize(model.exprs.size());
    const HlslExpr *refused = nullptr; // what Windows refuses, first in the text
    std::string refusal;
    auto refuse = [&](const HlslExpr &at, const char *why) {
        if (refused && refused->start.token <= at.start.token) return;
        refused = &at;
        refusal = why;
    };
    auto shape = [&](int x) {
        const HlslExpr &e    = model.exprs[x];
        ArgumentType &shaped = shaper.shaped[x];
        shaped               = TypeOf(model, x);
        if (e.kind == HlslExprKind::Binary && ShapedOperator(e.text)) {
            shaped = shaper.Binary(e);
        } else if (e.kind == HlslExprKind::Call && e.function < 0 && Componentwise(e.text) &&
                   !e.children.empty()) {
            shaped = shaper.Call(e);
        } else if (e.kind == HlslExprKind::Unary && e.text != "!" && e.text != "~") {
            shaped = shaper.shaped[e.children[0]];
        } else if (e.kind == HlslExprKind::Index) {
            // An index is a scalar; a vector, even of one component, is
            // refused (vector-indexing.shader_test).
            const ArgumentType index = TypeOf(model, e.children[1]);
            if (TypeOf(model, e.children[0]).known && (index.vector || index.matrix))
                refuse(model.exprs[e.children[1]],
                       "invalid type for index - index must be a scalar");
        } else if (e.kind == HlslExprKind::Assign) {
            // A vector has no address: a component of one is written to
            // only where its index is known when compiled, which a
            // uniform's is not (vector-indexing.shader_test).
            const HlslExpr &target = model.exprs[e.children[0]];
            if (shaper.UniformElement(target))
                refuse(target, "array reference cannot be used as an l-value; not natively "
                               "addressable");
            // A compound assignment reads a one-component value as a scalar
            // too.
            const Typed left = shaper.Operand(e.children[0]), right = shaper.Operand(e.children[1]);
            if (e.text != "=" && left.type.known && !OneByOne(left.type) && OneByOne(right.type) &&
                (right.type.vector || right.type.matrix))
                shaper.Surround(right, "(", ").x");
        }
    };
    // Each expression after those inside it: inner operands are shaped, and
    // wrapped, first. The walk keeps its own stack: expressions nest as deep
    // as the model reads.
    std::vector<char> done(model.exprs.size(), 0);
    std::vector<std::pair<int, size_t>> stack; // an expression, the next child to walk
    for (size_t root = 0; root < model.exprs.size(); ++root) {
        if (done[root]) continue;
        stack.push_back({static_cast<int>(root), 0});
        while (!stack.empty()) {
            auto &[x, next]                  = stack.back();
            const std::vector<int> &children = model.exprs[x].children;
            if (next < children.size()) {
                const int child = children[next++];
                if (child >= 0 && !done[child]) stack.push_back({child, 0});
                continue;
            }
            done[x] = 1;
            shape(x);
            stack.pop_back();
        }
    }
    if (refused) {
        diagnostics.Error(model.files[refused->start.file], refused->start.line,
                          refused->start.column, refusal);
        return false;
    }
    wraps.Apply(text, lexed);
    return true;
}
