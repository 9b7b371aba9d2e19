// Intrinsic calls as the Windows compiler reads them (call_forms.h). One
// walk reads the declarations in order, with the scopes of the blocks they
// are in, so that the arguments of a call have the types their names had
// there.
#include "platform/gl/hlsl/call_forms.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace {

// A numeric type the text names: a scalar, a vector (float1 is one) or a
// matrix, and how many array dimensions a name of it has.
struct Type {
    bool known = false, vector = false, matrix = false;
    std::string base;
    int rows = 1, cols = 1, arrays = 0;
    // A scalar or a one-component vector, which Windows reads as a scalar.
    bool single() const { return known && !matrix && arrays == 0 && cols == 1; }
    bool plain() const { return known && !matrix && arrays == 0; } // a scalar or a vector
};

const char *const kBases[] = {"float",      "int",      "uint",     "bool",
                              "half",       "double",   "dword",    "min16float",
                              "min10float", "min16int", "min12int", "min16uint"};

Type TypeNamed(std::string_view name) {
    Type type;
    for (const char *b : kBases) {
        const std::string_view base(b);
        if (name.compare(0, base.size(), base) != 0) continue;
        const std::string_view rest = name.substr(base.size());
        auto digit                  = [](char c) { return c >= '1' && c <= '4'; };
        if (rest.size() == 1 && digit(rest[0])) {
            type.vector = true;
            type.cols   = rest[0] - '0';
        } else if (rest.size() == 3 && digit(rest[0]) && rest[1] == 'x' && digit(rest[2])) {
            type.matrix = true;
            type.rows   = rest[0] - '0';
            type.cols   = rest[2] - '0';
        } else if (!rest.empty()) {
            continue;
        }
        type.known = true;
        type.base  = base == "dword" ? "uint" : std::string(base);
        return type;
    }
    return type;
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

Type LiteralType(std::string_view number) {
    Type type;
    type.known = true;
    const bool hex =
        number.size() > 1 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
    const char last   = number.back();
    const bool isReal = !hex && number.find_first_of(".eE") != std::string_view::npos;
    if (isReal || (!hex && (last == 'f' || last == 'F' || last == 'h' || last == 'H')))
        type.base = last == 'h' || last == 'H' ? "half" : "float";
    else
        type.base = number.find_first_of("uU") != std::string_view::npos ? "uint" : "int";
    return type;
}

using Edit = TextEdit;

// The variables in scope where the walk stands: one map per block, the
// file's first; a function's parameters wait for its body.
struct Scopes {
    std::vector<std::map<std::string, Type, std::less<>>> blocks{1};
    std::map<std::string, Type, std::less<>> parameters;
    Type Find(std::string_view name) const {
        for (size_t i = blocks.size(); i-- > 0;) {
            auto found = blocks[i].find(name);
            if (found != blocks[i].end()) return found->second;
        }
        return Type();
    }
};

struct Reader {
    const std::string &text;
    const std::vector<Token> &tokens;
    const Scopes &scopes;

    bool Binary(const Token &t) const {
        static const char *const kOperators[] = {"+",  "-",  "*",  "/",  "%",  "&",
                                                 "|",  "^",  "<<", ">>", "<",  ">",
                                                 "<=", ">=", "==", "!=", "&&", "||"};
        if (t.kind != TokenKind::Punctuator) return false;
        for (const char *op : kOperators)
            if (Is(text, t, op)) return true;
        return false;
    }

    // The type of the operand at tokens[j] (prefix operators, a primary,
    // postfix operators); next is the token after it. Unknown where the
    // text does not tell.
    Type Operand(size_t j, size_t last, size_t &next) const {
        next = last;
        if (j >= last) return Type();
        const Token &t = tokens[j];
        if (t.kind == TokenKind::Punctuator &&
            (Is(text, t, "-") || Is(text, t, "+") || Is(text, t, "~") || Is(text, t, "!") ||
             Is(text, t, "++") || Is(text, t, "--"))) {
            Type type = Operand(j + 1, last, next);
            if (Is(text, t, "!") && type.known) type.base = "bool";
            return type;
        }
        Type type;
        size_t after = j + 1;
        if (MarkOf(text, t) == '(') {
            const size_t close = ClosingBracket(text, tokens, j);
            if (close >= last) return Type();
            const Type cast = TypeNamed(Spelling(text, tokens[j + 1]));
            if (close == j + 2 && cast.known) {
                const Type operand = Operand(close + 1, last, next);
                return operand.known ? cast : Type();
            }
            type  = Expression(j + 1, close);
            after = close + 1;
        } else if (t.kind == TokenKind::Number) {
            type = LiteralType(Spelling(text, t));
        } else if (t.kind == TokenKind::Identifier) {
            const std::string_view name = Spelling(text, t);
            const bool call             = j + 1 < last && MarkOf(text, tokens[j + 1]) == '(';
            if (name == "true" || name == "false") {
                type.known = true;
                type.base  = "bool";
            } else if (call) {
                type  = TypeNamed(name); // a constructor; other calls are not known
                after = ClosingBracket(text, tokens, j + 1) + 1;
            } else {
                type = scopes.Find(name);
            }
        } else {
            return Type();
        }
        // Postfix: swizzles, indexing, increments.
        while (after < last && type.known) {
            const char c = MarkOf(text, tokens[after]);
            if (c == '.' && after + 1 < last) {
                const std::string_view swizzle = Spelling(text, tokens[after + 1]);
                const bool letters             = swizzle.size() <= 4 &&
                                     (swizzle.find_first_not_of("xyzw") == std::string_view::npos ||
                                      swizzle.find_first_not_of("rgba") == std::string_view::npos);
                if (!type.plain() || !letters) return Type();
                type.vector = swizzle.size() > 1;
                type.cols   = static_cast<int>(swizzle.size());
                after += 2;
            } else if (c == '[') {
                if (type.arrays > 0) {
                    --type.arrays;
                } else if (type.matrix) {
                    type.matrix = false;
                    type.vector = true;
                    type.rows   = 1;
                } else if (type.vector) {
                    type.vector = false;
                    type.cols   = 1;
                } else {
                    return Type();
                }
                after = ClosingBracket(text, tokens, after) + 1;
            } else if (Is(text, tokens[after], "++") || Is(text, tokens[after], "--")) {
                ++after;
            } else {
                break;
            }
        }
        next = after;
        return type;
    }

    // The type of tokens [first, last): operands joined by binary operators.
    Type Expression(size_t first, size_t last) const {
        size_t next = first;
        Type type   = Operand(first, last, next);
        while (type.known && next < last) {
            if (!Binary(tokens[next])) return Type();
            const std::string_view op = Spelling(text, tokens[next]);
            const Type right          = Operand(next + 1, last, next);
            if (!right.known || type.matrix || right.matrix || type.arrays || right.arrays)
                return Type();
            if (Rank(right.base) > Rank(type.base)) type.base = right.base;
            if (type.single() || (!right.single() && right.cols < type.cols)) {
                type.vector = right.vector;
                type.cols   = right.cols;
            }
            if (op == "<" || op == ">" || op == "<=" || op == ">=" || op == "==" || op == "!=" ||
                op == "&&" || op == "||")
                type.base = "bool";
        }
        return type;
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
// of each overload (unknown where the text does not give a numeric type),
// and where the names stand.
struct Function {
    std::vector<std::vector<Type>> overloads;
    std::vector<size_t> names;
};
using Functions = std::map<std::string, Function, std::less<>>;

Functions DefinedFunctions(const std::string &text, const std::vector<Token> &tokens) {
    Functions defined;
    int depth = 0;
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        const char c = MarkOf(text, tokens[i]);
        if (c == '{') ++depth;
        if (c == '}') --depth;
        if (depth != 0 || i == 0 || tokens[i].kind != TokenKind::Identifier ||
            MarkOf(text, tokens[i + 1]) != '(' ||
            (tokens[i - 1].kind != TokenKind::Identifier && MarkOf(text, tokens[i - 1]) != '>'))
            continue;
        Function &function = defined[std::string(Spelling(text, tokens[i]))];
        function.names.push_back(i);
        std::vector<Type> parameters;
        for (const auto &[first, last] : CallArguments(text, tokens, i + 1)) {
            Type type;
            for (size_t j = first; j < last && !type.known; ++j)
                type = TypeNamed(Spelling(text, tokens[j]));
            parameters.push_back(type);
        }
        function.overloads.push_back(parameters);
    }
    return defined;
}

// Whether a value of type from is passed to a parameter of type to, as far
// as the text tells: a scalar to anything, a vector to one as long or
// shorter, or to a scalar.
bool Passes(const Type &from, const Type &to) {
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

// The edits for the call whose name is tokens[i].
void RewriteCall(const Reader &reader, size_t i, std::vector<Edit> &edits) {
    const std::string &text          = reader.text;
    const std::vector<Token> &tokens = reader.tokens;
    const std::string_view name      = Spelling(text, tokens[i]);
    const size_t open = i + 1, close = ClosingBracket(text, tokens, open);
    if (close >= tokens.size()) return;
    const auto arguments = CallArguments(text, tokens, open);
    std::vector<Type> types;
    for (const auto &[first, last] : arguments)
        types.push_back(reader.Expression(first, last));
    auto wrap = [&](size_t argument, const std::string &before, const std::string &after) {
        edits.push_back({tokens[arguments[argument].first].offset, 0, before});
        edits.push_back({tokens[arguments[argument].second - 1].end(), 0, after});
    };
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
    for (const std::vector<Type> &parameters : function.overloads) {
        bool passes = parameters.size() == arguments.size();
        for (size_t a = 0; passes && a < arguments.size(); ++a)
            passes =
                Passes(reader.Expression(arguments[a].first, arguments[a].second), parameters[a]);
        if (passes) return true;
    }
    return false;
}

bool Declares(const std::string &text, const std::vector<Token> &tokens, size_t name) {
    if (name + 1 >= tokens.size() || tokens[name].kind != TokenKind::Identifier) return false;
    const char c = MarkOf(text, tokens[name + 1]);
    return c == ';' || c == ',' || c == '=' || c == ')' || c == ':' || c == '[';
}

} // namespace

void RewriteScalarCalls(std::string &text, LexedHlsl &lexed) {
    const std::vector<Token> &tokens                           = lexed.tokens;
    static const std::set<std::string, std::less<>> kRewritten = {
        "any",     "all",         "transpose", "determinant", "normalize", "reflect",
        "refract", "faceforward", "length",    "distance",    "dot"};
    const auto defined = DefinedFunctions(text, tokens);
    Scopes scopes;
    const Reader reader{text, tokens, scopes};
    std::vector<Edit> edits;
    std::vector<bool> pushed; // per open brace: whether it opened a scope
    bool bufferHeader = false;
    int parens        = 0;
    Type pending; // the type of the declaration being read, for its next names
    int pendingParens    = -1;
    size_t pendingBlocks = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t    = tokens[i];
        const char c      = MarkOf(text, t);
        const bool member = i > 0 && MarkOf(text, tokens[i - 1]) == '.';
        if (t.kind == TokenKind::Identifier && !member && i + 1 < tokens.size() &&
            MarkOf(text, tokens[i + 1]) == '(') {
            const std::string_view name = Spelling(text, t);
            auto own                    = defined.find(name);
            if (own == defined.end()) {
                if (kRewritten.count(name)) RewriteCall(reader, i, edits);
            } else if (Intrinsic(name) && Overrides(reader, own->second, i)) {
                edits.push_back({t.offset, t.length, "hf_" + std::string(name)});
            }
        }
        auto declare = [&](size_t at, const Type &type) {
            Type declared = type;
            for (size_t j = at + 1; j < tokens.size() && MarkOf(text, tokens[j]) == '[';
                 j        = ClosingBracket(text, tokens, j) + 1)
                ++declared.arrays;
            const std::string name(Spelling(text, tokens[at]));
            if (scopes.blocks.size() == 1 && parens > 0)
                scopes.parameters[name] = declared;
            else
                scopes.blocks.back()[name] = declared;
        };
        if (c == '{') {
            const bool scope = !bufferHeader;
            if (scope) {
                scopes.blocks.emplace_back();
                if (scopes.blocks.size() == 2) scopes.blocks.back().swap(scopes.parameters);
            }
            pushed.push_back(scope);
            bufferHeader = false;
        } else if (c == '}') {
            if (!pushed.empty() && pushed.back() && scopes.blocks.size() > 1)
                scopes.blocks.pop_back();
            if (!pushed.empty()) pushed.pop_back();
        } else if (c == '(') {
            ++parens;
        } else if (c == ')') {
            --parens;
            if (parens == pendingParens - 1) pending = Type();
        } else if (c == ';') {
            if (parens == pendingParens) pending = Type();
            if (scopes.blocks.size() == 1 && parens == 0) scopes.parameters.clear();
        } else if (c == ',' && pending.known && parens == pendingParens &&
                   scopes.blocks.size() == pendingBlocks && Declares(text, tokens, i + 1)) {
            declare(i + 1, pending);
        } else if (t.kind == TokenKind::Identifier && !member) {
            const std::string_view name = Spelling(text, t);
            if (scopes.blocks.size() == 1 && (name == "cbuffer" || name == "tbuffer"))
                bufferHeader = true;
            const Type type = TypeNamed(name);
            if (type.known && Declares(text, tokens, i + 1)) {
                declare(i + 1, type);
                pending       = type;
                pendingParens = parens;
                pendingBlocks = scopes.blocks.size();
            }
        }
    }
    if (edits.empty()) return;
    // Later edits first, so that each offset still holds; at one offset a
    // replaced name before what is put in front of it, and what one call
    // puts after an argument in the order the calls came.
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
        return a.offset != b.offset ? a.offset > b.offset : a.length > b.length;
    });
    for (const Edit &edit : edits)
        text.replace(edit.offset, edit.length, edit.text);
    lexed = LexHlsl(text, lexed.files[0]);
}
