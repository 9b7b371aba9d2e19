// Matrices among a stage's inputs and outputs.
#pragma once

#include "platform/gl/spirv/passes.h"

// A matrix semantic takes one register per column in HLSL, a float4x2 two
// registers of four (entry-point-semantics.shader_test, on Windows: tp[0][1]
// of "float4x2 tp[2] : TEXCOORD0" is TEXCOORD0.y), where glslang declares
// the variable with one location per row. Each such input or output of
// floats is declared as its transpose, and each read or write of it
// transposes the value, so that its locations are HLSL's registers. A
// variable used other than through whole matrices (a column's pointer)
// stays as it was, and so does a row_major one, whose rows are its
// registers. Never fails.
bool TransposeStageMatrices(SpirvModule &module, const SpirvPassContext &context,
                            Diagnostics &diagnostics);

// The name a stage variable was declared with, where glslang names it by
// its path ("s.tp[1]" is tp): what rowMajorStageMatrices (passes.h) holds.
std::string DeclaredName(const std::string &variable);

// Whether the stage has an input or output of a float matrix type.
bool HoldsStageMatrix(const SpirvModule &module);
