// The parser of the HLSL model: recursive descent over the code tokens,
// declarations, statements and expressions by HLSL's grammar and
// precedence. Each expression is typed as soon as it is built (typer.cpp).
//
// Recovery: a construct that does not parse records one error and the
// parser skips to the next ';' (consumed) or '}' (left for the block that
// owns it) at the depth it started, so one mistake costs one statement.
// Every loop consumes a token or stops, and the nesting is bounded, so no
// input makes it loop or overflow the stack.
#include "platform/gl/hlsl/model/builder.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <cstdlib>

namespace {

constexpr size_t kMaxErrors = 200; // a garbage file says enough by then

constexpr std::string_view kErrorWords[] = {
    "expected %0, found %1",                 // Syntax
    "nesting deeper than %0",                // TooDeep
    "undeclared identifier '%0'",            // Undeclared
    "unknown type '%0'",                     // UnknownType
    "redefinition of '%0'",                  // Redefinition
    "no overload of '%0' takes (%1)",        // NoOverload
    "ambiguous call to '%0' with (%1)",      // Ambiguous
    "cannot convert from '%0' to '%1'",      // NoConversion
    "implicit truncation of '%0' to '%1'",   // Truncation
    "invalid swizzle '%0' of '%1'",          // BadSwizzle
    "'%1' has no member '%0'",               // NoMember
    "'%0' cannot be indexed",                // NotIndexable
    "operator %0 cannot take '%1' and '%2'", // BadOperands
    "'%0' is const and cannot be assigned",  // ConstAssign
    "'%0' takes %1 components, %2 given",    // ArgumentCount
    "narrowing of '%0' to '%1'",             // Narrowing
};

// RAII count of the nesting: false from Enter when it is too deep (after
// one error), so the caller returns without reading on.
struct Nesting {
    ModelBuilder &b;
    explicit Nesting(ModelBuilder &builder) : b(builder) { ++b.depth; }
    ~Nesting() { --b.depth; }
    bool TooDeep() {
        if (b.depth <= kMaxNesting) return false;
        if (b.depth == kMaxNesting + 1)
            b.Error(HlslErrorKind::TooDeep, b.Here(), {std::to_string(kMaxNesting)});
        return true;
    }
};

constexpr std::string_view kModifiers[] = {
    "static",
    "const",
    "uniform",
    "groupshared",
    "extern",
    "shared",
    "volatile",
    "precise",
    "nointerpolation",
    "linear",
    "centroid",
    "noperspective",
    "sample",
    "in",
    "out",
    "inout",
    "inline",
    "row_major",
    "column_major",
    "point",
    "line",
    "triangle",
    "lineadj",
    "triangleadj",
    "snorm",
    "unorm",
    "export",
    "globallycoherent",
};

unsigned ModifierBit(std::string_view w) {
    if (w == "static") return kStatic;
    if (w == "const") return kConst;
    if (w == "uniform") return kUniform;
    if (w == "groupshared") return kGroupShared;
    if (w == "extern") return kExtern;
    if (w == "shared") return kShared;
    if (w == "volatile") return kVolatile;
    if (w == "precise") return kPrecise;
    if (w == "nointerpolation") return kNoInterpolation;
    if (w == "linear") return kLinear;
    if (w == "centroid") return kCentroid;
    if (w == "noperspective") return kNoPerspective;
    if (w == "sample") return kSample;
    if (w == "in") return kIn;
    if (w == "out") return kOut;
    if (w == "inout") return kIn | kOut;
    if (w == "inline") return kInline;
    if (w == "point" || w == "line" || w == "triangle" || w == "lineadj" || w == "triangleadj")
        return kPrimitive;
    return 0;
}

struct Modifiers {
    unsigned storage   = 0;
    HlslMajority major = HlslMajority::Default;
    std::vector<std::string> words;
};

// Skips to the end of the construct that failed: past the next ';', or
// before the next '}', at the depth reading started.
void Recover(ModelBuilder &b) {
    int depth = 0;
    while (!b.AtEnd()) {
        const char c = MarkOf(b.text, b.Peek());
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']') depth = std::max(depth - 1, 0);
        if (c == '}') {
            if (depth == 0) return;
            if (--depth == 0) {
                // A block closed at our depth ends the construct, with the
                // ';' after it if there is one (struct S {...};).
                ++b.at;
                b.Accept(";");
                return;
            }
        }
        if (c == ';' && depth == 0) {
            ++b.at;
            return;
        }
        ++b.at;
    }
}

// Skips the bracket opened at the next token ('{', '(' or '['), to past its
// closing one or to the end.
void SkipBracket(ModelBuilder &b) {
    const size_t close = ClosingBracket(b.text, b.tokens, b.at);
    b.at               = std::min(close + 1, b.tokens.size());
}

// Skips an annotation list < ... > after a declaration (effect files).
void SkipAnnotations(ModelBuilder &b) {
    if (!b.IsWord("<")) return;
    ++b.at;
    while (!b.AtEnd() && !b.IsWord(">")) {
        if (b.IsWord("{") || b.IsWord("(")) {
            SkipBracket(b);
            continue;
        }
        ++b.at;
    }
    b.Accept(">");
}

bool IsModifier(const ModelBuilder &b, size_t ahead) {
    const Token &t = b.Peek(ahead);
    if (t.kind != TokenKind::Identifier) return false;
    for (std::string_view m : kModifiers)
        if (Is(b.text, t, m)) return b.Peek(ahead + 1).kind == TokenKind::Identifier;
    return false;
}

Modifiers ParseModifiers(ModelBuilder &b) {
    Modifiers m;
    while (IsModifier(b, 0)) {
        const std::string_view w = b.Word();
        if (w == "row_major") m.major = HlslMajority::RowMajor;
        if (w == "column_major") m.major = HlslMajority::ColumnMajor;
        m.storage |= ModifierBit(w);
        m.words.emplace_back(w);
        ++b.at;
    }
    return m;
}

// Whether the token ahead starts a type: a built-in type, 'struct', or a
// struct or typedef in scope.
bool IsTypeStart(const ModelBuilder &b, size_t ahead) {
    const Token &t = b.Peek(ahead);
    if (t.kind != TokenKind::Identifier) return false;
    const std::string_view w = Spelling(b.text, t);
    HlslType ignored;
    if (w == "struct" || BuiltinTypeFromName(w, ignored)) return true;
    const int symbol = b.Lookup(w);
    return symbol >= 0 && (b.model.symbols[symbol].kind == HlslSymbolKind::Struct ||
                           b.model.symbols[symbol].kind == HlslSymbolKind::Typedef);
}

bool ParseType(ModelBuilder &b, HlslType &type, bool quiet);
int ParseAssignment(ModelBuilder &b);
int ParseExpression(ModelBuilder &b);
int ParseStatement(ModelBuilder &b);
int ParseInitializer(ModelBuilder &b);
void ParseDeclaration(ModelBuilder &b, std::vector<int> *declared);

// '>' closing a template argument list; a '>>' closes two, so it is split.
bool CloseAngle(ModelBuilder &b) {
    if (b.Accept(">")) return true;
    if (b.IsWord(">>")) {
        Token &t = b.tokens[b.at];
        ++t.offset;
        --t.length;
        ++t.column;
        return true;
    }
    return b.Expect(">");
}

