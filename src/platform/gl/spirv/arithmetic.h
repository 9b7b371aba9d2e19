// Rewrites of the SPIR-V glslang makes from HLSL, so that the GLSL written
// from it computes what Direct3D computes where GLSL's rules differ
// (remainders, float-to-integer conversions, NaN in min and max, shift
// counts, division by zero, the direction of y in derivatives).
#pragma once

#include "platform/gl/spirv/passes.h"

// Rewrites one stage's module, once: before glslang's optimizer, so that
// what it works out ahead of the driver follows the same rules, and never
// twice (a second pass turns the y derivatives back). Never fails; the
// translator validates the SPIR-V that comes out.
bool ApplySpirvFixes(SpirvModule &module, const SpirvPassContext &context,
                     Diagnostics &diagnostics);
