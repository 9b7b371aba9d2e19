// glslang's own messages (its preprocessor, parser, linker and SPIR-V
// builder), read once, where glslang hands them over, into the compile's
// diagnostics (compiler/diagnostics.h).
#pragma once

#include "platform/gl/common/diagnostics.h"

#include <string>

// Reads an info log in glslang's shape ("ERROR: main.fx:6: ';' : Expected",
// "WARNING: ...", the SPIR-V builder's "TBD functionality: ...") into
// diagnostics, in plain words ("syntax error: expected ';'"), leaving out
// blank and summary lines. fileName is the file as the compile named it,
// for the messages that name none; source is its text. glslang 12 gives
// only a message's line (its locations have a column, but it prints none,
// EShMsgEnhanced included, and it counts in the preprocessed text), so the
// column is where the name the message quotes stands on that line of
// source, else where the log says the HLSL parse gave up on that line,
// else unknown.
void ReadGlslangMessages(const std::string &log, const char *fileName, const std::string &source,
                         Diagnostics &diagnostics);
