// Literals read at run time, and lit() as Direct3D computes it; see
// literals.h. Both work on tokens of the preprocessed text.
#include "platform/gl/hlsl/literals.h"
#include "platform/gl/hlsl/lexer.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace {

// The character of a one-character punctuator, or '\0'.
char Mark(const std::string &text, const Token &t) {
    return t.kind == TokenKind::Punctuator && t.length == 1 ? text[t.offset] : '\0';
}

// Types that take template arguments, which must be constants.
bool TemplateType(const std::string &name) {
    static const std::set<std::string> kNames = {"vector",
                                                 "matrix",
                                                 "Buffer",
                                                 "Texture1D",
                                                 "Texture1DArray",
                                                 "Texture2D",
                                                 "Texture2DArray",
                                                 "Texture2DMS",
                                                 "Texture2DMSArray",
                                                 "Texture3D",
                                                 "TextureCube",
                                                 "TextureCubeArray",
                                                 "PointStream",
                                                 "LineStream",
                                                 "TriangleStream",
                                                 "InputPatch",
                                                 "OutputPatch",
                                                 "StructuredBuffer",
                                                 "RWBuffer",
                                                 "RWTexture1D",
                                                 "RWTexture2D",
                                                 "RWTexture3D",
                                                 "RWTexture1DArray",
                                                 "RWTexture2DArray",
                                                 "RWStructuredBuffer",
                                                 "AppendStructuredBuffer",
                                                 "ConsumeStructuredBuffer"};
    return kNames.count(name) != 0;
}

// One declaration or statement: what the rewrite needs to know of it.
struct Statement {
    size_t first = 0, last = 0; // token range
    bool isStatic = false, isConst = false, aggregate = false, hasParen = false, assigned = false;
    bool keep = false; // a constant something that needs a constant reads
    std::vector<std::string> names;
};

// What the scan finds for every token.
struct Scan {
    std::vector<Statement> statements;
    std::vector<size_t> statementOf;
    std::vector<char> code;               // inside executable code
    std::vector<char> constant;           // where HLSL needs a constant
    std::set<std::string> neededConstant; // names read where a constant is needed
};

Scan ScanTokens(const std::string &text, const Tokens &tokens) {
    Scan scan;
    std::vector<char> braces; // 'b' function body or block, 'a' aggregate, 'i' initializer list
    std::vector<char> nest;   // '(' plain, 'm' method arguments, '[' brackets, '<' template
    bool caseLabel = false, declarator = true;
    scan.statements.push_back({});
    auto newStatement = [&](size_t next) {
        scan.statements.back().last = next;
        scan.statements.push_back({});
        scan.statements.back().first = next;
        declarator                   = true;
    };
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t   = tokens[i];
        Statement &s     = scan.statements.back();
        const bool init  = !braces.empty() && braces.back() == 'i';
        const bool outer = nest.empty() && !init; // at the statement's own level
        const bool constantHere =
            caseLabel || init || std::any_of(nest.begin(), nest.end(), [](char n) {
                return n == 'm' || n == '[' || n == '<';
            });
        const char scope = [&] {
            for (auto b = braces.rbegin(); b != braces.rend(); ++b)
                if (*b != 'i') return *b;
            return '\0';
        }();
        scan.statementOf.push_back(scan.statements.size() - 1);
        scan.constant.push_back(constantHere);
        scan.code.push_back(scope == 'b' || (scope == '\0' && s.isStatic && s.assigned));
        const Token *prev = i > 0 ? &tokens[i - 1] : nullptr;
        const Token *next = i + 1 < tokens.size() ? &tokens[i + 1] : nullptr;

        const char mark = Mark(text, t);
        if (t.kind == TokenKind::Identifier) {
            const std::string name(Spelling(text, t));
            if (constantHere && !init) scan.neededConstant.insert(name);
            if (name == "case" && nest.empty()) caseLabel = true;
            if (!outer) continue;
            if (name == "static") s.isStatic = true;
            if (name == "const" && !s.assigned) s.isConst = true;
            if (name == "struct" || name == "cbuffer" || name == "tbuffer" || name == "class" ||
                name == "interface" || name == "namespace")
                s.aggregate = true;
            if (declarator && next && Mark(text, *next) && std::strchr("=[,;:", Mark(text, *next)))
                s.names.push_back(name);
        } else if (mark == ':' && caseLabel && nest.empty()) {
            caseLabel = false;
        } else if (mark == '(') {
            const bool method = prev && prev->kind == TokenKind::Identifier && i > 1 &&
                                Mark(text, tokens[i - 2]) == '.';
            if (outer) s.hasParen = true;
            nest.push_back(method ? 'm' : '(');
        } else if (mark == '[') {
            nest.push_back('[');
        } else if (mark == '<' && prev && prev->kind == TokenKind::Identifier &&
                   TemplateType(std::string(Spelling(text, *prev)))) {
            nest.push_back('<');
        } else if (mark == '>' || Is(text, t, ">>")) {
            for (size_t n = t.length; n > 0 && !nest.empty() && nest.back() == '<'; --n)
                nest.pop_back();
        } else if (mark == ')' || mark == ']') {
            while (!nest.empty() && nest.back() == '<')
                nest.pop_back();
            if (!nest.empty()) nest.pop_back();
        } else if (mark == '{') {
            char kind = 'a';
            if (init || (prev && Is(text, *prev, "=")))
                kind = 'i';
            else if (s.aggregate)
                kind = 'a';
            else if (braces.empty())
                kind = s.hasParen ? 'b' : 'a';
            else if (scope == 'b')
                kind = 'b';
            braces.push_back(kind);
            if (kind != 'i') {
                nest.clear();
                newStatement(i + 1);
            }
        } else if (mark == '}') {
            const char kind = braces.empty() ? 'a' : braces.back();
            if (!braces.empty()) braces.pop_back();
            if (kind != 'i') {
                nest.clear();
                newStatement(i + 1);
            }
        } else if (mark == ';' && nest.empty()) {
            caseLabel = false;
            newStatement(i + 1);
        } else if (outer && Is(text, t, "=")) {
            s.assigned = true;
            declarator = false;
        } else if (outer && Is(text, t, ",")) {
            declarator = true;
        }
    }
    scan.statements.back().last = tokens.size();
    return scan;
}

