#include "platform/gl/spirv/buffer_reads.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr unsigned kFloat = 1, kInteger = 2, kOther = 4;

using Types = std::map<uint32_t, SpirvInstruction>; // aggregate type id -> its declaration

Types Aggregates(const SpirvModule &module) {
    Types types;
    for (const SpirvInstruction &g : module.globals)
        if ((g.opcode == spv::OpTypeStruct || g.opcode == spv::OpTypeArray ||
             g.opcode == spv::OpTypeMatrix) &&
            !g.operands.empty())
            types[g.operands[0]] = g;
    return types;
}

// The scalar kinds a type holds: 32-bit floats, 32-bit integers, or
// anything else.
unsigned Kinds(const SpirvModule &module, const Types &types, uint32_t type, int depth = 0) {
    auto numeric = module.types.find(type);
    if (numeric != module.types.end()) {
        if (numeric->second.width != 32) return kOther;
        if (numeric->second.kind == spv::OpTypeFloat) return kFloat;
        return numeric->second.kind == spv::OpTypeInt ? kInteger : kOther;
    }
    auto aggregate = types.find(type);
    if (aggregate == types.end() || depth > 64) return kOther;
    const std::vector<uint32_t> &o = aggregate->second.operands;
    if (aggregate->second.opcode != spv::OpTypeStruct)
        return o.size() < 2 ? kOther : Kinds(module, types, o[1], depth + 1);
    unsigned kinds = 0;
    for (size_t m = 1; m < o.size(); ++m)
        kinds |= Kinds(module, types, o[m], depth + 1);
    return kinds;
}

// The constant buffers (Uniform variables of a Block structure) whose
// members mix floats and integers: variable -> its structure.
std::map<uint32_t, uint32_t> MixedBuffers(const SpirvModule &module, const Types &types) {
    std::set<uint32_t> blocks;
    for (const SpirvInstruction &p : module.preamble)
        if (p.opcode == spv::OpDecorate && p.operands.size() >= 2 &&
            p.operands[1] == spv::DecorationBlock)
            blocks.insert(p.operands[0]);
    std::map<uint32_t, uint32_t> mixed;
    for (const SpirvInstruction &g : module.globals) {
        if (g.opcode != spv::OpVariable || g.operands.size() < 3) continue;
        const SpirvDeclaration *pointer = Declaration(module, g.operands[0], spv::OpTypePointer);
        if (pointer && pointer->operands[0] == spv::StorageClassUniform &&
            blocks.count(pointer->operands[1]) &&
            Kinds(module, types, pointer->operands[1]) == (kFloat | kInteger))
            mixed[g.operands[1]] = pointer->operands[1];
    }
    return mixed;
}

// Declares the float form of types reachable from a buffer: each integer
// scalar or vector a float one, and each array or structure holding one a
// new one with the same decorations (copied at the end, by Annotate).
struct Retyper {
    SpirvModule &module;
    const Types &types;
    std::map<uint32_t, uint32_t> formOf;   // type -> its float form
    std::map<uint32_t, uint32_t> copiedTo; // aggregate -> the new one

    uint32_t operator()(uint32_t type) {
        auto known = formOf.find(type);
        if (known != formOf.end()) return known->second;
        uint32_t form  = type;
        auto numeric   = module.types.find(type);
        auto aggregate = types.find(type);
        if (numeric != module.types.end()) {
            if (numeric->second.kind == spv::OpTypeInt)
                form = FloatType(module, numeric->second.count);
        } else if (aggregate != types.end() && aggregate->second.opcode != spv::OpTypeMatrix) {
            std::vector<uint32_t> o = aggregate->second.operands;
            const size_t last       = aggregate->second.opcode == spv::OpTypeArray ? 2 : o.size();
            bool changed            = false;
            for (size_t m = 1; m < last; ++m) {
                const uint32_t member = (*this)(o[m]);
                changed               = changed || member != o[m];
                o[m]                  = member;
            }
            if (changed) {
                form = o[0] = FreshId(module);
                AddGlobal(module, aggregate->second.opcode, o);
                copiedTo[type] = form;
            }
        }
        formOf[type] = form;
        return form;
    }

