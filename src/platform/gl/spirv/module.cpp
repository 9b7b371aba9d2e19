// SPIR-V module editing: see module.h.
#include "platform/gl/spirv/module.h"

#include <algorithm>
#include <cstring>

namespace {

// SPIR-V's own limit on a module's id bound, which keeps the id-indexed
// indexes small whatever the words say.
constexpr uint32_t kMaxBound = 0x3fffff;

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

// The core types from OpTypeVoid to OpTypePipe, each declaring its first
// operand, but for the numeric ones, which SpirvType tells.
bool IsTypeDeclaration(spv::Op op) {
    return op >= spv::OpTypeVoid && op < spv::OpTypeForwardPointer && op != spv::OpTypeBool &&
           op != spv::OpTypeInt && op != spv::OpTypeFloat && op != spv::OpTypeVector;
}

void NoteOpcode(SpirvModule &module, spv::Op op) {
    const size_t at = static_cast<size_t>(op) & 0xffff;
    if (at >= module.opcodes.size()) module.opcodes.resize(at + 1, false);
    module.opcodes[at] = true;
}

// Records what a new or parsed instruction of the types and globals or
// the code defines.
void Note(SpirvModule &module, const SpirvInstruction &instruction) {
    NoteOpcode(module, instruction.opcode);
    const std::vector<uint32_t> &o = instruction.operands;
    bool hasResult = false, hasType = false;
    spv::HasResultAndType(instruction.opcode, &hasResult, &hasType);
    if (hasResult && hasType && o.size() > 1) SetTypeOf(module, o[1], o[0]);
    if (IsTypeDeclaration(instruction.opcode) && !o.empty())
        module.declarations.Set(
            o[0], {instruction.opcode, {o.size() > 1 ? o[1] : 0, o.size() > 2 ? o[2] : 0}});
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
        if (o.size() == 3) module.constants.Set(o[1], o[2]);
        return;
    default:
        return;
    }
    t.scalar           = o[0];
    module.types[o[0]] = t;
}

