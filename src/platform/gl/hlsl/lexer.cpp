// The HLSL lexer (lexer.h): one pass over the text, tokens as glslang's HLSL
// scanner splits them.
#include "platform/gl/hlsl/lexer.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The length of the operator at `at`, longest first: <<= before << before <.
size_t OperatorLength(std::string_view text, size_t at) {
    const char c    = text[at];
    const char next = at + 1 < text.size() ? text[at + 1] : '\0';
    switch (c) {
    case '<':
    case '>':
        if (next == c) return at + 2 < text.size() && text[at + 2] == '=' ? 3 : 2; // <<= <<
        return next == '=' ? 2 : 1;                                                // <=
    case ':':
        return next == ':' ? 2 : 1;
    case '+':
    case '&':
    case '|':
        return next == c || next == '=' ? 2 : 1; // ++ += && &= || |=
    case '-':
        return next == '-' || next == '=' || next == '>' ? 2 : 1; // -- -= ->
    case '=':
    case '!':
    case '*':
    case '/':
    case '%':
    case '^':
        return next == '=' ? 2 : 1;
    default:
        return 1;
    }
}

// The end of the number starting at `at`: a hexadecimal one with its u/l
// suffixes, or a decimal one with its fraction, exponent and u/l/f/h
// suffixes. What follows a number without a space (1.0x) is a token of its
// own, as glslang reads it.
size_t NumberEnd(std::string_view text, size_t at) {
    const size_t size = text.size();
    auto peek         = [&](size_t i) { return i < size ? text[i] : '\0'; };
    const char *suffixes;
    if (text[at] == '0' && (peek(at + 1) == 'x' || peek(at + 1) == 'X')) {
        at += 2;
        while (IsHexDigit(peek(at)))
            ++at;
        suffixes = "uUlL";
    } else {
        while (IsDigit(peek(at)))
            ++at;
        if (peek(at) == '.') ++at;
        while (IsDigit(peek(at)))
            ++at;
        if (peek(at) == 'e' || peek(at) == 'E') {
            size_t exponent = at + 1;
            if (peek(exponent) == '+' || peek(exponent) == '-') ++exponent;
            if (IsDigit(peek(exponent))) {
                at = exponent;
                while (IsDigit(peek(at)))
                    ++at;
            }
        }
        suffixes = "uUlLfFhH";
    }
    while (at < size && text[at] != '\0' && std::strchr(suffixes, text[at]))
        ++at;
    return at;
}

// The end of the string opening at `at`: past its closing quote, or at the
// end of the line when none closes it.
size_t StringEnd(std::string_view text, size_t at) {
    const size_t size = text.size();
    for (++at; at < size && text[at] != '"' && text[at] != '\n'; ++at)
        if (text[at] == '\\' && at + 1 < size && text[at + 1] != '\n') ++at;
    return at < size && text[at] == '"' ? at + 1 : at;
}

// The end of the directive line starting at `at`, before its newline; a
// backslash before the newline continues it.
size_t DirectiveEnd(std::string_view text, size_t at) {
    for (;;) {
        const size_t newline = text.find('\n', at);
        if (newline == std::string_view::npos) return text.size();
        size_t last = newline;
        while (last > at && text[last - 1] == '\r')
            --last;
        if (last == at || text[last - 1] != '\\') return newline;
        at = newline + 1;
    }
}

// For '#line N' and '#line N "name"': the number of the next line and, if
// given, the file's name. False for other directives.
bool ReadLineDirective(std::string_view directive, int &next, std::string_view &name) {
    size_t at = 1;
    while (at < directive.size() && IsBlank(directive[at]))
        ++at;
    if (directive.compare(at, 4, "line") != 0) return false;
    at += 4;
    if (at >= directive.size() || !IsBlank(directive[at])) return false;
    while (at < directive.size() && IsBlank(directive[at]))
        ++at;
    if (at >= directive.size() || !IsDigit(directive[at])) return false;
    long number = 0;
    for (; at < directive.size() && IsDigit(directive[at]); ++at)
        if (number < 1000000000) number = number * 10 + (directive[at] - '0');
    next = static_cast<int>(number);
    while (at < directive.size() && IsBlank(directive[at]))
        ++at;
    name = std::string_view();
    if (at < directive.size() && directive[at] == '"') {
        const size_t close = directive.find('"', at + 1);
        if (close != std::string_view::npos) name = directive.substr(at + 1, close - at - 1);
    }
    return true;
}

} // namespace

