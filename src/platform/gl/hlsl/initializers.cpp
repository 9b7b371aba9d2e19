// Brace initialisers as the Windows compiler reads them (initializers.h).
// One walk over the tokens finds the declarations, casts, calls and
// returns; what they declare and the types of their values are the model's,
// found in the text by where their names and expressions stand now.
#include "platform/gl/hlsl/initializers.h"

#include "platform/gl/hlsl/model/model.h"

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

using Edit = TextEdit;

struct Field;

// A type as this pass lays out its components: the model's, with a struct's
// members in order, its bases' first. Arrays carry their sizes, outermost
// first; 0 is the size an initialiser gives.
struct Layout {
    enum Kind { Unknown, Scalar, Vector, Matrix, Struct, Object } kind = Unknown;
    std::string name; // a numeric type's scalar; an object type's spelling
    int rows = 1, cols = 1;
    std::vector<Field> fields;
    std::vector<long> dims;
};

struct Field {
    std::string name;
    Layout type;
};

bool Numeric(const Layout &t) {
    return t.kind == Layout::Scalar || t.kind == Layout::Vector || t.kind == Layout::Matrix;
}

Layout Element(Layout t) {
    t.dims.erase(t.dims.begin());
    return t;
}

// The number of scalar components (an object is one), or -1.
long Components(const Layout &t) {
    long n = 0;
    if (!t.dims.empty()) {
        n = Components(Element(t));
        return t.dims[0] > 0 && n >= 0 ? n * t.dims[0] : -1;
    }
    if (Numeric(t)) return t.rows * t.cols;
    if (t.kind == Layout::Object) return 1;
    if (t.kind != Layout::Struct || t.fields.empty()) return -1;
    for (const Field &f : t.fields) {
        const long m = Components(f.type);
        if (m < 0) return -1;
        n += m;
    }
    return n;
}

// The type as the matrix forms leave it in code: a matrix of one row or one
// column is the vector it equals.
Layout Lowered(Layout t) {
    if (t.kind == Layout::Matrix && (t.rows == 1 || t.cols == 1)) {
        t.kind = Layout::Vector;
        t.cols *= t.rows;
        t.rows = 1;
    }
    for (Field &f : t.fields)
        f.type = Lowered(f.type);
    return t;
}

std::string Spelled(const Layout &t) {
    if (t.kind == Layout::Vector) return t.name + std::to_string(t.cols);
    if (t.kind == Layout::Matrix)
        return t.name + std::to_string(t.rows) + "x" + std::to_string(t.cols);
    return t.name;
}

// The model, and where its declarations and expressions stand in the text
// the pass reads.
struct Known {
    const HlslModel *model   = nullptr;
    const HlslPlaces *places = nullptr;
    std::map<size_t, int> symbols;              // a variable's or parameter's name
    std::map<size_t, const HlslField *> fields; // a struct member's name
    std::map<size_t, int> functions;            // a function's name where it is declared

    // The model's type of the variable declared by the name at token i, or Unknown.
    const HlslSymbol *SymbolAt(const Tokens &tokens, size_t i) const {
        const auto found = i < tokens.size() ? symbols.find(tokens[i].offset) : symbols.end();
        return found == symbols.end() ? nullptr
                                      : &model->symbols[static_cast<size_t>(found->second)];
    }
};

// The code tokens of the text, and where its directive lines are.
struct CodeText {
    const std::string &text;
    Tokens tokens;
    std::vector<size_t> directives; // offsets

    CodeText(const std::string &text, const LexedHlsl &lexed)
        : text(text), tokens(lexed.tokens.Empty()) {
        for (const Token &t : lexed.tokens)
            if (t.kind == TokenKind::Directive)
                directives.push_back(t.offset);
            else
                tokens.push_back(t);
    }
    size_t size() const { return tokens.size(); }
    bool Is(size_t i, char mark) const { return i < size() && IsMark(text, tokens[i], mark); }
    bool Is(size_t i, const char *op) const { return i < size() && ::Is(text, tokens[i], op); }
    bool IsWord(size_t i) const { return i < size() && tokens[i].kind == TokenKind::Identifier; }
    std::string Spelling(size_t i) const {
        return i < size() ? text.substr(tokens[i].offset, tokens[i].length) : std::string();
    }
    bool Opens(size_t i) const { return Is(i, '{') || Is(i, '(') || Is(i, '['); }
    size_t Closing(size_t i) const {
        int depth = 0;
        for (; i < size(); ++i) {
            if (Opens(i))
                ++depth;
            else if ((Is(i, '}') || Is(i, ')') || Is(i, ']')) && --depth == 0)
                return i;
        }
        return size();
    }
    // The '>' that closes the template arguments opened at i.
    size_t TemplateEnd(size_t i) const {
        int depth = 0;
        for (; i < size(); ++i) {
            if (Is(i, '<')) ++depth;
            if (Is(i, '>') && --depth == 0) return i;
            if (Is(i, ">>") && (depth -= 2) <= 0) return i;
            if (Is(i, ';') || Is(i, '{')) break;
        }
        return size();
    }
    // The first token of [a, b) outside brackets that is one of marks, or b.
    size_t Find(size_t a, size_t b, const char *marks) const {
        for (size_t i = a; i < b; ++i) {
            for (const char *m = marks; *m; ++m)
                if (Is(i, *m)) return i;
            if (Opens(i)) i = Closing(i);
        }
        return b;
    }
    // The tokens [a, b) as one line of text.
    std::string Joined(size_t a, size_t b) const {
        std::string out;
        for (size_t i = a; i < b; ++i)
            out += (i > a ? " " : "") + Spelling(i);
        return out;
    }
};

