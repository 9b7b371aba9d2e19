#include "platform/gl/spirv/texture_offsets.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <spirv-tools/optimizer.hpp>

#include <spirv.hpp>

namespace {

// The word index of the image-operand mask of a sampling or fetching
// instruction (not a gather, whose offset may vary), 0 for other opcodes.
size_t ImageOperandsAt(uint32_t opcode) {
    switch (opcode) {
    case spv::OpImageSampleImplicitLod:
    case spv::OpImageSampleExplicitLod:
    case spv::OpImageSampleProjImplicitLod:
    case spv::OpImageSampleProjExplicitLod:
    case spv::OpImageFetch:
        return 5; // result type, result, image, coordinate, mask
    case spv::OpImageSampleDrefImplicitLod:
    case spv::OpImageSampleDrefExplicitLod:
    case spv::OpImageSampleProjDrefImplicitLod:
    case spv::OpImageSampleProjDrefExplicitLod:
        return 6; // and the reference value before the mask
    default:
        return 0;
    }
}

// Calls f(words of the instruction, word count) for each instruction, as
// far as the words hold well-formed ones.
template <typename F> void ForEachInstruction(std::vector<uint32_t> &spirv, F f) {
    for (size_t at = 5; at < spirv.size();) {
        const uint32_t count = spirv[at] >> 16;
        if (count == 0 || at + count > spirv.size()) return;
        f(&spirv[at], count);
        at += count;
    }
}

// Whether a non-gather image instruction has a run-time Offset.
bool HasVariableOffset(std::vector<uint32_t> &spirv) {
    bool found = false;
    ForEachInstruction(spirv, [&](uint32_t *words, uint32_t count) {
        const size_t mask = ImageOperandsAt(words[0] & 0xFFFF);
        if (mask && mask < count && (words[mask] & spv::ImageOperandsOffsetMask)) found = true;
    });
    return found;
}

// The texture read in the tree to point the message at: the first whose
// offset argument is not a literal, preferring one outside any loop or
// inside a [loop] one, which unrolling cannot help. The offset's place
// follows GLSL's texture*Offset functions, which glslang lowers the HLSL
// methods to.
class VariableOffset : public glslang::TIntermTraverser {
  public:
    VariableOffset() : glslang::TIntermTraverser(true, false, true) {}
    bool visitLoop(glslang::TVisit visit, glslang::TIntermLoop *loop) override {
        if (visit == glslang::EvPreVisit)
            loops_.push_back(loop->getDontUnroll());
        else
            loops_.pop_back();
        return true;
    }
    bool visitAggregate(glslang::TVisit visit, glslang::TIntermAggregate *node) override {
        size_t argument = 0;
        switch (node->getOp()) {
        case glslang::EOpTextureOffset:
        case glslang::EOpTextureProjOffset:
            argument = 2;
            break;
        case glslang::EOpTextureLodOffset:
        case glslang::EOpTextureProjLodOffset:
        case glslang::EOpTextureFetchOffset:
            argument = 3;
            break;
        case glslang::EOpTextureGradOffset:
        case glslang::EOpTextureProjGradOffset:
            argument = 4;
            break;
        default:
            return true;
        }
        const glslang::TIntermSequence &arguments = node->getSequence();
        if (visit != glslang::EvPreVisit || argument >= arguments.size() ||
            arguments[argument]->getAsConstantUnion())
            return true;
        bool hopeless = loops_.empty();
        for (bool dontUnroll : loops_)
            hopeless = hopeless || dontUnroll;
        if (!found || (hopeless && !foundHopeless)) found = node;
        foundHopeless = foundHopeless || hopeless;
        return true;
    }
    const glslang::TIntermAggregate *found = nullptr;
    bool foundHopeless                     = false;

  private:
    std::vector<bool> loops_; // the enclosing loops: whether each is [loop]
};

// The first texture variable under a node.
class TextureName : public glslang::TIntermTraverser {
  public:
    void visitSymbol(glslang::TIntermSymbol *symbol) override {
        if (name.empty() && symbol->getType().isTexture()) name = symbol->getName().c_str();
    }
    std::string name;
};

} // namespace

bool MakeOffsetsConstant(const glslang::TIntermediate &tree, const char *fileName,
                         std::vector<uint32_t> &spirv, std::string &log) {
    if (!HasVariableOffset(spirv)) return true;

    // The Windows compiler unrolls a loop whose counter a texture offset
    // reads, unless [loop] forbids it (HLSL's errors and warnings: X3582,
    // "texture access must have literal offset and multisample index", and
    // X3531 for [loop]); SPIR-V's unroller takes loops marked Unroll.
    ForEachInstruction(spirv, [](uint32_t *words, uint32_t count) {
        if ((words[0] & 0xFFFF) == spv::OpLoopMerge && count == 4 &&
            words[3] == spv::LoopControlMaskNone)
            words[3] = spv::LoopControlUnrollMask;
    });
    spvtools::Optimizer optimizer(SPV_ENV_VULKAN_1_0);
    optimizer.RegisterPass(spvtools::CreateLoopUnrollPass(true))
        .RegisterPass(spvtools::CreateCCPPass())
        .RegisterPass(spvtools::CreateSimplificationPass()) // a known Offset becomes ConstOffset
        .RegisterPass(spvtools::CreateDeadBranchElimPass())
        .RegisterPass(spvtools::CreateAggressiveDCEPass())
        .RegisterPass(spvtools::CreateBlockMergePass());
    std::vector<uint32_t> unrolled;
    spvtools::OptimizerOptions options;
    options.set_run_validator(false);
    if (optimizer.Run(spirv.data(), spirv.size(), &unrolled, options) && !unrolled.empty() &&
        !HasVariableOffset(unrolled)) {
        spirv = std::move(unrolled);
        return true;
    }

    VariableOffset finder;
    if (tree.getTreeRoot()) tree.getTreeRoot()->traverse(&finder);
    std::string where = fileName;
    if (finder.found) {
        const glslang::TSourceLoc &loc = finder.found->getLoc();
        where = std::string(loc.getFilename() ? loc.getFilename() : fileName) + ":" +
                std::to_string(loc.line) + ": ";
        // The texture read, quoted, gives the message its column.
        TextureName texture;
        finder.found->getSequence()[0]->traverse(&texture);
        if (!texture.name.empty()) where += "'" + texture.name + "' :";
    }
    // The Windows compiler's X3527.
    log += "ERROR: " + where +
           " texture access requires a literal offset: this one is not known at compile time "
           "even with the loops around it unrolled (a [loop] loop is never unrolled)\n";
    return false;
}
