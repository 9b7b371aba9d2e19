// The HLSL lexer (platform/gl/hlsl/lexer.h) on the inputs the tokenizers it
// replaced disagreed on: shifts and compound shift assignments, '::',
// numbers with suffixes, comments, strings with escaped quotes, #line
// directives, and an effect annotation holding a shift.
#include "platform/gl/hlsl/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A token as a letter for its kind and its text: "I" identifier, "N" number,
// "S" string, "P" punctuator, "D" directive.
std::string Describe(const std::string &text, const Token &t) {
    return std::string(1, "INSPD"[static_cast<int>(t.kind)]) + std::string(Spelling(text, t));
}

struct Row {
    const char *text;
    std::vector<std::string> tokens;
};

const Row kRows[] = {
    {"a <<= b >>= c << d >> e < f > g",
     {"Ia", "P<<=", "Ib", "P>>=", "Ic", "P<<", "Id", "P>>", "Ie", "P<", "If", "P>", "Ig"}},
    {"A::B x++ --y p->q a&&b||c a==b!=c<=d>=e i+=1",
     {"IA", "P::", "IB",  "Ix", "P++", "P--", "Iy",  "Ip", "P->", "Iq", "Ia", "P&&", "Ib", "P||",
      "Ic", "Ia",  "P==", "Ib", "P!=", "Ic",  "P<=", "Id", "P>=", "Ie", "Ii", "P+=", "N1"}},
    {"1.0f 1.5h 2u 3l 4lu 0x1F 0x1Fu 1e-3 2E+4f .5 5. 7 1.0x v.x",
     {"N1.0f", "N1.5h", "N2u", "N3l", "N4lu", "N0x1F", "N0x1Fu", "N1e-3", "N2E+4f", "N.5", "N5.",
      "N7", "N1.0", "Ix", "Iv", "P.", "Ix"}},
    {"a // b << c\nd /* e\n >> f */ g", {"Ia", "Id", "Ig"}},
    {"s = \"a\\\"b;\" + \"open\nt", {"Is", "P=", "S\"a\\\"b;\"", "P+", "S\"open", "It"}},
    {"#line 1 \"x.fxh\"\n  #pragma once\nx # y",
     {"D#line 1 \"x.fxh\"", "D#pragma once", "Ix", "P#", "Iy"}},
    {"technique11 T < int a = 1 << 2; > { }",
     {"Itechnique11", "IT", "P<", "Iint", "Ia", "P=", "N1", "P<<", "N2", "P;", "P>", "P{", "P}"}},
};

TEST(Lexer, SplitsTokensAsGlslangDoes) {
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.text);
        const LexedHlsl lexed = LexHlsl(row.text);
        std::vector<std::string> tokens;
        for (const Token &t : lexed.tokens)
            tokens.push_back(Describe(row.text, t));
        EXPECT_EQ(tokens, row.tokens);
    }
}

// The places of tokens: lines and columns counted through comments, and
// #line directives naming the next line and (included) file, as the
// preprocessor's output keeps them.
struct Place {
    const char *spelling, *file;
    int line, column;
};

TEST(Lexer, PlacesTokensWhereTheLineDirectivesSay) {
    const std::string text = "a /* one\ntwo */ b\n"
                             "#line 1 \"lib/inc.fxh\"\n"
                             "  c\n"
                             "#line 7\n"
                             "\"d\" e\n"
                             "#line 4 \"main.fx\"\n"
                             "f";
    const Place kPlaces[]  = {{"a", "main.fx", 1, 1},     {"b", "main.fx", 2, 8},
                              {"c", "lib/inc.fxh", 1, 3}, {"\"d\"", "lib/inc.fxh", 7, 1},
                              {"e", "lib/inc.fxh", 7, 5}, {"f", "main.fx", 4, 1}};
    const LexedHlsl lexed  = LexHlsl(text, "main.fx");
    std::vector<Token> tokens;
    for (const Token &t : lexed.tokens)
        if (t.kind != TokenKind::Directive) tokens.push_back(t);
    ASSERT_EQ(tokens.size(), std::size(kPlaces));
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Place &p = kPlaces[i];
        SCOPED_TRACE(p.spelling);
        EXPECT_EQ(Spelling(text, tokens[i]), p.spelling);
        EXPECT_EQ(lexed.files[tokens[i].file], p.file);
        EXPECT_EQ(tokens[i].line, p.line);
        EXPECT_EQ(tokens[i].column, p.column);
    }
    EXPECT_EQ(lexed.files.size(), 2u); // "main.fx" once, though two names give it
}

// Edits: each row's edits are added in order to "abcdefgh"; the refused
// ones are listed by index, and the text shows the order they land in.
struct EditCall {
    char kind;             // 'a' Add, 'w' Wrap
    size_t offset, length; // a wrap's begin and end
    const char *text, *closer;
};

struct EditRow {
    const char *why;
    std::vector<EditCall> calls;
    std::vector<size_t> refused;
    const char *result;
};

