// Matrix swizzles glslang reads wrongly, as their rows' vector swizzles
// (matrix_swizzles.h).
#include "platform/gl/hlsl/matrix_swizzles.h"

#include "platform/gl/hlsl/model/types.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

struct Element {
    int row = 0, column = 0;
};

// The elements a matrix swizzle names, zero-based; none where the name is
// not one. mixed: it has both _mRC and _RC subscripts.
std::vector<Element> Elements(std::string_view swizzle, bool &mixed) {
    // Read as a 4x4 matrix's: the row and column of each.
    std::vector<int> components;
    if (swizzle.empty() || swizzle[0] != '_' ||
        !SwizzleComponents(MatrixType(HlslScalar::Float, 4, 4), swizzle, components))
        return {};
    std::vector<Element> elements;
    for (const int c : components)
        elements.push_back({c / 4, c % 4});
    bool zeroBased = false, oneBased = false;
    for (size_t i = 0; i + 1 < swizzle.size(); ++i)
        if (swizzle[i] == '_') (swizzle[i + 1] == 'm' ? zeroBased : oneBased) = true;
    mixed = zeroBased && oneBased;
    return elements;
}

bool IsAssignment(std::string_view op) {
    static const char *const kOperators[] = {
        "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="};
    return std::find(std::begin(kOperators), std::end(kOperators), op) != std::end(kOperators);
}

// Whether tokens [first, end) change nothing: no ++, -- or assignment.
bool ChangesNothing(const std::string &text, const Tokens &tokens, size_t first, size_t end) {
    for (size_t k = first; k < end; ++k)
        if (Is(text, tokens[k], "++") || Is(text, tokens[k], "--") ||
            IsAssignment(Spelling(text, tokens[k])))
            return false;
    return true;
}

// The first token of the postfix expression that ends at tokens[last] (a
// name, a member, an element, a call): the matrix a swizzle applies to;
// tokens.size() where it is none of those or changes something.
size_t ExpressionStart(const std::string &text, const Tokens &tokens,
                       const std::vector<size_t> &openers, size_t last) {
    const size_t none = tokens.size();
    size_t j          = last;
    for (;;) {
        const char c = MarkOf(text, tokens[j]);
        if (c == ']' || c == ')') {
            if (openers[j] == none) return none;
            j = openers[j];
            if (c == ']') {
                if (j == 0) return none;
                --j;
                continue;
            }
            static const char *const kKeywords[] = {"return", "if", "while", "for", "switch"};
            if (j > 0 && tokens[j - 1].kind == TokenKind::Identifier &&
                std::none_of(std::begin(kKeywords), std::end(kKeywords),
                             [&](const char *k) { return Is(text, tokens[j - 1], k); }))
                --j;
        } else if (tokens[j].kind != TokenKind::Identifier) {
            return none;
        }
        if (j >= 2 && IsMark(text, tokens[j - 1], '.')) {
            j -= 2;
            continue;
        }
        break;
    }
    return ChangesNothing(text, tokens, j, last + 1) ? j : none;
}

// The swizzle read from the matrix whose text is matrix: each row's
// elements as a vector swizzle of the row, chosen between componentwise.
std::string Read(const std::string &matrix, const std::vector<Element> &elements) {
    static const char kLetters[] = "xyzw";
    std::vector<int> rows;
    for (const Element &e : elements)
        if (std::find(rows.begin(), rows.end(), e.row) == rows.end()) rows.push_back(e.row);
    auto part = [&](int row) {
        std::string s = "(" + matrix + ")[" + std::to_string(row) + "].";
        for (const Element &e : elements)
            s += kLetters[e.row == row ? e.column : 0];
        return s;
    };
    std::string read = "(";
    for (size_t k = 0; k + 1 < rows.size(); ++k) {
        read += "bool" + std::to_string(elements.size()) + "(";
        for (size_t n = 0; n < elements.size(); ++n)
            read += std::string(n ? ", " : "") + (elements[n].row == rows[k] ? "true" : "false");
        read += ") ? " + part(rows[k]) + " : (";
    }
    read += part(rows.back());
    return read + std::string(rows.size(), ')');
}

// The token that ends the expression starting at tokens[first]: a ';' or
// ',' outside brackets, or the bracket that closes around it.
size_t ExpressionEnd(const std::string &text, const Tokens &tokens, size_t first) {
    int depth = 0;
    for (size_t j = first; j < tokens.size(); ++j) {
        const char c = MarkOf(text, tokens[j]);
        if (c == '(' || c == '[' || c == '{') ++depth;
        if ((c == ')' || c == ']' || c == '}') && depth-- == 0) return j;
        if ((c == ';' || c == ',') && depth == 0) return j;
    }
    return tokens.size();
}

std::string Joined(const std::string &text, const Tokens &tokens, size_t first, size_t end) {
    std::string joined;
    for (size_t k = first; k < end; ++k)
        joined += (k > first ? " " : "") + std::string(Spelling(text, tokens[k]));
    return joined;
}

// The replacement of text[begin, end) by with, and as many line breaks as
// it held, so that the lines after stay where they were.
TextEdit KeepingLines(const std::string &text, size_t begin, size_t end, const std::string &with) {
    const auto breaks = std::count(text.begin() + begin, text.begin() + end, '\n');
    return {begin, end - begin, with + std::string(breaks, '\n')};
}

