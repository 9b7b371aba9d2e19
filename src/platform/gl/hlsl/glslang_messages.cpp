// glslang's messages read into diagnostics (glslang_messages.h). Parsed by
// hand rather than with std::regex, whose recursion a long line of binary
// garbage could overflow.
#include "platform/gl/hlsl/glslang_messages.h"

#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/builder.h"
#include "platform/gl/hlsl/model/model.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

namespace {

bool StartsWith(const std::string &text, const char *prefix, size_t at = 0) {
    return at <= text.size() && text.compare(at, std::strlen(prefix), prefix) == 0;
}

// Reads the digits at text[at...] into value; returns the index after them,
// or npos when there are none.
size_t ReadNumber(const std::string &text, size_t at, int &value) {
    size_t end = at;
    value      = 0;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) && end - at < 9)
        value = value * 10 + (text[end++] - '0');
    return end > at ? end : std::string::npos;
}

// One message as read: glslang's quoted token and its reason apart, to
// put in the Windows compiler's words once the whole log is read.
struct Message {
    Diagnostic diagnostic;
    std::string token;     // the name or token glslang quotes, where it quotes one
    std::string reason;    // what glslang says of it
    bool expected = false; // the parser's "'x' : Expected": what a rule wanted
};

// glslang's "'token' : reason extra" taken apart; "syntax error: expected
// ';'" for the parser's "';' : Expected" until its words are decided.
void PlainWords(Message &m) {
    std::string &text = m.diagnostic.text;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    if (text.size() < 2 || text[0] != '\'') return;
    const size_t close = text.find("' : ", 1);
    if (close == std::string::npos) return;
    m.token            = text.substr(1, close - 1);
    std::string reason = text.substr(close + 4);
    while (!reason.empty() && reason[0] == ' ')
        reason.erase(0, 1);
    m.reason = reason;
    if (reason == "Expected") {
        // The parser names a literal token or what kind of thing it wanted.
        const bool kind =
            !m.token.empty() && std::all_of(m.token.begin(), m.token.end(), [](char c) {
                return std::isalpha(static_cast<unsigned char>(c)) || c == ' ' || c == '-';
            });
        text       = "syntax error: expected " + (kind ? m.token : "'" + m.token + "'");
        m.expected = true;
        m.token.clear();
    } else if (reason == "unknown variable" || reason == "undeclared identifier") {
        text = "undeclared identifier '" + m.token + "'";
    } else if (m.token.empty()) {
        text = reason;
    } else {
        text = "'" + m.token + "': " + reason;
    }
}

// One line of the log; false for a line that says nothing of its own
// (blank, a summary). parseColumns collects "the parse gave up at column N"
// per line.
bool ReadLine(const std::string &line, const std::string &fileName, Message &out,
              std::vector<std::pair<int, int>> &parseColumns) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return false;

    // "main.fx(7): error at column 114, HLSL parsing failed."
    const size_t gaveUp = line.find("): error at column ");
    if (gaveUp != std::string::npos && line.find("HLSL parsing failed") != std::string::npos) {
        const size_t open = line.rfind('(', gaveUp);
        int row = 0, column = 0;
        if (open != std::string::npos && ReadNumber(line, open + 1, row) != std::string::npos &&
            ReadNumber(line, gaveUp + 19, column) != std::string::npos)
            parseColumns.emplace_back(row, column);
        return false;
    }

    Diagnostic &d    = out.diagnostic;
    std::string rest = line;
    d.file           = fileName;
    d.severity       = Severity::Error;
    bool prefixed    = false;
    for (const char *prefix : {"ERROR: ", "INTERNAL ERROR: ", "UNIMPLEMENTED: ", "WARNING: ",
                               "NOTE: ", "error: ", "warning: "}) {
        if (!StartsWith(rest, prefix)) continue;
        if (prefix[0] == 'W' || prefix[0] == 'w' || prefix[0] == 'N')
            d.severity = Severity::Warning;
        rest     = rest.substr(std::strlen(prefix));
        prefixed = true;
        break;
    }
    // "ERROR: 3 compilation errors.  No code generated." and the like.
    if (rest.find("compilation error") != std::string::npos &&
        rest.find("No code generated") != std::string::npos)
        return false;
    if (StartsWith(rest, "SPIR-V is not generated")) return false;
    // The SPIR-V builder's notes about what it left out.
    if (!prefixed &&
        (StartsWith(rest, "TBD functionality") || StartsWith(rest, "Missing functionality")))
        d.severity = Severity::Warning;
    if (StartsWith(rest, "Linking ")) {
        const size_t colon = rest.find(": ");
        if (colon != std::string::npos) rest = rest.substr(colon + 2);
    }

    // "file:line: text", the file as glslang names it (an include by its own).
    for (size_t colon = rest.find(':'); colon != std::string::npos && colon > 0;
         colon        = rest.find(':', colon + 1)) {
        int row        = 0;
        const size_t e = ReadNumber(rest, colon + 1, row);
        if (e == std::string::npos || !StartsWith(rest, ": ", e)) continue;
        d.file = rest.substr(0, colon);
        d.line = std::max(row, 1);
        d.text = rest.substr(e + 2);
        PlainWords(out);
        return true;
    }
    // "file: text": about the file as a whole, which glslang places on its
    // first line.
    if (StartsWith(rest, (fileName + ": ").c_str())) rest = rest.substr(fileName.size() + 2);
    d.line = 1;
    d.text = rest;
    PlainWords(out);
    return true;
}

