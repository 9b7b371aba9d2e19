// Matrices of one row or one column as the vectors they equal
// (matrix_forms.h).
#include "platform/gl/hlsl/matrix_forms.h"

#include "platform/gl/hlsl/model/types.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace {

// A type name floatRxC (or int, uint, bool, half, double, min16float...)
// with R or C 1.
struct Shape {
    bool matrix = false;
    bool vector = false; // floatN, as a 1xN matrix; float1 is mul()'s 1x1 matrix too
    std::string base;
    int rows = 0, columns = 0;
    bool degenerate() const { return matrix && (rows == 1 || columns == 1); }
    int size() const { return rows * columns; }
    std::string name() const {
        return vector ? base + std::to_string(columns)
                      : base + std::to_string(rows) + "x" + std::to_string(columns);
    }
};

// The matrix type the name spells (float3x1, dword1x2, matrix), or with
// vector true the vector type (float3, int1) as the 1xN matrix HLSL
// converts it to; no shape for any other name.
Shape ShapeOf(std::string_view name, bool vector = false) {
    Shape shape;
    HlslType type;
    const HlslClass kind = vector ? HlslClass::Vector : HlslClass::Matrix;
    if (!MaybeNumericTypeName(name) || !BuiltinTypeFromName(name, type) || type.kind != kind)
        return shape;
    shape.vector  = vector;
    shape.matrix  = !vector || type.columns == 1; // only float1 counts as a matrix in mul()
    shape.base    = HlslScalarName(type.scalar);
    shape.rows    = type.rows;
    shape.columns = type.columns;
    return shape;
}

Shape VectorShapeOf(std::string_view name) {
    return ShapeOf(name, true);
}

// The vector a degenerate matrix equals.
std::string VectorOf(const Shape &shape) {
    return shape.base + std::to_string(shape.size());
}

using Edit = TextEdit;

// The shape of a value of the model's type: a matrix, or a vector as the
// 1xN matrix HLSL converts it to; no shape for any other type or an array.
Shape ShapeOfType(const HlslType &t) {
    Shape shape;
    if (t.IsArray() || (t.kind != HlslClass::Matrix && t.kind != HlslClass::Vector)) return shape;
    shape.vector  = t.kind == HlslClass::Vector;
    shape.matrix  = !shape.vector || t.columns == 1;
    shape.base    = HlslScalarName(FullPrecision(t.scalar));
    shape.rows    = t.kind == HlslClass::Matrix ? t.rows : 1;
    shape.columns = t.columns;
    return shape;
}

// Where each token stands: in executable code (a function's body), in
// a function's parameters or return type, or elsewhere (cbuffer and struct
// members, typedefs, globals); and whether a global declaration is static,
// and which majority it reads as.
struct Place {
    bool code = false, signature = false, isStatic = false, rowMajor = false;
    bool structMember = false; // inside a structure's braces
};

std::vector<Place> Places(const std::string &text, const Tokens &tokens) {
    std::vector<Place> places(tokens.size());
    std::vector<char> braces; // 'f' function body (and blocks in it), 's' structure, 'a' other
    bool pragmaRowMajor = false;
    size_t start        = 0; // the first token of the current global declaration
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind == TokenKind::Directive) {
            const std::string_view line = Spelling(text, t);
            if (line.find("pack_matrix") != std::string_view::npos) {
                if (line.find("row_major") != std::string_view::npos) pragmaRowMajor = true;
                if (line.find("column_major") != std::string_view::npos) pragmaRowMajor = false;
            }
            start = i + 1;
            continue;
        }
        const bool inFunction  = !braces.empty() && braces.front() == 'f';
        places[i].code         = inFunction;
        places[i].rowMajor     = pragmaRowMajor;
        places[i].structMember = std::find(braces.begin(), braces.end(), 's') != braces.end();
        const char c           = MarkOf(text, t);
        if (c == '{') {
            if (inFunction) {
                braces.push_back('f');
                continue;
            }
            // A function's body: a ')' at the declaration's top level before it.
            bool function = false, initializer = false, structure = false;
            int depth = 0;
            for (size_t j = start; j < i; ++j) {
                const char m = MarkOf(text, tokens[j]);
                structure    = structure || Is(text, tokens[j], "struct");
                if (m == '(') ++depth;
                if (m == ')' && --depth == 0) function = true;
                if (m == '=' && depth == 0) initializer = true;
            }
            // "cbuffer c : register(b1) {" is no function.
            const bool buffer = start < i && (Is(text, tokens[start], "cbuffer") ||
                                              Is(text, tokens[start], "tbuffer"));
            const bool body   = braces.empty() && function && !initializer && !buffer;
            if (body)
                for (size_t j = start; j < i; ++j)
                    places[j].signature = true;
            braces.push_back(body ? 'f' : structure ? 's' : 'a');
            start = i + 1;
        } else if (c == '}') {
            if (!braces.empty()) braces.pop_back();
            start = i + 1;
        } else if (c == ';' && !inFunction) {
            bool isStatic = false, rowMajor = false, columnMajor = false;
            for (size_t j = start; j < i; ++j) {
                isStatic    = isStatic || Is(text, tokens[j], "static");
                rowMajor    = rowMajor || Is(text, tokens[j], "row_major");
                columnMajor = columnMajor || Is(text, tokens[j], "column_major");
            }
            for (size_t j = start; j < i; ++j) {
                places[j].isStatic = isStatic && braces.empty();
                places[j].rowMajor = rowMajor || (pragmaRowMajor && !columnMajor);
            }
            start = i + 1;
        }
    }
    return places;
}

