// Arrays of textures and samplers split into one variable per element
// (object_arrays.h).
#include "platform/gl/spirv/object_arrays.h"

#include "platform/gl/spirv/module.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>

#include <map>
#include <set>

bool HoldsObjectArray(const std::vector<uint32_t> &spirv) {
    std::set<uint32_t> objects;
    for (size_t at = 5; at < spirv.size();) {
        const uint32_t count = spirv[at] >> 16, opcode = spirv[at] & 0xFFFF;
        if (count == 0 || at + count > spirv.size()) return false;
        if ((opcode == spv::OpTypeSampler || opcode == spv::OpTypeImage) && count >= 2)
            objects.insert(spirv[at + 1]);
        if (opcode == spv::OpTypeArray && count >= 4 && objects.count(spirv[at + 2])) return true;
        if (opcode == spv::OpFunction) return false; // past the types
        at += count;
    }
    return false;
}

bool ReadsUnsetObject(const std::vector<uint32_t> &spirv) {
    std::set<uint32_t> objects, pointers, variables, loaded, stored;
    for (size_t at = 5; at < spirv.size();) {
        const uint32_t count = spirv[at] >> 16, opcode = spirv[at] & 0xFFFF;
        if (count == 0 || at + count > spirv.size()) return false;
        // The operands; one past the end for a last instruction that has
        // none, and then never read.
        const uint32_t *o = spirv.data() + at + 1;
        if ((opcode == spv::OpTypeSampler || opcode == spv::OpTypeImage ||
             opcode == spv::OpTypeSampledImage) &&
            count >= 2)
            objects.insert(o[0]);
        if (opcode == spv::OpUndef && count >= 3 && objects.count(o[0])) return true;
        // A static or local object variable: loaded, it must be stored.
        if (opcode == spv::OpTypePointer && count == 4 && objects.count(o[2]) &&
            (o[1] == spv::StorageClassPrivate || o[1] == spv::StorageClassFunction))
            pointers.insert(o[0]);
        if (opcode == spv::OpVariable && count >= 4 && pointers.count(o[0])) variables.insert(o[1]);
        if (opcode == spv::OpLoad && count >= 4 && variables.count(o[2])) loaded.insert(o[2]);
        if (opcode == spv::OpStore && count >= 3) stored.insert(o[0]);
        at += count;
    }
    for (uint32_t variable : loaded)
        if (!stored.count(variable)) return true;
    return false;
}

namespace {

// The first local or static texture or sampler variable of the tree.
class LocalObject : public glslang::TIntermTraverser {
  public:
    void visitSymbol(glslang::TIntermSymbol *symbol) override {
        const glslang::TStorageQualifier storage = symbol->getQualifier().storage;
        if (!found && (storage == glslang::EvqTemporary || storage == glslang::EvqGlobal) &&
            symbol->getType().containsOpaque())
            found = symbol;
    }
    const glslang::TIntermSymbol *found = nullptr;
};

} // namespace

void UnsetObjectError(const glslang::TIntermediate &tree, const char *fileName,
                      Diagnostics &diagnostics) {
    LocalObject local;
    if (tree.getTreeRoot()) tree.getTreeRoot()->traverse(&local);
    const std::string what =
        local.found ? "'" + std::string(local.found->getName().c_str()) + "'" : "an object";
    const char *file = local.found && local.found->getLoc().getFilename()
                           ? local.found->getLoc().getFilename()
                           : fileName;
    diagnostics.Error(file, local.found ? local.found->getLoc().line : 0, 0,
                      what + " is a texture or sampler read before anything is assigned to it");
}

