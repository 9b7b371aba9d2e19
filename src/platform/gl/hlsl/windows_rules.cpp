// Each rule cites the vkd3d test file (../shared/vkd3d-tests/hlsl) that
// records the Windows compiler refusing the form, and keeps to the narrowest
// reading of it: where the record shows a close form compiling, that form is
// named beside the rule. What a declaration declares, a loop counts or an
// initializer reads, and where a function's body is, are the model's; the
// text is read for what the model does not keep: modifiers and attributes
// as written, each register() as spelled, the places all of them stand.
// The tree is read for what only it says for sure (a swizzle's
// components, an entry point's semantics).
#include "platform/gl/hlsl/windows_rules.h"

#include "platform/gl/hlsl/model/model.h"

#include "platform/gl/common/diagnostics.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The code tokens (LexHlsl's, without the directive lines) with, for each,
// where it stands: 'g' at file scope, 'f' in a function's body, 'o' in
// other braces (a structure, a cbuffer, an initializer). An operator is one
// token as glslang reads it: the '=' of "<=" is no '=' of its own.
struct Source {
    std::string_view text;
    const LexedHlsl &lexed;
    const HlslModel &model;
    HlslPlaces places;
    Tokens tokens;
    std::vector<char> scope;
};

constexpr size_t kNowhere = static_cast<size_t>(-1);

// The code token that the model's token at pos, `length` characters long,
// is in the text as the passes left it; kNowhere where a pass replaced it.
// What the model says is reported there, as the text glslang read has it.
size_t TokenOf(const Source &s, const HlslPos &pos, size_t length) {
    size_t begin = 0;
    if (!s.places.Now(pos.offset, length, begin)) return kNowhere;
    const auto it =
        std::lower_bound(s.tokens.begin(), s.tokens.end(), begin,
                         [](const Token &t, size_t offset) { return t.offset < offset; });
    if (it == s.tokens.end() || it->offset != begin || it->length != length) return kNowhere;
    return static_cast<size_t>(it - s.tokens.begin());
}

// The spelling of the token at `at`; empty past the last one.
std::string_view Text(const Source &s, size_t at) {
    return at < s.tokens.size() ? Spelling(s.text, s.tokens[at]) : std::string_view();
}

bool Is(const Source &s, size_t at, std::string_view spelling) {
    return at < s.tokens.size() && ::Is(s.text, s.tokens[at], spelling);
}

bool IsName(const Source &s, size_t at) {
    return at < s.tokens.size() && s.tokens[at].kind == TokenKind::Identifier;
}

// glslang's preprocessor collapses spaces, so a token's column is looked
// for on its line of the file as written, after the token before it.
void PlaceColumns(Source &s, const std::string &original) {
    std::vector<size_t> lineStarts = {0};
    for (size_t at = 0; at < original.size(); ++at)
        if (original[at] == '\n') lineStarts.push_back(at + 1);
    int line      = 0;
    size_t cursor = 0;
    for (Token &t : s.tokens) {
        if (t.file != 0 || t.line < 1 || t.line > static_cast<int>(lineStarts.size())) continue;
        const size_t start = lineStarts[t.line - 1];
        const size_t end   = std::min(original.find('\n', start), original.size());
        if (t.line != line) cursor = start;
        line            = t.line;
        const size_t at = original.find(Spelling(s.text, t), cursor);
        if (at == std::string::npos || at + t.length > end) continue;
        t.column = static_cast<int>(at - start) + 1;
        cursor   = at + t.length;
    }
}

// The function bodies are the model's, found where the text has them; the
// '{' that opens a block stands outside it, the '}' that closes it inside.
void FindScopes(Source &s) {
    s.scope.assign(s.tokens.size(), 'o');
    int depth = 0;
    for (size_t at = 0; at < s.tokens.size(); ++at) {
        if (depth == 0) s.scope[at] = 'g';
        depth = std::max(depth + Is(s, at, "{") - Is(s, at, "}"), 0);
    }
    for (const HlslFunction &f : s.model.functions) {
        const size_t open = f.body < 0 ? kNowhere : TokenOf(s, s.model.stmts[f.body].pos, 1);
        if (open == kNowhere) continue;
        const size_t close = ClosingBracket(s.text, s.tokens, open);
        for (size_t at = open + 1; at <= close && at < s.tokens.size(); ++at)
            s.scope[at] = 'f';
    }
}

// Whether the token at `at` starts a statement or a declaration.
bool StartsStatement(const Source &s, size_t at) {
    return at == 0 || Is(s, at - 1, ";") || Is(s, at - 1, "{") || Is(s, at - 1, "}");
}

void Refuse(const Source &s, size_t at, const std::string &text, Diagnostics &out,
            const char *code = "") {
    const Token &t = s.tokens[std::min(at, s.tokens.size() - 1)];
    out.Error(s.lexed.files[t.file], t.line, t.column, text, code);
}

// A refusal found on the model, reported in the order of the text.
struct Found {
    size_t at;
    std::string text;
    const char *code = "";
};

void Report(const Source &s, std::vector<Found> &found, Diagnostics &out) {
    std::stable_sort(found.begin(), found.end(),
                     [](const Found &a, const Found &b) { return a.at < b.at; });
    for (const Found &f : found)
        Refuse(s, f.at, f.text, out, f.code);
}

const std::set<std::string, std::less<>> kModifiers = {
    "static", "uniform",         "extern",       "const",    "volatile",
    "shared", "groupshared",     "precise",      "in",       "out",
    "inout",  "nointerpolation", "linear",       "centroid", "noperspective",
    "sample", "row_major",       "column_major", "snorm",    "unorm",
    "inline", "typedef"};

