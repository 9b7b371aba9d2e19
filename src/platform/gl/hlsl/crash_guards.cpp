// Refusals of the sources glslang crashes on (crash_guards.h).
#include "platform/gl/hlsl/crash_guards.h"
#include "platform/gl/hlsl/glslang_messages.h"
#include "platform/gl/hlsl/glslang_parse.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Checks the text as the preprocessor leaves it (so comments and code that
// #if leaves out do not count) for
// - a '[' that something other than ']' closes or ends: "float a[2)",
//   "float a[2;" (in a source that parses, nothing does);
// - a constant incremented or decremented: "k < 4 ++k", a for loop short of
//   a ';'.
bool PreprocessedTextSafe(const std::string &output, const char *fileName,
                          Diagnostics &diagnostics) {
    std::string where = fileName; // the file the text at hand came from
    // The brackets not yet closed, innermost last, with their lines.
    std::vector<std::pair<char, int>> open;
    int line = 1;
    for (size_t at = 0; at <= output.size(); ++at) {
        const char c        = at < output.size() ? output[at] : '\0';
        const bool inSquare = !open.empty() && open.back().first == '[';
        if (inSquare && (c == ')' || c == '}' || c == '{' || c == ';' || c == '\0')) {
            diagnostics.Error(where, std::max(open.back().second, 1), 0, "'[': no matching ']'");
            return false;
        }
        const bool tokenStart = at == 0 || !IsIdentifierChar(output[at - 1]);
        if ((at == 0 || output[at - 1] == '\n') && c == '#') {
            // A directive line: "#line N" says which line the next one is,
            // '#line N "name"' also which (included) file.
            const size_t end = output.find('\n', at);
            if (output.compare(at, 6, "#line ") == 0) {
                line                 = std::atoi(&output[at + 6]) - 1;
                const std::string it = output.substr(at, end == std::string::npos ? end : end - at);
                const size_t quote   = it.find('"');
                if (quote != std::string::npos && it.rfind('"') > quote)
                    where = it.substr(quote + 1, it.rfind('"') - quote - 1);
            }
            at = end == std::string::npos ? output.size() - 1 : end - 1;
        } else if (c == '\n') {
            ++line;
        } else if (c == '"') {
            const size_t end = output.find_first_of("\"\n", at + 1);
            if (end == std::string::npos) break;
            at = output[end] == '"' ? end : end - 1;
        } else if (c == '(' || c == '[' || c == '{') {
            open.emplace_back(c, line);
        } else if ((c == ')' || c == ']' || c == '}') && !open.empty()) {
            open.pop_back();
        } else if (tokenStart &&
                   (std::isdigit(static_cast<unsigned char>(c)) ||
                    (c == '.' && std::isdigit(static_cast<unsigned char>(
                                     at + 1 < output.size() ? output[at + 1] : 0))))) {
            size_t end = at;
            while (end < output.size() && (IsIdentifierChar(output[end]) || output[end] == '.' ||
                                           ((output[end] == '+' || output[end] == '-') &&
                                            (output[end - 1] == 'e' || output[end - 1] == 'E'))))
                ++end;
            const size_t next = output.find_first_not_of(" \t\r\n", end);
            if (next != std::string::npos &&
                (output.compare(next, 2, "++") == 0 || output.compare(next, 2, "--") == 0)) {
                diagnostics.Error(where, std::max(line, 1), 0,
                                  "'" + output.substr(next, 2) + "': a constant cannot be changed");
                return false;
            }
            at = end - 1;
        }
    }
    return true;
}

// Finds, among the entry point's parameters, one glslang crashes on when it
// makes the function a stage: one with no name, or in a geometry stage a
// structure taken as input but not as an array of vertices. (Clip and cull
// distances in its input, which glslang also crashes on, are renamed before
// it parses them: clip_distances.h.)

class UnsafeEntryParameter : public glslang::TIntermTraverser {
  public:
    UnsafeEntryParameter(const std::string &entryPoint, EShLanguage language)
        : prefix_(entryPoint + "("), language_(language) {}
    bool visitAggregate(glslang::TVisit, glslang::TIntermAggregate *node) override {
        if (node->getOp() != glslang::EOpFunction) return true;
        if (node->getName().compare(0, prefix_.size(), prefix_.c_str()) != 0) return false;
        for (TIntermNode *child : node->getSequence()) {
            glslang::TIntermAggregate *parameters = child->getAsAggregate();
            if (!parameters || parameters->getOp() != glslang::EOpParameters) continue;
            for (TIntermNode *parameter : parameters->getSequence()) {
                glslang::TIntermSymbol *symbol = parameter->getAsSymbolNode();
                if (!symbol || found) continue;
                const glslang::TType &type = symbol->getType();
                const auto storage         = type.getQualifier().storage;
                if (symbol->getName().empty()) {
                    found  = symbol;
                    name   = prefix_.substr(0, prefix_.size() - 1);
                    reason = "every parameter of an entry point needs a name";
                } else if (language_ == EShLangGeometry && type.isStruct() && !type.isArray() &&
                           (storage == glslang::EvqIn || storage == glslang::EvqInOut)) {
                    found  = symbol;
                    name   = symbol->getName().c_str();
                    reason = std::string("a geometry stage input must be an array of the ") +
                             "primitive's vertices, for example 'point " +
                             type.getTypeName().c_str() + " " + symbol->getName().c_str() + "[1]'";
                }
            }
        }
        return false;
    }
    glslang::TIntermSymbol *found = nullptr;
    std::string name, reason; // what to quote, and what is wrong with it

  private:
    std::string prefix_;
    EShLanguage language_;
};

} // namespace

bool SafeToParse(const std::string &source, const char *fileName, const std::string &original,
                 const char *entryPoint, EShLanguage language, Diagnostics &diagnostics) {
    const char *text = source.c_str();
    int length       = static_cast<int>(source.size());
    if (!PreprocessedTextSafe(source, fileName, diagnostics)) return false;
    if (!NamesFunction(source, entryPoint)) return true;

    glslang::TShader shader(language);
    SetUpShader(shader, text, length, fileName, "hotfx_no_entry_point", language);
    shader.parse(GetDefaultResources(), 100, false, kMessages);
    glslang::TIntermediate *tree = shader.getIntermediate();
    if (!tree || !tree->getTreeRoot()) {
        ReadGlslangMessages(shader.getInfoLog(), fileName, original, diagnostics);
        return false;
    }
    UnsafeEntryParameter finder(entryPoint, language);
    tree->getTreeRoot()->traverse(&finder);
    if (!finder.found) return true;
    // At the line glslang gives; the quoted name gives the column.
    const int line = std::max(finder.found->getLoc().line, 1);
    diagnostics.Error(fileName, line, WordColumn(original, line, finder.name),
                      "'" + finder.name + "': " + finder.reason);
    return false;
}
