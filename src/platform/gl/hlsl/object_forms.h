// Texture objects as the Windows compiler reads them, rewritten into forms
// glslang 12 takes. glslang refuses these for the whole file, so a file that
// uses one in any function failed for every entry point of it.
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

// Rewrites:
// - texture1D, texture2D, texture3D and textureCUBE, the Direct3D 9 spellings
//   the Windows compiler reads as Texture1D, Texture2D, Texture3D and
//   TextureCube (texture-load-typed.shader_test);
// - the sample count of Texture2DMS<T, N> and Texture2DMSArray<T, N> where
//   N is an expression and not a literal: glslang takes only literals, and
//   the count changes nothing in the code (texture-load.shader_test);
// - t.mips[level][pos] as t.Load(intN(pos, level)), for every texture type
//   with mips and a Load (1D, 2D, 3D and their arrays), and
//   t.sample[index][pos] as t.Load(pos, index) for Texture2DMS and
//   Texture2DMSArray: the operators the HLSL reference lists for these
//   objects, which glslang lacks;
// - obj.GetDimensions(a, b) as a statement, through uints (glslang finds no
//   overload for outputs of mixed types), and Buffer.Load of a vector
//   location, which reads its first component;
// - tex2Dlod, tex2Dbias and their kin as tex2D.., which glslang refuses for
//   the whole file where the sampler has no dimension; every tex* call is
//   refused where an entry point makes it (profile_check.h);
// - "= NULL" after an object's declarator: the object unbound, as it is
//   without it (null.shader_test).
// Every line stays where it was; lexed is lexed again when the text changes.
void RewriteObjectForms(std::string &text, LexedHlsl &lexed);
