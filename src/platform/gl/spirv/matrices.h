// Matrices in the forms SPIR-V allows. HLSL has int, uint and bool
// matrices and applies every component-wise operation to matrices; glslang
// gives them OpTypeMatrix of integer or bool columns and applies bitcasts,
// conversions and GLSL.std.450 functions to whole matrices, none of which
// the validator accepts.
#pragma once

#include "platform/gl/spirv/passes.h"

// An integer or bool matrix type becomes an array of its columns under the
// same id, so its variables, loads, stores, constants and composite
// instructions stay as they are; a constant-buffer member of one holds an
// array with the member's stride (of rows where the layout is row-major)
// and is read back into columns. A component-wise operation on a matrix
// (float ones too) is done column by column, and the transpose of an
// integer matrix is built from its components. Never fails.
bool SplitMatrixOperations(SpirvModule &module, const SpirvPassContext &context,
                           Diagnostics &diagnostics);

// Whether the module has an integer or bool matrix type, or a component-wise
// operation on a matrix.
bool HoldsMatrixToSplit(const SpirvModule &module);
