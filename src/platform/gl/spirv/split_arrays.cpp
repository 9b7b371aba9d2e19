// Semantics of split stage arrays: see split_arrays.h.
#include "platform/gl/spirv/split_arrays.h"

#include "platform/gl/spirv/module.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <tuple>

namespace {

// A literal string's words: NUL-terminated, padded to whole words.
std::vector<uint32_t> StringWords(const std::string &text) {
    std::vector<uint32_t> words(text.size() / 4 + 1, 0);
    std::memcpy(words.data(), text.data(), text.size());
    return words;
}

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
    std::map<uint32_t, const SpirvInstruction *> defined;
    size_t at = module.globals.size();
    for (size_t i = 0; i < module.globals.size(); ++i) {
        defined[ResultId(module.globals[i])] = &module.globals[i];
        if (module.globals[i].opcode == spv::OpVariable &&
            module.globals[i].operands[1] == variable)
            at = i;
    }
    if (at == module.globals.size()) return;
    auto pointer = defined.find(module.globals[at].operands[0]);
    if (pointer == defined.end() || pointer->second->opcode != spv::OpTypePointer) return;
    auto array = defined.find(pointer->second->operands[2]);
    if (array == defined.end() || array->second->opcode != spv::OpTypeArray) return;
    if (ConstantValue(module, array->second->operands[2]) == std::vector<uint32_t>{vertices})
        return;

    const uint32_t element = array->second->operands[1];
    const uint32_t length  = Constant(module, IntType(module, false, 1), vertices);
    const uint32_t sized = FreshId(module), sizedPointer = FreshId(module);
    SpirvInstruction moved = module.globals[at];
    module.globals.erase(module.globals.begin() + static_cast<std::ptrdiff_t>(at));
    module.globals.push_back({spv::OpTypeArray, {sized, element, length}});
    module.globals.push_back({spv::OpTypePointer, {sizedPointer, spv::StorageClassInput, sized}});
    moved.operands[0] = sizedPointer;
    module.globals.push_back(moved);
}

// Whether some OpName holds a '[', as the name of every split element does:
// most modules have none and are left unparsed.
bool NamesAnElement(const std::vector<uint32_t> &spirv) {
    for (size_t at = 5; at < spirv.size();) {
        const uint32_t count = spirv[at] >> 16;
        if (count == 0) return true; // malformed: let the parse say so
        if ((spirv[at] & 0xffff) == spv::OpName)
            for (size_t w = at + 2; w < std::min(at + count, spirv.size()); ++w)
                for (int b = 0; b < 4; ++b)
                    if (((spirv[w] >> (8 * b)) & 0xff) == '[') return true;
        at += count;
    }
    return false;
}

} // namespace

bool MendSplitStageArrays(std::vector<uint32_t> &spirv, std::string &error) {
    if (!NamesAnElement(spirv)) return true;
    SpirvModule module;
    if (!ParseSpirv(spirv, module, error)) return false;

    std::map<uint32_t, StageVariable> variables;
    std::map<uint32_t, SpirvInstruction *> semanticOf;
    for (SpirvInstruction &instruction : module.preamble) {
        const std::vector<uint32_t> &o = instruction.operands;
        if (o.size() < 2) continue;
        if (instruction.opcode == spv::OpName)
            variables[o[0]].name = SpirvString(o, 1);
        else if (instruction.opcode == spv::OpDecorate && o[1] == spv::DecorationLocation &&
                 o.size() > 2)
            variables[o[0]].location = o[2];
        else if (instruction.opcode == spv::OpDecorateString &&
                 o[1] == spv::DecorationUserSemantic) {
            variables[o[0]].semantic = SpirvString(o, 2);
            semanticOf[o[0]]         = &instruction;
        }
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
        if (found == variables.end() || found->second.semantic.empty() || !semanticOf.count(o[1]) ||
            found->second.name.find('[') == std::string::npos)
            continue;
        found->second.id = o[1];
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
        for (const StageVariable &element : array.second) {
            std::vector<uint32_t> &o = semanticOf[element.id]->operands;
            const std::vector<uint32_t> text =
                StringWords(base + std::to_string(index + element.location - first));
            o.resize(2);
            o.insert(o.end(), text.begin(), text.end());
        }
        const uint32_t vertices = InputVertexCount(module);
        if (vertices && std::get<0>(array.first) == spv::StorageClassInput)
            for (const StageVariable &element : array.second)
                SizeVertexArray(module, element.id, vertices);
    }
    spirv = WriteSpirv(module);
    return true;
}
