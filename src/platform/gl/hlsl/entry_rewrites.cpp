// Rewrites of preprocessed HLSL text (entry_rewrites.h). The lexer's tokens
// give the file's global declarations; nothing inside a function body is
// looked at.
#include "platform/gl/hlsl/entry_rewrites.h"
#include "platform/gl/hlsl/lexer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

// The tokens of one text, with the lookups the declaration walk needs.
// Directive lines (#line, #pragma) are left out: they stay as they are.
struct TokenWalk {
    std::string &text;
    Tokens tokens;

    TokenWalk(std::string &text, const LexedHlsl &lexed)
        : text(text), tokens(CodeTokens(lexed.tokens)) {}

    size_t size() const { return tokens.size(); }
    bool Is(size_t i, char mark) const {
        return i < tokens.size() && IsMark(text, tokens[i], mark);
    }
    bool IsWord(size_t i) const {
        return i < tokens.size() && tokens[i].kind == TokenKind::Identifier;
    }
    std::string Spelling(size_t i) const { return text.substr(tokens[i].offset, tokens[i].length); }
    std::string Lower(size_t i) const {
        std::string word = IsWord(i) ? Spelling(i) : std::string();
        for (char &c : word)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return word;
    }
    bool Opens(size_t i) const { return Is(i, '{') || Is(i, '(') || Is(i, '['); }

    // The token that closes the bracket opened at i, or size().
    size_t Closing(size_t i) const {
        int depth = 0;
        for (; i < tokens.size(); ++i) {
            if (Opens(i))
                ++depth;
            else if ((Is(i, '}') || Is(i, ')') || Is(i, ']')) && --depth == 0)
                return i;
        }
        return tokens.size();
    }

    // Whether the token at i can start an operand, so that a '>' before it
    // is a comparison.
    bool Operand(size_t i) const {
        if (i >= tokens.size()) return false;
        if (tokens[i].kind != TokenKind::Punctuator) return true;
        for (const char *op : {"(", "-", "+", "!", "~", "++", "--"})
            if (::Is(text, tokens[i], op)) return true;
        return false;
    }

    // The '>' that ends the annotation opened at i, or size(). Each of its
    // entries ("int a = 1 << 2;") ends with a ';', so a '>' at the start of
    // one closes it; within one, a '<' or '>' is a template's bracket or an
    // operator ("1 < 2", "8 >> 1"), unless no operand follows the '>'.
    size_t AnnotationEnd(size_t i) const {
        bool entryStart = true;
        for (++i; i < tokens.size(); ++i) {
            if (Is(i, '>') && (entryStart || !Operand(i + 1))) return i;
            entryStart = Is(i, ';');
            if (Opens(i)) i = Closing(i);
        }
        return tokens.size();
    }

    // The ';' that ends the variable declaration starting at i, or the '}'
    // of a state body that no ';' follows; size() if neither comes. Before
    // an '=', a '<' opens an annotation.
    size_t DeclarationEnd(size_t i) const {
        bool initialiser = false;
        for (; i < tokens.size(); ++i) {
            if (Is(i, ';')) return i;
            if (Is(i, '=')) {
                initialiser = true;
            } else if (Is(i, '<') && !initialiser) {
                i = AnnotationEnd(i);
            } else if (Is(i, '{') && !initialiser) {
                i = Closing(i);
                if (i < tokens.size() && !Is(i + 1, ';') && !Is(i + 1, ',')) return i;
            } else if (Opens(i)) {
                i = Closing(i);
            }
        }
        return tokens.size();
    }

    // The first token after the global declaration starting at i: past its
    // ';', or past a body that ends it (a function, a cbuffer).
    size_t NextDeclaration(size_t i) const {
        bool initialiser = false;
        for (; i < tokens.size(); ++i) {
            if (Is(i, ';')) return i + 1;
            if (Is(i, '=')) {
                initialiser = true;
            } else if (Is(i, '{') && !initialiser) {
                i = Closing(i);
                return Is(i + 1, ';') ? i + 2 : i + 1;
            } else if (Opens(i)) {
                i = Closing(i);
            }
        }
        return tokens.size();
    }

    // Spaces over tokens first to last, keeping newlines and directives.
    void Blank(size_t first, size_t last) {
        for (size_t i = first; i <= last && i < tokens.size(); ++i)
            std::fill(text.begin() + static_cast<std::ptrdiff_t>(tokens[i].offset),
                      text.begin() + static_cast<std::ptrdiff_t>(tokens[i].end()), ' ');
    }
};