// The majority of the matrix declared at tokens[i].
bool RowMajor(const Place &place, const std::string &text, const Tokens &tokens, size_t i) {
    bool rowMajor = place.rowMajor;
    for (size_t j = i; j-- > 0 && tokens[j].kind == TokenKind::Identifier;) {
        if (Is(text, tokens[j], "row_major")) rowMajor = true;
        if (Is(text, tokens[j], "column_major")) rowMajor = false;
    }
    return rowMajor;
}

// Whether the declaration at tokens[i] may become a vector: in code always;
// elsewhere where the vector takes the matrix's registers.
bool Rewritable(const Shape &shape, const Place &place, const std::string &text,
                const Tokens &tokens, size_t i) {
    // A parameter with a semantic takes registers as in a cbuffer
    // (matrix-semantics.shader_test).
    const bool semantic = i + 2 < tokens.size() && tokens[i + 1].kind == TokenKind::Identifier &&
                          IsMark(text, tokens[i + 2], ':');
    if (place.code || place.isStatic || (place.signature && !semantic)) return true;
    // One whole register either way: 4 rows of one column, column-major, or
    // one row of 4, row-major.
    return shape.size() == 4 &&
           (RowMajor(place, text, tokens, i) ? shape.rows == 1 : shape.columns == 1);
}

// Names declared as a degenerate matrix that became an array of registers,
// and what each use of one becomes.
struct SpreadName {
    size_t declaration; // the name's token where it is declared
    std::string use;
    bool member; // a structure's member, used after a '.'
};
using Spread = std::map<std::string, SpreadName, std::less<>>;

// A degenerate matrix outside code whose vector takes other registers (a
// float3x1 starts a register, a float1x3 takes three) becomes the array of
// vectors that takes its registers: floatN m[1] for one register, float
// m[N] for N registers of one component each, outside structures (whose
// values code may assign). Each use then reads the vector (SpreadName), and
// the matrix's indexing is the vector's, as for the names that became
// vectors. Arrays of them stay as they are.
bool RegisterArray(const Shape &shape, const Place &place, const std::string &text,
                   const Tokens &tokens, size_t i, std::vector<Edit> &edits, Spread &spread) {
    if (place.code || place.signature || place.isStatic || i + 2 >= tokens.size() ||
        tokens[i + 1].kind != TokenKind::Identifier || IsMark(text, tokens[i + 2], '[') ||
        IsMark(text, tokens[i + 2], '('))
        return false;
    const bool rowMajor    = RowMajor(place, text, tokens, i);
    const int registers    = rowMajor ? shape.rows : shape.columns;
    const int perRegister  = rowMajor ? shape.columns : shape.rows;
    const std::string name = std::string(Spelling(text, tokens[i + 1]));
    if (registers > 1 && place.structMember) return false;
    if (registers == 1) {
        edits.push_back({tokens[i].offset, tokens[i].length,
                         perRegister == 1 ? shape.base : shape.base + std::to_string(perRegister)});
        edits.push_back({tokens[i + 1].end(), 0, "[1]"});
        spread[name] = {i + 1, name + "[0]", place.structMember};
    } else {
        edits.push_back({tokens[i].offset, tokens[i].length, shape.base});
        edits.push_back({tokens[i + 1].end(), 0, "[" + std::to_string(registers) + "]"});
        std::string use = VectorOf(shape) + "(";
        for (int r = 0; r < registers; ++r)
            use += (r ? ", " : "") + name + "[" + std::to_string(r) + "]";
        spread[name] = {i + 1, use + ")", false};
    }
    return true;
}

