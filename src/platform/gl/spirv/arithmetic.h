// Rewrites of the SPIR-V glslang makes from HLSL, so that the GLSL written
// from it computes what Direct3D computes where GLSL's rules differ
// (remainders, float-to-integer conversions, NaN in min and max, shift
// counts, division by zero, the direction of y in derivatives).
#pragma once

#include "platform/gl/glsl/translate.h"

#include <cstdint>
#include <string>
#include <vector>

// Rewrites one stage's SPIR-V in place, once: before glslang's optimizer,
// so that what it works out ahead of the driver follows the same rules, and
// never twice (a second pass turns the y derivatives back). False, with the
// reason, when the words are not a module it can read. The translator
// validates the SPIR-V that comes out.
bool ApplySpirvFixes(std::vector<uint32_t> &spirv, ShaderStage stage, std::string &error);
