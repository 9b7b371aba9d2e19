// The shader models of what the HLSL reference lists ("Intrinsic Functions",
// the object methods' and the semantics' pages: minimum shader model) and the
// limits Direct3D 11.3 documents: the constant buffer, texture and sampler
// slots of bindings.h, constant buffers of at most 4096 registers (7.5,
// constant_packing.h), a geometry invocation's output of at most 1024
// vertices and 1024 scalars (13.3, 22.3.8). The check walks glslang's tree
// from the entry point's wrapper through every function it calls.
#include "platform/gl/hlsl/profile_check.h"
#include "platform/gl/hlsl/lexer.h"

#include "platform/gl/bindings.h"
#include "platform/gl/hlsl/constant_layout.h"
#include "platform/gl/common/constant_packing.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace {

using glslang::TIntermAggregate;
using glslang::TIntermSymbol;
using glslang::TType;

constexpr int kNotInThisStage = 1000; // a model no profile of these stages reaches

struct Problem {
    std::string file;
    int line = 0, column = 0;
    std::string text;
    std::string name; // an intrinsic's, whose call glslang places at its end
    std::string code; // the Windows compiler's, where a record gives it
};

// The model of a profile as major * 10 + minor: "ps_4_1" is 41.
int ModelOf(const char *profile) {
    const char *digits = std::strchr(profile, '_');
    if (!digits || !std::isdigit(static_cast<unsigned char>(digits[1]))) return 40;
    const int major = digits[1] - '0';
    const int minor = digits[2] == '_' && std::isdigit(static_cast<unsigned char>(digits[3]))
                          ? digits[3] - '0'
                          : 0;
    return major * 10 + minor;
}

std::string ModelName(int model) {
    return std::to_string(model / 10) + "." + std::to_string(model % 10);
}

// The names that follow the keyword in the source's tokens ("interface
// IFoo"), with the keyword's line and column.
struct Named {
    std::string name;
    int line, column;
};
std::vector<Named> NamesAfterKeyword(const std::string &source, const LexedHlsl &lexed,
                                     const char *keyword) {
    std::vector<Named> found;
    const Tokens &tokens = lexed.tokens;
    for (size_t i = 0; i + 1 < tokens.size(); ++i)
        if (tokens[i].kind == TokenKind::Identifier && Is(source, tokens[i], keyword) &&
            tokens[i + 1].kind == TokenKind::Identifier)
            found.push_back(
                {std::string(Spelling(source, tokens[i + 1])), tokens[i].line, tokens[i].column});
    return found;
}

// What a message is about, to find in the source line: an intrinsic's name,
// or the first name it quotes.
std::string NameIn(const std::string &what) {
    if (std::all_of(what.begin(), what.end(), IsIdentifierChar)) return what;
    const size_t open  = what.find('\'');
    const size_t close = open == std::string::npos ? open : what.find('\'', open + 1);
    if (close == std::string::npos) return "";
    const std::string name = what.substr(open + 1, close - open - 1);
    return std::all_of(name.begin(), name.end(), IsIdentifierChar) ? name : "";
}

// The column where p.name first stands as a name on p's line of the text
// (lexed as p.file), or p's own column. glslang's columns count in the
// preprocessed text, which collapses spaces, and it places a call at its
// closing parenthesis.
int NameColumn(const std::string &text, const LexedHlsl &lexed, const Problem &p) {
    for (const Token &t : lexed.tokens)
        if (t.line == p.line && t.kind == TokenKind::Identifier && Is(text, t, p.name) &&
            lexed.files[t.file] == p.file)
            return t.column;
    return p.column;
}

// The entry point's name in its last definition or declaration; null
// where the source has none.
const Token *LastEntryName(const std::string &source, const LexedHlsl &lexed,
                           const char *entryPoint) {
    const Token *found   = nullptr;
    const Tokens &tokens = lexed.tokens;
    for (size_t i = 1; i + 1 < tokens.size(); ++i)
        if (Is(source, tokens[i], entryPoint) && Is(source, tokens[i + 1], "(") &&
            tokens[i - 1].kind == TokenKind::Identifier)
            found = &tokens[i];
    return found;
}

// The patches of the hull and domain stages (5.0), among the parameters of
// the entry point's definitions in the source: glslang makes them plain
// arrays of the control point in the other stages, and only an entry point
// receives one.
std::vector<Named> Patches(const std::string &source, const LexedHlsl &lexed,
                           const char *entryPoint) {
    std::vector<Named> found;
    const Tokens &tokens = lexed.tokens;
    for (size_t i = 1; i + 1 < tokens.size(); ++i) {
        if (!Is(source, tokens[i], entryPoint) || !Is(source, tokens[i + 1], "(") ||
            tokens[i - 1].kind != TokenKind::Identifier)
            continue;
        const size_t close = ClosingBracket(source, tokens, i + 1);
        for (size_t k = i + 2; k < close && k < tokens.size(); ++k)
            if (Is(source, tokens[k], "InputPatch") || Is(source, tokens[k], "OutputPatch"))
                found.push_back(
                    {std::string(Spelling(source, tokens[k])), tokens[k].line, tokens[k].column});
    }
    return found;
}