bool IsModifier(const Source &s, size_t at) {
    return at < s.tokens.size() && kModifiers.count(Text(s, at));
}

// The run of modifiers that holds token at: [first, end).
void ModifierRun(const Source &s, size_t at, size_t &first, size_t &end) {
    first = at;
    while (first > 0 && IsModifier(s, first - 1))
        --first;
    end = at;
    while (IsModifier(s, end))
        ++end;
}

// The components of one value of the scalar, vector or matrix type the name
// spells, and whether it is a matrix; 0 for any other name.
int BuiltinComponents(std::string_view name, bool &matrix) {
    HlslType type;
    matrix = false;
    if (!BuiltinTypeFromName(name, type) || !type.IsNumeric()) return 0;
    matrix = type.kind == HlslClass::Matrix;
    return type.ComponentCount();
}

// The members of every structure of the model, named or anonymous, each
// once: a structure is found through a declaration, a base or a member of
// its type.
std::vector<const HlslField *> Fields(const HlslModel &model) {
    std::vector<const HlslStruct *> pending;
    for (const HlslSymbol &symbol : model.symbols)
        pending.push_back(symbol.type.structure.get());
    std::set<const HlslStruct *> seen;
    std::vector<const HlslField *> fields;
    while (!pending.empty()) {
        const HlslStruct *structure = pending.back();
        pending.pop_back();
        if (!structure || !seen.insert(structure).second) continue;
        pending.push_back(structure->base.get());
        for (const HlslField &field : structure->fields) {
            fields.push_back(&field);
            pending.push_back(field.type.structure.get());
        }
    }
    return fields;
}

// row_major and column_major name a matrix's layout: once, on a matrix, and
// not against what a typedef already chose (majority-syntax.shader_test;
// the same keyword again through a typedef compiles there).
void CheckMajority(const Source &s, const HlslModel &model, Diagnostics &out) {
    size_t checkedTo = 0;
    for (size_t at = 0; at < s.tokens.size(); ++at) {
        const std::string_view t = Text(s, at);
        if ((t != "row_major" && t != "column_major") || at < checkedTo) continue;
        size_t first, end;
        ModifierRun(s, at, first, end);
        checkedTo = end;
        std::vector<std::string> given;
        for (size_t k = first; k < end; ++k)
            if (Text(s, k) == "row_major" || Text(s, k) == "column_major")
                given.emplace_back(Text(s, k));
        if (given.size() > 1) {
            if (given[0] == given[1])
                Refuse(s, at, "'" + given[0] + "' is given more than once", out);
            else
                Refuse(s, at, "matrix types cannot be both column_major and row_major", out,
                       "X3048");
            continue;
        }
        if (end >= s.tokens.size()) continue;
        const std::string type(Text(s, end)), word(t);
        bool matrix          = false;
        const int components = BuiltinComponents(type, matrix);
        // A typedef's type as the model has it: through other typedefs, with
        // the majority any of them gave.
        const int symbol      = FindGlobal(model, type);
        const HlslType *named = symbol >= 0 && model.symbols[symbol].kind == HlslSymbolKind::Typedef
                                    ? &model.symbols[symbol].type
                                    : nullptr;
        const char *majority  = !named                                      ? ""
                                : named->major == HlslMajority::RowMajor    ? "row_major"
                                : named->major == HlslMajority::ColumnMajor ? "column_major"
                                                                            : "";
        std::string why;
        if (type == "struct" || (components > 0 && !matrix))
            why = "'" + word + "' applies only to matrices, not to '" + type + "'";
        else if (named && (named->IsArray() || named->kind != HlslClass::Matrix))
            why = "'" + word + "' applies only to matrices; '" + type + "' is not one";
        else if (named && *majority && word != majority)
            why = "'" + word + "' contradicts the '" + majority + "' of '" + type + "'";
        if (!why.empty()) Refuse(s, at, why, out);
    }
}

