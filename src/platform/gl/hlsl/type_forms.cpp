// Type names and modifiers as the Windows compiler reads them (type_forms.h).
#include "platform/gl/hlsl/type_forms.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace {

// The 32-bit type a minimum-precision type holds below shader model 6
// (min16uint4x2 is uint4x2); empty for any other word.
std::string ThirtyTwoBit(std::string_view word) {
    HlslType type;
    if (word.compare(0, 3, "min") != 0 || !BuiltinTypeFromName(word, type) || !type.IsNumeric() ||
        FullPrecision(type.scalar) == type.scalar)
        return std::string();
    return HlslTypeName(WithScalar(type, FullPrecision(type.scalar)));
}

// The dimensions of the texture types ("2DMSArray" of Texture2DMSArray).
const char *const kTextures[] = {"1D",        "1DArray", "2D",   "2DArray",  "2DMS",
                                 "2DMSArray", "3D",      "Cube", "CubeArray"};

// Whether word spells a scalar, vector or matrix type by its own name
// (float3, dword2x2, half): not vector, matrix or unsigned, nor a
// minimum-precision type; type is what it spells.
bool OwnNumericName(std::string_view word, HlslType &type) {
    return MaybeNumericTypeName(word) && word != "vector" && word != "matrix" &&
           word != "unsigned" && BuiltinTypeFromName(word, type) && type.IsNumeric() &&
           FullPrecision(type.scalar) == type.scalar;
}

// The typedef of that name, in any scope (the last one declared); null
// where none is.
const HlslSymbol *TypedefNamed(const HlslModel &model, std::string_view name) {
    for (size_t k = model.symbols.size(); k-- > 0;)
        if (model.symbols[k].kind == HlslSymbolKind::Typedef && model.symbols[k].name == name)
            return &model.symbols[k];
    return nullptr;
}

// The scalar, vector or matrix type word names, itself or through a
// typedef that is no array; false for any other word.
bool NumericNamed(const HlslModel &model, std::string_view word, HlslType &type) {
    if (const HlslSymbol *alias = TypedefNamed(model, word)) {
        type         = alias->type;
        type.isConst = false;
        return !type.IsArray() && type.IsNumeric();
    }
    return !ThirtyTwoBit(word).empty() ? BuiltinTypeFromName(word, type)
                                       : OwnNumericName(word, type);
}

