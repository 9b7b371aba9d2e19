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

// A message in glslang's shape, "ERROR: file:line: 'name' : text", which
// the compiler's messages turn into the Windows shape, finding the column by
// the name.
std::string Diagnostic(const glslang::TTypeLoc &member, const char *fileName,
                       const std::string &text) {
    const char *file = member.loc.getFilename() ? member.loc.getFilename() : fileName;
    return "ERROR: " + std::string(file) + ":" + std::to_string(member.loc.line) + ": '" +
           member.type->getFieldName().c_str() + "' : " + text + "\n";
}

// What the Windows compiler refuses in a cbuffer's packoffsets (vkd3d's
// tests/hlsl/cbuffer.shader_test, run against it): a register component
// past .w ("float2 a : packoffset(c0.w)" would cross into c1), and arrays,
// structures and matrices that do not start a register.
std::string MisplacedMember(const glslang::TTypeLoc &member, const char *fileName) {
    const glslang::TType &type = *member.type;
    const int component        = (type.getQualifier().layoutOffset % 16) / 4;
    if ((type.isArray() || type.isStruct() || type.isMatrix()) && component != 0)
        return Diagnostic(member, fileName,
                          "an array, structure or matrix placed with packoffset must start a "
                          "register (.x)");
    const int width      = type.getBasicType() == glslang::EbtDouble ? 2 : 1;
    const int components = std::max(1, type.getVectorSize()) * width;
    if (!type.isArray() && !type.isStruct() && !type.isMatrix() && component + components > 4)
        return Diagnostic(member, fileName, "packoffset places it across a register boundary");
    return "";
}

// At least the bytes HLSL packing gives the type (matrices count their
// shorter side), for telling overlapping packoffsets apart.
int HlslSize(const glslang::TType &type) {
    if (type.isArray()) {
        const glslang::TType element(type, 0);
        const int size = HlslSize(element);
        return type.getOuterArraySize() > 0
                   ? (type.getOuterArraySize() - 1) * ((size + 15) & ~15) + size
                   : size;
    }
    if (type.isStruct()) {
        int offset = 0;
        for (const glslang::TTypeLoc &member : *type.getStruct()) {
            const int size = HlslSize(*member.type);
            if (member.type->isArray() || member.type->isStruct() || (offset % 16) + size > 16)
                offset = (offset + 15) & ~15;
            offset += size;
        }
        return offset;
    }
    const int scalar = type.getBasicType() == glslang::EbtDouble ? 8 : 4;
    if (type.isMatrix()) {
        const int side = std::min(type.getMatrixCols(), type.getMatrixRows());
        return 16 * (side - 1) + scalar * side;
    }
    return scalar * std::max(1, type.getVectorSize());
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
std::string Overlap(const glslang::TTypeList &members, const char *fileName) {
    std::vector<const glslang::TTypeLoc *> byOffset;
    for (const glslang::TTypeLoc &member : members)
        byOffset.push_back(&member);
    auto offset = [](const glslang::TTypeLoc *m) { return m->type->getQualifier().layoutOffset; };
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [&](auto *a, auto *b) { return offset(a) < offset(b); });
    int end                       = 0; // the furthest byte taken so far, and by whom
    const glslang::TTypeLoc *last = nullptr;
    for (const glslang::TTypeLoc *member : byOffset) {
        if (last && offset(member) < end)
            return Diagnostic(*member, fileName,
                              std::string("packoffset places it on bytes of '") +
                                  last->type->getFieldName().c_str() + "'");
        if (offset(member) + HlslSize(*member->type) > end) {
            end  = offset(member) + HlslSize(*member->type);
            last = member;
        }
    }
    return "";
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
    for (glslang::TIntermSymbol *symbol : buffers)
        if (IsGlobals(tree, symbol->getType()))
            symbol->getWritableType().getQualifier().layoutBinding = slot;
}

bool PackoffsetRegisters(const glslang::TIntermediate &tree, const char *fileName,
                         uint32_t &registers, std::string &log) {
    registers = 0;
    std::string errors;
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
            errors += MisplacedMember(member, fileName);
        }
        if (!placed) continue;
        // The Windows compiler's X3091 and X3530 (HLSL's list of errors and
        // warnings).
        if (IsGlobals(tree, block))
            errors +=
                Diagnostic(*placed, fileName, "packoffset is only allowed in a constant buffer");
        else if (plain)
            errors += Diagnostic(*plain, fileName,
                                 "cannot mix packoffset elements with nonpackoffset elements in a "
                                 "cbuffer");
        else if (reader.read.count(block.getStruct()))
            errors += Overlap(*block.getStruct(), fileName);
        if (!plain && block.getQualifier().layoutBinding < 32)
            registers |= 1u << block.getQualifier().layoutBinding;
    }
    log += errors;
    return errors.empty();
}
