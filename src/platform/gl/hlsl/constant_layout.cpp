#include "platform/gl/hlsl/constant_layout.h"

#include "platform/gl/bindings.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

bool IsConstantBuffer(const glslang::TType &type) {
    return type.getBasicType() == glslang::EbtBlock &&
           type.getQualifier().storage == glslang::EvqUniform;
}

// glslang names the block of globals "$Global" unless told another name.
bool IsGlobals(const glslang::TIntermediate &tree, const glslang::TType &type) {
    const std::string name = tree.getGlobalUniformBlockName();
    return IsConstantBuffer(type) &&
           type.getTypeName() == (name.empty() ? "$Global" : name.c_str());
}

// Every constant buffer's symbol, in the code and among the linker's
// objects (where the unused ones are). Each symbol holds its own copy of
// the block's qualifier, so a register is set on all of them.
class ConstantBuffers : public glslang::TIntermTraverser {
  public:
    void visitSymbol(glslang::TIntermSymbol *symbol) override {
        if (IsConstantBuffer(symbol->getType())) symbols.push_back(symbol);
    }
    std::vector<glslang::TIntermSymbol *> symbols;
};

std::vector<glslang::TIntermSymbol *> FindConstantBuffers(const glslang::TIntermediate &tree) {
    ConstantBuffers finder;
    if (tree.getTreeRoot()) tree.getTreeRoot()->traverse(&finder);
    return finder.symbols;
}

// Where the Windows compiler's packoffset errors go: at the member, the
// column where its name stands on its line (when that line is in the
// compiled file).
struct MemberErrors {
    const char *fileName;
    const std::string &source;
    Diagnostics &diagnostics;
    bool any = false;

    // code: the Windows compiler's, whose words name no member.
    void Error(const glslang::TTypeLoc &member, const std::string &text, const char *code = "") {
        const char *file       = member.loc.getFilename() ? member.loc.getFilename() : fileName;
        const std::string name = member.type->getFieldName().c_str();
        const int line         = std::max(member.loc.line, 1);
        const int column       = std::string(file) == fileName ? WordColumn(source, line, name) : 0;
        diagnostics.Error(file, line, column,
                          name.empty() || *code ? text : "'" + name + "': " + text, code);
        any = true;
    }
};

// What the Windows compiler refuses in a cbuffer's packoffsets (vkd3d's
// tests/hlsl/cbuffer.shader_test, run against it): a register component
// past .w ("float2 a : packoffset(c0.w)" would cross into c1), and arrays,
// structures and matrices that do not start a register.
void MisplacedMember(const glslang::TTypeLoc &member, MemberErrors &errors) {
    const PackedType type = PackedTypeOf(*member.type);
    // packoffset names a register and a component, 4 bytes each.
    const uint64_t offset =
        static_cast<uint64_t>(std::max(member.type->getQualifier().layoutOffset, 0)) / 4 * 4;
    if (StartsRegister(type) && offset % kRegisterBytes != 0)
        errors.Error(member, "an array, structure or matrix placed with packoffset must start a "
                             "register (.x)");
    else if (!StartsRegister(type) && Straddles(type, offset))
        errors.Error(member, "packoffset places it across a register boundary");
}

// The blocks the stage's code reads, not only declares.
class ReadBuffers : public glslang::TIntermTraverser {
  public:
    bool visitAggregate(glslang::TVisit, glslang::TIntermAggregate *node) override {
        return node->getOp() != glslang::EOpLinkerObjects;
    }
    void visitSymbol(glslang::TIntermSymbol *symbol) override {
        if (IsConstantBuffer(symbol->getType())) read.insert(symbol->getType().getStruct());
    }
    std::set<const glslang::TTypeList *> read;
};

// Members placed on the same bytes, which the Windows compiler refuses in a
// cbuffer the stage reads (X4019; vkd3d's cbuffer.shader_test).
void Overlap(const glslang::TTypeList &members, const char *placement, MemberErrors &errors) {
    std::vector<const glslang::TTypeLoc *> byOffset;
    for (const glslang::TTypeLoc &member : members)
        byOffset.push_back(&member);
    auto offset = [](const glslang::TTypeLoc *m) { return m->type->getQualifier().layoutOffset; };
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [&](auto *a, auto *b) { return offset(a) < offset(b); });
    uint64_t end                  = 0; // the furthest byte taken so far, and by whom
    const glslang::TTypeLoc *last = nullptr;
    for (const glslang::TTypeLoc *member : byOffset) {
        const uint64_t start = static_cast<uint64_t>(std::max(offset(member), 0));
        if (last && start < end) {
            errors.Error(*member, std::string(placement) + " places it on bytes of '" +
                                      last->type->getFieldName().c_str() + "'");
            return;
        }
        if (start + PackedSize(PackedTypeOf(*member->type)) > end) {
            end  = start + PackedSize(PackedTypeOf(*member->type));
            last = member;
        }
    }
}