// Collects the functions a function calls, by glslang's mangled names, and
// the lines of the source file its code stands on.
class CallCollector : public glslang::TIntermTraverser {
  public:
    explicit CallCollector(const char *fileName) : fileName_(fileName) {}
    bool visitAggregate(glslang::TVisit, TIntermAggregate *node) override {
        if (node->getOp() == glslang::EOpFunctionCall) calls.push_back(node->getName().c_str());
        Line(node->getLoc());
        return true;
    }
    bool visitBinary(glslang::TVisit, glslang::TIntermBinary *node) override {
        Line(node->getLoc());
        return true;
    }
    void visitSymbol(TIntermSymbol *node) override { Line(node->getLoc()); }
    std::vector<std::string> calls;
    int firstLine = 0, lastLine = 0; // 0 when none is in the file itself

  private:
    void Line(const glslang::TSourceLoc &loc) {
        const char *file = loc.getFilename();
        if (loc.line <= 0 || (file && std::strcmp(file, fileName_) != 0)) return;
        firstLine = firstLine ? std::min(firstLine, loc.line) : loc.line;
        lastLine  = std::max(lastLine, loc.line);
    }
    const char *fileName_;
};

// The scalar components a stage output takes, arrays counted in full.
int Components(const TType &type) {
    return type.computeNumComponents();
}

// Walks the functions the entry point reaches and notes every problem once.
class ProfileChecker : public glslang::TIntermTraverser {
  public:
    ProfileChecker(const char *fileName, const char *profile, EShLanguage stage,
                   std::set<std::string> classNames)
        : fileName_(fileName), profile_(profile), model_(ModelOf(profile)), stage_(stage),
          classNames_(std::move(classNames)) {}

    // what needs shader model `model`; noted when the profile's is lower.
    void Needs(const glslang::TSourceLoc &loc, const std::string &what, int model,
               const char *why = nullptr) {
        if (model_ >= model || !said_.insert(what).second) return;
        Refuse(loc, what + " " + (why ? why : "needs shader model " + ModelName(model)) +
                        "; the profile is " + profile_);
        problems.back().name = NameIn(what);
    }

    void Refuse(const glslang::TSourceLoc &loc, const std::string &text) {
        const char *file = loc.getFilename();
        problems.push_back({file ? file : fileName_, std::max(loc.line, 1), std::max(loc.column, 1),
                            text, NameIn(text), ""});
    }

    void CheckType(const TType &type, const glslang::TSourceLoc &loc) {
        if (type.containsBasicType(glslang::EbtDouble)) Needs(loc, "double", 50);
        if (type.containsBasicType(glslang::EbtInt64) || type.containsBasicType(glslang::EbtUint64))
            Needs(loc, "64-bit integers", 60);
        if (type.isStruct() && classNames_.count(type.getTypeName().c_str()))
            Needs(loc, "class '" + std::string(type.getTypeName().c_str()) + "'", 50);
    }

    void visitSymbol(TIntermSymbol *node) override {
        const TType &type      = node->getType();
        const auto &loc        = node->getLoc();
        const std::string name = node->getName().c_str();
        CheckType(type, loc);
        const glslang::TQualifier &q = type.getQualifier();
        if (q.builtIn >= glslang::EbvSubgroupID && q.builtIn <= glslang::EbvSubgroupLtMask2)
            Needs(loc, "wave operations", 60);
        if (name == "@sampleCount") Needs(loc, "GetSamplePosition", 41); // how glslang expands it
        if (q.storage == glslang::EvqShared)
            Needs(loc, "groupshared variable '" + name + "'", kNotInThisStage,
                  "is only for compute shaders");
        if (type.isImage()) Needs(loc, "read-write resource '" + name + "' (a UAV)", 50);
        if (q.storage == glslang::EvqBuffer && name.find('@') == std::string::npos) {
            // Read-only StructuredBuffer and ByteAddressBuffer compile for
            // the 4_0 profiles (Microsoft's own Direct3D 11 samples read them
            // in vs_4_0 and ps_4_0; the runtime refuses them only on 10.x
            // feature levels); written ones are UAVs.
            if (!q.isReadOnly()) Needs(loc, "read-write buffer '" + name + "' (a UAV)", 50);
        }
        if (type.getBasicType() == glslang::EbtSampler && q.storage == glslang::EvqUniform &&
            !type.isImage())
            Slot(node);
        if (type.getBasicType() == glslang::EbtBlock && q.storage == glslang::EvqUniform)
            ConstantBuffer(node);
    }

