// Static objects read without a value (static_objects.h).
#include "platform/gl/spirv/static_objects.h"

#include "platform/gl/spirv/module.h"

#include <set>

bool ReadsEmptyStaticObject(const std::vector<uint32_t> &words, std::string &name) {
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
