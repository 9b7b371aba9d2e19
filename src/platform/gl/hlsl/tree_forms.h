// Matrix forms glslang 12's HLSL front end builds correctly in its tree and
// its SPIR-V writer gets wrong, rewritten in the tree before the link:
// - a constructor with a matrix among other arguments
//   (float4x4(1, 2, a, ...)): the writer takes a matrix argument's columns
//   as its components, losing the rest (matrix-indexing.shader_test); the
//   matrix becomes its rows, which a constructor flattens as HLSL does;
// - arithmetic and bitwise operators on whole int and uint matrices, which
//   the writer only has for float matrices and crashes on: the operation is
//   done row by row and the matrix made of the rows. (A bool matrix made of
//   values known only at run time, which a comparison of matrices gives, it
//   crashes on too, and cannot be made of rows either.)
#pragma once

namespace glslang {
class TIntermediate;
}

void RewriteTreeForms(glslang::TIntermediate &tree);