// The scalar, vector or matrix type the word spells (float3, dword2x2,
// min16int); false for any other word, and for the templates vector and
// matrix, whose arguments follow.
bool NumericName(const std::string &word, Layout &t) {
    HlslType named;
    if (word == "vector" || word == "matrix" || !MaybeNumericTypeName(word) ||
        !BuiltinTypeFromName(word, named) || !named.IsNumeric())
        return false;
    t      = Layout();
    t.name = HlslScalarName(named.scalar);
    t.kind = named.kind == HlslClass::Matrix   ? Layout::Matrix
             : named.kind == HlslClass::Vector ? Layout::Vector
                                               : Layout::Scalar;
    t.rows = named.kind == HlslClass::Matrix ? named.rows : 1;
    t.cols = named.columns;
    return true;
}

// The value of the constant expression [a, b), as the model folds it.
bool Evaluate(const CodeText &s, const Known &known, size_t a, size_t b, long &value) {
    if (a >= b || b > s.size()) return false;
    const int e = known.places->At(s.text, s.tokens[a].offset, s.tokens[b - 1].end());
    HlslConstant c;
    if (e < 0 || !EvaluateConstant(*known.model, e, c) || c.values.size() != 1 ||
        !(std::fabs(c.values[0]) < 1e15))
        return false;
    // A size is what the value truncates to, a float's too (4.1 is 4).
    value = static_cast<long>(c.values[0]);
    return true;
}

// Array sizes from i on ("[2][N + 1]"), appended to dims; kNone where one
// cannot be worked out. implicit is set to the ']' of an empty "[]".
size_t ParseDims(const CodeText &s, const Known &known, size_t i, std::vector<long> &dims,
                 size_t *implicit, Edits *edits = nullptr) {
    bool ok = true;
    while (s.Is(i, '[')) {
        const size_t close = s.Closing(i);
        long n             = 0;
        if (close == i + 1 && implicit && dims.empty())
            *implicit = close;
        else if (!Evaluate(s, known, i + 1, close, n) || n <= 0)
            ok = false;
        else if (edits && (close != i + 2 || s.Spelling(i + 1).find_first_not_of("0123456789") !=
                                                 std::string::npos)) {
            // glslang takes only integer constants it can fold itself.
            const size_t from = s.tokens[i + 1].offset, to = s.tokens[close - 1].end();
            // The lines the expression spanned stay, after the number.
            const Edit edit{from, to - from,
                            std::to_string(n) + std::string(std::count(s.text.begin() + from,
                                                                       s.text.begin() + to, '\n'),
                                                            '\n')};
            if (std::none_of(edits->begin(), edits->end(),
                             [&](const Edit &e) { return e.offset == edit.offset; }))
                edits->push_back(edit);
        }
        dims.push_back(n);
        i = close + 1;
    }
    return ok ? i : kNone;
}

// The model's type as this pass reads it: a minimum-precision type as the
// 32-bit type the text spells by now (the call forms rewrote them), a
// struct's inherited members first. budget is how many members may still
// be laid out: structs of structs double at each level, and a type past it
// is not read.
Layout FromModel(const HlslType &m, long &budget) {
    Layout t;
    if (m.IsNumeric()) {
        const HlslScalar scalar = FullPrecision(m.scalar);
        t.name                  = HlslScalarName(scalar);
        t.kind                  = m.kind == HlslClass::Matrix   ? Layout::Matrix
                                  : m.kind == HlslClass::Vector ? Layout::Vector
                                                                : Layout::Scalar;
        t.rows                  = m.kind == HlslClass::Matrix ? m.rows : 1;
        t.cols                  = m.columns;
    } else if (m.kind == HlslClass::Struct && m.structure) {
        t.kind = Layout::Struct;
        t.name = m.structure->name;
        std::vector<const HlslStruct *> chain;
        for (const HlslStruct *st = m.structure.get(); st && chain.size() < kMaxNesting;
             st                   = st->base.get())
            chain.insert(chain.begin(), st);
        // Flattened as the type forms flatten it, a shadowed member renamed.
        for (const HlslStruct *st : chain) {
            const size_t inherited = t.fields.size();
            for (const HlslField &f : st->fields) {
                if (--budget < 0) return Layout();
                t.fields.push_back({f.name, FromModel(f.type, budget)});
            }
            for (size_t k = 0; k < inherited; ++k)
                for (size_t later = k + 1; later < t.fields.size(); ++later)
                    if (t.fields[later].name == t.fields[k].name)
                        t.fields[k].name = ShadowedMemberName(st->name, k);
        }
        if (t.fields.empty()) t.kind = Layout::Unknown;
    } else if (m.kind == HlslClass::Object) {
        t.kind = Layout::Object;
        t.name = m.objectName;
    } else {
        return t;
    }
    t.dims.assign(m.arraySizes.begin(), m.arraySizes.end());
    return t;
}

Layout FromModel(const HlslType &m) {
    long budget = 4096;
    return FromModel(m, budget);
}

// The type of the expression [a, b) as the model typed it; Unknown where
// the model has no expression there (text an earlier pass wrote).
Layout TypeOf(const CodeText &s, const Known &known, size_t a, size_t b) {
    if (a >= b || b > s.size()) return Layout();
    const int e = known.places->At(s.text, s.tokens[a].offset, s.tokens[b - 1].end());
    return e < 0 ? Layout() : FromModel(known.model->exprs[static_cast<size_t>(e)].type);
}

