// Statements and literals as the Windows compiler reads them
// (statement_forms.h).
#include "platform/gl/hlsl/statement_forms.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using Edit = TextEdit;

// Whether the token ends an operand, so that a '-' after it subtracts.
bool EndsOperand(const std::string &text, const Token &t) {
    const char c = MarkOf(text, t);
    return t.kind == TokenKind::Number || c == ')' || c == ']' ||
           (t.kind == TokenKind::Identifier && !Is(text, t, "return") && !Is(text, t, "case"));
}

// An integer literal's spelling without a long suffix; empty where it has
// none.
std::string WithoutLong(std::string_view number) {
    const bool hex =
        number.size() > 1 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
    if (!hex && number.find_first_of(".eE") != std::string_view::npos) return std::string();
    size_t end  = number.size();
    bool isLong = false, isUnsigned = false;
    while (end > 0 && std::string_view("lLuU").find(number[end - 1]) != std::string_view::npos) {
        isLong     = isLong || number[end - 1] == 'l' || number[end - 1] == 'L';
        isUnsigned = isUnsigned || number[end - 1] == 'u' || number[end - 1] == 'U';
        --end;
    }
    if (!isLong) return std::string();
    return std::string(number.substr(0, end)) + (isUnsigned ? "u" : "");
}

// [unroll(N)] before the for loop at tokens[loop]: a counter in its
// condition and step.
void LimitUnroll(const std::string &text, const std::vector<Token> &tokens, size_t attribute,
                 size_t loop, const std::string &count, int index, std::vector<Edit> &edits) {
    const size_t open = loop + 1, close = ClosingBracket(text, tokens, open);
    if (open >= tokens.size() || MarkOf(text, tokens[open]) != '(' || close >= tokens.size())
        return;
    size_t semicolons[2] = {0, 0};
    int found = 0, depth = 0;
    for (size_t j = open + 1; j < close && found < 2; ++j) {
        const char c = MarkOf(text, tokens[j]);
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') --depth;
        if (c == ';' && depth == 0) semicolons[found++] = j;
    }
    if (found != 2) return;
    const std::string counter = "hf_unrolled" + std::to_string(index);
    // The loop's own declaration takes the counter as one more name.
    const bool declares = semicolons[0] > open + 2 &&
                          tokens[open + 1].kind == TokenKind::Identifier &&
                          tokens[open + 2].kind == TokenKind::Identifier;
    if (declares) {
        edits.push_back({tokens[semicolons[0]].offset, 0, ", " + counter + " = 0"});
    } else {
        const char before = attribute > 0 ? MarkOf(text, tokens[attribute - 1]) : ';';
        if (before != ';' && before != '{' && before != '}') return; // not a statement's start
        edits.push_back({tokens[attribute].offset, 0, "int " + counter + " = 0; "});
    }
    if (semicolons[1] == semicolons[0] + 1) {
        edits.push_back({tokens[semicolons[1]].offset, 0, counter + " < " + count});
    } else {
        edits.push_back({tokens[semicolons[0] + 1].offset, 0, "("});
        edits.push_back({tokens[semicolons[1]].offset, 0, ") && " + counter + " < " + count});
    }
    edits.push_back({tokens[semicolons[1]].end(), 0,
                     " ++" + counter + (close == semicolons[1] + 1 ? "" : ",")});
}

} // namespace

void RewriteStatementForms(std::string &text, LexedHlsl &lexed) {
    const std::vector<Token> &tokens = lexed.tokens;
    std::vector<Edit> edits;
    int unrolled = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind == TokenKind::Number) {
            // The preprocessor writes 3lu as "3l u": the suffix's letters
            // after it are part of it.
            std::string number(Spelling(text, t));
            size_t end = t.end();
            if (i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::Identifier &&
                Spelling(text, tokens[i + 1]).find_first_not_of("lLuU") == std::string::npos &&
                !WithoutLong(number + "l").empty()) { // an integer
                number += Spelling(text, tokens[i + 1]);
                end = tokens[i + 1].end();
            }
            const std::string plain = WithoutLong(number);
            if (!plain.empty()) edits.push_back({t.offset, end - t.offset, plain});
            // A case label compares as an integer.
            if (i > 0 && Is(text, tokens[i - 1], "case") && plain.empty()) {
                const std::string number(Spelling(text, t));
                if (number.find_first_of(".eE") != std::string::npos &&
                    number.find_first_of("xX") == std::string::npos) {
                    const double value = std::strtod(number.c_str(), nullptr);
                    edits.push_back(
                        {t.offset, t.length, std::to_string(static_cast<long long>(value))});
                }
            }
        } else if ((Is(text, t, "true") || Is(text, t, "false")) && i > 0 &&
                   Is(text, tokens[i - 1], "-") && (i < 2 || !EndsOperand(text, tokens[i - 2]))) {
            edits.push_back({t.offset, t.length, Is(text, t, "true") ? "1" : "0"});
        } else if (Is(text, t, "export") && i + 1 < tokens.size() &&
                   tokens[i + 1].kind == TokenKind::Identifier &&
                   (i == 0 || tokens[i - 1].kind == TokenKind::Directive ||
                    MarkOf(text, tokens[i - 1]) == ';' || MarkOf(text, tokens[i - 1]) == '}')) {
            // A library's export marks a function that a 4_0 compile reads
            // as any other; glslang does not know the word.
            edits.push_back({t.offset, t.length, std::string(t.length, ' ')});
        } else if (MarkOf(text, t) == '[' && i + 5 < tokens.size() &&
                   Is(text, tokens[i + 1], "unroll") && MarkOf(text, tokens[i + 2]) == '(' &&
                   tokens[i + 3].kind == TokenKind::Number && MarkOf(text, tokens[i + 4]) == ')' &&
                   MarkOf(text, tokens[i + 5]) == ']' && i + 6 < tokens.size() &&
                   Is(text, tokens[i + 6], "for")) {
            LimitUnroll(text, tokens, i, i + 6, std::string(Spelling(text, tokens[i + 3])),
                        unrolled++, edits);
        } else if (MarkOf(text, t) == '[' && i + 2 < tokens.size() &&
                   Is(text, tokens[i + 1], "numthreads") &&
                   (i == 0 || tokens[i - 1].kind == TokenKind::Directive ||
                    std::string_view(";}]").find(MarkOf(text, tokens[i - 1])) !=
                        std::string_view::npos)) {
            // An attribute before a declaration: glslang reads numthreads'
            // arguments without looking whether there are any, and crashes
            // on [numthreads] alone; no 4_0 stage has threads. Its
            // arguments, where there are some, glslang judges as Windows
            // does.
            if (IsMark(text, tokens[i + 2], ']')) {
                const std::string span = text.substr(t.offset, tokens[i + 2].end() - t.offset);
                edits.push_back({t.offset, span.size(),
                                 std::string(std::count(span.begin(), span.end(), '\n'), '\n')});
            }
        }
    }
    if (edits.empty()) return;
    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit &a, const Edit &b) { return a.offset > b.offset; });
    for (const Edit &edit : edits)
        text.replace(edit.offset, edit.length, edit.text);
    lexed = LexHlsl(text, lexed.files[0]);
}
