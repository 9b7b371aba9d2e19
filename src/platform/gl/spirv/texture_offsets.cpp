#include "platform/gl/spirv/texture_offsets.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <spirv-tools/optimizer.hpp>

#include <algorithm>
#include <cctype>
#include <map>

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

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The column (from 1) where name first stands as a whole word on line row
// (from 1) of text; 0 if it does not.
int WordColumn(std::string_view text, int row, const std::string &name) {
    size_t at = 0;
    for (int n = 1; n < row && at != std::string_view::npos; ++n) {
        at = text.find('\n', at);
        if (at != std::string_view::npos) ++at;
    }
    if (at == std::string_view::npos || at > text.size() || name.empty() ||
        !std::all_of(name.begin(), name.end(), IsWordChar))
        return 0;
    const std::string_view line = text.substr(at, text.find('\n', at) - at);
    for (size_t word = line.find(name); word != std::string_view::npos;
         word        = line.find(name, word + 1)) {
        const size_t end = word + name.size();
        if ((word == 0 || !IsWordChar(line[word - 1])) &&
            (end >= line.size() || !IsWordChar(line[end])))
            return static_cast<int>(word) + 1;
    }
    return 0;
}

// The instructions of the code and of the globals by result id.
using Definitions = std::map<uint32_t, const SpirvInstruction *>;

uint32_t ComponentCount(const SpirvModule &module, uint32_t id) {
    const auto type = module.types.find(TypeOf(module, id));
    return type == module.types.end() ? 0 : type->second.count;
}

// The scalar constant that component k of the value id always is, or 0:
// through the vectors built, shuffled, extracted and copied from constants
// and from values that are not, as `int4 a = {1, 2, i, i}; a.xy` builds.
uint32_t KnownComponent(const SpirvModule &module, const Definitions &definitions, uint32_t id,
                        uint32_t k, int depth = 0) {
    if (module.constants.Find(id)) return k == 0 ? id : 0;
    const auto found = definitions.find(id);
    if (found == definitions.end() || depth > 32) return 0;
    const std::vector<uint32_t> &o = found->second->operands; // type, result, then the rest
    switch (found->second->opcode) {
    case spv::OpConstantComposite:
        return k + 2 < o.size() ? KnownComponent(module, definitions, o[k + 2], 0, depth + 1) : 0;
    case spv::OpCopyObject:
        return o.size() > 2 ? KnownComponent(module, definitions, o[2], k, depth + 1) : 0;
    case spv::OpCompositeConstruct:
        for (size_t at = 2; at < o.size(); ++at) {
            const uint32_t count = ComponentCount(module, o[at]);
            if (count == 0) return 0;
            if (k < count) return KnownComponent(module, definitions, o[at], k, depth + 1);
            k -= count;
        }
        return 0;
    case spv::OpVectorShuffle: {
        if (o.size() < 5 || k + 4 >= o.size() || o[k + 4] == 0xFFFFFFFF) return 0;
        const uint32_t first = ComponentCount(module, o[2]), pick = o[k + 4];
        return pick < first ? KnownComponent(module, definitions, o[2], pick, depth + 1)
                            : KnownComponent(module, definitions, o[3], pick - first, depth + 1);
    }
    case spv::OpCompositeExtract:
        return o.size() == 4 && k == 0 && ComponentCount(module, o[2]) > 1
                   ? KnownComponent(module, definitions, o[2], o[3], depth + 1)
                   : 0;
    default:
        return 0;
    }
}

// The Windows compiler takes an offset that is a swizzle of a vector's
// known components as a literal (swizzle-constant-prop.shader_test); the
// optimizer folds a shuffle or an extract only of vectors known whole. Each
// whose components are all known is rebuilt from them, which it then folds.
void FoldKnownComponents(SpirvModule &module) {
    Definitions definitions;
    for (const std::vector<SpirvInstruction> *section : {&module.globals, &module.code})
        for (const SpirvInstruction &instruction : *section)
            if (const uint32_t id = ResultId(instruction)) definitions[id] = &instruction;
    for (SpirvInstruction &instruction : module.code) {
        const bool shuffle = instruction.opcode == spv::OpVectorShuffle;
        if ((!shuffle && instruction.opcode != spv::OpCompositeExtract) ||
            instruction.operands.size() < 3)
            continue;
        const uint32_t result       = instruction.operands[1];
        const uint32_t count        = ComponentCount(module, result);
        std::vector<uint32_t> known = {instruction.operands[0], result};
        for (uint32_t k = 0; k < count; ++k)
            if (const uint32_t c = KnownComponent(module, definitions, result, k))
                known.push_back(c);
        if (count == 0 || known.size() != count + 2) continue;
        instruction.opcode   = count == 1 ? spv::OpCopyObject : spv::OpCompositeConstruct;
        instruction.operands = std::move(known);
    }
}

