// glslang's messages read into diagnostics (glslang_messages.h). Parsed by
// hand rather than with std::regex, whose recursion a long line of binary
// garbage could overflow.
#include "platform/gl/hlsl/glslang_messages.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

namespace {

bool StartsWith(const std::string &text, const char *prefix, size_t at = 0) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
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

// One message as read, with the name it quotes to find its column by.
struct Message {
    Diagnostic diagnostic;
    std::string token;
};

// glslang's "'token' : reason extra" in plain words: "'token': reason", and
// "syntax error: expected ';'" for the parser's "';' : Expected".
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
    if (reason == "Expected") {
        // The parser names a literal token or what kind of thing it wanted.
        const bool kind =
            !m.token.empty() && std::all_of(m.token.begin(), m.token.end(), [](char c) {
                return std::isalpha(static_cast<unsigned char>(c)) || c == ' ' || c == '-';
            });
        text = "syntax error: expected " + (kind ? m.token : "'" + m.token + "'");
        if (kind) m.token.clear();
    } else if (reason == "unknown variable") {
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

} // namespace

void ReadGlslangMessages(const std::string &log, const char *fileName, const std::string &source,
                         Diagnostics &diagnostics) {
    const std::string name = fileName;
    std::vector<Message> read;
    std::vector<std::pair<int, int>> parseColumns;
    for (size_t at = 0; at < log.size();) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        Message m;
        if (ReadLine(log.substr(at, end - at), name, m, parseColumns)) read.push_back(std::move(m));
        at = end + 1;
    }
    for (Message &m : read) {
        Diagnostic &d = m.diagnostic;
        if (d.file == name) d.column = WordColumn(source, d.line, m.token);
        for (const auto &[row, column] : parseColumns)
            if (d.column == 0 && row == d.line) d.column = column;
        diagnostics.items.push_back(std::move(d));
    }
}
