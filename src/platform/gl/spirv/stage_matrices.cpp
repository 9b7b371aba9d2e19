#include "platform/gl/spirv/stage_matrices.h"

#include <map>
#include <set>

namespace {

struct Stage {
    SpirvModule &module;
    std::map<uint32_t, SpirvInstruction> types; // matrix and array types by id
    std::map<uint32_t, uint32_t> transposed;    // type -> its transposed form

    explicit Stage(SpirvModule &m) : module(m) {
        for (const SpirvInstruction &g : module.globals)
            if ((g.opcode == spv::OpTypeMatrix || g.opcode == spv::OpTypeArray) &&
                !g.operands.empty())
                types[g.operands[0]] = g;
    }

    // The matrix, or array of matrices, of floats with columns and rows
    // swapped; 0 when the type is neither, or when a side of it is 1.
    uint32_t Transposed(uint32_t type) {
        auto known = transposed.find(type);
        if (known != transposed.end()) return known->second;
        auto found    = types.find(type);
        uint32_t form = 0;
        if (found != types.end() && found->second.opcode == spv::OpTypeArray) {
            const uint32_t element = Transposed(found->second.operands[1]);
            if (element) {
                form = FreshId(module);
                AddGlobal(module, spv::OpTypeArray, {form, element, found->second.operands[2]});
            }
        } else if (found != types.end()) {
            const uint32_t columns = found->second.operands[2];
            auto column            = module.types.find(found->second.operands[1]);
            if (column != module.types.end() && column->second.kind == spv::OpTypeFloat &&
                column->second.width == 32 && column->second.count > 1 && columns > 1) {
                const uint32_t vector = FloatType(module, columns);
                for (const SpirvInstruction &g : module.globals)
                    if (g.opcode == spv::OpTypeMatrix && g.operands[1] == vector &&
                        g.operands[2] == column->second.count)
                        form = g.operands[0];
                if (!form) {
                    form = FreshId(module);
                    AddGlobal(module, spv::OpTypeMatrix, {form, vector, column->second.count});
                }
            }
        }
        transposed[type] = form;
        for (const SpirvInstruction &g : module.globals)
            if (form && !types.count(form) && !g.operands.empty() && g.operands[0] == form)
                types[form] = g;
        return form;
    }

    // The value converted between a type and its transposed form, to.
    uint32_t Convert(std::vector<SpirvInstruction> &out, uint32_t value, uint32_t from, uint32_t to,
                     uint32_t result = 0) {
        const SpirvInstruction &type = types.at(from);
        if (type.opcode == spv::OpTypeMatrix)
            return EmitInstruction(module, out, spv::OpTranspose, to, {value}, result);
        return ConvertArrayElements(module, out, value, from, to, result,
                                    [this](std::vector<SpirvInstruction> &code, uint32_t v,
                                           uint32_t f, uint32_t t,
                                           uint32_t r) { return Convert(code, v, f, t, r); });
    }
};

bool Rewrite(SpirvModule &module, const std::set<std::string> &rowMajor) {
    Stage stage(module);
    return RetypeStageVariables(
        module, [&](uint32_t type) { return stage.Transposed(type); },
        [&](std::vector<SpirvInstruction> &code, uint32_t value, uint32_t from, uint32_t to,
            uint32_t result) { return stage.Convert(code, value, from, to, result); },
        [&](const SpirvInstruction &variable) {
            // A row_major matrix takes one register per row, as glslang has it.
            const std::string *name = module.names.Find(variable.operands[1]);
            return !name || !rowMajor.count(DeclaredName(*name));
        });
}

} // namespace

std::string DeclaredName(const std::string &variable) {
    const size_t dot       = variable.rfind('.');
    const std::string last = dot == std::string::npos ? variable : variable.substr(dot + 1);
    return last.substr(0, last.find('['));
}

bool HoldsStageMatrix(const SpirvModule &module) {
    if (!Holds(module, spv::OpTypeMatrix)) return false;
    for (size_t g : StageVariables(module)) {
        const SpirvDeclaration *pointer =
            Declaration(module, module.globals[g].operands[0], spv::OpTypePointer);
        uint32_t type = pointer ? pointer->operands[1] : 0;
        while (const SpirvDeclaration *array = Declaration(module, type, spv::OpTypeArray))
            type = array->operands[0];
        if (Declaration(module, type, spv::OpTypeMatrix)) return true;
    }
    return false;
}

bool TransposeStageMatrices(SpirvModule &module, const SpirvPassContext &context, Diagnostics &) {
    SpirvModule rewritten = module;
    if (Rewrite(rewritten, context.rowMajorStageMatrices)) module = std::move(rewritten);
    return true;
}