// A template argument that is a number (Texture2DMS<float4, 8>).
bool ParseTemplateNumber(ModelBuilder &b, int &out) {
    if (b.Peek().kind != TokenKind::Number) return false;
    const long n = std::strtol(std::string(b.Word()).c_str(), nullptr, 0);
    out          = static_cast<int>(std::min(std::max(n, 0L), 1L << 20));
    ++b.at;
    return true;
}

bool ParseTemplateArguments(ModelBuilder &b, HlslType &type, bool quiet) {
    // vector<T, N> and matrix<T, R, C> are numeric types; the others objects.
    const bool isVector = type.kind == HlslClass::Vector, isMatrix = type.kind == HlslClass::Matrix;
    ++b.at; // '<'
    std::vector<HlslType> types;
    std::vector<int> numbers;
    while (!b.AtEnd() && !b.IsWord(">") && !b.IsWord(">>")) {
        int number = 0;
        if (ParseTemplateNumber(b, number)) {
            numbers.push_back(number);
        } else {
            while (IsModifier(b, 0)) // snorm, unorm
                ++b.at;
            HlslType argument;
            if (!ParseType(b, argument, quiet)) return false;
            types.push_back(argument);
        }
        if (!b.Accept(",")) break;
    }
    if (!CloseAngle(b)) return false;
    if (isVector || isMatrix) {
        const size_t wanted = isVector ? 1 : 2;
        auto inRange        = [](int n) { return n >= 1 && n <= 4; };
        if (types.size() != 1 || !types[0].IsNumeric() || numbers.size() != wanted ||
            !inRange(numbers[0]) || (isMatrix && !inRange(numbers[1]))) {
            if (!quiet)
                b.Error(HlslErrorKind::UnknownType, b.Here(), {isVector ? "vector" : "matrix"});
            type = ErrorType();
            return true;
        }
        type = isVector ? VectorType(types[0].scalar, numbers[0])
                        : MatrixType(types[0].scalar, numbers[0], numbers[1]);
        return true;
    }
    type.templateTypes   = types;
    type.templateNumbers = numbers;
    return true;
}

// struct [Name] [: Base] { fields } — declares Name in the scope open now.
bool ParseStruct(ModelBuilder &b, HlslType &type) {
    const HlslPos pos = b.Here();
    ++b.at; // 'struct'
    auto structure = std::make_shared<HlslStruct>();
    if (b.Peek().kind == TokenKind::Identifier && !b.IsWord("{")) {
        structure->name = std::string(b.Word());
        ++b.at;
    }
    if (b.Accept(":")) {
        HlslType base;
        if (!ParseType(b, base, false)) return false;
        if (base.kind == HlslClass::Struct)
            structure->base = base.structure;
        else if (base.kind != HlslClass::Error)
            b.Error(HlslErrorKind::UnknownType, pos, {HlslTypeName(base)});
    }
    type           = HlslType();
    type.kind      = HlslClass::Struct;
    type.structure = structure;
    if (!b.IsWord("{")) {
        // A use of a struct declared before (struct S s;).
        const int known = b.Lookup(structure->name);
        if (known >= 0 && b.model.symbols[known].kind == HlslSymbolKind::Struct) {
            type = b.model.symbols[known].type;
            return true;
        }
        return b.Expect("{");
    }
    ++b.at;
    while (!b.AtEnd() && !b.IsWord("}")) {
        const size_t start = b.at;
        Modifiers m        = ParseModifiers(b);
        HlslType fieldType;
        if (!ParseType(b, fieldType, false)) {
            Recover(b);
            continue;
        }
        fieldType.major = m.major != HlslMajority::Default ? m.major : fieldType.major;
        b.GiveLatent(fieldType);
        bool ok = true;
        do {
            if (b.Peek().kind != TokenKind::Identifier) {
                ok = b.Expect("a member name");
                break;
            }
            HlslField field;
            field.name       = std::string(b.Word());
            field.type       = fieldType;
            field.modifiers  = m.words;
            const HlslPos at = b.Here();
            field.token      = at.token;
            field.offset     = at.offset;
            field.file       = at.file;
            field.line       = at.line;
            field.column     = at.column;
            ++b.at;
            while (b.IsWord("[")) {
                ++b.at;
                long long size = 0;
                if (!b.IsWord("]")) {
                    const int e = ParseExpression(b);
                    if (!EvaluateInteger(b, e, size)) size = 0;
                }
                field.type.arraySizes.push_back(static_cast<int>(size));
                if (!(ok = b.Expect("]"))) break;
            }
            // Of several semantics, the last holds.
            while (ok && b.Accept(":")) {
                if (b.Peek().kind == TokenKind::Identifier) {
                    field.semantic = std::string(b.Word());
                    ++b.at;
                } else {
                    ok = b.Expect("a semantic");
                }
            }
            if (!ok) break;
            for (const HlslField &f : structure->fields)
                if (f.name == field.name)
                    b.Error(HlslErrorKind::Redefinition, b.PosAt(b.at - 1), {field.name});
            structure->fields.push_back(field);
        } while (b.Accept(","));
        if (!ok || !b.Expect(";")) Recover(b);
        if (b.at == start) ++b.at;
    }
    b.Expect("}");
    if (!structure->name.empty()) {
        HlslSymbol symbol;
        symbol.kind = HlslSymbolKind::Struct;
        symbol.name = structure->name;
        symbol.pos  = pos;
        symbol.type = type;
        b.Declare(symbol);
    }
    return true;
}

bool ParseType(ModelBuilder &b, HlslType &type, bool quiet) {
    Nesting nesting(b);
    if (nesting.TooDeep()) return false;
    const Token &t = b.Peek();
    if (t.kind != TokenKind::Identifier) {
        if (!quiet) b.Expect("a type");
        return false;
    }
    const std::string_view w = b.Word();
    if (w == "struct") {
        if (quiet) return false;
        return ParseStruct(b, type);
    }
    if (w == "unsigned") {
        ++b.at;
        HlslType rest;
        const int named = b.Peek().kind == TokenKind::Identifier ? b.Lookup(b.Word()) : -1;
        const bool typedefName =
            named >= 0 && b.model.symbols[named].kind == HlslSymbolKind::Typedef;
        if (typedefName) rest = b.model.symbols[named].type; // typedef int Int; unsigned Int u;
        if (b.Peek().kind == TokenKind::Identifier &&
            (typedefName || BuiltinTypeFromName(b.Word(), rest)) && rest.IsNumeric()) {
            // 'unsigned' makes an int type unsigned; with any other type it
            // is refused where the types are checked, not here.
            ++b.at;
            type = rest.scalar == HlslScalar::Int ? WithScalar(rest, HlslScalar::Uint) : rest;
        } else {
            type = ScalarType(HlslScalar::Uint);
        }
        return true;
    }
    if (BuiltinTypeFromName(w, type)) {
        ++b.at;
        const bool templated = w == "vector" || w == "matrix" || type.kind == HlslClass::Object;
        if (templated && b.IsWord("<")) return ParseTemplateArguments(b, type, quiet);
        return true;
    }
    const int symbol = b.Lookup(w);
    if (symbol >= 0 && (b.model.symbols[symbol].kind == HlslSymbolKind::Struct ||
                        b.model.symbols[symbol].kind == HlslSymbolKind::Typedef)) {
        type = b.model.symbols[symbol].type;
        // An array typedef of matrices made with no majority is column-major
        // wherever it is used (majority-pragma.shader_test).
        if (type.IsArray() && type.kind == HlslClass::Matrix && type.major == HlslMajority::Default)
            type.major = HlslMajority::ColumnMajor;
        ++b.at;
        return true;
    }
    if (!quiet) b.Error(HlslErrorKind::UnknownType, b.Here(), {std::string(w)});
    return false;
}