// A register() may name the profile it is for: a stage ("ps") or a whole
// profile ("ps_4_0"), in lower case; two registers of one variable for the
// same target, or that both apply to the profile compiled, must agree
// (register-reservations-profile.shader_test: "PS", "qs" and "ps_4" are
// refused, "ps[5]" is not judged here).
bool IsLetter(char c) {
    return IsIdentifierStart(c) && c != '_';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Letters, then the register's number: "t1", "cb0".
bool IsRegisterName(const std::string &text) {
    size_t letters = 0;
    while (letters < text.size() && IsLetter(text[letters]))
        ++letters;
    return letters > 0 && letters < text.size() &&
           std::all_of(text.begin() + letters, text.end(), IsDigit);
}

bool IsProfileName(const std::string &text) {
    static const char *const kStages[] = {"vs", "ps", "gs", "hs", "ds", "cs"};
    bool stage                         = false;
    for (const char *name : kStages)
        stage = stage || text.compare(0, 2, name) == 0;
    if (!stage) return false;
    if (text.size() == 2) return true;
    // The Windows compiler knows the models 2 to 5 ("ps_6_0" is refused),
    // with their variants: ps_2_a, ps_2_sw, ps_4_0_level_9_1.
    if (text.size() < 6 || text[2] != '_' || text[3] < '2' || text[3] > '5' || text[4] != '_' ||
        !(IsLetter(text[5]) || IsDigit(text[5])))
        return false;
    return text.size() == 6 || text.compare(5, 2, "sw") == 0 ||
           (text.compare(6, 9, "_level_9_") == 0 && text.size() == 16 && IsDigit(text[15]));
}

// ConstantBuffer<T> and register spaces ("register(b0, space1)") came with
// shader model 5.1's resource binding (HLSL reference, "Resource Binding in
// HLSL"; vkd3d-tests register-reservations-space.shader_test runs spaces at
// 5.1 and up only, and the reference has no earlier form).
void CheckModel51Forms(const Source &s, const std::string &profile, Diagnostics &out) {
    const bool model51 =
        profile.size() >= 6 && (profile[3] > '5' || (profile[3] == '5' && profile[5] >= '1'));
    if (model51) return;
    for (size_t at = 0; at + 1 < s.tokens.size(); ++at) {
        if (Is(s, at, "ConstantBuffer") && Is(s, at + 1, "<"))
            Refuse(s, at, "ConstantBuffer needs shader model 5.1; the profile is " + profile, out);
        const std::string_view t = Text(s, at);
        if (Is(s, at - 1, ",") && t.size() > 5 && t.compare(0, 5, "space") == 0 &&
            std::all_of(t.begin() + 5, t.end(), IsDigit) && Is(s, at + 1, ")"))
            for (size_t k = at; k > 0 && k + 8 > at; --k)
                if (Is(s, k, "register") && Is(s, k + 1, "(")) {
                    Refuse(s, at,
                           "register spaces need shader model 5.1; the profile is " + profile, out);
                    break;
                }
    }
}

void CheckRegisters(const Source &s, const std::string &profile, Diagnostics &out) {
    struct Binding {
        std::string profile, slot;
        size_t at;
    };
    for (size_t at = 1; at < s.tokens.size(); ++at) {
        if (!Is(s, at, "register") || !Is(s, at - 1, ":") || Is(s, at - 2, ")")) continue;
        // The variable's register()s, one after another.
        std::vector<Binding> bindings;
        bool judged = true;
        for (size_t k = at; Is(s, k, "register") && Is(s, k + 1, "(");) {
            std::vector<std::vector<std::string>> arguments(1);
            size_t close = k + 2;
            for (int depth = 0; close < s.tokens.size(); ++close) {
                const std::string_view u = Text(s, close);
                if (u == "(" || u == "[") ++depth;
                if ((u == ")" || u == "]") && depth-- == 0) break;
                if (u == "," && depth == 0)
                    arguments.emplace_back();
                else
                    arguments.back().emplace_back(u);
            }
            Binding binding{"", "", k};
            const auto &first = arguments[0];
            if (arguments.size() >= 2 && !(first.size() == 1 && IsRegisterName(first[0]))) {
                if (first.size() != 1) judged = false;
                binding.profile = first.empty() ? "" : first[0];
                if (judged && !IsProfileName(binding.profile))
                    Refuse(s, k, "'" + binding.profile + "' is not a shader profile", out);
                for (const std::string &u : arguments[1])
                    binding.slot += u;
            } else {
                for (const std::string &u : first)
                    binding.slot += u;
            }
            std::transform(binding.slot.begin(), binding.slot.end(), binding.slot.begin(),
                           [](char c) { return std::tolower(static_cast<unsigned char>(c)); });
            bindings.push_back(binding);
            k = close + 2;
            if (!Is(s, close + 1, ":")) break;
        }
        if (!judged) continue;
        // Two registers clash when they are for the same target, or when both
        // apply to the profile compiled ("ps" and "ps_5_0" compile for ps_4_0).
        auto applies = [&](const std::string &target) {
            return target.empty() || target == profile ||
                   (target.size() == 2 && profile.compare(0, 2, target) == 0);
        };
        auto overlap = [&](const std::string &a, const std::string &b) {
            return a == b || (applies(a) && applies(b));
        };
        for (size_t i = 0; i < bindings.size(); ++i)
            for (size_t j = i + 1; j < bindings.size(); ++j)
                if (overlap(bindings[i].profile, bindings[j].profile) &&
                    bindings[i].slot != bindings[j].slot)
                    Refuse(s, bindings[j].at,
                           "conflicting registers '" + bindings[i].slot + "' and '" +
                               bindings[j].slot + "' for the same profile",
                           out);
    }
}

// [name] and [name(args)] before a statement or a function: one attribute
// may not be given twice, by exact name ([one][One] compiles), and a
// variable takes none, nor a statement hints that contradict each other
// ([branch] with [flatten], [loop] with [unroll]) (attributes.shader_test,
// conditional.shader_test, for.shader_test).
void CheckAttributes(const Source &s, Diagnostics &out) {
    for (size_t at = 0; at < s.tokens.size(); ++at) {
        if (!Is(s, at, "[") || (s.scope[at] != 'g' && s.scope[at] != 'f')) continue;
        const bool statementStart = at == 0 || Is(s, at - 1, ";") || Is(s, at - 1, "{") ||
                                    Is(s, at - 1, "}") || Is(s, at - 1, "else") ||
                                    (s.scope[at] == 'f' && Is(s, at - 1, ":"));
        if (!statementStart) continue;
        std::vector<std::pair<std::string, size_t>> names;
        size_t end = at;
        while (Is(s, end, "[") && end + 1 < s.tokens.size() && IsName(s, end + 1)) {
            size_t k = end + 2;
            if (Is(s, k, "(")) {
                for (int depth = 0; k < s.tokens.size(); ++k) {
                    if (Is(s, k, "(")) ++depth;
                    if (Is(s, k, ")") && --depth == 0) break;
                }
                ++k;
            }
            if (!Is(s, k, "]")) break;
            names.emplace_back(Text(s, end + 1), end + 1);
            end = k + 1;
        }
        if (names.empty()) continue;
        for (size_t i = 0; i < names.size(); ++i)
            for (size_t j = 0; j < i; ++j)
                if (names[i].first == names[j].first)
                    Refuse(s, names[i].second,
                           "attribute '" + names[i].first + "' is given more than once", out);
        // Hints that contradict each other (X3524, conditional.shader_test).
        static const std::pair<const char *, const char *> kConflicting[] = {{"branch", "flatten"},
                                                                             {"loop", "unroll"}};
        for (const auto &[first, second] : kConflicting) {
            size_t a = 0, b = 0;
            for (const auto &[name, token] : names) {
                if (name == first) a = token;
                if (name == second) b = token;
            }
            if (a && b)
                Refuse(s, std::max(a, b),
                       std::string("can't use ") + first + " and " + second +
                           " attributes together",
                       out);
        }
        if (s.scope[at] == 'g') {
            size_t k = end;
            while (k < s.tokens.size() && !Is(s, k, "(") && !Is(s, k, ";") && !Is(s, k, "{"))
                ++k;
            if (Is(s, k, ";"))
                Refuse(s, names[0].second,
                       "attribute '" + names[0].first +
                           "' applies to functions and statements, "
                           "not to a variable",
                       out);
        }
        at = end - 1;
    }
}

// A whole number the loop's header may count with: a literal or a const of
// an integer type, folded ("1024", "N", "-N").
bool LoopNumber(const HlslModel &model, int expr, long &value) {
    HlslConstant c;
    if (expr < 0 || !EvaluateConstant(model, expr, c) || c.values.size() != 1 ||
        !IsIntegerScalar(c.type.scalar))
        return false;
    value = static_cast<long>(c.values[0]);
    return true;
}

// Whether expr names the symbol.
bool Names(const HlslModel &model, int expr, int symbol) {
    return expr >= 0 && model.exprs[expr].kind == HlslExprKind::Name &&
           model.exprs[expr].symbol == symbol && symbol >= 0;
}

// The number of iterations of the for loop, where its header counts one
// variable from a constant to a constant by a constant step
// ("for (i = 0; i < 1024; ++i)"); -1 where it does not.
long LoopIterations(const HlslModel &model, const HlslStmt &loop) {
    const int init = loop.children.empty() ? -1 : loop.children[0];
    if (init < 0) return -1;
    const HlslStmt &first = model.stmts[init];
    int counter = -1, from = -1;
    if (first.kind == HlslStmtKind::Decl && first.symbols.size() == 1) {
        counter = first.symbols[0];
        from    = model.symbols[counter].initializer;
    } else if (first.kind == HlslStmtKind::Expr && first.expr >= 0) {
        const HlslExpr &e = model.exprs[first.expr];
        // A half-read expression may lack an operand.
        if (e.kind != HlslExprKind::Assign || e.text != "=" || e.children.size() != 2 ||
            e.children[0] < 0)
            return -1;
        counter = model.exprs[e.children[0]].symbol;
        if (!Names(model, e.children[0], counter)) return -1;
        from = e.children[1];
    }
    long start = 0, last = 0, step = 0;
    if (counter < 0 || !LoopNumber(model, from, start) || loop.expr < 0) return -1;
    const HlslExpr &test          = model.exprs[loop.expr];
    const std::string &comparison = test.text;
    if (test.kind != HlslExprKind::Binary || test.children.size() != 2 ||
        !Names(model, test.children[0], counter) || !LoopNumber(model, test.children[1], last) ||
        loop.step < 0)
        return -1;
    const HlslExpr &next = model.exprs[loop.step];
    const bool counted   = !next.children.empty() && Names(model, next.children[0], counter);
    if (counted && (next.kind == HlslExprKind::Unary || next.kind == HlslExprKind::Postfix))
        step = next.text == "++" ? 1 : next.text == "--" ? -1 : 0;
    else if (counted && next.kind == HlslExprKind::Assign &&
             (next.text == "+=" || next.text == "-=") && next.children.size() == 2 &&
             LoopNumber(model, next.children[1], step))
        step = next.text == "-=" ? -step : step;
    if (step == 0) return -1;
    if (comparison == "<=" || comparison == ">=") last += step > 0 ? 1 : -1;
    const bool up = comparison == "<" || comparison == "<=" || comparison == "!=";
    if (!up && comparison != ">" && comparison != ">=") return -1;
    if (up != (step > 0) && comparison != "!=") return -1;
    const long span = last - start;
    if (span == 0 || (span > 0) != (step > 0)) return 0;
    return (span + step + (step > 0 ? -1 : 1)) / step;
}

// [unroll] without a count: the Windows compiler unrolls at most 1023
// iterations and refuses a loop that runs more (unroll.shader_test records
// 1024 refused, and [unroll(1337)] of 1337 compiling).
void CheckUnroll(const Source &s, Diagnostics &out) {
    std::vector<Found> found;
    for (const HlslStmt &loop : s.model.stmts) {
        if (loop.kind != HlslStmtKind::For ||
            std::find(loop.attributes.begin(), loop.attributes.end(), "unroll") ==
                loop.attributes.end())
            continue;
        const long iterations = LoopIterations(s.model, loop);
        const size_t at       = TokenOf(s, loop.pos, 3);
        if (iterations >= 1024 && at != kNowhere)
            found.push_back(
                {at,
                 "unable to unroll loop, loop does not appear to terminate in a timely manner (" +
                     std::to_string(iterations) +
                     " iterations); use the [unroll(n)] attribute to force an exact higher "
                     "number"});
    }
    Report(s, found, out);
}

// Names a declaration may not take: "technique" in any case and "fxgroup"
// are effect keywords (effect-technique-fx_4.shader_test: "teChnique" is
// refused, "teChnique10" and "fxGroup" compile); a built-in type's name is
// refused for a variable or typedef at file scope (type-names.shader_test;
// inside a function the same names compile there).
void CheckNames(const Source &s, Diagnostics &out) {
    static const std::set<std::string, std::less<>> kTypeNames = {
        "float", "double", "half", "int", "uint", "bool", "dword", "matrix", "vector"};
    std::vector<Found> found;
    auto judge = [&](const std::string &name, const HlslPos &pos, bool global) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return std::tolower(static_cast<unsigned char>(c)); });
        const size_t at = TokenOf(s, pos, name.size());
        if (at == kNowhere) return;
        if (lower == "technique" || name == "fxgroup")
            found.push_back({at, "'" + name + "' is a keyword of effects, not a name"});
        else if (global && kTypeNames.count(name))
            found.push_back({at, "'" + name + "' is the name of a type"});
    };
    for (const HlslSymbol &symbol : s.model.symbols) {
        if (symbol.kind != HlslSymbolKind::Variable && symbol.kind != HlslSymbolKind::Parameter &&
            symbol.kind != HlslSymbolKind::Typedef)
            continue;
        judge(symbol.name, symbol.pos,
              symbol.scope == 0 && symbol.kind != HlslSymbolKind::Parameter && symbol.buffer < 0);
    }
    for (const HlslField *field : Fields(s.model)) {
        HlslPos pos;
        pos.offset = field->offset;
        judge(field->name, pos, false);
    }
    Report(s, found, out);
}