// Drops the tokens Blank turned into spaces (no token starts with one), so
// that lexed stays the tokens of the text: the rest keep their offsets.
void DropBlanked(const std::string &text, LexedHlsl &lexed) {
    lexed.tokens.erase(std::remove_if(lexed.tokens.begin(), lexed.tokens.end(),
                                      [&](const Token &t) { return text[t.offset] == ' '; }),
                       lexed.tokens.end());
}

bool IsModifier(const std::string &word) {
    for (const char *m : {"static", "uniform", "extern", "shared", "const", "volatile"})
        if (word == m) return true;
    return false;
}

// Blocks of the effect framework: "technique11 Name <annotations> { ... }".
bool IsEffectBlock(const std::string &word) {
    return word == "technique" || word == "technique10" || word == "technique11" ||
           word == "fxgroup";
}

// Types whose variables only the effect framework uses. The Direct3D 9
// texture type (texture) is distinct from Texture2D; texture1D, texture2D,
// texture3D and textureCUBE are Texture1D.. there (object_forms.h).
bool IsEffectObject(const TokenWalk &source, size_t i) {
    const std::string word = source.Lower(i);
    for (const char *type :
         {"blendstate", "depthstencilstate", "rasterizerstate", "stateblock", "vertexshader",
          "pixelshader", "geometryshader", "hullshader", "domainshader", "computeshader",
          "rendertargetview", "depthstencilview", "texture"})
        if (word == type) return true;
    const std::string exact = source.Spelling(i);
    // Strings are for effects' tools alone: code cannot read them, and
    // glslang takes neither their arrays nor their escapes and adjacent
    // literals (strings.shader_test).
    return exact == "string" || exact == "textureCube";
}

// Resource types ("Texture2D", "RWBuffer", "StructuredBuffer"), whose
// variables the shader uses.
bool IsResource(const std::string &word) {
    for (const char *prefix : {"texture", "buffer", "rw", "structuredbuffer", "byteaddressbuffer"})
        if (word.compare(0, std::strlen(prefix), prefix) == 0) return true;
    return false;
}

// Sampler types, whose variables the shader uses but whose state the
// effect framework sets.
bool IsSampler(const std::string &word) {
    for (const char *type : {"samplerstate", "samplercomparisonstate", "sampler", "sampler1d",
                             "sampler2d", "sampler3d", "samplercube"})
        if (word == type) return true;
    return false;
}

// Blanks the state bodies ("{ Filter = ...; }") and initialisers
// ("= sampler_state { ... }") of the sampler declarators from i to end,
// leaving names, array sizes, registers and annotations.
void BlankSamplerStates(TokenWalk &source, size_t i, size_t end) {
    for (; i < end; ++i) {
        if (source.Is(i, '<')) {
            i = source.AnnotationEnd(i);
        } else if (source.Is(i, '{')) {
            const size_t close = source.Closing(i);
            source.Blank(i, close);
            i = close;
        } else if (source.Is(i, '=')) {
            size_t last = i;
            while (last + 1 < end && !source.Is(last + 1, ',')) {
                ++last;
                if (source.Opens(last)) last = std::min(source.Closing(last), end - 1);
            }
            source.Blank(i, last);
            i = last;
        } else if (source.Opens(i)) {
            i = source.Closing(i);
        }
    }
}

// Words before which a '{' opens a body, not a variable's state block.
bool OpensBody(const std::string &word) {
    for (const char *w :
         {"struct",  "class",  "interface", "cbuffer",   "tbuffer",     "namespace",   "else",
          "do",      "return", "pass",      "technique", "technique10", "technique11", "fxgroup",
          "typedef", "in",     "out",       "inout",     "case",        "default"})
        if (word == w) return true;
    return false;
}