// [dims] after a declared name; an empty [] is an unsized dimension (0).
bool ParseArraySizes(ModelBuilder &b, HlslType &type) {
    std::vector<int> sizes;
    while (b.IsWord("[")) {
        ++b.at;
        long long size = 0;
        if (!b.IsWord("]")) {
            const int e = ParseExpression(b);
            if (!EvaluateInteger(b, e, size) || size < 0 || size > (1 << 24)) size = 0;
        }
        sizes.push_back(static_cast<int>(size));
        if (!b.Expect("]")) return false;
    }
    // float a[2][3] is an array of 2 float[3]: the outermost size first.
    type.arraySizes.insert(type.arraySizes.begin(), sizes.begin(), sizes.end());
    return true;
}

// What may follow a declared name: ': SEMANTIC', ': register(...)',
// ': packoffset(...)' and annotations, in any order.
bool ParsePostName(ModelBuilder &b, HlslSymbol &symbol) {
    for (;;) {
        if (b.IsWord("<")) {
            SkipAnnotations(b);
            continue;
        }
        if (!b.Accept(":")) return true;
        if (b.Peek().kind != TokenKind::Identifier) return b.Expect("a semantic");
        const std::string_view w = b.Word();
        if ((w == "register" || w == "packoffset") && b.IsWord("(", 1)) {
            const size_t open  = b.at + 1;
            const size_t close = ClosingBracket(b.text, b.tokens, open);
            if (close >= b.tokens.size()) {
                b.at = open;
                return b.Expect(")");
            }
            std::string inside;
            for (size_t i = open + 1; i < close; ++i)
                inside += std::string(Spelling(b.text, b.tokens[i])) +
                          (b.IsWord(",", i - b.at) ? " " : "");
            (w == "register" ? symbol.registerName : symbol.packOffset) = inside;
            b.at                                                        = close + 1;
        } else {
            symbol.semantic = std::string(w);
            ++b.at;
        }
    }
}

// Counts the leaves of an initializer list, flattening nested lists and
// each leaf's own components.
int InitializerCount(const ModelBuilder &b, int expr) {
    const HlslExpr &e = b.model.exprs[expr];
    if (e.kind != HlslExprKind::InitList) return std::max(FlattenedCount(e.type), 1);
    int count = 0;
    for (int c : e.children)
        count += InitializerCount(b, c);
    return count;
}

void CheckInitializer(ModelBuilder &b, HlslSymbol &symbol, int init) {
    const HlslExpr &e = b.model.exprs[init];
    if (e.kind == HlslExprKind::StateBlock || symbol.type.kind == HlslClass::Error) return;
    if (e.kind == HlslExprKind::InitList) {
        const int given = InitializerCount(b, init);
        if (!symbol.type.arraySizes.empty() && symbol.type.arraySizes[0] == 0) {
            // float a[] = {...}: the list sizes the array.
            const int each            = std::max(FlattenedCount(ElementType(symbol.type)), 1);
            symbol.type.arraySizes[0] = std::max(given / each, 1);
        }
        const int wanted = FlattenedCount(symbol.type);
        if (wanted > 0 && given != wanted && !(given == 1 && !symbol.type.IsArray()))
            b.Error(HlslErrorKind::ArgumentCount, e.pos,
                    {HlslTypeName(symbol.type), std::to_string(wanted), std::to_string(given)});
        return;
    }
    CheckConversion(b, e.type, symbol.type, e.pos, init, init);
}

// Words that start a declaration or a statement and never name a variable:
// after a type, one of them means the ';' before it is missing
// ("struct A { ... }" then "struct B ...").
bool IsReservedWord(std::string_view w) {
    static constexpr std::string_view kWords[] = {
        "struct", "typedef", "cbuffer", "tbuffer", "return",      "if",    "else",     "for",
        "while",  "do",      "switch",  "case",    "default",     "break", "continue", "discard",
        "static", "const",   "uniform", "extern",  "groupshared", "in",    "out",      "inout",
    };
    return std::find(std::begin(kWords), std::end(kWords), w) != std::end(kWords);
}

// The declarators after a type: name [dims] [post-name] [= init], ...;
// declares each variable in the scope open now.
bool ParseDeclarators(ModelBuilder &b, const HlslType &type, const Modifiers &m,
                      std::vector<int> *declared, int buffer) {
    do {
        if (b.Peek().kind != TokenKind::Identifier) return b.Expect("a name");
        if (IsReservedWord(b.Word())) return b.Expect(";");
        HlslSymbol symbol;
        symbol.name    = std::string(b.Word());
        symbol.pos     = b.Here();
        symbol.type    = type;
        symbol.storage = m.storage;
        symbol.buffer  = buffer;
        if (m.major != HlslMajority::Default) symbol.type.major = m.major;
        b.GiveLatent(symbol.type);
        if (m.storage & kConst) symbol.type.isConst = true;
        ++b.at;
        if (!ParseArraySizes(b, symbol.type) || !ParsePostName(b, symbol)) return false;
        const bool isGlobal = b.scope == 0;
        int index           = -1;
        if (b.IsWord("{")) {
            // SamplerState s { Filter = ...; }, float f {}: effect state, not a value.
            SkipBracket(b);
        } else if (b.Accept("=")) {
            // The initializer reads names in the scope before the variable.
            const int saved = b.global;
            if (isGlobal) {
                index    = b.Declare(symbol);
                b.global = index;
            }
            const int init = ParseInitializer(b);
            b.global       = saved;
            if (index >= 0) {
                b.model.symbols[index].initializer = init;
                CheckInitializer(b, b.model.symbols[index], init);
            } else {
                symbol.initializer = init;
                CheckInitializer(b, symbol, init);
            }
        }
        if (index < 0) index = b.Declare(symbol);
        if (buffer >= 0) b.model.symbols[buffer].members.push_back(index);
        if (declared) declared->push_back(index);
        if (b.scope == 0) b.model.declarations.push_back(index);
    } while (b.Accept(","));
    return b.Expect(";");
}

