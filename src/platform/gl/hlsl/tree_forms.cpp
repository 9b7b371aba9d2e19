// Matrix forms rewritten in glslang's tree (tree_forms.h).
#include "platform/gl/hlsl/tree_forms.h"

#include "platform/gl/hlsl/lexer.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using glslang::TIntermTyped;

// Row i of a matrix value, m[i]: glslang keeps an HLSL matrix's rows as its
// columns.
TIntermTyped *Row(glslang::TIntermediate &tree, TIntermTyped *matrix, int i) {
    const glslang::TType &type = matrix->getType();
    TIntermTyped *row =
        tree.addIndex(glslang::EOpIndexDirect, matrix,
                      tree.addConstantUnion(i, matrix->getLoc(), true), matrix->getLoc());
    row->setType(glslang::TType(type.getBasicType(), glslang::EvqTemporary, type.getMatrixRows()));
    return row;
}

bool IsConstructor(glslang::TOperator op) {
    return op > glslang::EOpConstructGuardStart && op < glslang::EOpConstructGuardEnd;
}

// A whole int or uint matrix: a bool matrix the writer cannot construct from
// rows either.
bool IsIntegerMatrix(const glslang::TType &type) {
    return type.isMatrix() && !type.isArray() &&
           (type.getBasicType() == glslang::EbtInt || type.getBasicType() == glslang::EbtUint);
}

// The operators the SPIR-V writer has for float matrices only, and the one
// each compound assignment applies.
glslang::TOperator RowOperator(glslang::TOperator op) {
    using namespace glslang;
    switch (op) {
    case EOpAdd:
    case EOpSub:
    case EOpMul:
    case EOpDiv:
    case EOpMod:
    case EOpAnd:
    case EOpInclusiveOr:
    case EOpExclusiveOr:
    case EOpLeftShift:
    case EOpRightShift:
        return op;
    case EOpAddAssign:
        return EOpAdd;
    case EOpSubAssign:
        return EOpSub;
    case EOpMulAssign:
        return EOpMul;
    case EOpDivAssign:
        return EOpDiv;
    case EOpModAssign:
        return EOpMod;
    case EOpAndAssign:
        return EOpAnd;
    case EOpInclusiveOrAssign:
        return EOpInclusiveOr;
    case EOpExclusiveOrAssign:
        return EOpExclusiveOr;
    case EOpLeftShiftAssign:
        return EOpLeftShift;
    case EOpRightShiftAssign:
        return EOpRightShift;
    default:
        return EOpNull;
    }
}

// The matrix of type made of op applied row by row to left and right (a
// matrix gives its row, a scalar itself).
TIntermTyped *RowWise(glslang::TIntermediate &tree, glslang::TOperator op,
                      const glslang::TType &type, TIntermTyped *left, TIntermTyped *right) {
    auto *matrix = new glslang::TIntermAggregate(tree.mapTypeToConstructorOp(type));
    matrix->setType(type);
    matrix->setLoc(left->getLoc());
    for (int i = 0; i < type.getMatrixCols(); ++i) {
        auto *row = new glslang::TIntermBinary(op);
        row->setLeft(left->getType().isMatrix() ? Row(tree, left, i) : left);
        row->setRight(right->getType().isMatrix() ? Row(tree, right, i) : right);
        row->setType(
            glslang::TType(type.getBasicType(), glslang::EvqTemporary, type.getMatrixRows()));
        row->setLoc(left->getLoc());
        matrix->getSequence().push_back(row);
    }
    return matrix;
}

// value converted to the basic type to; null where it cannot be.
TIntermTyped *Converted(glslang::TIntermediate &tree, glslang::TBasicType to, TIntermTyped *value) {
    if (!value || value->getBasicType() == to) return value;
    return tree.addConversion(to, value);
}