    // A texture's or sampler's register, explicit or not.
    void Slot(TIntermSymbol *node) {
        const TType &type      = node->getType();
        const bool sampler     = type.getSampler().isPureSampler();
        const int count        = type.isArray() ? std::max(type.getCumulativeArraySize(), 1) : 1;
        const int limit        = static_cast<int>(sampler ? kSamplerSlots : kTextureSlots);
        const char letter      = sampler ? 's' : 't';
        const std::string name = node->getName().c_str();
        const glslang::TSampler &s = type.getSampler();
        if (!sampler && s.dim == glslang::EsdCube && s.isArrayed())
            Needs(node->getLoc(), "TextureCubeArray '" + name + "'", 41);
        if (!(sampler ? samplers_ : textures_).insert(node->getId()).second) return;
        (sampler ? samplerSlots_ : textureSlots_) += count;
        const glslang::TQualifier &q = type.getQualifier();
        if (q.hasBinding() && static_cast<int>(q.layoutBinding) + count > limit &&
            said_.insert("slot " + name).second)
            Refuse(node->getLoc(), "'" + name + "' at register " + letter +
                                       std::to_string(q.layoutBinding) + " is beyond " + letter +
                                       std::to_string(limit - 1) + ", the last of the " +
                                       std::to_string(limit) + " slots of shader model 4");
        if ((sampler ? samplerSlots_ : textureSlots_) > limit &&
            said_.insert(std::string("count ") + letter).second)
            Refuse(node->getLoc(), std::string("the stage uses more ") +
                                       (sampler ? "samplers" : "textures") + " than the " +
                                       std::to_string(limit) + " slots of shader model 4");
    }

    void ConstantBuffer(TIntermSymbol *node) {
        if (!buffers_.insert(node->getId()).second) return;
        const TType &type            = node->getType();
        const std::string name       = type.getTypeName().c_str();
        const glslang::TQualifier &q = type.getQualifier();
        const uint64_t registers     = Registers(PackedTypeOf(type));
        if (registers > kConstantBufferRegisters)
            Refuse(node->getLoc(),
                   "constant buffer '" + name + "' takes " + std::to_string(registers) +
                       " registers, over the limit of " + std::to_string(kConstantBufferRegisters));
        if (q.hasBinding() && q.layoutBinding >= kConstantBufferSlots) {
            Refuse(node->getLoc(), "maximum cbuffer exceeded. target has " +
                                       std::to_string(kConstantBufferSlots) +
                                       " slots, manual bind to slot " +
                                       std::to_string(q.layoutBinding) + " failed");
            problems.back().code = "X4567";
        }
        if (buffers_.size() == kConstantBufferSlots + 1)
            Refuse(node->getLoc(), "the stage uses more than the " +
                                       std::to_string(kConstantBufferSlots) +
                                       " constant buffers there are");
    }

    // $Params, the buffer Windows makes of the entry point's uniform
    // parameters, takes a slot of its own beside $Globals, where glslang
    // puts both in one; every cbuffer declared takes one, read or not, and
    // the cbuffers that name one register take it once
    // (register-reservations-numeric.shader_test).
    void CountBuffers(TIntermAggregate *linkerObjects, TIntermAggregate *userEntry,
                      const glslang::TSourceLoc &entryLoc) {
        const size_t visited = buffers_.size(); // those ConstantBuffer has counted
        size_t globals = 0, params = 0, unplaced = 0;
        std::set<unsigned> registers;
        std::set<long long> placeless;
        for (TIntermNode *object : linkerObjects->getSequence()) {
            TIntermSymbol *symbol = object->getAsSymbolNode();
            if (!symbol || symbol->getType().getBasicType() != glslang::EbtBlock ||
                symbol->getType().getQualifier().storage != glslang::EvqUniform)
                continue;
            if (symbol->getType().getTypeName() == "$Global")
                globals = symbol->getType().getStruct()->size();
            const glslang::TQualifier &q = symbol->getType().getQualifier();
            if (q.hasBinding())
                registers.insert(q.layoutBinding);
            else if (placeless.insert(symbol->getId()).second)
                ++unplaced;
        }
        TIntermAggregate *parameters = userEntry && !userEntry->getSequence().empty()
                                           ? userEntry->getSequence()[0]->getAsAggregate()
                                           : nullptr;
        if (parameters)
            for (TIntermNode *parameter : parameters->getSequence())
                if (TIntermSymbol *symbol = parameter->getAsSymbolNode())
                    params += symbol->getType().getQualifier().storage == glslang::EvqUniform &&
                              !symbol->getType().containsOpaque();
        const size_t used = registers.size() + unplaced + (params > 0 && globals > params ? 1 : 0);
        if (used > kConstantBufferSlots && visited <= kConstantBufferSlots)
            Refuse(entryLoc, "the stage uses more than the " +
                                 std::to_string(kConstantBufferSlots) +
                                 " constant buffers there are ($Globals and $Params count)");
    }