std::string Lower(std::string_view word) {
    std::string lower(word);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool IsWord(const Tokens &tokens, size_t i) {
    return i < tokens.size() && tokens[i].kind == TokenKind::Identifier;
}

bool IsMarkAt(const std::string &text, const Tokens &tokens, size_t i, char c) {
    return i < tokens.size() && MarkOf(text, tokens[i]) == c;
}

// replacement, padded with spaces to length, so the columns after it stay.
std::string Padded(std::string replacement, size_t length) {
    replacement.resize(std::max(replacement.size(), length), ' ');
    return replacement;
}

// Whether the half type at tokens[i] declares a global constant: outside
// any body or parameter list, before a name that is no function's, with no
// static or typedef before it.
bool DeclaresHalfConstant(const std::string &text, const Tokens &tokens, size_t i) {
    HlslType type;
    if (!OwnNumericName(Spelling(text, tokens[i]), type) || type.scalar != HlslScalar::Half ||
        !IsWord(tokens, i + 1) || IsMarkAt(text, tokens, i + 2, '('))
        return false;
    for (size_t j = i; j-- > 0 && tokens[j].kind == TokenKind::Identifier;)
        if (Is(text, tokens[j], "static") || Is(text, tokens[j], "typedef")) return false;
    return true;
}

// What a value of a type holds: numbers, objects (textures, samplers,
// buffers), or both through a structure's members, its base's included.
struct Holds {
    bool numeric = false, object = false;
};

Holds HoldsOf(const HlslType &type) {
    if (type.IsNumeric()) return {true, false};
    if (type.kind == HlslClass::Object) return {false, true};
    Holds holds;
    if (type.kind != HlslClass::Struct || !type.structure) return holds;
    for (const HlslStruct *s = type.structure.get(); s; s = s->base.get())
        for (const HlslField &field : s->fields) {
            const Holds member = HoldsOf(field.type);
            holds.numeric      = holds.numeric || member.numeric;
            holds.object       = holds.object || member.object;
        }
    return holds;
}

// A static variable cannot hold both numbers and objects
// (invalid.shader_test: "static struct apple a;" whose members are a
// sampler and a float4 is refused); nor can a structure hold a string
// (strings.shader_test).
bool CheckStructures(const HlslModel &model, Diagnostics &diagnostics) {
    bool ok     = true;
    auto refuse = [&](const HlslPos &at, const std::string &why) {
        diagnostics.Error(model.files[at.file], at.line, at.column, why);
        ok = false;
    };
    std::set<const HlslStruct *> checked; // named or not, declared once
    for (const HlslSymbol &symbol : model.symbols) {
        const HlslStruct *structure = symbol.type.structure.get();
        if (structure && checked.insert(structure).second)
            for (const HlslField &field : structure->fields)
                if (field.type.kind == HlslClass::String) {
                    refuse(symbol.pos, "a structure member cannot be a string");
                    break;
                }
        if (symbol.kind != HlslSymbolKind::Variable || !(symbol.storage & kStatic)) continue;
        const Holds holds = HoldsOf(symbol.type);
        if (holds.numeric && holds.object)
            refuse(symbol.pos, "'" + symbol.name +
                                   "': a static variable cannot hold both numeric and object "
                                   "components");
    }
    return ok;
}

// A const return type means nothing to Windows: what a call gives is a
// value, not an object. glslang takes such a call for a constant and
// refuses it as a const variable's initializer ("const float3x3 k =
// inverse(m);"), so the const goes, from every declaration of the function.
void BlankConstReturns(const std::string &text, const LexedHlsl &lexed, const HlslModel &model,
                       Edits &edits) {
    const Tokens code = CodeTokens(lexed.tokens);
    for (const HlslFunction &function : model.functions)
        for (const HlslPos &name : function.names)
            for (size_t k = name.token; k-- > 0;) {
                const Token &t = code[k];
                if (t.kind != TokenKind::Identifier && t.kind != TokenKind::Number &&
                    !IsMark(text, t, '<') && !IsMark(text, t, '>') && !IsMark(text, t, ','))
                    break;
                if (Is(text, t, "const"))
                    edits.push_back({t.offset, t.length, Padded("", t.length)});
            }
}

// A typedef in a function may take a scalar, vector or matrix type's name
// ("typedef float2 float;", type-names.shader_test), which glslang keeps
// as the type's: the name becomes another to the end of the block.
void RenameLocalTypedefs(std::string &text, LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    std::vector<size_t> blocks; // the '{' of each block open
    Edits edits;
    std::vector<bool> renamed(tokens.size(), false);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const char mark = MarkOf(text, tokens[i]);
        if (mark == '{') blocks.push_back(i);
        if (mark == '}' && !blocks.empty()) blocks.pop_back();
        if (blocks.empty() || !Is(text, tokens[i], "typedef")) continue;
        const size_t end = ClosingBracket(text, tokens, blocks.back());
        for (size_t k = i + 2; k < end && MarkOf(text, tokens[k]) != ';'; ++k) {
            const std::string_view name = Spelling(text, tokens[k]);
            HlslType type;
            const bool builtin = OwnNumericName(name, type);
            if (!builtin || !IsWord(tokens, k) || !IsWord(tokens, k - 1) ||
                (!IsMarkAt(text, tokens, k + 1, ';') && !IsMarkAt(text, tokens, k + 1, ',')))
                continue;
            for (size_t use = k; use < end; ++use)
                if (!renamed[use] && Spelling(text, tokens[use]) == name) {
                    edits.push_back({tokens[use].offset, 0, GeneratedName("")});
                    renamed[use] = true;
                }
        }
    }
    if (edits.empty()) return;
    edits.Apply(text, lexed);
}