// Whether a type is or holds a texture or a sampler; types holds the
// module's type declarations by id.
bool HoldsObject(const Definitions &types, uint32_t type, int depth = 0) {
    const auto found = types.find(type);
    if (found == types.end() || depth > 16) return false;
    const SpirvInstruction &declaration = *found->second;
    switch (declaration.opcode) {
    case spv::OpTypeImage:
    case spv::OpTypeSampler:
    case spv::OpTypeSampledImage:
        return true;
    case spv::OpTypeArray:
    case spv::OpTypeRuntimeArray:
        return declaration.operands.size() > 1 &&
               HoldsObject(types, declaration.operands[1], depth + 1);
    case spv::OpTypeStruct:
        return std::any_of(declaration.operands.begin() + 1, declaration.operands.end(),
                           [&](uint32_t member) { return HoldsObject(types, member, depth + 1); });
    default:
        return false;
    }
}

// The indexing of an array of textures or samplers in the tree, to point
// the message at.
class VariableObjectIndex : public glslang::TIntermTraverser {
  public:
    bool visitBinary(glslang::TVisit, glslang::TIntermBinary *node) override {
        if (!found && node->getOp() == glslang::EOpIndexIndirect &&
            node->getLeft()->getType().containsOpaque())
            found = node;
        return true;
    }
    const glslang::TIntermBinary *found = nullptr;
};

} // namespace

bool HoldsVariableObjectIndex(const SpirvModule &module) {
    if (!Holds(module, spv::OpAccessChain) && !Holds(module, spv::OpInBoundsAccessChain))
        return false;
    Definitions types;
    for (const SpirvInstruction &instruction : module.globals)
        if (instruction.opcode >= spv::OpTypeVoid &&
            instruction.opcode <= spv::OpTypeForwardPointer && !instruction.operands.empty())
            types[instruction.operands[0]] = &instruction;
    for (const SpirvInstruction &chain : module.code) {
        if ((chain.opcode != spv::OpAccessChain && chain.opcode != spv::OpInBoundsAccessChain) ||
            chain.operands.size() < 4)
            continue;
        const SpirvDeclaration *pointer =
            Declaration(module, TypeOf(module, chain.operands[2]), spv::OpTypePointer);
        uint32_t type = pointer ? pointer->operands[1] : 0;
        for (size_t at = 3; at < chain.operands.size() && HoldsObject(types, type); ++at) {
            const SpirvInstruction &declaration = *types.find(type)->second;
            const uint32_t index                = chain.operands[at];
            const bool known                    = module.constants.Find(index) != nullptr;
            if (declaration.opcode == spv::OpTypeStruct) {
                const uint32_t member = known ? *module.constants.Find(index) + 1 : 0;
                type = member && member < declaration.operands.size() ? declaration.operands[member]
                                                                      : 0;
            } else {
                if (!known) return true;
                type = declaration.operands[1];
            }
        }
    }
    return false;
}

bool HoldsVariableOffset(const SpirvModule &module) {
    static const spv::Op reads[] = {
        spv::OpImageSampleImplicitLod,
        spv::OpImageSampleExplicitLod,
        spv::OpImageSampleProjImplicitLod,
        spv::OpImageSampleProjExplicitLod,
        spv::OpImageFetch,
        spv::OpImageSampleDrefImplicitLod,
        spv::OpImageSampleDrefExplicitLod,
        spv::OpImageSampleProjDrefImplicitLod,
        spv::OpImageSampleProjDrefExplicitLod,
    };
    if (std::none_of(std::begin(reads), std::end(reads),
                     [&](spv::Op read) { return Holds(module, read); }))
        return false;
    for (const SpirvInstruction &instruction : module.code) {
        const size_t mask = ImageOperandsAt(instruction.opcode); // counted from the opcode's word
        if (mask && mask <= instruction.operands.size() &&
            (instruction.operands[mask - 1] & spv::ImageOperandsOffsetMask))
            return true;
    }
    return false;
}