// Storage classes as written: each is given once (invalid.shader_test:
// "const const"); uniform goes with neither static nor out, nor on a local
// or on a function's result, nor with in outside a parameter list
// (invalid.shader_test; storage-qualifiers.shader_test compiles "uniform in"
// parameters).
void CheckStorage(const Source &s, Diagnostics &out) {
    size_t checkedTo = 0;
    for (size_t at = 0; at < s.tokens.size(); ++at) {
        if (!IsModifier(s, at) || at < checkedTo) continue;
        size_t first, end;
        ModifierRun(s, at, first, end);
        checkedTo = end;
        std::set<std::string> given;
        for (size_t k = first; k < end; ++k) {
            const std::string modifier(Text(s, k));
            // CheckMajority says it of row_major and column_major.
            if (!given.insert(modifier).second && modifier.find("major") == std::string::npos)
                Refuse(s, k, "'" + modifier + "' is given more than once", out);
        }
        const bool statementStart = StartsStatement(s, first);
        // An extern variable is the application's to set, a static one the
        // shader's own (HLSL reference, Variable Syntax).
        if (given.count("extern") && given.count("static"))
            Refuse(s, first, "'extern' and 'static' do not go together", out);
        if (given.count("uniform")) {
            if (given.count("static"))
                Refuse(s, first, "'static' and 'uniform' do not go together", out);
            else if (given.count("out") || given.count("inout"))
                Refuse(s, first, "'uniform' does not go with 'out' or 'inout'", out);
            else if (given.count("in") && statementStart)
                Refuse(s, first, "a variable cannot be both 'uniform' and 'in'", out);
            else if (s.scope[first] == 'f')
                Refuse(s, first, "a local variable cannot be 'uniform'", out);
            else if (s.scope[first] == 'g' && statementStart && Is(s, end + 2, "("))
                Refuse(s, first, "a function's result cannot be 'uniform'", out);
        }
        // nointerpolation reads the first vertex's value, which no other
        // interpolation mode goes with (nointerpolation.shader_test refuses
        // "nointerpolation centroid").
        for (const char *mode : {"centroid", "linear", "noperspective", "sample"})
            if (given.count("nointerpolation") && given.count(mode)) {
                Refuse(s, first, "'nointerpolation' does not go with '" + std::string(mode) + "'",
                       out);
                break;
            }
    }
}

