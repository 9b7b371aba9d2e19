#include "platform/gl/hlsl/register_reservations.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace {

// A register's index in brackets, "c0[1 + 1 * 2 * 0]": numbers and
// booleans under + - * / and parentheses, worked out in floating point and
// truncated, as the Windows compiler does (register-reservations-numeric).
struct Expression {
    std::string_view text;
    const Tokens &tokens;
    size_t at, end;
    bool ok = true;
};

double Sum(Expression &e);

double Primary(Expression &e) {
    if (e.at >= e.end) return e.ok = false;
    const Token &t = e.tokens[e.at++];
    if (IsMark(e.text, t, '-')) return -Primary(e);
    if (IsMark(e.text, t, '+')) return Primary(e);
    if (IsMark(e.text, t, '(')) {
        const double value = Sum(e);
        if (e.at >= e.end || !IsMark(e.text, e.tokens[e.at++], ')')) e.ok = false;
        return value;
    }
    if (Is(e.text, t, "true") || Is(e.text, t, "false")) return Is(e.text, t, "true");
    if (t.kind != TokenKind::Number) return e.ok = false;
    return std::strtod(std::string(Spelling(e.text, t)).c_str(), nullptr);
}

double Product(Expression &e) {
    double value = Primary(e);
    while (e.ok && e.at < e.end &&
           (IsMark(e.text, e.tokens[e.at], '*') || IsMark(e.text, e.tokens[e.at], '/'))) {
        const bool times    = IsMark(e.text, e.tokens[e.at++], '*');
        const double factor = Primary(e);
        value               = times ? value * factor : value / factor;
    }
    return value;
}

double Sum(Expression &e) {
    double value = Product(e);
    while (e.ok && e.at < e.end &&
           (IsMark(e.text, e.tokens[e.at], '+') || IsMark(e.text, e.tokens[e.at], '-'))) {
        const bool plus    = IsMark(e.text, e.tokens[e.at++], '+');
        const double other = Product(e);
        value              = plus ? value + other : value - other;
    }
    return value;
}

// A reservation's register without a profile: its type letter, its number
// (the digits after the letter, none being 0, plus a bracketed index) and
// whether letters follow the digits. ok is false for any other form.
struct Register {
    char letter   = '\0';
    long index    = 0;
    bool trailing = false;
    bool ok       = false;
};

Register ReadRegister(std::string_view text, const Tokens &tokens, size_t first, size_t close) {
    Register r;
    if (first >= close || tokens[first].kind != TokenKind::Identifier) return r;
    const std::string_view name = Spelling(text, tokens[first]);
    r.letter                    = static_cast<char>(std::tolower(name[0]));
    size_t digits               = 1;
    while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[digits])))
        ++digits;
    r.index    = digits > 1 ? std::atol(std::string(name.substr(1, digits - 1)).c_str()) : 0;
    r.trailing = digits < name.size();
    r.ok       = first + 1 == close;
    if (first + 1 < close && IsMark(text, tokens[first + 1], '[')) {
        const size_t end = ClosingBracket(text, tokens, first + 1);
        Expression e{text, tokens, first + 2, end};
        const double value = Sum(e);
        r.ok               = e.ok && e.at == end && end + 1 == close && std::isfinite(value);
        if (r.ok) r.index += static_cast<long>(std::trunc(value));
    }
    return r;
}

bool StartsAny(std::string_view name, std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view p) { return name.substr(0, p.size()) == p; });
}

// Whether a global declaration names a texture, sampler or buffer object,
// whose registers are not constant-buffer ones.
bool DeclaresObject(std::string_view text, const Tokens &tokens, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (tokens[i].kind == TokenKind::Identifier &&
            StartsAny(Spelling(text, tokens[i]),
                      {"Texture", "texture", "RWTexture", "Buffer", "RWBuffer", "sampler",
                       "Sampler", "StructuredBuffer", "RWStructuredBuffer", "ByteAddressBuffer",
                       "RWByteAddressBuffer", "AppendStructuredBuffer", "ConsumeStructuredBuffer"}))
            return true;
    return false;
}

bool IsBufferKeyword(std::string_view text, const Token &t) {
    return Is(text, t, "cbuffer") || Is(text, t, "tbuffer");
}

// The same span of blanks, its newlines kept, so every line stays.
std::string Blanks(std::string_view text, size_t from, size_t to) {
    std::string blank(text.substr(from, to - from));
    for (char &c : blank)
        if (c != '\n') c = ' ';
    return blank;
}

enum class Body { None, Buffer, Function, Other };

} // namespace

// A global const without static and without a value is a uniform, in
// $Globals, as any global (const.shader_test); glslang makes it a constant
// 0 unless "const uniform" says otherwise, in that order.
void UniformConstant(std::string_view text, const Tokens &tokens, size_t first, size_t end,
                     Edits &edits) {
    size_t constant = end, uniform = end;
    for (size_t k = first; k < end; ++k) {
        if (Is(text, tokens[k], "static") || Is(text, tokens[k], "typedef") ||
            IsMark(text, tokens[k], '=') || IsMark(text, tokens[k], '(') ||
            IsBufferKeyword(text, tokens[k]))
            return;
        if (Is(text, tokens[k], "const") && constant == end) constant = k;
        if (Is(text, tokens[k], "uniform") && uniform == end) uniform = k;
    }
    if (constant == end || (uniform < end && uniform > constant)) return;
    if (uniform < end) edits.push_back({tokens[uniform].offset, tokens[uniform].length, "       "});
    edits.push_back({tokens[constant].end(), 0, " uniform"});
}