LexedHlsl LexHlsl(std::string_view text, const std::string &fileName) {
    LexedHlsl lexed;
    lexed.files.push_back(fileName);
    lexed.tokens.reserve(text.size() / 4);
    const size_t size = text.size();
    int line          = 1;    // of the place `at`
    int file          = 0;    // index into lexed.files
    size_t lineStart  = 0;    // offset of the line's first character
    bool firstOnLine  = true; // no token yet on this line: a '#' starts a directive
    // Counts the newlines of a span that a token or comment crosses.
    auto crossLines = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (text[i] == '\n') {
                ++line;
                lineStart   = i + 1;
                firstOnLine = true;
            }
    };
    for (size_t at = 0; at < size;) {
        const char c    = text[at];
        const char next = at + 1 < size ? text[at + 1] : '\0';
        if (c == '\n') {
            ++line;
            lineStart   = ++at;
            firstOnLine = true;
            continue;
        }
        if (IsBlank(c)) {
            ++at;
            continue;
        }
        if (c == '/' && next == '/') {
            at = text.find('\n', at);
            if (at == std::string_view::npos) at = size;
            continue;
        }
        if (c == '/' && next == '*') {
            const size_t close = text.find("*/", at + 2);
            const size_t end   = close == std::string_view::npos ? size : close + 2;
            crossLines(at, end);
            at = end;
            continue;
        }
        Token t;
        t.offset = at;
        t.line   = line;
        t.column = static_cast<int>(at - lineStart) + 1;
        t.file   = file;
        size_t end;
        if (c == '#' && firstOnLine) {
            t.kind = TokenKind::Directive;
            end    = DirectiveEnd(text, at);
        } else if (IsIdentifierStart(c)) {
            t.kind = TokenKind::Identifier;
            for (end = at + 1; end < size && IsIdentifierChar(text[end]); ++end) {
            }
        } else if (IsDigit(c) || (c == '.' && IsDigit(next))) {
            t.kind = TokenKind::Number;
            end    = NumberEnd(text, at);
        } else if (c == '"') {
            t.kind = TokenKind::String;
            end    = StringEnd(text, at);
        } else {
            t.kind = TokenKind::Punctuator;
            end    = at + OperatorLength(text, at);
        }
        t.length = end - at;
        lexed.tokens.push_back(t);
        firstOnLine = false;
        if (t.kind == TokenKind::Directive) {
            crossLines(at, end); // continued lines
            int number = 0;
            std::string_view name;
            if (ReadLineDirective(Spelling(text, t), number, name)) {
                line = number - 1; // the newline that ends the directive counts one
                if (!name.empty()) {
                    const auto known = std::find(lexed.files.begin(), lexed.files.end(), name);
                    file             = static_cast<int>(known - lexed.files.begin());
                    if (known == lexed.files.end()) lexed.files.emplace_back(name);
                }
            }
        }
        at = end;
    }
    lexed.tokens.endToken.offset = size;
    lexed.tokens.endToken.line   = line;
    lexed.tokens.endToken.column = static_cast<int>(size - lineStart) + 1;
    lexed.tokens.endToken.file   = file;
    return lexed;
}

Tokens CodeTokens(const Tokens &tokens) {
    Tokens code = tokens.Empty();
    code.reserve(tokens.size());
    for (const Token &t : tokens)
        if (t.kind != TokenKind::Directive) code.push_back(t);
    return code;
}

size_t ClosingBracket(std::string_view text, const Tokens &tokens, size_t open) {
    int depth = 0;
    for (size_t i = open; i < tokens.size(); ++i) {
        const char c = MarkOf(text, tokens[i]);
        if (c == '(' || c == '[' || c == '{') ++depth;
        if ((c == ')' || c == ']' || c == '}') && --depth == 0) return i;
    }
    return tokens.size();
}

std::vector<std::pair<size_t, size_t>> CallArguments(std::string_view text, const Tokens &tokens,
                                                     size_t open) {
    std::vector<std::pair<size_t, size_t>> arguments;
    const size_t close = ClosingBracket(text, tokens, open);
    size_t first       = open + 1;
    int depth          = 0;
    for (size_t j = open + 1; j <= close && j < tokens.size(); ++j) {
        const char c = MarkOf(text, tokens[j]);
        if (c == '(' || c == '[' || c == '{') ++depth;
        if ((c == ')' || c == ']' || c == '}') && j != close) --depth;
        if ((c == ',' && depth == 0) || j == close) {
            if (j > first) arguments.emplace_back(first, j);
            first = j + 1;
        }
    }
    return arguments;
}

