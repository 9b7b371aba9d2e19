#include "platform/gl/spirv/stage_bools.h"

#include <map>

namespace {

struct Retyper {
    SpirvModule &module;
    std::map<uint32_t, uint32_t> uints; // a type -> its form with uints for bools, 0 for none

    explicit Retyper(SpirvModule &m) : module(m) {}

    // The type with uint components where it has bools: a bool, a vector
    // of them, or an array (of arrays) of those; 0 for any other type.
    uint32_t Uint(uint32_t type) {
        auto known = uints.find(type);
        if (known != uints.end()) return known->second;
        uint32_t form = 0;
        auto numeric  = module.types.find(type);
        if (numeric != module.types.end()) {
            if (numeric->second.kind == spv::OpTypeBool)
                form = IntType(module, false, numeric->second.count);
        } else if (const SpirvDeclaration *array = Declaration(module, type, spv::OpTypeArray)) {
            const uint32_t length  = array->operands[1];
            const uint32_t element = Uint(array->operands[0]);
            if (element) {
                form = FreshId(module);
                AddGlobal(module, spv::OpTypeArray, {form, element, length});
            }
        }
        uints[type] = form;
        return form;
    }

    // The value of type from (bools, or their uint form) in the other form,
    // to; into result where that is not 0.
    uint32_t Convert(std::vector<SpirvInstruction> &out, uint32_t value, uint32_t from, uint32_t to,
                     uint32_t result = 0) {
        auto numeric = module.types.find(from);
        if (numeric != module.types.end()) {
            if (numeric->second.kind == spv::OpTypeBool)
                return EmitInstruction(module, out, spv::OpSelect, to,
                                       {value, Constant(module, to, 1), Constant(module, to, 0)},
                                       result);
            return EmitInstruction(module, out, spv::OpINotEqual, to,
                                   {value, Constant(module, from, 0)}, result);
        }
        const SpirvDeclaration *fromArray  = Declaration(module, from, spv::OpTypeArray);
        const uint32_t fromElement         = fromArray->operands[0];
        const std::vector<uint32_t> length = ConstantValue(module, fromArray->operands[1]);
        const uint32_t toElement           = Declaration(module, to, spv::OpTypeArray)->operands[0];
        std::vector<uint32_t> parts;
        for (uint32_t k = 0; k < (length.empty() ? 0 : length[0]); ++k) {
            const uint32_t part =
                EmitInstruction(module, out, spv::OpCompositeExtract, fromElement, {value, k});
            parts.push_back(Convert(out, part, fromElement, toElement));
        }
        return EmitInstruction(module, out, spv::OpCompositeConstruct, to, parts, result);
    }
};

// The stage's inputs and outputs that are not built-ins, by their index
// among the globals.
std::vector<size_t> StageVariables(const SpirvModule &module) {
    std::vector<size_t> found;
    for (size_t g = 0; g < module.globals.size(); ++g) {
        const SpirvInstruction &v = module.globals[g];
        if (v.opcode == spv::OpVariable && v.operands.size() >= 3 &&
            (v.operands[2] == spv::StorageClassInput || v.operands[2] == spv::StorageClassOutput) &&
            !module.builtIns.Find(v.operands[1]))
            found.push_back(g);
    }
    return found;
}

// The bool type a stage variable or a pointer into one points to, 0 if
// none: its pointee, under any arrays.
uint32_t BoolPointee(const SpirvModule &module, uint32_t pointerType) {
    const SpirvDeclaration *pointer = Declaration(module, pointerType, spv::OpTypePointer);
    uint32_t type                   = pointer ? pointer->operands[1] : 0;
    while (const SpirvDeclaration *array = Declaration(module, type, spv::OpTypeArray))
        type = array->operands[0];
    auto numeric = module.types.find(type);
    return numeric != module.types.end() && numeric->second.kind == spv::OpTypeBool ? type : 0;
}

bool Rewrite(SpirvModule &module) {
    Retyper retyper(module);
    std::map<uint32_t, uint32_t> original; // a retyped pointer -> its pointee before
    for (size_t g : StageVariables(module)) {
        if (!BoolPointee(module, module.globals[g].operands[0])) continue;
        const SpirvDeclaration *pointer =
            Declaration(module, module.globals[g].operands[0], spv::OpTypePointer);
        const uint32_t storage = pointer->operands[0], pointee = pointer->operands[1];
        const uint32_t form = retyper.Uint(pointee);
        if (!form) continue;
        // Its new pointer type goes at the end of the globals, after the
        // variable: the variable moves after it.
        SpirvInstruction variable      = module.globals[g];
        variable.operands[0]           = PointerType(module, storage, form);
        original[variable.operands[1]] = pointee;
        SetTypeOf(module, variable.operands[1], variable.operands[0]);
        module.globals[g].opcode = spv::OpNop;
        module.globals.push_back(variable);
    }
    if (original.empty()) return true;
    module.globals.erase(
        std::remove_if(module.globals.begin(), module.globals.end(),
                       [](const SpirvInstruction &g) { return g.opcode == spv::OpNop; }),
        module.globals.end());
    return RetypeVariableUses(
        module, original, [&](uint32_t type) { return retyper.Uint(type); },
        [&](std::vector<SpirvInstruction> &code, uint32_t value, uint32_t from, uint32_t to,
            uint32_t result) { return retyper.Convert(code, value, from, to, result); });
}

} // namespace

bool HoldsStageBool(const SpirvModule &module) {
    if (!Holds(module, spv::OpTypeBool)) return false;
    for (size_t g : StageVariables(module))
        if (BoolPointee(module, module.globals[g].operands[0])) return true;
    return false;
}

bool PassStageBoolsAsUints(SpirvModule &module, const SpirvPassContext &, Diagnostics &) {
    SpirvModule rewritten = module;
    if (Rewrite(rewritten)) module = std::move(rewritten);
    return true;
}
