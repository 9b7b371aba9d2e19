// Booleans among a stage's inputs and outputs.
#pragma once

#include "platform/gl/spirv/passes.h"

// HLSL lets stages pass bool semantics, as 32-bit values
// (bool-semantics.shader_test, on Windows: a vertex input of 0x80000000
// reads true, and a bool the vertex stage writes reads as one in the pixel
// stage), where SPIR-V allows no bool in the Input and Output storage
// classes and the GL driver refuses the module. Each such input or output (a
// bool, a vector of them, or an array of those) is declared with uint
// components instead: a read compares them with zero, a write gives one for
// true and zero for false. A variable used other than through loads, stores
// and access chains stays as it was. Never fails.
bool PassStageBoolsAsUints(SpirvModule &module, const SpirvPassContext &context,
                           Diagnostics &diagnostics);

// Whether the stage has an input or output of a bool type, other than a
// built-in (SV_IsFrontFace).
bool HoldsStageBool(const SpirvModule &module);
