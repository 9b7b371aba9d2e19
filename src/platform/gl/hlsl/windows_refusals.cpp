// Refusals and warnings of the Windows compiler that glslang does not make
// (windows_refusals.h). glslang's HLSL grammar runs two declarations
// together where the ';' between them is missing, and glslang takes
// assignments to static const globals and functions that end without
// returning their value; all load on Linux and fail on Windows, so they are
// judged here, on the model, before glslang reads the text.
#include "platform/gl/hlsl/windows_refusals.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string_view>

namespace {

const char kConstObject[]  = "l-value specifies const object";
const char kConstGlobal[]  = "global variables are implicitly constant, enable compatibility mode "
                             "to allow modification";
const char kOutNotLValue[] = "out parameters require l-value arguments";
const char kOutConstGlobal[] = "out parameters require l-value arguments (given argument is "
                               "implicitly const, such as a global)";

// Where diagnostics go, with the places of the user's files.
struct Reporter {
    const HlslModel &model;
    const SourceColumns &columns;
    Diagnostics &out;

    // A span's place and column range, as the Windows compiler gives it: a
    // range only where the span ends on the line it starts.
    void Add(const HlslPos &start, const HlslPos &end, Severity severity, const std::string &text,
             const char *code) {
        const int column = columns.Start(start);
        const int last   = columns.End(end);
        const int line   = columns.LineOf(start);
        const int range =
            end.file == start.file && columns.LineOf(end) == line && last > column ? last : 0;
        out.items.push_back({model.files[start.file], line, column, severity, text, code, range});
    }
    void ConstWrite(const HlslExpr &e, const char *text) {
        Add(e.start, e.end, Severity::Error, text, "X3025");
    }
};

// A syntax error at the token spelled so, in the Windows compiler's words:
// a number or string by its kind, the end of the text (empty) by name.
std::string SyntaxError(const std::string &token) {
    if (token.empty()) return "syntax error: unexpected end of file";
    const char *constant = HlslConstantKind(token);
    return constant ? std::string("syntax error: unexpected ") + constant
                    : "syntax error: unexpected token '" + token + "'";
}

const HlslError *FirstSyntaxError(const HlslModel &model) {
    for (const HlslError &e : model.errors)
        if (e.kind == HlslErrorKind::Syntax || e.kind == HlslErrorKind::TooDeep) return &e;
    return nullptr;
}

// Whether the expression can be written: a name, a member, swizzle or
// element of one, or a cast of one (the Windows compiler passes an out
// argument back through the cast).
bool IsLValue(const HlslModel &model, int expr) {
    for (int depth = 0; expr >= 0 && depth < kMaxNesting; ++depth) {
        const HlslExpr &e = model.exprs[expr];
        if (e.kind == HlslExprKind::Name) return true;
        if (e.kind != HlslExprKind::Member && e.kind != HlslExprKind::Index &&
            e.kind != HlslExprKind::Cast)
            return false;
        expr = e.children[0];
    }
    return false;
}

// The variable or parameter an l-value names, through members, swizzles,
// elements and casts; -1 for anything else (a call's result, an object's
// element).
int WrittenSymbol(const HlslModel &model, int expr) {
    for (int depth = 0; expr >= 0 && depth < kMaxNesting; ++depth) {
        const HlslExpr &e = model.exprs[expr];
        if (e.kind == HlslExprKind::Name) return e.symbol;
        if (e.kind != HlslExprKind::Member && e.kind != HlslExprKind::Index &&
            e.kind != HlslExprKind::Cast)
            return -1;
        if (e.kind == HlslExprKind::Index && e.children[0] >= 0 &&
            model.exprs[e.children[0]].type.kind == HlslClass::Object)
            return -1;
        expr = e.children[0];
    }
    return -1;
}

bool IsDeclaredConst(const HlslSymbol &s) {
    return (s.storage & kConst) || s.type.isConst;
}

// A global the program cannot write: one that is neither static nor
// groupshared is a constant of a buffer.
bool IsUniform(const HlslSymbol &s) {
    return s.kind == HlslSymbolKind::Variable && s.scope == 0 &&
           !(s.storage & (kStatic | kGroupShared)) && s.type.kind != HlslClass::Object;
}

// An assignment's target or the operand of ++ or --.
void CheckWrite(Reporter &r, const HlslExpr &at, int target) {
    const HlslModel &model = r.model;
    const int symbol       = WrittenSymbol(model, target);
    if (symbol < 0) return;
    const HlslSymbol &s = model.symbols[symbol];
    if (IsDeclaredConst(s))
        r.ConstWrite(at, kConstObject);
    else if (IsUniform(s))
        r.ConstWrite(at, kConstGlobal);
}

void CheckOutArgument(Reporter &r, int arg) {
    const HlslModel &model = r.model;
    if (arg < 0) return;
    const HlslExpr &e = model.exprs[arg];
    if (e.kind == HlslExprKind::Error || e.type.kind == HlslClass::Error) return;
    if (e.kind == HlslExprKind::Literal) return r.ConstWrite(e, kConstObject);
    if (!IsLValue(model, arg)) return r.ConstWrite(e, kOutNotLValue);
    const int symbol = WrittenSymbol(model, arg);
    if (symbol < 0) return;
    const HlslSymbol &s = model.symbols[symbol];
    if (IsDeclaredConst(s))
        r.ConstWrite(e, kConstObject);
    else if (IsUniform(s))
        r.ConstWrite(e, kOutConstGlobal);
}

// The out parameters of the intrinsics that have them: sincos(x, s, c),
// modf(x, ip), frexp(x, exp).
int FirstOutArgument(std::string_view intrinsic) {
    if (intrinsic == "sincos" || intrinsic == "modf" || intrinsic == "frexp") return 1;
    return -1;
}

void CheckConstWrites(Reporter &r) {
    const HlslModel &model = r.model;
    for (const HlslExpr &e : model.exprs) {
        const bool step = (e.kind == HlslExprKind::Unary || e.kind == HlslExprKind::Postfix) &&
                          (e.text == "++" || e.text == "--");
        if (e.kind == HlslExprKind::Assign || step) {
            CheckWrite(r, e, e.children[0]);
        } else if (e.kind == HlslExprKind::Call && e.function >= 0) {
            const std::vector<int> &params = model.functions[e.function].params;
            for (size_t i = 0; i < params.size() && i < e.children.size(); ++i)
                if (model.symbols[params[i]].storage & kOut) CheckOutArgument(r, e.children[i]);
        } else if (e.kind == HlslExprKind::Call && FirstOutArgument(e.intrinsic) > 0) {
            for (size_t i = FirstOutArgument(e.intrinsic); i < e.children.size(); ++i)
                CheckOutArgument(r, e.children[i]);
        }
    }
}

// Whether the statement holds a return, at any depth.
bool HoldsReturn(const HlslModel &model, int s) {
    if (s < 0) return false;
    const HlslStmt &st = model.stmts[s];
    if (st.kind == HlslStmtKind::Return) return true;
    return std::any_of(st.children.begin(), st.children.end(),
                       [&](int c) { return HoldsReturn(model, c); });
}

// Whether control can run past the end of the statement. A loop or switch
// that holds a return, and a loop whose condition is missing or a literal
// that holds, are taken not to: no record gives the Windows compiler's
// analysis of them, and a function taken to return is never refused.
bool Completes(const HlslModel &model, int s) {
    if (s < 0) return true;
    const HlslStmt &st = model.stmts[s];
    switch (st.kind) {
    case HlslStmtKind::Return:
    case HlslStmtKind::Error:
        return false;
    case HlslStmtKind::Block:
        return std::all_of(st.children.begin(), st.children.end(),
                           [&](int c) { return Completes(model, c); });
    case HlslStmtKind::If:
        return st.children.size() < 2 || Completes(model, st.children[0]) ||
               Completes(model, st.children[1]);
    case HlslStmtKind::For:
    case HlslStmtKind::While:
    case HlslStmtKind::Do: {
        const HlslExpr *c = st.expr >= 0 ? &model.exprs[st.expr] : nullptr;
        const bool forever =
            !c || (c->kind == HlslExprKind::Literal &&
                   (c->text == "true" || std::strtod(c->text.c_str(), nullptr) != 0.0));
        return !forever && !HoldsReturn(model, s);
    }
    case HlslStmtKind::Switch:
        return !HoldsReturn(model, s);
    default:
        return true;
    }
}

// A function with a result whose body can end without a return (X3507),
// placed as the records place it: from the last character of its name to
// the ')' after its parameters.
void CheckReturns(Reporter &r) {
    for (const HlslFunction &f : r.model.functions) {
        if (f.body < 0 || f.returnType.kind == HlslClass::Void ||
            f.returnType.kind == HlslClass::Error || !Completes(r.model, f.body))
            continue;
        r.out.items.push_back({r.model.files[f.pos.file], r.columns.LineOf(f.pos),
                               r.columns.End(f.pos), Severity::Error,
                               "'" + f.name + "': Not all control paths return a value", "X3507",
                               f.close.line == f.pos.line ? r.columns.Start(f.close) : 0});
    }
}

// A second global variable of one name (outside any cbuffer: there glslang
// refuses it itself), and a second member of one name in a structure, which
// glslang takes; X3003 at the second's name, a member named with its
// structure's ("redefinition of 'S::a'").
void CheckRedefinitions(Reporter &r) {
    const HlslModel &model          = r.model;
    const std::vector<int> &globals = model.scopes[0].symbols;
    for (size_t i = 0; i < globals.size(); ++i) {
        const HlslSymbol &s = model.symbols[globals[i]];
        if (s.kind != HlslSymbolKind::Variable || s.buffer >= 0) continue;
        for (size_t j = 0; j < i; ++j) {
            const HlslSymbol &o = model.symbols[globals[j]];
            if (o.kind != HlslSymbolKind::Variable || o.buffer >= 0 || o.name != s.name) continue;
            r.Add(s.pos, s.pos, Severity::Error, "redefinition of '" + s.name + "'", "X3003");
            break;
        }
    }
    for (const HlslSymbol &s : model.symbols) {
        if (s.kind != HlslSymbolKind::Struct || !s.type.structure) continue;
        const std::vector<HlslField> &fields = s.type.structure->fields;
        for (size_t i = 0; i < fields.size(); ++i)
            for (size_t j = 0; j < i; ++j) {
                if (fields[j].name != fields[i].name) continue;
                HlslPos at;
                at.token  = fields[i].token;
                at.file   = fields[i].file;
                at.line   = fields[i].line;
                at.column = fields[i].column;
                r.Add(at, at, Severity::Error,
                      "redefinition of '" + s.name + "::" + fields[i].name + "'", "X3003");
                break;
            }
    }
}

// The first case or default label under s that stands anywhere but in a
// switch's block, or -1: glslang crashes on one. No record shows what the
// Windows compiler says of it, so it is refused in the words of a syntax
// error, without a code. switchBody: s is a switch's block.
int MisplacedLabel(const HlslModel &model, int s, bool switchBody) {
    const HlslStmt &st = model.stmts[s];
    for (int c : st.children) {
        if (c < 0) continue;
        const HlslStmtKind kind = model.stmts[c].kind;
        if ((kind == HlslStmtKind::Case || kind == HlslStmtKind::Default) && !switchBody) return c;
        const int found = MisplacedLabel(model, c, st.kind == HlslStmtKind::Switch);
        if (found >= 0) return found;
    }
    return -1;
}

int MisplacedLabel(const HlslModel &model) {
    for (const HlslFunction &f : model.functions) {
        const int found = f.body >= 0 ? MisplacedLabel(model, f.body, false) : -1;
        if (found >= 0) return found;
    }
    return -1;
}

// What #pragma warning has said of each warning so far.
struct WarningStates {
    std::set<int> off, errors, once, given;