// An initialiser as written: a list in braces, or one value [a, b).
struct Node {
    bool list = false;
    size_t a = 0, b = 0;
    std::vector<Node> items;
};

// The list whose '{' is at i; false where it is not one HLSL allows.
bool ParseList(const CodeText &s, size_t i, Node &node) {
    node.list          = true;
    const size_t close = s.Closing(i);
    for (size_t k = i + 1; k < close;) {
        Node item;
        if (s.Is(k, '{')) {
            if (!ParseList(s, k, item)) return false;
            k = item.b;
        } else {
            item.a = k;
            item.b = k = s.Find(k, close, ",{");
            if (s.Is(k, '{')) return false;
        }
        node.items.push_back(item);
        if (k < close && !s.Is(k++, ',')) return false;
    }
    node.a = i;
    node.b = close + 1;
    return close < s.size();
}

// One component of the values of an initialiser.
struct Component {
    std::string text;  // how to read it
    std::string whole; // the value it belongs to
    Layout type;       // the value's type
    bool first  = false;
    bool object = false;
};

void ReadComponents(const std::string &base, const Layout &t, std::vector<Component> &out) {
    const auto add = [&](const std::string &text) {
        out.emplace_back();
        out.back().text   = text;
        out.back().object = t.kind == Layout::Object;
    };
    if (!t.dims.empty()) {
        for (long k = 0; k < t.dims[0]; ++k)
            ReadComponents(base + "[" + std::to_string(k) + "]", Element(t), out);
    } else if (t.kind == Layout::Struct) {
        for (const Field &f : t.fields)
            ReadComponents(base + "." + f.name, f.type, out);
    } else if (t.kind == Layout::Matrix) {
        for (int r = 0; r < t.rows; ++r)
            for (int c = 0; c < t.cols; ++c)
                add(base + "._m" + std::to_string(r) + std::to_string(c));
    } else if (t.kind == Layout::Vector) {
        for (int c = 0; c < t.cols; ++c)
            add(base + "." + "xyzw"[c]);
    } else {
        add(base);
    }
}

// Whether the value [a, b) reads as one operand: a name, literal or call
// with only member, index and call suffixes.
bool Operand(const CodeText &s, size_t a, size_t b) {
    if (s.Is(a, '(')) return s.Closing(a) == b - 1;
    for (size_t i = a + 1; i < b; ++i) {
        if (s.Opens(i))
            i = s.Closing(i);
        else if (!s.Is(i, '.') && !s.IsWord(i))
            return false;
    }
    return s.tokens[a].kind != TokenKind::Punctuator;
}

// Whether t holds an array of objects inside a struct: glslang 12 crashes
// on an initialiser of one.
bool ObjectArrayInStruct(const Layout &t, bool inStruct) {
    if (!t.dims.empty()) return inStruct && Element(t).kind == Layout::Object;
    return std::any_of(t.fields.begin(), t.fields.end(),
                       [](const Field &f) { return ObjectArrayInStruct(f.type, true); });
}

bool Emit(const Layout &t, const std::vector<Component> &values, size_t &pos, std::string &out) {
    if (!t.dims.empty() || t.kind == Layout::Struct) {
        const size_t n = t.dims.empty() ? t.fields.size() : static_cast<size_t>(t.dims[0]);
        out += "{";
        for (size_t k = 0; k < n; ++k) {
            if (k > 0) out += ", ";
            if (!Emit(t.dims.empty() ? t.fields[k].type : Element(t), values, pos, out))
                return false;
        }
        out += "}";
        return n > 0;
    }
    if (pos >= values.size() || values[pos].object != (t.kind == Layout::Object)) return false;
    if (t.kind == Layout::Object) {
        out += values[pos++].text;
        return true;
    }
    if (t.rows * t.cols == 1 && t.kind == Layout::Matrix) return false; // glslang cannot build one
    const size_t end = pos + static_cast<size_t>(t.rows * t.cols);
    std::string args;
    while (pos < end) {
        const Component &c = values[pos];
        if (c.object) return false;
        const size_t size = static_cast<size_t>(Components(c.type));
        // A whole scalar or vector is one argument of a constructor, whose
        // arguments fill a matrix row by row, as Windows' initialisers do.
        const bool whole =
            c.first && c.type.dims.empty() && pos + size <= end &&
            (c.type.kind == Layout::Scalar ||
             (c.type.kind == Layout::Vector && t.kind != Layout::Scalar) ||
             (c.type.kind == Layout::Matrix && c.type.rows == t.rows && c.type.cols == t.cols));
        args += (args.empty() ? "" : ", ") + (whole ? c.whole : c.text);
        pos += whole ? size : 1;
    }
    out += Spelled(t) + "(" + args + ")";
    return pos == end;
}

// The initialiser of a local as one assignment per member and element, path
// the variable's name: glslang 12 crashes on an initialiser of a struct that
// holds an array of objects, not on these (initializer-objects.shader_test).
bool EmitAssignments(const Layout &t, const std::string &path, const std::vector<Component> &values,
                     size_t &pos, std::string &out) {
    if (!t.dims.empty() || t.kind == Layout::Struct) {
        const size_t n = t.dims.empty() ? t.fields.size() : static_cast<size_t>(t.dims[0]);
        for (size_t k = 0; k < n; ++k)
            if (!EmitAssignments(t.dims.empty() ? t.fields[k].type : Element(t),
                                 path + (t.dims.empty() ? "." + t.fields[k].name
                                                        : "[" + std::to_string(k) + "]"),
                                 values, pos, out))
                return false;
        return n > 0;
    }
    std::string value;
    if (!Emit(t, values, pos, value)) return false;
    out += "; " + path + " = " + value;
    return true;
}