// The constants a constant-needing place reads keep their literals, and so
// do the constants their initializers read.
void KeepNeededConstants(const std::string &text, const Tokens &tokens, Scan &scan) {
    for (bool changed = true; changed;) {
        changed = false;
        for (Statement &s : scan.statements) {
            if (s.keep || !s.isConst) continue;
            if (std::none_of(s.names.begin(), s.names.end(), [&](const std::string &n) {
                    return scan.neededConstant.count(n) != 0;
                }))
                continue;
            s.keep = changed = true;
            for (size_t i = s.first; i < s.last && i < tokens.size(); ++i)
                if (tokens[i].kind == TokenKind::Identifier)
                    scan.neededConstant.emplace(Spelling(text, tokens[i]));
        }
    }
}

// Puts a declaration at the start of the first line that is not a
// directive, so no line moves.
void Prepend(const std::string &text, const std::string &declaration, Edits &edits) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t start = text.find_first_not_of(" \t", at);
        if (start == std::string::npos || text[start] != '#') break;
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            at = text.size();
            break;
        }
        at = end + 1;
    }
    const bool ended = at < text.size() || (!text.empty() && text.back() == '\n');
    edits.Add(at, 0, ended ? declaration : "\n" + declaration);
}

const std::string kRunTime = GeneratedName("at_run_time");

} // namespace

void ReadLiteralsAtRunTime(std::string &text, const LexedHlsl &lexed) {
    const Tokens tokens = CodeTokens(lexed.tokens);
    Scan scan           = ScanTokens(text, tokens);
    KeepNeededConstants(text, tokens, scan);
    std::vector<const Token *> literals;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind != TokenKind::Number || !scan.code[i] || scan.constant[i] ||
            scan.statements[scan.statementOf[i]].keep)
            continue;
        // A name glued to it (1.0x): not a number HLSL knows.
        if (t.end() < text.size() && IsIdentifierChar(text[t.end()])) continue;
        literals.push_back(&t);
    }
    if (literals.empty()) return;
    // A branch on a variable the compiler cannot see through before the
    // arithmetic rewrites; the optimizer removes it after them.
    Edits edits;
    for (const Token *t : literals) {
        const std::string literal = text.substr(t->offset, t->length);
        edits.Add(t->offset, t->length,
                  "(" + std::string(kRunTime) + " ? " + literal + " : " + literal + ")");
    }
    Prepend(text, "static bool " + std::string(kRunTime) + " = true; ", edits);
    text = edits.AppliedTo(text);
}

void ReplaceLit(std::string &text, LexedHlsl &lexed) {
    const Tokens tokens = CodeTokens(lexed.tokens);
    std::vector<const Token *> calls;
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (!Is(text, tokens[i], "lit") || !Is(text, tokens[i + 1], "(")) continue;
        const Token *prev = i > 0 ? &tokens[i - 1] : nullptr;
        // A return type before the name: the file's own lit.
        if (prev && prev->kind == TokenKind::Identifier && !Is(text, *prev, "return")) return;
        if (prev && Is(text, *prev, ".")) continue;
        calls.push_back(&tokens[i]);
    }
    if (calls.empty()) return;
    Edits edits;
    for (const Token *t : calls)
        edits.Add(t->offset, 3, GeneratedName("lit"));
    // The HLSL reference's lit: ambient 1; diffuse n.l, 0 where n.l < 0;
    // specular (n.h)^m, 0 where n.l < 0 or n.h < 0; 1.
    Prepend(text,
            "float4 " + GeneratedName("lit") +
                "(float n_dot_l, float n_dot_h, float m) { return float4(1.0, "
                "n_dot_l < 0.0 ? 0.0 : n_dot_l, n_dot_l < 0.0 || n_dot_h < 0.0 ? 0.0 : "
                "pow(n_dot_h, m), 1.0); } ",
            edits);
    edits.Apply(text, lexed);
}