    // #pragma warning( disable : 3206 3205 ; error : 3571 ): each specifier
    // and the numbers it names. disable turns a warning off, error makes it
    // an error, once gives it at its first place only, default undoes them.
    void Read(std::string_view line) {
        const size_t word = line.find("warning");
        const size_t open = line.find('(', word);
        if (word == std::string_view::npos || open == std::string_view::npos) return;
        std::string_view rest = line.substr(open + 1, line.find(')', open) - open - 1);
        while (!rest.empty()) {
            const size_t end           = std::min(rest.find(';'), rest.size());
            const std::string_view one = rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
            const size_t colon = one.find(':');
            if (colon == std::string_view::npos) continue;
            const std::string_view what = one.substr(0, colon);
            const std::string numbers(one.substr(colon + 1));
            for (const char *p = numbers.c_str(); *p;) {
                char *next   = nullptr;
                const long n = std::strtol(p, &next, 10);
                if (next == p) {
                    ++p;
                    continue;
                }
                p = next;
                Set(what, static_cast<int>(n));
            }
        }
    }

    void Set(std::string_view what, int n) {
        const bool disable = what.find("disable") != std::string_view::npos;
        const bool error   = what.find("error") != std::string_view::npos;
        const bool once    = what.find("once") != std::string_view::npos;
        if (!disable && !error && !once && what.find("default") == std::string_view::npos) return;
        off.erase(n);
        errors.erase(n);
        this->once.erase(n);
        if (disable) off.insert(n);
        if (error) errors.insert(n);
        if (once) this->once.insert(n);
    }
};

} // namespace

