// Direct3D's arithmetic on top of GLSL's: each rewrite replaces one kind of
// instruction with instructions that compute Direct3D's result, keeping the
// original result id so no use of it changes. Section numbers are those of
// the Direct3D 11.3 functional reference.
#include "platform/gl/spirv/arithmetic.h"

#include "platform/gl/spirv/module.h"

#include <GLSL.std.450.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

struct Rewriter {
    SpirvModule &module;
    ShaderStage stage;
    std::vector<SpirvInstruction> out;
    uint32_t glsl; // the GLSL.std.450 import, 0 if none
    // Selects between one constant and itself: the literals the front end
    // was kept from folding (literals.h), by the constant they hold.
    std::map<uint32_t, uint32_t> literals;
    std::set<uint32_t> logs; // results of log2
};

// The value words of a constant or of a literal read at run time.
std::vector<uint32_t> Known(const Rewriter &w, uint32_t id) {
    auto literal = w.literals.find(id);
    return ConstantValue(w.module, literal == w.literals.end() ? id : literal->second);
}

uint32_t Emit(Rewriter &w, spv::Op op, uint32_t type, std::vector<uint32_t> operands,
              uint32_t result = 0) {
    return EmitInstruction(w.module, w.out, op, type, std::move(operands), result);
}

// Emits the instruction with a fresh result id and returns that id; the
// caller computes the original id from it.
uint32_t EmitRenamed(Rewriter &w, SpirvInstruction instruction) {
    uint32_t fresh          = FreshId(w.module);
    instruction.operands[1] = fresh;
    SetTypeOf(w.module, fresh, instruction.operands[0]);
    w.out.push_back(std::move(instruction));
    return fresh;
}

// The numeric type of a value, or a type of kind OpNop when the value is
// not a 32-bit number or vector of them.
SpirvType TypeOfValue(const SpirvModule &module, uint32_t id) {
    auto t = module.types.find(TypeOf(module, id));
    if (t == module.types.end() || t->second.width != 32) return {};
    return t->second;
}

// Whether the value is a constant without NaN in it.
bool KnownNumber(const Rewriter &w, uint32_t id) {
    const std::vector<uint32_t> k = Known(w, id);
    return !k.empty() && std::all_of(k.begin(), k.end(),
                                     [](uint32_t b) { return (b & 0x7fffffff) <= 0x7f800000; });
}

bool Is32(const SpirvModule &module, uint32_t type, spv::Op kind) {
    auto t = module.types.find(type);
    return t != module.types.end() && t->second.kind == kind && t->second.width == 32;
}

uint32_t BoolLike(Rewriter &w, uint32_t type) {
    return BoolType(w.module, w.module.types.at(type).count);
}

constexpr uint32_t kFloatMinusTwo31 = 0xcf000000; // -2^31
constexpr uint32_t kFloatTwo31      = 0x4f000000; // 2^31
constexpr uint32_t kFloatTwo32      = 0x4f800000; // 2^32
constexpr uint32_t kFloatOne        = 0x3f800000;

// ftoi (22.13.3): truncates, clamps to the int range, NaN gives 0. ftou
// (22.13.4): the same with the uint range.
bool FixFloatToInt(Rewriter &w, const SpirvInstruction &ins) {
    const uint32_t type = ins.operands[0], result = ins.operands[1], x = ins.operands[2];
    const bool toSigned = ins.opcode == spv::OpConvertFToS;
    if (!Is32(w.module, type, spv::OpTypeInt) || TypeOfValue(w.module, x).kind != spv::OpTypeFloat)
        return false;
    SpirvModule &m        = w.module;
    const uint32_t floatT = TypeOf(m, x), boolT = BoolLike(w, type);
    const uint32_t raw = EmitRenamed(w, ins);
    // Ordered comparisons are false for NaN, which then takes the 0.
    const uint32_t low  = Constant(m, floatT, toSigned ? kFloatMinusTwo31 : 0);
    const uint32_t high = Constant(m, floatT, toSigned ? kFloatTwo31 : kFloatTwo32);
    uint32_t inRange    = Emit(w, spv::OpFOrdGreaterThanEqual, boolT, {x, low});
    uint32_t value      = Emit(w, spv::OpSelect, type, {inRange, raw, Constant(m, type, 0)});
    uint32_t above      = Emit(w, spv::OpFOrdGreaterThanEqual, boolT, {x, high});
    if (!toSigned) {
        Emit(w, spv::OpSelect, type, {above, Constant(m, type, 0xffffffff), value}, result);
        return true;
    }
    value          = Emit(w, spv::OpSelect, type, {above, Constant(m, type, 0x7fffffff), value});
    uint32_t below = Emit(w, spv::OpFOrdLessThan, boolT, {x, low});
    Emit(w, spv::OpSelect, type, {below, Constant(m, type, 0x80000000), value}, result);
    return true;
}

