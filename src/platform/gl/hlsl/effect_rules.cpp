// Effect syntax as the Windows compiler reads it (effect_rules.h). A state
// block is a list of "name = value;" or "name[index] = value;" entries, or
// of calls to the Set...() functions; a value may name identifiers declared
// nowhere (taken as scalar constants) but may not call functions that do
// not exist. Each rule cites the vkd3d test file that records it and keeps
// clear of the forms recorded there as compiling.
#include "platform/gl/hlsl/effect_rules.h"

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/model/model.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The file's functions and globals are the model's; the effect syntax it
// skips is read here from the tokens.
struct Effect {
    std::string_view text;
    const std::vector<std::string> &files;
    Tokens tokens;
    const HlslModel &model;
    std::set<std::string, std::less<>> known;      // names outside effect syntax
    std::vector<std::pair<size_t, size_t>> bodies; // effect syntax, [first, last]
};

bool IsFunction(const Effect &e, std::string_view name) {
    for (const HlslFunction &f : e.model.functions)
        if (f.name == name) return true;
    return false;
}

std::string_view Text(const Effect &e, size_t at) {
    return at < e.tokens.size() ? Spelling(e.text, e.tokens[at]) : std::string_view();
}
bool Is(const Effect &e, size_t at, std::string_view spelling) {
    return at < e.tokens.size() && ::Is(e.text, e.tokens[at], spelling);
}
bool IsName(const Effect &e, size_t at) {
    return at < e.tokens.size() && e.tokens[at].kind == TokenKind::Identifier;
}
std::string Lower(std::string_view word) {
    std::string lower(word);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return std::tolower(static_cast<unsigned char>(c)); });
    return lower;
}

void Refuse(const Effect &e, size_t at, const std::string &text, Diagnostics &out) {
    const Token &t = e.tokens[std::min(at, e.tokens.size() - 1)];
    out.Error(e.files[t.file], t.line, t.column, text);
}

bool Opens(const Effect &e, size_t at) {
    return Is(e, at, "(") || Is(e, at, "[") || Is(e, at, "{");
}
bool Closes(const Effect &e, size_t at) {
    return Is(e, at, ")") || Is(e, at, "]") || Is(e, at, "}");
}

// The token closing the bracket opened at at, or the last token.
size_t Closing(const Effect &e, size_t at) {
    int depth = 0;
    for (; at < e.tokens.size(); ++at) {
        if (Opens(e, at)) ++depth;
        if (Closes(e, at) && --depth == 0) return at;
    }
    return e.tokens.size() - 1;
}

// The '>' closing the annotation opened at at: each entry ends with ';'.
size_t AnnotationEnd(const Effect &e, size_t at) {
    for (++at; at < e.tokens.size(); ++at) {
        if (Is(e, at, ">") && (Is(e, at - 1, ";") || Is(e, at - 1, "<"))) return at;
        if (Opens(e, at)) at = Closing(e, at);
    }
    return e.tokens.size() - 1;
}

// The components of a value of the scalar, vector or matrix type the name
// spells; 0 for any other name.
int Components(std::string_view name) {
    HlslType type;
    return BuiltinTypeFromName(name, type) ? type.ComponentCount() : 0;
}

// The components of the global variable of that name, where it is a
// scalar, vector or matrix; 0 otherwise.
int GlobalComponents(const Effect &e, std::string_view name) {
    const int symbol = FindGlobal(e.model, name);
    if (symbol < 0 || e.model.symbols[symbol].kind != HlslSymbolKind::Variable) return 0;
    const HlslType &type = e.model.symbols[symbol].type;
    return type.IsArray() ? 0 : type.ComponentCount();
}

// Objects, each one state block's worth: samplers, textures, state objects
// and shaders.
bool IsObjectType(std::string_view name) {
    const std::string lower = Lower(name);
    for (const char *prefix : {"sampler", "texture", "rwtexture", "buffer"})
        if (lower.compare(0, std::string_view(prefix).size(), prefix) == 0) return true;
    for (const char *suffix : {"state", "shader"})
        if (lower.size() > std::string_view(suffix).size() &&
            lower.compare(lower.size() - std::string_view(suffix).size(), std::string::npos,
                          suffix) == 0)
            return true;
    return false;
}

bool IsShaderType(std::string_view name) {
    const std::string lower = Lower(name);
    for (const char *type : {"vertexshader", "pixelshader", "geometryshader", "hullshader",
                             "domainshader", "computeshader"})
        if (lower == type) return true;
    return false;
}