// Whether the '{' at i opens the state block of a variable ("float f
// { ... };", "Texture2D t[2] {{...},{...}};", "float u : register(c1) {};",
// "struct {int a;} s {...};"), at global scope or in a function: it follows
// the declared name, its array size or its register, not an '=' or a ')'
// of a call or condition (state-block-syntax.shader_test).
bool OpensStateBlock(const TokenWalk &source, size_t i) {
    if (i < 2) return false;
    size_t name = i - 1;
    if (source.Is(name, ')')) {
        size_t open = name;
        while (open > 0 && !source.Is(open, '('))
            --open;
        return open > 3 &&
               (source.Lower(open - 1) == "register" || source.Lower(open - 1) == "packoffset") &&
               source.Is(open - 2, ':') && !OpensBody(source.Lower(open - 4));
    }
    while (source.Is(name, ']')) {
        while (name > 0 && !source.Is(name, '['))
            --name;
        if (name == 0) return false;
        --name;
    }
    if (!source.IsWord(name) || OpensBody(source.Spelling(name)) || name == 0) return false;
    const size_t type = name - 1;
    return source.Is(type, '}') || source.Is(type, '>') || source.Is(type, ',') ||
           (source.IsWord(type) && !OpensBody(source.Spelling(type)));
}

// Blanks the state blocks of variables of every type: only the effect
// framework reads them.
void BlankStateBlocks(TokenWalk &source) {
    for (size_t i = 0; i < source.size(); ++i) {
        if (!source.Is(i, '{') || !OpensStateBlock(source, i)) continue;
        const size_t close = source.Closing(i);
        source.Blank(i, close);
        i = close;
    }
}

// An effect's shader ("CompileShader(ps_2_0, f())", "compile ps_2_0 f()")
// as an element of a global's initialiser list: the Windows compiler writes
// no default value for the global (effect-compile.shader_test), so the
// element becomes 0. Returns whether one did.
bool ZeroShaderElements(TokenWalk &source) {
    bool zeroed = false;
    for (size_t i = 1; i < source.size(); ++i) {
        if (!source.Is(i - 1, '{') && !source.Is(i - 1, ',')) continue;
        size_t last = source.size();
        if (source.Lower(i) == "compileshader" && source.Is(i + 1, '('))
            last = source.Closing(i + 1);
        else if (source.Lower(i) == "compile" && source.IsWord(i + 1) && source.IsWord(i + 2) &&
                 source.Is(i + 3, '('))
            last = source.Closing(i + 3);
        if (last >= source.size()) continue;
        source.Blank(i, last);
        source.text[source.tokens[i].offset] = '0';
        zeroed                               = true;
        i                                    = last;
    }
    return zeroed;
}

} // namespace

void BlankEffectSyntax(std::string &text, LexedHlsl &lexed) {
    TokenWalk source(text, lexed);
    const size_t count = source.size();
    // A typedef may take an effect type's other spellings ("typedef float4
    // texturE;", type-names.shader_test): that name is the typedef's.
    std::set<std::string> typedefs;
    for (size_t i = 0; i < count; ++i) {
        if (source.Spelling(i) != "typedef") continue;
        for (; i + 1 < count && !source.Is(i, ';'); ++i)
            if (source.IsWord(i) && (source.Is(i + 1, ';') || source.Is(i + 1, ',')))
                typedefs.insert(source.Spelling(i));
    }
    for (size_t start = 0; start < count;) {
        size_t i = start;
        while (IsModifier(source.Lower(i)))
            ++i;
        const bool named       = source.IsWord(i + 1) && !source.Is(i + 2, '(');
        const std::string word = typedefs.count(source.Spelling(i)) ? "" : source.Lower(i);
        if (word == "cbuffer" || word == "tbuffer") {
            // "shared" puts a buffer in an effect pool; glslang would then
            // want a ';' after its body.
            for (size_t m = start; m < i; ++m)
                if (source.Lower(m) == "shared") source.Blank(m, m);
        } else if (IsEffectBlock(word)) {
            size_t body = i + 1;
            if (source.IsWord(body)) ++body;
            if (source.Is(body, '<')) body = source.AnnotationEnd(body) + 1;
            if (source.Is(body, '{')) {
                size_t end = source.Closing(body);
                if (source.Is(end + 1, ';')) ++end;
                source.Blank(start, end);
                start = end + 1;
                continue;
            }
        } else if (named && !word.empty() && IsEffectObject(source, i)) {
            const size_t end = source.DeclarationEnd(i);
            if (end < count) {
                source.Blank(start, end);
                start = end + 1;
                continue;
            }
        } else if ((named || source.Is(i + 1, '<')) && IsResource(word)) {
            // "Texture2DMS<float4> t = NULL;": no resource is bound
            // (null.shader_test), which a declaration alone says.
            const size_t end = source.DeclarationEnd(i);
            for (size_t k = i; k + 1 < end; ++k)
                if (source.Is(k, '=') && source.Spelling(k + 1) == "NULL") source.Blank(k, k + 1);
        } else if (named && IsSampler(word)) {
            const size_t end = source.DeclarationEnd(i);
            if (end < count) {
                BlankSamplerStates(source, i + 2, end);
                start = end + 1;
                continue;
            }
        }
        start = source.NextDeclaration(start);
    }
    BlankStateBlocks(source);
    if (ZeroShaderElements(source))
        Relex(text, lexed);
    else
        DropBlanked(text, lexed);
}