const EditRow kEditRows[] = {
    {"replacements apart", {{'a', 1, 2, "X", nullptr}, {'a', 5, 1, "Y", nullptr}}, {}, "aXdeYgh"},
    {"insertions at one offset: the later one stands left",
     {{'a', 2, 0, "1", nullptr}, {'a', 2, 0, "2", nullptr}},
     {},
     "ab21cdefgh"},
    {"an insertion at a replacement's start goes before it, added either side",
     {{'a', 2, 0, "<", nullptr},
      {'a', 2, 2, "X", nullptr},
      {'a', 5, 2, "Y", nullptr},
      {'a', 5, 0, ">", nullptr}},
     {},
     "ab<Xe>Yh"},
    {"an insertion at a replacement's end goes after it",
     {{'a', 2, 2, "X", nullptr}, {'a', 4, 0, "!", nullptr}},
     {},
     "abX!efgh"},
    {"replacements that share a character are refused",
     {{'a', 1, 3, "X", nullptr},
      {'a', 3, 2, "Y", nullptr},
      {'a', 0, 2, "Z", nullptr},
      {'a', 1, 3, "W", nullptr}},
     {1, 2, 3},
     "aXefgh"},
    {"an insertion strictly inside a replacement is refused, either order",
     {{'a', 2, 3, "X", nullptr},
      {'a', 3, 0, "!", nullptr},
      {'a', 7, 0, "?", nullptr},
      {'a', 6, 2, "Y", nullptr}},
     {1, 3},
     "abXfg?h"},
    {"wraps nest whichever is added first",
     {{'w', 2, 4, "f(", ")"}, {'w', 2, 3, "g(", ")"}, {'w', 1, 5, "h(", "]"}},
     {},
     "ah(bf(g(c)d)e]fgh"},
    {"two wraps of one span: the later is outer",
     {{'w', 2, 4, "in(", ")"}, {'w', 2, 4, "out(", "]"}},
     {},
     "about(in(cd)]efgh"},
    {"a closer stands left of an opener at one offset",
     {{'w', 0, 2, "(", ")"}, {'w', 2, 4, "[", "]"}},
     {},
     "(ab)[cd]efgh"},
};

TEST(Edits, PlaceNestAndRefuseAsTheRowsSay) {
    for (const EditRow &row : kEditRows) {
        SCOPED_TRACE(row.why);
        Edits edits;
        std::vector<size_t> refused;
        for (size_t i = 0; i < row.calls.size(); ++i) {
            const EditCall &c = row.calls[i];
            const bool kept   = c.kind == 'w' ? edits.Wrap(c.offset, c.length, c.text, c.closer)
                                              : edits.Add(c.offset, c.length, c.text);
            if (!kept) refused.push_back(i);
        }
        EXPECT_EQ(refused, row.refused);
        EXPECT_EQ(edits.AppliedTo("abcdefgh"), row.result);
    }
}

// A span of "abcdefgh" ([begin, end)) after two batches of edits: where it
// stands in the text they leave, or lost where an edit replaced part of it
// with text outside it. Insertions at its ends stay outside it.
TEST(Edits, MovedSpansFollowEachBatch) {
    const struct {
        const char *why;
        std::vector<std::vector<TextEdit>> batches;
        size_t begin, end;
        const char *now; // the span's text now; null: lost
    } rows[] = {
        {"no edit", {}, 2, 5, "cde"},
        {"an insertion before it", {{{0, 0, "XY"}}}, 2, 5, "cde"},
        {"an insertion at its start stays outside", {{{2, 0, "("}}}, 2, 5, "cde"},
        {"an insertion at its end stays outside", {{{5, 0, ")"}}}, 2, 5, "cde"},
        {"a wrap of it", {{{2, 0, "(("}, {5, 0, "))"}}}, 2, 5, "cde"},
        {"a replacement inside it", {{{3, 1, "DDD"}}}, 2, 5, "cDDDe"},
        {"a replacement of all of it", {{{2, 3, "Z"}}}, 2, 5, "Z"},
        {"a replacement before it", {{{0, 2, ""}}}, 2, 5, "cde"},
        {"a replacement across its start", {{{1, 2, "Q"}}}, 2, 5, nullptr},
        {"a replacement across its end", {{{4, 2, "Q"}}}, 2, 5, nullptr},
        {"two batches", {{{0, 0, "12"}}, {{0, 1, ""}, {7, 0, "!"}}}, 2, 5, "cde"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.why);
        std::string text = "abcdefgh";
        LexedHlsl lexed  = LexHlsl(text);
        for (const std::vector<TextEdit> &batch : row.batches) {
            Edits edits;
            for (const TextEdit &e : batch)
                ASSERT_TRUE(edits.Add(e.offset, e.length, e.text));
            edits.Apply(text, lexed);
        }
        size_t begin = row.begin, end = row.end;
        const bool found = MovedSpan(lexed, 0, begin, end);
        if (!row.now) {
            EXPECT_FALSE(found);
            continue;
        }
        ASSERT_TRUE(found);
        EXPECT_EQ(text.substr(begin, end - begin), row.now) << text;
    }
}
} // namespace