// ( params ) [: semantic] then ';' or a body.
void ParseFunction(ModelBuilder &b, const HlslType &returnType, const Modifiers &m,
                   std::vector<std::string> attributes) {
    HlslFunction f;
    f.name       = std::string(b.Word());
    f.pos        = b.Here();
    f.returnType = returnType;
    f.storage    = m.storage;
    f.attributes = std::move(attributes);
    b.at += 2; // name (
    const int outer = b.scope;
    f.scope         = b.OpenScope(HlslScopeKind::Function);
    bool ok         = true;
    if (b.IsWord("void") && b.IsWord(")", 1)) ++b.at;
    while (ok && !b.AtEnd() && !b.IsWord(")")) {
        const Modifiers pm = ParseModifiers(b);
        HlslSymbol p;
        p.kind    = HlslSymbolKind::Parameter;
        p.storage = pm.storage;
        if (!(ok = ParseType(b, p.type, false))) break;
        if (pm.major != HlslMajority::Default) p.type.major = pm.major;
        if (pm.storage & kConst) p.type.isConst = true;
        if (b.Peek().kind != TokenKind::Identifier) {
            ok = b.Expect("a parameter name");
            break;
        }
        p.name = std::string(b.Word());
        p.pos  = b.Here();
        ++b.at;
        if (!(ok = ParseArraySizes(b, p.type) && ParsePostName(b, p))) break;
        if (b.Accept("=")) p.initializer = ParseInitializer(b);
        f.params.push_back(b.Declare(p));
        if (!b.Accept(",")) break;
    }
    ok = ok && b.Expect(")");
    if (ok) f.close = b.PosAt(b.at - 1);
    while (ok && b.Accept(":")) {
        if (b.Peek().kind == TokenKind::Identifier) {
            f.semantic = std::string(b.Word());
            ++b.at;
        } else {
            ok = b.Expect("a semantic");
        }
    }
    // A definition after a declaration of the same parameters fills it in.
    int index = -1;
    for (int s : b.model.scopes[0].symbols) {
        const HlslSymbol &other = b.model.symbols[s];
        if (other.kind != HlslSymbolKind::Function || other.name != f.name) continue;
        const HlslFunction &g = b.model.functions[other.function];
        bool same             = g.params.size() == f.params.size();
        for (size_t i = 0; same && i < f.params.size(); ++i)
            same = SameType(b.model.symbols[g.params[i]].type, b.model.symbols[f.params[i]].type);
        if (same) index = other.function;
    }
    const bool hasBody = ok && b.IsWord("{");
    if (index >= 0 && hasBody && b.model.functions[index].body >= 0) {
        b.Error(HlslErrorKind::Redefinition, f.pos, {f.name});
        index = -1;
    }
    if (index < 0) {
        index = static_cast<int>(b.model.functions.size());
        b.model.functions.push_back(f);
        HlslSymbol symbol;
        symbol.kind                     = HlslSymbolKind::Function;
        symbol.name                     = f.name;
        symbol.pos                      = f.pos;
        symbol.type                     = returnType;
        symbol.function                 = index;
        const int saved                 = b.scope;
        b.scope                         = outer;
        b.model.functions[index].symbol = b.Declare(symbol);
        b.model.declarations.push_back(b.model.functions[index].symbol);
        b.scope = saved;
    } else if (hasBody) {
        // The definition's names and place replace the declaration's.
        HlslFunction &g = b.model.functions[index];
        g.params        = f.params;
        g.scope         = f.scope;
        g.pos           = f.pos;
        g.close         = f.close;
        g.semantic      = f.semantic.empty() ? g.semantic : f.semantic;
        if (!f.attributes.empty()) g.attributes = f.attributes;
    }
    HlslFunction &declared = b.model.functions[index];
    if (declared.otherReturn < 0 && !SameType(declared.returnType, returnType))
        declared.otherReturn = static_cast<int>(declared.names.size());
    declared.names.push_back(f.pos);
    if (hasBody) {
        const int saved               = b.function;
        b.function                    = index;
        const int body                = ParseStatement(b);
        b.model.functions[index].body = body;
        b.function                    = saved;
    } else if (ok) {
        ok = b.Expect(";");
    }
    b.scope = outer;
    if (!ok) Recover(b);
}

// cbuffer Name [: register(b0)] { declarations } [;]
void ParseBuffer(ModelBuilder &b) {
    HlslSymbol buffer;
    buffer.kind      = HlslSymbolKind::Buffer;
    buffer.isTbuffer = b.IsWord("tbuffer");
    ++b.at;
    if (b.Peek().kind != TokenKind::Identifier) {
        b.Expect("a name");
        Recover(b);
        return;
    }
    buffer.name = std::string(b.Word());
    buffer.pos  = b.Here();
    ++b.at;
    if (!ParsePostName(b, buffer) || !b.Expect("{")) {
        Recover(b);
        return;
    }
    const int index = b.Declare(buffer);
    b.model.declarations.push_back(index);
    // The members are globals of their own names, declared in the global
    // scope with the buffer noted on each.
    while (!b.AtEnd() && !b.IsWord("}")) {
        const size_t start = b.at;
        const Modifiers m  = ParseModifiers(b);
        HlslType type;
        if (ParseType(b, type, false)) {
            if (!ParseDeclarators(b, type, m, nullptr, index)) Recover(b);
        } else {
            Recover(b);
        }
        if (b.at == start) ++b.at;
    }
    b.Expect("}");
    b.Accept(";");
}

// typedef [modifiers] type name [dims], ...;
void ParseTypedef(ModelBuilder &b) {
    ++b.at;
    const Modifiers m = ParseModifiers(b);
    HlslType type;
    if (!ParseType(b, type, false)) {
        Recover(b);
        return;
    }
    if (m.major != HlslMajority::Default) type.major = m.major;
    b.GiveLatent(type);
    if (m.storage & kConst) type.isConst = true;
    do {
        if (b.Peek().kind != TokenKind::Identifier) {
            b.Expect("a name");
            Recover(b);
            return;
        }
        HlslSymbol symbol;
        symbol.kind = HlslSymbolKind::Typedef;
        symbol.name = std::string(b.Word());
        symbol.pos  = b.Here();
        symbol.type = type;
        ++b.at;
        if (!ParseArraySizes(b, symbol.type)) {
            Recover(b);
            return;
        }
        const int index = b.Declare(symbol);
        if (b.scope == 0) b.model.declarations.push_back(index);
    } while (b.Accept(","));
    if (!b.Expect(";")) Recover(b);
}

// technique11 T < annotations > { pass P { ... } }, fxgroup G { ... }: the
// effect framework's, not the shader's; kept as a name only.
void SkipTechnique(ModelBuilder &b) {
    ++b.at;
    HlslSymbol symbol;
    symbol.kind = HlslSymbolKind::Technique;
    symbol.pos  = b.Here();
    if (b.Peek().kind == TokenKind::Identifier) {
        symbol.name = std::string(b.Word());
        ++b.at;
    }
    SkipAnnotations(b);
    if (!b.IsWord("{")) {
        b.Expect("{");
        Recover(b);
        return;
    }
    SkipBracket(b);
    b.Accept(";");
    if (!symbol.name.empty()) b.model.declarations.push_back(b.Declare(symbol));
}

std::vector<std::string> ParseAttributes(ModelBuilder &b) {
    std::vector<std::string> attributes;
    while (b.IsWord("[")) {
        const size_t close = ClosingBracket(b.text, b.tokens, b.at);
        std::string words;
        for (size_t i = b.at + 1; i < close && i < b.tokens.size(); ++i)
            words += Spelling(b.text, b.tokens[i]);
        attributes.push_back(words);
        b.at = std::min(close + 1, b.tokens.size());
    }
    return attributes;
}