void MoveBufferStatics(std::string &text, LexedHlsl &lexed) {
    TokenWalk source(text, lexed);
    std::vector<std::pair<size_t, std::string>> moves; // where, what
    for (size_t start = 0; start < source.size();) {
        size_t i = start;
        while (IsModifier(source.Lower(i)))
            ++i;
        const std::string word = source.Lower(i);
        size_t body            = i + 1;
        while (body < source.size() && (word == "cbuffer" || word == "tbuffer") &&
               !source.Is(body, '{') && !source.Is(body, ';'))
            body = source.Opens(body) ? source.Closing(body) + 1 : body + 1;
        if (!source.Is(body, '{') || (word != "cbuffer" && word != "tbuffer")) {
            start = source.NextDeclaration(start);
            continue;
        }
        const size_t close = source.Closing(body);
        std::string before, after;
        std::set<std::string> members; // the names declared before in the block
        for (size_t m = body + 1; m < close;) {
            const size_t end = std::min(source.DeclarationEnd(m), close);
            bool isStatic    = false;
            for (size_t k = m; k < end && IsModifier(source.Lower(k)); ++k)
                isStatic = isStatic || source.Lower(k) == "static";
            if (isStatic && source.Is(end, ';')) {
                // After the buffer where it reads a member, before it where
                // a member's array size may name it. Its tokens alone: a
                // comment inside would swallow what follows it once the
                // declaration is one line.
                bool reads = false, value = false;
                std::string declaration;
                for (size_t k = m; k <= end; ++k) {
                    value = value || source.Is(k, '=');
                    reads = reads || (value && members.count(source.Spelling(k)));
                    declaration += " " + source.Spelling(k);
                }
                (reads ? after : before) += declaration;
                source.Blank(m, end);
            } else {
                for (size_t k = m; k < end; ++k)
                    if (source.IsWord(k) &&
                        (source.Is(k + 1, ';') || source.Is(k + 1, ',') || source.Is(k + 1, '[') ||
                         source.Is(k + 1, ':') || source.Is(k + 1, '=')))
                        members.insert(source.Spelling(k));
            }
            m = end + 1;
        }
        const size_t last = source.Is(close + 1, ';') ? close + 1 : close;
        if (close < source.size()) {
            if (!after.empty()) moves.emplace_back(source.tokens[last].end(), after);
            if (!before.empty()) moves.emplace_back(source.tokens[start].offset, before + " ");
        }
        start = last + 1;
    }
    if (moves.empty()) return;
    std::sort(moves.begin(), moves.end());
    Edits edits; // at one offset, the later added stands left
    for (auto move = moves.rbegin(); move != moves.rend(); ++move)
        edits.Add(move->first, 0, move->second);
    edits.Apply(text, lexed);
}

