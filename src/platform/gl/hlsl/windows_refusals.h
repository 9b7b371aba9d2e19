// What glslang takes and the Windows compiler refuses, judged on the model
// before glslang reads the text, in the Windows compiler's words; and the
// warnings that compiler prints beside its errors.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/model.h"
#include "platform/gl/hlsl/source_files.h"

#include <string>

// The places the model gives, in the user's files: glslang's preprocessor
// respaces the lines it writes, so a column of the text the model read
// (text, lexed as lexed) is not the user's. A token is found on its line
// of the file as written (original, or an included file's text) as the
// same occurrence of its spelling; where it is not, its column is kept.
class SourceColumns {
  public:
    SourceColumns(const std::string &text, const LexedHlsl &lexed, const std::string &original,
                  const IncludedFiles &included)
        : text_(text), code_(CodeTokens(lexed.tokens)), files_(lexed.files), original_(original),
          included_(included) {}
    // The line of the token at pos (the end of the text: of its last
    // token), the user's column of it (the end: just after the last token),
    // and of its last character.
    int LineOf(const HlslPos &pos) const;
    int Start(const HlslPos &pos) const;
    int End(const HlslPos &pos) const;
    // The line as the user wrote it; empty where the file is not known.
    std::string_view Line(int file, int line) const;

  private:
    const std::string &text_;
    Tokens code_;
    std::vector<std::string> files_;
    const std::string &original_;
    const IncludedFiles &included_;
};

// A missing ';' (X3000, at the token that follows where it belongs): only
// that, when it is the model's first syntax error, as the Windows compiler
// stops at its first. Otherwise a second global or structure member of one
// name (X3003), every write to something const (X3025: assignments, ++ and
// --, out and inout arguments), and a function that can end without
// returning its value (X3507). False when it refused.
bool CheckWindowsRefusals(const HlslModel &model, const SourceColumns &columns,
                          Diagnostics &diagnostics);

// Implicit truncations (X3206) and conversions to a smaller type (X3205),
// as the #pragma warning lines before each have them: left out (disable:
// N), given once (once: N), or made errors (error: N), which go to errors;
// none where the model found a syntax error, which the Windows compiler
// reports alone.
void AddWindowsWarnings(const HlslModel &model, const SourceColumns &columns, Diagnostics &warnings,
                        Diagnostics &errors);

// Puts each warning among the diagnostics before the first of its file
// that stands after it, so that a line reads in column order.
void MergeWarnings(const Diagnostics &warnings, Diagnostics &diagnostics);