    bool visitAggregate(glslang::TVisit visit, TIntermAggregate *node) override {
        if (visit != glslang::EvPreVisit) return true;
        CheckType(node->getType(), node->getLoc());
        if (node->getOp() == glslang::EOpFunctionCall && !defined_.count(node->getName().c_str()))
            Intrinsic(node);
        Operator(node->getOp(), node, node->getLoc());
        return true;
    }
    bool visitUnary(glslang::TVisit visit, glslang::TIntermUnary *node) override {
        if (visit == glslang::EvPreVisit) {
            CheckType(node->getType(), node->getLoc());
            Operator(node->getOp(), nullptr, node->getLoc());
        }
        return true;
    }
    bool visitBinary(glslang::TVisit visit, glslang::TIntermBinary *node) override {
        if (visit == glslang::EvPreVisit) CheckType(node->getType(), node->getLoc());
        return true;
    }
    void visitConstantUnion(glslang::TIntermConstantUnion *node) override {
        CheckType(node->getType(), node->getLoc());
    }

    // The built-in functions glslang keeps as calls to no definition.
    void Intrinsic(TIntermAggregate *node) {
        std::string name                                = node->getName().c_str();
        name                                            = name.substr(0, name.find('('));
        static const std::map<std::string, int> kModels = {
            {"msad4", 50},
            {"GetRenderTargetSampleCount", 41},
            {"GetRenderTargetSamplePosition", 41},
            {"CheckAccessFullyMapped", 50},
        };
        const auto known = kModels.find(name);
        if (known != kModels.end()) Needs(node->getLoc(), name, known->second);
        // The hull stage's tessellation-factor helpers (HLSL reference,
        // "Intrinsic Functions": hull shaders, 5.0); abort is listed for
        // later compilers only, d3dcompiler_47 does not know it.
        if (name.compare(0, 7, "Process") == 0 && name.find("TessFactors") != std::string::npos)
            Needs(node->getLoc(), name, kNotInThisStage, "is only for hull shaders");
        if (name == "abort")
            Needs(node->getLoc(), name, kNotInThisStage, "is not an intrinsic of shader model 4");
    }

    // Implicit derivatives, and the discard that clip() is made of, exist
    // only where pixels are shaded in 2x2 quads (Direct3D 11.3 functional
    // reference 7.2 and 22.1.7): the vertex and geometry profiles refuse
    // them in what the entry point reaches.
    void PixelOnly(const glslang::TSourceLoc &loc, const std::string &what) {
        if (stage_ == EShLangFragment || !said_.insert(what).second) return;
        Refuse(loc, what + " is only for pixel shaders; the profile is " + profile_);
        problems.back().name = NameIn(what);
    }
    bool visitBranch(glslang::TVisit, glslang::TIntermBranch *node) override {
        if (node->getFlowOp() == glslang::EOpKill) PixelOnly(node->getLoc(), "discard (or clip)");
        return true;
    }