int SourceColumns::Start(const HlslPos &pos) const {
    if (pos.token >= code_.size()) {
        if (code_.empty()) return pos.column;
        HlslPos last = pos;
        last.token   = code_.size() - 1;
        return End(last) + 1;
    }
    const Token &t = code_[pos.token];
    // Which occurrence of its spelling on its line the token is.
    const std::string_view spelling = Spelling(text_, t);
    int occurrence                  = 0;
    for (size_t i = pos.token; i-- > 0 && code_[i].line == t.line && code_[i].file == t.file;)
        if (Spelling(text_, code_[i]) == spelling) ++occurrence;
    const std::string_view row = Line(t.file, t.line);
    for (const Token &o : LexHlsl(row).tokens)
        if (o.kind != TokenKind::Directive && Spelling(row, o) == spelling && occurrence-- == 0)
            return o.column;
    return t.column;
}

int SourceColumns::LineOf(const HlslPos &pos) const {
    if (pos.token < code_.size()) return code_[pos.token].line;
    return code_.empty() ? pos.line : code_.back().line;
}

std::string_view SourceColumns::Line(int file, int line) const {
    if (file < 0 || static_cast<size_t>(file) >= files_.size()) return {};
    const std::string *text = &original_;
    if (file > 0) {
        const auto found = included_.find(files_[file]);
        if (found == included_.end()) return {};
        text = &found->second;
    }
    const size_t start = LineStart(*text, line);
    if (start == std::string::npos) return {};
    return std::string_view(*text).substr(start, text->find('\n', start) - start);
}