// A declaration at global or local scope: a variable list, a function, a
// struct (with or without variables) or a typedef.
void ParseDeclaration(ModelBuilder &b, std::vector<int> *declared) {
    std::vector<std::string> attributes = ParseAttributes(b);
    if (b.IsWord("typedef")) return ParseTypedef(b);
    const Modifiers m = ParseModifiers(b);
    HlslType type;
    if (!ParseType(b, type, false)) {
        Recover(b);
        return;
    }
    if (type.kind == HlslClass::Struct && b.Accept(";")) return; // struct S {...};
    if (b.Peek().kind == TokenKind::Identifier && b.IsWord("(", 1) && b.scope == 0) {
        ParseFunction(b, type, m, std::move(attributes));
        return;
    }
    if (!ParseDeclarators(b, type, m, declared, -1)) Recover(b);
}

void ParseTopLevel(ModelBuilder &b) {
    while (!b.AtEnd()) {
        const size_t start = b.at;
        if (b.Accept(";")) continue;
        if (b.IsWord("cbuffer") || b.IsWord("tbuffer")) {
            ParseBuffer(b);
        } else if (b.IsWord("technique") || b.IsWord("technique10") || b.IsWord("technique11") ||
                   b.IsWord("fxgroup")) {
            SkipTechnique(b);
        } else {
            ParseDeclaration(b, nullptr);
        }
        if (b.at == start) {
            b.Error(HlslErrorKind::Syntax, b.Here(), {"a declaration", std::string(b.Word())});
            ++b.at;
        }
    }
}

// ---- expressions ----------------------------------------------------------

// The expression's text ends at the last token read; it starts at its own
// token or its first operand's, whichever stands first.
void SetSpan(ModelBuilder &b, int expr) {
    HlslExpr &e = b.model.exprs[expr];
    e.start     = e.pos;
    for (int c : e.children)
        if (c >= 0 && b.model.exprs[c].start.token < e.start.token)
            e.start = b.model.exprs[c].start;
    e.end = b.EndAt(b.at > 0 ? b.at - 1 : 0);
    if (e.end.token < e.start.token) e.end = b.EndAt(e.start.token);
}

int Finish(ModelBuilder &b, int expr) {
    SetSpan(b, expr);
    HlslExpr &e = b.model.exprs[expr];
    for (int child : e.children)
        e.textBegin = std::min(e.textBegin, b.model.exprs[child].outerBegin);
    if (b.at > 0)
        e.textEnd = std::max(e.textEnd, b.tokens[std::min(b.at, b.tokens.size()) - 1].end());
    e.outerBegin = e.textBegin;
    e.outerEnd   = e.textEnd;
    TypeExpression(b, expr);
    return expr;
}

int ErrorExpr(ModelBuilder &b) {
    const int e            = b.AddExpr(HlslExprKind::Error, b.Here());
    b.model.exprs[e].type  = ErrorType();
    b.model.exprs[e].start = b.model.exprs[e].end = b.Here();
    return e;
}

// ( args ) after a call's name; the '(' is the next token.
bool ParseArguments(ModelBuilder &b, std::vector<int> &args) {
    ++b.at;
    while (!b.AtEnd() && !b.IsWord(")")) {
        args.push_back(ParseAssignment(b));
        if (!b.Accept(",")) break;
    }
    return b.Expect(")");
}

int ParseInitializerList(ModelBuilder &b) {
    Nesting nesting(b);
    const int e = b.AddExpr(HlslExprKind::InitList, b.Here());
    if (nesting.TooDeep()) return e;
    ++b.at;
    std::vector<int> children;
    while (!b.AtEnd() && !b.IsWord("}")) {
        children.push_back(b.IsWord("{") ? ParseInitializerList(b) : ParseAssignment(b));
        if (!b.Accept(",")) break;
    }
    b.Expect("}");
    b.model.exprs[e].children = children;
    b.model.exprs[e].type     = ErrorType();
    SetSpan(b, e);
    return e;
}

int ParseInitializer(ModelBuilder &b) {
    if (b.IsWord("{")) return ParseInitializerList(b);
    return ParseAssignment(b);
}

// sampler_state {...}, compile ps_4_0 PS(), CompileShader(...): effect
// values, kept as one opaque expression.
int ParseStateValue(ModelBuilder &b) {
    const int e            = b.AddExpr(HlslExprKind::StateBlock, b.Here(), std::string(b.Word()));
    b.model.exprs[e].type  = ErrorType();
    b.model.exprs[e].start = b.model.exprs[e].end = b.Here();
    if (b.Accept("compile")) {
        ++b.at; // the profile
        if (b.Peek().kind == TokenKind::Identifier) ++b.at;
        if (b.IsWord("(")) SkipBracket(b);
        return e;
    }
    ++b.at;
    if (b.IsWord("{") || b.IsWord("(")) SkipBracket(b);
    return e;
}

int ParsePrimary(ModelBuilder &b) {
    const Token &t    = b.Peek();
    const HlslPos pos = b.Here();
    if (t.kind == TokenKind::Number || t.kind == TokenKind::String || b.IsWord("true") ||
        b.IsWord("false")) {
        const int e = b.AddExpr(HlslExprKind::Literal, pos, std::string(b.Word()));
        ++b.at;
        // glslang's preprocessor writes the literal 3lu as "3l u".
        if (t.kind == TokenKind::Number && b.Peek().kind == TokenKind::Identifier &&
            b.Word().find_first_not_of("lLuU") == std::string_view::npos)
            b.model.exprs[e].text += b.Word(), ++b.at;
        // "foo" "bar" is one string.
        while (t.kind == TokenKind::String && b.Peek().kind == TokenKind::String)
            ++b.at;
        return Finish(b, e);
    }
    if (b.IsWord("(")) {
        ++b.at;
        const int inner = ParseExpression(b);
        if (!b.Expect(")")) return ErrorExpr(b);
        b.model.exprs[inner].start      = pos;
        b.model.exprs[inner].end        = b.EndAt(b.at - 1);
        b.model.exprs[inner].outerBegin = t.offset;
        b.model.exprs[inner].outerEnd   = b.tokens[b.at - 1].end();
        return inner;
    }
    if (b.IsWord("{")) return ParseInitializerList(b);
    if (t.kind != TokenKind::Identifier) {
        b.Error(HlslErrorKind::Syntax, pos, {"an expression", std::string(b.Word())});
        return ErrorExpr(b);
    }
    const std::string_view w = b.Word();
    if (w == "sampler_state" || w == "compile" || w == "CompileShader" ||
        w == "ConstructGSWithSO" || w == "NULL")
        return ParseStateValue(b);
    HlslType builtin;
    if ((BuiltinTypeFromName(w, builtin) && builtin.IsNumeric()) || w == "unsigned") {
        // float3(a, b), vector<float, 3>(...): a numeric constructor.
        HlslType type;
        if (!ParseType(b, type, false)) return ErrorExpr(b);
        if (!b.IsWord("(")) {
            b.Expect("(");
            return ErrorExpr(b);
        }
        const int e = b.AddExpr(HlslExprKind::Constructor, pos, HlslTypeName(type));
        std::vector<int> args;
        const bool ok             = ParseArguments(b, args);
        b.model.exprs[e].castType = type;
        b.model.exprs[e].children = args;
        return ok ? Finish(b, e) : ErrorExpr(b);
    }
    ++b.at;
    if (b.IsWord("(")) {
        const int e = b.AddExpr(HlslExprKind::Call, pos, std::string(w));
        std::vector<int> args;
        const bool ok             = ParseArguments(b, args);
        b.model.exprs[e].children = args;
        return ok ? Finish(b, e) : ErrorExpr(b);
    }
    return Finish(b, b.AddExpr(HlslExprKind::Name, pos, std::string(w)));
}