    void Operator(glslang::TOperator op, TIntermAggregate *call, const glslang::TSourceLoc &loc) {
        using namespace glslang;
        struct Rule {
            TOperator op;
            const char *what;
            int model;
        };
        static const Rule kRules[] = {
            {EOpBitFieldReverse, "reversebits", 50},
            {EOpInterpolateAtCentroid, "EvaluateAttributeAtCentroid", 50},
            {EOpInterpolateAtSample, "EvaluateAttributeAtSample", 50},
            {EOpInterpolateAtOffset, "EvaluateAttributeSnapped", 50},
            {EOpEvaluateAttributeSnapped, "EvaluateAttributeSnapped", 50},
            {EOpDPdxFine, "ddx_fine", 50},
            {EOpDPdyFine, "ddy_fine", 50},
            {EOpDPdxCoarse, "ddx_coarse", 50},
            {EOpDPdyCoarse, "ddy_coarse", 50},
            {EOpTextureQueryLod, "CalculateLevelOfDetail", 41},
            {EOpTextureGatherOffset, "Gather with an offset", 50},
            {EOpTextureGatherOffsets, "Gather with an offset", 50},
            {EOpTextureClamp, "Sample with a level-of-detail clamp", 50},
            {EOpTextureOffsetClamp, "Sample with a level-of-detail clamp", 50},
            {EOpTextureGradClamp, "SampleGrad with a level-of-detail clamp", 50},
            {EOpTextureGradOffsetClamp, "SampleGrad with a level-of-detail clamp", 50},
            {EOpNoise, "noise", kNotInThisStage},
        };
        for (const Rule &rule : kRules)
            if (rule.op == op)
                Needs(loc, rule.what, rule.model,
                      rule.model == kNotInThisStage ? "is only for texture shaders (tx_1_0)"
                                                    : nullptr);
        // tex2D and the other Direct3D 9 sampling functions take the sampler
        // itself where a method's texture stands: the reference pages of
        // tex1D.. texCUBEproj allow them at shader model 4 only with the
        // backwards-compatibility option, which these compiles do not set
        // (sampler.shader_test records the refusal at 4_0).
        if (call && call->isTexture() && !call->getSequence().empty()) {
            const TIntermAggregate *object   = call->getSequence()[0]->getAsAggregate();
            const TType &type                = call->getSequence()[0]->getAsTyped()->getType();
            const glslang::TSampler &sampler = type.getSampler();
            if (type.getBasicType() == EbtSampler &&
                (sampler.isCombined() || sampler.isPureSampler()) &&
                !(object && object->getOp() == EOpConstructTextureSampler))
                Needs(loc, "tex1D, tex2D, tex3D, texCUBE and their forms", kNotInThisStage,
                      "need the backwards-compatibility compile option from shader model 4 on");
        }
        if (op == EOpTextureFetch && call) CheckLocationSize(call);
        static const Rule kPixelOnly[] = {
            {EOpDPdx, "'ddx'", 0},
            {EOpDPdy, "'ddy'", 0},
            {EOpFwidth, "'fwidth'", 0},
            {EOpDPdxFine, "'ddx_fine'", 0},
            {EOpDPdyFine, "'ddy_fine'", 0},
            {EOpDPdxCoarse, "'ddx_coarse'", 0},
            {EOpDPdyCoarse, "'ddy_coarse'", 0},
            // Sample, SampleBias, SampleCmp and tex*D, tex*Dbias, tex*Dproj:
            // the level of detail comes from the quad's derivatives.
            {EOpTexture,
             "sampling with implicit derivatives (Sample, SampleBias, SampleCmp, tex2D)", 0},
            {EOpTextureOffset,
             "sampling with implicit derivatives (Sample, SampleBias, SampleCmp, tex2D)", 0},
            {EOpTextureProj, "sampling with implicit derivatives (tex2Dproj)", 0},
            {EOpTextureProjOffset, "sampling with implicit derivatives (tex2Dproj)", 0},
            {EOpTextureClamp, "sampling with implicit derivatives (Sample)", 0},
            {EOpTextureOffsetClamp, "sampling with implicit derivatives (Sample)", 0},
            {EOpKill, "discard (or clip)", 0},
            {EOpDemote, "discard (or clip)", 0},
        };
        for (const Rule &rule : kPixelOnly)
            if (rule.op == op) PixelOnly(loc, rule.what);
        CheckOffsetRange(op, call);
        switch (op) {
        case EOpAtomicAdd:
        case EOpAtomicMin:
        case EOpAtomicMax:
        case EOpAtomicAnd:
        case EOpAtomicOr:
        case EOpAtomicXor:
        case EOpAtomicExchange:
        case EOpAtomicCompSwap:
        case EOpImageAtomicAdd:
        case EOpImageAtomicMin:
        case EOpImageAtomicMax:
        case EOpImageAtomicAnd:
        case EOpImageAtomicOr:
        case EOpImageAtomicXor:
        case EOpImageAtomicExchange:
        case EOpImageAtomicCompSwap:
        case EOpInterlockedAdd:
        case EOpInterlockedAnd:
        case EOpInterlockedCompareExchange:
        case EOpInterlockedCompareStore:
        case EOpInterlockedExchange:
        case EOpInterlockedMax:
        case EOpInterlockedMin:
        case EOpInterlockedOr:
        case EOpInterlockedXor:
            Needs(loc, "the Interlocked functions", 50);
            break;
        case EOpBarrier:
        case EOpMemoryBarrier:
        case EOpMemoryBarrierBuffer:
        case EOpMemoryBarrierImage:
        case EOpMemoryBarrierShared:
        case EOpGroupMemoryBarrier:
        case EOpAllMemoryBarrierWithGroupSync:
        case EOpDeviceMemoryBarrier:
        case EOpDeviceMemoryBarrierWithGroupSync:
        case EOpWorkgroupMemoryBarrier:
        case EOpWorkgroupMemoryBarrierWithGroupSync:
            Needs(loc, "memory barriers", kNotInThisStage, "are only for compute shaders");
            break;
        case EOpTextureGather: {
            // Gather(s, uv) is 4.1; GatherRed.. add a component, GatherCmp.. a
            // comparison sampler: 5.0.
            const bool plain =
                call && call->getSequence().size() == 2 &&
                !call->getSequence()[0]->getAsTyped()->getType().getSampler().isShadow();
            if (plain)
                Needs(loc, "Gather", 41);
            else
                Needs(loc, "GatherRed, GatherCmp and the other Gather forms", 50);
            break;
        }
        default:
            if (op > EOpSubgroupGuardStart && op < EOpSubgroupGuardStop)
                Needs(loc, "wave operations", 60);
            break;
        }
    }

