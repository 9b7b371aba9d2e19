// Matrices in the forms SPIR-V allows: see matrices.h.
#include "platform/gl/spirv/matrices.h"

#include <GLSL.std.450.h>

#include <algorithm>
#include <map>
#include <utility>

namespace {

struct Shape {
    uint32_t column  = 0; // a vector type
    uint32_t columns = 0;
    uint32_t rows    = 0;
    uint32_t scalar  = 0;
    bool integer     = false; // int, uint or bool: declared as an array of its columns
};

// A block member of an integer matrix type, which now holds an array with
// the member's stride: of its rows where the layout is row-major.
struct LaidOut {
    uint32_t type   = 0; // the array
    uint32_t matrix = 0; // the matrix type it is read as
    bool rows       = false;
};

// A pointer into a laid-out member that is no SPIR-V pointer: the member
// itself, or a column of a member laid out by rows.
struct Place {
    uint32_t pointer = 0; // to the member's array
    LaidOut layout;
    bool column    = false;
    uint32_t index = 0; // the column's index id
};

struct Pass {
    SpirvModule &module;
    std::map<uint32_t, Shape> shapes;                         // every matrix type
    std::map<uint32_t, std::vector<uint32_t>> structs;        // struct -> member types
    std::map<std::pair<uint32_t, uint32_t>, LaidOut> members; // (struct, member index)
    std::map<uint32_t, Place> places;                         // by access chain result
    std::vector<SpirvInstruction> out;
};

uint32_t Emit(Pass &p, spv::Op op, uint32_t type, std::vector<uint32_t> operands,
              uint32_t result = 0) {
    return EmitInstruction(p.module, p.out, op, type, std::move(operands), result);
}

const Shape *ShapeOf(const Pass &p, uint32_t type) {
    auto at = p.shapes.find(type);
    return at == p.shapes.end() ? nullptr : &at->second;
}

bool Componentwise(spv::Op op) {
    return (op >= spv::OpConvertFToU && op <= spv::OpFConvert) || op == spv::OpBitcast ||
           (op >= spv::OpSNegate && op <= spv::OpFMod) ||
           (op >= spv::OpLogicalEqual && op <= spv::OpLogicalNot) ||
           (op >= spv::OpIEqual && op <= spv::OpFUnordGreaterThanEqual) ||
           (op >= spv::OpShiftRightLogical && op <= spv::OpNot) || op == spv::OpExtInst;
}

// Whether the instruction is a component-wise operation whose result is a
// matrix: those GLSL.std.450 functions that are not matrix functions.
bool SplitsByColumn(const SpirvModule &module, const SpirvInstruction &ins,
                    const std::map<uint32_t, Shape> &shapes) {
    if (!Componentwise(ins.opcode) || ins.operands.size() < 3 || !shapes.count(ins.operands[0]))
        return false;
    if (ins.opcode != spv::OpExtInst) return true;
    return ins.operands.size() > 4 && ins.operands[2] == GlslExtInst(module) &&
           ins.operands[3] != GLSLstd450MatrixInverse;
}

// The type of an operand's component at a literal index.
uint32_t Member(const Pass &p, uint32_t type, uint32_t index) {
    if (const Shape *shape = ShapeOf(p, type)) return shape->column;
    auto s = p.structs.find(type);
    if (s != p.structs.end()) return index < s->second.size() ? s->second[index] : 0;
    if (const SpirvDeclaration *array = Declaration(p.module, type, spv::OpTypeArray))
        return array->operands[0];
    if (const SpirvDeclaration *array = Declaration(p.module, type, spv::OpTypeRuntimeArray))
        return array->operands[0];
    auto numeric = p.module.types.find(type);
    return numeric != p.module.types.end() ? numeric->second.scalar : 0;
}

uint32_t StorageOf(const Pass &p, uint32_t pointer) {
    const SpirvDeclaration *type =
        Declaration(p.module, TypeOf(p.module, pointer), spv::OpTypePointer);
    return type ? type->operands[0] : 0;
}

// A column of a matrix value held by rows: its components gathered.
uint32_t GatherColumn(Pass &p, const Shape &shape, uint32_t rows, uint32_t column,
                      uint32_t result = 0) {
    std::vector<uint32_t> components;
    for (uint32_t r = 0; r < shape.rows; ++r)
        components.push_back(Emit(p, spv::OpCompositeExtract, shape.scalar, {rows, r, column}));
    return Emit(p, spv::OpCompositeConstruct, shape.column, components, result);
}

// The matrix a laid-out member's array value holds.
uint32_t ReadLaidOut(Pass &p, const LaidOut &layout, uint32_t value, uint32_t result) {
    const Shape &shape = p.shapes.at(layout.matrix);
    std::vector<uint32_t> columns;
    for (uint32_t c = 0; c < shape.columns; ++c)
        columns.push_back(layout.rows ? GatherColumn(p, shape, value, c)
                                      : Emit(p, spv::OpCompositeExtract, shape.column, {value, c}));
    return Emit(p, spv::OpCompositeConstruct, layout.matrix, columns, result);
}

// The part of an access chain past a laid-out member: indexes is what
// follows the member, pointer the chain to its array.
void ChainIntoLaidOut(Pass &p, const SpirvInstruction &ins, const LaidOut &layout, uint32_t pointer,
                      std::vector<uint32_t> indexes) {
    const uint32_t type = ins.operands[0], result = ins.operands[1];
    if (indexes.empty()) {
        p.places[result] = {pointer, layout, false, 0};
    } else if (indexes.size() == 1 && layout.rows) {
        p.places[result] = {pointer, layout, true, indexes[0]};
    } else {
        if (layout.rows) std::swap(indexes[0], indexes[1]);
        indexes.insert(indexes.begin(), pointer);
        Emit(p, ins.opcode, type, indexes, result);
    }
}

bool RewriteAccessChain(Pass &p, const SpirvInstruction &ins) {
    const std::vector<uint32_t> &o = ins.operands;
    const uint32_t base            = o[2];
    std::vector<uint32_t> indexes(o.begin() + 3, o.end());
    auto place = p.places.find(base);
    if (place != p.places.end()) {
        if (place->second.column) indexes.insert(indexes.begin(), place->second.index);
        ChainIntoLaidOut(p, ins, place->second.layout, place->second.pointer, indexes);
        return true;
    }
    const SpirvDeclaration *pointer =
        Declaration(p.module, TypeOf(p.module, base), spv::OpTypePointer);
    if (!pointer) return false;
    uint32_t type = pointer->operands[1];
    for (size_t i = 0; i < indexes.size(); ++i) {
        const std::vector<uint32_t> k = ConstantValue(p.module, indexes[i]);
        const uint32_t index          = k.size() == 1 ? k[0] : 0;
        auto member                   = p.members.find({type, index});
        if (!p.structs.count(type) || member == p.members.end()) {
            type = Member(p, type, index);
            continue;
        }
        const LaidOut &layout = member->second;
        std::vector<uint32_t> head(indexes.begin(), indexes.begin() + i + 1);
        head.insert(head.begin(), base);
        const uint32_t chain =
            Emit(p, ins.opcode, PointerType(p.module, pointer->operands[0], layout.type), head);
        ChainIntoLaidOut(p, ins, layout, chain,
                         std::vector<uint32_t>(indexes.begin() + i + 1, indexes.end()));
        return true;
    }
    return false;
}

bool RewriteLoad(Pass &p, const SpirvInstruction &ins) {
    auto place = p.places.find(ins.operands[2]);
    if (place == p.places.end()) return false;
    const Place &at       = place->second;
    const uint32_t result = ins.operands[1];
    if (!at.column) {
        const uint32_t value = Emit(p, spv::OpLoad, at.layout.type, {at.pointer});
        ReadLaidOut(p, at.layout, value, result);
        return true;
    }
    const Shape &shape         = p.shapes.at(at.layout.matrix);
    const uint32_t pointerType = PointerType(p.module, StorageOf(p, at.pointer), shape.scalar);
    std::vector<uint32_t> components;
    for (uint32_t r = 0; r < shape.rows; ++r) {
        const uint32_t row = Constant(p.module, IntType(p.module, true, 1), r);
        const uint32_t component =
            Emit(p, spv::OpAccessChain, pointerType, {at.pointer, row, at.index});
        components.push_back(Emit(p, spv::OpLoad, shape.scalar, {component}));
    }
    Emit(p, spv::OpCompositeConstruct, shape.column, components, result);
    return true;
}

// An extract from a struct value that holds a laid-out member.
bool RewriteExtract(Pass &p, const SpirvInstruction &ins) {
    const std::vector<uint32_t> &o = ins.operands;
    uint32_t type                  = TypeOf(p.module, o[2]);
    for (size_t i = 3; i < o.size(); ++i) {
        auto member = p.members.find({type, o[i]});
        if (!p.structs.count(type) || member == p.members.end()) {
            type = Member(p, type, o[i]);
            continue;
        }
        const LaidOut &layout = member->second;
        const Shape &shape    = p.shapes.at(layout.matrix);
        std::vector<uint32_t> head(o.begin() + 2, o.begin() + i + 1);
        const uint32_t value = Emit(p, spv::OpCompositeExtract, layout.type, head);
        std::vector<uint32_t> rest(o.begin() + i + 1, o.end());
        if (rest.empty()) {
            ReadLaidOut(p, layout, value, o[1]);
        } else if (rest.size() == 1 && layout.rows) {
            GatherColumn(p, shape, value, rest[0], o[1]);
        } else {
            if (layout.rows) std::swap(rest[0], rest[1]);
            rest.insert(rest.begin(), value);
            Emit(p, spv::OpCompositeExtract, o[0], rest, o[1]);
        }
        return true;
    }
    return false;
}

// The vector of count components of a 32-bit scalar type, 0 for another
// type: a scalar beside a matrix applies to every component.
uint32_t Widened(Pass &p, uint32_t scalar, uint32_t count) {
    auto t = p.module.types.find(scalar);
    if (t == p.module.types.end() || t->second.count != 1) return 0;
    if (t->second.kind == spv::OpTypeBool) return BoolType(p.module, count);
    if (t->second.width != 32) return 0;
    return t->second.kind == spv::OpTypeFloat ? FloatType(p.module, count)
                                              : IntType(p.module, t->second.isSigned, count);
}

void SplitByColumn(Pass &p, const SpirvInstruction &ins) {
    const Shape shape   = p.shapes.at(ins.operands[0]);
    const size_t values = ins.opcode == spv::OpExtInst ? 4 : 2;
    std::vector<uint32_t> columns;
    for (uint32_t c = 0; c < shape.columns; ++c) {
        std::vector<uint32_t> operands(ins.operands.begin() + 2, ins.operands.end());
        for (size_t i = values - 2; i < operands.size(); ++i)
            if (const Shape *operand = ShapeOf(p, TypeOf(p.module, operands[i])))
                operands[i] = Emit(p, spv::OpCompositeExtract, operand->column, {operands[i], c});
            else if (const uint32_t vector = Widened(p, TypeOf(p.module, operands[i]), shape.rows))
                operands[i] = Emit(p, spv::OpCompositeConstruct, vector,
                                   std::vector<uint32_t>(shape.rows, operands[i]));
        columns.push_back(Emit(p, ins.opcode, shape.column, operands));
    }
    Emit(p, spv::OpCompositeConstruct, ins.operands[0], columns, ins.operands[1]);
}

bool RewriteTranspose(Pass &p, const SpirvInstruction &ins) {
    const Shape *shape = ShapeOf(p, ins.operands[0]);
    if (!shape || !shape->integer || ins.operands.size() != 3) return false;
    std::vector<uint32_t> columns;
    for (uint32_t c = 0; c < shape->columns; ++c) {
        std::vector<uint32_t> components;
        for (uint32_t r = 0; r < shape->rows; ++r)
            components.push_back(
                Emit(p, spv::OpCompositeExtract, shape->scalar, {ins.operands[2], r, c}));
        columns.push_back(Emit(p, spv::OpCompositeConstruct, shape->column, components));
    }
    Emit(p, spv::OpCompositeConstruct, ins.operands[0], columns, ins.operands[1]);
    return true;
}

bool Rewrite(Pass &p, const SpirvInstruction &ins) {
    if (ins.operands.size() < 3) return false;
    switch (ins.opcode) {
    case spv::OpAccessChain:
    case spv::OpInBoundsAccessChain:
        return !p.members.empty() && RewriteAccessChain(p, ins);
    case spv::OpLoad:
        return RewriteLoad(p, ins);
    case spv::OpCompositeExtract:
        return !p.members.empty() && RewriteExtract(p, ins);
    case spv::OpTranspose:
        return RewriteTranspose(p, ins);
    default:
        if (!SplitsByColumn(p.module, ins, p.shapes)) return false;
        SplitByColumn(p, ins);
        return true;
    }
}

// Each integer or bool matrix type becomes an array of its columns.
void DeclareAsArrays(Pass &p) {
    SpirvModule &m       = p.module;
    const uint32_t uintT = IntType(m, false, 1);
    bool declared        = false;
    for (auto &[id, shape] : p.shapes) {
        if (!shape.integer) continue;
        const uint32_t length = Constant(m, uintT, shape.columns);
        for (SpirvInstruction &g : m.globals)
            if (g.opcode == spv::OpTypeMatrix && g.operands[0] == id)
                g = {spv::OpTypeArray, {id, shape.column, length}};
        m.declarations.Set(id, {spv::OpTypeArray, {shape.column, length}});
        declared = true;
    }
    if (!declared) return;
    // The lengths may be new constants, declared after the arrays: the
    // scalar types and constants, which need nothing else, go first.
    auto rank = [&](const SpirvInstruction &g) {
        if (g.opcode == spv::OpTypeInt || g.opcode == spv::OpTypeFloat ||
            g.opcode == spv::OpTypeBool)
            return 0;
        if (g.opcode == spv::OpConstant && g.operands.size() == 3) return 1;
        return 2;
    };
    std::stable_sort(
        m.globals.begin(), m.globals.end(),
        [&](const SpirvInstruction &a, const SpirvInstruction &b) { return rank(a) < rank(b); });
}

// Block members of an integer matrix type take an array laid out as the
// member is: its MatrixStride becomes the array's stride, and a row-major
// member holds its rows.
void LayOutMembers(Pass &p) {
    SpirvModule &m = p.module;
    std::map<std::pair<uint32_t, uint32_t>, std::pair<uint32_t, bool>> strides; // stride, rows
    for (const SpirvInstruction &d : m.preamble) {
        if (d.opcode != spv::OpMemberDecorate || d.operands.size() < 3) continue;
        auto &entry = strides[{d.operands[0], d.operands[1]}];
        if (d.operands[2] == spv::DecorationMatrixStride && d.operands.size() > 3)
            entry.first = d.operands[3];
        if (d.operands[2] == spv::DecorationRowMajor) entry.second = true;
    }
    for (auto &[key, entry] : strides) {
        auto s = p.structs.find(key.first);
        if (!entry.first || s == p.structs.end() || key.second >= s->second.size()) continue;
        const uint32_t matrix   = s->second[key.second];
        const Shape *shape      = ShapeOf(p, matrix);
        const SpirvType *scalar = shape ? &m.types.at(shape->scalar) : nullptr;
        if (!shape || !shape->integer || scalar->kind != spv::OpTypeInt) continue;
        const bool rows   = entry.second;
        const size_t tail = m.globals.size();
        const uint32_t element =
            rows ? IntType(m, scalar->isSigned, shape->columns) : shape->column;
        const uint32_t length =
            Constant(m, IntType(m, false, 1), rows ? shape->rows : shape->columns);
        const uint32_t array = FreshId(m);
        AddGlobal(m, spv::OpTypeArray, {array, element, length});
        Decorate(m, array, spv::DecorationArrayStride, {entry.first});
        p.members[key]        = {array, matrix, rows};
        s->second[key.second] = array;
        // The struct now needs the array and what it adds: they go before it.
        const uint32_t structType = key.first; // a lambda cannot name a structured binding
        auto at = std::find_if(m.globals.begin(), m.globals.end(), [&](const SpirvInstruction &g) {
            return g.opcode == spv::OpTypeStruct && g.operands[0] == structType;
        });
        at->operands[1 + key.second]   = array;
        const std::vector<uint32_t> &o = at->operands;
        m.declarations.Set(key.first,
                           {spv::OpTypeStruct, {o.size() > 1 ? o[1] : 0, o.size() > 2 ? o[2] : 0}});
        std::rotate(at, m.globals.begin() + tail, m.globals.end());
    }
    // The array's stride replaces the member's matrix layout.
    m.preamble.erase(std::remove_if(m.preamble.begin(), m.preamble.end(),
                                    [&](const SpirvInstruction &d) {
                                        return d.opcode == spv::OpMemberDecorate &&
                                               d.operands.size() > 2 &&
                                               p.members.count({d.operands[0], d.operands[1]}) &&
                                               (d.operands[2] == spv::DecorationMatrixStride ||
                                                d.operands[2] == spv::DecorationRowMajor ||
                                                d.operands[2] == spv::DecorationColMajor);
                                    }),
                     m.preamble.end());
}

std::map<uint32_t, Shape> MatrixShapes(const SpirvModule &module) {
    std::map<uint32_t, Shape> shapes;
    for (const auto &[id, declaration] : module.declarations) {
        if (declaration.opcode != spv::OpTypeMatrix) continue;
        auto column = module.types.find(declaration.operands[0]);
        if (column == module.types.end()) continue;
        const SpirvType &t = column->second;
        shapes[id]         = {declaration.operands[0], declaration.operands[1], t.count, t.scalar,
                              t.kind != spv::OpTypeFloat};
    }
    return shapes;
}

} // namespace

bool HoldsMatrixToSplit(const SpirvModule &module) {
    if (!Holds(module, spv::OpTypeMatrix)) return false;
    const std::map<uint32_t, Shape> shapes = MatrixShapes(module);
    for (const auto &[id, shape] : shapes)
        if (shape.integer) return true;
    for (const SpirvInstruction &ins : module.code)
        if (SplitsByColumn(module, ins, shapes)) return true;
    return false;
}

bool SplitMatrixOperations(SpirvModule &module, const SpirvPassContext &, Diagnostics &) {
    Pass p{module, MatrixShapes(module), {}, {}, {}, {}};
    for (const SpirvInstruction &g : module.globals)
        if (g.opcode == spv::OpTypeStruct && !g.operands.empty())
            p.structs[g.operands[0]].assign(g.operands.begin() + 1, g.operands.end());
    LayOutMembers(p);
    DeclareAsArrays(p);
    p.out.reserve(module.code.size());
    for (SpirvInstruction &ins : module.code)
        if (!Rewrite(p, ins)) p.out.push_back(std::move(ins));
    module.code = std::move(p.out);
    return true;
}
