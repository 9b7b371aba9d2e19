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

} // namespace