    // The new aggregates' names and decorations (offsets, strides,
    // majority, Block), each copied next to the original's.
    void Annotate() {
        std::vector<SpirvInstruction> preamble;
        for (const SpirvInstruction &p : module.preamble) {
            preamble.push_back(p);
            if (p.operands.empty()) continue;
            auto copied = copiedTo.find(p.operands[0]);
            if (copied == copiedTo.end()) continue;
            switch (p.opcode) {
            case spv::OpName:
            case spv::OpMemberName:
            case spv::OpDecorate:
            case spv::OpMemberDecorate:
            case spv::OpDecorateString:
            case spv::OpMemberDecorateString:
                preamble.push_back(p);
                preamble.back().operands[0] = copied->second;
                break;
            default:
                break;
            }
        }
        module.preamble = std::move(preamble);
    }
};

// Rewrites a copy of the module; false where the buffers are used in a way
// the rewrite does not follow.
bool Rewrite(SpirvModule &module) {
    const Types types                          = Aggregates(module);
    const std::map<uint32_t, uint32_t> buffers = MixedBuffers(module, types);
    Retyper retype{module, types, {}, {}};
    std::map<uint32_t, uint32_t> original; // a retyped pointer or value -> its type before
    std::vector<SpirvInstruction> variables;
    for (const auto &[variable, block] : buffers) {
        const uint32_t pointer = PointerType(module, spv::StorageClassUniform, retype(block));
        for (auto g = module.globals.begin(); g != module.globals.end(); ++g) {
            if (g->opcode != spv::OpVariable || g->operands[1] != variable) continue;
            original[variable] = g->operands[0];
            g->operands[0]     = pointer;
            SetTypeOf(module, variable, pointer);
            // After the new types it now refers to.
            variables.push_back(*g);
            module.globals.erase(g);
            break;
        }
    }
    module.globals.insert(module.globals.end(), variables.begin(), variables.end());
    std::vector<SpirvInstruction> code;
    for (const SpirvInstruction &instruction : module.code) {
        std::vector<uint32_t> o = instruction.operands;
        const bool fromBuffer   = o.size() >= 3 && original.count(o[2]);
        if (fromBuffer && IsAccessChain(instruction.opcode)) {
            const SpirvDeclaration *pointer = Declaration(module, o[0], spv::OpTypePointer);
            if (!pointer) return false;
            original[o[1]] = o[0];
            o[0] = PointerType(module, spv::StorageClassUniform, retype(pointer->operands[1]));
            SetTypeOf(module, o[1], o[0]);
        } else if (fromBuffer && (instruction.opcode == spv::OpLoad ||
                                  instruction.opcode == spv::OpCompositeExtract)) {
            const uint32_t type = o[0], form = retype(type);
            if (form != type && module.types.count(type)) {
                // The float read under a new id, the original id its bits.
                const uint32_t read = FreshId(module);
                o[0]                = form;
                o[1]                = read;
                code.push_back({instruction.opcode, o});
                SetTypeOf(module, read, form);
                EmitInstruction(module, code, spv::OpBitcast, type, {read},
                                instruction.operands[1]);
                continue;
            }
            if (form != type) {
                original[o[1]] = type;
                o[0]           = form;
                SetTypeOf(module, o[1], form);
            }
        } else {
            for (size_t k = 0; k < o.size(); ++k)
                if (IsIdOperand(instruction, k) && original.count(o[k])) return false;
        }
        code.push_back({instruction.opcode, std::move(o)});
    }
    module.code = std::move(code);
    retype.Annotate();
    return true;
}

// The pointers into constant buffers: their variables, and access chains
// from them.
std::set<uint32_t> BufferPointers(const SpirvModule &module) {
    std::set<uint32_t> pointers = ConstantBufferVariables(module);
    for (const SpirvInstruction &c : module.code)
        if (IsAccessChain(c.opcode) && c.operands.size() >= 3 && pointers.count(c.operands[2]))
            pointers.insert(c.operands[1]);
    return pointers;
}

bool HoldsArray(const Types &types, uint32_t type, int depth = 0) {
    auto aggregate = types.find(type);
    if (aggregate == types.end() || depth > 64) return false;
    if (aggregate->second.opcode == spv::OpTypeArray) return true;
    if (aggregate->second.opcode != spv::OpTypeStruct) return false;
    const std::vector<uint32_t> &o = aggregate->second.operands;
    return std::any_of(o.begin() + 1, o.end(),
                       [&](uint32_t member) { return HoldsArray(types, member, depth + 1); });
}