// A glslang type as HLSL spells it: " temp 2-component vector of float" is
// float2, " const 4X4 matrix of float" const float4x4, " temp 2-element
// array of float" float[2]. Qualifiers other than const are left out; a
// type it cannot read is given as glslang writes it, trimmed.
std::string HlslSpelling(const std::string &glslang) {
    static const char *const kObjects[][2] = {
        {"texture1D", "Texture1D<float4>"},
        {"texture2D", "Texture2D<float4>"},
        {"texture3D", "Texture3D<float4>"},
        {"textureCube", "TextureCube<float4>"},
        {"texture1DArray", "Texture1DArray<float4>"},
        {"texture2DArray", "Texture2DArray<float4>"},
        {"textureCubeArray", "TextureCubeArray<float4>"},
        {"texture2DMS", "Texture2DMS<float4>"},
        {"sampler", "SamplerState"},
        {"samplerShadow", "SamplerComparisonState"},
        {"float16_t", "half"},
    };
    std::string trimmed = glslang;
    while (!trimmed.empty() && trimmed.front() == ' ')
        trimmed.erase(0, 1);
    if (trimmed.find('{') != std::string::npos) return trimmed; // a structure's members
    std::vector<std::string> words;
    for (size_t at = 0; at < trimmed.size();) {
        const size_t space = trimmed.find(' ', at);
        const size_t end   = space == std::string::npos ? trimmed.size() : space;
        if (end > at) words.push_back(trimmed.substr(at, end - at));
        at = end + 1;
    }
    bool isConst = false;
    std::string arrays, shape;
    std::string base;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i];
        const bool of        = i + 2 < words.size() && words[i + 2] == "of";
        int n                = 0;
        const size_t digits  = ReadNumber(w, 0, n);
        if (w == "const") {
            isConst = true;
        } else if (of && digits != std::string::npos && StartsWith(w, "-element", digits)) {
            arrays += "[" + std::to_string(n) + "]";
            i += 2;
        } else if (of && digits != std::string::npos && StartsWith(w, "-component", digits)) {
            shape = std::to_string(n);
            i += 2;
        } else if (of && digits != std::string::npos && StartsWith(w, "X", digits) &&
                   words[i + 1] == "matrix") {
            int rows = 0;
            if (ReadNumber(w, digits + 1, rows) == std::string::npos) return trimmed;
            shape = std::to_string(n) + "x" + std::to_string(rows);
            i += 2;
        } else if (i + 1 == words.size()) {
            base = w;
        }
    }
    for (const auto &object : kObjects)
        if (base == object[0]) base = object[1];
    if (base.empty()) return trimmed;
    return (isConst ? "const " : "") + base + shape + arrays;
}

// The candidates the Windows compiler lists for an intrinsic called with
// arguments no overload takes, as its output records them
// (docs/messages.md); an intrinsic without a record lists none.
const std::vector<std::string> *IntrinsicCandidates(const std::string &name) {
    static const std::pair<const char *, std::vector<std::string>> kRecorded[] = {
        {"dot",
         {"dot(floatM|halfM|doubleM|min10floatM|min16floatM|intM|uintM|min12intM|min16intM|"
          "min16uintM, floatM|halfM|doubleM|min10floatM|min16floatM|intM|uintM|min12intM|"
          "min16intM|min16uintM)"}},
        {"countbits", {"countbits(uint)"}},
        {"firstbithigh", {"firstbithigh(int|uint)"}},
        {"asuint", {"asuint(double, out uint x, out uint y)", "asuint(float|half|int|uint)"}},
    };
    for (const auto &[recorded, lines] : kRecorded)
        if (name == recorded) return &lines;
    return nullptr;
}