int ParsePostfix(ModelBuilder &b) {
    int e = ParsePrimary(b);
    for (;;) {
        const HlslPos pos = b.Here();
        if (b.Accept("[")) {
            const int index = ParseExpression(b);
            if (!b.Expect("]")) return ErrorExpr(b);
            const int x               = b.AddExpr(HlslExprKind::Index, pos);
            b.model.exprs[x].children = {e, index};
            e                         = Finish(b, x);
        } else if (b.Accept(".")) {
            if (b.Peek().kind != TokenKind::Identifier) {
                b.Expect("a member name");
                return ErrorExpr(b);
            }
            const std::string name(b.Word());
            ++b.at;
            if (b.IsWord("(")) {
                std::vector<int> args{e};
                const int x = b.AddExpr(HlslExprKind::MethodCall, pos, name);
                if (!ParseArguments(b, args)) return ErrorExpr(b);
                b.model.exprs[x].children = args;
                e                         = Finish(b, x);
            } else {
                const int x               = b.AddExpr(HlslExprKind::Member, pos, name);
                b.model.exprs[x].children = {e};
                e                         = Finish(b, x);
            }
        } else if (b.IsWord("++") || b.IsWord("--")) {
            const int x = b.AddExpr(HlslExprKind::Postfix, pos, std::string(b.Word()));
            ++b.at;
            b.model.exprs[x].children = {e};
            e                         = Finish(b, x);
        } else {
            return e;
        }
    }
}

int ParseUnary(ModelBuilder &b) {
    Nesting nesting(b);
    if (nesting.TooDeep()) return ErrorExpr(b);
    const HlslPos pos = b.Here();
    if (b.IsWord("-") || b.IsWord("+") || b.IsWord("!") || b.IsWord("~") || b.IsWord("++") ||
        b.IsWord("--")) {
        const int e = b.AddExpr(HlslExprKind::Unary, pos, std::string(b.Word()));
        ++b.at;
        const int operand         = ParseUnary(b);
        b.model.exprs[e].children = {operand};
        return Finish(b, e);
    }
    // (struct apple) names the struct as a declaration would; a struct is
    // not defined in a cast.
    const bool structCast = b.IsWord("(") && b.IsWord("struct", 1) && b.IsWord(")", 3);
    if (b.IsWord("(") && (structCast || (IsTypeStart(b, 1) && !b.IsWord("struct", 1)))) {
        // (type) operand, unless the type starts a constructor: (float3(...))
        const size_t start = b.at;
        b.at += structCast ? 2 : 1;
        while (IsModifier(b, 0))
            ++b.at;
        HlslType type;
        if (ParseType(b, type, true) && ParseArraySizes(b, type) && b.Accept(")")) {
            const int e               = b.AddExpr(HlslExprKind::Cast, pos);
            const int operand         = ParseUnary(b);
            b.model.exprs[e].castType = type;
            b.model.exprs[e].children = {operand};
            return Finish(b, e);
        }
        b.at = start;
    }
    return ParsePostfix(b);
}

int BinaryPrecedence(std::string_view op) {
    static const struct {
        std::string_view op;
        int precedence;
    } kTable[] = {
        {"||", 1}, {"&&", 2}, {"|", 3}, {"^", 4},  {"&", 5},  {"==", 6},
        {"!=", 6}, {"<", 7},  {">", 7}, {"<=", 7}, {">=", 7}, {"<<", 8},
        {">>", 8}, {"+", 9},  {"-", 9}, {"*", 10}, {"/", 10}, {"%", 10},
    };
    for (const auto &row : kTable)
        if (op == row.op) return row.precedence;
    return 0;
}

// The recursion here is bounded by the precedence levels; ParseUnary and
// ParseAssignment count the nesting.
int ParseBinary(ModelBuilder &b, int minPrecedence) {
    int left = ParseUnary(b);
    for (;;) {
        const Token &t       = b.Peek();
        const int precedence = t.kind == TokenKind::Punctuator ? BinaryPrecedence(b.Word()) : 0;
        if (precedence == 0 || precedence < minPrecedence) return left;
        const HlslPos pos = b.Here();
        const std::string op(b.Word());
        ++b.at;
        const int right           = ParseBinary(b, precedence + 1);
        const int e               = b.AddExpr(HlslExprKind::Binary, pos, op);
        b.model.exprs[e].children = {left, right};
        left                      = Finish(b, e);
    }
}

bool IsAssignmentOperator(std::string_view w) {
    return w == "=" || w == "+=" || w == "-=" || w == "*=" || w == "/=" || w == "%=" ||
           w == "<<=" || w == ">>=" || w == "&=" || w == "|=" || w == "^=";
}

int ParseAssignment(ModelBuilder &b) {
    int left = ParseBinary(b, 1);
    // a = b = c and a ? b : c ? d : e nest to the right.
    Nesting nesting(b);
    if (nesting.TooDeep()) return left;
    if (b.IsWord("?")) {
        const HlslPos pos = b.Here();
        ++b.at;
        const int whenTrue = ParseAssignment(b);
        if (!b.Expect(":")) return ErrorExpr(b);
        const int whenFalse       = ParseAssignment(b);
        const int e               = b.AddExpr(HlslExprKind::Conditional, pos);
        b.model.exprs[e].children = {left, whenTrue, whenFalse};
        return Finish(b, e);
    }
    if (b.Peek().kind == TokenKind::Punctuator && IsAssignmentOperator(b.Word())) {
        const HlslPos pos = b.Here();
        const std::string op(b.Word());
        ++b.at;
        const int right           = ParseInitializer(b);
        const int e               = b.AddExpr(HlslExprKind::Assign, pos, op);
        b.model.exprs[e].children = {left, right};
        return Finish(b, e);
    }
    return left;
}

int ParseExpression(ModelBuilder &b) {
    int left = ParseAssignment(b);
    while (b.IsWord(",")) {
        const HlslPos pos = b.Here();
        ++b.at;
        const int right           = ParseAssignment(b);
        const int e               = b.AddExpr(HlslExprKind::Comma, pos);
        b.model.exprs[e].children = {left, right};
        left                      = Finish(b, e);
    }
    return left;
}

// ---- statements -----------------------------------------------------------

int AddStmt(ModelBuilder &b, HlslStmtKind kind, const HlslPos &pos) {
    HlslStmt s;
    s.kind = kind;
    s.pos  = pos;
    b.model.stmts.push_back(s);
    return static_cast<int>(b.model.stmts.size()) - 1;
}