// One member of a structure as declared: its type with modifiers
// ("row_major float4x4"), its name, and what follows the name ("[2] : TEX").
struct Member {
    std::string type, name, rest;
};

// The members of the structure body whose '{' is tokens[open], one per
// declarator, the tokens' spellings joined on one line.
std::vector<Member> MembersOf(const std::string &text, const Tokens &tokens, size_t open) {
    std::vector<Member> members;
    const size_t close = ClosingBracket(text, tokens, open);
    std::string type;
    bool named = false; // the current declarator's name is read
    for (size_t k = open + 1; k < close; ++k) {
        const Token &t = tokens[k];
        if (t.kind == TokenKind::Directive) continue;
        const std::string spelling(Spelling(text, t));
        const char mark = MarkOf(text, t);
        if (mark == ';') {
            type.clear();
            named = false;
        } else if (mark == ',') {
            named = false;
        } else if (!named && t.kind == TokenKind::Identifier && k + 1 < close &&
                   std::string_view(";,[:=").find(MarkOf(text, tokens[k + 1])) !=
                       std::string_view::npos) {
            members.push_back({type, spelling, ""});
            named = true;
        } else if (named) {
            members.back().rest += " " + spelling;
        } else {
            type += spelling + " ";
        }
    }
    return members;
}

// "struct c : b { ... }": the members of b, and of its own base, come first,
// as the Windows compiler lays them out (struct-inheritance.shader_test); a
// base member that a later one shadows keeps its place under another name.
// A base that is not one structure declared before is left to glslang,
// which refuses it as Windows does.
void FlattenInheritance(std::string &text, LexedHlsl &lexed) {
    const Tokens &tokens = lexed.tokens;
    std::map<std::string, std::vector<Member>, std::less<>> structs;
    Edits edits;
    for (size_t i = 0; i + 2 < tokens.size(); ++i) {
        if (!Is(text, tokens[i], "struct") || !IsWord(tokens, i + 1)) continue;
        const std::string name(Spelling(text, tokens[i + 1]));
        if (IsMarkAt(text, tokens, i + 2, '{')) {
            structs[name] = MembersOf(text, tokens, i + 2);
            continue;
        }
        const auto base = IsMarkAt(text, tokens, i + 2, ':') && IsWord(tokens, i + 3) &&
                                  IsMarkAt(text, tokens, i + 4, '{')
                              ? structs.find(Spelling(text, tokens[i + 3]))
                              : structs.end();
        if (base == structs.end()) continue;
        std::vector<Member> members = base->second;
        const size_t inherited      = members.size();
        for (const Member &own : MembersOf(text, tokens, i + 4))
            members.push_back(own);
        std::string inserted;
        for (size_t m = 0; m < inherited; ++m) {
            for (size_t later = m + 1; later < members.size(); ++later)
                if (members[later].name == members[m].name)
                    members[m].name = ShadowedMemberName(name, m);
            inserted += " " + members[m].type + members[m].name + members[m].rest + ";";
        }
        structs[name] = members;
        for (size_t k = i + 2; k <= i + 3; ++k)
            edits.push_back(
                {tokens[k].offset, tokens[k].length, std::string(tokens[k].length, ' ')});
        edits.push_back({tokens[i + 4].end(), 0, inserted});
    }
    if (edits.empty()) return;
    edits.Apply(text, lexed);
}

} // namespace

void RewriteMinimumPrecision(std::string &text, LexedHlsl &lexed) {
    Edits edits;
    for (const Token &t : lexed.tokens) {
        if (t.kind != TokenKind::Identifier) continue;
        const std::string full = ThirtyTwoBit(Spelling(text, t));
        if (!full.empty()) edits.push_back({t.offset, t.length, Padded(full, t.length)});
    }
    if (!edits.empty()) edits.Apply(text, lexed);
}