// The arguments of the call whose name stands at (line, column) of text:
// its top-level commas counted up to the closing parenthesis.
int ArgumentCount(const std::string &text, int line, int column) {
    size_t at = LineStart(text, line);
    if (at == std::string::npos || column < 1) return -1;
    at = text.find('(', at + column - 1);
    if (at == std::string::npos) return -1;
    int depth = 0, commas = 0;
    bool any = false;
    for (size_t i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '(' || c == '[' || c == '{') {
            if (depth++ > 0) any = true;
        } else if (c == ')' || c == ']' || c == '}') {
            if (--depth == 0) return any ? commas + 1 : 0;
        } else if (c == ',' && depth == 1) {
            ++commas;
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            any = true;
        }
    }
    return -1;
}

// What the parse stopped at, the first token of text at or after d's
// place, as the Windows compiler names it after "syntax error:
// unexpected": "token 'float'", "integer constant", "float constant", or
// "end of file" past the last token. d is placed on the token.
std::string UnexpectedToken(const std::string &text, Diagnostic &d) {
    const LexedHlsl lexed = LexHlsl(text, d.file.c_str());
    const int column      = std::max(d.column, 1);
    const Token *last     = nullptr;
    for (const Token &t : lexed.tokens) {
        if (t.kind != TokenKind::Directive) last = &t;
        if (t.kind == TokenKind::Directive || t.line < d.line ||
            (t.line == d.line && t.column + static_cast<int>(t.length) <= column))
            continue;
        const std::string spelled = text.substr(t.offset, t.length);
        d.line                    = t.line;
        d.column                  = t.column;
        if (t.length > 1) d.endColumn = t.column + static_cast<int>(t.length) - 1;
        if (const char *constant = HlslConstantKind(spelled)) return constant;
        return "token '" + spelled + "'";
    }
    // The end of the file is just past its last token.
    if (last) {
        d.line   = last->line;
        d.column = last->column + static_cast<int>(last->length);
    }
    return "end of file";
}

// The methods of HLSL's objects at shader model 4 and 5; a call of another
// name on an object names no method at all.
bool IsObjectMethod(const std::string &name) {
    static const char *const kMethods[] = {"Append",
                                           "CalculateLevelOfDetail",
                                           "CalculateLevelOfDetailUnclamped",
                                           "Consume",
                                           "DecrementCounter",
                                           "Gather",
                                           "GatherAlpha",
                                           "GatherBlue",
                                           "GatherCmp",
                                           "GatherCmpAlpha",
                                           "GatherCmpBlue",
                                           "GatherCmpGreen",
                                           "GatherCmpRed",
                                           "GatherGreen",
                                           "GatherRed",
                                           "GetDimensions",
                                           "GetSamplePosition",
                                           "IncrementCounter",
                                           "InterlockedAdd",
                                           "InterlockedAnd",
                                           "InterlockedCompareExchange",
                                           "InterlockedCompareStore",
                                           "InterlockedExchange",
                                           "InterlockedMax",
                                           "InterlockedMin",
                                           "InterlockedOr",
                                           "InterlockedXor",
                                           "Load",
                                           "Load2",
                                           "Load3",
                                           "Load4",
                                           "RestartStrip",
                                           "Sample",
                                           "SampleBias",
                                           "SampleCmp",
                                           "SampleCmpLevelZero",
                                           "SampleGrad",
                                           "SampleLevel",
                                           "Store",
                                           "Store2",
                                           "Store3",
                                           "Store4"};
    for (const char *method : kMethods)
        if (name == method) return true;
    return false;
}

// Whether an identifier follows column `end` of line `line` of text, past
// spaces: the name before it stands where a declaration's type does.
bool NameFollows(const std::string &text, int line, int end) {
    size_t at = LineStart(text, line);
    if (at == std::string::npos) return false;
    at += static_cast<size_t>(end);
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    return at < text.size() && IsIdentifierStart(text[at]);
}

// What the sources say, for the words of each message.
struct Sources {
    std::string fileName;
    const std::string &source;
    const IncludedFiles *included;
    const HlslModel *model;