namespace {

// The global functions of source, in order: the name's token, the
// declaration's first and last tokens, and whether it has a body.
struct Function {
    size_t name, first, last;
    bool body;
};

std::vector<Function> Functions(const TokenWalk &source) {
    std::vector<Function> functions;
    for (size_t start = 0; start < source.size();) {
        const size_t next = source.NextDeclaration(start);
        // The declared name: the first word at the top level followed by
        // '(' ("[maxvertexcount(4)]" is inside brackets).
        for (size_t i = start; i < next; ++i) {
            if (source.Is(i, '[')) {
                i = source.Closing(i);
            } else if (source.IsWord(i) && source.Is(i + 1, '(')) {
                Function function{i, start, next - 1, false};
                for (size_t j = source.Closing(i + 1); j < next && !function.body; ++j)
                    function.body = source.Is(j, '{');
                functions.push_back(function);
                break;
            }
        }
        start = next;
    }
    return functions;
}

bool Calls(const TokenWalk &source, size_t i, const std::string &name) {
    return source.IsWord(i) && source.Is(i + 1, '(') && source.Spelling(i) == name;
}

// glslang makes an entry point of the definition and reads a prototype
// before it as a call to itself ("Recursion detected"); where nothing calls
// the entry point, its prototypes go (attributes.shader_test).
void BlankEntryPrototypes(std::string &text, LexedHlsl &lexed, const TokenWalk &source,
                          const std::string &entryPoint) {
    std::vector<Function> prototypes;
    size_t declarations = 0, uses = 0;
    for (const Function &function : Functions(source)) {
        if (source.Spelling(function.name) != entryPoint) continue;
        ++declarations;
        if (!function.body) prototypes.push_back(function);
    }
    for (size_t i = 0; i < source.size(); ++i)
        uses += Calls(source, i, entryPoint) ? 1 : 0;
    if (prototypes.empty() || uses != declarations) return;
    Edits edits;
    for (const Function &p : prototypes) {
        const size_t begin = source.tokens[p.first].offset, end = source.tokens[p.last].end();
        const std::string span = text.substr(begin, end - begin);
        edits.Add(begin, end - begin,
                  std::string(std::count(span.begin(), span.end(), '\n'), '\n'));
    }
    edits.Apply(text, lexed);
}

} // namespace

int KeepLastEntryDefinition(std::string &text, LexedHlsl &lexed, const std::string &entryPoint) {
    TokenWalk source(text, lexed);
    std::vector<size_t> definitions;
    const std::vector<Function> functions = Functions(source);
    for (const Function &function : functions)
        if (function.body && source.Spelling(function.name) == entryPoint)
            definitions.push_back(function.name);
    if (definitions.size() == 1) BlankEntryPrototypes(text, lexed, source, entryPoint);
    if (definitions.size() < 2) return static_cast<int>(definitions.size());

    // Every other use of the name as a function.
    const std::string other = GeneratedName("overload_" + entryPoint);
    Edits edits;
    for (size_t i = 0; i < source.size(); ++i)
        if (i != definitions.back() && Calls(source, i, entryPoint))
            edits.Add(source.tokens[i].offset, entryPoint.size(), other);
    edits.Apply(text, lexed);
    return static_cast<int>(definitions.size());
}

void MergeStructArrayInputs(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                            const std::string &entryPoint) {
    TokenWalk source(text, lexed);
    std::vector<std::string> structs;
    for (const HlslSymbol &symbol : model.symbols)
        if (symbol.kind == HlslSymbolKind::Struct) structs.push_back(symbol.name);
    const Function *entry                 = nullptr;
    const std::vector<Function> functions = Functions(source);
    for (const Function &function : functions)
        if (function.body && source.Spelling(function.name) == entryPoint) entry = &function;
    if (!entry || structs.empty()) return;
    const size_t close = source.Closing(entry->name + 1);
    bool blanked       = false;
    for (size_t first = entry->name + 2, i = first; i < close; ++i) {
        if (source.Is(i, ',')) first = i + 1;
        // "in apple aps[2][2]": a structure's name, then the parameter's.
        if (!source.IsWord(i) || !source.IsWord(i - 1) || !source.Is(i + 1, '[') ||
            std::find(structs.begin(), structs.end(), source.Spelling(i - 1)) == structs.end())
            continue;
        bool output = false;
        for (size_t k = first; k + 1 < i; ++k)
            output = output || source.Spelling(k) == "out" || source.Spelling(k) == "inout";
        if (output) continue;
        size_t dims = 0, last = i;
        while (source.Is(last + 1, '[')) {
            last = source.Closing(last + 1);
            ++dims;
        }
        source.Blank(i + 1, last);
        const std::string name = source.Spelling(i);
        for (size_t k = close + 1; k < entry->last; ++k) {
            if (!source.IsWord(k) || source.Spelling(k) != name || source.Is(k - 1, '.')) continue;
            for (size_t d = 0, at = k; d < dims && source.Is(at + 1, '['); ++d) {
                const size_t end = source.Closing(at + 1);
                source.Blank(at + 1, end);
                at = end;
            }
        }
        blanked = true;
        i       = last;
    }
    if (blanked) DropBlanked(text, lexed);
}

