// Semantics of split stage arrays: see split_arrays.h.
#include "platform/gl/spirv/split_arrays.h"

#include "platform/gl/spirv/module.h"
#include "platform/gl/spirv/stage_matrices.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <tuple>

namespace {

// "o.m[1][2]" -> "o.m", "o.s[1].a" -> "o.s.a": what the elements of one
// split array share.
std::string WithoutSubscripts(const std::string &name) {
    std::string out;
    for (size_t at = 0; at < name.size(); ++at) {
        if (name[at] != '[') {
            out += name[at];
            continue;
        }
        const size_t end = name.find(']', at);
        if (end == std::string::npos) return name;
        at = end;
    }
    return out;
}

struct StageVariable {
    uint32_t id       = 0;
    uint32_t location = 0;
    std::string name, semantic;
};

// The vertices of a geometry stage's input primitive, 0 for other stages.
uint32_t InputVertexCount(const SpirvModule &module) {
    for (const SpirvInstruction &instruction : module.preamble) {
        if (instruction.opcode != spv::OpExecutionMode || instruction.operands.size() < 2) continue;
        switch (instruction.operands[1]) {
        case spv::ExecutionModeInputPoints:
            return 1;
        case spv::ExecutionModeInputLines:
            return 2;
        case spv::ExecutionModeTriangles:
            return 3;
        case spv::ExecutionModeInputLinesAdjacency:
            return 4;
        case spv::ExecutionModeInputTrianglesAdjacency:
            return 6;
        }
    }
    return 0;
}

// Gives a split geometry-stage input the vertex count as its length. Only
// inputs the code reads element by element are retyped (glslang reads them
// so); the variable moves after the types it now needs.
void SizeVertexArray(SpirvModule &module, uint32_t variable, uint32_t vertices) {
    for (const SpirvInstruction &instruction : module.code) {
        const std::vector<uint32_t> &o = instruction.operands;
        const bool chain               = instruction.opcode == spv::OpAccessChain ||
                           instruction.opcode == spv::OpInBoundsAccessChain;
        for (size_t i = 0; i < o.size(); ++i)
            if (o[i] == variable && !(chain && i == 2)) return;
    }
    size_t at = 0;
    while (at < module.globals.size() && !(module.globals[at].opcode == spv::OpVariable &&
                                           module.globals[at].operands[1] == variable))
        ++at;
    if (at == module.globals.size()) return;
    const SpirvDeclaration *pointer =
        Declaration(module, module.globals[at].operands[0], spv::OpTypePointer);
    const SpirvDeclaration *array =
        pointer ? Declaration(module, pointer->operands[1], spv::OpTypeArray) : nullptr;
    if (!array) return;
    if (ConstantValue(module, array->operands[1]) == std::vector<uint32_t>{vertices}) return;

    const uint32_t element = array->operands[0];
    const uint32_t length  = Constant(module, IntType(module, false, 1), vertices);
    const uint32_t sized = FreshId(module), sizedPointer = FreshId(module);
    SpirvInstruction moved = module.globals[at];
    module.globals.erase(module.globals.begin() + static_cast<std::ptrdiff_t>(at));
    AddGlobal(module, spv::OpTypeArray, {sized, element, length});
    AddGlobal(module, spv::OpTypePointer, {sizedPointer, spv::StorageClassInput, sized});
    moved.operands[0] = sizedPointer;
    AddGlobal(module, moved.opcode, std::move(moved.operands));
}

} // namespace

bool HoldsSplitStageArray(const SpirvModule &module) {
    for (const auto &[id, semantic] : module.semantics) {
        const std::string *name = module.names.Find(id);
        if (!semantic.empty() && name && name->find('[') != std::string::npos) return true;
    }
    return false;
}

// The semantic indices an element takes from the first, at location from
// the first: one per location glslang gave, but for a float matrix, which
// takes one per HLSL column (its vector's size) where glslang gave one
// location per row, as TransposeStageMatrices (stage_matrices.h) mends.
uint32_t ElementIndex(const SpirvModule &module, const std::set<std::string> &rowMajor,
                      uint32_t variable, uint32_t location) {
    const std::string *name = module.names.Find(variable);
    if (name && rowMajor.count(DeclaredName(*name))) return location;
    const SpirvDeclaration *pointer =
        Declaration(module, TypeOf(module, variable), spv::OpTypePointer);
    const SpirvDeclaration *matrix =
        pointer ? Declaration(module, pointer->operands[1], spv::OpTypeMatrix) : nullptr;
    if (!matrix) return location;
    auto column = module.types.find(matrix->operands[0]);
    if (column == module.types.end() || column->second.kind != spv::OpTypeFloat ||
        column->second.width != 32 || column->second.count < 2 || matrix->operands[1] < 2)
        return location;
    return location / matrix->operands[1] * column->second.count;
}

bool MendSplitStageArrays(SpirvModule &module, const SpirvPassContext &context, Diagnostics &) {
    std::map<uint32_t, StageVariable> variables;
    for (const auto &[id, semantic] : module.semantics) {
        const std::string *name = module.names.Find(id);
        if (semantic.empty() || !name || name->find('[') == std::string::npos) continue;
        StageVariable &v = variables[id];
        v.id             = id;
        v.name           = *name;
        v.semantic       = semantic;
        if (const uint32_t *location = module.locations.Find(id)) v.location = *location;
    }

    // The split elements of each array, by storage class, semantic and the
    // name they share. Two members that merely share a semantic differ in
    // name and stay apart (the linker refuses them).
    typedef std::tuple<uint32_t, std::string, std::string> ArrayKey;
    std::map<ArrayKey, std::vector<StageVariable>> arrays;
    for (const SpirvInstruction &instruction : module.globals) {
        const std::vector<uint32_t> &o = instruction.operands;
        if (instruction.opcode != spv::OpVariable || o.size() < 3 ||
            (o[2] != spv::StorageClassInput && o[2] != spv::StorageClassOutput))
            continue;
        auto found = variables.find(o[1]);
        if (found == variables.end()) continue;
        arrays[ArrayKey(o[2], found->second.semantic, WithoutSubscripts(found->second.name))]
            .push_back(found->second);
    }

    for (const auto &array : arrays) {
        // glslang numbers the elements' locations in order from the first.
        uint32_t first = UINT32_MAX;
        for (const StageVariable &element : array.second)
            first = std::min(first, element.location);
        const std::string &semantic = std::get<1>(array.first);
        size_t digits               = semantic.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(semantic[digits - 1])))
            --digits;
        const std::string base = semantic.substr(0, digits);
        // An index too long to be one stays part of the name, as the linker
        // reads it.
        const uint64_t index = digits < semantic.size() && semantic.size() - digits < 9
                                   ? std::stoul(semantic.substr(digits))
                                   : 0;
        for (const StageVariable &element : array.second)
            SetSemantic(
                module, element.id,
                base + std::to_string(index + ElementIndex(module, context.rowMajorStageMatrices,
                                                           element.id, element.location - first)));
        const uint32_t vertices = InputVertexCount(module);
        if (vertices && std::get<0>(array.first) == spv::StorageClassInput)
            for (const StageVariable &element : array.second)
                SizeVertexArray(module, element.id, vertices);
    }
    return true;
}