bool RewriteTypeForms(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                      Diagnostics &diagnostics) {
    if (!CheckStructures(model, diagnostics)) return false;
    const Tokens &tokens = lexed.tokens;
    Edits edits;
    BlankConstReturns(text, lexed, model, edits);
    auto refuse = [&](size_t at, const std::string &message) {
        const Token &t = tokens[at];
        diagnostics.Error(lexed.files[t.file], t.line, t.column, message);
    };
    bool ok   = true;
    int depth = 0; // of braces and parentheses
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t  = tokens[i];
        const char mark = MarkOf(text, t);
        depth += (mark == '{' || mark == '(') - (mark == '}' || mark == ')');
        if (t.kind != TokenKind::Identifier) continue;
        const std::string_view word = Spelling(text, t);
        if (word == "unsigned") {
            // Only the int types take it below shader model 6, a typedef of
            // one too, but not an array typedef (unsigned.shader_test).
            HlslType named;
            if (!IsWord(tokens, i + 1) ||
                !NumericNamed(model, Spelling(text, tokens[i + 1]), named) ||
                FullPrecision(named.scalar) != HlslScalar::Int) {
                refuse(i, IsWord(tokens, i + 1)
                              ? "'unsigned' cannot be used with type '" +
                                    std::string(Spelling(text, tokens[i + 1])) + "'"
                              : std::string("'unsigned' needs an int type after it"));
                ok = false;
                continue;
            }
            edits.push_back({t.offset, t.length,
                             Padded(HlslTypeName(WithScalar(named, HlslScalar::Uint)), t.length)});
            edits.push_back({tokens[i + 1].offset, tokens[i + 1].length,
                             std::string(tokens[i + 1].length, ' ')});
            ++i;
        } else if (Lower(word) == "string" && word != "string") {
            // String is a keyword as string is; the other spellings name
            // the type unless a typedef takes them (strings.shader_test).
            const bool declared = i > 0 &&
                                  (tokens[i - 1].kind == TokenKind::Identifier ||
                                   IsMarkAt(text, tokens, i - 1, '>')) &&
                                  !IsWord(tokens, i + 1);
            if (word == "String" && declared) {
                refuse(i, "syntax error: unexpected token 'String'");
                ok = false;
            } else if (!TypedefNamed(model, word) && IsWord(tokens, i + 1)) {
                edits.push_back({t.offset, t.length, "string"});
            }
        } else if ((Lower(word) == "dword" || Lower(word) == "matrix" || Lower(word) == "vector") &&
                   word != Lower(word) && !TypedefNamed(model, word) && IsWord(tokens, i + 1) &&
                   !(i > 0 && Is(text, tokens[i - 1], "struct"))) {
            // These three are types in any case, unless a typedef takes
            // the spelling; "Vector<float, 2>" is refused
            // (type-names.shader_test).
            edits.push_back({t.offset, t.length, Lower(word)});
        } else if (word.substr(0, 7) == "texture" && IsMarkAt(text, tokens, i + 1, '<') &&
                   std::any_of(std::begin(kTextures), std::end(kTextures),
                               [&](const char *type) { return word.substr(7) == type; })) {
            // "texture2D<float>" is Texture2D<float> (texture-load-typed.shader_test).
            edits.push_back({t.offset, 1, "T"});
        } else if (word == "precise") {
            // The modifier comes before a type and a name; anywhere else
            // the word is a name (precise-modifier.shader_test).
            const bool modifier = IsWord(tokens, i + 1) &&
                                  (IsWord(tokens, i + 2) || IsMarkAt(text, tokens, i + 2, '<'));
            edits.push_back({t.offset, t.length, modifier ? "       " : GeneratedName("prec")});
        } else if (depth == 0 && DeclaresHalfConstant(text, tokens, i)) {
            refuse(i + 1, "'" + std::string(Spelling(text, tokens[i + 1])) +
                              "': a global constant of type half needs the backwards "
                              "compatibility flag (D3DCOMPILE_ENABLE_BACKWARDS_COMPATIBILITY)");
            ok = false;
        }
    }
    if (!ok) return false;
    if (!edits.empty()) {
        edits.Apply(text, lexed);
    }
    RenameLocalTypedefs(text, lexed);
    FlattenInheritance(text, lexed);
    return true;
}
