// Geometry-stage clip and cull distances: see clip_distances.h.
#include "platform/gl/spirv/clip_distances.h"

#include "platform/gl/spirv/module.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

namespace {

// glslang packs at most this many semantic indices of each kind.
constexpr uint32_t kMaxSemantics = 8;

// "HF_CLIPDISTANCE1" -> kind 0 (clip) or 1 (cull), index 1; false for
// other semantics.
bool ParseStandIn(const std::string &semantic, uint32_t &kind, uint32_t &index) {
    static const char *const names[] = {"HF_CLIPDISTANCE", "HF_CULLDISTANCE"};
    for (uint32_t k = 0; k < 2; ++k) {
        const size_t length = std::strlen(names[k]);
        if (semantic.size() < length ||
            !std::equal(names[k], names[k] + length, semantic.begin(), [](char a, char b) {
                return a == std::toupper(static_cast<unsigned char>(b));
            }))
            continue;
        const std::string digits = semantic.substr(length);
        if (digits.size() > 2 || !std::all_of(digits.begin(), digits.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            }))
            return false;
        kind  = k;
        index = digits.empty() ? 0 : static_cast<uint32_t>(std::stoul(digits));
        return true;
    }
    return false;
}

// One renamed input or output.
struct StandIn {
    uint32_t kind = 0, index = 0;
    uint32_t components = 1; // of its float or float vector
    uint32_t vectorType = 0; // that type
};

// The built-in array that replaces the stand-ins of one kind and storage.
struct Distances {
    uint32_t variable               = 0;
    uint32_t length                 = 0; // floats per vertex
    uint32_t offsets[kMaxSemantics] = {};
    std::vector<uint32_t> padding; // elements no semantic covers
};

// glslang's packing (HlslParseContext::assignClipCullDistance): semantic
// indices in order, each after the last, a vector that would not fit in
// the rest of a group of four starting the next group.
void Pack(const uint32_t sizes[kMaxSemantics], Distances &d) {
    uint32_t at = 0, inGroup = 0;
    for (uint32_t i = 0; i < kMaxSemantics; ++i) {
        if (inGroup + sizes[i] > 4) {
            at      = (at + 3) & ~3u;
            inGroup = 0;
        }
        d.offsets[i] = at;
        inGroup += sizes[i];
        at += sizes[i];
    }
    d.length = at;
    std::vector<bool> covered(at, false);
    for (uint32_t i = 0; i < kMaxSemantics; ++i)
        for (uint32_t c = 0; c < sizes[i]; ++c)
            covered[d.offsets[i] + c] = true;
    for (uint32_t e = 0; e < at; ++e)
        if (!covered[e]) d.padding.push_back(e);
}

struct Restorer {
    SpirvModule &module;
    std::map<uint32_t, StandIn> standIns;   // by variable
    std::map<uint32_t, uint32_t> storageOf; // variable -> storage class
    Distances distances[2][2];              // [output][kind]
    uint32_t floatType = 0, uintType = 0, vertices = 0;
    uint32_t elementPointer[2] = {}; // to one input float, to one output float
    // SPIRV-Cross reads an input clip or cull distance only through a
    // gl_PerVertex block (gl_in[v].gl_ClipDistance[e]), so the inputs'
    // arrays are members of one, and so is the vertex position glslang
    // declared on its own, since GLSL has one gl_in.
    uint32_t position = 0, positionType = 0; // glslang's input position, its vec4
    uint32_t block     = 0;                  // the input block's variable
    uint32_t member[3] = {};                 // constants: position, clip, cull member
    std::vector<SpirvInstruction> out;
};

uint32_t Emit(Restorer &r, spv::Op op, uint32_t type, std::vector<uint32_t> operands,
              uint32_t result = 0) {
    return EmitInstruction(r.module, r.out, op, type, std::move(operands), result);
}

uint32_t Global(Restorer &r, spv::Op op, std::vector<uint32_t> operands) {
    const uint32_t id = FreshId(r.module);
    operands.insert(operands.begin() + (op == spv::OpVariable ? 1 : 0), id);
    AddGlobal(r.module, op, std::move(operands));
    return id;
}