// Whether glslang reads the initialiser as Windows does already: braces for
// every struct and array, a value of the shape of each member.
bool CShaped(const CodeText &s, const Known &known, const Layout &t, const Node &node) {
    if (!t.dims.empty() || t.kind == Layout::Struct) {
        const size_t n = t.dims.empty() ? t.fields.size() : static_cast<size_t>(t.dims[0]);
        if (!node.list || node.items.size() != n) return false;
        for (size_t k = 0; k < n; ++k)
            if (!CShaped(s, known, t.dims.empty() ? t.fields[k].type : Element(t), node.items[k]))
                return false;
        return true;
    }
    if (node.list) {
        if (t.kind == Layout::Object || node.items.size() != static_cast<size_t>(Components(t)))
            return false;
        for (const Node &item : node.items)
            if (item.list || TypeOf(s, known, item.a, item.b).kind != Layout::Scalar) return false;
        return true;
    }
    const Layout v = TypeOf(s, known, node.a, node.b);
    return v.kind == t.kind && v.dims.empty() && v.rows == t.rows && v.cols == t.cols;
}

void Leaves(const Node &node, std::vector<const Node *> &out) {
    if (!node.list) out.push_back(&node);
    for (const Node &item : node.items)
        Leaves(item, out);
}

// The initialiser [a, b) of a variable of type t; implicit is the ']' of its
// "[]", or kNone. t gets the size the initialiser gives.
void Initialise(const CodeText &s, const Known &known, Layout &t, size_t implicit, size_t a,
                size_t b, const std::string &local, Edits &edits) {
    const size_t from = s.tokens[a].offset, to = s.tokens[b - 1].end();
    if (std::any_of(s.directives.begin(), s.directives.end(),
                    [&](size_t d) { return d > from && d < to; }))
        return;
    Node node;
    std::vector<Component> values;
    if (s.Is(a, '{') && s.Closing(a) == b - 1) {
        if (!ParseList(s, a, node)) return;
    } else {
        node.a = a;
        node.b = b;
    }
    std::vector<const Node *> leaves;
    Leaves(node, leaves);
    for (const Node *leaf : leaves) {
        const Layout v = TypeOf(s, known, leaf->a, leaf->b);
        if (Components(v) < 0) return;
        const std::string whole = s.Joined(leaf->a, leaf->b);
        const size_t first      = values.size();
        ReadComponents(Operand(s, leaf->a, leaf->b) ? whole : "(" + whole + ")", v, values);
        for (size_t k = first; k < values.size(); ++k) {
            values[k].whole = whole;
            values[k].type  = v;
            values[k].first = k == first;
        }
    }
    Layout shaped = t;
    if (ObjectArrayInStruct(t, false)) {
        // A local's last declarator (local names it) becomes the
        // declaration and its assignments, which the ';' after it ends.
        std::string out;
        size_t pos = 0;
        if (local.empty() || !node.list || implicit != kNone ||
            Components(t) != static_cast<long>(values.size()) ||
            !EmitAssignments(t, local, values, pos, out))
            return;
        out.append(std::count(s.text.begin() + from, s.text.begin() + to, '\n'), '\n');
        edits.push_back({s.tokens[a - 1].offset, to - s.tokens[a - 1].offset, out});
        return;
    }
    if (implicit != kNone) {
        const long element = Components(Element(t));
        if (element <= 0 || values.empty() || values.size() % element != 0) return;
        shaped.dims[0] = static_cast<long>(values.size()) / element;
    }
    if (Components(shaped) != static_cast<long>(values.size())) return;
    if (!node.list) {
        // Only an array without a size needs the rewrite: its size.
        if (implicit == kNone || TypeOf(s, known, a, b).dims.empty()) return;
    } else if (implicit == kNone && CShaped(s, known, t, node)) {
        return;
    } else {
        std::string out;
        size_t pos = 0;
        if (!Emit(shaped, values, pos, out)) return;
        // The lines the initialiser spanned stay, after it.
        out.append(std::count(s.text.begin() + from, s.text.begin() + to, '\n'), '\n');
        edits.push_back({from, to - from, out});
    }
    if (implicit != kNone)
        edits.push_back({s.tokens[implicit].offset, 0, std::to_string(shaped.dims[0])});
    t = shaped;
}

// Conversions between types of other shapes, as the Windows compiler makes
// them (cast-componentwise-compatible.shader_test,
// cast-componentwise-equal.shader_test): a cast reads the source's
// components in order into the target's, which may have fewer; an assignment
// or argument between structs and arrays is one where their components have
// the same types, one by one. glslang converts only between types of one
// shape: each becomes a call of a function, put before the declaration that
// holds it, that builds the target from the source's components; the target
// is wrapped in a struct so that an array can be returned.
struct Conversions {
    std::vector<size_t> top; // each token's top-level declaration, its first token
    int count = 0;
    // Where the casts Windows refuses are reported, and the files the
    // tokens name.
    Diagnostics *refusals                 = nullptr;
    const std::vector<std::string> *files = nullptr;
};

