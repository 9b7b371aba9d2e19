// Texture objects as the Windows compiler reads them (object_forms.h).
#include "platform/gl/hlsl/object_forms.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

struct TextureKind {
    const char *name;
    const char *spelling; // what glslang reads, where the name is a Direct3D 9 one
    int coordinates;      // of a Load's location, without the mip level; 0: no mips
    bool multisampled;
    int sizes; // what GetDimensions writes, without the mip level's form
};

const TextureKind kTextures[] = {
    {"Buffer", "Buffer", 0, false, 1},
    {"Texture1D", "Texture1D", 1, false, 1},
    {"Texture1DArray", "Texture1DArray", 2, false, 2},
    {"Texture2D", "Texture2D", 2, false, 2},
    {"Texture2DArray", "Texture2DArray", 3, false, 3},
    {"Texture3D", "Texture3D", 3, false, 3},
    {"TextureCube", "TextureCube", 0, false, 2},
    {"TextureCubeArray", "TextureCubeArray", 0, false, 3},
    {"Texture2DMS", "Texture2DMS", 2, true, 3},
    {"Texture2DMSArray", "Texture2DMSArray", 3, true, 4},
    {"texture1D", "Texture1D", 1, false, 1},
    {"texture2D", "Texture2D", 2, false, 2},
    {"texture3D", "Texture3D", 3, false, 3},
    {"textureCUBE", "TextureCube", 0, false, 2},
};

const TextureKind *KindOf(const std::string &text, const Token &t) {
    if (t.kind != TokenKind::Identifier) return nullptr;
    for (const TextureKind &kind : kTextures)
        if (Is(text, t, kind.name)) return &kind;
    return nullptr;
}

// The token after the template arguments that start at tokens[open] ('<'),
// and the top-level comma before the sample count (0 where there is none).
size_t TemplateEnd(const std::string &text, const Tokens &tokens, size_t open, size_t &comma) {
    comma      = 0;
    int angles = 0, parentheses = 0;
    for (size_t i = open; i < tokens.size(); ++i) {
        const std::string_view s = Spelling(text, tokens[i]);
        if (s == "(") ++parentheses;
        if (s == ")") --parentheses;
        if (parentheses > 0) continue;
        if (s == "<") ++angles;
        if (s == ">") --angles;
        if (s == ">>") angles -= 2;
        if (s == "," && angles == 1) comma = i;
        if (s == ";" || s == "{" || s == "}") return open + 1; // not a template
        if (angles <= 0) return i + 1;
    }
    return tokens.size();
}

// The names each texture type declares, variables, parameters and members
// alike: `Texture2D a, b[2] : register(t1), c;`.
std::map<std::string, const TextureKind *> DeclaredTextures(const std::string &text,
                                                            const Tokens &tokens) {
    std::map<std::string, const TextureKind *> names;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const TextureKind *kind = KindOf(text, tokens[i]);
        if (!kind) continue;
        size_t at = i + 1, comma = 0;
        if (at < tokens.size() && IsMark(text, tokens[at], '<'))
            at = TemplateEnd(text, tokens, at, comma);
        while (at < tokens.size() && tokens[at].kind == TokenKind::Identifier) {
            names[std::string(Spelling(text, tokens[at]))] = kind;
            // More declarators of the one declaration follow a comma; a
            // parameter list's next parameter starts with its type.
            while (++at < tokens.size()) {
                const char c = MarkOf(text, tokens[at]);
                if (c == '[' || c == '(') at = ClosingBracket(text, tokens, at);
                if (c == ',' || c == ';' || c == ')' || c == '{' || c == '=') break;
            }
            if (at + 2 >= tokens.size() || !IsMark(text, tokens[at], ',') ||
                tokens[at + 2].kind == TokenKind::Identifier)
                break;
            ++at;
        }
    }
    return names;
}

std::string Between(const std::string &text, const Tokens &tokens, size_t open, size_t close) {
    if (close <= open + 1) return std::string();
    return text.substr(tokens[open + 1].offset, tokens[close - 1].end() - tokens[open + 1].offset);
}

// The texture the member access at tokens[dot] ('.') is made on: the name
// before it, past any indexing of an array of textures.
const TextureKind *ObjectBefore(const std::string &text, const Tokens &tokens, size_t dot,
                                const std::map<std::string, const TextureKind *> &textures) {
    size_t at = dot;
    while (at > 0 && IsMark(text, tokens[at - 1], ']')) {
        size_t open = at - 1, depth = 0;
        for (; open > 0; --open) {
            const char c = MarkOf(text, tokens[open]);
            if (c == ']') ++depth;
            if (c == '[' && --depth == 0) break;
        }
        at = open;
    }
    if (at == 0 || tokens[at - 1].kind != TokenKind::Identifier) return nullptr;
    const auto found = textures.find(std::string(Spelling(text, tokens[at - 1])));
    return found == textures.end() ? nullptr : found->second;
}