namespace {

// The position of the top-level ':' in tokens [first, last) that a word
// follows (a semantic, or a register or packoffset binding), or last.
size_t SemanticColon(const TokenWalk &source, size_t first, size_t last) {
    for (size_t i = first; i < last; ++i) {
        if (source.Opens(i))
            i = source.Closing(i);
        else if (source.Is(i, ':') && source.IsWord(i + 1))
            return i;
    }
    return last;
}

// The structures whose every member, their bases' too, carries a semantic,
// a member of such a structure's type counting as carrying them. A
// structure declared in another's body (struct { ... } m;) does not count.
std::set<std::string> FullySemanticStructs(const HlslModel &model) {
    std::vector<const HlslStruct *> structs;
    for (const HlslSymbol &symbol : model.symbols)
        if (symbol.kind == HlslSymbolKind::Struct && symbol.scope == 0 && symbol.type.structure)
            structs.push_back(symbol.type.structure.get());
    std::set<std::string> semantic;
    // Until nothing changes: a member's structure may come to count later.
    for (bool grew = true; grew;) {
        grew = false;
        for (const HlslStruct *st : structs) {
            if (semantic.count(st->name)) continue;
            bool all = true, any = false;
            for (const HlslStruct *part = st; part && all; part = part->base.get())
                for (const HlslField &field : part->fields) {
                    any = true;
                    all = all && (!field.semantic.empty() ||
                                  (field.type.kind == HlslClass::Struct && field.type.structure &&
                                   semantic.count(field.type.structure->name)));
                }
            if (all && any) grew = semantic.insert(st->name).second || grew;
        }
    }
    return semantic;
}

} // namespace

void DropStructParameterSemantics(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                                  const std::string &entryPoint) {
    TokenWalk source(text, lexed);
    const std::set<std::string> structs = FullySemanticStructs(model);
    if (structs.empty()) return;
    bool blanked = false;
    for (const Function &function : Functions(source)) {
        if (!function.body || source.Spelling(function.name) != entryPoint) continue;
        const size_t close = source.Closing(function.name + 1);
        for (size_t first = function.name + 2; first < close;) {
            size_t end = first;
            while (end < close && !source.Is(end, ','))
                end = source.Opens(end) ? source.Closing(end) + 1 : end + 1;
            const size_t colon = SemanticColon(source, first, end);
            bool ofStruct      = false;
            for (size_t k = first; k < colon && !ofStruct; ++k)
                ofStruct = source.IsWord(k) && structs.count(source.Spelling(k));
            if (ofStruct && colon < end) {
                source.Blank(colon, colon + 1);
                blanked = true;
            }
            first = end + 1;
        }
    }
    if (blanked) DropBlanked(text, lexed);
}

void PlainUniformParameters(std::string &text, LexedHlsl &lexed, const std::string &entryPoint) {
    TokenWalk source(text, lexed);
    Edits edits;
    for (const Function &function : Functions(source)) {
        if (source.Spelling(function.name) == entryPoint) continue;
        const size_t close = source.Closing(function.name + 1);
        for (size_t i = function.name + 2; i < close; ++i) {
            if (source.Spelling(i) != "uniform") continue;
            // With out, inout or static it stays, for the rules that refuse it.
            size_t first = i, last = i;
            while (first > function.name + 2 && !source.Is(first - 1, ','))
                --first;
            while (last + 1 < close && !source.Is(last + 1, ','))
                ++last;
            bool plain = true;
            for (size_t k = first; k <= last; ++k)
                plain = plain && source.Spelling(k) != "out" && source.Spelling(k) != "inout" &&
                        source.Spelling(k) != "static";
            if (!plain) continue;
            edits.Add(source.tokens[i].offset, 7, "       ");
        }
    }
    edits.Apply(text, lexed);
}

