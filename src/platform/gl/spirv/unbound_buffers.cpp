#include "platform/gl/spirv/unbound_buffers.h"

#include <map>
#include <set>

namespace {

// The global variables that are storage buffers: in the StorageBuffer
// class, or in the Uniform class with a BufferBlock-decorated type, as
// glslang writes them for SPIR-V 1.0.
std::set<uint32_t> StorageBuffers(const SpirvModule &module) {
    std::set<uint32_t> bufferBlocks, variables;
    for (const SpirvInstruction &instruction : module.preamble)
        if (instruction.opcode == spv::OpDecorate && instruction.operands.size() >= 2 &&
            instruction.operands[1] == spv::DecorationBufferBlock)
            bufferBlocks.insert(instruction.operands[0]);
    for (const SpirvInstruction &instruction : module.globals) {
        if (instruction.opcode != spv::OpVariable || instruction.operands.size() < 3) continue;
        const SpirvDeclaration *pointer = module.declarations.Find(instruction.operands[0]);
        if (!pointer || pointer->opcode != spv::OpTypePointer) continue;
        const uint32_t storage = pointer->operands[0];
        if (storage == spv::StorageClassStorageBuffer ||
            (storage == spv::StorageClassUniform && bufferBlocks.count(pointer->operands[1])))
            variables.insert(instruction.operands[1]);
    }
    return variables;
}

} // namespace

bool HoldsStorageBuffer(const SpirvModule &module) {
    return !StorageBuffers(module).empty();
}

bool ZeroUnboundBufferReads(SpirvModule &module, const SpirvPassContext &, Diagnostics &) {
    std::set<uint32_t> pointers = StorageBuffers(module); // and pointers into them
    std::map<uint32_t, uint32_t> zeroOf;                  // type -> its OpConstantNull
    auto zero = [&](uint32_t type) {
        uint32_t &id = zeroOf[type];
        if (!id) {
            id = FreshId(module);
            AddGlobal(module, spv::OpConstantNull, {type, id});
        }
        return id;
    };
    for (SpirvInstruction &instruction : module.code) {
        const std::vector<uint32_t> &o = instruction.operands;
        switch (instruction.opcode) {
        case spv::OpAccessChain:
        case spv::OpInBoundsAccessChain:
        case spv::OpPtrAccessChain:
        case spv::OpCopyObject:
            if (o.size() >= 3 && pointers.count(o[2])) pointers.insert(o[1]);
            break;
        case spv::OpLoad:
        case spv::OpArrayLength:
            if (o.size() >= 3 && pointers.count(o[2]))
                instruction = {spv::OpCopyObject, {o[0], o[1], zero(o[0])}};
            break;
        default:
            break;
        }
    }
    return true;
}
