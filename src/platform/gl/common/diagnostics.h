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
};

struct Diagnostics {
    std::vector<Diagnostic> items;

    void Error(const std::string &file, int line, int column, const std::string &text) {
        items.push_back({file, line, column, Severity::Error, text});
    }
    void Warning(const std::string &file, int line, int column, const std::string &text) {
        items.push_back({file, line, column, Severity::Warning, text});
    }
    bool HasErrors() const {
        for (const Diagnostic &d : items)
            if (d.severity == Severity::Error) return true;
        return false;
    }
};

// The one formatter: every diagnostic on a line of its own in the Windows
// compiler's shape, "file(line,column): error: text" or "...: warning: ...",
// grouped by file in the order the files first appear and in line order
// within a file (each in the order recorded where lines tie), a line 0 or a
// column 0 written as 1, a line equal to the one before it written once
// (glslang repeats some messages).
std::string FormatDiagnostics(const Diagnostics &diagnostics);

// The column (from 1) where name stands as a whole word on line `line`
// (from 1) of text; 0 when it does not, or when name is not a single word.
// Where a message quotes a name, this is the column it is given.
int WordColumn(const std::string &text, int line, const std::string &name);