// The type of each component of t, an object's marked with '@'.
void Bases(const Layout &t, std::vector<std::string> &out) {
    if (!t.dims.empty()) {
        for (long k = 0; k < t.dims[0]; ++k)
            Bases(Element(t), out);
    } else if (t.kind == Layout::Struct) {
        for (const Field &f : t.fields)
            Bases(f.type, out);
    } else {
        const std::string base = t.kind == Layout::Object ? "@" + t.name : t.name;
        out.insert(out.end(), static_cast<size_t>(std::max(Components(t), 0L)), base);
    }
}

bool Same(const Layout &a, const Layout &b) {
    if (a.kind != b.kind || a.name != b.name || a.rows != b.rows || a.cols != b.cols ||
        a.dims != b.dims || a.fields.size() != b.fields.size())
        return false;
    for (size_t k = 0; k < a.fields.size(); ++k)
        if (a.fields[k].name != b.fields[k].name || !Same(a.fields[k].type, b.fields[k].type))
            return false;
    return true;
}

bool Compound(const Layout &t) {
    return !t.dims.empty() || t.kind == Layout::Struct;
}

// Whether Windows casts from to to, and glslang does not as Windows does: a
// matrix of several rows and columns, or a target matrix of several rows,
// only from as many components (cast-componentwise-compatible.shader_test).
bool CastNeeded(const Layout &writtenFrom, const Layout &writtenTo) {
    const Layout from = Lowered(writtenFrom), to = Lowered(writtenTo);
    const long n = Components(from), m = Components(to);
    // glslang casts a vector to a scalar as Windows does, to its first
    // component.
    if (to.kind == Layout::Scalar && from.kind == Layout::Vector && !Compound(to) &&
        !Compound(from))
        return false;
    if (n <= 1 || m <= 0 || m > n || Same(from, to) ||
        (!Compound(from) && !Compound(to) && from.kind == to.kind))
        return false;
    const bool fromMatrix = from.dims.empty() && from.kind == Layout::Matrix;
    const bool toMatrix   = to.dims.empty() && to.kind == Layout::Matrix;
    if (m < n && ((fromMatrix && from.rows > 1 && from.cols > 1) || (toMatrix && to.rows > 1)))
        return false;
    std::vector<std::string> a, b;
    Bases(from, a);
    Bases(to, b);
    for (size_t k = 0; k < b.size(); ++k)
        if ((a[k][0] == '@' || b[k][0] == '@') && a[k] != b[k]) return false;
    return true;
}

// An assignment or argument: structs and arrays of the same component types.
bool AssignmentNeeded(const Layout &writtenFrom, const Layout &writtenTo) {
    const Layout from = Lowered(writtenFrom), to = Lowered(writtenTo);
    if (!Compound(from) || !Compound(to) || Same(from, to) || Components(from) <= 0) return false;
    std::vector<std::string> a, b;
    Bases(from, a);
    Bases(to, b);
    return a == b;
}

// t declared as name, or empty where the text cannot spell it.
std::string Declared(const Layout &written, const std::string &name) {
    const Layout t = Lowered(written);
    if (t.name.empty() || t.kind == Layout::Unknown || t.kind == Layout::Object) return {};
    std::string out = Spelled(t) + " " + name;
    for (const long d : t.dims)
        out += "[" + std::to_string(d) + "]";
    return out;
}

// The end of the operand at j: a name or parenthesised expression with its
// member, index and call suffixes; kNone where it is not one.
size_t OperandEnd(const CodeText &s, size_t j) {
    if (s.Is(j, '('))
        j = s.Closing(j) + 1;
    else if (s.IsWord(j))
        ++j;
    else
        return kNone;
    for (;;) {
        if (s.Is(j, '.') && s.IsWord(j + 1))
            j += 2;
        else if (s.Is(j, '[') || s.Is(j, '('))
            j = s.Closing(j) + 1;
        else
            return j < s.size() ? j : kNone;
    }
}

// Replaces [from, a) with a call of a new function converting the operand
// [a, b) of type source to target.
bool Convert(const CodeText &s, const Layout &writtenSource, const Layout &writtenTarget,
             size_t from, size_t a, size_t b, Conversions &c, Edits &edits) {
    const Layout source = Lowered(writtenSource), target = Lowered(writtenTarget);
    // The whole initialiser of a global ("static float d[8] = (float[8])v;")
    // is written out as the components it reads: glslang 12 reports recursion
    // for a global initialised by a call.
    bool global = from > 0 && s.Is(from - 1, '=') && (s.Is(b, ';') || s.Is(b, ','));
    for (size_t k = c.top[from]; global && k < from; ++k)
        global = !s.Is(k, '{');
    if (global) {
        // Tokens only, so that no comment swallows the components after it;
        // the lines of the cast stay lines.
        std::string value;
        for (size_t k = a; k < b; ++k)
            value += (k > a ? " " : "") + s.Spelling(k);
        std::vector<Component> values;
        ReadComponents(b == a + 1 ? value : "(" + value + ")", source, values);
        std::string init;
        size_t pos = 0;
        if (!Emit(target, values, pos, init)) return false;
        const size_t start = s.tokens[from].offset, end = s.tokens[b - 1].end();
        init.append(
            static_cast<size_t>(std::count(s.text.begin() + start, s.text.begin() + end, '\n')),
            '\n');
        edits.push_back({start, end - start, init});
        return true;
    }
    const std::string name = GeneratedName("convert" + std::to_string(c.count));
    const std::string in = Declared(source, "value"), out = Declared(target, "v");
    std::vector<Component> values;
    ReadComponents("value", source, values);
    std::string init;
    size_t pos = 0;
    if (in.empty() || out.empty() || !Emit(target, values, pos, init)) return false;
    ++c.count;
    const std::string helper = "struct " + name + "_t { " + out + "; }; " + name + "_t " + name +
                               "(" + in + ") { " + name + "_t r = {" + init + "}; return r; } ";
    edits.push_back({s.tokens[c.top[from]].offset, 0, helper});
    edits.push_back(
        {s.tokens[from].offset, s.tokens[a].offset - s.tokens[from].offset, name + "("});
    edits.push_back({s.tokens[b - 1].end(), 0, ").v"});
    return true;
}