// Derivatives follow the render target's rows downward (3.3.1); the
// framebuffer's rows run upward, so GL's y derivative has the other sign.
bool FixDerivativeY(Rewriter &w, const SpirvInstruction &ins) {
    if (w.stage != ShaderStage::Pixel) return false;
    const uint32_t type = ins.operands[0], result = ins.operands[1];
    const uint32_t raw = EmitRenamed(w, ins);
    Emit(w, spv::OpFNegate, type, {raw}, result);
    return true;
}

// ishl, ishr, ushr (22.11.7, 22.11.8, 22.11.12) shift by the count's low 5
// bits; GLSL leaves counts of 32 and more undefined.
bool FixShift(Rewriter &w, SpirvInstruction ins) {
    if (ins.operands.size() != 4) return false;
    const uint32_t count          = ins.operands[3];
    const std::vector<uint32_t> k = Known(w, count);
    if (!k.empty() && std::all_of(k.begin(), k.end(), [](uint32_t c) { return c < 32; }))
        return false;
    const uint32_t countT = TypeOf(w.module, count);
    if (TypeOfValue(w.module, count).kind != spv::OpTypeInt) return false;
    ins.operands[3] = Emit(w, spv::OpBitwiseAnd, countT, {count, Constant(w.module, countT, 31)});
    w.out.push_back(std::move(ins));
    return true;
}

// udiv (22.12.9): division by zero gives 0xffffffff, quotient and remainder.
bool FixUnsignedDivision(Rewriter &w, const SpirvInstruction &ins) {
    if (ins.operands.size() != 4) return false;
    const uint32_t type = ins.operands[0], result = ins.operands[1], divisor = ins.operands[3];
    const std::vector<uint32_t> k = Known(w, divisor);
    if (!k.empty() && std::find(k.begin(), k.end(), 0u) == k.end()) return false;
    if (!Is32(w.module, type, spv::OpTypeInt)) return false;
    SpirvModule &m     = w.module;
    const uint32_t raw = EmitRenamed(w, ins);
    const uint32_t zero =
        Emit(w, spv::OpIEqual, BoolLike(w, type), {divisor, Constant(m, type, 0)});
    Emit(w, spv::OpSelect, type, {zero, Constant(m, type, 0xffffffff), raw}, result);
    return true;
}

