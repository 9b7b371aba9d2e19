// The SPIR-V passes in order: see passes.h.
#include "platform/gl/spirv/passes.h"

#include "platform/gl/spirv/arithmetic.h"
#include "platform/gl/spirv/clip_distances.h"
#include "platform/gl/spirv/inverse_trig.h"
#include "platform/gl/spirv/matrices.h"
#include "platform/gl/spirv/buffer_reads.h"
#include "platform/gl/spirv/split_arrays.h"
#include "platform/gl/spirv/stage_bools.h"
#include "platform/gl/spirv/stage_matrices.h"
#include "platform/gl/spirv/texture_offsets.h"
#include "platform/gl/spirv/unbound_buffers.h"
#include "platform/gl/spirv/unbound_textures.h"

const std::vector<SpirvPass> &SpirvPasses() {
    static const std::vector<SpirvPass> passes = {
        // The split arrays first: an array of clip distances is one
        // semantic index per element.
        {"mend split stage arrays",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsSplitStageArray(module);
         },
         MendSplitStageArrays},
        // The stand-ins RenameClipCullSemantics gave a geometry stage.
        {"restore clip and cull distances",
         [](const SpirvModule &module, const SpirvPassContext &context) {
             return context.stage == ShaderStage::Geometry && HoldsClipCullStandIn(module);
         },
         RestoreClipCullDistances},
        {"transpose stage matrices",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsStageMatrix(module);
         },
         TransposeStageMatrices},
        {"pass stage bools as uints",
         [](const SpirvModule &module, const SpirvPassContext &) { return HoldsStageBool(module); },
         PassStageBoolsAsUints},
        // Before the arithmetic, which then sees the columns' operations.
        {"split matrix operations",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsMatrixToSplit(module);
         },
         SplitMatrixOperations},
        {"Windows inverse trigonometry",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsInverseTrig(module);
         },
         ApplyWindowsInverseTrig},
        // Every stage, before glslang's optimizer works out operations on
        // known values with the processor's rules, not Direct3D's.
        {"Direct3D arithmetic", [](const SpirvModule &, const SpirvPassContext &) { return true; },
         ApplySpirvFixes},
        {"zero unbound texture queries",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsTextureQuery(module);
         },
         ZeroUnboundTextureQueries},
        {"zero unbound buffer reads",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsStorageBuffer(module);
         },
         ZeroUnboundBufferReads},
        {"read mixed constant buffers as floats",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsMixedBuffer(module);
         },
         ReadMixedBuffersAsFloats},
        {"split constant buffer array reads",
         [](const SpirvModule &module, const SpirvPassContext &) {
             return HoldsBufferArrayRead(module);
         },
         SplitBufferArrayReads},
    };
    return passes;
}

SpirvPassesResult RunSpirvPasses(std::vector<uint32_t> &spirv, const SpirvPassContext &context,
                                 Diagnostics &diagnostics) {
    SpirvPassesResult result;
    if (spirv.empty()) {
        diagnostics.Error(context.fileName, 0, 0, "no SPIR-V was generated");
        return result;
    }
    SpirvModule module;
    std::string error;
    if (!ParseSpirv(spirv, module, error)) {
        diagnostics.Error(context.fileName, 0, 0, error);
        return result;
    }
    for (const SpirvPass &pass : SpirvPasses()) {
        if (!pass.applies(module, context)) continue;
        const size_t reported = diagnostics.items.size();
        if (pass.run(module, context, diagnostics)) continue;
        if (diagnostics.items.size() == reported)
            diagnostics.Error(context.fileName, 0, 0,
                              std::string("the SPIR-V pass '") + pass.name + "' failed");
        return result;
    }
    result.variableOffsets = HoldsVariableOffset(module) || HoldsVariableObjectIndex(module);
    spirv                  = WriteSpirv(module);
    result.ok              = true;
    return result;
}