// Emits the read of a value of the type at base[indices], member by member
// and element by element down to its vectors and matrices, each through
// one access chain from base (SPIRV-Cross refuses a chain that stops at an
// array); returns its id, or result where given.
uint32_t ReadParts(SpirvModule &module, const Types &types, std::vector<SpirvInstruction> &out,
                   uint32_t base, const std::vector<uint32_t> &indices, uint32_t type,
                   uint32_t result = 0) {
    auto aggregate = types.find(type);
    if (aggregate == types.end() || aggregate->second.opcode == spv::OpTypeMatrix) {
        std::vector<uint32_t> chain = {base};
        chain.insert(chain.end(), indices.begin(), indices.end());
        const uint32_t at =
            indices.empty()
                ? base
                : EmitInstruction(module, out, spv::OpAccessChain,
                                  PointerType(module, spv::StorageClassUniform, type), chain);
        return EmitInstruction(module, out, spv::OpLoad, type, {at}, result);
    }
    const std::vector<uint32_t> &o = aggregate->second.operands;
    const bool array               = aggregate->second.opcode == spv::OpTypeArray;
    const std::vector<uint32_t> length =
        array && o.size() > 2 ? ConstantValue(module, o[2]) : std::vector<uint32_t>();
    const uint32_t count = array ? (length.empty() ? 0 : length[0]) : uint32_t(o.size() - 1);
    std::vector<uint32_t> parts;
    for (uint32_t k = 0; k < count; ++k) {
        std::vector<uint32_t> at = indices;
        at.push_back(Constant(module, IntType(module, true, 1), k));
        parts.push_back(ReadParts(module, types, out, base, at, array ? o[1] : o[k + 1]));
    }
    return EmitInstruction(module, out, spv::OpCompositeConstruct, type, parts, result);
}

} // namespace

bool HoldsBufferArrayRead(const SpirvModule &module) {
    if (!Holds(module, spv::OpLoad)) return false;
    const Types types               = Aggregates(module);
    const std::set<uint32_t> inside = BufferPointers(module);
    for (const SpirvInstruction &c : module.code)
        if (c.opcode == spv::OpLoad && c.operands.size() >= 3 && inside.count(c.operands[2]) &&
            HoldsArray(types, c.operands[0]))
            return true;
    return false;
}

bool SplitBufferArrayReads(SpirvModule &module, const SpirvPassContext &, Diagnostics &) {
    const Types types               = Aggregates(module);
    const std::set<uint32_t> inside = BufferPointers(module);
    // Each access chain into a buffer, as its variable and indices.
    std::map<uint32_t, std::pair<uint32_t, std::vector<uint32_t>>> chains;
    std::vector<SpirvInstruction> code;
    code.reserve(module.code.size());
    for (SpirvInstruction &c : module.code) {
        if (IsAccessChain(c.opcode) && c.operands.size() >= 3 && inside.count(c.operands[2])) {
            auto from = chains.find(c.operands[2]);
            std::pair<uint32_t, std::vector<uint32_t>> chain =
                from == chains.end() ? std::make_pair(c.operands[2], std::vector<uint32_t>())
                                     : from->second;
            chain.second.insert(chain.second.end(), c.operands.begin() + 3, c.operands.end());
            chains[c.operands[1]] = chain;
        }
        if (c.opcode == spv::OpLoad && c.operands.size() >= 3 && inside.count(c.operands[2]) &&
            HoldsArray(types, c.operands[0]) &&
            (types.at(c.operands[0]).opcode != spv::OpTypeArray ||
             !ConstantValue(module, types.at(c.operands[0]).operands[2]).empty())) {
            auto chain = chains.find(c.operands[2]);
            const std::pair<uint32_t, std::vector<uint32_t>> at =
                chain == chains.end() ? std::make_pair(c.operands[2], std::vector<uint32_t>())
                                      : chain->second;
            ReadParts(module, types, code, at.first, at.second, c.operands[0], c.operands[1]);
        } else
            code.push_back(std::move(c));
    }
    module.code = std::move(code);
    return true;
}

bool HoldsMixedBuffer(const SpirvModule &module) {
    return !MixedBuffers(module, Aggregates(module)).empty();
}

bool ReadMixedBuffersAsFloats(SpirvModule &module, const SpirvPassContext &, Diagnostics &) {
    SpirvModule rewritten = module;
    if (Rewrite(rewritten)) module = std::move(rewritten);
    return true;
}
