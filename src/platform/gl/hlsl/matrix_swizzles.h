// Matrix swizzles (m._m00_m11, m._11_22) of two or more elements, of any
// matrix of any type and shape. glslang 12's HLSL front end reads one only
// where it is a whole row in order, or a plain assignment to it; any other it
// crashes on in an initializer, writes as an operation its SPIR-V writer
// lacks ("Missing functionality: matrix swizzle", then a store of a wrong
// type), or refuses under a compound assignment ("only simple assignment to
// non-simple matrix swizzle is supported").
//
// Read, such a swizzle becomes its rows' vector swizzles, and where it reads
// more than one row a componentwise choice between them with a constant
// condition, which glslang folds to one shuffle:
//   m._m00_m11  ->  (bool2(true, false) ? m[0].xx : m[1].yy)
// A compound assignment m._m00_m11 += e becomes the plain assignment
// glslang splits by element, m._m00_m11 = (m._m00_m11 read) + (e). The
// matrix's expression is read once per row, so it is only rewritten where it
// changes nothing (no ++, -- or assignment in it).
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"

#include <string>

// Rewrites text, keeping every line where it was, and lexes it again when it
// changed. Returns false, with the error in diagnostics, for a swizzle that
// mixes zero-based and one-based subscripts, which the Windows compiler
// refuses (swizzle-matrix.shader_test) and glslang takes.
bool RewriteMatrixSwizzles(std::string &text, LexedHlsl &lexed, Diagnostics &diagnostics);