// Element k, row by row, of a matrix; anything else as it is.
TIntermTyped *Element(glslang::TIntermediate &tree, TIntermTyped *value, int k) {
    const glslang::TType &type = value->getType();
    if (!type.isMatrix() || type.isArray()) return value;
    const int columns = type.getMatrixRows();
    TIntermTyped *row = Row(tree, value, k / columns);
    TIntermTyped *column =
        tree.addIndex(glslang::EOpIndexDirect, row,
                      tree.addConstantUnion(k % columns, value->getLoc(), true), value->getLoc());
    column->setType(glslang::TType(type.getBasicType(), glslang::EvqTemporary));
    return column;
}

// Argument k of the bool matrix a comparison of matrices makes: glslang's
// front end gives each the whole comparison, of the matrices; it becomes the
// comparison of their elements k.
TIntermTyped *Compared(glslang::TIntermediate &tree, TIntermTyped *argument, int k) {
    glslang::TIntermBinary *compare = argument ? argument->getAsBinaryNode() : nullptr;
    if (!compare || !compare->getType().isScalar() ||
        (!compare->getLeft()->getType().isMatrix() && !compare->getRight()->getType().isMatrix()))
        return argument;
    auto *element = new glslang::TIntermBinary(compare->getOp());
    element->setLeft(Element(tree, compare->getLeft(), k));
    element->setRight(Element(tree, compare->getRight(), k));
    element->setType(compare->getType());
    element->setLoc(compare->getLoc());
    return element;
}

// A bool matrix made of scalars and vectors, as the int matrix of them
// converted to bool, which the writer makes; null where node is none.
TIntermTyped *BoolMatrix(glslang::TIntermediate &tree, glslang::TIntermAggregate *node) {
    const glslang::TType &type = node->getType();
    if (!IsConstructor(node->getOp()) || !type.isMatrix() || type.isArray() ||
        type.getBasicType() != glslang::EbtBool)
        return nullptr;
    glslang::TType ints;
    ints.shallowCopy(type);
    ints.setBasicType(glslang::EbtInt);
    auto *matrix = new glslang::TIntermAggregate(tree.mapTypeToConstructorOp(ints));
    matrix->setType(ints);
    matrix->setLoc(node->getLoc());
    const glslang::TIntermSequence &sequence = node->getSequence();
    for (size_t k = 0; k < sequence.size(); ++k) {
        // Through bool, so that a float argument converts as to bool (not 0).
        TIntermTyped *argument = Compared(tree, sequence[k]->getAsTyped(), static_cast<int>(k));
        if (!argument || argument->getType().isMatrix() || argument->getType().isArray())
            return nullptr;
        TIntermTyped *value =
            Converted(tree, glslang::EbtInt, Converted(tree, glslang::EbtBool, argument));
        if (!value) return nullptr;
        matrix->getSequence().push_back(value);
    }
    return Converted(tree, glslang::EbtBool, matrix);
}

// ~m row by row, and ++ and -- as the assignment of m + 1 or m - 1 (whose
// value is the new one, for m++ too).
TIntermTyped *Unary(glslang::TIntermediate &tree, glslang::TIntermUnary *node) {
    using namespace glslang;
    const TType &type     = node->getType();
    TIntermTyped *operand = node->getOperand();
    const TSourceLoc &loc = node->getLoc();
    const TOperator op    = node->getOp();
    const bool increment  = op == EOpPostIncrement || op == EOpPreIncrement;
    const bool decrement  = op == EOpPostDecrement || op == EOpPreDecrement;
    if (increment || decrement) {
        TIntermTyped *one = tree.addConstantUnion(1, loc, true);
        if (type.getBasicType() == EbtUint) one = tree.addConstantUnion(1u, loc, true);
        auto *assign = new TIntermBinary(EOpAssign);
        assign->setLeft(operand);
        assign->setRight(RowWise(tree, increment ? EOpAdd : EOpSub, type, operand, one));
        assign->setType(type);
        assign->setLoc(loc);
        return assign;
    }
    if (op != EOpBitwiseNot && op != EOpNegative) return nullptr;
    auto *matrix = new TIntermAggregate(tree.mapTypeToConstructorOp(type));
    matrix->setType(type);
    matrix->setLoc(loc);
    for (int i = 0; i < type.getMatrixCols(); ++i) {
        auto *row = new TIntermUnary(op);
        row->setOperand(Row(tree, operand, i));
        row->setType(TType(type.getBasicType(), EvqTemporary, type.getMatrixRows()));
        row->setLoc(loc);
        matrix->getSequence().push_back(row);
    }
    return matrix;
}

