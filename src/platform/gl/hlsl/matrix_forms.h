// Matrices of one row or one column (float1x4, float4x1, float1x1, and the
// int, uint, bool and half forms), which glslang 12's HLSL front end cannot
// construct and writes to SPIR-V as matrices of one-component vectors, which
// SPIR-V does not have.
//
// They become the vectors they equal (float1x4 and float4x1 are float4,
// float1x1 is float1), with what HLSL gives a matrix kept for the names
// declared so: m[0] of a 1xN matrix is its whole row, m[i] of an Nx1 matrix
// its element i, _m0j / _1j swizzles name the vector's components, and mul()
// with a float1 or 1x1 operand takes the other operand's first row or column,
// one with a column on the left or a row on the right is the outer product
// of the left's first column and the right's first row (mul.shader_test).
// Outside code (cbuffer members, structures, typedefs, globals that are not
// static) a matrix is only rewritten where the vector takes the same
// registers: a column-major Nx1 or a row-major 1xN matrix of four
// components, or of fewer where it is the first member of its buffer, so
// that the vector starts a register as the matrix does (d3d11-facts:
// constant-buffer packing); others stay as written.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/model.h"

#include <set>
#include <string>

// Rewrites text, keeping every line where it was, and lexes it again when it
// changed. Returns false, with the error in diagnostics, for what the
// Windows compiler refuses of these matrices and a vector would take (a
// return or cast between shapes it does not convert, dot() or length() of a
// matrix), and for a mul() whose result is an outer product of a rewritten
// matrix and an operand whose shape the text does not give.
bool RewriteMatrixForms(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                        Diagnostics &diagnostics);

// The names declared row_major matrices with a semantic (parameters and
// structure members), which glslang's tree and SPIR-V do not mark.
std::set<std::string> RowMajorSemanticNames(const std::string &text, const LexedHlsl &lexed);
