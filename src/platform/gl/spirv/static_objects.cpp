// Static objects read without a value (static_objects.h).
#include "platform/gl/spirv/static_objects.h"

#include "platform/gl/spirv/module.h"

#include <set>

namespace {

// Whether the words declare a private object variable or an undefined
// object at all: one pass over the words, so that the module is parsed only
// then.
bool MayHoldEmptyObject(const std::vector<uint32_t> &words) {
    std::set<uint32_t> objects;
    for (size_t at = 5; at < words.size();) {
        const uint32_t count = words[at] >> 16, opcode = words[at] & 0xffff;
        if (count == 0 || at + count > words.size()) return true; // ParseSpirv judges
        if ((opcode == spv::OpTypeImage || opcode == spv::OpTypeSampler ||
             opcode == spv::OpTypeSampledImage) &&
            count > 1)
            objects.insert(words[at + 1]);
        if (opcode == spv::OpTypePointer && count > 3 &&
            words[at + 2] == spv::StorageClassPrivate && objects.count(words[at + 3]))
            return true;
        if (opcode == spv::OpUndef && count > 1 && objects.count(words[at + 1])) return true;
        if (opcode == spv::OpFunction) return false; // the types and globals are behind
        at += count;
    }
    return false;
}

} // namespace

bool ReadsEmptyStaticObject(const std::vector<uint32_t> &words, std::string &name) {
    if (!MayHoldEmptyObject(words)) return false;
    SpirvModule module;
    std::string error;
    if (!ParseSpirv(words, module, error)) return false;
    std::set<uint32_t> objects, pointers, variables, stored, undefined;
    for (const auto &[id, declaration] : module.declarations) {
        if (declaration.opcode == spv::OpTypeImage || declaration.opcode == spv::OpTypeSampler ||
            declaration.opcode == spv::OpTypeSampledImage)
            objects.insert(id);
    }
    for (const auto &[id, declaration] : module.declarations)
        if (declaration.opcode == spv::OpTypePointer &&
            declaration.operands[0] == spv::StorageClassPrivate &&
            objects.count(declaration.operands[1]))
            pointers.insert(id);
    for (const std::vector<SpirvInstruction> *section : {&module.globals, &module.code})
        for (const SpirvInstruction &instruction : *section) {
            if (instruction.operands.size() < 2) continue;
            if (instruction.opcode == spv::OpVariable && pointers.count(instruction.operands[0]))
                variables.insert(instruction.operands[1]);
            if (instruction.opcode == spv::OpUndef && objects.count(instruction.operands[0]))
                undefined.insert(instruction.operands[1]);
            if (instruction.opcode == spv::OpStore) stored.insert(instruction.operands[0]);
        }
    for (const SpirvInstruction &instruction : module.code) {
        const std::vector<uint32_t> &operands = instruction.operands;
        uint32_t read                         = 0;
        if (instruction.opcode == spv::OpLoad && operands.size() >= 3 &&
            variables.count(operands[2]) && !stored.count(operands[2]))
            read = operands[2];
        // The image and sampler operands of the instructions that use them.
        const bool image = instruction.opcode == spv::OpSampledImage ||
                           instruction.opcode == spv::OpImage ||
                           (instruction.opcode >= spv::OpImageSampleImplicitLod &&
                            instruction.opcode <= spv::OpImageWrite) ||
                           (instruction.opcode >= spv::OpImageQuerySizeLod &&
                            instruction.opcode <= spv::OpImageQuerySamples);
        for (size_t k = 2; image && k < operands.size() && k < 4; ++k)
            if (undefined.count(operands[k])) read = operands[k];
        if (!read) continue;
        const std::string *named = module.names.Find(read);
        name                     = named ? *named : std::string();
        return true;
    }
    return false;
}