    // t[location] takes a location of as many components as the texture
    // has coordinates, and no more: the Windows compiler refuses a uint3
    // for a Texture2D (load-level.shader_test), where glslang reads the
    // first two. Load's location, which holds the mip level too, reaches
    // here without it.
    void CheckLocationSize(TIntermAggregate *call) {
        const glslang::TIntermSequence &arguments = call->getSequence();
        if (arguments.size() < 2 || !arguments[0]->getAsTyped() || !arguments[1]->getAsTyped())
            return;
        const TType &texture = arguments[0]->getAsTyped()->getType();
        if (texture.getBasicType() != glslang::EbtSampler) return;
        const glslang::TSampler &sampler = texture.getSampler();
        int coordinates                  = 0;
        switch (sampler.dim) {
        case glslang::Esd1D:
        case glslang::EsdBuffer:
            coordinates = 1;
            break;
        case glslang::Esd2D:
            coordinates = 2;
            break;
        case glslang::Esd3D:
            coordinates = 3;
            break;
        default:
            return;
        }
        coordinates += sampler.isArrayed() ? 1 : 0;
        const TType &location = arguments[1]->getAsTyped()->getType();
        if (!location.isVector() || location.getVectorSize() <= coordinates) return;
        Refuse(arguments[1]->getLoc(), "a texture location of " +
                                           std::to_string(location.getVectorSize()) +
                                           " components indexes a texture of " +
                                           std::to_string(coordinates) + " coordinates");
    }

    // An offset of Sample, Load and their kin is a texel count from -8 to 7
    // (the 4-bit address offsets of the ld and sample instructions, 22.4.6 and 22.4.15;
    // texture-load-offset.shader_test records the refusal of 8).
    void CheckOffsetRange(glslang::TOperator op, TIntermAggregate *call) {
        using namespace glslang;
        size_t argument = 0;
        switch (op) {
        case EOpTextureOffset:
        case EOpTextureProjOffset:
            argument = 2;
            break;
        case EOpTextureLodOffset:
        case EOpTextureProjLodOffset:
        case EOpTextureFetchOffset:
            argument = 3;
            break;
        case EOpTextureGradOffset:
        case EOpTextureProjGradOffset:
            argument = 4;
            break;
        default:
            return;
        }
        if (!call || argument >= call->getSequence().size()) return;
        const glslang::TIntermConstantUnion *offset =
            call->getSequence()[argument]->getAsConstantUnion();
        if (!offset) return;
        const glslang::TConstUnionArray &values = offset->getConstArray();
        for (int i = 0; i < values.size(); ++i) {
            // glslang may hold the offset as uint: its bits read as an int.
            const int value = values[i].getType() == EbtUint
                                  ? static_cast<int>(values[i].getUConst())
                                  : values[i].getIConst();
            if (value >= -8 && value <= 7) continue;
            Refuse(offset->getLoc(), "texture offset " + std::to_string(value) +
                                         " is outside the range -8 to 7 of a literal offset");
            return;
        }
    }

    // The entry point's signature: every input and output has a semantic,
    // and the system values exist in this model and stage.
    void CheckSignature(TIntermAggregate *linkerObjects, const glslang::TSourceLoc &entryLoc,
                        const std::string &entryName) {
        int outputComponents = 0;
        for (TIntermNode *object : linkerObjects->getSequence()) {
            TIntermSymbol *symbol = object->getAsSymbolNode();
            if (!symbol) continue;
            const TType &type            = symbol->getType();
            const glslang::TQualifier &q = type.getQualifier();
            const bool input             = q.storage == glslang::EvqVaryingIn;
            if (!input && q.storage != glslang::EvqVaryingOut) continue;
            const std::string name = symbol->getName().c_str();
            if (!input) outputComponents += Components(type);
            if (!q.semanticName && q.builtIn == glslang::EbvNone) {
                const bool result = name == "@entryPointOutput";
                Refuse(entryLoc, "'" + entryName + "': " +
                                     (result  ? std::string("function return value")
                                      : input ? "input parameter '" + name + "'"
                                              : "output parameter '" + name + "'") +
                                     " missing semantics");
                problems.back().code = input ? "X3502" : "X3503";
                continue;
            }
            if (q.sample) Needs(entryLoc, "the 'sample' interpolation modifier", 41);
            std::string semantic = q.semanticName ? q.semanticName : "";
            while (!semantic.empty() && std::isdigit(static_cast<unsigned char>(semantic.back())))
                semantic.pop_back();
            SystemValue(entryLoc, semantic, input);
        }
        if (stage_ != EShLangGeometry) return;
        outputComponents_ = outputComponents;
    }

    // A geometry entry's streams are its only out parameters; glslang merges
    // a second stream into the first instead of refusing it.
    void CheckStreams(TIntermAggregate *userEntry) {
        int streams = 0;
        for (TIntermNode *child : userEntry->getSequence()) {
            TIntermAggregate *parameters = child->getAsAggregate();
            if (!parameters || parameters->getOp() != glslang::EOpParameters) continue;
            for (TIntermNode *parameter : parameters->getSequence()) {
                TIntermSymbol *symbol = parameter->getAsSymbolNode();
                const auto storage =
                    symbol ? symbol->getQualifier().storage : glslang::EvqTemporary;
                if (storage == glslang::EvqOut || storage == glslang::EvqInOut) ++streams;
            }
        }
        if (streams > 1) Needs(userEntry->getLoc(), "more than one output stream", 50);
    }

