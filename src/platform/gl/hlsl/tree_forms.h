// Matrix forms glslang 12 gets wrong, rewritten in its tree before the link:
// - a * b of two matrices, which multiplies their elements in HLSL and which
//   glslang's front end reads as the matrix product mul(a, b) (and a *= b
//   likewise): the operation at a '*' of the text parsed multiplies
//   elements;
// - a constructor with a matrix among other arguments
//   (float4x4(1, 2, a, ...)): the writer takes a matrix argument's columns
//   as its components, losing the rest (matrix-indexing.shader_test); the
//   matrix becomes its rows, which a constructor flattens as HLSL does;
// - arithmetic and bitwise operators on whole int and uint matrices (and ~,
//   ++, --), which the writer only has for float matrices and crashes on:
//   the operation is done row by row and the matrix made of the rows;
// - a bool matrix made of values known only at run time, which the writer
//   crashes on: it is made as an int matrix of them converted to bool; and
//   the one a comparison of matrices gives, whose elements the front end
//   makes each of the whole comparison, of the elements compared;
// - a scalar spread over an int, uint or bool matrix ((int2x2)x, a
//   bool2x2 initialised, assigned, passed or returned from a float), which
//   the front end puts in the matrix unconverted: each element is the
//   scalar converted to the element type.
#pragma once

#include <string>

namespace glslang {
class TIntermediate;
}

// parsedText is the text glslang parsed the tree from, fileName the name it
// was parsed as.
void RewriteTreeForms(glslang::TIntermediate &tree, const std::string &parsedText,
                      const std::string &fileName);
