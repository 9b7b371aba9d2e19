// The compiler's text in the shape the Windows compiler gives it: one line
// per diagnostic, "file(line,column): error: text" or "...: warning: text",
// which editors' problem matchers for the Windows compiler read.
#pragma once

#include <string>

// Rewrites everything the backend's compile gathered (glslang's messages,
// the backend's own checks, the compile server's reports) into that shape,
// in source order, without blank lines or glslang's summary lines. Lines
// already in the shape pass unchanged. fileName is the file as the caller
// named it; source is its text, used to find the column of a quoted name
// where glslang gives only the line (column 1 when it cannot be found).
std::string WindowsShapedMessages(const std::string &text, const std::string &fileName,
                                  const std::string &source);
