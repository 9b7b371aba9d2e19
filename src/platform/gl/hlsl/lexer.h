// The one lexer of the HLSL compiler half: every pass that reads HLSL text
// (the rewrites before glslang, the guards against its crashes, the scans
// of the profile check) reads it as these tokens.
//
// A token is a span of the text (offset and length), so a pass can blank or
// replace it in place and every line stays where it was; and a place in the
// user's files (file, line, column), which follows the #line directives the
// preprocessor writes, so a token of an included file is placed in that file.
// Comments and whitespace are skipped; a directive line (#line, #pragma, or
// any line of unpreprocessed text that starts with '#') is one token.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline bool IsIdentifierStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool IsIdentifierChar(char c) {
    return IsIdentifierStart(c) || (c >= '0' && c <= '9');
}

enum class TokenKind : unsigned char {
    Identifier, // keywords too: the passes tell them apart by spelling
    Number,     // 1, 1.0f, 1.5h, 2u, 4lu, 0x1F, 1e-3, .5, 5.
    String,     // with its quotes; \" does not end it, a newline does
    Punctuator, // every operator, longest first (<<=, <<, <=, <); any other character
    Directive,  // a whole '#' line, without its newline
    End,        // the end of the text: what a read past the last token gives
};

struct Token {
    TokenKind kind = TokenKind::Punctuator;
    size_t offset  = 0; // into the text lexed
    size_t length  = 0;
    int line       = 1; // 1-based, as the #line directives before it number the lines
    int column     = 1; // 1-based, in bytes from the start of its line
    int file       = 0; // index into LexedHlsl::files

    size_t end() const { return offset + length; }
};

// The tokens of a text. A read past the last token gives the end token (of
// kind End, empty, at the text's end), never memory past the vector: a pass
// that follows a bracket that never closes, or looks one token ahead of the
// last, reads the end of the file, which matches nothing.
struct Tokens : std::vector<Token> {
    Token endToken{TokenKind::End};

    const Token &operator[](size_t i) const { return i < size() ? data()[i] : endToken; }
    Token &operator[](size_t i) { return i < size() ? data()[i] : endToken; }
    // Another list of the same text's tokens: its end is the same place.
    Tokens Empty() const {
        Tokens other;
        other.endToken = endToken;
        return other;
    }
};

// One edit as it was made to the text: where it stood, how much it replaced
// (0: an insertion), how long the text it put there is, and how far the
// edits before it in its batch had moved the text.
struct TextMove {
    size_t offset, length, size;
    long long before;
};

struct LexedHlsl {
    Tokens tokens;
    // files[0] is the name the text was lexed as; each name a '#line N "name"'
    // gives is added once.
    std::vector<std::string> files;
    // Every batch of edits made since the text was first lexed, each in text
    // order: what finds a place of an earlier text in today's (MovedSpan).
    std::vector<std::vector<TextMove>> moves;
};

LexedHlsl LexHlsl(std::string_view text, const std::string &fileName = std::string());
// Lexes text, which a pass changed in place, again: its moves stay.
void Relex(std::string_view text, LexedHlsl &lexed);

// Where text [begin, end), as it stood after the first `since` batches of
// lexed's moves, stands now; false where an edit since then replaced a part
// of it together with text outside it. Insertions at its ends stand outside
// it; a replacement of all of it, or within it, leaves it where that text is.
bool MovedSpan(const LexedHlsl &lexed, size_t since, size_t &begin, size_t &end);

// The tokens without the directive lines (#line, #pragma), ending where the
// text ends.
Tokens CodeTokens(const Tokens &tokens);

inline std::string_view Spelling(std::string_view text, const Token &t) {
    return text.substr(t.offset, t.length);
}

// Whether the token is spelled so (an identifier, number or operator).
inline bool Is(std::string_view text, const Token &t, std::string_view spelling) {
    return t.length == spelling.size() && text.compare(t.offset, t.length, spelling) == 0;
}

// The one-character punctuator the token is, '\0' for any other token.
inline char MarkOf(std::string_view text, const Token &t) {
    return t.kind == TokenKind::Punctuator && t.length == 1 ? text[t.offset] : '\0';
}

// The index of the token that closes the bracket ('(', '[' or '{') opened
// at tokens[open], counting every kind of bracket; tokens.size() when none
// does.
size_t ClosingBracket(std::string_view text, const Tokens &tokens, size_t open);

// The arguments of the call whose '(' is tokens[open], as token ranges
// [first, end), split at its top-level commas.
std::vector<std::pair<size_t, size_t>> CallArguments(std::string_view text, const Tokens &tokens,
                                                     size_t open);

// A replacement of text[offset, offset + length) by a text pass; with
// length 0, an insertion at offset.
struct TextEdit {
    size_t offset, length;
    std::string text;
    // Among insertions at one offset, lower ranks stand further left; at one
    // rank, the one added later stands further left.
    long long rank = 0;
};

// The one way a text pass changes the text: it gathers its edits, each
// placed in the text as it was, and applies them all at once.
//
// At one offset, the insertions go before a replacement that starts there
// and after one that ends there. Edits that truly overlap are refused: two
// replacements that share a character, or an insertion strictly inside a
// replacement. A refused edit is not kept, so the others still apply to
// the text they were placed in.
class Edits {
  public:
    // False where the edit overlaps one already held.
    bool Add(size_t offset, size_t length, std::string text, long long rank = 0);
    bool push_back(const TextEdit &e) { return Add(e.offset, e.length, e.text, e.rank); }
    // Puts opener before text[begin, end) and closer after it. Wraps nest:
    // at one offset an outer wrap's opener stands left of an inner one's,
    // its closer right of an inner one's, and closers left of openers. Of
    // two wraps of one span, the later is the outer.
    bool Wrap(size_t begin, size_t end, const std::string &opener, const std::string &closer);
    void Append(const Edits &more);

    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }
    std::vector<TextEdit>::const_iterator begin() const { return items_.begin(); }
    std::vector<TextEdit>::const_iterator end() const { return items_.end(); }

    // The text with every edit made.
    std::string AppliedTo(std::string_view text) const;
    // Makes them in text and lexes it again; the edits are spent.
    void Apply(std::string &text, LexedHlsl &lexed);

  private:
    std::vector<TextEdit> items_;
    std::map<size_t, size_t> replaced_; // offset to end of each replacement
    std::multiset<size_t> inserted_;    // offsets of the insertions
};

// The name of something a text pass writes into the text (a helper
// function, a temporary, a renamed overload): one prefix for every pass, so
// that each can tell them from the user's names.
constexpr std::string_view kGeneratedPrefix = "hf_";
inline std::string GeneratedName(std::string_view what) {
    return std::string(kGeneratedPrefix) + std::string(what);
}

// The name a struct's inherited member takes where a later member of the
// struct has its name: the struct's name and the member's place among its
// members, base members first, so that a pass that reads the struct from
// the model names it as the text does.
inline std::string ShadowedMemberName(std::string_view structName, size_t index) {
    return GeneratedName("shadowed_" + std::string(structName) + "_" + std::to_string(index));
}

// Whether the token is the one-character punctuator c ('<', not "<<" or "<=").
inline bool IsMark(std::string_view text, const Token &t, char c) {
    return t.kind == TokenKind::Punctuator && t.length == 1 && text[t.offset] == c;
}
