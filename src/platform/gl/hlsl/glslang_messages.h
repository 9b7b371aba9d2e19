// glslang's own messages (its preprocessor, parser, linker and SPIR-V
// builder), read once, where glslang hands them over, into the compile's
// diagnostics (compiler/diagnostics.h), in the Windows compiler's words.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/source_files.h"

#include <string>

struct HlslModel;

// Reads an info log in glslang's shape ("ERROR: main.fx:6: ';' : Expected",
// "WARNING: ...", the SPIR-V builder's "TBD functionality: ...") into
// diagnostics, leaving out blank and summary lines. fileName is the file as
// the compile named it, for the messages that name none; source is its
// text, included the text of the files it includes. glslang 12 gives only a
// message's line (its locations have a column, but it prints none), so the
// column is where the name the message quotes stands on that line, else
// where the log says the HLSL parse gave up on that line, else unknown.
//
// A message the Windows compiler also gives is written in its words and
// with its code (docs/messages.md lists each with its record): undeclared
// names, misspelled functions and calls no overload takes (model, where
// given, tells a user function from an unknown name), conversions with
// HLSL's type names, invalid swizzles, writes to const values,
// redefinitions, and syntax errors named by the token the parse stopped at.
// glslang's HLSL parser stops at the first error it cannot read past, and
// every rule it was inside then says what it expected: those lines, and the
// failed operation on the same line, say the first error again and are
// left out. Other messages keep glslang's words, with no code.
void ReadGlslangMessages(const std::string &log, const char *fileName, const std::string &source,
                         Diagnostics &diagnostics, const HlslModel *model = nullptr,
                         const IncludedFiles *included = nullptr);