// Shader model 4 has no signed division: the HLSL compiler divides the
// magnitudes with udiv (22.12.9) and gives the quotient the sign of x ^ y,
// the remainder the sign of x (vkd3d's HLSL tests and its fxc-matching
// lowering). So x / 0 is -1 or 1, x % 0 is -1 or 1, and -2^31 / -1 is -2^31.
bool FixSignedDivision(Rewriter &w, const SpirvInstruction &ins) {
    if (ins.operands.size() != 4) return false;
    const uint32_t type = ins.operands[0], result = ins.operands[1];
    const uint32_t x = ins.operands[2], y = ins.operands[3];
    // A divisor known to be positive: GL's truncating division is the same.
    const std::vector<uint32_t> k = Known(w, y);
    if (!k.empty() &&
        std::all_of(k.begin(), k.end(), [](uint32_t c) { return c - 1 < 0x7fffffff; }))
        return false;
    if (!Is32(w.module, type, spv::OpTypeInt)) return false;
    SpirvModule &m       = w.module;
    const uint32_t count = m.types.at(type).count, boolT = BoolLike(w, type);
    const uint32_t uintT = IntType(m, false, count), zero = Constant(m, type, 0);
    auto magnitude = [&](uint32_t v) {
        const uint32_t negative = Emit(w, spv::OpSLessThan, boolT, {v, zero});
        const uint32_t flipped  = Emit(w, spv::OpSNegate, type, {v});
        const uint32_t abs      = Emit(w, spv::OpSelect, type, {negative, flipped, v});
        return Emit(w, spv::OpBitcast, uintT, {abs});
    };
    const bool quotient = ins.opcode == spv::OpSDiv;
    const uint32_t ax = magnitude(x), ay = magnitude(y);
    uint32_t value        = Emit(w, quotient ? spv::OpUDiv : spv::OpUMod, uintT, {ax, ay});
    const uint32_t byZero = Emit(w, spv::OpIEqual, BoolLike(w, uintT), {ay, Constant(m, uintT, 0)});
    value = Emit(w, spv::OpSelect, uintT, {byZero, Constant(m, uintT, 0xffffffff), value});
    value = Emit(w, spv::OpBitcast, type, {value});
    const uint32_t sign     = quotient ? Emit(w, spv::OpBitwiseXor, type, {x, y}) : x;
    const uint32_t negative = Emit(w, spv::OpSLessThan, boolT, {sign, zero});
    const uint32_t flipped  = Emit(w, spv::OpSNegate, type, {value});
    Emit(w, spv::OpSelect, type, {negative, flipped, value}, result);
    return true;
}

// f32tof16 (22.13.2) converts as Direct3D converts floats to a narrower
// float format (3.2.2): toward zero, too large a number becomes the largest
// half, NaN stays NaN. GL's packHalf2x16 may round to nearest and overflow
// to infinity. Both halves of the packed pair are converted with integer
// operations on the float's bits.
bool FixPackHalf(Rewriter &w, const SpirvInstruction &ins, uint32_t pair) {
    SpirvModule &m = w.module;
    if (TypeOfValue(m, pair).kind != spv::OpTypeFloat || TypeOfValue(m, pair).count != 2 ||
        !Is32(m, ins.operands[0], spv::OpTypeInt))
        return false;
    const uint32_t uintT = ins.operands[0], pairT = IntType(m, false, 2), boolT = BoolType(m, 2);
    auto k       = [&](uint32_t bits) { return Constant(m, pairT, bits); };
    auto op      = [&](spv::Op o, uint32_t a, uint32_t b) { return Emit(w, o, pairT, {a, b}); };
    auto atLeast = [&](uint32_t a, uint32_t bits) {
        return Emit(w, spv::OpUGreaterThanEqual, boolT, {a, k(bits)});
    };
    auto select = [&](uint32_t c, uint32_t a, uint32_t b) {
        return Emit(w, spv::OpSelect, pairT, {c, a, b});
    };
    const uint32_t bits = Emit(w, spv::OpBitcast, pairT, {pair});
    const uint32_t a    = op(spv::OpBitwiseAnd, bits, k(0x7fffffff));
    const uint32_t sign =
        op(spv::OpBitwiseAnd, op(spv::OpShiftRightLogical, bits, k(16)), k(0x8000));
    // Normal halves rebias the exponent; denormal ones shift the mantissa
    // with its implicit one right by 126 - exponent (14 to 23).
    const uint32_t normal = op(spv::OpShiftRightLogical, op(spv::OpISub, a, k(0x38000000)), k(13));
    const uint32_t shift  = op(
         spv::OpBitwiseAnd, op(spv::OpISub, k(126), op(spv::OpShiftRightLogical, a, k(23))), k(31));
    const uint32_t mantissa =
        op(spv::OpBitwiseOr, op(spv::OpBitwiseAnd, a, k(0x7fffff)), k(0x800000));
    uint32_t half       = select(atLeast(a, 0x33800000), // 2^-24, the smallest half
                                 op(spv::OpShiftRightLogical, mantissa, shift), k(0));
    half                = select(atLeast(a, 0x38800000), normal, half);    // 2^-14
    half                = select(atLeast(a, 0x47800000), k(0x7bff), half); // 2^16
    half                = select(atLeast(a, 0x7f800000), k(0x7c00), half); // infinity
    half                = select(atLeast(a, 0x7f800001), k(0x7e00), half); // NaN
    half                = op(spv::OpBitwiseOr, half, sign);
    const uint32_t low  = Emit(w, spv::OpCompositeExtract, uintT, {half, 0});
    const uint32_t high = Emit(w, spv::OpCompositeExtract, uintT, {half, 1});
    const uint32_t up   = Emit(w, spv::OpShiftLeftLogical, uintT, {high, Constant(m, uintT, 16)});
    Emit(w, spv::OpBitwiseOr, uintT, {low, up}, ins.operands[1]);
    return true;
}