// The names declared nowhere that stand as the last operand of a ?: given
// as an argument: glslang's parse crashed on them (f(a ? 1 : b)). A name
// the model knows of any kind is left alone.
std::vector<const HlslExpr *> UndeclaredConditionalNames(const HlslModel &m) {
    std::vector<const HlslExpr *> found;
    for (const HlslExpr &call : m.exprs) {
        if (call.kind != HlslExprKind::Call && call.kind != HlslExprKind::MethodCall &&
            call.kind != HlslExprKind::Constructor)
            continue;
        for (int child : call.children) {
            const HlslExpr &e = m.exprs[child];
            if (e.kind != HlslExprKind::Conditional || e.children.size() != 3) continue;
            const HlslExpr &last = m.exprs[e.children[2]];
            if (last.kind == HlslExprKind::Name &&
                std::none_of(m.symbols.begin(), m.symbols.end(),
                             [&](const HlslSymbol &s) { return s.name == last.text; }))
                found.push_back(&last);
        }
    }
    return found;
}

// Such names are refused here, in the Windows compiler's words.
void CheckConditionalNames(Reporter &r) {
    for (const HlslExpr *name : UndeclaredConditionalNames(r.model))
        r.Add(name->start, name->end, Severity::Error, "undeclared identifier '" + name->text + "'",
              "X3004");
}