// The components a matrix swizzle (_m01_m02, _11_12) names, as xyzw of the
// vector; empty where it is not one.
std::string VectorSwizzle(std::string_view swizzle, const Shape &shape) {
    std::vector<int> components;
    if (swizzle.empty() || swizzle[0] != '_' ||
        !SwizzleComponents(MatrixType(HlslScalar::Float, shape.rows, shape.columns), swizzle,
                           components))
        return std::string();
    // A row's component is its column, a column's its row: the index either
    // way.
    std::string result;
    for (const int c : components)
        result += "xyzw"[c];
    return result;
}

// What the model says of the names of the text: where each use of a name
// declared as a degenerate matrix that became a vector (or an array of
// registers) stands, with the matrix's shape, and the types of the names.
struct Typed {
    const HlslModel &model;
    const HlslPlaces &places;
    std::map<size_t, Shape> lowered; // a use's name token, by its offset
};

// The operand of mul() that is one token (a name) or a constructor call, its
// shape if it is a rewritten name, a vector, a constructor of a degenerate
// matrix or of a vector, or with full a matrix of several rows and columns;
// otherwise no shape.
Shape OperandShape(const std::string &text, const Tokens &tokens, size_t first, size_t last,
                   const Typed &typed, bool full = false) {
    if (first >= last || tokens[first].kind != TokenKind::Identifier) return Shape();
    const std::string name(Spelling(text, tokens[first]));
    if (last == first + 1) {
        auto found = typed.lowered.find(tokens[first].offset);
        if (found != typed.lowered.end()) return found->second;
        const int e = typed.places.At(text, tokens, first, last);
        if (e < 0 || typed.model.exprs[e].kind != HlslExprKind::Name) return Shape();
        const Shape shape = ShapeOfType(typed.model.exprs[e].type);
        return shape.vector || (full && !shape.degenerate()) ? shape : Shape();
    }
    if (MarkOf(text, tokens[first + 1]) != '(' ||
        ClosingBracket(text, tokens, first + 1) + 1 != last)
        return Shape();
    const Shape shape = ShapeOf(name);
    return shape.degenerate() || (full && shape.matrix) ? shape : VectorShapeOf(name);
}

// mul(a, b) with a rewritten operand: a 1x1 operand (or float1) scales the
// other's first row (as the left operand) or first column (as the right).
// mul() sums over the smaller of the left's columns and the right's rows
// (mul.shader_test), so a column on the left or a row on the right makes an
// outer product of the left's first column and the right's first row: the
// product of the two padded with zeros to an inner dimension of 2, which
// glslang takes.
bool RewriteMul(const std::string &text, const Tokens &tokens, size_t call, const Typed &typed,
                std::vector<Edit> &edits, std::string &error) {
    const size_t open = call + 1, close = ClosingBracket(text, tokens, open);
    size_t comma = 0;
    int depth    = 0;
    for (size_t j = open + 1; j < close; ++j) {
        const char c = MarkOf(text, tokens[j]);
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') --depth;
        if (c == ',' && depth == 0) comma = j;
    }
    if (!comma || close >= tokens.size()) return true;
    auto shapeOf = [&](size_t first, size_t last) {
        return OperandShape(text, tokens, first, last, typed, true);
    };
    const Shape left  = shapeOf(open + 1, comma);
    const Shape right = shapeOf(comma + 1, close);
    const bool column = left.matrix && !left.vector && left.columns == 1 && left.rows > 1;
    const bool row    = right.matrix && !right.vector && right.rows == 1 && right.columns > 1;
    auto edit         = [&](size_t token, const std::string &with) {
        edits.push_back({tokens[token].offset, tokens[token].length, with});
    };
    if (column || row) {
        const bool fullLeft  = !column && left.matrix && !left.vector && !left.degenerate();
        const bool fullRight = !row && right.matrix && !right.vector && !right.degenerate();
        if ((!column && !fullLeft) || (!row && !fullRight)) {
            error = "mul() of a one-column matrix on the left or a one-row matrix on the right "
                    "(an outer product) is only supported with a matrix as the other operand";
            return false;
        }
        const std::string base = column ? left.base : right.base;
        const std::string rows = std::to_string(left.rows), columns = std::to_string(right.columns);
        edit(open, "(transpose(" + base + "2x" + rows + (fullLeft ? "(transpose(" : "(("));
        edit(comma, (fullLeft ? ")[0]" : ")") + std::string(", (") + base + rows + ")0)), " + base +
                        "2x" + columns + "((");
        edit(close, (fullRight ? ")[0]" : ")") + std::string(", (") + base + columns + ")0))");
        return true;
    }
    if (left.matrix && left.size() == 1) {
        edit(call, "(");
        edit(open, "(");
        edit(comma, ").x * (");
        edit(close, ")[0])");
    } else if (right.matrix && right.size() == 1) {
        edit(call, "(transpose");
        edit(comma, ")[0] * (");
        edit(close, ").x)");
    }
    return true;
}