// The declarators from i (the first name) on, each of the variable the
// model declares there; returns where the walk goes on.
size_t Declarators(const CodeText &s, const Known &known, size_t i, Conversions &c, Edits &edits) {
    for (;;) {
        const std::string name   = s.Spelling(i);
        const HlslSymbol *symbol = known.SymbolAt(s.tokens, i);
        Layout t                 = symbol ? FromModel(symbol->type) : Layout();
        const unsigned storage   = symbol ? symbol->storage : 0;
        const bool isStatic      = storage & kStatic;
        const bool isConst       = (storage & kConst) || (symbol && symbol->type.isConst);
        const bool inFunction =
            symbol && symbol->scope > 0 &&
            static_cast<size_t>(symbol->scope) < known.model->scopes.size() &&
            known.model->scopes[static_cast<size_t>(symbol->scope)].kind != HlslScopeKind::Global;
        std::vector<long> dims;
        size_t implicit = kNone;
        size_t j        = ParseDims(s, known, i + 1, dims, &implicit, &edits);
        // A typedef may give the inner sizes; the declarator's come first.
        const bool ok = j != kNone && t.kind != Layout::Unknown && t.dims.size() >= dims.size();
        if (j == kNone) j = i + 1;
        // The model gives an array without a size the size of its
        // initialiser; the initialiser is read for it again here.
        if (ok && implicit != kNone) t.dims[0] = 0;
        // Semantics, registers and annotations up to the initialiser.
        while (j < s.size() && !s.Is(j, '=') && !s.Is(j, ',') && !s.Is(j, ';') && !s.Is(j, ')') &&
               !s.Is(j, '{'))
            j = s.Is(j, '<') ? s.TemplateEnd(j) + 1 : s.Opens(j) ? s.Closing(j) + 1 : j + 1;
        if (s.Is(j, '=')) {
            const size_t a   = j + 1;
            j                = s.Find(a, s.size(), ",;)}");
            const bool local = inFunction && !isStatic && !isConst && s.Is(j, ';');
            // A struct or array from one of the same components, as an
            // assignment converts it (cast-componentwise-equal.shader_test).
            const Layout source = ok && a < j && !s.Is(a, '{') && OperandEnd(s, a) == j
                                      ? TypeOf(s, known, a, j)
                                      : Layout();
            if (AssignmentNeeded(source, t))
                Convert(s, source, t, a, a, j, c, edits);
            else if (ok && a < j)
                Initialise(s, known, t, implicit, a, j, local ? name : "", edits);
        } else if (ok && isStatic && !isConst && implicit == kNone && j < s.size()) {
            // Windows zeroes a static variable without an initialiser;
            // glslang zeroes a constant itself. A large array is left as it
            // is rather than given an initialiser of thousands of values.
            const long n = Components(t);
            std::vector<Component> zeros(static_cast<size_t>(n > 0 && n <= 256 ? n : 0));
            for (Component &z : zeros) {
                z.text = z.whole = "0";
                z.first          = true;
                NumericName("int", z.type);
            }
            std::string out = " = ";
            size_t pos      = 0;
            if (!zeros.empty() && Emit(t, zeros, pos, out))
                edits.push_back({s.tokens[j].offset, 0, out});
        }
        if (!s.Is(j, ',') || !s.IsWord(j + 1) || s.IsWord(j + 2)) return s.Is(j, ';') ? j + 1 : j;
        i = j + 1;
    }
}

// The cast whose '(' is at i, converted where glslang would not; returns
// the token after it, or kNone.
size_t Cast(const CodeText &s, const Known &known, size_t i, Conversions &c, Edits &edits) {
    const size_t j   = s.Closing(i);
    const size_t end = j < s.size() ? OperandEnd(s, j + 1) : kNone;
    if (end == kNone) return kNone;
    const int cast = known.places->At(s.text, s.tokens[i].offset, s.tokens[end - 1].end());
    if (cast < 0 || known.model->exprs[static_cast<size_t>(cast)].kind != HlslExprKind::Cast)
        return kNone;
    const HlslExpr &written = known.model->exprs[static_cast<size_t>(cast)];
    const Layout target     = FromModel(written.castType);
    const Layout source     = TypeOf(s, known, j + 1, end);
    {
        // Fewer components than the source's, but more than one, from a
        // matrix of several rows and columns or into a matrix of several
        // rows, other than between two matrices: Windows refuses the cast
        // (cast-componentwise-compatible.shader_test).
        const long n = Components(source), m = Components(target);
        const bool fromMatrix = source.dims.empty() && source.kind == Layout::Matrix &&
                                source.rows > 1 && source.cols > 1;
        const bool toMatrix =
            target.dims.empty() && target.kind == Layout::Matrix && target.rows > 1;
        const bool oneKind = !Compound(source) && !Compound(target) && source.kind == target.kind;
        if (n > 1 && m > 1 && m < n && (fromMatrix || toMatrix) && !oneKind &&
            !source.name.empty()) {
            // Windows names a structure "struct name" in its messages.
            const auto named = [](const HlslType &t) {
                return (t.kind == HlslClass::Struct ? "struct " : "") + HlslTypeName(t);
            };
            const Token &at = s.tokens[i];
            c.refusals->Error((*c.files)[at.file], at.line, at.column,
                              "cannot convert from '" +
                                  named(known.model->exprs[written.children[0]].type) + "' to '" +
                                  named(written.castType) + "'",
                              "X3017");
            return kNone;
        }
    }
    if (!CastNeeded(source, target) || !Convert(s, source, target, i, j + 1, end, c, edits))
        return kNone;
    return end;
}