// Whether the statement ahead declares variables: it starts with modifiers
// or a type that is not a constructor call (float3(...).x;).
bool StartsDeclaration(const ModelBuilder &b) {
    if (b.IsWord("typedef") || b.IsWord("struct") || IsModifier(b, 0)) return true;
    // Two names in a row declare a variable of a type, known or not.
    if (b.Peek().kind == TokenKind::Identifier && b.Peek(1).kind == TokenKind::Identifier)
        return true;
    return IsTypeStart(b, 0) && !b.IsWord("(", 1);
}

// ( expression ) after if, while, switch.
int ParseCondition(ModelBuilder &b) {
    if (!b.Expect("(")) return -1;
    const int e = ParseExpression(b);
    return b.Expect(")") ? e : -1;
}

int ParseBlock(ModelBuilder &b, HlslScopeKind kind) {
    const int s = AddStmt(b, HlslStmtKind::Block, b.Here());
    ++b.at; // '{'
    const int outer        = b.scope;
    b.model.stmts[s].scope = b.OpenScope(kind);
    std::vector<int> children;
    while (!b.AtEnd() && !b.IsWord("}")) {
        const size_t start = b.at;
        children.push_back(ParseStatement(b));
        if (b.at == start) ++b.at;
    }
    b.Expect("}");
    b.scope                   = outer;
    b.model.stmts[s].children = children;
    return s;
}

int ParseStatementBody(ModelBuilder &b) {
    const HlslPos pos        = b.Here();
    const std::string_view w = b.Word();
    if (b.IsWord("{")) return ParseBlock(b, HlslScopeKind::Block);
    if (b.Accept(";")) return AddStmt(b, HlslStmtKind::Empty, pos);
    if (w == "if") {
        ++b.at;
        const int s = AddStmt(b, HlslStmtKind::If, pos);
        const int c = ParseCondition(b);
        if (c < 0) {
            Recover(b);
            return s;
        }
        b.model.stmts[s].expr = c;
        const int then        = ParseStatement(b);
        b.model.stmts[s].children.push_back(then);
        if (b.Accept("else")) {
            const int otherwise = ParseStatement(b);
            b.model.stmts[s].children.push_back(otherwise);
        }
        return s;
    }
    if (w == "while" || w == "switch") {
        ++b.at;
        const int s = AddStmt(b, w == "while" ? HlslStmtKind::While : HlslStmtKind::Switch, pos);
        const int c = ParseCondition(b);
        if (c < 0) {
            Recover(b);
            return s;
        }
        b.model.stmts[s].expr = c;
        const int body        = ParseStatement(b);
        b.model.stmts[s].children.push_back(body);
        return s;
    }
    if (w == "do") {
        ++b.at;
        const int s    = AddStmt(b, HlslStmtKind::Do, pos);
        const int body = ParseStatement(b);
        b.model.stmts[s].children.push_back(body);
        if (!b.Expect("while")) {
            Recover(b);
            return s;
        }
        const int c = ParseCondition(b);
        if (c < 0 || !b.Expect(";")) Recover(b);
        b.model.stmts[s].expr = c;
        return s;
    }
    if (w == "for") {
        ++b.at;
        const int s            = AddStmt(b, HlslStmtKind::For, pos);
        const int outer        = b.scope;
        b.model.stmts[s].scope = b.OpenScope(HlslScopeKind::For);
        int init = -1, condition = -1, step = -1;
        bool ok = b.Expect("(");
        if (ok && !b.IsWord(";")) {
            init = ParseStatement(b); // a declaration or an expression, with its ';'
        } else if (ok) {
            ++b.at;
        }
        if (ok && !b.IsWord(";")) condition = ParseExpression(b);
        ok = ok && b.Expect(";");
        if (ok && !b.IsWord(")")) step = ParseExpression(b);
        ok                    = ok && b.Expect(")");
        b.model.stmts[s].expr = condition;
        b.model.stmts[s].step = step;
        if (!ok) {
            b.scope = outer;
            Recover(b);
            return s;
        }
        const int body            = ParseStatement(b);
        b.model.stmts[s].children = {init, body};
        b.scope                   = outer;
        return s;
    }
    if (w == "case") {
        ++b.at;
        const int s           = AddStmt(b, HlslStmtKind::Case, pos);
        b.model.stmts[s].expr = ParseExpression(b);
        if (!b.Expect(":")) Recover(b);
        return s;
    }
    if (w == "default" && b.IsWord(":", 1)) {
        b.at += 2;
        return AddStmt(b, HlslStmtKind::Default, pos);
    }
    if (w == "break" || w == "continue" || w == "discard") {
        ++b.at;
        const int s = AddStmt(b,
                              w == "break"      ? HlslStmtKind::Break
                              : w == "continue" ? HlslStmtKind::Continue
                                                : HlslStmtKind::Discard,
                              pos);
        if (!b.Expect(";")) Recover(b);
        return s;
    }
    if (w == "return") {
        ++b.at;
        const int s = AddStmt(b, HlslStmtKind::Return, pos);
        if (!b.IsWord(";")) {
            const int e           = ParseExpression(b);
            b.model.stmts[s].expr = e;
            if (b.function >= 0)
                CheckConversion(b, b.model.exprs[e].type, b.model.functions[b.function].returnType,
                                b.model.exprs[e].pos, e, e);
        }
        if (!b.Expect(";")) Recover(b);
        return s;
    }
    if (StartsDeclaration(b)) {
        const int s = AddStmt(b, HlslStmtKind::Decl, pos);
        std::vector<int> declared;
        ParseDeclaration(b, &declared);
        b.model.stmts[s].symbols = declared;
        return s;
    }
    const int s           = AddStmt(b, HlslStmtKind::Expr, pos);
    b.model.stmts[s].expr = ParseExpression(b);
    if (!b.Expect(";")) Recover(b);
    return s;
}

int ParseStatement(ModelBuilder &b) {
    Nesting nesting(b);
    if (nesting.TooDeep()) {
        const int s = AddStmt(b, HlslStmtKind::Error, b.Here());
        Recover(b);
        return s;
    }
    std::vector<std::string> attributes = ParseAttributes(b);
    const int s                         = ParseStatementBody(b);
    if (!attributes.empty()) b.model.stmts[s].attributes = std::move(attributes);
    return s;
}

} // namespace

// ---- the builder ------------------------------------------------------------

HlslPos ModelBuilder::PosAt(size_t token) const {
    const Token &t = tokens[token];
    HlslPos pos;
    pos.token  = token;
    pos.offset = t.offset;
    pos.file   = t.file;
    pos.line   = t.line;
    pos.column = t.column;
    return pos;
}

HlslPos ModelBuilder::EndAt(size_t token) const {
    HlslPos pos = PosAt(token);
    pos.column += static_cast<int>(std::max<size_t>(tokens[token].length, 1)) - 1;
    return pos;
}

HlslError *ModelBuilder::Error(HlslErrorKind kind, const HlslPos &pos,
                               std::initializer_list<std::string> args, bool isWarning) {
    if (model.errors.size() >= kMaxErrors) return nullptr;
    const std::string format(kErrorWords[static_cast<int>(kind)]);
    std::string words;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '0' &&
            format[i + 1] <= '9') {
            const size_t n = static_cast<size_t>(format[++i] - '0');
            if (n < args.size()) words += *(args.begin() + n);
            continue;
        }
        words += format[i];
    }
    model.errors.push_back(HlslError{kind, pos, words, isWarning, -1, {}, {}, {}});
    return &model.errors.back();
}