void BlankUnusedStreamFunctions(std::string &text, LexedHlsl &lexed,
                                const std::string &entryPoint) {
    TokenWalk source(text, lexed);
    const std::vector<Function> functions = Functions(source);
    // Until none is left: a blanked function's calls no longer count, so the
    // stream functions only another geometry entry point called go too.
    for (bool blanked = true; blanked;) {
        blanked = false;
        std::map<std::string, size_t> uses; // each word's count in the text left
        for (size_t i = 0; i < source.size(); ++i)
            if (source.IsWord(i)) ++uses[source.Spelling(i)];
        for (const Function &function : functions) {
            const std::string name = source.Spelling(function.name);
            if (!function.body || name == entryPoint || name[0] == ' ') continue;
            bool stream        = false;
            const size_t close = source.Closing(function.name + 1);
            for (size_t i = function.name + 2; i < close && !stream; ++i) {
                const std::string word = source.IsWord(i) ? source.Spelling(i) : std::string();
                stream = word.size() > 6 && word.compare(word.size() - 6, 6, "Stream") == 0 &&
                         source.Is(i + 1, '<');
            }
            if (!stream) continue;
            // Unused: named only inside its own definition.
            size_t own = 0;
            for (size_t i = function.first; i <= function.last; ++i)
                own += source.IsWord(i) && source.Spelling(i) == name;
            if (uses[name] != own) continue;
            source.Blank(function.first, function.last);
            blanked = true;
        }
    }
    DropBlanked(text, lexed);
}

void RenameClipCullSemantics(std::string &text, const LexedHlsl &lexed) {
    static const char *const kNames[] = {"sv_clipdistance", "sv_culldistance"};
    const Tokens &tokens              = lexed.tokens;
    for (size_t i = 1; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind != TokenKind::Identifier || !IsMark(text, tokens[i - 1], ':')) continue;
        for (const char *name : kNames) {
            const size_t length = std::strlen(name);
            if (t.length < length ||
                !std::equal(name, name + length,
                            text.begin() + static_cast<std::ptrdiff_t>(t.offset),
                            [](char a, char b) {
                                return a == std::tolower(static_cast<unsigned char>(b));
                            }) ||
                !std::all_of(text.begin() + static_cast<std::ptrdiff_t>(t.offset + length),
                             text.begin() + static_cast<std::ptrdiff_t>(t.end()),
                             [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            text[t.offset]     = 'H';
            text[t.offset + 1] = 'F';
        }
    }
}

void MoveCalledInitializers(std::string &text, LexedHlsl &lexed, const std::string &entryPoint) {
    TokenWalk source(text, lexed);
    std::set<std::string> functions;
    size_t body = source.size(); // the '{' of the entry point's body
    for (const Function &function : Functions(source)) {
        if (!function.body) continue;
        functions.insert(source.Spelling(function.name));
        if (source.Spelling(function.name) != entryPoint) continue;
        for (size_t j = source.Closing(function.name + 1); j <= function.last; ++j)
            if (source.Is(j, '{')) {
                body = j;
                break;
            }
    }
    if (body == source.size()) return;
    std::set<std::string> moved;
    std::string assignments;
    for (size_t start = 0; start < body;) {
        const size_t next = source.NextDeclaration(start);
        size_t equals = next, isStatic = next, isConst = next;
        for (size_t i = start; i < next && equals == next; ++i) {
            if (source.Is(i, '(') || source.Is(i, '{') || source.Is(i, '[') || source.Is(i, ':'))
                break; // a function, an array, a semantic: left as they are
            if (source.IsWord(i) && source.Spelling(i) == "static") isStatic = i;
            if (source.IsWord(i) && source.Spelling(i) == "const") isConst = i;
            if (source.Is(i, '=')) equals = i;
        }
        const size_t last = next - 1; // the ';'
        bool moves        = equals < next && isStatic < equals && source.Is(last, ';') &&
                     source.IsWord(equals - 1) && !source.Is(equals + 1, '{');
        bool calls = false;
        for (size_t i = equals + 1; moves && i < last; ++i) {
            if (source.Is(i, ',')) moves = false; // several declarators
            if (source.Opens(i) && !source.Is(i, '(')) i = source.Closing(i);
            if (source.IsWord(i) &&
                ((functions.count(source.Spelling(i)) && source.Is(i + 1, '(')) ||
                 moved.count(source.Spelling(i))))
                calls = true;
        }
        if (moves && calls) {
            const std::string name = source.Spelling(equals - 1);
            std::string value =
                text.substr(source.tokens[equals + 1].offset,
                            source.tokens[last - 1].end() - source.tokens[equals + 1].offset);
            std::replace(value.begin(), value.end(), '\n', ' ');
            assignments += " " + name + " = " + value + ";";
            moved.insert(name);
            source.Blank(equals, last - 1);
            if (isConst < equals) source.Blank(isConst, isConst);
        }
        start = next;
    }
    if (moved.empty()) return;
    Edits edits;
    edits.Add(source.tokens[body].end(), 0, assignments);
    edits.Apply(text, lexed);
}