// The arguments of a call at i of a function of the file's, as the model
// chose it; an out or inout argument is left as it is.
void Arguments(const CodeText &s, const Known &known, size_t i, Conversions &c, Edits &edits) {
    if (!s.Is(i + 1, '(')) return;
    const int call = known.places->CallAt(s.tokens[i].offset);
    if (call < 0) return;
    const HlslExpr &e = known.model->exprs[static_cast<size_t>(call)];
    if (e.kind != HlslExprKind::Call) return;
    // The model's overloads take a struct or array only of its own type;
    // one function of the name takes one of the same components too.
    int chosen = e.function, named = 0;
    for (size_t k = 0; e.function < 0 && k < known.model->functions.size(); ++k)
        if (known.model->functions[k].name == e.text && ++named == 1) chosen = static_cast<int>(k);
    if (chosen < 0 || named > 1) return;
    const HlslFunction &f = known.model->functions[static_cast<size_t>(chosen)];
    const size_t close    = s.Closing(i + 1);
    size_t n              = 0;
    for (size_t k = i + 2; k < close && n < f.params.size(); ++n) {
        const size_t comma     = s.Find(k, close, ",");
        const HlslSymbol &p    = known.model->symbols[static_cast<size_t>(f.params[n])];
        const Layout parameter = p.storage & kOut ? Layout() : FromModel(p.type);
        const Layout source    = TypeOf(s, known, k, comma);
        if (OperandEnd(s, k) == comma && AssignmentNeeded(source, parameter))
            Convert(s, source, parameter, k, k, comma, c, edits);
        k = comma + 1;
    }
}

// The parts of a value of type t read as base, an array spread into its
// elements and a struct into its members, down to numeric values; false
// where it holds an object.
bool Spread(const std::string &base, const Layout &t, std::vector<std::string> &out) {
    if (!t.dims.empty()) {
        for (long k = 0; k < t.dims[0]; ++k)
            if (!Spread(base + "[" + std::to_string(k) + "]", Element(t), out)) return false;
        return true;
    }
    if (t.kind == Layout::Struct) {
        for (const Field &f : t.fields)
            if (!Spread(base + "." + f.name, f.type, out)) return false;
        return true;
    }
    out.push_back(base);
    return Numeric(t);
}

// A numeric constructor at i: Windows reads an array or struct argument as
// its components in order, as a cast does (cast-componentwise-equal.shader_test,
// numeric-constructor-truncation.shader_test); glslang takes numeric values
// only, so such an argument is spelled as its elements and members.
void Constructor(const CodeText &s, const Known &known, size_t i, Edits &edits) {
    Layout constructed;
    if (!NumericName(s.Spelling(i), constructed) || !s.Is(i + 1, '(') ||
        (i > 0 && s.Is(i - 1, '.')))
        return;
    const size_t close = s.Closing(i + 1);
    for (size_t k = i + 2; k < close;) {
        const size_t comma    = s.Find(k, close, ",");
        const Layout argument = TypeOf(s, known, k, comma);
        std::vector<std::string> parts;
        const std::string base = OperandEnd(s, k) == comma ? s.Joined(k, comma) : std::string();
        if (Compound(argument) && !base.empty() && Spread(base, argument, parts)) {
            std::string spelled;
            for (const std::string &part : parts)
                spelled += (spelled.empty() ? "" : ", ") + part;
            edits.push_back(
                {s.tokens[k].offset, s.tokens[comma - 1].end() - s.tokens[k].offset, spelled});
        }
        k = comma + 1;
    }
}

// "target = value;", the target a variable, member or element.
void Assignment(const CodeText &s, const Known &known, size_t i, Conversions &c, Edits &edits) {
    const size_t to = OperandEnd(s, i);
    if (to == kNone || !s.Is(to, '=')) return;
    const size_t end = OperandEnd(s, to + 1);
    if (end == kNone || !s.Is(end, ';')) return;
    const Layout target = TypeOf(s, known, i, to), source = TypeOf(s, known, to + 1, end);
    if (AssignmentNeeded(source, target)) Convert(s, source, target, to + 1, to + 1, end, c, edits);
}

