// Refusals of the sources glslang crashes on (crash_guards.h).
#include "platform/gl/hlsl/crash_guards.h"
#include "platform/gl/hlsl/glslang_messages.h"
#include "platform/gl/hlsl/glslang_parse.h"
#include "platform/gl/hlsl/lexer.h"

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

// Checks the text as the preprocessor leaves it (so comments and code that
// #if leaves out do not count) for
// - a '[' that something other than ']' closes or ends: "float a[2)",
//   "float a[2;" (in a source that parses, nothing does);
// - a constant incremented or decremented: "k < 4 ++k", a for loop short of
//   a ';'.
// The tokens place each in its (included) file by the #line directives.
bool PreprocessedTextSafe(const std::string &output, const LexedHlsl &lexed,
                          Diagnostics &diagnostics) {
    const Tokens &tokens = lexed.tokens;
    std::vector<const Token *> open; // the brackets not yet closed, innermost last
    for (size_t i = 0; i <= tokens.size(); ++i) {
        const Token *t = i < tokens.size() ? &tokens[i] : nullptr;
        const char c =
            t && t->kind == TokenKind::Punctuator && t->length == 1 ? output[t->offset] : '\0';
        const bool inSquare = !open.empty() && output[open.back()->offset] == '[';
        if (inSquare && (c == ')' || c == '}' || c == '{' || c == ';' || !t)) {
            diagnostics.Error(lexed.files[open.back()->file], std::max(open.back()->line, 1), 0,
                              "'[': no matching ']'");
            return false;
        }
        if (!t) break;
        if (c == '(' || c == '[' || c == '{') {
            open.push_back(t);
        } else if ((c == ')' || c == ']' || c == '}') && !open.empty()) {
            open.pop_back();
        } else if (t->kind == TokenKind::Number && i + 1 < tokens.size() &&
                   (Is(output, tokens[i + 1], "++") || Is(output, tokens[i + 1], "--"))) {
            diagnostics.Error(lexed.files[t->file], std::max(t->line, 1), 0,
                              "'" + output.substr(tokens[i + 1].offset, 2) +
                                  "': a constant cannot be changed");
            return false;
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

// Whether every definition of the entry point, as the model read it, takes
// no input that a geometry stage could read as a single structure: then
// the parse below would find nothing, and the compile saves a whole parse.
// In any doubt (a file the model could not read throughout), false.
bool EntryParametersPlainlySafe(const HlslModel &model, const char *entryPoint,
                                EShLanguage language) {
    for (const HlslError &error : model.errors)
        if (error.kind == HlslErrorKind::Syntax || error.kind == HlslErrorKind::TooDeep)
            return false;
    bool defined = false;
    for (const HlslFunction &function : model.functions) {
        if (function.name != entryPoint || function.body < 0) continue;
        defined = true;
        if (language != EShLangGeometry) continue;
        for (int index : function.params) {
            const HlslSymbol &parameter = model.symbols[index];
            if (!parameter.type.IsArray() && !(parameter.storage & kOut) &&
                !parameter.type.IsNumeric())
                return false;
        }
    }
    return defined;
}

// noise() is an intrinsic of the texture-fill profile tx_1_0 only; glslang
// 12 declares it for HLSL and then crashes on a call (its HLSL lowering has
// no case for it). A source that defines its own noise() calls that one.
bool CallsNoise(const std::string &source, const LexedHlsl &lexed, const char *fileName,
                const std::string &original, Diagnostics &diagnostics) {
    const Tokens &tokens = lexed.tokens;
    const Token *call    = nullptr;
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Identifier || !Is(source, tokens[i], "noise") ||
            !Is(source, tokens[i + 1], "("))
            continue;
        if (i > 0 && tokens[i - 1].kind == TokenKind::Identifier &&
            !Is(source, tokens[i - 1], "return"))
            return false; // a definition or declaration of the source's own
        if (!call) call = &tokens[i];
    }
    if (!call) return false;
    const std::string &file = lexed.files[call->file];
    const int line          = std::max(call->line, 1);
    diagnostics.Error(file, line, file == fileName ? WordColumn(original, line, "noise") : 0,
                      "'noise' is only for texture shaders (tx_1_0), not for the vertex, "
                      "geometry and pixel profiles");
    return true;
}

} // namespace

bool SafeToParse(const std::string &source, const LexedHlsl &lexed, const HlslModel &model,
                 const char *fileName, const std::string &original, const char *entryPoint,
                 EShLanguage language, Diagnostics &diagnostics) {
    const char *text = source.c_str();
    int length       = static_cast<int>(source.size());
    if (!PreprocessedTextSafe(source, lexed, diagnostics)) return false;
    if (CallsNoise(source, lexed, fileName, original, diagnostics)) return false;
    if (!NamesFunction(source, lexed.tokens, entryPoint)) return true;
    if (EntryParametersPlainlySafe(model, entryPoint, language)) return true;

    glslang::TShader shader(language);
    const std::string noEntry = GeneratedName("no_entry_point");
    SetUpShader(shader, text, length, fileName, noEntry.c_str(), language);
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