// A const local needs its value (const.shader_test, invalid.shader_test).
void CheckConstLocals(const Source &s, Diagnostics &out) {
    const HlslModel &model = s.model;
    // A loop's own declaration is not judged here.
    std::vector<bool> loopStart(model.stmts.size());
    for (const HlslStmt &loop : model.stmts)
        if (loop.kind == HlslStmtKind::For && !loop.children.empty() && loop.children[0] >= 0)
            loopStart[loop.children[0]] = true;
    std::vector<Found> found;
    for (size_t k = 0; k < model.stmts.size(); ++k) {
        if (model.stmts[k].kind != HlslStmtKind::Decl || loopStart[k]) continue;
        for (int declared : model.stmts[k].symbols) {
            const HlslSymbol &symbol = model.symbols[declared];
            const size_t at          = TokenOf(s, symbol.pos, symbol.name.size());
            if ((symbol.storage & kConst) && symbol.initializer < 0 && at != kNowhere)
                found.push_back({at, "'" + symbol.name + "': missing initial value", "X3012"});
        }
    }
    Report(s, found, out);
}

// A flat list of number literals, signed or not: how many there are; -1
// for any other initializer.
int LiteralCount(const HlslModel &model, int expr, bool top = true) {
    if (expr < 0) return -1; // a half-read expression
    const HlslExpr &e = model.exprs[expr];
    if (e.kind == HlslExprKind::Literal)
        return std::isdigit(static_cast<unsigned char>(e.text[0])) || e.text[0] == '.' ? 1 : -1;
    if (e.kind == HlslExprKind::Unary && (e.text == "-" || e.text == "+") && !e.children.empty())
        return LiteralCount(model, e.children[0], false);
    if (e.kind != HlslExprKind::InitList || !top) return -1;
    int count = 0;
    for (int child : e.children) {
        const int values = LiteralCount(model, child, false);
        if (values < 0) return -1;
        count += values;
    }
    return count;
}