// An assignment (op "=", "+=" ...) of the value in tokens [first, end) to
// the swizzle: each row's elements assigned as a vector swizzle of the row,
// from the value's components at their places. glslang's own split crashes
// where the matrix is not float and the value not a variable. The value,
// read once per row, is widened to the swizzle's size by a choice with a
// constant condition, so that a scalar fills every element:
//   m._m00_m11 = v  ->  ((m)[0].x = (bool2(true, true) ? (v) : (v)).x, (m)[1].y = (...).y)
std::string Write(const std::string &matrix, const std::vector<Element> &elements,
                  std::string_view op, const std::string &text, const Tokens &tokens, size_t first,
                  size_t end) {
    static const char kLetters[] = "xyzw";
    const std::string value      = Joined(text, tokens, first, end);
    std::string widened          = "(bool" + std::to_string(elements.size()) + "(";
    for (size_t n = 0; n < elements.size(); ++n)
        widened += n ? ", true" : "true";
    widened += ") ? (" + value + ") : (" + value + ")).";
    std::vector<int> rows;
    for (const Element &e : elements)
        if (std::find(rows.begin(), rows.end(), e.row) == rows.end()) rows.push_back(e.row);
    std::string write = "(";
    for (int row : rows) {
        std::string columns, places;
        for (size_t n = 0; n < elements.size(); ++n)
            if (elements[n].row == row) {
                columns += kLetters[elements[n].column];
                places += kLetters[n];
            }
        const std::string target = "(" + matrix + ")[" + std::to_string(row) + "]." + columns;
        write += (row == rows.front() ? "" : ", ") + target + " = ";
        if (op != "=") write += target + " " + std::string(op.substr(0, op.size() - 1)) + " ";
        write += widened + places;
    }
    return write + ")";
}

struct Rewrite {
    size_t begin, end; // the text the edits lie in, which no other rewrite may touch
    Edits edits;
};

// One round: the swizzles that do not lie in another's text. Returns false
// for a refused swizzle; more: some were left for the next round.
bool RewriteRound(std::string &text, LexedHlsl &lexed, Diagnostics &diagnostics, bool &more) {
    const Tokens &tokens = lexed.tokens;
    const size_t none    = tokens.size();
    std::vector<size_t> openers(none, none), open;
    for (size_t i = 0; i < none; ++i) {
        const char c = MarkOf(text, tokens[i]);
        if (c == '(' || c == '[' || c == '{') open.push_back(i);
        if ((c == ')' || c == ']' || c == '}') && !open.empty()) {
            openers[i] = open.back();
            open.pop_back();
        }
    }
    std::vector<Rewrite> rewrites;
    for (size_t i = 2; i < none; ++i) {
        if (tokens[i].kind != TokenKind::Identifier || !IsMark(text, tokens[i - 1], '.')) continue;
        bool mixed                          = false;
        const std::vector<Element> elements = Elements(Spelling(text, tokens[i]), mixed);
        if (mixed) {
            diagnostics.Error(lexed.files[tokens[i].file], tokens[i].line, tokens[i].column,
                              "invalid subscript '" + std::string(Spelling(text, tokens[i])) + "'",
                              "X3018");
            return false;
        }
        if (elements.size() < 2 || elements.size() > 4) continue;
        const std::string_view next = i + 1 < none ? Spelling(text, tokens[i + 1]) : "";
        if (next == "++" || next == "--") continue;
        const size_t start = ExpressionStart(text, tokens, openers, i - 2);
        if (start == none) continue;
        const std::string matrix = Joined(text, tokens, start, i - 1);
        Rewrite r;
        const size_t end = IsAssignment(next) ? ExpressionEnd(text, tokens, i + 2) : none;
        if (IsAssignment(next) && end == none) continue;
        if (IsAssignment(next) && ChangesNothing(text, tokens, i + 2, end)) {
            r = {tokens[start].offset, tokens[end].offset, {}};
            r.edits.push_back(KeepingLines(
                text, r.begin, r.end, Write(matrix, elements, next, text, tokens, i + 2, end)));
        } else if (IsAssignment(next)) {
            // A value that changes something is read once: glslang splits a
            // plain assignment of it itself.
            if (next == "=") continue;
            r = {tokens[start].offset, tokens[end].offset, {}};
            r.edits.push_back({tokens[i + 1].offset, tokens[i + 1].length,
                               "= " + Read(matrix, elements) + " " +
                                   std::string(next.substr(0, next.size() - 1)) + " ("});
            r.edits.push_back({tokens[end].offset, 0, ")"});
        } else {
            r = {tokens[start].offset, tokens[i].end(), {}};
            r.edits.push_back(KeepingLines(text, r.begin, r.end, Read(matrix, elements)));
        }
        const bool overlaps = std::any_of(rewrites.begin(), rewrites.end(), [&](const Rewrite &o) {
            return r.begin < o.end && o.begin < r.end;
        });
        if (overlaps)
            more = true;
        else
            rewrites.push_back(r);
    }
    Edits edits;
    for (const Rewrite &r : rewrites)
        edits.Append(r.edits);
    edits.Apply(text, lexed);
    return true;
}

} // namespace

bool RewriteMatrixSwizzles(std::string &text, LexedHlsl &lexed, Diagnostics &diagnostics) {
    // A swizzle in another's matrix (m[n._m00_m11.x]._m01_m10) waits for the
    // next round, which reads the text the first left.
    for (int round = 0; round < 8; ++round) {
        bool more = false;
        if (!RewriteRound(text, lexed, diagnostics, more)) return false;
        if (!more) break;
    }
    return true;
}