bool Edits::Add(size_t offset, size_t length, std::string text, long long rank) {
    const size_t end = offset + length;
    // The replacement nearest before, or at, offset, and the first after it.
    auto after = replaced_.upper_bound(offset);
    if (after != replaced_.begin() && std::prev(after)->second > offset &&
        (length > 0 || std::prev(after)->first < offset))
        return false;
    if (length > 0) {
        if (after != replaced_.end() && after->first < end) return false;
        const auto inside = inserted_.upper_bound(offset);
        if (inside != inserted_.end() && *inside < end) return false;
        replaced_.emplace(offset, end);
    } else {
        inserted_.insert(offset);
    }
    items_.push_back({offset, length, std::move(text), rank});
    return true;
}

bool Edits::Wrap(size_t begin, size_t end, const std::string &opener, const std::string &closer) {
    // Longer spans are outer ones, and so is the later of two wraps of one
    // span; every closer ranks below every opener.
    const long long span  = static_cast<long long>(std::min<size_t>(end - begin, 1u << 30));
    const long long order = static_cast<long long>(items_.size());
    const long long outer = (span << 24) + order;
    return Add(begin, 0, opener, (1LL << 56) - outer) && Add(end, 0, closer, -(1LL << 56) + outer);
}

void Edits::Append(const Edits &more) {
    for (const TextEdit &e : more)
        push_back(e);
}

std::string Edits::AppliedTo(std::string_view text) const {
    // Front to back: by offset; at one offset insertions by rank, later ones
    // first at one rank, then the replacement.
    std::vector<size_t> order(items_.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const TextEdit &x = items_[a], &y = items_[b];
        if (x.offset != y.offset) return x.offset < y.offset;
        if ((x.length > 0) != (y.length > 0)) return y.length > 0;
        if (x.rank != y.rank) return x.rank < y.rank;
        return a > b;
    });
    std::string out;
    out.reserve(text.size() + 16 * items_.size());
    size_t at = 0;
    for (size_t i : order) {
        const TextEdit &e = items_[i];
        const size_t from = std::min(e.offset, text.size());
        if (from > at) out.append(text.substr(at, from - at));
        at = std::max(at, from);
        out += e.text;
        at = std::max(at, std::min(from + e.length, text.size()));
    }
    out.append(text.substr(std::min(at, text.size())));
    return out;
}

void Edits::Apply(std::string &text, LexedHlsl &lexed) {
    if (items_.empty()) return;
    text = AppliedTo(text);
    std::vector<TextMove> batch;
    for (const TextEdit &e : items_)
        batch.push_back({e.offset, e.length, e.text.size(), 0});
    // At one offset the insertions stand before a replacement.
    std::sort(batch.begin(), batch.end(), [](const TextMove &a, const TextMove &b) {
        return a.offset != b.offset ? a.offset < b.offset : a.length < b.length;
    });
    long long moved = 0;
    for (TextMove &m : batch) {
        m.before = moved;
        moved += static_cast<long long>(m.size) - static_cast<long long>(m.length);
    }
    *this = Edits();
    Relex(text, lexed);
    lexed.moves.push_back(std::move(batch));
}

void Relex(std::string_view text, LexedHlsl &lexed) {
    LexedHlsl again = LexHlsl(text, lexed.files[0]);
    again.moves     = std::move(lexed.moves);
    lexed           = std::move(again);
}

namespace {

// How far the edits of a batch move a place: at a start, the insertions
// there count (they stand before it); at an end, they do not. False where a
// replacement starts before the place and ends after it.
bool Moved(const std::vector<TextMove> &batch, size_t &at, bool start) {
    auto past       = std::lower_bound(batch.begin(), batch.end(), at,
                                       [](const TextMove &m, size_t x) { return m.offset < x; });
    long long delta = 0;
    if (past != batch.begin()) {
        const TextMove &last = *(past - 1);
        if (last.length > 0 && last.offset + last.length > at) return false;
        delta =
            last.before + static_cast<long long>(last.size) - static_cast<long long>(last.length);
    }
    if (start)
        for (; past != batch.end() && past->offset == at && past->length == 0; ++past)
            delta += static_cast<long long>(past->size);
    at = static_cast<size_t>(static_cast<long long>(at) + delta);
    return true;
}

} // namespace

bool MovedSpan(const LexedHlsl &lexed, size_t since, size_t &begin, size_t &end) {
    for (size_t b = since; b < lexed.moves.size(); ++b)
        if (!Moved(lexed.moves[b], begin, true) || !Moved(lexed.moves[b], end, false)) return false;
    return true;
}
