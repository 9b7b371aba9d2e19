// Statements and literals as the Windows compiler reads them
// (statement_forms.h).
#include "platform/gl/hlsl/statement_forms.h"

#include "platform/gl/hlsl/model/model.h"

#include "platform/gl/bindings.h"

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
    if (IsFloatScalar(HlslLiteralType(number).scalar)) return std::string();
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
void LimitUnroll(const std::string &text, const Tokens &tokens, size_t attribute, size_t loop,
                 const std::string &count, int index, Edits &edits) {
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
    const std::string counter = GeneratedName("unrolled" + std::to_string(index));
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

// Spaces over [from, to), newlines kept, so that every line stays where it was.
Edit Blank(const std::string &text, size_t from, size_t to) {
    std::string spaces = text.substr(from, to - from);
    for (char &c : spaces)
        if (c != '\n') c = ' ';
    return {from, to - from, spaces};
}

bool StartsStatement(const std::string &text, const Tokens &tokens, size_t at) {
    if (at == 0) return true;
    const Token &before = tokens[at - 1];
    return IsMark(text, before, ';') || IsMark(text, before, '{') || IsMark(text, before, '}') ||
           IsMark(text, before, ')') || Is(text, before, "else");
}

// Whether the source defines or declares a function of this name itself.
bool DefinesFunction(const std::string &text, const Tokens &tokens, std::string_view name) {
    for (size_t i = 1; i + 1 < tokens.size(); ++i)
        if (Is(text, tokens[i], name) && IsMark(text, tokens[i + 1], '(') &&
            tokens[i - 1].kind == TokenKind::Identifier && !Is(text, tokens[i - 1], "return") &&
            !Is(text, tokens[i - 1], "else") && !Is(text, tokens[i - 1], "do"))
            return true;
    return false;
}

// A variable the init statement of the for loop at tokens[loop] declares
// lives on after the loop, in the enclosing block, in the Windows
// compiler's reading (it warns, X3078, where a later loop declares it
// again). Where the source reads one after the loop, the declaration moves
// before the loop's statement (its attributes included); a loop that
// starts no statement of a block, or whose [unroll(N)] adds a counter to
// its declaration, keeps it.
void HoistForDeclaration(const std::string &text, const Tokens &tokens, size_t loop, Edits &edits) {
    size_t start = loop; // past the attributes before the loop
    while (start > 0 && IsMark(text, tokens[start - 1], ']')) {
        size_t open = start - 1;
        while (open > 0 && !IsMark(text, tokens[open], '['))
            --open;
        if (open + 2 < start && Is(text, tokens[open + 1], "unroll") &&
            IsMark(text, tokens[open + 2], '('))
            return;
        start = open;
    }
    if (start == 0) return;
    const Token &before = tokens[start - 1];
    if (!IsMark(text, before, ';') && !IsMark(text, before, '{') && !IsMark(text, before, '}'))
        return;
    const size_t open = loop + 1, close = ClosingBracket(text, tokens, open);
    if (open + 3 >= tokens.size() || !IsMark(text, tokens[open], '(') || close >= tokens.size() ||
        tokens[open + 1].kind != TokenKind::Identifier ||
        tokens[open + 2].kind != TokenKind::Identifier)
        return;
    size_t semicolon = open + 1;
    for (int depth = 0; semicolon < close; ++semicolon) {
        const char c = MarkOf(text, tokens[semicolon]);
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') --depth;
        if (c == ';' && depth == 0) break;
    }
    if (semicolon >= close) return;
    // The names declared: each at depth 0 after the type or a ','.
    std::vector<std::string_view> names;
    for (size_t k = open + 2, depth = 0; k < semicolon; ++k) {
        const char c = MarkOf(text, tokens[k]);
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') --depth;
        if (depth == 0 && tokens[k].kind == TokenKind::Identifier &&
            (k == open + 2 || IsMark(text, tokens[k - 1], ',')))
            names.push_back(Spelling(text, tokens[k]));
    }
    // The loop's statement ends at its body's '}' or ';'.
    size_t end = close + 1;
    if (end < tokens.size() && IsMark(text, tokens[end], '{')) {
        end = ClosingBracket(text, tokens, end);
    } else {
        for (int depth = 0; end < tokens.size(); ++end) {
            const char c = MarkOf(text, tokens[end]);
            if (c == '(' || c == '[' || c == '{') ++depth;
            if (c == ')' || c == ']' || c == '}') --depth;
            if (c == ';' && depth == 0) break;
        }
    }
    // Read after it in the enclosing block, before any declaration again.
    bool read = false;
    for (size_t k = end + 1, depth = 0; k < tokens.size() && !read; ++k) {
        const char c = MarkOf(text, tokens[k]);
        if (c == '{') ++depth;
        if (c == '}' && depth-- == 0) break;
        if (tokens[k].kind != TokenKind::Identifier ||
            std::find(names.begin(), names.end(), Spelling(text, tokens[k])) == names.end() ||
            IsMark(text, tokens[k - 1], '.'))
            continue;
        if (tokens[k - 1].kind == TokenKind::Identifier && !Is(text, tokens[k - 1], "return"))
            break; // declared again
        read = true;
    }
    if (!read) return;
    const size_t from = tokens[open + 1].offset, to = tokens[semicolon].offset;
    edits.push_back({tokens[start].offset, 0, text.substr(from, to - from) + "; "});
    edits.push_back(Blank(text, from, to));
}

} // namespace