    // What an entry point writes goes to the next stage's registers, which
    // hold no object (object-parameters.shader_test records the refusal of
    // an out texture and of an inout structure with one).
    void CheckObjectOutputs(TIntermAggregate *userEntry) {
        for (TIntermNode *child : userEntry->getSequence()) {
            TIntermAggregate *parameters = child->getAsAggregate();
            if (!parameters || parameters->getOp() != glslang::EOpParameters) continue;
            for (TIntermNode *parameter : parameters->getSequence()) {
                TIntermSymbol *symbol = parameter->getAsSymbolNode();
                if (!symbol || !symbol->getType().containsOpaque()) continue;
                const auto storage = symbol->getQualifier().storage;
                if (storage == glslang::EvqOut || storage == glslang::EvqInOut)
                    Refuse(symbol->getLoc(), "'" + std::string(symbol->getName().c_str()) +
                                                 "': an entry point's out or inout parameter "
                                                 "cannot hold a texture or sampler");
            }
        }
    }

    void SystemValue(const glslang::TSourceLoc &loc, const std::string &semantic, bool input) {
        struct Rule {
            const char *semantic, *what;
            int model;
            const char *why;
        };
        static const Rule kRules[] = {
            {"SV_GSINSTANCEID", "SV_GSInstanceID", 50, nullptr},
            {"SV_SAMPLEINDEX", "SV_SampleIndex", 41, nullptr},
            {"SV_DEPTHGREATEREQUAL", "SV_DepthGreaterEqual", 50, nullptr},
            {"SV_DEPTHLESSEQUAL", "SV_DepthLessEqual", 50, nullptr},
            {"SV_STENCILREF", "SV_StencilRef", 51, nullptr},
            {"SV_INNERCOVERAGE", "SV_InnerCoverage", 50, nullptr},
            {"SV_BARYCENTRICS", "SV_Barycentrics", 61, nullptr},
            {"SV_VIEWID", "SV_ViewID", 61, nullptr},
            {"SV_SHADINGRATE", "SV_ShadingRate", 64, nullptr},
            {"SV_DISPATCHTHREADID", "SV_DispatchThreadID", kNotInThisStage,
             "is only for compute shaders"},
            {"SV_GROUPID", "SV_GroupID", kNotInThisStage, "is only for compute shaders"},
            {"SV_GROUPINDEX", "SV_GroupIndex", kNotInThisStage, "is only for compute shaders"},
            {"SV_GROUPTHREADID", "SV_GroupThreadID", kNotInThisStage,
             "is only for compute shaders"},
            {"SV_DOMAINLOCATION", "SV_DomainLocation", kNotInThisStage,
             "is only for the domain stage"},
            {"SV_OUTPUTCONTROLPOINTID", "SV_OutputControlPointID", kNotInThisStage,
             "is only for the hull stage"},
            {"SV_TESSFACTOR", "SV_TessFactor", kNotInThisStage,
             "is only for the hull and domain stages"},
            {"SV_INSIDETESSFACTOR", "SV_InsideTessFactor", kNotInThisStage,
             "is only for the hull and domain stages"},
        };
        for (const Rule &rule : kRules)
            if (semantic == rule.semantic) Needs(loc, rule.what, rule.model, rule.why);
        // A pixel stage may write the coverage mask from 4.1 on, read it from 5.0.
        if (semantic == "SV_COVERAGE" && stage_ == EShLangFragment)
            Needs(loc, input ? "SV_Coverage as an input" : "SV_Coverage as an output",
                  input ? 50 : 41);
    }

    void CheckAttributes(const glslang::TIntermediate &tree, const glslang::TSourceLoc &loc,
                         const std::string &entryName) {
        if (tree.getInvocations() != glslang::TQualifier::layoutNotSet)
            Needs(loc, "[instance(" + std::to_string(tree.getInvocations()) + ")]", 50);
        if (stage_ == EShLangFragment && tree.getEarlyFragmentTests())
            Needs(loc, "[earlydepthstencil]", 50);
        if (stage_ != EShLangGeometry) return;
        const int vertices = tree.getVertices();
        if (vertices == glslang::TQualifier::layoutNotSet) {
            Refuse(loc, "'" + entryName + "': a geometry entry point needs [maxvertexcount(N)]");
        } else if (vertices > 1024) {
            Refuse(loc, "maxvertexcount(" + std::to_string(vertices) +
                            ") is over the limit of 1024 vertices");
        } else if (vertices * outputComponents_ > 1024) {
            Refuse(loc, "maxvertexcount(" + std::to_string(vertices) + ") times the " +
                            std::to_string(outputComponents_) +
                            " scalar components of the output vertex is " +
                            std::to_string(vertices * outputComponents_) +
                            ", over the limit of 1024");
        }
    }

    std::set<std::string> defined_; // the functions the source defines
    std::vector<Problem> problems;

