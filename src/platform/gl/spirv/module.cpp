// SPIR-V module editing: see module.h.
#include "platform/gl/spirv/module.h"

#include <algorithm>
#include <cstring>

namespace {

// The instructions before the types-and-globals section: capabilities,
// extensions, imports, memory model, entry points, execution modes, debug
// names and decorations.
bool InPreamble(spv::Op op) {
    switch (op) {
    case spv::OpCapability:
    case spv::OpExtension:
    case spv::OpExtInstImport:
    case spv::OpMemoryModel:
    case spv::OpEntryPoint:
    case spv::OpExecutionMode:
    case spv::OpExecutionModeId:
    case spv::OpString:
    case spv::OpSourceExtension:
    case spv::OpSource:
    case spv::OpSourceContinued:
    case spv::OpName:
    case spv::OpMemberName:
    case spv::OpModuleProcessed:
    case spv::OpDecorate:
    case spv::OpMemberDecorate:
    case spv::OpDecorationGroup:
    case spv::OpGroupDecorate:
    case spv::OpGroupMemberDecorate:
    case spv::OpDecorateId:
    case spv::OpDecorateString:
    case spv::OpMemberDecorateString:
        return true;
    default:
        return false;
    }
}

// Records what a new or parsed instruction defines.
void Note(SpirvModule &module, const SpirvInstruction &instruction) {
    const std::vector<uint32_t> &o = instruction.operands;
    if (uint32_t type = ResultType(instruction)) module.typeOf[ResultId(instruction)] = type;
    SpirvType t;
    switch (instruction.opcode) {
    case spv::OpTypeBool:
        if (o.size() < 1) return;
        t.kind = spv::OpTypeBool;
        break;
    case spv::OpTypeInt:
        if (o.size() < 3) return;
        t.kind     = spv::OpTypeInt;
        t.width    = o[1];
        t.isSigned = o[2] != 0;
        break;
    case spv::OpTypeFloat:
        if (o.size() < 2) return;
        t.kind  = spv::OpTypeFloat;
        t.width = o[1];
        break;
    case spv::OpTypeVector: {
        if (o.size() < 3) return;
        auto component = module.types.find(o[1]);
        if (component == module.types.end() || component->second.count != 1 || o[2] > 16) return;
        t                  = component->second;
        t.count            = o[2];
        t.scalar           = o[1];
        module.types[o[0]] = t;
        return;
    }
    case spv::OpConstant:
        if (o.size() == 3) module.constants[o[1]] = o[2];
        return;
    default:
        return;
    }
    t.scalar           = o[0];
    module.types[o[0]] = t;
}

void AddGlobal(SpirvModule &module, spv::Op op, std::vector<uint32_t> operands) {
    module.globals.push_back({op, std::move(operands)});
    Note(module, module.globals.back());
}

uint32_t FindType(const SpirvModule &module, spv::Op kind, uint32_t width, bool isSigned,
                  uint32_t count) {
    for (const auto &[id, t] : module.types)
        if (t.kind == kind && t.width == width && t.isSigned == isSigned && t.count == count)
            return id;
    return 0;
}

// A scalar or vector type of the given component, found or added.
uint32_t NumericType(SpirvModule &module, spv::Op kind, uint32_t width, bool isSigned,
                     uint32_t count) {
    if (uint32_t id = FindType(module, kind, width, isSigned, count)) return id;
    uint32_t id = 0;
    if (count > 1) {
        uint32_t scalar = NumericType(module, kind, width, isSigned, 1);
        id              = FreshId(module);
        AddGlobal(module, spv::OpTypeVector, {id, scalar, count});
    } else {
        id = FreshId(module);
        if (kind == spv::OpTypeBool) AddGlobal(module, kind, {id});
        if (kind == spv::OpTypeInt) AddGlobal(module, kind, {id, width, isSigned ? 1u : 0u});
        if (kind == spv::OpTypeFloat) AddGlobal(module, kind, {id, width});
    }
    return id;
}

} // namespace

uint32_t ResultId(const SpirvInstruction &instruction) {
    bool hasResult = false, hasType = false;
    spv::HasResultAndType(instruction.opcode, &hasResult, &hasType);
    size_t at = hasType ? 1 : 0;
    return hasResult && instruction.operands.size() > at ? instruction.operands[at] : 0;
}

uint32_t ResultType(const SpirvInstruction &instruction) {
    bool hasResult = false, hasType = false;
    spv::HasResultAndType(instruction.opcode, &hasResult, &hasType);
    return hasType && hasResult && instruction.operands.size() > 1 ? instruction.operands[0] : 0;
}

