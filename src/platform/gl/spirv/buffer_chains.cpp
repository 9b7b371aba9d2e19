#include "platform/gl/spirv/buffer_chains.h"

#include "platform/gl/spirv/module.h"

#include <map>
#include <set>
#include <string>

namespace {

// Joins the chains of the module; returns whether some chain started from
// another.
bool Join(SpirvModule &module) {
    const std::set<uint32_t> buffers = ConstantBufferVariables(module);
    std::set<uint32_t> chains; // the results of chains into a buffer
    bool joined = false;
    for (SpirvInstruction &c : module.code) {
        if (!IsAccessChain(c.opcode) || c.operands.size() < 3) continue;
        std::vector<uint32_t> &o = c.operands;
        if (buffers.count(o[2])) {
            chains.insert(o[1]);
            continue;
        }
        if (!chains.count(o[2])) continue;
        // Chains come before their uses in a block that dominates them.
        for (const SpirvInstruction &base : module.code) {
            if (!IsAccessChain(base.opcode) || base.operands.size() < 3 || base.operands[1] != o[2])
                continue;
            std::vector<uint32_t> joinedOperands(base.operands.begin() + 2, base.operands.end());
            joinedOperands.insert(joinedOperands.end(), o.begin() + 3, o.end());
            o.resize(2);
            o.insert(o.end(), joinedOperands.begin(), joinedOperands.end());
            break;
        }
        chains.insert(o[1]);
        joined = true;
    }
    if (!joined) return false;
    // The chains no instruction reads any more.
    std::set<uint32_t> used;
    for (const SpirvInstruction &c : module.code)
        for (size_t k = 0; k < c.operands.size(); ++k)
            if (IsIdOperand(c, k) && c.operands[k] != ResultId(c)) used.insert(c.operands[k]);
    std::vector<SpirvInstruction> code;
    for (SpirvInstruction &c : module.code)
        if (!IsAccessChain(c.opcode) || c.operands.size() < 2 || !chains.count(c.operands[1]) ||
            used.count(c.operands[1]))
            code.push_back(std::move(c));
    module.code = std::move(code);
    return true;
}

// The type a chain's indices reach from type, 0 where one cannot be known
// (an index into a structure that is not a constant).
uint32_t Reached(const SpirvModule &module,
                 const std::map<uint32_t, std::vector<uint32_t>> &structs, uint32_t type,
                 std::vector<uint32_t>::const_iterator index,
                 std::vector<uint32_t>::const_iterator end) {
    for (; index != end && type; ++index) {
        auto structure                 = structs.find(type);
        auto numeric                   = module.types.find(type);
        const SpirvDeclaration *array  = Declaration(module, type, spv::OpTypeArray);
        const SpirvDeclaration *matrix = Declaration(module, type, spv::OpTypeMatrix);
        if (structure != structs.end()) {
            const std::vector<uint32_t> member = ConstantValue(module, *index);
            type = member.size() == 1 && member[0] + 1 < structure->second.size()
                       ? structure->second[member[0] + 1]
                       : 0;
        } else if (array || matrix) {
            type = (array ? array : matrix)->operands[0];
        } else if (numeric != module.types.end() && numeric->second.count > 1) {
            type = numeric->second.scalar;
        } else {
            type = 0;
        }
    }
    return type;
}

// A component of a buffer's vector picked by an index known only when the
// shader runs ("int2x2 m; m[i]", a row of a column-major matrix): SPIRV-Cross
// reads flat registers only a whole register at a time, so the chain stops
// at the vector and each load of it becomes a load of the vector and a
// pick of the component. A chain used otherwise than by loads stays.
void PickDynamicComponents(SpirvModule &module) {
    const std::set<uint32_t> buffers = ConstantBufferVariables(module);
    std::map<uint32_t, std::vector<uint32_t>> structs; // structure -> its declaration
    for (const SpirvInstruction &g : module.globals)
        if (g.opcode == spv::OpTypeStruct && !g.operands.empty())
            structs[g.operands[0]] = g.operands;
    std::map<uint32_t, unsigned> loads, uses; // a chain's loads, and all its uses
    for (const SpirvInstruction &c : module.code)
        for (size_t k = 0; k < c.operands.size(); ++k)
            if (IsIdOperand(c, k) && c.operands[k] != ResultId(c)) {
                ++uses[c.operands[k]];
                if (c.opcode == spv::OpLoad && k == 2) ++loads[c.operands[k]];
            }
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> picked; // chain -> (vector, index)
    std::vector<SpirvInstruction> code;
    for (SpirvInstruction &c : module.code) {
        std::vector<uint32_t> &o = c.operands;
        if (IsAccessChain(c.opcode) && o.size() > 3 && buffers.count(o[2]) &&
            loads[o[1]] == uses[o[1]] && ConstantValue(module, o.back()).empty()) {
            const SpirvDeclaration *pointer =
                Declaration(module, TypeOf(module, o[2]), spv::OpTypePointer);
            const uint32_t vector =
                pointer ? Reached(module, structs, pointer->operands[1], o.begin() + 3, o.end() - 1)
                        : 0;
            auto numeric = module.types.find(vector);
            if (numeric != module.types.end() && numeric->second.count > 1) {
                picked[o[1]] = {vector, o.back()};
                o.pop_back();
                o[0] = PointerType(module, spv::StorageClassUniform, vector);
                SetTypeOf(module, o[1], o[0]);
            }
        } else if (c.opcode == spv::OpLoad && o.size() >= 3 && picked.count(o[2])) {
            const auto [vector, index] = picked.at(o[2]);
            const uint32_t whole       = EmitInstruction(module, code, spv::OpLoad, vector, {o[2]});
            EmitInstruction(module, code, spv::OpVectorExtractDynamic, o[0], {whole, index}, o[1]);
            continue;
        }
        code.push_back(std::move(c));
    }
    module.code = std::move(code);
}

} // namespace

void JoinBufferChains(std::vector<uint32_t> &spirv) {
    SpirvModule module;
    std::string error;
    if (!ParseSpirv(spirv, module, error)) return;
    const bool joined   = Join(module);
    const size_t before = module.code.size();
    PickDynamicComponents(module);
    if (joined || module.code.size() != before) spirv = WriteSpirv(module);
}
