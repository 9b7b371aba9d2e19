// Texture offsets that are literals only once loops are unrolled.
#pragma once

#include "platform/gl/spirv/passes.h"

namespace glslang {
class TIntermediate;
}

// Direct3D's Sample, Load and their kin take an offset that must be known
// when the shader is compiled; glslang leaves one computed from a loop
// counter as a run-time value, which SPIR-V allows only for gathers. Where
// the stage's optimized SPIR-V has such an offset, its loops are unrolled
// (all but those marked [loop]) and the values folded, as the Windows
// compiler does. Runs after glslang's optimizer, on its words, and only
// where the module before it held such an offset (SpirvPassesResult): the
// optimizer makes offsets known, never unknown. Returns false, with the
// problem in diagnostics at the read's place in the tree, when an offset
// stays unknown.
bool MakeOffsetsConstant(const glslang::TIntermediate &tree, const SpirvPassContext &context,
                         std::vector<uint32_t> &spirv, Diagnostics &diagnostics);

// Whether a sampling or fetching image instruction (not a gather, whose
// offset may vary) takes an Offset: one that is not a constant.
bool HoldsVariableOffset(const SpirvModule &module);

// Whether an array of textures or samplers (or of structures that hold one)
// is indexed by a value that is not a constant: shader model 4 has no such
// indexing, and the Windows compiler unrolls loops for it as for offsets;
// MakeOffsetsConstant does the same for these.
bool HoldsVariableObjectIndex(const SpirvModule &module);
