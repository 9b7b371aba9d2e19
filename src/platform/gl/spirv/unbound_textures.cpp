#include "platform/gl/spirv/unbound_textures.h"

#include <map>

namespace {

bool IsQuery(spv::Op op) {
    return op == spv::OpImageQuerySize || op == spv::OpImageQuerySizeLod ||
           op == spv::OpImageQueryLevels || op == spv::OpImageQuerySamples;
}

} // namespace

bool HoldsTextureQuery(const SpirvModule &module) {
    return Holds(module, spv::OpImageQuerySize) || Holds(module, spv::OpImageQuerySizeLod) ||
           Holds(module, spv::OpImageQueryLevels) || Holds(module, spv::OpImageQuerySamples);
}

bool ZeroUnboundTextureQueries(SpirvModule &module, const SpirvPassContext &, Diagnostics &) {
    std::map<uint32_t, uint32_t> zeroOf; // type -> its OpConstantNull
    for (SpirvInstruction &instruction : module.code) {
        if (!IsQuery(instruction.opcode)) continue;
        const uint32_t type = instruction.operands[0];
        uint32_t &zero      = zeroOf[type];
        if (!zero) {
            zero = FreshId(module);
            AddGlobal(module, spv::OpConstantNull, {type, zero});
        }
        instruction = {spv::OpCopyObject, {type, instruction.operands[1], zero}};
    }
    return true;
}