bool ModelBuilder::Expect(std::string_view what) {
    if (IsWord(what)) {
        ++at;
        return true;
    }
    const std::string found =
        AtEnd() ? std::string("the end of the file") : "'" + std::string(Word()) + "'";
    const bool quote = what.size() <= 2 || what == "while";
    if (HlslError *e = Error(HlslErrorKind::Syntax, Here(),
                             {quote ? "'" + std::string(what) + "'" : std::string(what), found})) {
        e->expected = std::string(what);
        e->token    = AtEnd() ? std::string() : std::string(Word());
    }
    return false;
}

int ModelBuilder::AddExpr(HlslExprKind kind, const HlslPos &pos, std::string spelled) {
    HlslExpr e;
    e.kind      = kind;
    e.pos       = pos;
    e.text      = std::move(spelled);
    e.textBegin = e.outerBegin = tokens[pos.token].offset;
    e.textEnd = e.outerEnd = tokens[pos.token].end();
    model.exprs.push_back(std::move(e));
    return static_cast<int>(model.exprs.size()) - 1;
}

int ModelBuilder::Lookup(std::string_view name) const {
    for (int s = scope; s >= 0; s = model.scopes[s].parent) {
        const std::vector<int> &symbols = model.scopes[s].symbols;
        for (auto it = symbols.rbegin(); it != symbols.rend(); ++it)
            if (model.symbols[*it].name == name) return *it;
    }
    return -1;
}

int ModelBuilder::Declare(HlslSymbol symbol) {
    const int target        = scope;
    const bool overloadable = symbol.kind == HlslSymbolKind::Function;
    if (!overloadable && !symbol.name.empty()) {
        for (int other : model.scopes[target].symbols) {
            const HlslSymbol &o = model.symbols[other];
            if (o.name == symbol.name && o.kind != HlslSymbolKind::Function) {
                Error(HlslErrorKind::Redefinition, symbol.pos, {symbol.name});
                break;
            }
        }
    }
    symbol.scope = target;
    model.symbols.push_back(std::move(symbol));
    const int index = static_cast<int>(model.symbols.size()) - 1;
    model.scopes[target].symbols.push_back(index);
    return index;
}

int ModelBuilder::OpenScope(HlslScopeKind kind) {
    HlslScope s;
    s.kind   = kind;
    s.parent = scope;
    model.scopes.push_back(s);
    scope = static_cast<int>(model.scopes.size()) - 1;
    return scope;
}

HlslModel BuildModel(std::string_view text, const LexedHlsl &lexed) {
    ModelBuilder b;
    b.text        = text;
    b.tokens      = CodeTokens(lexed.tokens);
    b.model.files = lexed.files;
    b.model.moves = lexed.moves.size();
    for (const Token &t : lexed.tokens) {
        if (t.kind != TokenKind::Directive) continue;
        const std::string_view line = Spelling(text, t);
        if (line.find("pack_matrix") == std::string_view::npos) continue;
        if (line.find("row_major") != std::string_view::npos)
            b.pragmas.emplace_back(t.offset, HlslMajority::RowMajor);
        else if (line.find("column_major") != std::string_view::npos)
            b.pragmas.emplace_back(t.offset, HlslMajority::ColumnMajor);
    }
    b.model.scopes.push_back(HlslScope{});
    size_t code = 0;
    for (const Token &t : lexed.tokens) {
        if (t.kind != TokenKind::Directive) {
            ++code;
            continue;
        }
        const std::string_view line = Spelling(text, t);
        const size_t word           = line.find_first_not_of(" \t", 1);
        if (word == std::string_view::npos || line.compare(word, 6, "pragma") != 0) continue;
        HlslPragma pragma;
        pragma.pos.token  = code;
        pragma.pos.file   = t.file;
        pragma.pos.line   = t.line;
        pragma.pos.column = t.column;
        b.model.pragmas.push_back(pragma);
    }
    // About one expression a token at most; no growth on the way.
    b.model.exprs.reserve(b.tokens.size());
    ParseTopLevel(b);
    return std::move(b.model);
}

HlslPlaces::HlslPlaces(const HlslModel &model, const LexedHlsl &lexed)
    : model_(model), lexed_(lexed) {
    spans_.reserve(model.exprs.size());
    outer_.assign(model.exprs.size(), {0, 0});
    for (size_t e = 0; e < model.exprs.size(); ++e) {
        const HlslExpr &x = model.exprs[e];
        for (int outer = 0; outer < 2; ++outer) {
            size_t begin = outer ? x.outerBegin : x.textBegin, end = outer ? x.outerEnd : x.textEnd;
            if (outer && begin == x.textBegin && end == x.textEnd) break;
            if (end > begin && MovedSpan(lexed, model.moves, begin, end)) {
                spans_.push_back({begin, end, static_cast<int>(e)});
                outer_[e] = {begin, end};
            }
        }
    }
    std::sort(spans_.begin(), spans_.end());
}

int HlslPlaces::At(std::string_view text, size_t begin, size_t end) const {
    for (int strips = 0; strips < kMaxNesting && begin < end; ++strips) {
        // Expressions are made after those inside them: the last of one
        // span is the outermost.
        auto it = std::upper_bound(spans_.begin(), spans_.end(),
                                   Span{begin, end, std::numeric_limits<int>::max()});
        if (it != spans_.begin() && (it - 1)->begin == begin && (it - 1)->end == end)
            return (it - 1)->expr;
        // (a + b) read as a + b: trim the parentheses and the space inside them.
        if (text[begin] != '(' || text[end - 1] != ')') return -1;
        ++begin;
        --end;
        while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
            ++begin;
        while (begin < end && std::isspace(static_cast<unsigned char>(text[end - 1])))
            --end;
    }
    return -1;
}

int HlslPlaces::At(std::string_view text, const Tokens &tokens, size_t first, size_t last) const {
    if (first >= last || last > tokens.size()) return -1;
    return At(text, tokens[first].offset, tokens[last - 1].end());
}

int HlslPlaces::CallAt(size_t begin) const {
    auto it = std::lower_bound(spans_.begin(), spans_.end(), Span{begin, 0, -1});
    for (; it != spans_.end() && it->begin == begin; ++it) {
        const HlslExprKind kind = model_.exprs[it->expr].kind;
        if (kind == HlslExprKind::Call || kind == HlslExprKind::Constructor) return it->expr;
    }
    return -1;
}

bool HlslPlaces::SpanOf(int expr, size_t &begin, size_t &end) const {
    if (expr < 0 || static_cast<size_t>(expr) >= outer_.size() || outer_[expr].second == 0)
        return false;
    begin = outer_[expr].first;
    end   = outer_[expr].second;
    return true;
}

bool HlslPlaces::Now(size_t offset, size_t length, size_t &at) const {
    size_t end = offset + length;
    at         = offset;
    return length > 0 && MovedSpan(lexed_, model_.moves, at, end);
}
