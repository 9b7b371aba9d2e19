// What a compile has to say: each error and warning recorded once, where it
// is found, with its place in the user's files, and formatted once, at the
// end, in the Windows compiler's shape ("main.fx(8,5): error: text"), which
// editors' problem matchers for the Windows compiler read.
#pragma once

#include <string>
#include <vector>

enum class Severity { Error, Warning };

struct Diagnostic {
    std::string file;      // as the compile named it, or the included file's name
    int line          = 0; // 1-based; 0 when the message is about the file as a whole
    int column        = 0; // 1-based; 0 when not known (formatted as 1)
    Severity severity = Severity::Error;
    std::string text;
    std::string
        code; // the Windows compiler's number for it ("X3004"), empty where no record gives one
    int endColumn =
        0; // the last column of the span it names, where the Windows compiler gives a range
};

struct Diagnostics {
    std::vector<Diagnostic> items;

    void Error(const std::string &file, int line, int column, const std::string &text,
               const std::string &code = std::string(), int endColumn = 0) {
        items.push_back({file, line, column, Severity::Error, text, code, endColumn});
    }
    void Warning(const std::string &file, int line, int column, const std::string &text,
                 const std::string &code = std::string(), int endColumn = 0) {
        items.push_back({file, line, column, Severity::Warning, text, code, endColumn});
    }
    bool HasErrors() const {
        for (const Diagnostic &d : items)
            if (d.severity == Severity::Error) return true;
        return false;
    }
};

// The one formatter: every diagnostic on a line of its own in the Windows
// compiler's shape, "file(line,column): error X3004: text" or
// "...: warning X3206: ...", the column a range "column-end" where the
// diagnostic has an end, the code left out where it has none,
// grouped by file in the order the files first appear and in line order
// within a file (each in the order recorded where lines tie), a line 0 or a
// column 0 written as 1, a line equal to the one before it written once
// (glslang repeats some messages); a diagnostic with no file is written
// without a place, "error X3501: text".
std::string FormatDiagnostics(const Diagnostics &diagnostics);

// Where line `line` (from 1) of text starts; npos where the text has
// fewer lines.
size_t LineStart(const std::string &text, int line);

// The column (from 1) where name stands as a whole word on line `line`
// (from 1) of text; 0 when it does not, or when name is not a single word.
// Where a message quotes a name, this is the column it is given.
int WordColumn(const std::string &text, int line, const std::string &name);
