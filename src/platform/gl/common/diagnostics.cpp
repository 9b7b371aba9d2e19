// The compiler's diagnostics in the Windows compiler's shape (diagnostics.h).
#include "platform/gl/common/diagnostics.h"

#include <algorithm>

namespace {

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

std::string FormatDiagnostics(const Diagnostics &diagnostics) {
    std::vector<std::string> files; // in order of first appearance
    for (const Diagnostic &d : diagnostics.items)
        if (std::find(files.begin(), files.end(), d.file) == files.end()) files.push_back(d.file);
    auto rank = [&](const Diagnostic &d) {
        return std::find(files.begin(), files.end(), d.file) - files.begin();
    };
    // A message about the file as a whole stands with its first line.
    auto line = [](const Diagnostic &d) { return std::max(d.line, 1); };
    std::vector<const Diagnostic *> sorted;
    for (const Diagnostic &d : diagnostics.items)
        sorted.push_back(&d);
    std::stable_sort(sorted.begin(), sorted.end(), [&](const Diagnostic *a, const Diagnostic *b) {
        if (rank(*a) != rank(*b)) return rank(*a) < rank(*b);
        return line(*a) < line(*b);
    });

    std::string text, previous;
    for (const Diagnostic *d : sorted) {
        const int column = std::max(d->column, 1);
        // A message about no place in the source (an entry point not found)
        // names none, as the Windows compiler's does.
        std::string shaped =
            d->file.empty()
                ? std::string()
                : d->file + "(" + std::to_string(line(*d)) + "," + std::to_string(column) +
                      (d->endColumn > column ? "-" + std::to_string(d->endColumn) : "") + "): ";
        shaped += std::string(d->severity == Severity::Warning ? "warning" : "error") +
                  (d->code.empty() ? "" : " " + d->code) + ": " + d->text + "\n";
        if (shaped != previous) text += shaped;
        previous = std::move(shaped);
    }
    return text;
}

size_t LineStart(const std::string &text, int line) {
    size_t start = 0;
    for (int n = 1; n < line && start != std::string::npos; ++n) {
        start = text.find('\n', start);
        if (start != std::string::npos) ++start;
    }
    return start;
}

int WordColumn(const std::string &text, int line, const std::string &name) {
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsWordChar)) return 0;
    const size_t start = LineStart(text, line);
    if (start == std::string::npos || start > text.size()) return 0;
    const size_t newline = text.find('\n', start);
    const std::string row =
        text.substr(start, newline == std::string::npos ? newline : newline - start);
    for (size_t at = row.find(name); at != std::string::npos; at = row.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || !IsWordChar(row[at - 1])) && (end >= row.size() || !IsWordChar(row[end])))
            return static_cast<int>(at) + 1;
    }
    return 0;
}