// The float or float vector a stand-in holds (per vertex for an input);
// false for any other type.
bool ReadStandInType(Restorer &r, uint32_t pointer, bool input, StandIn &s) {
    const SpirvDeclaration *declared = Declaration(r.module, pointer, spv::OpTypePointer);
    if (!declared) return false;
    uint32_t type = declared->operands[1];
    if (input) {
        const SpirvDeclaration *array = Declaration(r.module, type, spv::OpTypeArray);
        if (!array) return false;
        const std::vector<uint32_t> length = ConstantValue(r.module, array->operands[1]);
        if (length.size() != 1) return false;
        r.vertices = length[0];
        type       = array->operands[0];
    }
    auto t = r.module.types.find(type);
    if (t == r.module.types.end() || t->second.kind != spv::OpTypeFloat || t->second.width != 32)
        return false;
    s.vectorType = type;
    s.components = t->second.count;
    return true;
}

// Finds the stand-ins and declares the built-in arrays that replace them.
bool DeclareDistances(Restorer &r, const SpirvPassContext &context, Diagnostics &diagnostics) {
    const SpirvModule &m                = r.module;
    uint32_t sizes[2][2][kMaxSemantics] = {};
    for (const SpirvInstruction &g : m.globals) {
        if (g.opcode != spv::OpVariable || g.operands.size() < 3) continue;
        const uint32_t variable = g.operands[1], storage = g.operands[2];
        const uint32_t *builtIn = m.builtIns.Find(variable);
        if (storage == spv::StorageClassInput && builtIn && *builtIn == spv::BuiltInPosition) {
            const SpirvDeclaration *pointer = Declaration(m, g.operands[0], spv::OpTypePointer);
            const SpirvDeclaration *array =
                pointer ? Declaration(m, pointer->operands[1], spv::OpTypeArray) : nullptr;
            if (array) {
                r.position     = variable;
                r.positionType = array->operands[0];
            }
        }
        const std::string *semantic = m.semantics.Find(variable);
        StandIn s;
        if (!semantic || !ParseStandIn(*semantic, s.kind, s.index)) continue;
        const bool input = storage == spv::StorageClassInput;
        const std::string name =
            std::string(s.kind ? "SV_CullDistance" : "SV_ClipDistance") + std::to_string(s.index);
        if (s.index >= kMaxSemantics || !ReadStandInType(r, g.operands[0], input, s)) {
            diagnostics.Error(context.fileName, 0, 0,
                              name + " must be a float or a float vector with an index up to " +
                                  std::to_string(kMaxSemantics - 1));
            return false;
        }
        r.standIns[variable]  = s;
        r.storageOf[variable] = storage;
        sizes[input ? 0 : 1][s.kind][s.index] += s.components;
    }
    if (r.standIns.empty()) return true;

    r.floatType = FloatType(r.module, 1);
    r.uintType  = IntType(r.module, false, 1);
    std::vector<uint32_t> members;      // the input block's member types
    std::vector<spv::BuiltIn> builtIns; // and what each is
    if (r.position) {
        r.member[0] = Constant(r.module, r.uintType, 0);
        members.push_back(r.positionType);
        builtIns.push_back(spv::BuiltInPosition);
    }
    for (uint32_t output = 0; output < 2; ++output) {
        for (uint32_t kind = 0; kind < 2; ++kind) {
            Distances &d = r.distances[output][kind];
            Pack(sizes[output][kind], d);
            if (d.length == 0) continue;
            const spv::BuiltIn builtIn = kind ? spv::BuiltInCullDistance : spv::BuiltInClipDistance;
            const uint32_t type        = Global(r, spv::OpTypeArray,
                                                {r.floatType, Constant(r.module, r.uintType, d.length)});
            if (output) {
                const uint32_t pointer =
                    Global(r, spv::OpTypePointer, {spv::StorageClassOutput, type});
                d.variable = Global(r, spv::OpVariable, {pointer, spv::StorageClassOutput});
                Decorate(r.module, d.variable, spv::DecorationBuiltIn, {uint32_t(builtIn)});
            } else {
                r.member[1 + kind] =
                    Constant(r.module, r.uintType, static_cast<uint32_t>(members.size()));
                members.push_back(type);
                builtIns.push_back(builtIn);
            }
            const uint32_t capability =
                kind ? spv::CapabilityCullDistance : spv::CapabilityClipDistance;
            const bool declared = std::any_of(
                r.module.preamble.begin(), r.module.preamble.end(), [&](const SpirvInstruction &i) {
                    return i.opcode == spv::OpCapability && i.operands[0] == capability;
                });
            if (!declared)
                r.module.preamble.insert(r.module.preamble.begin(),
                                         {spv::OpCapability, {capability}});
        }
    }
    if (r.member[1] || r.member[2]) {
        const uint32_t block = Global(r, spv::OpTypeStruct, members);
        Decorate(r.module, block, spv::DecorationBlock);
        for (uint32_t m = 0; m < builtIns.size(); ++m)
            r.module.preamble.push_back(
                {spv::OpMemberDecorate, {block, m, spv::DecorationBuiltIn, uint32_t(builtIns[m])}});
        const uint32_t array =
            Global(r, spv::OpTypeArray, {block, Constant(r.module, r.uintType, r.vertices)});
        const uint32_t pointer = Global(r, spv::OpTypePointer, {spv::StorageClassInput, array});
        r.block                = Global(r, spv::OpVariable, {pointer, spv::StorageClassInput});
    } else {
        r.position = 0; // stays as glslang made it
    }
    return true;
}