// Whether HLSL converts a value of shape from to shape to, which it does
// between matrices that keep their rows and columns (or lose some), from a
// vector to a matrix of as many components or of one longer row, and from
// a one-row or one-column matrix to a vector as long or shorter
// (return-implicit-conversion.shader_test).
bool Converts(const Shape &from, const Shape &to) {
    const bool fromMatrix = from.matrix && !from.vector, toMatrix = to.matrix && !to.vector;
    if (toMatrix && from.vector)
        return from.columns == to.size() || (to.rows == 1 && from.columns >= to.columns);
    if (toMatrix && fromMatrix) return from.rows >= to.rows && from.columns >= to.columns;
    if (to.vector && fromMatrix) return from.size() >= to.columns;
    return true;
}

// What the Windows compiler refuses of these matrices once they are vectors
// here: a return that converts between shapes it does not convert, and
// geometric intrinsics given a matrix (dot, length... take vectors only:
// dot.shader_test, length.shader_test, refract.shader_test).
std::string Refusal(const std::string &text, const Tokens &tokens, size_t i, const Shape &returned,
                    const Typed &typed) {
    const std::string_view name = Spelling(text, tokens[i]);
    if (name == "return" && (returned.vector || returned.matrix)) {
        size_t end = i + 1;
        while (end < tokens.size() && !IsMark(text, tokens[end], ';'))
            ++end;
        const Shape value = OperandShape(text, tokens, i + 1, end, typed);
        if ((value.matrix || value.vector) && !Converts(value, returned))
            return "cannot convert from '" + value.name() + "' to '" + returned.name() + "'";
        return std::string();
    }
    // (float3x1)v: a cast converts as a return does
    // (cast-componentwise-compatible.shader_test).
    const Shape cast = ShapeOf(name);
    if (cast.degenerate() && i > 0 && IsMark(text, tokens[i - 1], '(') && i + 2 < tokens.size() &&
        IsMark(text, tokens[i + 1], ')')) {
        const Shape value = OperandShape(text, tokens, i + 2, i + 3, typed);
        if ((value.matrix || value.vector) && !Converts(value, cast))
            return "cannot convert from '" + value.name() + "' to '" + cast.name() + "'";
    }
    static const char *const kVectorOnly[] = {"dot",       "cross",   "distance", "length",
                                              "normalize", "reflect", "refract",  "faceforward"};
    if (i + 1 >= tokens.size() || !IsMark(text, tokens[i + 1], '(') ||
        (i > 0 && IsMark(text, tokens[i - 1], '.')) ||
        std::find(std::begin(kVectorOnly), std::end(kVectorOnly), name) == std::end(kVectorOnly))
        return std::string();
    for (const auto &[first, last] : CallArguments(text, tokens, i + 1)) {
        const Shape argument = OperandShape(text, tokens, first, last, typed);
        if (argument.matrix && !argument.vector)
            return "'" + std::string(name) + "': cannot convert from '" + argument.name() +
                   "' to a vector";
    }
    return std::string();
}

// The end of the declarator that starts at tokens[i] (a name and its
// dimensions): the token after its last ']'.
size_t DeclaratorEnd(const std::string &text, const Tokens &tokens, size_t i) {
    ++i;
    while (i < tokens.size() && IsMark(text, tokens[i], '['))
        i = ClosingBracket(text, tokens, i) + 1;
    return std::min(i, tokens.size());
}