void SplitObjectArrays(std::vector<uint32_t> &spirv) {
    SpirvModule module;
    std::string error;
    if (!ParseSpirv(spirv, module, error)) return;
    // The arrays of objects: array type -> its element type.
    std::set<uint32_t> objectTypes;
    std::map<uint32_t, uint32_t> arrays;
    std::map<uint32_t, uint32_t> pointers; // pointer to such an array -> the array
    std::vector<uint32_t> variables;
    for (const SpirvInstruction &instruction : module.globals) {
        const std::vector<uint32_t> &o = instruction.operands;
        if ((instruction.opcode == spv::OpTypeSampler || instruction.opcode == spv::OpTypeImage) &&
            !o.empty())
            objectTypes.insert(o[0]);
        if (instruction.opcode == spv::OpTypeArray && o.size() == 3 && objectTypes.count(o[1]))
            arrays[o[0]] = o[1];
        if (instruction.opcode == spv::OpTypePointer && o.size() == 3 &&
            o[1] == spv::StorageClassUniformConstant && arrays.count(o[2]))
            pointers[o[0]] = o[2];
        if (instruction.opcode == spv::OpVariable && o.size() >= 3 && pointers.count(o[0]))
            variables.push_back(o[1]);
    }
    for (const uint32_t variable : variables) {
        // Every use must be an access chain with one known index, whose
        // result only loads read.
        std::map<uint32_t, uint32_t> elements; // access chain result -> index
        bool plain = true;
        for (const SpirvInstruction &instruction : module.code) {
            const std::vector<uint32_t> &o = instruction.operands;
            const bool chain               = (instruction.opcode == spv::OpAccessChain ||
                                instruction.opcode == spv::OpInBoundsAccessChain) &&
                               o.size() == 4 && o[2] == variable;
            const uint32_t *index = chain ? module.constants.Find(o[3]) : nullptr;
            if (index) {
                elements[o[1]] = *index;
                continue;
            }
            for (size_t k = 0; k < o.size(); ++k)
                plain = plain && o[k] != variable;
        }
        for (const SpirvInstruction &instruction : module.code)
            for (size_t k = 0; k < instruction.operands.size(); ++k)
                plain = plain && (!elements.count(instruction.operands[k]) ||
                                  (instruction.opcode == spv::OpLoad && k == 2) ||
                                  ((instruction.opcode == spv::OpAccessChain ||
                                    instruction.opcode == spv::OpInBoundsAccessChain) &&
                                   k == 1));
        if (!plain || elements.empty()) continue;
        uint32_t binding = 0, set = 0;
        for (const SpirvInstruction &instruction : module.preamble) {
            const std::vector<uint32_t> &o = instruction.operands;
            if (instruction.opcode != spv::OpDecorate || o.size() != 3 || o[0] != variable)
                continue;
            if (o[1] == spv::DecorationBinding) binding = o[2];
            if (o[1] == spv::DecorationDescriptorSet) set = o[2];
        }
        const uint32_t elementType = arrays[pointers[TypeOf(module, variable)]];
        uint32_t pointer           = 0;
        for (const SpirvInstruction &instruction : module.globals)
            if (instruction.opcode == spv::OpTypePointer && instruction.operands.size() == 3 &&
                instruction.operands[1] == spv::StorageClassUniformConstant &&
                instruction.operands[2] == elementType)
                pointer = instruction.operands[0];
        if (!pointer) {
            pointer = FreshId(module);
            AddGlobal(module, spv::OpTypePointer,
                      {pointer, spv::StorageClassUniformConstant, elementType});
        }
        std::map<uint32_t, uint32_t> split; // index -> its variable
        for (const auto &[chain, index] : elements) {
            if (split.count(index)) continue;
            const uint32_t element = FreshId(module);
            AddGlobal(module, spv::OpVariable,
                      {pointer, element, spv::StorageClassUniformConstant});
            Decorate(module, element, spv::DecorationDescriptorSet, {set});
            Decorate(module, element, spv::DecorationBinding, {binding + index});
            split[index] = element;
        }
        std::vector<SpirvInstruction> code;
        code.reserve(module.code.size());
        for (SpirvInstruction &instruction : module.code) {
            std::vector<uint32_t> &o = instruction.operands;
            const bool chain         = (instruction.opcode == spv::OpAccessChain ||
                                instruction.opcode == spv::OpInBoundsAccessChain) &&
                               o.size() == 4 && elements.count(o[1]);
            if (chain) continue;
            if (instruction.opcode == spv::OpLoad && o.size() >= 3 && elements.count(o[2]))
                o[2] = split[elements[o[2]]];
            code.push_back(std::move(instruction));
        }
        module.code = std::move(code);
    }
    spirv = WriteSpirv(module);
}