// Arrays: an implicit size ("[]") comes only from the initializer of a
// variable, whose values fill whole elements; a structure member or a
// typedef has none (initializer-implicit-array.shader_test).
void CheckImplicitSizes(const Source &s, Diagnostics &out) {
    const HlslModel &model = s.model;
    // The model sizes such an array from its initializer: the "[]" is read
    // where the declaration wrote it, right after the name. Its '[' is
    // where it is refused.
    auto implicitAt = [&](const std::string &name, size_t offset) {
        HlslPos pos;
        pos.offset      = offset;
        const size_t at = TokenOf(s, pos, name.size());
        return at != kNowhere && Is(s, at + 1, "[") && Is(s, at + 2, "]") ? at + 1 : kNowhere;
    };
    std::vector<Found> found;
    for (const HlslSymbol &symbol : model.symbols) {
        const bool variable = symbol.kind == HlslSymbolKind::Variable;
        if (!variable && symbol.kind != HlslSymbolKind::Typedef) continue;
        const size_t at = implicitAt(symbol.name, symbol.pos.offset);
        if (at == kNowhere) continue;
        const std::string name = "'" + symbol.name + "'";
        if (!variable) {
            found.push_back({at, "typedef " + name + " cannot have an implicit array size"});
        } else if (symbol.buffer >= 0) {
            found.push_back({at, "structure member " + name + " cannot have an implicit size"});
        } else if (symbol.initializer < 0) {
            found.push_back({at, "array " + name + " of implicit size needs an initializer"});
        } else if (Is(s, at + 2, "=")) {
            // Of a built-in type as written, one dimension, numbers alone.
            const std::string type(Text(s, at - 2));
            bool matrix          = false;
            const int components = BuiltinComponents(type, matrix);
            const int values     = model.exprs[symbol.initializer].kind == HlslExprKind::InitList
                                       ? LiteralCount(model, symbol.initializer)
                                       : -1;
            if (components > 0 && values >= 0 && values % components != 0)
                found.push_back({at, std::to_string(values) +
                                         " values do not fill whole elements of " + name +
                                         ", an array of '" + type + "'"});
        }
    }
    for (const HlslField *field : Fields(model)) {
        const size_t at = implicitAt(field->name, field->offset);
        if (at != kNowhere)
            found.push_back(
                {at, "structure member '" + field->name + "' cannot have an implicit size"});
    }
    Report(s, found, out);
}

// An explicit array size is at most 65536 (invalid.shader_test;
// array-dimension.shader_test compiles 65536). An anonymous structure
// declares something (invalid.shader_test). The model keeps neither a size
// past what it reads nor a structure that declares nothing.
void CheckArrays(const Source &s, Diagnostics &out) {
    int depth = 0;
    for (size_t at = 0; at + 1 < s.tokens.size(); ++at) {
        depth += Is(s, at, "{") - Is(s, at, "}");
        if (depth == 0 && StartsStatement(s, at) && Is(s, at, "struct") && Is(s, at + 1, "{") &&
            Is(s, ClosingBracket(s.text, s.tokens, at + 1) + 1, ";"))
            Refuse(s, at, "an anonymous structure declares nothing", out);
        if (!Is(s, at, "[") || at < 2 || !IsName(s, at - 1)) continue;
        bool matrix = false;
        if (s.tokens[at + 1].kind == TokenKind::Number && Is(s, at + 2, "]") &&
            BuiltinComponents(Text(s, at - 2), matrix) > 0 &&
            std::strtoll(std::string(Text(s, at + 1)).c_str(), nullptr, 0) > 65536)
            Refuse(s, at + 1,
                   "array '" + std::string(Text(s, at - 1)) + "' has more than 65536 elements",
                   out);
    }
}

// A global's initial value is a literal expression: it may read static
// constants but no other global (default-values.shader_test: "float4 b = a"
// where a is a global is refused, a static const compiles).
void CheckInitialValues(const Source &s, Diagnostics &out) {
    const HlslModel &model = s.model;
    std::vector<bool> variable(model.symbols.size()); // neither static nor const, declared before
    std::vector<Found> found;
    for (int global : model.declarations) {
        const HlslSymbol &symbol = model.symbols[global];
        if (symbol.kind != HlslSymbolKind::Variable || symbol.buffer >= 0 ||
            (symbol.storage & (kStatic | kConst)))
            continue;
        std::vector<int> pending = {symbol.initializer};
        while (!pending.empty()) {
            const int e = pending.back();
            pending.pop_back();
            if (e < 0) continue;
            const HlslExpr &x = model.exprs[e];
            pending.insert(pending.end(), x.children.begin(), x.children.end());
            if (x.kind != HlslExprKind::Name || x.symbol < 0 || !variable[x.symbol]) continue;
            const size_t at = TokenOf(s, x.pos, x.text.size());
            if (at != kNowhere)
                found.push_back(
                    {at, "the initial value of a global must be a literal expression; '" + x.text +
                             "' is a variable"});
        }
        variable[global] = true;
    }
    Report(s, found, out);
}

