// glslang writes "ERROR: main.fx:6: ';' : Expected", a line saying at which
// column the parse gave up, and summary lines; the Windows compiler writes
// "main.fx(6,11): error X3000: syntax error: unexpected token ';'". This file
// turns the first into the second's shape. It parses by hand rather than with
// std::regex, whose recursion a long line of binary garbage could overflow.
#include "platform/gl/compiler/messages.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

struct Diagnostic {
    std::string file;
    int line     = 1;
    int column   = 0; // 0 until known
    bool warning = false;
    std::string text;
    std::string token; // the name glslang quoted, to find the column by
};

bool StartsWith(const std::string &text, const char *prefix, size_t at = 0) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Reads the digits at text[at...] into value; returns the index after them,
// or npos when there are none.
size_t ReadNumber(const std::string &text, size_t at, int &value) {
    size_t end = at;
    value      = 0;
    while (end < text.size() && IsDigit(text[end]) && end - at < 9)
        value = value * 10 + (text[end++] - '0');
    return end > at ? end : std::string::npos;
}

// "file(line,column[-end]): error|warning[ X1234]: text", as this backend's
// own checks and the Windows compiler write it.
bool ParseShaped(const std::string &line, Diagnostic &out) {
    for (size_t open = line.find('('); open != std::string::npos; open = line.find('(', open + 1)) {
        int row = 0, column = 0, end = 0;
        size_t at = ReadNumber(line, open + 1, row);
        if (at == std::string::npos || at >= line.size() || line[at] != ',') continue;
        at = ReadNumber(line, at + 1, column);
        if (at == std::string::npos) continue;
        if (at < line.size() && line[at] == '-') at = ReadNumber(line, at + 1, end);
        if (at == std::string::npos || !StartsWith(line, "): ", at)) continue;
        at += 3;
        const bool warning = StartsWith(line, "warning", at);
        if (!warning && !StartsWith(line, "error", at)) continue;
        at += warning ? 7 : 5;
        if (StartsWith(line, " X", at))
            while (at + 1 < line.size() && line[at] != ':')
                ++at;
        if (!StartsWith(line, ": ", at)) continue;
        out.file    = line.substr(0, open);
        out.line    = row;
        out.column  = std::max(column, 1);
        out.warning = warning;
        out.text    = line.substr(at + 2);
        return true;
    }
    return false;
}

// glslang's "'token' : reason extra" in plain words: "'token': reason", and
// "syntax error: expected ';'" for the parser's "';' : Expected".
void PlainWords(Diagnostic &d) {
    std::string &text = d.text;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    if (text.size() < 2 || text[0] != '\'') return;
    const size_t close = text.find("' : ", 1);
    if (close == std::string::npos) return;
    d.token            = text.substr(1, close - 1);
    std::string reason = text.substr(close + 4);
    while (!reason.empty() && reason[0] == ' ')
        reason.erase(0, 1);
    if (reason == "Expected") {
        // The parser names a literal token or what kind of thing it wanted.
        const bool kind =
            !d.token.empty() && std::all_of(d.token.begin(), d.token.end(), [](char c) {
                return std::isalpha(static_cast<unsigned char>(c)) || c == ' ' || c == '-';
            });
        text = "syntax error: expected " + (kind ? d.token : "'" + d.token + "'");
        if (kind) d.token.clear();
    } else if (reason == "unknown variable") {
        text = "undeclared identifier '" + d.token + "'";
    } else if (d.token.empty()) {
        text = reason;
    } else {
        text = "'" + d.token + "': " + reason;
    }
}

// One line of glslang's or the backend's text; false for a line that says
// nothing of its own (blank, a summary). parseColumn collects "the parse gave
// up at column N" per line.
bool ParseLine(const std::string &line, const std::string &fileName, Diagnostic &out,
               std::vector<std::pair<int, int>> &parseColumns) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return false;
    if (ParseShaped(line, out)) return true;

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

    std::string rest = line;
    out.file         = fileName;
    out.warning      = false;
    bool prefixed    = false;
    for (const char *prefix : {"ERROR: ", "INTERNAL ERROR: ", "UNIMPLEMENTED: ", "WARNING: ",
                               "NOTE: ", "error: ", "warning: "}) {
        if (!StartsWith(rest, prefix)) continue;
        out.warning = prefix[0] == 'W' || prefix[0] == 'w' || prefix[0] == 'N';
        rest        = rest.substr(std::strlen(prefix));
        prefixed    = true;
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
        out.warning = true;
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
        out.file = rest.substr(0, colon);
        out.line = std::max(row, 1);
        out.text = rest.substr(e + 2);
        PlainWords(out);
        return true;
    }
    // "file: text": about the file as a whole.
    if (StartsWith(rest, (fileName + ": ").c_str())) rest = rest.substr(fileName.size() + 2);
    out.line = 1;
    out.text = rest;
    PlainWords(out);
    return true;
}

// Line number row (from 1) of text, without its line break.
std::string SourceLine(const std::string &text, int row) {
    size_t at = 0;
    for (int n = 1; n < row && at != std::string::npos; ++n) {
        at = text.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos || at > text.size()) return "";
    const size_t end = text.find('\n', at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The column (from 1) where name stands as a whole word in line; 0 if not.
int WordColumn(const std::string &line, const std::string &name) {
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsWordChar)) return 0;
    for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || !IsWordChar(line[at - 1])) &&
            (end >= line.size() || !IsWordChar(line[end])))
            return static_cast<int>(at) + 1;
    }
    return 0;
}

} // namespace

std::string WindowsShapedMessages(const std::string &text, const std::string &fileName,
                                  const std::string &source) {
    std::vector<Diagnostic> found;
    std::vector<std::pair<int, int>> parseColumns;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        Diagnostic d;
        if (ParseLine(text.substr(at, end - at), fileName, d, parseColumns))
            found.push_back(std::move(d));
        at = end + 1;
    }

    std::vector<std::string> files; // in order of first appearance
    for (Diagnostic &d : found) {
        if (std::find(files.begin(), files.end(), d.file) == files.end()) files.push_back(d.file);
        if (d.column > 0) continue;
        if (d.file == fileName) d.column = WordColumn(SourceLine(source, d.line), d.token);
        for (const auto &[row, column] : parseColumns)
            if (d.column == 0 && row == d.line) d.column = column;
        if (d.column == 0) d.column = 1;
    }
    auto rank = [&](const Diagnostic &d) {
        return std::find(files.begin(), files.end(), d.file) - files.begin();
    };
    std::stable_sort(found.begin(), found.end(), [&](const Diagnostic &a, const Diagnostic &b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        return a.line < b.line;
    });

    std::string shaped, previous;
    for (const Diagnostic &d : found) {
        std::string line = d.file + "(" + std::to_string(d.line) + "," + std::to_string(d.column) +
                           "): " + (d.warning ? "warning: " : "error: ") + d.text + "\n";
        if (line != previous) shaped += line; // glslang repeats some messages
        previous = line;
    }
    return shaped;
}