bool RewriteRegisterReservations(std::string &text, LexedHlsl &lexed, const char *fileName,
                                 Diagnostics &diagnostics) {
    const Tokens &tokens = lexed.tokens;
    Edits edits;
    bool ok   = true;
    int depth = 0, parens = 0;
    Body body        = Body::None; // of the top-level braces open
    size_t statement = 0;          // the first token of the top-level declaration
    auto error       = [&](const Token &t, const std::string &message) {
        const std::string &file = t.file < static_cast<int>(lexed.files.size())
                                            ? lexed.files[t.file]
                                            : std::string(fileName);
        diagnostics.Error(file, t.line, t.column, message);
        ok = false;
    };
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (IsMark(text, t, '{')) {
            if (depth++ == 0) {
                body = IsBufferKeyword(text, tokens[statement]) ? Body::Buffer
                       : std::any_of(tokens.begin() + statement, tokens.begin() + i,
                                     [&](const Token &x) { return IsMark(text, x, '('); })
                           ? Body::Function
                           : Body::Other;
            }
        } else if (IsMark(text, t, '}')) {
            if (depth > 0 && --depth == 0 && body != Body::Other) statement = i + 1;
        } else if (IsMark(text, t, ';') && depth == 0) {
            UniformConstant(text, tokens, statement, i, edits);
            statement = i + 1;
        } else if (depth == 0 && IsMark(text, t, '(')) {
            ++parens;
        } else if (depth == 0 && IsMark(text, t, ')')) {
            parens = std::max(parens - 1, 0);
        }
        if (!IsMark(text, t, ':') || i + 1 >= tokens.size()) continue;
        const bool global = depth == 0 && parens == 0;
        if (global && Is(text, tokens[i + 1], "packoffset") &&
            !IsBufferKeyword(text, tokens[statement])) {
            const std::string name = i > 0 && tokens[i - 1].kind == TokenKind::Identifier
                                         ? "'" + std::string(Spelling(text, tokens[i - 1])) + "': "
                                         : std::string();
            error(tokens[i + 1], name + "packoffset is only allowed in a constant buffer");
            continue;
        }
        if (!Is(text, tokens[i + 1], "register") || i + 2 >= tokens.size() ||
            !IsMark(text, tokens[i + 2], '('))
            continue;
        const size_t close = ClosingBracket(text, tokens, i + 2);
        if (close >= tokens.size()) continue;
        const size_t first  = i + 3;
        const bool profiled = std::any_of(tokens.begin() + first, tokens.begin() + close,
                                          [&](const Token &x) { return IsMark(text, x, ','); });
        const Register reg  = ReadRegister(text, tokens, first, close);
        const TextEdit drop{t.offset, tokens[close].end() - t.offset,
                            Blanks(text, t.offset, tokens[close].end())};
        // Only $Globals has c registers: elsewhere the 4_0 profiles ignore
        // them (register-reservations-numeric.shader_test).
        const bool outsideGlobals =
            (depth > 0 && body == Body::Buffer) || (depth == 0 && parens > 0);
        if (outsideGlobals) {
            if (!profiled && reg.letter == 'c') edits.push_back(drop);
            continue;
        }
        if (!global) continue;
        if (IsBufferKeyword(text, tokens[statement])) {
            if (!profiled && reg.letter == 'b' && reg.trailing)
                error(tokens[first], "'register': letters after the number of a b register");
            continue;
        }
        if (DeclaresObject(text, tokens, statement, i)) continue;
        if (profiled) {
            // A profile with an index is read but its register ignored
            // (register-reservations-profile.shader_test).
            if (first + 1 < close && IsMark(text, tokens[first + 1], '[')) edits.push_back(drop);
            continue;
        }
        if (!reg.ok) continue;
        if (reg.letter == 'b' || reg.letter == 'i') {
            // The 4_0 profiles keep numeric globals in $Globals only, and
            // take anything after b there (register(banana)).
            edits.push_back(drop);
        } else if (reg.letter == 'c' && reg.index >= 0) {
            const std::string canonical = ": register(c" + std::to_string(reg.index) + ")";
            TextEdit edit               = drop;
            if (canonical.size() <= edit.text.size())
                edit.text.replace(0, canonical.size(), canonical);
            else
                edit.text = canonical;
            edits.push_back(edit);
        }
    }
    if (!edits.empty()) {
        edits.Apply(text, lexed);
    }
    return ok;
}

namespace {

// The register a register(...) names, lower case, without a profile before
// it ("ps_4_0, t3") or a space after it ("b0, space1").
std::string RegisterOf(const std::string &written) {
    std::string reg;
    size_t from = 0;
    while (from <= written.size()) {
        const size_t comma = std::min(written.find(',', from), written.size());
        std::string part;
        for (size_t k = from; k < comma; ++k)
            if (written[k] != ' ' && written[k] != '\t')
                part += static_cast<char>(std::tolower(static_cast<unsigned char>(written[k])));
        if (!part.empty() && part.compare(0, 5, "space") != 0) reg = part;
        from = comma + 1;
    }
    return reg;
}

} // namespace

bool CheckSharedRegisters(const HlslModel &model, const std::string &entryPoint,
                          Diagnostics &diagnostics) {
    const HlslReach reach = ReachOf(model, entryPoint);
    // The register each read object names, and the first that named it.
    std::map<std::string, int> taken;
    bool ok = true;
    for (const std::vector<int> *read : {&reach.buffers, &reach.textures, &reach.samplers})
        for (int index : *read) {
            const HlslSymbol &symbol = model.symbols[index];
            const std::string reg    = RegisterOf(symbol.registerName);
            if (reg.size() < 2) continue;
            if (taken.emplace(reg, index).second) continue;
            diagnostics.Error(model.files[symbol.pos.file], symbol.pos.line, symbol.pos.column,
                              "overlapping register semantics not yet implemented '" + reg + "'");
            ok = false;
        }
    return ok;
}