// The first token of the object expression whose member access is at
// tokens[dot]: a name, indexed or a member of other names.
size_t ObjectStart(const std::string &text, const Tokens &tokens, size_t dot) {
    size_t at = dot;
    while (at > 0) {
        if (IsMark(text, tokens[at - 1], ']')) {
            size_t depth = 0;
            for (--at; at > 0; --at) {
                const char c = MarkOf(text, tokens[at]);
                if (c == ']') ++depth;
                if (c == '[' && --depth == 0) break;
            }
        } else if (tokens[at - 1].kind == TokenKind::Identifier) {
            --at;
            if (at == 0 || !IsMark(text, tokens[at - 1], '.')) return at;
            --at;
        } else {
            return at;
        }
    }
    return at;
}

// obj.GetDimensions(a, b) as a statement: glslang finds no single overload
// for outputs of mixed types (uint and float), which the Windows compiler
// takes (getdimensions.shader_test); every output goes through a uint of
// its own, the same sizes either way. A first argument beyond the type's
// sizes and level count is the mip level read.
// Returns the last token the edit replaces, name where there is none.
size_t SplitGetDimensions(const std::string &text, const Tokens &tokens, size_t name,
                          const TextureKind &kind, int &count, Edits &edits) {
    const size_t open = name + 1, close = ClosingBracket(text, tokens, open);
    const size_t start = ObjectStart(text, tokens, name - 1);
    if (close + 1 >= tokens.size() || !IsMark(text, tokens[close + 1], ';') || start == 0)
        return name;
    const char before = MarkOf(text, tokens[start - 1]);
    if (before != ';' && before != '{' && before != '}' && before != ')' &&
        !Is(text, tokens[start - 1], "else"))
        return name;
    const auto arguments = CallArguments(text, tokens, open);
    const size_t total   = arguments.size();
    const bool level     = !kind.multisampled && std::string_view(kind.name) != "Buffer" &&
                       total == static_cast<size_t>(kind.sizes) + 2;
    if (total != static_cast<size_t>(kind.sizes) && !level) return name;
    std::string declared, call, copies;
    for (size_t a = 0; a < total; ++a) {
        const auto [first, end] = arguments[a];
        if (end <= first) return name;
        const std::string argument =
            text.substr(tokens[first].offset, tokens[end - 1].end() - tokens[first].offset);
        if (a == 0 && level) {
            call += argument;
            continue;
        }
        const std::string temporary = GeneratedName("size" + std::to_string(count++));
        declared += (declared.empty() ? "uint " : ", ") + temporary;
        call += (call.empty() ? "" : ", ") + temporary;
        copies += " " + argument + " = " + temporary + ";";
    }
    const size_t from = tokens[start].offset, to = tokens[close + 1].end();
    const std::string object = text.substr(from, tokens[name].offset - from);
    std::string block =
        "{ " + declared + "; " + object + "GetDimensions(" + call + ");" + copies + " }";
    block.append(std::count(text.begin() + from, text.begin() + to, '\n'), '\n');
    edits.push_back({from, to - from, block});
    return close + 1;
}

} // namespace

