#include "platform/gl/spirv/unbound_textures.h"

#include "platform/gl/spirv/module.h"

#include <map>

namespace {

bool IsQuery(spv::Op op) {
    return op == spv::OpImageQuerySize || op == spv::OpImageQuerySizeLod ||
           op == spv::OpImageQueryLevels || op == spv::OpImageQuerySamples;
}

} // namespace

bool ZeroUnboundTextureQueries(std::vector<uint32_t> &spirv, std::string &error) {
    // Most shaders ask no texture for its size: leave those untouched
    // without parsing them.
    bool any = false;
    for (size_t at = 5; at < spirv.size() && !any;) {
        const uint32_t count = spirv[at] >> 16;
        any                  = IsQuery(static_cast<spv::Op>(spirv[at] & 0xffff));
        at += count ? count : spirv.size();
    }
    if (!any) return true;

    SpirvModule module;
    if (!ParseSpirv(spirv, module, error)) return false;
    std::map<uint32_t, uint32_t> zeroOf; // type -> its OpConstantNull
    for (SpirvInstruction &instruction : module.code) {
        if (!IsQuery(instruction.opcode) || instruction.operands.size() < 2) continue;
        const uint32_t type = instruction.operands[0];
        uint32_t &zero      = zeroOf[type];
        if (!zero) {
            zero = FreshId(module);
            module.globals.push_back({spv::OpConstantNull, {type, zero}});
        }
        instruction = {spv::OpCopyObject, {type, instruction.operands[1], zero}};
    }
    spirv = WriteSpirv(module);
    return true;
}
