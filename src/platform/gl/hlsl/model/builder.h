// The state the parser (syntax.cpp), the typer (typer.cpp) and the
// intrinsics (intrinsics.cpp) share while a model is built: the code
// tokens, the place read, the scope and function being parsed. Types are
// decided as each expression is parsed, with the scopes as they stand at
// that point, as HLSL declares every name before its use.
#pragma once

#include "platform/gl/hlsl/model/model.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

struct ModelBuilder {
    std::string_view text;
    Tokens tokens; // without directives
    HlslModel model;
    size_t at    = 0;  // the next token to read
    int scope    = 0;  // the innermost scope open
    int function = -1; // the function whose body is being parsed
    int global   = -1; // the global variable whose initializer is being parsed
    int depth    = 0;  // of nested expressions, statements and types
    // Each #pragma pack_matrix: where it stands in the text, what it sets.
    std::vector<std::pair<size_t, HlslMajority>> pragmas;

    const Token &Peek(size_t ahead = 0) const { return tokens[at + ahead]; }
    std::string_view Word(size_t ahead = 0) const { return Spelling(text, Peek(ahead)); }
    bool IsWord(std::string_view w, size_t ahead = 0) const {
        const Token &t = Peek(ahead);
        return t.kind != TokenKind::End && t.kind != TokenKind::String && Is(text, t, w);
    }
    bool AtEnd() const { return at >= tokens.size(); }
    bool Accept(std::string_view w) {
        if (!IsWord(w)) return false;
        ++at;
        return true;
    }
    HlslPos PosAt(size_t token) const;
    // The place of the token's last character.
    HlslPos EndAt(size_t token) const;
    HlslPos Here() const { return PosAt(at); }
    // The majority a matrix declared here outside code takes where it names
    // none: the last #pragma pack_matrix's before it (Default: column-major).
    HlslMajority Latent() const {
        HlslMajority latent = HlslMajority::Default;
        for (const auto &[offset, majority] : pragmas)
            if (offset < Peek().offset) latent = majority;
        return latent;
    }
    // A matrix's type (or an array's of matrices) given the latent majority
    // where it has none of its own; code inside functions takes none.
    void GiveLatent(HlslType &type) const {
        if (function < 0 && type.kind == HlslClass::Matrix && type.major == HlslMajority::Default)
            type.major = Latent();
    }

    // Records an error (or a warning) of the kind, its words filled with
    // args; null where the model holds as many errors as it keeps.
    HlslError *Error(HlslErrorKind kind, const HlslPos &pos,
                     std::initializer_list<std::string> args, bool isWarning = false);
    // Records "expected what, found <the next token>" and returns false, or
    // consumes the token and returns true.
    bool Expect(std::string_view what);

    int AddExpr(HlslExprKind kind, const HlslPos &pos, std::string text = std::string());
    // The innermost visible symbol of that name, -1 when none.
    int Lookup(std::string_view name) const;
    // Adds the symbol to the scope open now; reports a second variable of
    // one name in one scope.
    int Declare(HlslSymbol symbol);
    int OpenScope(HlslScopeKind kind);
    void CloseScope() {
        if (scope > 0) scope = model.scopes[scope].parent;
    }
};

// Decides the type of the expression, whose children are typed already,
// and resolves its names and calls, reporting what does not type.
void TypeExpression(ModelBuilder &b, int expr);
// Reports an implicit conversion that is not allowed, and warns of one that
// truncates. With the expression converted (value) and the one the warning
// names (at), warns too of a value of a larger type made smaller.
void CheckConversion(ModelBuilder &b, const HlslType &from, const HlslType &to, const HlslPos &pos,
                     int value = -1, int at = -1);
// The value of an integer constant expression (a literal, a static const
// of a literal, arithmetic of those); false when it has none.
bool EvaluateInteger(const ModelBuilder &b, int expr, long long &value);

// The result of a call to a built-in function or method; false when the
// name is no built-in at all. `error` holds the words of a refusal.
bool TypeIntrinsicCall(std::string_view name, const std::vector<HlslType> &args, HlslType &result,
                       std::string &error, bool &truncates);
bool TypeMethodCall(const HlslType &object, std::string_view name,
                    const std::vector<HlslType> &args, HlslType &result, std::string &error);
bool IsIntrinsicName(std::string_view name);
// The element an index into an object reads (Buffer<T>[i], InputPatch<V, 3>[i]).
bool ObjectElementType(const HlslType &object, HlslType &element);