void RewriteObjectForms(std::string &text, LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    std::map<std::string, const TextureKind *> textures;
    bool declared = false;
    int sizes     = 0;
    Edits edits;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (const TextureKind *kind = KindOf(text, t)) {
            if (!Is(text, t, kind->spelling)) edits.push_back({t.offset, t.length, kind->spelling});
            size_t comma = 0;
            if (!kind->multisampled || i + 1 >= tokens.size() || !IsMark(text, tokens[i + 1], '<'))
                continue;
            const size_t end = TemplateEnd(text, tokens, i + 1, comma);
            const bool literal =
                comma && comma + 3 == end && tokens[comma + 1].kind == TokenKind::Number;
            if (comma && !literal && end <= tokens.size())
                edits.push_back(
                    {tokens[comma].offset, tokens[end - 1].offset - tokens[comma].offset, ""});
            continue;
        }
        // "Texture2DMS<float4> t = NULL;": an object declared with the value
        // of no object, which is what it holds unbound (null.shader_test).
        if (Is(text, t, "NULL") && i > 1 && IsMark(text, tokens[i - 1], '=') &&
            i + 1 < tokens.size() &&
            (IsMark(text, tokens[i + 1], ';') || IsMark(text, tokens[i + 1], ','))) {
            size_t first = i - 1;
            while (first > 0 && !IsMark(text, tokens[first - 1], ';') &&
                   !IsMark(text, tokens[first - 1], '}') && !IsMark(text, tokens[first - 1], '{'))
                --first;
            while (first < i &&
                   (Is(text, tokens[first], "static") || Is(text, tokens[first], "uniform") ||
                    Is(text, tokens[first], "extern") || Is(text, tokens[first], "const")))
                ++first;
            const std::string_view type = Spelling(text, tokens[first]);
            bool object                 = false;
            for (std::string_view prefix : {"Texture", "RWTexture", "Buffer", "RWBuffer", "Sampler",
                                            "sampler", "StructuredBuffer", "ByteAddressBuffer",
                                            "RWStructuredBuffer", "RWByteAddressBuffer"})
                object = object || type.substr(0, prefix.size()) == prefix;
            if (object)
                edits.push_back({tokens[i - 1].offset, t.end() - tokens[i - 1].offset,
                                 std::string(t.end() - tokens[i - 1].offset, ' ')});
            continue;
        }
        // glslang refuses the whole file where a tex*lod or tex*bias call
        // samples what it declares a sampler without dimension; the plain
        // function keeps the call in place for the profile check, which
        // refuses every tex* call an entry point makes at shader model 4.
        if (t.kind == TokenKind::Identifier && i + 1 < tokens.size() &&
            IsMark(text, tokens[i + 1], '(')) {
            const std::string_view name = Spelling(text, t);
            for (std::string_view base : {"tex1D", "tex2D", "tex3D", "texCUBE"})
                for (std::string_view suffix : {"lod", "bias"})
                    if (name.size() == base.size() + suffix.size() &&
                        name.substr(0, base.size()) == base && name.substr(base.size()) == suffix)
                        edits.push_back({t.offset + t.length - suffix.size(), suffix.size(),
                                         std::string(suffix.size(), ' ')});
        }
        if (Is(text, t, "GetDimensions") && i > 1 && IsMark(text, tokens[i - 1], '.') &&
            i + 1 < tokens.size() && IsMark(text, tokens[i + 1], '(')) {
            if (!declared) textures = DeclaredTextures(text, tokens);
            declared = true;
            if (const TextureKind *kind = ObjectBefore(text, tokens, i - 1, textures))
                i = SplitGetDimensions(text, tokens, i, *kind, sizes, edits);
            continue;
        }
        // Buffer.Load takes a vector's first component as the Windows
        // compiler does (srv-buffers.shader_test); glslang has only int.
        if (Is(text, t, "Load") && i > 1 && IsMark(text, tokens[i - 1], '.') &&
            i + 1 < tokens.size() && IsMark(text, tokens[i + 1], '(')) {
            if (!declared) textures = DeclaredTextures(text, tokens);
            declared                = true;
            const TextureKind *kind = ObjectBefore(text, tokens, i - 1, textures);
            const auto arguments    = CallArguments(text, tokens, i + 1);
            if (kind && std::string_view(kind->name) == "Buffer" && arguments.size() == 1 &&
                arguments[0].second > arguments[0].first) {
                edits.push_back({tokens[arguments[0].first].offset, 0, "(int)("});
                edits.push_back({tokens[arguments[0].second - 1].end(), 0, ")"});
            }
            continue;
        }
        // t.mips[level][pos] and t.sample[index][pos].
        const bool mips = Is(text, t, "mips"), sample = Is(text, t, "sample");
        if ((!mips && !sample) || i == 0 || !IsMark(text, tokens[i - 1], '.') ||
            i + 1 >= tokens.size() || !IsMark(text, tokens[i + 1], '['))
            continue;
        const size_t first = i + 1, second = ClosingBracket(text, tokens, first) + 1;
        if (second >= tokens.size() || !IsMark(text, tokens[second], '[')) continue;
        const size_t last = ClosingBracket(text, tokens, second);
        if (last >= tokens.size()) continue;
        if (!declared) textures = DeclaredTextures(text, tokens);
        declared                = true;
        const TextureKind *kind = ObjectBefore(text, tokens, i - 1, textures);
        if (!kind || !kind->coordinates || kind->multisampled != sample) continue;
        const std::string index    = Between(text, tokens, first, second - 1);
        const std::string location = Between(text, tokens, second, last);
        const std::string load     = sample ? "Load(" + location + ", " + index + ")"
                                            : "Load(int" + std::to_string(kind->coordinates + 1) + "(" +
                                              location + ", " + index + "))";
        edits.push_back({t.offset, tokens[last].end() - t.offset, load});
        i = last;
    }
    if (edits.empty()) return;
    edits.Apply(text, lexed);
}
