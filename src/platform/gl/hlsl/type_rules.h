// What the Windows compiler (the 4_0 profiles) refuses for the types and
// values of expressions, where glslang converts or computes on: integer
// division or remainder by a zero it knows at compile time, asint() and
// asuint() of a bool, a shift of a floating-point value, and a numeric
// constructor in an attribute that its literals do not fill. The record is
// vkd3d's tests under ../shared/vkd3d-tests/hlsl, which run on Windows.
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

struct Diagnostics;
namespace glslang {
class TIntermediate;
}

// Checks the parsed tree, which must be whole, and the preprocessed text it
// was parsed from, read as lexed; reports each refusal into out.
void CheckTypeRules(const std::string &preprocessed, const LexedHlsl &lexed, const char *fileName,
                    const glslang::TIntermediate &tree, Diagnostics &out);