  private:
    std::string fileName_, profile_;
    int model_;
    EShLanguage stage_;
    std::set<std::string> classNames_;
    std::set<std::string> said_;
    std::set<long long> textures_, samplers_, buffers_;
    int textureSlots_ = 0, samplerSlots_ = 0, outputComponents_ = 0;
};

} // namespace

bool CheckProfile(const std::string &source, const char *fileName, const IncludedFiles &included,
                  glslang::TIntermediate *tree, const char *entryPoint, const char *profile,
                  Diagnostics &diagnostics) {
    std::vector<Problem> problems;
    const int model       = ModelOf(profile);
    const LexedHlsl lexed = LexHlsl(source, fileName);
    if (!tree || !tree->getTreeRoot()) {
        // glslang parses no interface at all; say why the parse failed.
        if (model < 50)
            for (const Named &named : NamesAfterKeyword(source, lexed, "interface"))
                problems.push_back({fileName, named.line, named.column,
                                    "interface '" + named.name +
                                        "' needs shader model 5.0; the profile is " + profile,
                                    "", ""});
    } else {
        std::set<std::string> classNames;
        for (const Named &named : NamesAfterKeyword(source, lexed, "class"))
            classNames.insert(named.name);
        ProfileChecker checker(fileName, profile, tree->getStage(), std::move(classNames));

        // The functions by mangled name, the global code, and the wrapper
        // glslang made around the entry point.
        std::map<std::string, TIntermAggregate *> functions;
        std::vector<TIntermNode *> globals;
        TIntermAggregate *linkerObjects = nullptr;
        TIntermAggregate *root          = tree->getTreeRoot()->getAsAggregate();
        if (root)
            for (TIntermNode *child : root->getSequence()) {
                TIntermAggregate *node = child->getAsAggregate();
                if (node && node->getOp() == glslang::EOpFunction) {
                    functions[node->getName().c_str()] = node;
                    checker.defined_.insert(node->getName().c_str());
                } else if (node && node->getOp() == glslang::EOpLinkerObjects) {
                    linkerObjects = node;
                } else {
                    globals.push_back(child);
                }
            }

        const auto entry = functions.find(tree->getEntryPointMangledName().c_str());
        if (entry != functions.end()) {
            // The user's function is the one the wrapper calls, "@vs_main(...".
            glslang::TSourceLoc entryLoc     = entry->second->getLoc();
            std::vector<std::string> pending = {entry->first};
            std::set<std::string> reached    = {entry->first};
            TIntermAggregate *userEntry      = nullptr; // "@gs_main(...", which the wrapper calls
            while (!pending.empty()) {
                TIntermAggregate *function = functions[pending.back()];
                pending.pop_back();
                CallCollector collector(fileName);
                function->traverse(&collector);
                for (const std::string &callee : collector.calls)
                    if (functions.count(callee) && reached.insert(callee).second) {
                        pending.push_back(callee);
                        if (callee[0] == '@') userEntry = functions[callee];
                    }
                function->traverse(&checker);
            }
            for (TIntermNode *node : globals)
                node->traverse(&checker);
            if (userEntry) entryLoc = userEntry->getLoc();
            if (userEntry && tree->getStage() == EShLangGeometry) checker.CheckStreams(userEntry);
            if (userEntry) checker.CheckObjectOutputs(userEntry);
            if (linkerObjects) checker.CheckSignature(linkerObjects, entryLoc, entryPoint);
            if (linkerObjects) checker.CountBuffers(linkerObjects, userEntry, entryLoc);
            checker.CheckAttributes(*tree, entryLoc, entryPoint);
            for (const Named &patch : Patches(source, lexed, entryPoint))
                checker.problems.push_back({fileName, patch.line, patch.column,
                                            patch.name +
                                                " is only for hull and domain shaders; the "
                                                "profile is " +
                                                profile,
                                            "", ""});
        }
        problems = std::move(checker.problems);
    }
    // glslang places its entry point at the body; a missing semantic is
    // said at the definition's name, where the signature is.
    if (const Token *name = LastEntryName(source, lexed, entryPoint))
        for (Problem &p : problems)
            if (p.code == "X3502" || p.code == "X3503") {
                p.file   = lexed.files[name->file];
                p.line   = name->line;
                p.column = name->column;
            }

    // In the order found; the messages are put in source order with the rest.
    // Each file's text and tokens, read once.
    std::map<std::string, std::pair<std::string, LexedHlsl>> texts;
    for (Problem &p : problems) {
        if (p.name.empty()) continue;
        if (!texts.count(p.file)) {
            std::string text;
            if (p.file == fileName) {
                text = source;
            } else {
                const auto found = included.find(p.file);
                if (found != included.end()) text = found->second;
            }
            LexedHlsl lexedText = p.file == fileName ? lexed : LexHlsl(text, p.file);
            texts[p.file]       = {std::move(text), std::move(lexedText)};
        }
        p.column = NameColumn(texts[p.file].first, texts[p.file].second, p);
    }
    for (const Problem &p : problems)
        diagnostics.Error(p.file, p.line, p.column, p.text, p.code);
    return problems.empty();
}