// "return value;" in a function whose return type the text gives, of a
// struct or array with the same components (cast-componentwise-equal.shader_test:
// "VS_OUTPUT main(VS_INPUT input) { return input; }").
void Return(const CodeText &s, const Known &known, size_t i, Conversions &c, Edits &edits) {
    if (!s.Is(i, "return")) return;
    const size_t end = OperandEnd(s, i + 1);
    if (end == kNone || !s.Is(end, ';')) return;
    // The function: the first name before a '(' in its declaration that
    // names one (attributes come before it).
    auto function = known.functions.end();
    for (size_t k = c.top[i] + 1; k < i && function == known.functions.end() && !s.Is(k, '{'); ++k)
        if (s.Is(k, '(') && s.IsWord(k - 1))
            function = known.functions.find(s.tokens[k - 1].offset);
    if (function == known.functions.end()) return;
    const Layout target =
        FromModel(known.model->functions[static_cast<size_t>(function->second)].returnType);
    const Layout source = TypeOf(s, known, i + 1, end);
    if (AssignmentNeeded(source, target)) Convert(s, source, target, i + 1, i + 1, end, c, edits);
}

// The model's declarations where their names stand in the text now.
Known Declarations(const HlslModel &model, const HlslPlaces &places) {
    Known known;
    known.model    = &model;
    known.places   = &places;
    const auto now = [&](size_t offset, size_t length, size_t &at) {
        return places.Now(offset, length, at);
    };
    size_t at = 0;
    std::set<const HlslStruct *> structs;
    for (size_t k = 0; k < model.symbols.size(); ++k) {
        const HlslSymbol &symbol = model.symbols[k];
        if ((symbol.kind == HlslSymbolKind::Variable || symbol.kind == HlslSymbolKind::Parameter) &&
            now(symbol.pos.offset, symbol.name.size(), at))
            known.symbols[at] = static_cast<int>(k);
        for (const HlslStruct *st = symbol.type.structure.get(); st && structs.insert(st).second;
             st                   = st->base.get())
            for (const HlslField &f : st->fields)
                if (now(f.offset, f.name.size(), at)) known.fields[at] = &f;
    }
    for (size_t f = 0; f < model.functions.size(); ++f)
        for (const HlslPos &name : model.functions[f].names)
            if (now(name.offset, model.functions[f].name.size(), at))
                known.functions[at] = static_cast<int>(f);
    return known;
}

// The name the declaration that starts at token i declares: the first name
// after its modifiers and type (template arguments skipped) that the model
// declares there; kNone where none does. A struct's body is walked on its
// own, its members being declarations.
size_t DeclaredName(const CodeText &s, const Known &known, size_t i) {
    for (size_t k = i; k < s.size() && k < i + 64; ++k) {
        if (s.IsWord(k)) {
            const size_t at = s.tokens[k].offset;
            if (known.symbols.count(at) || known.fields.count(at) || known.functions.count(at))
                return k;
        } else if (s.Is(k, '<') && k > i) {
            k = s.TemplateEnd(k);
        } else {
            return kNone;
        }
    }
    return kNone;
}

void Walk(std::string &text, LexedHlsl &lexed, const HlslModel &model, Diagnostics &refusals) {
    Edits edits;
    {
        const CodeText s(text, lexed);
        const HlslPlaces places(model, lexed);
        const Known known = Declarations(model, places);
        Conversions conversions;
        conversions.refusals = &refusals;
        conversions.files    = &lexed.files;
        int depth            = 0;
        for (size_t i = 0, first = 0; i < s.size(); ++i) {
            conversions.top.push_back(first);
            if (s.Is(i, '{')) ++depth;
            if ((s.Is(i, '}') && --depth == 0) || (s.Is(i, ';') && depth == 0)) first = i + 1;
        }
        for (size_t i = 0; i < s.size();) {
            const bool start = i == 0 || s.Is(i - 1, ';') || s.Is(i - 1, '{') || s.Is(i - 1, '}') ||
                               s.Is(i - 1, '(') || s.Is(i - 1, ',');
            if (s.Is(i, '(')) {
                const size_t next = Cast(s, known, i, conversions, edits);
                if (next != kNone) {
                    i = next;
                    continue;
                }
            }
            if (s.IsWord(i)) Arguments(s, known, i, conversions, edits);
            if (s.IsWord(i)) Constructor(s, known, i, edits);
            if (start && s.IsWord(i)) Assignment(s, known, i, conversions, edits);
            if (s.Is(i, "return")) Return(s, known, i, conversions, edits);
            if (!start || !s.IsWord(i)) {
                ++i;
                continue;
            }
            const size_t j = DeclaredName(s, known, i);
            if (j == kNone) {
                ++i;
            } else if (known.functions.count(s.tokens[j].offset)) {
                i = j + 2;
            } else if (known.fields.count(s.tokens[j].offset)) {
                // glslang takes only the sizes it can fold itself.
                std::vector<long> dims;
                ParseDims(s, known, j + 1, dims, nullptr, &edits);
                i = j + 1;
            } else {
                i = Declarators(s, known, j, conversions, edits);
                // Casts, calls and constructors in initialisers that are not
                // brace lists, which Initialise leaves as they are.
                for (size_t k = j; k < i; ++k) {
                    if (s.IsWord(k)) Arguments(s, known, k, conversions, edits);
                    if (s.IsWord(k)) Constructor(s, known, k, edits);
                    const size_t next =
                        s.Is(k, '(') ? Cast(s, known, k, conversions, edits) : kNone;
                    if (s.Is(k, '{')) k = s.Closing(k);
                    if (next != kNone) k = next - 1;
                }
            }
        }
    }
    edits.Apply(text, lexed);
}

} // namespace

bool ShapeInitializers(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                       Diagnostics &diagnostics) {
    Diagnostics refusals;
    Walk(text, lexed, model, refusals);
    diagnostics.items.insert(diagnostics.items.end(), refusals.items.begin(), refusals.items.end());
    return refusals.items.empty();
}