// The profiles compile and CompileShader take: the models 1 to 5
// (effect-compile.shader_test: "ps_6_0" and "fs_2_0" are refused).
bool IsEffectProfile(std::string_view name) {
    const std::string lower = Lower(name);
    bool stage              = false;
    for (const char *prefix : {"vs_", "ps_", "gs_", "hs_", "ds_", "cs_"})
        stage = stage || lower.compare(0, 3, prefix) == 0;
    return stage && lower.size() >= 6 && lower[3] >= '1' && lower[3] <= '5' && lower[4] == '_';
}

// HLSL's intrinsic functions a value may call beside the file's own.
bool IsIntrinsic(std::string_view name) {
    static const std::set<std::string, std::less<>> kIntrinsics = {
        "abs",   "acos",    "all",         "any",       "asfloat", "asin",  "asint",      "asuint",
        "atan",  "atan2",   "ceil",        "clamp",     "cos",     "cosh",  "cross",      "ddx",
        "ddy",   "degrees", "determinant", "distance",  "dot",     "exp",   "exp2",       "floor",
        "fmod",  "frac",    "length",      "lerp",      "log",     "log10", "log2",       "max",
        "min",   "mul",     "normalize",   "pow",       "radians", "rcp",   "reflect",    "refract",
        "round", "rsqrt",   "saturate",    "sign",      "sin",     "sinh",  "smoothstep", "sqrt",
        "step",  "tan",     "tanh",        "transpose", "trunc"};
    return kIntrinsics.count(name) != 0;
}

// The calls a state block may hold, with their numbers of arguments
// (state-block-function-syntax.shader_test: the names are case-sensitive).
bool StateFunction(std::string_view name, int &least, int &most) {
    static const std::map<std::string, std::pair<int, int>, std::less<>> kFunctions = {
        {"SetBlendState", {3, 3}},      {"SetDepthStencilState", {2, 2}},
        {"SetRasterizerState", {1, 1}}, {"SetVertexShader", {1, 1}},
        {"SetDomainShader", {1, 1}},    {"SetHullShader", {1, 1}},
        {"SetGeometryShader", {1, 1}},  {"SetPixelShader", {1, 1}},
        {"SetComputeShader", {1, 1}},   {"OMSetRenderTargets", {2, 9}}};
    const auto found = kFunctions.find(name);
    if (found == kFunctions.end()) return false;
    least = found->second.first;
    most  = found->second.second;
    return true;
}

// The arguments of the call whose '(' is at open: the first token of each.
std::vector<size_t> Arguments(const Effect &e, size_t open) {
    const size_t close = Closing(e, open);
    std::vector<size_t> starts;
    if (close == open + 1) return starts;
    starts.push_back(open + 1);
    for (size_t k = open + 1; k < close; ++k) {
        if (Opens(e, k))
            k = Closing(e, k);
        else if (Is(e, k, ","))
            starts.push_back(k + 1);
    }
    return starts;
}

// compile's or CompileShader's call of a function: it exists, and its
// arguments fill uniform parameters only (effect-compile.shader_test).
void CheckShaderCall(const Effect &e, size_t name, Diagnostics &out) {
    if (!IsName(e, name) || !Is(e, name + 1, "(")) return;
    if (!IsFunction(e, Text(e, name))) return; // said of any call below
    const int given = static_cast<int>(Arguments(e, name + 1).size());
    for (const HlslFunction &f : e.model.functions) {
        if (f.name != Text(e, name)) continue;
        const int uniforms =
            static_cast<int>(std::count_if(f.params.begin(), f.params.end(), [&](int p) {
                return e.model.symbols[p].storage & kUniform;
            }));
        if (given <= uniforms) return;
    }
    Refuse(e, name,
           "'" + std::string(Text(e, name)) + "' has fewer uniform parameters than the " +
               std::to_string(given) + " arguments given",
           out);
}

