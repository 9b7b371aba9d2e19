// Texture offsets that are literals only once loops are unrolled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace glslang {
class TIntermediate;
}

// Direct3D's Sample, Load and their kin take an offset that must be known
// when the shader is compiled; glslang leaves one computed from a loop
// counter as a run-time value, which SPIR-V allows only for gathers. Where
// the stage's optimized SPIR-V has such an offset, its loops are unrolled
// (all but those marked [loop]) and the values folded, as the Windows
// compiler does. Returns false, with a message in log at the read's line in
// the tree, when an offset stays unknown.
bool MakeOffsetsConstant(const glslang::TIntermediate &tree, const char *fileName,
                         std::vector<uint32_t> &spirv, std::string &log);