// What the tree keeps for sure: the components a swizzle writes.
class SwizzleChecker : public glslang::TIntermTraverser {
  public:
    SwizzleChecker(const char *fileName, Diagnostics &out) : fileName_(fileName), out_(out) {}
    bool visitBinary(glslang::TVisit visit, glslang::TIntermBinary *node) override {
        if (visit != glslang::EvPreVisit || !IsAssignment(node->getOp())) return true;
        glslang::TIntermBinary *target = node->getLeft()->getAsBinaryNode();
        if (!target || (target->getOp() != glslang::EOpVectorSwizzle &&
                        target->getOp() != glslang::EOpMatrixSwizzle))
            return true;
        glslang::TIntermAggregate *selectors = target->getRight()->getAsAggregate();
        if (!selectors) return true;
        // A matrix swizzle holds a row and a column for each component.
        const size_t step = target->getOp() == glslang::EOpMatrixSwizzle ? 2 : 1;
        std::set<std::vector<int>> seen;
        const auto &sequence = selectors->getSequence();
        for (size_t i = 0; i + step <= sequence.size(); i += step) {
            std::vector<int> component;
            for (size_t j = i; j < i + step; ++j) {
                glslang::TIntermConstantUnion *value = sequence[j]->getAsConstantUnion();
                if (!value) return true;
                component.push_back(value->getConstArray()[0].getIConst());
            }
            if (!seen.insert(component).second) {
                Report(node->getLoc());
                break;
            }
        }
        return true;
    }

    // glslang writes a matrix swizzle as one assignment per component, from
    // a temporary "intermVec", in one sequence.
    bool visitAggregate(glslang::TVisit visit, glslang::TIntermAggregate *node) override {
        if (visit != glslang::EvPreVisit || node->getOp() != glslang::EOpSequence) return true;
        std::set<std::pair<int, int>> seen;
        for (TIntermNode *child : node->getSequence()) {
            glslang::TIntermBinary *assign = child->getAsBinaryNode();
            if (!assign || assign->getOp() != glslang::EOpAssign) continue;
            glslang::TIntermBinary *from   = assign->getRight()->getAsBinaryNode();
            glslang::TIntermBinary *row    = assign->getLeft()->getAsBinaryNode();
            glslang::TIntermBinary *column = row && row->getOp() == glslang::EOpIndexDirect
                                                 ? row->getLeft()->getAsBinaryNode()
                                                 : nullptr;
            const glslang::TIntermSymbol *temporary =
                from ? from->getLeft()->getAsSymbolNode() : nullptr;
            if (!column || column->getOp() != glslang::EOpIndexDirect || !temporary ||
                temporary->getName() != "intermVec" || !column->getRight()->getAsConstantUnion() ||
                !row->getRight()->getAsConstantUnion())
                continue;
            const int c = column->getRight()->getAsConstantUnion()->getConstArray()[0].getIConst();
            const int r = row->getRight()->getAsConstantUnion()->getConstArray()[0].getIConst();
            if (!seen.insert({c, r}).second) {
                Report(assign->getLoc());
                break;
            }
        }
        return true;
    }

  private:
    void Report(const glslang::TSourceLoc &loc) {
        // The tree's columns count in the text with literals rewritten.
        out_.Error(loc.getFilename() ? loc.getFilename() : fileName_, std::max(loc.line, 1), 0,
                   "the destination of an assignment names a component twice");
    }
    static bool IsAssignment(glslang::TOperator op) {
        return op == glslang::EOpAssign ||
               (op >= glslang::EOpAddAssign && op <= glslang::EOpRightShiftAssign);
    }
    const char *fileName_;
    Diagnostics &out_;
};

// The names of the parameters and structure members declared row_major
// matrices with a semantic. A member's majority is the one its declaration
// wrote, not one a #pragma pack_matrix gave.
std::set<std::string> RowMajorInterfaceNames(const HlslModel &model) {
    std::set<std::string> names;
    for (const HlslSymbol &symbol : model.symbols)
        if (symbol.kind == HlslSymbolKind::Parameter && symbol.type.kind == HlslClass::Matrix &&
            symbol.type.major == HlslMajority::RowMajor && !symbol.semantic.empty())
            names.insert(symbol.name);
    for (const HlslField *field : Fields(model))
        if (field->type.kind == HlslClass::Matrix && !field->semantic.empty() &&
            std::count(field->modifiers.begin(), field->modifiers.end(), "row_major"))
            names.insert(field->name);
    return names;
}