// Whether one of the file's functions named name takes the arguments of the
// call at k: as many as it has parameters, and no scalar constant (a
// literal or a name declared nowhere, a 'const int' there) for an array
// (state-block-syntax.shader_test).
bool Matches(const Effect &e, size_t k, std::string_view name) {
    const std::vector<size_t> arguments = Arguments(e, k + 1);
    const int given                     = static_cast<int>(arguments.size());
    for (const HlslFunction &f : e.model.functions) {
        if (f.name != name) continue;
        const int least =
            static_cast<int>(std::count_if(f.params.begin(), f.params.end(), [&](int p) {
                return e.model.symbols[p].initializer < 0;
            }));
        bool fits = given >= least && given <= static_cast<int>(f.params.size());
        for (size_t a = 0; fits && a < arguments.size(); ++a) {
            const size_t at     = arguments[a];
            const bool constant = e.tokens[at].kind == TokenKind::Number ||
                                  (IsName(e, at) && !e.known.count(Text(e, at)));
            fits = !(e.model.symbols[f.params[a]].type.IsArray() && constant &&
                     (Is(e, at + 1, ",") || Is(e, at + 1, ")")));
        }
        if (fits) return true;
    }
    return false;
}

// Whether the call at k is the one compile or CompileShader makes a shader
// of, which gives the uniform parameters only (CheckShaderCall).
bool CompiledShader(const Effect &e, size_t k) {
    return k >= 4 && ((Is(e, k - 2, "compile")) ||
                      (Is(e, k - 1, ",") && Is(e, k - 3, "(") && Is(e, k - 4, "CompileShader")));
}

// A value: an expression of literals, the file's names, names declared
// nowhere (scalar constants) and calls (state-block-syntax.shader_test).
// Outside a state block a name must be declared (effect-compile.shader_test:
// "PixelShader p = CompileShader(ps_2_0, main(foobar));" is refused).
void CheckValue(const Effect &e, size_t first, size_t end, bool inBlock, Diagnostics &out) {
    for (size_t k = first; k < end; ++k) {
        const std::string_view t = Text(e, k);
        if (t == "asm") return;
        if ((t == "compile" || t == "CompileShader") && IsName(e, k + 1 + (t != "compile"))) {
            const size_t profile = k + 1 + (t != "compile");
            if (!IsEffectProfile(Text(e, profile)))
                Refuse(e, profile,
                       "'" + std::string(Text(e, profile)) +
                           "' is not a profile "
                           "a shader can be compiled for",
                       out);
            CheckShaderCall(e, t == "compile" ? profile + 1 : profile + 2, out);
            if (t == "compile") k = profile;
            continue;
        }
        if (!IsName(e, k)) continue;
        // A cast in a value is to a numeric type (state-block-syntax.shader_test:
        // "(int)bar" compiles, "(sampler)2" and "(faketype)2" do not).
        const bool cast =
            Is(e, k - 1, "(") && Is(e, k + 1, ")") && k + 2 < end &&
            (IsName(e, k + 2) || e.tokens[k + 2].kind == TokenKind::Number || Is(e, k + 2, "("));
        if (cast && !Components(t) && (IsObjectType(t) || !e.known.count(t))) {
            Refuse(e, k, "cannot cast to '" + std::string(t) + "'", out);
            continue;
        }
        if (Is(e, k + 1, "(")) {
            if (t == "ConstructGSWithSO") {
                // constructgswithso.shader_test: two or six arguments.
                const size_t given = Arguments(e, k + 1).size();
                if (given != 2 && given != 6)
                    Refuse(e, k,
                           "ConstructGSWithSO takes 2 or 6 arguments, not " + std::to_string(given),
                           out);
            } else if (t != "CompileShader" && !IsFunction(e, t) && !Components(t) &&
                       !IsIntrinsic(t) && !Is(e, k - 1, ".")) {
                Refuse(e, k, "'" + std::string(t) + "' is not a function", out);
            } else if (IsFunction(e, t) && !Is(e, k - 1, ".") && !CompiledShader(e, k) &&
                       !Matches(e, k, t)) {
                Refuse(e, k, "no overload of '" + std::string(t) + "' takes these arguments", out);
            }
            continue;
        }
        if (Is(e, k - 1, ".")) continue;
        const bool known = e.known.count(t) != 0;
        const bool profile =
            Is(e, k - 1, "compile") || (Is(e, k - 1, "(") && Is(e, k - 2, "CompileShader"));
        if (!inBlock && !known && !profile && t != "NULL") {
            Refuse(e, k, "undeclared identifier '" + std::string(t) + "'", out);
            continue;
        }
        if (Components(t) && !Is(e, k + 1, ")") && !Is(e, k - 1, "(")) {
            Refuse(e, k, "'" + std::string(t) + "' is a type, not a value", out);
        } else if (!known && Is(e, k + 1, "[")) {
            Refuse(e, k, "'" + std::string(t) + "' is not declared and cannot be indexed", out);
        } else if (Is(e, k + 1, ".") && IsName(e, k + 2) && !Is(e, k + 3, "(")) {
            // A swizzle reads components the value has: one for a name
            // declared nowhere.
            const int count                = known ? GlobalComponents(e, t) : 1;
            const std::string_view swizzle = Text(e, k + 2);
            std::vector<int> read;
            if (count > 0 && count <= 4 &&
                SwizzleComponents(VectorType(HlslScalar::Float, 4), swizzle, read) &&
                !SwizzleComponents(VectorType(HlslScalar::Float, count), swizzle, read))
                Refuse(e, k + 2,
                       "'" + std::string(swizzle) + "' reads past the components of '" +
                           std::string(t) + "'",
                       out);
        }
    }
}