// GLSL.std.450 instructions whose NaN handling differs from Direct3D's.
bool FixExtInst(Rewriter &w, SpirvInstruction ins) {
    if (ins.operands.size() < 5 || !w.glsl || ins.operands[2] != w.glsl) return false;
    const uint32_t type = ins.operands[0], result = ins.operands[1];
    const std::vector<uint32_t> args(ins.operands.begin() + 4, ins.operands.end());
    if (ins.operands[3] == GLSLstd450PackHalf2x16 && args.size() == 1)
        return FixPackHalf(w, ins, args[0]);
    if (!Is32(w.module, type, spv::OpTypeFloat)) return false;
    switch (ins.operands[3]) {
    case GLSLstd450FMin: // min and max (22.10.10, 22.10.11) return the operand that is not NaN
    case GLSLstd450FMax: {
        if (args.size() != 2) return false;
        const bool isMin = ins.operands[3] == GLSLstd450FMin;
        // Against a number, one comparison does: it is false for NaN.
        for (int known = 1; known >= 0; --known) {
            if (!KnownNumber(w, args[known])) continue;
            const uint32_t x = args[1 - known], c = args[known];
            uint32_t keep = Emit(w, isMin ? spv::OpFOrdLessThan : spv::OpFOrdGreaterThan,
                                 BoolLike(w, type), {x, c});
            Emit(w, spv::OpSelect, type, {keep, x, c}, result);
            return true;
        }
        ins.operands[3] = isMin ? GLSLstd450NMin : GLSLstd450NMax;
        break;
    }
    case GLSLstd450FClamp: { // clamp and saturate are max then min: NaN gives the lower bound
        if (args.size() != 3) return false;
        if (KnownNumber(w, args[1]) && KnownNumber(w, args[2])) {
            // x >= low is false for NaN; otherwise x is a number and GL's min is defined.
            uint32_t atLeast =
                Emit(w, spv::OpFOrdGreaterThanEqual, BoolLike(w, type), {args[0], args[1]});
            uint32_t below =
                Emit(w, spv::OpExtInst, type, {w.glsl, GLSLstd450FMin, args[0], args[2]});
            Emit(w, spv::OpSelect, type, {atLeast, below, args[1]}, result);
            return true;
        }
        uint32_t low = Emit(w, spv::OpExtInst, type, {w.glsl, GLSLstd450NMax, args[0], args[1]});
        Emit(w, spv::OpExtInst, type, {w.glsl, GLSLstd450NMin, low, args[2]}, result);
        return true;
    }
    case GLSLstd450Ldexp: { // HLSL's ldexp takes a float exponent: x * 2^exp
        if (args.size() != 2 || TypeOfValue(w.module, args[1]).kind != spv::OpTypeFloat)
            return false;
        uint32_t scale = Emit(w, spv::OpExtInst, type, {w.glsl, GLSLstd450Exp2, args[1]});
        Emit(w, spv::OpFMul, type, {args[0], scale}, result);
        return true;
    }
    case GLSLstd450Pow: { // pow is exp(y * log(x)) (22.10.6, 22.10.8): pow(0, 0) is NaN
        // A literal exponent stays with the driver, which may multiply instead.
        if (args.size() != 2 || !Known(w, args[1]).empty()) return false;
        uint32_t log     = Emit(w, spv::OpExtInst, type, {w.glsl, GLSLstd450Log2, args[0]});
        uint32_t product = Emit(w, spv::OpFMul, type, {args[1], log});
        // Exact, so that the driver does not fold exp2(y * log2(x)) back into its pow.
        Decorate(w.module, product, spv::DecorationNoContraction);
        Emit(w, spv::OpExtInst, type, {w.glsl, GLSLstd450Exp2, product}, result);
        return true;
    }
    case GLSLstd450Step: { // step(y, x) is x >= y ? 1 : 0, so 0 when either is NaN
        if (args.size() != 2) return false;
        uint32_t atLeast =
            Emit(w, spv::OpFOrdGreaterThanEqual, BoolLike(w, type), {args[1], args[0]});
        Emit(w, spv::OpSelect, type,
             {atLeast, Constant(w.module, type, kFloatOne), Constant(w.module, type, 0)}, result);
        return true;
    }
    default:
        return false;
    }
    w.out.push_back(std::move(ins));
    return true;
}