void SplitSamplerArrays(std::string &text, LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    Edits edits;
    int depth = 0;
    for (size_t i = 0; i + 5 < tokens.size(); ++i) {
        depth += IsMark(text, tokens[i], '{') - IsMark(text, tokens[i], '}');
        const bool sampler = Is(text, tokens[i], "SamplerState") ||
                             Is(text, tokens[i], "SamplerComparisonState") ||
                             Is(text, tokens[i], "sampler");
        if (depth != 0 || !sampler || tokens[i + 1].kind != TokenKind::Identifier ||
            !IsMark(text, tokens[i + 2], '[') || tokens[i + 3].kind != TokenKind::Number ||
            !IsMark(text, tokens[i + 4], ']'))
            continue;
        const int count = std::atoi(std::string(Spelling(text, tokens[i + 3])).c_str());
        // The declaration, one declarator, with at most a register of the
        // form register(sN), on one line.
        size_t end      = i + 5;
        int slot        = -1;
        const bool uses = Is(text, tokens[end], ":") && end + 4 < tokens.size() &&
                          Is(text, tokens[end + 1], "register") &&
                          IsMark(text, tokens[end + 2], '(') && IsMark(text, tokens[end + 4], ')');
        if (uses) {
            const std::string_view reg = Spelling(text, tokens[end + 3]);
            if (reg.size() < 2 || (reg[0] != 's' && reg[0] != 'S') ||
                reg.find_first_not_of("0123456789", 1) != std::string_view::npos)
                continue;
            slot = std::atoi(std::string(reg.substr(1)).c_str());
            end += 5;
        }
        // An array past the last slot stays whole, for the profile's refusal
        // to name it.
        if (count < 1 || std::max(slot, 0) + count > static_cast<int>(kSamplerSlots) ||
            !IsMark(text, tokens[end], ';') || tokens[end].line != tokens[i].line)
            continue;
        // Every other use an element at a literal index.
        const std::string_view name = Spelling(text, tokens[i + 1]);
        Edits elements;
        bool literal = true;
        for (size_t k = 0; k < tokens.size() && literal; ++k) {
            if (k == i + 1 || !Is(text, tokens[k], name) ||
                (k > 0 && IsMark(text, tokens[k - 1], '.')))
                continue;
            literal = k + 3 < tokens.size() && IsMark(text, tokens[k + 1], '[') &&
                      tokens[k + 2].kind == TokenKind::Number && IsMark(text, tokens[k + 3], ']') &&
                      std::atoi(std::string(Spelling(text, tokens[k + 2])).c_str()) < count;
            if (literal)
                elements.push_back(
                    {tokens[k].offset, tokens[k + 3].end() - tokens[k].offset,
                     std::string(name) + "_hf" + std::string(Spelling(text, tokens[k + 2]))});
        }
        if (!literal) continue;
        std::string declaration = std::string(Spelling(text, tokens[i])) + " ";
        for (int e = 0; e < count; ++e)
            declaration += (e ? ", " : "") + std::string(name) + "_hf" + std::to_string(e) +
                           (slot < 0 ? "" : " : register(s" + std::to_string(slot + e) + ")");
        edits.push_back({tokens[i].offset, tokens[end].offset - tokens[i].offset, declaration});
        edits.Append(elements);
    }
    if (edits.empty()) return;
    edits.Apply(text, lexed);
}

void RemoveNamespaces(std::string &text, LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    Edits edits;
    std::vector<std::string_view> names;
    for (size_t i = 0; i + 2 < tokens.size(); ++i) {
        if (!Is(text, tokens[i], "namespace") || tokens[i + 1].kind != TokenKind::Identifier ||
            !IsMark(text, tokens[i + 2], '{'))
            continue;
        const size_t close = ClosingBracket(text, tokens, i + 2);
        if (close >= tokens.size()) continue;
        names.push_back(Spelling(text, tokens[i + 1]));
        edits.push_back(Blank(text, tokens[i].offset, tokens[i + 2].end()));
        edits.push_back(Blank(text, tokens[close].offset, tokens[close].end()));
    }
    if (names.empty()) return;
    for (size_t i = 0; i + 1 < tokens.size(); ++i)
        if (Is(text, tokens[i + 1], "::") &&
            std::find(names.begin(), names.end(), Spelling(text, tokens[i])) != names.end())
            edits.push_back(Blank(text, tokens[i].offset, tokens[i + 1].end()));
    edits.Apply(text, lexed);
}

void RewriteStatementForms(std::string &text, LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    Edits edits;
    int unrolled = 0;
    // printf and errorf write to a debugging tool's log; the Windows
    // compiler compiles a call to nothing outside one.
    const bool ownPrintf = DefinesFunction(text, tokens, "printf");
    const bool ownErrorf = DefinesFunction(text, tokens, "errorf");
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (((Is(text, t, "printf") && !ownPrintf) || (Is(text, t, "errorf") && !ownErrorf)) &&
            i + 1 < tokens.size() && IsMark(text, tokens[i + 1], '(') &&
            StartsStatement(text, tokens, i)) {
            const size_t close = ClosingBracket(text, tokens, i + 1);
            if (close + 1 < tokens.size() && IsMark(text, tokens[close + 1], ';')) {
                edits.push_back(Blank(text, t.offset, tokens[close].end()));
                i = close;
            }
            continue;
        }
        if (Is(text, t, "for")) HoistForDeclaration(text, tokens, i, edits);
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
                if (IsFloatScalar(HlslLiteralType(number).scalar)) {
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
    edits.Apply(text, lexed);
}