    const std::string *TextOf(const std::string &file) const {
        if (file == fileName) return &source;
        if (!included) return nullptr;
        const auto found = included->find(file);
        return found == included->end() ? nullptr : &found->second;
    }
    // The model's first error of that kind on the message's line.
    const HlslError *ModelError(HlslErrorKind kind, const Diagnostic &d) const {
        if (!model) return nullptr;
        for (const HlslError &e : model->errors)
            if (!e.isWarning && e.kind == kind && e.pos.line == d.line &&
                e.pos.file < static_cast<int>(model->files.size()) &&
                model->files[e.pos.file] == d.file)
                return &e;
        return nullptr;
    }
    // A type's name as the Windows compiler prints it: "struct S" for a
    // structure.
    std::string TypeName(const std::string &name) const {
        const int symbol = model ? FindGlobal(*model, name) : -1;
        return symbol >= 0 && model->symbols[symbol].kind == HlslSymbolKind::Struct
                   ? "struct " + name
                   : name;
    }
    bool IsUserFunction(const std::string &name) const {
        if (!model) return false;
        for (const HlslFunction &f : model->functions)
            if (f.name == name) return true;
        return false;
    }
};

// Column and end of the name m quotes on its line, where it stands there.
void PlaceName(Diagnostic &d, const std::string &name, const Sources &sources) {
    const std::string *text = sources.TextOf(d.file);
    if (!text) return;
    const int column = WordColumn(*text, d.line, name);
    if (column == 0) return;
    d.column    = column;
    d.endColumn = column + static_cast<int>(name.size()) - 1;
}

// The span of the member expression whose member m quotes on its line
// ("input.colour.rgq"): the Windows compiler's place for an invalid
// subscript runs from the object to the member.
void PlaceMember(Diagnostic &d, const std::string &member, const Sources &sources) {
    PlaceName(d, member, sources);
    const std::string *text = sources.TextOf(d.file);
    if (!text || d.column == 0) return;
    const size_t start = LineStart(*text, d.line);
    if (start == std::string::npos) return;
    size_t at = start + d.column - 1; // the member's first character
    if (at == start || (*text)[at - 1] != '.') return;
    --at;
    while (at > start) {
        const char c = (*text)[at - 1];
        if (IsIdentifierChar(c) || c == '.') {
            --at;
        } else if (c == ']' || c == ')') {
            const char open = c == ']' ? '[' : '(';
            int depth       = 0;
            size_t k        = at - 1;
            for (; k > start; --k) {
                if ((*text)[k] == c) ++depth;
                if ((*text)[k] == open && --depth == 0) break;
            }
            if ((*text)[k] != open) break;
            at = k;
        } else {
            break;
        }
    }
    d.column = static_cast<int>(at - start) + 1;
}