// A pointer to element `element` of the built-in array (of vertex
// `vertex` for an input).
uint32_t ElementPointer(Restorer &r, uint32_t kind, uint32_t storage, uint32_t vertex,
                        uint32_t element) {
    uint32_t &pointer = r.elementPointer[storage == spv::StorageClassOutput ? 1 : 0];
    if (!pointer) pointer = Global(r, spv::OpTypePointer, {storage, r.floatType});
    std::vector<uint32_t> operands = {r.distances[1][kind].variable};
    if (storage == spv::StorageClassInput) operands = {r.block, vertex, r.member[1 + kind]};
    operands.push_back(Constant(r.module, r.uintType, element));
    return Emit(r, spv::OpAccessChain, pointer, operands);
}

// Rewrites the code's reads of the input stand-ins (a vertex's element,
// then a load) and its writes of the output stand-ins (whole stores).
bool RewriteCode(Restorer &r, const SpirvPassContext &context, Diagnostics &diagnostics) {
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> chains; // id -> (stand-in, vertex)
    const auto unhandled = [&](uint32_t id) {
        return r.standIns.count(id) || chains.count(id) || (r.position && id == r.position);
    };
    for (const SpirvInstruction &i : r.module.code) {
        const std::vector<uint32_t> &o = i.operands;
        const bool chain = i.opcode == spv::OpAccessChain || i.opcode == spv::OpInBoundsAccessChain;
        if (chain && o.size() == 4 && r.position && o[2] == r.position) {
            r.out.push_back({i.opcode, {o[0], o[1], r.block, o[3], r.member[0]}});
            continue;
        }
        if (chain && o.size() == 4 && r.standIns.count(o[2]) &&
            r.storageOf[o[2]] == spv::StorageClassInput) {
            chains[o[1]] = {o[2], o[3]};
            continue;
        }
        if (i.opcode == spv::OpLoad && o.size() >= 3 && chains.count(o[2])) {
            const auto [variable, vertex] = chains[o[2]];
            const StandIn &s              = r.standIns[variable];
            const Distances &d            = r.distances[0][s.kind];
            std::vector<uint32_t> parts;
            for (uint32_t c = 0; c < s.components; ++c) {
                const uint32_t element = ElementPointer(r, s.kind, spv::StorageClassInput, vertex,
                                                        d.offsets[s.index] + c);
                parts.push_back(
                    Emit(r, spv::OpLoad, r.floatType, {element}, s.components == 1 ? o[1] : 0));
            }
            if (s.components > 1) Emit(r, spv::OpCompositeConstruct, o[0], parts, o[1]);
            continue;
        }
        if (i.opcode == spv::OpStore && o.size() >= 2 && r.standIns.count(o[0])) {
            const StandIn &s   = r.standIns[o[0]];
            const Distances &d = r.distances[1][s.kind];
            for (uint32_t c = 0; c < s.components; ++c) {
                const uint32_t value =
                    s.components == 1 ? o[1]
                                      : Emit(r, spv::OpCompositeExtract, r.floatType, {o[1], c});
                r.out.push_back(
                    {spv::OpStore,
                     {ElementPointer(r, s.kind, spv::StorageClassOutput, 0, d.offsets[s.index] + c),
                      value}});
            }
            // Elements between two semantics' groups are distances too for
            // GL, which clips by every enabled one: they never clip.
            for (uint32_t e : d.padding)
                r.out.push_back({spv::OpStore,
                                 {ElementPointer(r, s.kind, spv::StorageClassOutput, 0, e),
                                  Constant(r.module, r.floatType, 0)}});
            continue;
        }
        const bool pointerUse =
            ((chain || i.opcode == spv::OpLoad || i.opcode == spv::OpCopyObject) && o.size() > 2 &&
             unhandled(o[2])) ||
            ((i.opcode == spv::OpStore || i.opcode == spv::OpCopyMemory) && !o.empty() &&
             (unhandled(o[0]) || (o.size() > 1 && unhandled(o[1])))) ||
            (i.opcode == spv::OpFunctionCall &&
             std::any_of(o.begin() + std::min<size_t>(3, o.size()), o.end(), unhandled));
        if (pointerUse) {
            diagnostics.Error(context.fileName, 0, 0,
                              "the geometry stage uses a clip or cull distance in a way this "
                              "backend cannot compile");
            return false;
        }
        r.out.push_back(i);
    }
    r.module.code = std::move(r.out);
    return true;
}