// $Globals's members where some are placed with register(cN): those at
// their registers first, then the others in order, packed from the end of
// the last reserved byte on, not into the gaps before it
// (register-reservations-numeric.shader_test: "float a : register(c2);
// float b;" puts b at c2.y).
void PlaceGlobalMembers(glslang::TTypeList &members) {
    uint64_t end  = 0;
    bool reserved = false;
    for (const glslang::TTypeLoc &member : members) {
        const glslang::TQualifier &qualifier = member.type->getQualifier();
        if (!qualifier.hasOffset()) continue;
        reserved = true;
        end      = std::max(end, static_cast<uint64_t>(std::max(qualifier.layoutOffset, 0)) +
                                     PackedSize(PackedTypeOf(*member.type)));
    }
    if (!reserved) return;
    for (glslang::TTypeLoc &member : members) {
        glslang::TQualifier &qualifier = member.type->getQualifier();
        if (qualifier.hasOffset()) continue;
        const PackedType type  = PackedTypeOf(*member.type);
        const uint64_t offset  = PackedOffset(type, end);
        qualifier.layoutOffset = static_cast<int>(offset);
        end                    = offset + PackedSize(type);
    }
}

} // namespace

void PlaceGlobals(glslang::TIntermediate &tree) {
    const std::vector<glslang::TIntermSymbol *> buffers = FindConstantBuffers(tree);
    std::set<unsigned> claimed;
    for (const glslang::TIntermSymbol *symbol : buffers) {
        const glslang::TQualifier &qualifier = symbol->getType().getQualifier();
        if (!IsGlobals(tree, symbol->getType()) && qualifier.hasBinding())
            claimed.insert(qualifier.layoutBinding);
    }
    // The lowest register no cbuffer claims: b0 unless one says register(b0)
    // (d3d11-facts: $Globals). Past b13 the translation reports the register.
    unsigned slot = 0;
    while (claimed.count(slot) && slot < kConstantBufferSlots)
        ++slot;
    std::set<glslang::TTypeList *> placed;
    for (glslang::TIntermSymbol *symbol : buffers) {
        if (!IsGlobals(tree, symbol->getType())) continue;
        glslang::TType &type              = symbol->getWritableType();
        type.getQualifier().layoutBinding = slot;
        if (placed.insert(type.getWritableStruct()).second)
            PlaceGlobalMembers(*type.getWritableStruct());
    }
}

PackedType PackedTypeOf(const glslang::TType &type) {
    PackedType packed;
    if (type.isArray()) {
        packed.array    = true;
        packed.elements = static_cast<uint64_t>(std::max(type.getCumulativeArraySize(), 1));
    }
    const glslang::TBasicType basic = type.getBasicType();
    if (basic == glslang::EbtDouble || basic == glslang::EbtInt64 || basic == glslang::EbtUint64)
        packed.scalarBytes = 8;
    if (type.isStruct()) {
        packed.kind = PackedType::Kind::Struct;
        for (const glslang::TTypeLoc &member : *type.getStruct())
            packed.members.push_back(PackedTypeOf(*member.type));
    } else if (type.isMatrix()) {
        // glslang holds HLSL's floatRxC as R columns of C rows, and its
        // row-major as HLSL's column-major (the default).
        packed.kind     = PackedType::Kind::Matrix;
        packed.rows     = static_cast<uint64_t>(type.getMatrixCols());
        packed.columns  = static_cast<uint64_t>(type.getMatrixRows());
        packed.rowMajor = type.getQualifier().layoutMatrix == glslang::ElmColumnMajor;
    } else {
        packed.columns = static_cast<uint64_t>(std::max(type.getVectorSize(), 1));
    }
    return packed;
}

bool PackoffsetRegisters(const glslang::TIntermediate &tree, const char *fileName,
                         const std::string &source, uint32_t &registers, Diagnostics &diagnostics) {
    registers = 0;
    MemberErrors errors{fileName, source, diagnostics};
    std::set<const glslang::TTypeList *> seen;
    ReadBuffers reader;
    if (tree.getTreeRoot()) tree.getTreeRoot()->traverse(&reader);
    for (const glslang::TIntermSymbol *symbol : FindConstantBuffers(tree)) {
        const glslang::TType &block = symbol->getType();
        if (!seen.insert(block.getStruct()).second) continue;
        const glslang::TTypeLoc *placed = nullptr, *plain = nullptr; // the first of each
        for (const glslang::TTypeLoc &member : *block.getStruct()) {
            if (!member.type->getQualifier().hasOffset()) {
                if (!plain) plain = &member;
                continue;
            }
            if (!placed) placed = &member;
            MisplacedMember(member, errors);
        }
        if (!placed) continue;
        // The Windows compiler's X3530 (HLSL's list of errors and warnings);
        // $Globals's offsets are its register(cN)s, placed by PlaceGlobals,
        // a packoffset there being refused before the parse.
        if (plain && !IsGlobals(tree, block))
            errors.Error(*plain,
                         "cannot mix packoffset elements with nonpackoffset elements in a cbuffer",
                         "X3530");
        else if (reader.read.count(block.getStruct()))
            Overlap(*block.getStruct(), IsGlobals(tree, block) ? "register(c)" : "packoffset",
                    errors);
        if (!plain && block.getQualifier().layoutBinding < 32)
            registers |= 1u << block.getQualifier().layoutBinding;
    }
    return !errors.any;
}