// The entries of a state block or pass from first to end (its '}').
void CheckEntries(const Effect &e, size_t first, size_t end, Diagnostics &out) {
    for (size_t k = first; k < end;) {
        if (IsName(e, k) && Is(e, k + 1, "(")) {
            int least = 0, most = 0;
            const std::string name(Text(e, k));
            const int given = static_cast<int>(Arguments(e, k + 1).size());
            if (!StateFunction(name, least, most))
                Refuse(e, k, "'" + name + "' is not a state a state block can set", out);
            else if (given < least || given > most)
                Refuse(e, k, "'" + name + "' does not take " + std::to_string(given) + " arguments",
                       out);
            const size_t close = Closing(e, k + 1);
            if (!Is(e, close + 1, ";")) {
                Refuse(e, close, "a ';' must end each entry of a state block", out);
                return;
            }
            k = close + 2;
            continue;
        }
        size_t at = k + 1;
        if (IsName(e, k) && Is(e, at, "[")) {
            // state-block-syntax.shader_test: one index, a non-negative
            // integer literal ("dogs[3 + 4]", "dogs[-2]", "dogs[a]" and
            // "dogs[1][1]" are refused).
            if (e.tokens[at + 1].kind != TokenKind::Number || !Is(e, at + 2, "]") ||
                Is(e, at + 3, "[")) {
                Refuse(e, at, "a state's index is one integer literal", out);
                return;
            }
            at += 3;
        }
        if (!IsName(e, k) || !Is(e, at, "=")) {
            Refuse(e, k, "an entry of a state block is 'name = value;'", out);
            return;
        }
        size_t semicolon = at + 1;
        while (semicolon < end && !Is(e, semicolon, ";"))
            semicolon = Opens(e, semicolon) ? Closing(e, semicolon) + 1 : semicolon + 1;
        if (semicolon >= end) {
            Refuse(e, end, "a ';' must end each entry of a state block", out);
            return;
        }
        CheckValue(e, at + 1, semicolon, true, out);
        k = semicolon + 1;
    }
}

// A variable's state block from open, its '{': the entries, or one block
// for each component of the variable in a list, where that number is known
// (elements; 0 where not).
void CheckStateBlock(const Effect &e, size_t open, int elements, Diagnostics &out) {
    const size_t close = Closing(e, open);
    if (!Is(e, open + 1, "{")) {
        CheckEntries(e, open + 1, close, out);
        return;
    }
    // state-block-syntax.shader_test: a list of blocks, without a trailing
    // comma and one level deep, as many as the variable's components.
    int count = 0;
    for (size_t k = open + 1; k < close;) {
        if (!Is(e, k, "{")) {
            Refuse(e, k, "a list of state blocks holds blocks only", out);
            return;
        }
        const size_t end = Closing(e, k);
        if (Is(e, k + 1, "{")) {
            Refuse(e, k + 1, "state blocks nest one level deep only", out);
            return;
        }
        CheckEntries(e, k + 1, end, out);
        ++count;
        k = end + 1;
        if (Is(e, k, ",")) {
            if (!Is(e, k + 1, "{")) {
                Refuse(e, k, "a list of state blocks ends without a ','", out);
                return;
            }
            ++k;
        }
    }
    if (elements > 0 && count != elements)
        Refuse(e, open,
               std::to_string(count) + " state blocks for a variable of " +
                   std::to_string(elements) + " components",
               out);
}