bool EndsWith(const std::string &text, const char *suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// How many components a type of that HLSL name holds ("float2x3[2]" 12,
// "struct S" its members'); -1 for objects, strings and names it does not
// know.
int Components(std::string name, const Sources &sources) {
    if (StartsWith(name, "const ")) name.erase(0, 6);
    int count = 1;
    while (EndsWith(name, "]")) {
        const size_t open = name.rfind('[');
        int n             = 0;
        if (open == std::string::npos || ReadNumber(name, open + 1, n) == std::string::npos)
            return -1;
        count *= n;
        name.erase(open);
    }
    if (StartsWith(name, "struct ")) {
        const int symbol = sources.model ? FindGlobal(*sources.model, name.substr(7)) : -1;
        return symbol < 0 ? -1 : count * FlattenedCount(sources.model->symbols[symbol].type);
    }
    HlslType type;
    return BuiltinTypeFromName(name, type) && type.IsNumeric() ? count * type.ComponentCount() : -1;
}

// The Windows compiler's words for a conversion it refuses: "cannot
// implicitly convert" where the value has fewer components than the type
// it is given to, "cannot convert" where it has as many or more, which a
// vector or matrix would give by truncation but this type does not take.
std::string ConversionWords(const std::string &from, const std::string &to,
                            const Sources &sources) {
    const int a = Components(from, sources), b = Components(to, sources);
    return std::string(a >= 0 && b >= 0 && a >= b ? "cannot convert from '"
                                                  : "cannot implicitly convert from '") +
           from + "' to '" + to + "'";
}

// The message in the Windows compiler's words and code, where it gives
// this one; more lines where it says more (an intrinsic's candidates).
void WindowsWords(Message &m, const Sources &sources, std::vector<Diagnostic> &more) {
    Diagnostic &d            = m.diagnostic;
    const std::string &token = m.token;
    const std::string &why   = m.reason;
    if (m.expected) {
        const std::string *text = sources.TextOf(d.file);
        if (!text) return;
        // The model reads the text token by token where glslang's parser
        // may have backed up: where it stopped on the same line, its token
        // is the one.
        if (const HlslError *e = sources.ModelError(HlslErrorKind::Syntax, d)) {
            d.line   = e->pos.line;
            d.column = e->pos.column;
        }
        d.text = "syntax error: unexpected " + UnexpectedToken(*text, d);
        d.code = "X3000";
        return;
    }
    if (token == "#include" && StartsWith(why, "failed to open source file: '")) {
        // glslang adds " for header name: x"; the span is the quoted name.
        const size_t close = why.find('\'', 29);
        if (close == std::string::npos) return;
        const std::string name  = why.substr(29, close - 29);
        d.text                  = why.substr(0, close + 1);
        d.code                  = "X1507";
        const std::string *text = sources.TextOf(d.file);
        const int column        = text ? WordColumn(*text, d.line, "include") : 0;
        if (column == 0) return;
        const size_t at = LineStart(*text, d.line);
        if (at == std::string::npos) return;
        const size_t open = text->find_first_of("\"<", at + column + 6);
        if (open == std::string::npos || text->compare(open + 1, name.size(), name) != 0) return;
        d.column    = static_cast<int>(open - at) + 1;
        d.endColumn = d.column + static_cast<int>(name.size()) + 1;
        return;
    }
    if (why == "unknown variable" || why == "undeclared identifier") {
        d.code = "X3004";
        PlaceName(d, token, sources);
        // An unknown name where a declaration's type stands ("flaot3 c"):
        // the Windows compiler does not know it for a type.
        const std::string *text = sources.TextOf(d.file);
        if (text && d.endColumn > 0 && NameFollows(*text, d.line, d.endColumn)) {
            d.text = "unrecognized identifier '" + token + "'";
            d.code = "X3000";
        }
        return;
    }
    if (why == "no matching overloaded function found") {
        // glslang names an object's method __BI_Sample.
        const bool method      = StartsWith(token, "__BI_");
        const std::string name = method ? token.substr(5) : token;
        PlaceName(d, name, sources);
        if (method && !IsObjectMethod(name)) {
            // A method no object has: the Windows compiler reads it as a
            // member the object lacks.
            d.text = "invalid subscript '" + name + "'";
            d.code = "X3018";
            PlaceMember(d, name, sources);
            return;
        }
        const bool intrinsic = method || IsIntrinsicName(name);
        if (!intrinsic && !sources.IsUserFunction(name)) {
            d.text = "undeclared identifier '" + name + "'";
            d.code = "X3004";
            return;
        }
        const std::string *text = sources.TextOf(d.file);
        const int count = text && d.column > 0 ? ArgumentCount(*text, d.line, d.column) : -1;
        if (count < 0) return;
        d.text = "'" + name + "': no matching " + std::to_string(count) + " parameter " +
                 (method      ? "intrinsic method"
                  : intrinsic ? "intrinsic function"
                              : "function");
        d.code = "X3013";
        if (method) return;
        const std::vector<std::string> *candidates =
            intrinsic ? IntrinsicCandidates(token) : nullptr;
        if (!candidates) return;
        Diagnostic line = d;
        line.text       = "Possible intrinsic functions are:";
        more.push_back(line);
        for (const std::string &candidate : *candidates) {
            line.text = "    " + candidate;
            more.push_back(line);
        }
        return;
    }
    const bool conversion = StartsWith(why, "cannot convert from '");
    if (conversion || StartsWith(why, "type does not match, or is not convertible to") ||
        d.text == "could not create assignment") {
        // The model's conversion error on the line has the types as
        // written, before the text passes made degenerate matrices vectors;
        // else glslang's "cannot convert from ' temp 2-component vector of
        // float' to ' temp 3-component vector of float'" has them, where it
        // does not write a structure as its members.
        const size_t from = why.find('\'');
        const size_t mid  = why.find("' to '", from + 1);
        std::string a, b;
        const HlslError *e       = sources.ModelError(HlslErrorKind::NoConversion, d);
        const std::string &words = e ? e->words : std::string();
        const size_t at = words.find("from '"), to = words.find("' to '");
        if (at != std::string::npos && to != std::string::npos && EndsWith(words, "'")) {
            a = sources.TypeName(words.substr(at + 6, to - at - 6));
            b = sources.TypeName(words.substr(to + 6, words.size() - to - 7));
        } else if (conversion && mid != std::string::npos && EndsWith(why, "'")) {
            a = HlslSpelling(why.substr(from + 1, mid - from - 1));
            b = HlslSpelling(why.substr(mid + 6, why.size() - mid - 7));
        }
        if (a.empty() || a.find('{') != std::string::npos || b.find('{') != std::string::npos)
            return;
        d.text = ConversionWords(a, b, sources);
        d.code = "X3017";
        return;
    }
    if (why == "no such field in structure" || why == "matrix row component out of range" ||
        why == "matrix column component out of range") {
        d.text = "invalid subscript '" + token + "'";
        d.code = "X3018";
        PlaceMember(d, token, sources);
        return;
    }
    if (why == "vector swizzle selectors not from the same set" ||
        why == "vector swizzle too long" || why == "vector swizzle selection out of range" ||
        why == "unknown swizzle selection" || why == "illegal vector field selection" ||
        why == "matrix field selection out of range" || why == "invalid swizzle") {
        d.text = "invalid subscript '" + token + "'";
        d.code = "X3018";
        PlaceMember(d, token, sources);
        return;
    }
    if (why == "redefinition") {
        d.text = "redefinition of '" + token + "'";
        d.code = "X3003";
        PlaceName(d, token, sources);
        return;
    }
    if (StartsWith(why, "l-value required") &&
        why.find("can't modify a const") != std::string::npos) {
        d.text = "l-value specifies const object";
        d.code = "X3025";
        return;
    }
}

// A line glslang adds after an error it already reported: every rule the
// parser was inside when it stopped says what it expected, and an operation
// on a value that failed reports the operation failing.
bool RepeatsAnError(const Message &m, const std::vector<Message> &kept) {
    if (m.diagnostic.severity != Severity::Error) return false;
    bool earlier = false, sameLine = false;
    for (const Message &k : kept) {
        if (k.diagnostic.severity != Severity::Error) continue;
        earlier = true;
        if (k.diagnostic.file == m.diagnostic.file && k.diagnostic.line == m.diagnostic.line)
            sameLine = true;
    }
    if (m.expected) return earlier;
    const std::string &why = m.reason.empty() ? m.diagnostic.text : m.reason;
    return sameLine && (StartsWith(why, "Could not perform requested") ||
                        why == "could not create assignment" ||
                        StartsWith(why, "type does not match, or is not convertible to") ||
                        why.find("l-value required") != std::string::npos);
}

// glslang's own check of a call's arguments ("expected: mul arguments"),
// said before the call is found to match no overload: the Windows compiler
// says only the latter.
bool PrecedesNoOverload(const Message &m, const std::vector<Message> &read) {
    if (!StartsWith(m.reason, "expected: ")) return false;
    for (const Message &other : read)
        if (other.reason == "no matching overloaded function found" &&
            other.diagnostic.file == m.diagnostic.file &&
            other.diagnostic.line == m.diagnostic.line)
            return true;
    return false;
}

} // namespace

void ReadGlslangMessages(const std::string &log, const char *fileName, const std::string &source,
                         Diagnostics &diagnostics, const HlslModel *model,
                         const IncludedFiles *included) {
    const Sources sources{fileName, source, included, model};
    std::vector<Message> read;
    std::vector<std::pair<int, int>> parseColumns;
    for (size_t at = 0; at < log.size();) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        Message m;
        if (ReadLine(log.substr(at, end - at), sources.fileName, m, parseColumns))
            read.push_back(std::move(m));
        at = end + 1;
    }
    std::vector<Message> kept;
    for (Message &m : read) {
        if (RepeatsAnError(m, kept) || PrecedesNoOverload(m, read)) continue;
        Diagnostic &d = m.diagnostic;
        if (d.file == sources.fileName) d.column = WordColumn(source, d.line, m.token);
        for (const auto &[row, column] : parseColumns)
            if (d.column == 0 && row == d.line) d.column = column;
        kept.push_back(std::move(m));
    }
    for (Message &m : kept) {
        std::vector<Diagnostic> more;
        WindowsWords(m, sources, more);
        diagnostics.items.push_back(std::move(m.diagnostic));
        for (Diagnostic &d : more)
            diagnostics.items.push_back(std::move(d));
    }
}
