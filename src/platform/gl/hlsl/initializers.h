// Brace initialisers as the Windows compiler reads them, rewritten into the
// shape glslang 12 takes. Windows flattens an initialiser: its values, each
// broken into its scalar components (a float2 gives two, a struct its
// members', an array its elements'), fill the components of the variable in
// order, whatever the braces around them; the counts must match
// (initializer-flatten.shader_test, initializer-invalid-arg-count.shader_test).
// glslang wants C's shape instead: one brace per struct and array, one value
// per member or element.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/model.h"

#include <string>

// Rewrites each brace initialiser whose values and variable have types the
// text gives (the file's structs and typedefs, the numeric and object types,
// arrays) into nested braces of per-member constructors, reading a value's
// components by swizzle, member or index where it spans members. An array
// declared without a size ("float4 a[] = {...}") gets the size its
// initialiser gives. A static variable without an initialiser gets one of
// zeros, which it reads on Windows (static-initializer.shader_test). What the
// text does not tell stays as it is. Every line stays where it was; lexed is
// lexed again when the text changes. Casts, assignments and arguments between
// types of other shapes that Windows converts component by component become
// calls of functions that do so (cast-componentwise-compatible.shader_test).
// Returns false, with the errors in diagnostics, for the casts Windows
// refuses: into fewer components than the source's, but more than one, from
// a matrix of several rows and columns or into a matrix of several rows,
// other than between two matrices.
// model is the program as built from an earlier text of lexed's (the moves
// since lead from it to this one).
bool ShapeInitializers(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                       Diagnostics &diagnostics);