// Drops the stand-ins, their names and decorations, and lists the built-in
// arrays as the entry point's interface in their place.
void ReplaceInterface(Restorer &r) {
    auto replaced = [&](uint32_t id) {
        return r.standIns.count(id) > 0 || (r.position && id == r.position);
    };
    auto gone = [&](const SpirvInstruction &i) {
        if (i.opcode == spv::OpVariable) return replaced(i.operands[1]);
        const bool targets = i.opcode == spv::OpName || i.opcode == spv::OpDecorate ||
                             i.opcode == spv::OpDecorateString;
        return targets && !i.operands.empty() && replaced(i.operands[0]);
    };
    auto &p = r.module.preamble;
    p.erase(std::remove_if(p.begin(), p.end(), gone), p.end());
    auto &g = r.module.globals;
    g.erase(std::remove_if(g.begin(), g.end(), gone), g.end());
    for (const auto &[id, s] : r.standIns) {
        r.module.names.Erase(id);
        r.module.semantics.Erase(id);
        r.module.locations.Erase(id);
    }
    if (r.position) {
        r.module.names.Erase(r.position);
        r.module.builtIns.Erase(r.position);
    }
    for (SpirvInstruction &i : p) {
        if (i.opcode != spv::OpEntryPoint || i.operands.size() < 3) continue;
        // Execution model, function, the name's words, then the interface.
        size_t at = 2;
        while (at < i.operands.size() && (i.operands[at] >> 24) != 0)
            ++at;
        std::vector<uint32_t> kept(i.operands.begin(),
                                   i.operands.begin() + std::min(at + 1, i.operands.size()));
        for (size_t k = at + 1; k < i.operands.size(); ++k)
            if (!replaced(i.operands[k])) kept.push_back(i.operands[k]);
        for (const Distances &d : r.distances[1])
            if (d.variable) kept.push_back(d.variable);
        if (r.block) kept.push_back(r.block);
        i.operands = std::move(kept);
    }
}

} // namespace

bool HoldsClipCullStandIn(const SpirvModule &module) {
    uint32_t kind = 0, index = 0;
    for (const auto &[id, semantic] : module.semantics)
        if (ParseStandIn(semantic, kind, index)) return true;
    return false;
}

bool RestoreClipCullDistances(SpirvModule &module, const SpirvPassContext &context,
                              Diagnostics &diagnostics) {
    Restorer r{module, {}, {}, {}, 0, 0, 0, {}, 0, 0, 0, {}, {}};
    if (!DeclareDistances(r, context, diagnostics)) return false;
    if (r.standIns.empty()) return true;
    if (!RewriteCode(r, context, diagnostics)) return false;
    ReplaceInterface(r);
    return true;
}