int SourceColumns::End(const HlslPos &pos) const {
    const size_t length = pos.token < code_.size() ? code_[pos.token].length : 1;
    return Start(pos) + static_cast<int>(std::max<size_t>(length, 1)) - 1;
}

bool CheckWindowsRefusals(const HlslModel &model, const SourceColumns &columns,
                          Diagnostics &diagnostics) {
    Reporter r{model, columns, diagnostics};
    if (const HlslError *syntax = FirstSyntaxError(model)) {
        // A missing ';' and a text that ends inside a declaration or a
        // statement are refused here (glslang's parse crashed on some of
        // the latter, such as a call cut off inside a ?:), and any syntax
        // error where glslang would meet a ?: it crashes on; glslang's
        // parse names the other syntax errors.
        if (syntax->expected != ";" && !syntax->token.empty() &&
            UndeclaredConditionalNames(model).empty())
            return true;
        const std::string text = SyntaxError(syntax->token);
        r.Add(syntax->pos, syntax->pos, Severity::Error, text, "X3000");
        return false;
    }
    if (const int label = MisplacedLabel(model); label >= 0) {
        const HlslStmt &st = model.stmts[label];
        r.Add(st.pos, st.pos, Severity::Error,
              SyntaxError(st.kind == HlslStmtKind::Case ? "case" : "default"), "");
        return false;
    }
    const size_t before = diagnostics.items.size();
    CheckConditionalNames(r);
    CheckRedefinitions(r);
    CheckConstWrites(r);
    CheckReturns(r);
    return diagnostics.items.size() == before;
}

void AddWindowsWarnings(const HlslModel &model, const SourceColumns &columns, Diagnostics &warnings,
                        Diagnostics &errors) {
    Reporter warned{model, columns, warnings}, refused{model, columns, errors};
    if (FirstSyntaxError(model) || MisplacedLabel(model) >= 0) return;
    std::vector<const HlslError *> found;
    for (const HlslError &e : model.errors)
        if (e.kind == HlslErrorKind::Truncation || e.kind == HlslErrorKind::Narrowing)
            found.push_back(&e);
    std::stable_sort(found.begin(), found.end(), [](const HlslError *a, const HlslError *b) {
        return a->pos.token < b->pos.token;
    });
    WarningStates states;
    size_t pragma = 0;
    for (const HlslError *w : found) {
        for (; pragma < model.pragmas.size() && model.pragmas[pragma].pos.token <= w->pos.token;
             ++pragma) {
            // The line as written: the preprocessor runs "3205 3206" together.
            const HlslPos &at = model.pragmas[pragma].pos;
            states.Read(columns.Line(at.file, at.line));
        }
        const bool truncation = w->kind == HlslErrorKind::Truncation;
        const int number      = truncation ? 3206 : 3205;
        if (states.off.count(number) ||
            (states.once.count(number) && !states.given.insert(number).second))
            continue;
        const std::string text =
            truncation
                ? (w->callee.empty() ? "" : "'" + w->callee + "': ") +
                      std::string("implicit truncation of vector type")
                : std::string("conversion from larger type to smaller, possible loss of data");
        const HlslExpr *at = w->expr >= 0 ? &model.exprs[w->expr] : nullptr;
        const bool error   = states.errors.count(number) > 0;
        (error ? refused : warned)
            .Add(at ? at->start : w->pos, at ? at->end : w->pos,
                 error ? Severity::Error : Severity::Warning, text, truncation ? "X3206" : "X3205");
    }
}

void MergeWarnings(const Diagnostics &warnings, Diagnostics &diagnostics) {
    std::vector<Diagnostic> &items = diagnostics.items;
    for (const Diagnostic &w : warnings.items) {
        const auto after = std::find_if(items.begin(), items.end(), [&](const Diagnostic &d) {
            return d.file == w.file &&
                   (d.line > w.line || (d.line == w.line && d.column > w.column));
        });
        items.insert(after, w);
    }
}