// The one argument of a matrix constructor that is a matrix of its type
// already, as a cast of a scalar gives (around the matrix the scalar is
// spread over), and which the writer crashes on for bool; null where there
// is none.
TIntermTyped *SameMatrix(glslang::TIntermAggregate *node) {
    const glslang::TType &type = node->getType();
    if (!IsConstructor(node->getOp()) || !type.isMatrix() || type.isArray() ||
        node->getSequence().size() != 1)
        return nullptr;
    TIntermTyped *argument = node->getSequence()[0]->getAsTyped();
    if (!argument) return nullptr;
    const glslang::TType &from = argument->getType();
    const bool same            = from.isMatrix() && !from.isArray() &&
                      from.getBasicType() == type.getBasicType() &&
                      from.getMatrixCols() == type.getMatrixCols() &&
                      from.getMatrixRows() == type.getMatrixRows();
    return same ? argument : nullptr;
}

// The arguments of an int, uint or float matrix's constructor converted to
// its element type: glslang spreads a scalar over a matrix ((int2x2)x,
// int2x2 m = x) without converting it. A bool matrix's converts each
// argument itself (BoolMatrix).
void ConvertArguments(glslang::TIntermediate &tree, glslang::TIntermAggregate *node) {
    const glslang::TType &type = node->getType();
    if (!IsConstructor(node->getOp()) || !type.isMatrix() || type.isArray() ||
        type.getBasicType() == glslang::EbtBool)
        return;
    for (TIntermNode *&child : node->getSequence()) {
        TIntermTyped *argument = child->getAsTyped();
        if (!argument || argument->getType().isMatrix() || argument->getType().isArray() ||
            argument->getType().isStruct())
            continue;
        if (TIntermTyped *converted = Converted(tree, type.getBasicType(), argument))
            child = converted;
    }
}

// The replacement of an operation on whole int or uint matrices, or of a
// bool matrix's construction; null where node is none.
TIntermTyped *Replacement(glslang::TIntermediate &tree, TIntermNode *node) {
    glslang::TIntermAggregate *aggregate = node ? node->getAsAggregate() : nullptr;
    if (TIntermTyped *same = aggregate ? SameMatrix(aggregate) : nullptr) return same;
    if (aggregate) return BoolMatrix(tree, aggregate);
    glslang::TIntermUnary *unary = node ? node->getAsUnaryNode() : nullptr;
    if (unary && IsIntegerMatrix(unary->getType())) return Unary(tree, unary);
    glslang::TIntermBinary *binary = node ? node->getAsBinaryNode() : nullptr;
    if (!binary || !IsIntegerMatrix(binary->getType())) return nullptr;
    const glslang::TOperator op = RowOperator(binary->getOp());
    if (op == glslang::EOpNull || op != binary->getOp()) return nullptr;
    return RowWise(tree, op, binary->getType(), binary->getLeft(), binary->getRight());
}

// Where the text parsed has a '*' or '*=': file, line and column, as
// glslang places the operation it reads there.
using Places = std::set<std::tuple<std::string, int, int>>;

Places MultiplyPlaces(const std::string &text, const std::string &fileName) {
    Places places;
    const LexedHlsl lexed = LexHlsl(text, fileName);
    for (const Token &t : lexed.tokens)
        if (Is(text, t, "*") || Is(text, t, "*=")) {
            places.emplace(lexed.files[t.file], t.line, t.column);
            places.emplace(std::string(), t.line, t.column); // glslang names no file
        }
    return places;
}