// #pragma pack_matrix sets the majority of the matrices declared after it,
// outside code, that name none: the latent majority of the moment each is
// declared (majority-pragma.shader_test, which Windows runs: a struct's
// members keep the one of their declaration, a typedef of a matrix the one
// of its own, an array typedef made with none is column-major, and a typedef
// with a majority refuses another). glslang applies the last pragma to every
// uniform instead, and misreads a majority given through a typedef
// (majority-typedef.shader_test), so each such declaration is written out
// with its majority and the matrix type, and the pragmas are removed.
// Refusals are the Windows rules' (windows_rules.h), on the text left.
void ApplyMatrixPragmas(std::string &text, LexedHlsl &lexed, const HlslModel &model) {
    const Tokens &tokens            = lexed.tokens;
    const std::vector<Place> places = Places(text, tokens);
    // The types the model gives the names declared outside code, by where
    // each name stands now: a typedef's, a variable's, a member's.
    const HlslPlaces where(model, lexed);
    std::map<size_t, const HlslType *> declared;
    std::set<const HlslStruct *> structs;
    size_t at = 0;
    // The typedefs of matrices (or arrays of them), the last of a name.
    std::map<std::string_view, const HlslSymbol *> aliases;
    for (const HlslSymbol &symbol : model.symbols) {
        if (symbol.kind == HlslSymbolKind::Typedef && symbol.type.kind == HlslClass::Matrix)
            aliases[symbol.name] = &symbol;
        if ((symbol.kind == HlslSymbolKind::Variable || symbol.kind == HlslSymbolKind::Typedef) &&
            where.Now(symbol.pos.offset, symbol.name.size(), at))
            declared[at] = &symbol.type;
        for (const HlslStruct *st = symbol.type.structure.get(); st && structs.insert(st).second;
             st                   = st->base.get())
            for (const HlslField &f : st->fields)
                if (where.Now(f.offset, f.name.size(), at)) declared[at] = &f.type;
    }
    Edits edits;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind == TokenKind::Directive) {
            const std::string_view line = Spelling(text, t);
            if (line.find("pack_matrix") != std::string_view::npos &&
                (line.find("row_major") != std::string_view::npos ||
                 line.find("column_major") != std::string_view::npos))
                edits.push_back({t.offset, t.length, std::string()});
            continue;
        }
        if (t.kind != TokenKind::Identifier || places[i].code || places[i].signature) continue;
        const std::string_view name = Spelling(text, t);
        const auto named            = aliases.find(name);
        const HlslSymbol *alias     = named == aliases.end() ? nullptr : named->second;
        const bool matrix           = ShapeOf(name).matrix || name == "matrix";
        if ((!matrix && !alias) || i + 1 >= tokens.size() || IsMark(text, tokens[i + 1], '(') ||
            (i > 0 && IsMark(text, tokens[i - 1], '<')))
            continue;
        std::string given;
        for (size_t j = i; j-- > 0 && tokens[j].kind == TokenKind::Identifier;)
            if (Is(text, tokens[j], "row_major") || Is(text, tokens[j], "column_major"))
                given = std::string(Spelling(text, tokens[j]));
        // The type's last token: matrix<float, 2, 2> ends at its '>'.
        size_t last = i;
        if (name == "matrix" && IsMark(text, tokens[i + 1], '<'))
            while (last + 1 < tokens.size() && !IsMark(text, tokens[last], '>'))
                ++last;
        // A majority against the typedef's, or on an array typedef, is
        // left for the Windows rules to refuse (windows_rules.h).
        const HlslMajority aliased = alias ? alias->type.major : HlslMajority::Default;
        if (alias && !given.empty() &&
            (alias->type.IsArray() ||
             (aliased != HlslMajority::Default &&
              given != (aliased == HlslMajority::RowMajor ? "row_major" : "column_major"))))
            continue;
        // The majority the model gives the first name declared.
        const auto first =
            last + 1 < tokens.size() ? declared.find(tokens[last + 1].offset) : declared.end();
        if (first == declared.end()) continue;
        const HlslMajority major = first->second->major;
        std::string spelled      = std::string(text, t.offset, tokens[last].end() - t.offset);
        if (alias) {
            HlslType element = alias->type;
            element.arraySizes.clear();
            element.isConst = false;
            spelled         = HlslTypeName(WithScalar(element, FullPrecision(element.scalar)));
        }
        std::string type = spelled;
        if (given.empty() && major != HlslMajority::Default)
            type = (major == HlslMajority::RowMajor ? "row_major " : "column_major ") + type;
        if (alias || type != std::string(text, t.offset, tokens[last].end() - t.offset))
            edits.push_back({t.offset, tokens[last].end() - t.offset, type});
        // Each declarator takes the typedef's dimensions after its own; the
        // scan goes on after the names declared.
        std::string dims;
        for (size_t d = 0; alias && d < alias->type.arraySizes.size(); ++d)
            dims += "[" + std::to_string(alias->type.arraySizes[d]) + "]";
        size_t resume = last;
        for (size_t d = last + 1; d < tokens.size() && tokens[d].kind == TokenKind::Identifier;) {
            const size_t end = DeclaratorEnd(text, tokens, d);
            resume           = end - 1;
            if (!dims.empty() && end < tokens.size())
                edits.push_back({tokens[end].offset, 0, dims});
            size_t next = end;
            while (next < tokens.size() && !IsMark(text, tokens[next], ',') &&
                   !IsMark(text, tokens[next], ';') && !IsMark(text, tokens[next], ':')) {
                const char c = MarkOf(text, tokens[next]);
                next = c == '(' || c == '{' || c == '[' ? ClosingBracket(text, tokens, next) + 1
                                                        : next + 1;
            }
            if (next >= tokens.size() || !IsMark(text, tokens[next], ',')) break;
            d = next + 1;
        }
        i = resume;
    }
    edits.Apply(text, lexed);
}

} // namespace

