// What the Windows compiler (d3dcompiler_47 at the 4_0 profiles) refuses and
// glslang's HLSL front end accepts, by kind of mistake rather than by the
// shaders that make it: modifiers that do not apply to a type or to one
// another, register() targets, attributes given twice or on variables,
// names the effect and type grammar reserve, const locals without a value,
// arrays of implicit size that nothing sizes, duplicated semantics,
// swizzles that write a component twice and [unroll] loops too long to
// unroll. The record of what Windows does is
// vkd3d's tests under ../shared/vkd3d-tests/hlsl, which run on Windows; every
// rule here follows a refusal recorded there and stays clear of the forms
// recorded as compiling.
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

struct Diagnostics;
struct HlslModel;
namespace glslang {
class TIntermediate;
}

// Checks the preprocessed text glslang parsed (as compile.cpp hands it,
// with #line directives naming the included files), read as lexed, its
// tokens (LexHlsl), and the parsed tree, which must be whole, for profile
// ("ps_4_0"); original is fileName's text as written, for the columns.
// Reports each refusal into out.
void CheckWindowsRules(const std::string &original, const std::string &preprocessed,
                       const LexedHlsl &lexed, const HlslModel &model, const char *fileName,
                       const char *profile, const glslang::TIntermediate &tree, Diagnostics &out);