// technique, technique10, technique11 from at: "technique10 name <...>
// { pass name <...> { entries } ... }"; returns its '}'.
size_t CheckTechnique(const Effect &e, size_t at, bool inGroup, Diagnostics &out) {
    // fxgroup-syntax.shader_test: a group holds technique10 and
    // technique11 only.
    if (inGroup && Lower(Text(e, at)) == "technique")
        Refuse(e, at, "an fxgroup holds technique10 and technique11 blocks only", out);
    size_t open = at + 1;
    if (IsName(e, open)) ++open;
    if (Is(e, open, "<")) open = AnnotationEnd(e, open) + 1;
    if (!Is(e, open, "{")) return open;
    const size_t close = Closing(e, open);
    for (size_t k = open + 1; k < close; ++k) {
        if (Lower(Text(e, k)) != "pass") continue;
        size_t body = k + 1;
        if (IsName(e, body)) ++body;
        if (Is(e, body, "<")) body = AnnotationEnd(e, body) + 1;
        if (!Is(e, body, "{")) continue;
        CheckEntries(e, body + 1, Closing(e, body), out);
        k = Closing(e, body);
    }
    return close;
}

bool IsTechnique(const Effect &e, size_t at) {
    const std::string word = Lower(Text(e, at));
    return word == "technique" || word == "technique10" || word == "technique11";
}

bool IsModifier(std::string_view word) {
    for (const char *m : {"static", "uniform", "extern", "shared", "const", "volatile", "row_major",
                          "column_major", "snorm", "unorm"})
        if (word == m) return true;
    return false;
}

// The next global declaration after the one at at.
size_t NextDeclaration(const Effect &e, size_t at) {
    bool initializer = false;
    for (; at < e.tokens.size(); ++at) {
        if (Is(e, at, ";")) return at + 1;
        if (Is(e, at, "=")) {
            initializer = true;
        } else if (Is(e, at, "{") && !initializer) {
            at = Closing(e, at);
            return Is(e, at + 1, ";") ? at + 2 : at + 1;
        } else if (Opens(e, at)) {
            at = Closing(e, at);
        }
    }
    return e.tokens.size();
}

// The ',' or ';' that ends the declarator whose initial value is at at.
size_t NextDeclarator(const Effect &e, size_t at) {
    while (at < e.tokens.size() && !Is(e, at, ",") && !Is(e, at, ";"))
        at = Opens(e, at) ? Closing(e, at) + 1 : at + 1;
    return at;
}

// A global variable from type: its declarators' state blocks, and the
// initial value of a shader object (effect-compile.shader_test: a number
// or another variable is refused, "= {42}" compiles).
size_t CheckVariable(const Effect &e, size_t type, bool check, Diagnostics &out) {
    size_t k = type + 1; // past a template's "<float4>"
    if (Is(e, k, "<"))
        while (k < e.tokens.size() && !Is(e, k, ">") && !Is(e, k, ";"))
            ++k;
    if (Is(e, k, ">")) ++k;
    const int each = IsObjectType(Text(e, type)) ? 1 : Components(Text(e, type));
    while (IsName(e, k)) {
        int elements = each;
        for (++k; Is(e, k, "["); k = Closing(e, k) + 1)
            elements *= e.tokens[k + 1].kind == TokenKind::Number && Is(e, k + 2, "]")
                            ? std::atoi(std::string(Text(e, k + 1)).c_str())
                            : 0;
        while (Is(e, k, ":")) {
            k += 2;
            if (Is(e, k, "(")) k = Closing(e, k) + 1;
        }
        if (Is(e, k, "<")) k = AnnotationEnd(e, k) + 1;
        if (Is(e, k, "{")) {
            if (check) CheckStateBlock(e, k, elements, out);
            k = Closing(e, k) + 1;
            // state-block-syntax.shader_test: the block ends the
            // declarator ("float f {} = 1;", "float f {} : register(c1);").
            if (check && (Is(e, k, "=") || Is(e, k, ":")))
                Refuse(e, k, "syntax error: unexpected token '" + std::string(Text(e, k)) + "'",
                       out);
        } else if (Is(e, k, "=")) {
            ++k;
            if (Is(e, k, "sampler_state")) {
                // state-block-syntax.shader_test: "= sampler_state;" is refused.
                if (!Is(e, k + 1, "{")) {
                    if (check) Refuse(e, k, "sampler_state needs a state block", out);
                    return k;
                }
                if (check) CheckStateBlock(e, k + 1, elements, out);
                k = Closing(e, k + 1) + 1;
            } else {
                const size_t value = k;
                k                  = NextDeclarator(e, k);
                // Only the upper-case NULL is the null object (vkd3d-tests
                // null.shader_test: "Texture var = null;" is refused).
                if (check && Is(e, value, "null") && k == value + 1)
                    Refuse(e, value, "undeclared identifier 'null' (the null object is NULL)", out);
                if (check && IsShaderType(Text(e, type)) && !Is(e, value, "{")) {
                    const std::string_view v = Text(e, value);
                    if (v != "compile" && v != "CompileShader" && v != "ConstructGSWithSO" &&
                        v != "NULL" && v != "asm")
                        Refuse(e, value,
                               "a shader object's initial value is a shader, not '" +
                                   std::string(v) + "'",
                               out);
                    CheckValue(e, value, k, false, out);
                } else if (check && IsObjectType(Text(e, type)) && !Is(e, value, "{")) {
                    // null.shader_test: NULL, but not null, is an object's value.
                    CheckValue(e, value, k, false, out);
                }
            }
        }
        if (!Is(e, k, ",")) break;
        ++k;
    }
    return k;
}

