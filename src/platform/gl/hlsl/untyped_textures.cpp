// The untyped texture (untyped_textures.h).
#include "platform/gl/hlsl/untyped_textures.h"

#include <cctype>
#include <set>

bool DeclaresUntypedTexture(const std::string &text, const Tokens &tokens, size_t i) {
    if (i + 1 >= tokens.size() || tokens[i].kind != TokenKind::Identifier ||
        tokens[i + 1].kind != TokenKind::Identifier)
        return false;
    const std::string_view word = Spelling(text, tokens[i]);
    if (word.size() != 7) return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(word[k])) != "texture"[k]) return false;
    return true;
}

bool CheckUntypedTextureReads(const std::string &text, const LexedHlsl &lexed,
                              Diagnostics &diagnostics) {
    const Tokens &tokens = lexed.tokens;
    std::set<std::string_view> untyped;
    int depth = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const char mark = MarkOf(text, tokens[i]);
        depth += (mark == '{') - (mark == '}');
        if (depth == 0 && DeclaresUntypedTexture(text, tokens, i))
            untyped.insert(Spelling(text, tokens[i + 1]));
    }
    if (untyped.empty()) return true;
    bool ok = true;
    for (size_t i = 0; i + 2 < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind != TokenKind::Identifier || !untyped.count(Spelling(text, t))) continue;
        const bool method = IsMark(text, tokens[i + 1], '.') &&
                            tokens[i + 2].kind == TokenKind::Identifier && i + 3 < tokens.size() &&
                            IsMark(text, tokens[i + 3], '(');
        const bool element = IsMark(text, tokens[i + 1], '[');
        if (!method && !element) continue;
        diagnostics.Error(lexed.files[t.file], t.line, t.column,
                          "'" + std::string(Spelling(text, t)) +
                              "': an untyped texture has no methods and no elements; declare it "
                              "Texture2D (or another typed texture) to read it");
        ok = false;
    }
    return ok;
}
