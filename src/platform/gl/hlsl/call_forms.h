// Calls of intrinsics as the Windows compiler reads them, rewritten into
// forms glslang 12 takes. Windows gives the geometric intrinsics and
// any()/all() scalars, and splats a scalar given with vectors; glslang
// refuses the scalars ("ambiguous best function", "no matching overloaded
// function") or writes an OpAny of a scalar that SPIR-V does not have.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"

#include <string>

struct HlslModel;

// Rewrites, where the model tells the types of the arguments (of any
// expression of the source; text an earlier pass wrote has none):
// - normalize, reflect, refract, faceforward, length, distance and dot of
//   scalars (or one-component vectors) as the same call on two-component
//   vectors whose second component is 0, the scalar result being the first
//   component (normalize.shader_test, refract.shader_test);
// - a scalar given where another argument is an N-component vector, as that
//   vector's splat (refract.shader_test);
// - any() and all() of a scalar as the scalar compared with 0
//   (any.shader_test, all.shader_test);
// - transpose() and determinant() of a scalar as the scalar, and
//   determinant() of a non-square matrix as that of its leading square
//   (transpose.shader_test, determinant.shader_test).
// A file's own function named like an intrinsic is renamed, with the calls
// whose arguments its parameters take (the others call the intrinsic), as
// on Windows (intrinsic-override.shader_test). A function the file
// overloads has each overload named apart and each call naming the one
// Windows picks for its arguments' types (function-overload.shader_test);
// a call Windows finds ambiguous, an out or inout argument that is no
// variable or a const one, and a function declared again with another
// return type are refused into diagnostics, and false returned. The entry point is never renamed.
// Every line stays where it was; lexed is lexed again when the text changes.
bool RewriteScalarCalls(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                        const char *entryPoint, Diagnostics &diagnostics);

// Rewrites the operands of componentwise operators and intrinsics (max, min,
// pow, lerp, clamp, step, smoothstep, ldexp, atan2, fmod, mad) whose shapes
// differ, where the model tells their types, into the shape the Windows
// compiler gives the result: a one-component operand read as a scalar, a
// one-row or one-column matrix with a matrix cut to the smaller rows and
// columns, intrinsic arguments cast to the smaller matrix or vector
// (shape.shader_test, max-min.shader_test, lerp.shader_test, pow.shader_test).
// Returns false, with the error in diagnostics, for an index Windows refuses:
// one of a vector type, even of one component (vector-indexing.shader_test).
bool RewriteOperandShapes(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                          Diagnostics &diagnostics);
