// Type names and modifiers as the Windows compiler reads them at the 4_0
// profiles, rewritten into what glslang 12 takes, or refused where Windows
// refuses them. The record is vkd3d's tests under ../shared/vkd3d-tests/hlsl.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/model.h"

#include <string>

// Rewrites, before any other pass reads the types:
// - "unsigned T", where T is int or an int vector or matrix (or a typedef of
//   one), as its uint type (unsigned.shader_test);
// - "String", "STRING" and the other spellings of string as a type, unless a
//   typedef names them (strings.shader_test);
// - the precise modifier, which only orders arithmetic, blanked; "precise"
//   used as a name (precise-modifier.shader_test: it is no keyword) renamed;
// - dword, matrix and vector in any case as those types, unless a typedef
//   takes the spelling, and a typedef in a function of a scalar, vector or
//   matrix type's name (type-names.shader_test);
// - "texture2D<float>" and the other texture types' lowercase spellings as
//   templates (texture-load-typed.shader_test);
// - "struct c : b { ... }" as a structure that begins with b's members
//   (struct-inheritance.shader_test).
// Refuses "unsigned" before any other type, String declared as a name, a
// global constant of type half (half.shader_test: Windows wants the
// backwards-compatibility flag for it), a structure with a string member and
// a static variable of both numbers and objects (invalid.shader_test).
// The checks read model, built from text as it stands. Every line stays
// where it was; lexed is lexed again when the text changes.
// Returns false after a refusal.
bool RewriteTypeForms(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                      Diagnostics &diagnostics);

// Rewrites the minimum-precision types (min16float, min10float, min16int,
// min12int, min16uint, their vectors and matrices) as the 32-bit types they
// hold on Windows below shader model 6, packing as those do in a constant
// buffer (minimum-precision.shader_test). Runs once the file's overloads are
// named apart (call_forms.h): to Windows a min16int and an int parameter
// make two overloads, and a call picks by the argument's own type
// (function-overload.shader_test), which glslang, holding both as int, would
// take for one function defined twice.
void RewriteMinimumPrecision(std::string &text, LexedHlsl &lexed);