// The entry point's inputs and outputs: an output semantic names one value
// (entry-point-semantics.shader_test: "sem0" and "SEM" are the same one, and
// an array of structures cannot be an output); two inputs may share one only
// with the same layout: the same number of components of the same kind,
// floating or integer, and neither a row_major matrix.
void CheckSemantics(const glslang::TIntermediate &tree, const char *fileName,
                    const std::set<std::string> &rowMajorNames, Diagnostics &out) {
    const glslang::TIntermAggregate *root =
        tree.getTreeRoot() ? tree.getTreeRoot()->getAsAggregate() : nullptr;
    if (!root) return;
    struct Use {
        int components, registers;
        bool integer, rowMajorMatrix;
    };
    std::map<std::pair<std::string, int>, Use> inputs;
    std::set<std::pair<std::string, int>> outputs;
    glslang::TSourceLoc entryLoc;
    entryLoc.init();
    for (TIntermNode *child : root->getSequence()) {
        const glslang::TIntermAggregate *node = child->getAsAggregate();
        if (node && node->getOp() == glslang::EOpFunction &&
            node->getName() == tree.getEntryPointMangledName().c_str())
            entryLoc = node->getLoc();
    }
    auto refuse = [&](const std::string &text) {
        out.Error(entryLoc.getFilename() ? entryLoc.getFilename() : fileName,
                  std::max(entryLoc.line, 1), std::max(entryLoc.column, 1), text);
    };
    // One value with its semantic: each array element and matrix vector
    // takes the next index.
    // glslang's tree keeps no majority for these: the model's does
    // (RowMajorInterfaceNames), by the name declared ("a.tp[1]" is tp).
    auto declaredRowMajor = [&](std::string name) {
        name = name.substr(name.rfind('.') == std::string::npos ? 0 : name.rfind('.') + 1);
        return rowMajorNames.count(name.substr(0, name.find('['))) > 0;
    };
    std::function<void(const glslang::TType &, bool, int, bool)> add =
        [&](const glslang::TType &type, bool input, int element, bool declared) {
            if (type.isStruct()) {
                if (!input && type.isArray()) {
                    refuse("an array of structures cannot be an output of the entry point");
                    return;
                }
                for (const glslang::TTypeLoc &member : *type.getStruct())
                    add(*member.type, input, 0,
                        declaredRowMajor(member.type->getFieldName().c_str()));
                return;
            }
            const glslang::TQualifier &q = type.getQualifier();
            if (!q.semanticName) return;
            std::string name = q.semanticName;
            std::transform(name.begin(), name.end(), name.begin(),
                           [](char c) { return std::toupper(static_cast<unsigned char>(c)); });
            size_t digits = name.size();
            while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
                --digits;
            int index = digits < name.size() ? std::atoi(name.c_str() + digits) : 0;
            name.resize(digits);
            // glslang keeps HLSL's matrices transposed: its column-major one is
            // HLSL's row_major. A row_major matrix of one row or column in a
            // structure reaches glslang as an array of vectors: what it was
            // declared says it is one.
            const bool rowMajor =
                declared ||
                (type.isMatrix() && type.getQualifier().layoutMatrix == glslang::ElmColumnMajor);
            Use use{std::max(type.getVectorSize(), 1), 1,
                    !type.containsBasicType(glslang::EbtFloat) &&
                        !type.containsBasicType(glslang::EbtFloat16),
                    rowMajor};
            if (type.isMatrix()) {
                use.registers  = rowMajor ? type.getMatrixCols() : type.getMatrixRows();
                use.components = rowMajor ? type.getMatrixRows() : type.getMatrixCols();
            }
            // A split array's element starts past the registers of those before.
            index += element * use.registers;
            const int count =
                use.registers * (type.isArray() ? std::max(type.getCumulativeArraySize(), 1) : 1);
            for (int k = 0; k < count; ++k) {
                const auto key = std::make_pair(name, index + k);
                if (!input) {
                    if (!outputs.insert(key).second)
                        refuse("the output semantic '" + name + std::to_string(index + k) +
                               "' is given to more than one value");
                    continue;
                }
                const auto known = inputs.find(key);
                if (known == inputs.end()) {
                    inputs[key] = use;
                    continue;
                }
                const Use &was = known->second;
                if (was.components != use.components || was.registers != use.registers ||
                    was.integer != use.integer || was.rowMajorMatrix || use.rowMajorMatrix)
                    refuse("the input semantic '" + name + std::to_string(index + k) +
                           "' is given to values of different layouts");
            }
        };
    for (TIntermNode *child : root->getSequence()) {
        const glslang::TIntermAggregate *node = child->getAsAggregate();
        if (!node || node->getOp() != glslang::EOpLinkerObjects) continue;
        for (TIntermNode *object : node->getSequence()) {
            const glslang::TIntermSymbol *symbol = object->getAsSymbolNode();
            if (!symbol) continue;
            const glslang::TStorageQualifier storage = symbol->getQualifier().storage;
            if (storage != glslang::EvqVaryingIn && storage != glslang::EvqVaryingOut) continue;
            // glslang splits an array in an interface into one value per
            // element, each named "a.b[1]" and given the array's semantic.
            const std::string name = symbol->getName().c_str();
            const size_t open      = name.rfind('[');
            const bool input       = storage == glslang::EvqVaryingIn;
            if (!input && name.find('[') != std::string::npos &&
                name.find('.', name.find('[')) != std::string::npos) {
                refuse("an array of structures cannot be an output of the entry point");
                break;
            }
            add(symbol->getType(), input,
                open != std::string::npos && name.back() == ']' ? std::atoi(name.c_str() + open + 1)
                                                                : 0,
                declaredRowMajor(name));
        }
    }
}

} // namespace

void CheckWindowsRules(const std::string &original, const std::string &preprocessed,
                       const LexedHlsl &lexed, const HlslModel &model, const char *fileName,
                       const char *profile, const glslang::TIntermediate &tree, Diagnostics &out) {
    // A copy: PlaceColumns moves the columns to the file as written.
    Source s{preprocessed, lexed, model, HlslPlaces(model, lexed), CodeTokens(lexed.tokens), {}};
    if (s.tokens.empty()) return;
    PlaceColumns(s, original);
    FindScopes(s);
    CheckMajority(s, model, out);
    CheckRegisters(s, profile, out);
    CheckModel51Forms(s, profile, out);
    CheckAttributes(s, out);
    CheckUnroll(s, out);
    CheckNames(s, out);
    CheckStorage(s, out);
    CheckConstLocals(s, out);
    CheckArrays(s, out);
    CheckImplicitSizes(s, out);
    CheckInitialValues(s, out);
    if (tree.getTreeRoot()) {
        SwizzleChecker swizzles(fileName, out);
        tree.getTreeRoot()->traverse(&swizzles);
    }
    if (tree.getStage() != EShLangGeometry)
        CheckSemantics(tree, fileName, RowMajorInterfaceNames(model), out);
}