bool MakeOffsetsConstant(const glslang::TIntermediate &tree, const SpirvPassContext &context,
                         std::vector<uint32_t> &spirv, Diagnostics &diagnostics) {
    SpirvModule module;
    std::string error;
    if (!ParseSpirv(spirv, module, error)) {
        diagnostics.Error(context.fileName, 0, 0, error);
        return false;
    }
    if (!HoldsVariableOffset(module) && !HoldsVariableObjectIndex(module)) return true;

    // The Windows compiler unrolls a loop whose counter a texture offset
    // reads, unless [loop] forbids it (HLSL's errors and warnings: X3582,
    // "texture access must have literal offset and multisample index", and
    // X3531 for [loop]); SPIR-V's unroller takes loops marked Unroll.
    for (SpirvInstruction &instruction : module.code)
        if (instruction.opcode == spv::OpLoopMerge && instruction.operands.size() == 3 &&
            instruction.operands[2] == spv::LoopControlMaskNone)
            instruction.operands[2] = spv::LoopControlUnrollMask;
    FoldKnownComponents(module);
    const std::vector<uint32_t> marked = WriteSpirv(module);
    spvtools::Optimizer optimizer(SPV_ENV_VULKAN_1_0);
    // A static const's store reaches its loads first: a loop's bounds must be
    // known for it to unroll (sdk11 VarianceShadows11's blur reads a kernel
    // from static consts).
    optimizer.RegisterPass(spvtools::CreatePrivateToLocalPass())
        .RegisterPass(spvtools::CreateLocalSingleStoreElimPass())
        .RegisterPass(spvtools::CreateSSARewritePass())
        .RegisterPass(spvtools::CreateCCPPass())
        .RegisterPass(spvtools::CreateLoopUnrollPass(true))
        // Then the optimizer's whole list: an unrolled index into a static
        // const array reads one element once the unrolled blocks are merged,
        // and a known Offset becomes a ConstOffset.
        .RegisterPerformancePasses();
    std::vector<uint32_t> unrolled;
    spvtools::OptimizerOptions options;
    options.set_run_validator(false);
    SpirvModule result;
    if (optimizer.Run(marked.data(), marked.size(), &unrolled, options) &&
        ParseSpirv(unrolled, result, error) && !HoldsVariableOffset(result) &&
        !HoldsVariableObjectIndex(result)) {
        spirv = std::move(unrolled);
        return true;
    }

    // Before shader model 5.1 each texture and sampler of an array is a
    // register of its own, which the index must name when the shader is
    // compiled (object-references.shader_test records the refusal at 4_0).
    VariableObjectIndex indexing;
    if (tree.getTreeRoot()) tree.getTreeRoot()->traverse(&indexing);
    if (indexing.found && (result.code.empty() || HoldsVariableObjectIndex(result))) {
        const glslang::TSourceLoc &loc = indexing.found->getLoc();
        TextureName texture;
        indexing.found->getLeft()->traverse(&texture);
        const glslang::TIntermSymbol *symbol = indexing.found->getLeft()->getAsSymbolNode();
        const std::string name               = symbol ? symbol->getName().c_str() : texture.name;
        const std::string file = loc.getFilename() ? loc.getFilename() : context.fileName;
        diagnostics.Error(file, loc.line,
                          file == context.fileName ? WordColumn(context.source, loc.line, name) : 0,
                          (name.empty() ? std::string() : "'" + name + "': ") +
                              "an array of textures or samplers is indexed by a value not known "
                              "at compile time even with the loops around it unrolled, which "
                              "needs shader model 5.1 (a [loop] loop is never unrolled)");
        return false;
    }

    // The Windows compiler's X3527, at the read's line, and at its
    // texture's name there (glslang's columns for the read are not its).
    VariableOffset finder;
    if (tree.getTreeRoot()) tree.getTreeRoot()->traverse(&finder);
    std::string file = context.fileName, text = "texture access requires a literal offset";
    int line = 0, column = 0;
    if (finder.found) {
        const glslang::TSourceLoc &loc = finder.found->getLoc();
        if (loc.getFilename()) file = loc.getFilename();
        line = loc.line;
        TextureName texture;
        finder.found->getSequence()[0]->traverse(&texture);
        if (!texture.name.empty()) {
            text = "'" + texture.name + "': " + text;
            if (file == context.fileName) column = WordColumn(context.source, line, texture.name);
        }
    }
    diagnostics.Error(file, line, column,
                      text + ": this one is not known at compile time even with the loops "
                             "around it unrolled (a [loop] loop is never unrolled)");
    return false;
}
