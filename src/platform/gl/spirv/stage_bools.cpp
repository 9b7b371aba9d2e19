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
        return ConvertArrayElements(module, out, value, from, to, result,
                                    [this](std::vector<SpirvInstruction> &code, uint32_t v,
                                           uint32_t f, uint32_t t,
                                           uint32_t r) { return Convert(code, v, f, t, r); });
    }
};

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
    return RetypeStageVariables(
        module, [&](uint32_t type) { return retyper.Uint(type); },
        [&](std::vector<SpirvInstruction> &code, uint32_t value, uint32_t from, uint32_t to,
            uint32_t result) { return retyper.Convert(code, value, from, to, result); },
        [](const SpirvInstruction &) { return true; });
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
