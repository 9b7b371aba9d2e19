// The Windows compiler's inverse trigonometry: see inverse_trig.h.
#include "platform/gl/spirv/inverse_trig.h"

#include <GLSL.std.450.h>

#include <cstring>

namespace {

uint32_t Bits(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct Emitter {
    SpirvModule &module;
    uint32_t glsl;
    uint32_t type; // the float scalar or vector the function computes
    std::vector<SpirvInstruction> &out;

    uint32_t Op(spv::Op op, std::vector<uint32_t> operands, uint32_t result = 0,
                uint32_t resultType = 0) {
        if (!resultType) resultType = type;
        if (!result) result = FreshId(module);
        operands.insert(operands.begin(), {resultType, result});
        out.push_back({op, std::move(operands)});
        SetTypeOf(module, result, resultType);
        return result;
    }
    uint32_t Ext(GLSLstd450 function, std::vector<uint32_t> args, uint32_t result = 0) {
        args.insert(args.begin(), {glsl, static_cast<uint32_t>(function)});
        return Op(spv::OpExtInst, args, result);
    }
    uint32_t K(float value) { return Constant(module, type, Bits(value)); }
    uint32_t Bool() { return BoolType(module, module.types.at(type).count); }
};

constexpr float kPi = 3.14159265f, kHalfPi = 1.57079633f;

// acos, or asin as pi/2 - acos.
void InverseCosine(Emitter &e, uint32_t x, uint32_t result, bool sine) {
    const uint32_t ax       = e.Ext(GLSLstd450FAbs, {x});
    uint32_t p              = e.Op(spv::OpFMul, {e.K(-0.0187293f), ax});
    p                       = e.Op(spv::OpFAdd, {p, e.K(0.0742610f)});
    p                       = e.Op(spv::OpFMul, {p, ax});
    p                       = e.Op(spv::OpFAdd, {p, e.K(-0.2121144f)});
    p                       = e.Op(spv::OpFMul, {p, ax});
    p                       = e.Op(spv::OpFAdd, {p, e.K(1.5707288f)});
    const uint32_t s        = e.Ext(GLSLstd450Sqrt, {e.Op(spv::OpFSub, {e.K(1.0f), ax})});
    const uint32_t r        = e.Op(spv::OpFMul, {s, p});
    const uint32_t negative = e.Op(spv::OpFOrdLessThan, {x, e.K(0.0f)}, 0, e.Bool());
    const uint32_t flipped  = e.Op(spv::OpFSub, {e.K(kPi), r});
    const uint32_t acos     = e.Op(spv::OpSelect, {negative, flipped, r}, sine ? 0 : result);
    if (sine) e.Op(spv::OpFSub, {e.K(kHalfPi), acos}, result);
}

void Atan2(Emitter &e, uint32_t y, uint32_t x, uint32_t result) {
    const uint32_t angle  = e.Ext(GLSLstd450Atan2, {y, x});
    const uint32_t zero   = e.Op(spv::OpFOrdEqual, {y, e.K(0.0f)}, 0, e.Bool());
    const uint32_t behind = e.Op(spv::OpFOrdLessThan, {x, e.K(0.0f)}, 0, e.Bool());
    const uint32_t half   = e.Op(spv::OpLogicalAnd, {zero, behind}, 0, e.Bool());
    e.Op(spv::OpSelect, {half, e.K(kPi), angle}, result);
}

} // namespace

bool HoldsInverseTrig(const SpirvModule &module) {
    return Holds(module, spv::OpExtInst) && GlslExtInst(module) != 0;
}

bool ApplyWindowsInverseTrig(SpirvModule &module, const SpirvPassContext &, Diagnostics &) {
    const uint32_t glsl = GlslExtInst(module);
    std::vector<SpirvInstruction> out;
    out.reserve(module.code.size());
    for (SpirvInstruction &ins : module.code) {
        const std::vector<uint32_t> &o = ins.operands;
        auto type = o.size() > 4 ? module.types.find(o[0]) : module.types.end();
        if (type == module.types.end() || ins.opcode != spv::OpExtInst || o[2] != glsl ||
            type->second.kind != spv::OpTypeFloat || type->second.width != 32) {
            out.push_back(std::move(ins));
            continue;
        }
        Emitter e{module, glsl, o[0], out};
        if (o[3] == GLSLstd450Acos || o[3] == GLSLstd450Asin)
            InverseCosine(e, o[4], o[1], o[3] == GLSLstd450Asin);
        else if (o[3] == GLSLstd450Atan2 && o.size() == 6)
            Atan2(e, o[4], o[5], o[1]);
        else
            out.push_back(std::move(ins));
    }
    module.code = std::move(out);
    return true;
}
