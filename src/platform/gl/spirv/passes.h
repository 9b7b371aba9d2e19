// The passes over the SPIR-V glslang makes from one stage's HLSL, in one
// ordered list (passes.cpp) over one module: the words are parsed once,
// each pass whose condition holds rewrites the module, and the module is
// written to words once, for glslang's optimizer. A condition is a
// question to the parsed module (and the stage), answered from its
// indexes, so a pass with nothing to do costs nothing.
#pragma once

#include "platform/gl/bindings.h"
#include "platform/gl/common/diagnostics.h"
#include "platform/gl/spirv/module.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// What a pass knows of the compile besides the module.
struct SpirvPassContext {
    ShaderStage stage = ShaderStage::Vertex;
    std::string fileName;    // as the compile named it, for diagnostics
    std::string_view source; // its text, where a diagnostic's column is found by a name
    // The stage's inputs and outputs that are row_major matrices, by name:
    // the SPIR-V keeps no majority for them.
    std::set<std::string> rowMajorStageMatrices;
};

struct SpirvPass {
    const char *name;
    // Whether the pass has anything to do.
    bool (*applies)(const SpirvModule &module, const SpirvPassContext &context);
    // Rewrites the module; false, with the problem in diagnostics, when it
    // cannot.
    bool (*run)(SpirvModule &module, const SpirvPassContext &context, Diagnostics &diagnostics);
};

// The passes before glslang's optimizer, in the order they run.
const std::vector<SpirvPass> &SpirvPasses();

struct SpirvPassesResult {
    bool ok = false;
    // Whether some image read takes an offset that is not a constant, or
    // an array of textures or samplers an index that is not: only then has
    // MakeOffsetsConstant (texture_offsets.h) work to do after the optimizer.
    bool variableOffsets = false;
};

// Parses glslang's words, runs the list over the module and writes it back
// to spirv. Not ok, with the problem in diagnostics (about the file as a
// whole), when the words are empty or not a well-formed module or a pass
// refuses the module; spirv is then left as it was.
SpirvPassesResult RunSpirvPasses(std::vector<uint32_t> &spirv, const SpirvPassContext &context,
                                 Diagnostics &diagnostics);