// Global declarations, effect syntax or not: with check false, records the
// effect bodies; with it true, judges them.
void Walk(Effect &e, bool check, Diagnostics &out) {
    for (size_t start = 0; start < e.tokens.size();) {
        size_t at = start; // past attributes ("[maxvertexcount(4)]") and modifiers
        while (Is(e, at, "["))
            at = Closing(e, at) + 1;
        while (IsModifier(Text(e, at)))
            ++at;
        const std::string word = Lower(Text(e, at));
        if (word == "fxgroup" || IsTechnique(e, at)) {
            size_t open = at + 1;
            if (IsName(e, open)) ++open;
            if (Is(e, open, "<")) open = AnnotationEnd(e, open) + 1;
            if (Is(e, open, "{")) {
                const size_t close = Closing(e, open);
                if (!check) e.bodies.emplace_back(start, close);
                if (check && word == "fxgroup") {
                    for (size_t k = open + 1; k < close; ++k)
                        if (IsTechnique(e, k)) k = CheckTechnique(e, k, true, out);
                } else if (check) {
                    CheckTechnique(e, at, false, out);
                }
                start = Is(e, close + 1, ";") ? close + 2 : close + 1;
                continue;
            }
        }
        const bool declaration = IsName(e, at) && word != "struct" && word != "cbuffer" &&
                                 word != "tbuffer" && word != "typedef" && word != "class" &&
                                 word != "interface";
        if (declaration) {
            size_t name = at + 1;
            if (Is(e, name, "<"))
                while (name < e.tokens.size() && !Is(e, name, ">") && !Is(e, name, ";"))
                    ++name;
            if (Is(e, name, ">")) ++name;
            if (IsName(e, name) && !Is(e, name + 1, "(")) {
                const size_t end = CheckVariable(e, at, check, out);
                if (!check) {
                    // The state blocks: braces not of an initial value.
                    for (size_t k = name; k < end; ++k) {
                        if (Is(e, k, "=") && !Is(e, k + 1, "sampler_state")) {
                            // An object's initial value is effect syntax
                            // too: the names it uses declare nothing.
                            const size_t next = NextDeclarator(e, k);
                            if (IsObjectType(Text(e, at))) e.bodies.emplace_back(k, next - 1);
                            k = next;
                        } else if (Is(e, k, "{")) {
                            e.bodies.emplace_back(k, Closing(e, k));
                            k = Closing(e, k);
                        }
                    }
                }
                start = NextDeclaration(e, start);
                continue;
            }
        }
        start = NextDeclaration(e, start);
    }
}

} // namespace

void CheckEffectRules(const std::string &preprocessed, const LexedHlsl &lexed,
                      const HlslModel &model, Diagnostics &out) {
    Effect e{preprocessed, lexed.files, CodeTokens(lexed.tokens), model, {}, {}};
    if (e.tokens.empty()) return;
    Walk(e, false, out);
    std::sort(e.bodies.begin(), e.bodies.end());
    size_t body = 0;
    for (size_t k = 0; k < e.tokens.size(); ++k) {
        while (body < e.bodies.size() && e.bodies[body].second < k)
            ++body;
        const bool inside = body < e.bodies.size() && e.bodies[body].first <= k;
        if (!inside && IsName(e, k)) e.known.emplace(Text(e, k));
    }
    Walk(e, true, out);
}