// Records what a new or parsed instruction of the preamble says of an id.
void NotePreamble(SpirvModule &module, const SpirvInstruction &instruction) {
    NoteOpcode(module, instruction.opcode);
    const std::vector<uint32_t> &o = instruction.operands;
    if (o.size() < 2) return;
    if (instruction.opcode == spv::OpName) {
        module.names.Set(o[0], SpirvString(o, 1));
    } else if (instruction.opcode == spv::OpDecorate && o.size() > 2) {
        if (o[1] == spv::DecorationLocation) module.locations.Set(o[0], o[2]);
        if (o[1] == spv::DecorationBuiltIn) module.builtIns.Set(o[0], o[2]);
    } else if (instruction.opcode == spv::OpDecorateString && o.size() > 2 &&
               o[1] == spv::DecorationUserSemantic) {
        module.semantics.Set(o[0], SpirvString(o, 2));
    }
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

bool IsIdOperand(const SpirvInstruction &instruction, size_t index) {
    switch (instruction.opcode) {
    case spv::OpLine:           // file, line, column
    case spv::OpSelectionMerge: // merge block, control mask
        return index < 1;
    case spv::OpStore:      // pointer, object, memory access
    case spv::OpCopyMemory: // target, source, memory access
    case spv::OpLoopMerge:  // merge block, continue target, control mask
        return index < 2;
    case spv::OpSwitch: // selector, default, then (literal, label) pairs
        return index < 2 || index % 2 == 1;
    case spv::OpLoad:              // type, result, pointer, memory access
    case spv::OpCompositeExtract:  // type, result, composite, indexes
    case spv::OpArrayLength:       // type, result, structure, member
    case spv::OpBranchConditional: // condition, labels, weights
        return index < 3;
    case spv::OpCompositeInsert: // type, result, object, composite, indexes
    case spv::OpVectorShuffle:   // type, result, vectors, components
        return index < 4;
    case spv::OpExtInst:    // type, result, set, instruction number, operands
    case spv::OpImageWrite: // image, coordinate, texel, image operands mask
        return index != 3;
    case spv::OpFunction: // type, result, control mask, function type
    case spv::OpVariable: // type, result, storage class, initializer
        return index != 2;
    case spv::OpImageSampleImplicitLod: // type, result, image, coordinate, mask
    case spv::OpImageSampleExplicitLod:
    case spv::OpImageSampleProjImplicitLod:
    case spv::OpImageSampleProjExplicitLod:
    case spv::OpImageFetch:
    case spv::OpImageRead:
        return index != 4;
    case spv::OpImageSampleDrefImplicitLod: // ... and a reference or component first
    case spv::OpImageSampleDrefExplicitLod:
    case spv::OpImageSampleProjDrefImplicitLod:
    case spv::OpImageSampleProjDrefExplicitLod:
    case spv::OpImageGather:
    case spv::OpImageDrefGather:
        return index != 5;
    default:
        return true;
    }
}

bool ParseSpirv(const std::vector<uint32_t> &words, SpirvModule &module, std::string &error) {
    module = SpirvModule();
    if (words.size() < 5 || words[0] != spv::MagicNumber) {
        error = "not a SPIR-V module";
        return false;
    }
    std::memcpy(module.header, words.data(), sizeof module.header);
    const uint32_t bound = module.header[3];
    if (bound > kMaxBound) {
        error = "malformed SPIR-V: its id bound is past SPIR-V's limit";
        return false;
    }
    module.typeOf.assign(std::min<size_t>(bound, words.size()), 0);
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
        // The passes read an instruction's result and its type unchecked,
        // and the indexes take ids below the bound.
        bool hasResult = false, hasType = false;
        spv::HasResultAndType(instruction.opcode, &hasResult, &hasType);
        const size_t resultAt = hasType ? 1 : 0;
        if (hasResult && instruction.operands.size() <= resultAt) {
            error = "malformed SPIR-V: an instruction lacks its result";
            return false;
        }
        if (hasResult && instruction.operands[resultAt] >= bound) {
            error = "malformed SPIR-V: an id is not below the module's bound";
            return false;
        }
        if (instruction.opcode == spv::OpFunction) inCode = true;
        if (!InPreamble(instruction.opcode)) inGlobals = true;
        if (inCode) {
            Note(module, instruction);
            module.code.push_back(std::move(instruction));
        } else if (inGlobals) {
            Note(module, instruction);
            module.globals.push_back(std::move(instruction));
        } else {
            NotePreamble(module, instruction);
            module.preamble.push_back(std::move(instruction));
        }
    }
    return true;
}

std::vector<uint32_t> WriteSpirv(const SpirvModule &module) {
    size_t size = 5;
    for (const auto *section : {&module.preamble, &module.globals, &module.code})
        for (const SpirvInstruction &instruction : *section)
            size += 1 + instruction.operands.size();
    std::vector<uint32_t> words;
    words.reserve(size);
    words.insert(words.end(), module.header, module.header + 5);
    for (const auto *section : {&module.preamble, &module.globals, &module.code})
        for (const SpirvInstruction &instruction : *section) {
            words.push_back(static_cast<uint32_t>(instruction.operands.size() + 1) << 16 |
                            static_cast<uint32_t>(instruction.opcode));
            words.insert(words.end(), instruction.operands.begin(), instruction.operands.end());
        }
    return words;
}

bool Holds(const SpirvModule &module, spv::Op opcode) {
    const size_t at = static_cast<size_t>(opcode) & 0xffff;
    return at < module.opcodes.size() && module.opcodes[at];
}

uint32_t FreshId(SpirvModule &module) {
    return module.header[3]++;
}

uint32_t TypeOf(const SpirvModule &module, uint32_t id) {
    return id < module.typeOf.size() ? module.typeOf[id] : 0;
}

void SetTypeOf(SpirvModule &module, uint32_t id, uint32_t type) {
    if (id >= module.typeOf.size()) module.typeOf.resize(id + 1, 0);
    module.typeOf[id] = type;
}

void AddGlobal(SpirvModule &module, spv::Op op, std::vector<uint32_t> operands) {
    module.globals.push_back({op, std::move(operands)});
    Note(module, module.globals.back());
}

