// Direct3D 9 samplers read as their textures (legacy_samplers.h).
#include "platform/gl/hlsl/legacy_samplers.h"

#include "platform/gl/hlsl/untyped_textures.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace {

std::string Lower(std::string_view word) {
    std::string lower(word);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool IsLegacySampler(std::string_view word) {
    const std::string lower = Lower(word);
    return lower == "sampler" || lower == "sampler1d" || lower == "sampler2d" ||
           lower == "sampler3d" || lower == "samplercube";
}

bool IsLegacyRead(std::string_view word) {
    return word == "tex1D" || word == "tex2D" || word == "tex3D" || word == "texCUBE";
}

// The texture a sampler_state block ("{ Texture = <t>; ... }", or
// "= (t)", "= t") names; empty where none.
std::string StateTexture(const std::string &text, const Tokens &tokens, size_t open, size_t close) {
    for (size_t j = open + 1; j + 2 < close; ++j) {
        if (Lower(Spelling(text, tokens[j])) != "texture" || !IsMark(text, tokens[j + 1], '='))
            continue;
        const size_t name =
            IsMark(text, tokens[j + 2], '<') || IsMark(text, tokens[j + 2], '(') ? j + 3 : j + 2;
        if (name < close && tokens[name].kind == TokenKind::Identifier)
            return std::string(Spelling(text, tokens[name]));
    }
    return std::string();
}

} // namespace

void RewriteLegacySamplers(std::string &text, LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    struct Sampler {
        size_t type;
        std::string texture;
        bool readOnly = true; // every use a tex*D(s, coordinates) read
    };
    std::map<std::string, Sampler, std::less<>> samplers;
    for (size_t i = 0; i + 4 < tokens.size(); ++i) {
        if (!IsLegacySampler(Spelling(text, tokens[i])) ||
            tokens[i + 1].kind != TokenKind::Identifier || !IsMark(text, tokens[i + 2], '=') ||
            !Is(text, tokens[i + 3], "sampler_state") || !IsMark(text, tokens[i + 4], '{'))
            continue;
        const size_t close        = ClosingBracket(text, tokens, i + 4);
        const std::string texture = StateTexture(text, tokens, i + 4, close);
        if (!texture.empty())
            samplers[std::string(Spelling(text, tokens[i + 1]))] = Sampler{i + 1, texture};
    }
    if (samplers.empty()) return;
    // A read: tex2D ( s , coordinates ).
    auto isRead = [&](size_t i) {
        return i >= 2 && IsMark(text, tokens[i - 1], '(') &&
               IsLegacyRead(Spelling(text, tokens[i - 2])) &&
               (i < 3 || !IsMark(text, tokens[i - 3], '.')) &&
               CallArguments(text, tokens, i - 1).size() == 2;
    };
    std::vector<size_t> reads;
    for (size_t i = 0; i < tokens.size(); ++i) {
        auto found = samplers.find(Spelling(text, tokens[i]));
        if (tokens[i].kind != TokenKind::Identifier || found == samplers.end() ||
            found->second.type == i)
            continue;
        if (isRead(i))
            reads.push_back(i);
        else
            found->second.readOnly = false;
    }
    // The untyped textures, by name: the read gives one its dimension
    // (tex2D reads a Texture2D), as on Windows, where the sampler's read
    // decides it.
    std::map<std::string_view, size_t> untyped;
    for (size_t i = 0; i + 1 < tokens.size(); ++i)
        if (DeclaresUntypedTexture(text, tokens, i)) untyped[Spelling(text, tokens[i + 1])] = i;
    Edits edits;
    for (size_t i : reads) {
        const Sampler &sampler = samplers.find(Spelling(text, tokens[i]))->second;
        if (!sampler.readOnly) continue;
        edits.push_back({tokens[i - 2].offset, tokens[i - 2].length, sampler.texture + ".Sample"});
        auto declared = untyped.find(sampler.texture);
        if (declared == untyped.end()) continue;
        const std::string_view read = Spelling(text, tokens[i - 2]);
        const Token &type           = tokens[declared->second];
        edits.push_back(
            {type.offset, type.length,
             read == "texCUBE" ? "TextureCube" : "Texture" + std::string(read.substr(3))});
        untyped.erase(declared);
    }
    for (const auto &[name, sampler] : samplers)
        if (sampler.readOnly)
            edits.push_back(
                {tokens[sampler.type - 1].offset, tokens[sampler.type - 1].length, "SamplerState"});
    if (edits.empty()) return;
    edits.Apply(text, lexed);
}