bool Rewrite(Rewriter &w, SpirvInstruction &ins) {
    switch (ins.opcode) {
    case spv::OpFMod: // fmod and float % have the sign of x (HLSL's fmod), as OpFRem does
        ins.opcode = spv::OpFRem;
        return false;
    case spv::OpSMod: // int % has the sign of the dividend on Direct3D, as C's remainder
        ins.opcode = spv::OpSRem;
        return FixSignedDivision(w, ins);
    case spv::OpSDiv:
    case spv::OpSRem:
        return FixSignedDivision(w, ins);
    case spv::OpConvertFToS:
    case spv::OpConvertFToU:
        return FixFloatToInt(w, ins);
    case spv::OpDPdy:
    case spv::OpDPdyFine:
    case spv::OpDPdyCoarse:
        return FixDerivativeY(w, ins);
    case spv::OpShiftLeftLogical:
    case spv::OpShiftRightLogical:
    case spv::OpShiftRightArithmetic:
        return FixShift(w, ins);
    case spv::OpUDiv:
    case spv::OpUMod:
        return FixUnsignedDivision(w, ins);
    case spv::OpExtInst:
        return FixExtInst(w, ins);
    case spv::OpFMul:
        // exp2(y * log2(x)) as written is NaN for x = 0 and y = 0, and for
        // negative x; an exact product keeps the driver from turning it into
        // its pow, which may give 1 and |x|^y there.
        if (w.logs.count(ins.operands[2]) || w.logs.count(ins.operands[3]))
            Decorate(w.module, ins.operands[1], spv::DecorationNoContraction);
        return false;
    default:
        return false;
    }
}

} // namespace

bool ApplySpirvFixes(SpirvModule &module, const SpirvPassContext &context, Diagnostics &) {
    Rewriter w{module, context.stage, {}, GlslExtInst(module), {}, {}};
    w.out.reserve(module.code.size() + module.code.size() / 4);
    for (SpirvInstruction &ins : module.code) {
        // Every rewritten instruction has a result, its type and an operand.
        if (ins.opcode == spv::OpSelect && ins.operands.size() == 5 &&
            ins.operands[3] == ins.operands[4] && !ConstantValue(module, ins.operands[3]).empty())
            w.literals[ins.operands[1]] = ins.operands[3];
        if (ins.opcode == spv::OpExtInst && ins.operands.size() == 5 && w.glsl &&
            ins.operands[2] == w.glsl && ins.operands[3] == GLSLstd450Log2)
            w.logs.insert(ins.operands[1]);
        if (ResultType(ins) == 0 || ins.operands.size() < 3 || !Rewrite(w, ins))
            w.out.push_back(std::move(ins));
    }
    module.code = std::move(w.out);
    return true;
}