bool ParseSpirv(const std::vector<uint32_t> &words, SpirvModule &module, std::string &error) {
    module = SpirvModule();
    if (words.size() < 5 || words[0] != spv::MagicNumber) {
        error = "not a SPIR-V module";
        return false;
    }
    std::memcpy(module.header, words.data(), sizeof module.header);
    bool inGlobals = false, inCode = false;
    for (size_t at = 5; at < words.size();) {
        uint32_t count = words[at] >> 16;
        if (count == 0 || at + count > words.size()) {
            error = "malformed SPIR-V: an instruction runs past the end of the module";
            return false;
        }
        SpirvInstruction instruction{
            static_cast<spv::Op>(words[at] & 0xffff),
            std::vector<uint32_t>(words.begin() + static_cast<long>(at) + 1,
                                  words.begin() + static_cast<long>(at) + count)};
        at += count;
        if (instruction.opcode == spv::OpFunction) inCode = true;
        if (!InPreamble(instruction.opcode)) inGlobals = true;
        Note(module, instruction);
        if (inCode)
            module.code.push_back(std::move(instruction));
        else if (inGlobals)
            module.globals.push_back(std::move(instruction));
        else
            module.preamble.push_back(std::move(instruction));
    }
    return true;
}

std::vector<uint32_t> WriteSpirv(const SpirvModule &module) {
    std::vector<uint32_t> words(module.header, module.header + 5);
    for (const auto *section : {&module.preamble, &module.globals, &module.code})
        for (const SpirvInstruction &instruction : *section) {
            words.push_back(static_cast<uint32_t>(instruction.operands.size() + 1) << 16 |
                            static_cast<uint32_t>(instruction.opcode));
            words.insert(words.end(), instruction.operands.begin(), instruction.operands.end());
        }
    return words;
}

uint32_t FreshId(SpirvModule &module) {
    return module.header[3]++;
}

uint32_t BoolType(SpirvModule &module, uint32_t count) {
    return NumericType(module, spv::OpTypeBool, 0, false, count);
}

uint32_t IntType(SpirvModule &module, bool isSigned, uint32_t count) {
    return NumericType(module, spv::OpTypeInt, 32, isSigned, count);
}

uint32_t FloatType(SpirvModule &module, uint32_t count) {
    return NumericType(module, spv::OpTypeFloat, 32, false, count);
}

uint32_t Constant(SpirvModule &module, uint32_t type, uint32_t bits) {
    const SpirvType &t = module.types.at(type);
    if (t.count > 1) {
        uint32_t component = Constant(module, t.scalar, bits);
        for (const SpirvInstruction &g : module.globals)
            if (g.opcode == spv::OpConstantComposite && g.operands[0] == type &&
                g.operands.size() == 2 + t.count &&
                std::all_of(g.operands.begin() + 2, g.operands.end(),
                            [&](uint32_t c) { return c == component; }))
                return g.operands[1];
        std::vector<uint32_t> operands = {type, FreshId(module)};
        operands.insert(operands.end(), t.count, component);
        AddGlobal(module, spv::OpConstantComposite, operands);
        return operands[1];
    }
    for (const auto &[id, value] : module.constants)
        if (value == bits && module.typeOf[id] == type) return id;
    uint32_t id = FreshId(module);
    AddGlobal(module, spv::OpConstant, {type, id, bits});
    return id;
}

uint32_t GlslExtInst(const SpirvModule &module) {
    static const char kName[] = "GLSL.std.450";
    for (const SpirvInstruction &p : module.preamble)
        if (p.opcode == spv::OpExtInstImport && p.operands.size() > 1 &&
            std::strncmp(reinterpret_cast<const char *>(&p.operands[1]), kName,
                         (p.operands.size() - 1) * 4) == 0)
            return p.operands[0];
    return 0;
}

std::vector<uint32_t> ConstantValue(const SpirvModule &module, uint32_t id) {
    auto scalar = module.constants.find(id);
    if (scalar != module.constants.end()) return {scalar->second};
    for (const SpirvInstruction &g : module.globals) {
        if (ResultId(g) != id) continue;
        if (g.opcode != spv::OpConstantComposite) return {};
        std::vector<uint32_t> values;
        for (size_t c = 2; c < g.operands.size(); ++c) {
            auto found = module.constants.find(g.operands[c]);
            if (found == module.constants.end()) return {};
            values.push_back(found->second);
        }
        return values;
    }
    return {};
}

std::string SpirvString(const std::vector<uint32_t> &operands, size_t from) {
    std::string text;
    for (size_t i = from; i < operands.size(); ++i)
        for (int b = 0; b < 4; ++b) {
            const char c = static_cast<char>((operands[i] >> (8 * b)) & 0xff);
            if (c == '\0') return text;
            text += c;
        }
    return text;
}