class Rewriter : public glslang::TIntermTraverser {
  public:
    Rewriter(glslang::TIntermediate &tree, const Places &multiplies)
        : glslang::TIntermTraverser(false, false, true), tree_(tree), multiplies_(multiplies) {}

    bool visitBinary(glslang::TVisit, glslang::TIntermBinary *node) override {
        Componentwise(node);
        if (TIntermTyped *left = Replacement(tree_, node->getLeft())) node->setLeft(left);
        if (TIntermTyped *right = Replacement(tree_, node->getRight())) node->setRight(right);
        // m += n on int matrices: m = m + n, row by row.
        const glslang::TOperator op = RowOperator(node->getOp());
        if (op != glslang::EOpNull && op != node->getOp() && IsIntegerMatrix(node->getType())) {
            node->setRight(RowWise(tree_, op, node->getType(), node->getLeft(), node->getRight()));
            node->setOp(glslang::EOpAssign);
        }
        return true;
    }

    bool visitUnary(glslang::TVisit, glslang::TIntermUnary *node) override {
        if (TIntermTyped *operand = Replacement(tree_, node->getOperand()))
            node->setOperand(operand);
        return true;
    }

    // return x from a function of a matrix type spreads x over it.
    bool visitBranch(glslang::TVisit, glslang::TIntermBranch *node) override {
        if (TIntermTyped *value = Replacement(tree_, node->getExpression()))
            node->setExpression(value);
        return true;
    }

    // c ? m : x likewise, for either value.
    bool visitSelection(glslang::TVisit, glslang::TIntermSelection *node) override {
        if (TIntermTyped *value = Replacement(tree_, node->getTrueBlock()))
            node->setTrueBlock(value);
        if (TIntermTyped *value = Replacement(tree_, node->getFalseBlock()))
            node->setFalseBlock(value);
        return true;
    }

    bool visitAggregate(glslang::TVisit, glslang::TIntermAggregate *node) override {
        glslang::TIntermSequence &sequence = node->getSequence();
        for (TIntermNode *&child : sequence)
            if (TIntermTyped *replaced = Replacement(tree_, child)) child = replaced;
        ConvertArguments(tree_, node);
        if (!IsConstructor(node->getOp()) || sequence.size() < 2) return true;
        glslang::TIntermSequence flattened;
        for (TIntermNode *child : sequence) {
            TIntermTyped *argument = child->getAsTyped();
            if (!argument || !argument->getType().isMatrix() || argument->getType().isArray()) {
                flattened.push_back(child);
                continue;
            }
            for (int i = 0; i < argument->getType().getMatrixCols(); ++i)
                flattened.push_back(Row(tree_, argument, i));
        }
        sequence = flattened;
        return true;
    }

  private:
    // a * b of two matrices multiplies their elements; glslang reads it as
    // mul(a, b), the matrix product, which it also makes of mul().
    void Componentwise(glslang::TIntermBinary *node) {
        const bool assign = node->getOp() == glslang::EOpMatrixTimesMatrixAssign;
        if (node->getOp() != glslang::EOpMatrixTimesMatrix && !assign) return;
        const glslang::TSourceLoc &loc = node->getLoc();
        const std::string file         = loc.getFilename() ? loc.getFilename() : "";
        if (!multiplies_.count({file, loc.line, loc.column})) return;
        const glslang::TType &type = node->getLeft()->getType();
        if (!(type == node->getRight()->getType())) return;
        node->setType(type);
        node->setOp(assign ? glslang::EOpMulAssign : glslang::EOpMul);
    }

    glslang::TIntermediate &tree_;
    const Places &multiplies_;
};

} // namespace

void RewriteTreeForms(glslang::TIntermediate &tree, const std::string &parsedText,
                      const std::string &fileName) {
    if (!tree.getTreeRoot()) return;
    const Places multiplies = MultiplyPlaces(parsedText, fileName);
    Rewriter rewriter(tree, multiplies);
    tree.getTreeRoot()->traverse(&rewriter);
}