bool RewriteMatrixForms(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                        Diagnostics &diagnostics) {
    ApplyMatrixPragmas(text, lexed, model);
    const Tokens &tokens            = lexed.tokens;
    const std::vector<Place> places = Places(text, tokens);
    std::vector<Edit> edits;
    std::map<size_t, Shape> declared; // the names declared so, by their offsets
    Spread spread;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Identifier) continue;
        const Shape shape = ShapeOf(Spelling(text, tokens[i]));
        if (!shape.degenerate()) continue;
        const bool constructor = i + 1 < tokens.size() && MarkOf(text, tokens[i + 1]) == '(';
        if (!constructor && !Rewritable(shape, places[i], text, tokens, i)) {
            if (!RegisterArray(shape, places[i], text, tokens, i, edits, spread)) continue;
        } else {
            edits.push_back({tokens[i].offset, tokens[i].length, VectorOf(shape)});
        }
        // A vector has no majority: row_major's registers are the vector's.
        for (size_t j = i; j-- > 0 && tokens[j].kind == TokenKind::Identifier;)
            if (Is(text, tokens[j], "row_major") || Is(text, tokens[j], "column_major"))
                edits.push_back({tokens[j].offset, tokens[j].length, std::string()});
        // The name declared, which keeps the matrix's indexing.
        if (!constructor && i + 2 < tokens.size() && tokens[i + 1].kind == TokenKind::Identifier &&
            MarkOf(text, tokens[i + 2]) != '[')
            declared[tokens[i + 1].offset] = shape;
    }
    // Each use of those names, as the model finds it: a name, or a
    // structure's member.
    const HlslPlaces where(model, lexed);
    Typed typed{model, where, {}};
    const auto shapeOf = [&](size_t offset, size_t length) {
        size_t at        = 0;
        const auto found = where.Now(offset, length, at) ? declared.find(at) : declared.end();
        return found == declared.end() ? nullptr : &found->second;
    };
    for (const HlslExpr &e : model.exprs) {
        const Shape *shape = nullptr;
        if (e.kind == HlslExprKind::Name && e.symbol >= 0) {
            const HlslSymbol &symbol = model.symbols[e.symbol];
            shape                    = shapeOf(symbol.pos.offset, symbol.name.size());
        } else if (e.kind == HlslExprKind::Member && !e.isSwizzle && !e.children.empty() &&
                   e.children[0] >= 0) {
            const HlslType &object = model.exprs[e.children[0]].type;
            for (const HlslStruct *st = object.structure.get(); st && !shape; st = st->base.get())
                for (const HlslField &f : st->fields)
                    if (f.name == e.text) shape = shapeOf(f.offset, f.name.size());
        }
        size_t at = 0;
        if (shape && where.Now(e.textEnd - e.text.size(), e.text.size(), at))
            typed.lowered[at] = *shape;
    }
    Shape returned; // the type of the function the code is in
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Identifier) continue;
        const std::string_view name = Spelling(text, tokens[i]);
        if (places[i].signature && i + 2 < tokens.size() && IsMark(text, tokens[i + 2], '(')) {
            const Shape shape = ShapeOf(name);
            returned          = shape.degenerate() ? shape : VectorShapeOf(std::string(name));
        }
        const std::string refusal =
            places[i].code ? Refusal(text, tokens, i, returned, typed) : std::string();
        if (!refusal.empty()) {
            // A conversion the Windows compiler refuses is its X3017.
            const bool conversion = refusal.compare(0, 20, "cannot convert from ") == 0;
            diagnostics.Error(lexed.files[tokens[i].file], tokens[i].line, tokens[i].column,
                              refusal, conversion ? "X3017" : "");
            return false;
        }
        if (name == "mul" && i + 1 < tokens.size() && MarkOf(text, tokens[i + 1]) == '(' &&
            (i == 0 || MarkOf(text, tokens[i - 1]) != '.')) {
            std::string error;
            if (!RewriteMul(text, tokens, i, typed, edits, error)) {
                diagnostics.Error(lexed.files[tokens[i].file], tokens[i].line, tokens[i].column,
                                  error);
                return false;
            }
            continue;
        }
        // A name laid out as an array of registers reads as its vector.
        auto spreadOut = spread.find(name);
        if (spreadOut != spread.end() && spreadOut->second.declaration != i &&
            (i == 0 || !IsMark(text, tokens[i - 1], '.') || spreadOut->second.member))
            edits.push_back({tokens[i].offset, tokens[i].length, spreadOut->second.use});
        auto found = typed.lowered.find(tokens[i].offset);
        if (found == typed.lowered.end() || i + 1 >= tokens.size()) continue;
        const Shape &shape = found->second;
        if (shape.vector) continue;
        if (MarkOf(text, tokens[i + 1]) == '[' && shape.size() > 1) {
            // m[i] of a row is the whole vector; m[i][j] of a column is
            // element i.
            const size_t close = ClosingBracket(text, tokens, i + 1);
            if (shape.rows == 1) {
                edits.push_back({tokens[i + 1].offset, tokens[close].end() - tokens[i + 1].offset,
                                 std::string()});
            } else if (close + 1 < tokens.size() && MarkOf(text, tokens[close + 1]) == '[') {
                const size_t second = ClosingBracket(text, tokens, close + 1);
                if (second < tokens.size())
                    edits.push_back({tokens[close + 1].offset,
                                     tokens[second].end() - tokens[close + 1].offset,
                                     std::string()});
            }
        } else if (MarkOf(text, tokens[i + 1]) == '.' && i + 2 < tokens.size()) {
            const std::string swizzle = VectorSwizzle(Spelling(text, tokens[i + 2]), shape);
            if (!swizzle.empty())
                edits.push_back({tokens[i + 2].offset, tokens[i + 2].length, swizzle});
        }
    }
    if (edits.empty()) return true;
    // Only a blanked index holds other edits, which go with its text.
    const std::vector<Edit> all = edits;
    auto inside                 = [&](const Edit &e) {
        for (const Edit &other : all)
            if (other.length > e.length && other.offset <= e.offset &&
                e.offset + e.length <= other.offset + other.length)
                return true;
        return false;
    };
    Edits kept;
    for (const Edit &e : edits)
        if (!inside(e)) kept.push_back(e);
    kept.Apply(text, lexed);
    return true;
}

std::set<std::string> RowMajorSemanticNames(const std::string &text, const LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    std::set<std::string> names;
    for (size_t i = 0; i + 3 < tokens.size(); ++i) {
        if (!Is(text, tokens[i], "row_major")) continue;
        size_t type = i + 1;
        while (type + 2 < tokens.size() && tokens[type].kind == TokenKind::Identifier &&
               !ShapeOf(Spelling(text, tokens[type])).matrix)
            ++type;
        if (type + 2 >= tokens.size() || !ShapeOf(Spelling(text, tokens[type])).matrix) continue;
        size_t after = DeclaratorEnd(text, tokens, type + 1);
        if (tokens[type + 1].kind == TokenKind::Identifier && after < tokens.size() &&
            IsMark(text, tokens[after], ':'))
            names.insert(std::string(Spelling(text, tokens[type + 1])));
    }
    return names;
}