void Decorate(SpirvModule &module, uint32_t target, spv::Decoration decoration,
              std::vector<uint32_t> values) {
    values.insert(values.begin(), {target, static_cast<uint32_t>(decoration)});
    module.preamble.push_back({spv::OpDecorate, std::move(values)});
    NotePreamble(module, module.preamble.back());
}

void SetSemantic(SpirvModule &module, uint32_t id, const std::string &semantic) {
    const std::vector<uint32_t> text = StringWords(semantic);
    for (SpirvInstruction &instruction : module.preamble) {
        std::vector<uint32_t> &o = instruction.operands;
        if (instruction.opcode != spv::OpDecorateString || o.size() < 2 || o[0] != id ||
            o[1] != spv::DecorationUserSemantic)
            continue;
        o.resize(2);
        o.insert(o.end(), text.begin(), text.end());
        module.semantics.Set(id, semantic);
    }
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

uint32_t PointerType(SpirvModule &module, uint32_t storage, uint32_t pointee) {
    for (const auto &[id, declaration] : module.declarations)
        if (declaration.opcode == spv::OpTypePointer && declaration.operands[0] == storage &&
            declaration.operands[1] == pointee)
            return id;
    const uint32_t id = FreshId(module);
    AddGlobal(module, spv::OpTypePointer, {id, storage, pointee});
    return id;
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
        if (value == bits && TypeOf(module, id) == type) return id;
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

const SpirvDeclaration *Declaration(const SpirvModule &module, uint32_t id, spv::Op kind) {
    const SpirvDeclaration *declaration = module.declarations.Find(id);
    return declaration && declaration->opcode == kind ? declaration : nullptr;
}

std::set<uint32_t> ConstantBufferVariables(const SpirvModule &module) {
    std::set<uint32_t> blocks, buffers;
    for (const SpirvInstruction &p : module.preamble)
        if (p.opcode == spv::OpDecorate && p.operands.size() >= 2 &&
            p.operands[1] == spv::DecorationBlock)
            blocks.insert(p.operands[0]);
    for (const SpirvInstruction &g : module.globals) {
        if (g.opcode != spv::OpVariable || g.operands.size() < 3) continue;
        const SpirvDeclaration *pointer = Declaration(module, g.operands[0], spv::OpTypePointer);
        if (pointer && pointer->operands[0] == spv::StorageClassUniform &&
            blocks.count(pointer->operands[1]))
            buffers.insert(g.operands[1]);
    }
    return buffers;
}

std::vector<uint32_t> ConstantValue(const SpirvModule &module, uint32_t id) {
    if (const uint32_t *scalar = module.constants.Find(id)) return {*scalar};
    for (const SpirvInstruction &g : module.globals) {
        if (ResultId(g) != id) continue;
        if (g.opcode != spv::OpConstantComposite) return {};
        std::vector<uint32_t> values;
        for (size_t c = 2; c < g.operands.size(); ++c) {
            const uint32_t *value = module.constants.Find(g.operands[c]);
            if (!value) return {};
            values.push_back(*value);
        }
        return values;
    }
    return {};
}

std::string SpirvString(const std::vector<uint32_t> &operands, size_t from) {
    std::string text;
    if (from < operands.size()) text.reserve((operands.size() - from) * 4);
    for (size_t i = from; i < operands.size(); ++i)
        for (int b = 0; b < 4; ++b) {
            const char c = static_cast<char>((operands[i] >> (8 * b)) & 0xff);
            if (c == '\0') return text;
            text += c;
        }
    return text;
}

std::vector<uint32_t> StringWords(const std::string &text) {
    std::vector<uint32_t> words(text.size() / 4 + 1, 0);
    std::memcpy(words.data(), text.data(), text.size());
    return words;
}

uint32_t EmitInstruction(SpirvModule &module, std::vector<SpirvInstruction> &out, spv::Op op,
                         uint32_t type, std::vector<uint32_t> operands, uint32_t result) {
    if (!result) result = FreshId(module);
    operands.insert(operands.begin(), {type, result});
    out.push_back({op, std::move(operands)});
    SetTypeOf(module, result, type);
    return result;
}

namespace {

// The uses of the retyped variables in original (each mapped to its
// pointee before), as RetypeStageVariables says.
bool RetypeVariableUses(SpirvModule &module, std::map<uint32_t, uint32_t> &original,
                        const SpirvTypeForm &form, const SpirvFormConversion &convert) {
    std::vector<SpirvInstruction> code;
    for (const SpirvInstruction &c : module.code) {
        std::vector<uint32_t> o = c.operands;
        if (IsAccessChain(c.opcode) && o.size() >= 3 && original.count(o[2])) {
            const SpirvDeclaration *pointer = Declaration(module, o[0], spv::OpTypePointer);
            const uint32_t to               = pointer ? form(pointer->operands[1]) : 0;
            if (!to) return false;
            original[o[1]] = pointer->operands[1];
            o[0]           = PointerType(module, pointer->operands[0], to);
            SetTypeOf(module, o[1], o[0]);
        } else if (c.opcode == spv::OpLoad && o.size() >= 3 && original.count(o[2])) {
            const uint32_t to = form(o[0]), read = FreshId(module);
            std::vector<uint32_t> load = {to, read, o[2]};
            load.insert(load.end(), o.begin() + 3, o.end()); // a memory access mask
            code.push_back({spv::OpLoad, load});
            SetTypeOf(module, read, to);
            convert(code, read, to, o[0], o[1]);
            continue;
        } else if (c.opcode == spv::OpStore && o.size() >= 2 && original.count(o[0])) {
            const uint32_t type = original.at(o[0]);
            o[1]                = convert(code, o[1], type, form(type), 0);
        } else if (c.opcode != spv::OpEntryPoint) {
            for (size_t k = 0; k < o.size(); ++k)
                if (IsIdOperand(c, k) && original.count(o[k])) return false;
        }
        code.push_back({c.opcode, std::move(o)});
    }
    module.code = std::move(code);
    return true;
}

} // namespace

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

bool RetypeStageVariables(SpirvModule &module, const SpirvTypeForm &form,
                          const SpirvFormConversion &convert,
                          const std::function<bool(const SpirvInstruction &variable)> &keep) {
    std::map<uint32_t, uint32_t> original; // a retyped pointer -> its pointee before
    std::vector<SpirvInstruction> moved;
    for (size_t g : StageVariables(module)) {
        // A copy: the types made below are added to the globals.
        const SpirvInstruction v        = module.globals[g];
        const SpirvDeclaration *pointer = Declaration(module, v.operands[0], spv::OpTypePointer);
        if (!pointer || !keep(v)) continue;
        const uint32_t storage = pointer->operands[0], pointee = pointer->operands[1];
        const uint32_t to = form(pointee);
        if (!to) continue;
        original[v.operands[1]] = pointee;
        SpirvInstruction copy   = v;
        copy.operands[0]        = PointerType(module, storage, to);
        SetTypeOf(module, copy.operands[1], copy.operands[0]);
        moved.push_back(copy);
        module.globals[g].opcode = spv::OpNop; // dropped below
    }
    if (moved.empty()) return true;
    std::vector<SpirvInstruction> globals;
    for (SpirvInstruction &g : module.globals)
        if (g.opcode != spv::OpNop) globals.push_back(std::move(g));
    globals.insert(globals.end(), moved.begin(), moved.end());
    module.globals = std::move(globals);
    return RetypeVariableUses(module, original, form, convert);
}

uint32_t ConvertArrayElements(SpirvModule &module, std::vector<SpirvInstruction> &code,
                              uint32_t value, uint32_t from, uint32_t to, uint32_t result,
                              const SpirvFormConversion &convert) {
    const SpirvDeclaration *fromArray  = Declaration(module, from, spv::OpTypeArray);
    const uint32_t fromElement         = fromArray->operands[0];
    const std::vector<uint32_t> length = ConstantValue(module, fromArray->operands[1]);
    const uint32_t toElement           = Declaration(module, to, spv::OpTypeArray)->operands[0];
    std::vector<uint32_t> parts;
    for (uint32_t k = 0; k < (length.empty() ? 0 : length[0]); ++k) {
        const uint32_t part =
            EmitInstruction(module, code, spv::OpCompositeExtract, fromElement, {value, k});
        parts.push_back(convert(code, part, fromElement, toElement, 0));
    }
    return EmitInstruction(module, code, spv::OpCompositeConstruct, to, parts, result);
}
