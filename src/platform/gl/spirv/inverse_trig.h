// The inverse trigonometric functions as the Windows compiler computes
// them at shader model 4, whose bytecode has no instruction for them.
#pragma once

#include "platform/gl/spirv/passes.h"

// acos and asin are its polynomial expansion, not the driver's functions:
// acos(x) = sqrt(1 - |x|) * (1.5707288 - 0.2121144|x| + 0.0742610|x|^2 -
// 0.0187293|x|^3), pi minus that for negative x, and asin(x) = pi/2 -
// acos(x) (vkd3d's inverse-trig.shader_test: acos(0) is 1.57072878,
// asin(0) is not 0). atan2 takes a zero y of either sign as +0, so
// atan2(-0, x) is pi for negative x (inverse-trig.shader_test). Never
// fails.
bool ApplyWindowsInverseTrig(SpirvModule &module, const SpirvPassContext &context,
                             Diagnostics &diagnostics);

// Whether the module imports GLSL.std.450, where these functions are.
bool HoldsInverseTrig(const SpirvModule &module);
