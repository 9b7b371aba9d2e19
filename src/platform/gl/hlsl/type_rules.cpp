// Type and value rules (type_rules.h). glslang's tree says what each
// variable holds and what the code writes to it; it also converts operands
// silently, so that a conversion the user wrote and one glslang added look
// alike there. Where that matters the text says which: the rule reads the
// operand as written (a lone name or literal) and its type from the tree.
#include "platform/gl/hlsl/type_rules.h"

#include "platform/gl/hlsl/model/model.h"

#include "platform/gl/common/diagnostics.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool IsInteger(glslang::TBasicType type) {
    return type == glslang::EbtInt || type == glslang::EbtUint || type == glslang::EbtInt64 ||
           type == glslang::EbtUint64 || type == glslang::EbtInt16 || type == glslang::EbtUint16 ||
           type == glslang::EbtInt8 || type == glslang::EbtUint8;
}

bool IsWrite(glslang::TOperator op) {
    return op == glslang::EOpAssign ||
           (op >= glslang::EOpAddAssign && op <= glslang::EOpRightShiftAssign);
}

// A value as its conversions leave it, and a literal as the compile wrote
// it to be read at run time ("(hotfx_at_run_time ? 0 : 0)", literals.h).
TIntermNode *Unconverted(TIntermNode *node) {
    for (;;) {
        glslang::TIntermUnary *unary       = node->getAsUnaryNode();
        glslang::TIntermSelection *literal = node->getAsSelectionNode();
        const glslang::TIntermSymbol *flag =
            literal ? literal->getCondition()->getAsSymbolNode() : nullptr;
        if (unary && unary->getOp() >= glslang::EOpConvInt8ToBool &&
            unary->getOp() <= glslang::EOpConvUvec2ToAccStruct)
            node = unary->getOperand();
        else if (flag && flag->getName() == GeneratedName("at_run_time").c_str() &&
                 literal->getTrueBlock())
            node = literal->getTrueBlock();
        else
            return node;
    }
}

bool IsZero(const glslang::TConstUnion &value) {
    switch (value.getType()) {
    case glslang::EbtInt:
        return value.getIConst() == 0;
    case glslang::EbtUint:
        return value.getUConst() == 0;
    case glslang::EbtInt64:
        return value.getI64Const() == 0;
    case glslang::EbtUint64:
        return value.getU64Const() == 0;
    default:
        return false;
    }
}

// Whether any component (all: every one) of an integer constant is zero.
bool Zero(const glslang::TIntermConstantUnion &value, bool all) {
    const glslang::TConstUnionArray &values = value.getConstArray();
    int zeros                               = 0;
    for (int k = 0; k < values.size(); ++k)
        zeros += IsZero(values[k]);
    return all ? zeros == values.size() && zeros > 0 : zeros > 0;
}

// What the code does to each variable: how often it is written (assigned,
// stepped, or handed to a call that may write it) and how often with zero.
class Uses : public glslang::TIntermTraverser {
  public:
    std::map<long long, int> writes, zeroWrites;
    bool visitBinary(glslang::TVisit visit, glslang::TIntermBinary *node) override {
        if (visit != glslang::EvPreVisit || !IsWrite(node->getOp())) return true;
        if (glslang::TIntermSymbol *target = node->getLeft()->getAsSymbolNode()) {
            ++writes[target->getId()];
            glslang::TIntermConstantUnion *value =
                Unconverted(node->getRight())->getAsConstantUnion();
            if (node->getOp() == glslang::EOpAssign && value && Zero(*value, true))
                ++zeroWrites[target->getId()];
        }
        return true;
    }
    bool visitUnary(glslang::TVisit visit, glslang::TIntermUnary *node) override {
        if (visit == glslang::EvPreVisit && node->getOp() >= glslang::EOpPostIncrement &&
            node->getOp() <= glslang::EOpPreDecrement)
            if (glslang::TIntermSymbol *target = node->getOperand()->getAsSymbolNode())
                ++writes[target->getId()];
        return true;
    }
    bool visitAggregate(glslang::TVisit visit, glslang::TIntermAggregate *node) override {
        if (visit != glslang::EvPreVisit || node->getOp() == glslang::EOpSequence ||
            node->getOp() == glslang::EOpComma || node->getOp() == glslang::EOpParameters ||
            node->getOp() == glslang::EOpLinkerObjects ||
            (node->getOp() >= glslang::EOpConstructGuardStart &&
             node->getOp() <= glslang::EOpConstructGuardEnd))
            return true;
        for (TIntermNode *argument : node->getSequence())
            if (glslang::TIntermSymbol *symbol = argument->getAsSymbolNode())
                ++writes[symbol->getId()];
        return true;
    }
};

// Whether the integer value at node is zero whatever runs: a literal, a
// variable written once, with zero, or a static global nothing writes
// (arithmetic-uint.shader_test, static-initializer.shader_test: the Windows
// compiler folds both and refuses the division).
bool KnownZero(const Uses &uses, TIntermNode *node) {
    node = Unconverted(node);
    if (const glslang::TIntermConstantUnion *value = node->getAsConstantUnion())
        return IsInteger(value->getBasicType()) && Zero(*value, false);
    const glslang::TIntermSymbol *symbol = node->getAsSymbolNode();
    if (!symbol || !IsInteger(symbol->getBasicType())) return false;
    const auto count = [](const std::map<long long, int> &map, long long id) {
        const auto found = map.find(id);
        return found == map.end() ? 0 : found->second;
    };
    const int writes = count(uses.writes, symbol->getId());
    if (writes == 1) return count(uses.zeroWrites, symbol->getId()) == 1;
    return writes == 0 && symbol->getQualifier().storage == glslang::EvqGlobal &&
           !symbol->getType().isStruct() && !symbol->getType().isArray();
}

class Divisions : public glslang::TIntermTraverser {
  public:
    Divisions(const Uses &uses, const char *fileName, Diagnostics &out)
        : uses_(uses), fileName_(fileName), out_(out) {}
    bool visitBinary(glslang::TVisit visit, glslang::TIntermBinary *node) override {
        const glslang::TOperator op = node->getOp();
        if (visit != glslang::EvPreVisit ||
            (op != glslang::EOpDiv && op != glslang::EOpMod && op != glslang::EOpDivAssign &&
             op != glslang::EOpModAssign) ||
            !IsInteger(node->getBasicType()) || !KnownZero(uses_, node->getRight()))
            return true;
        // The Windows compiler's words for a division, signed or not; a
        // remainder's are not recorded.
        const bool division            = op == glslang::EOpDiv || op == glslang::EOpDivAssign;
        const glslang::TSourceLoc &loc = node->getLoc();
        out_.Error(loc.getFilename() ? loc.getFilename() : fileName_, std::max(loc.line, 1), 0,
                   division ? "Unsigned integer divide by zero" : "integer division by zero",
                   division ? "X4010" : "");
        return true;
    }

  private:
    const Uses &uses_;
    const char *fileName_;
    Diagnostics &out_;
};

// The operators that take only integers: the shifts and the other bitwise
// operators (bitwise.shader_test: "f >> u" and "u >> f" are refused; the
// HLSL reference's operators page gives them int and uint operands only).
bool IsBitwise(std::string_view op) {
    for (std::string_view b : {"<<", ">>", "&", "|", "^", "~", "<<=", ">>=", "&=", "|=", "^="})
        if (op == b) return true;
    return false;
}

bool IsFloatValue(const HlslType &t) {
    return t.IsNumeric() && IsFloatScalar(t.scalar);
}

void Refuse(const HlslModel &model, const HlslPos &pos, const std::string &why, Diagnostics &out,
            const char *code = "") {
    out.Error(model.files[pos.file], pos.line, pos.column, why, code);
}

// A bitwise operator of a floating-point operand, as written: the model's
// types are those of the source, before glslang converts anything.
void CheckBitwiseOperands(const HlslModel &model, Diagnostics &out) {
    for (const HlslExpr &e : model.exprs) {
        if ((e.kind != HlslExprKind::Binary && e.kind != HlslExprKind::Assign &&
             e.kind != HlslExprKind::Unary) ||
            !IsBitwise(e.text))
            continue;
        if (std::any_of(e.children.begin(), e.children.end(),
                        [&](int c) { return IsFloatValue(model.exprs[c].type); }))
            Refuse(model, e.pos, "int or unsigned int type required", out, "X3082");
    }
}

// asint() and asuint() of a bool or a double (asint.shader_test,
// asuint.shader_test): they reinterpret 32-bit numbers only.
void CheckBitCasts(const HlslModel &model, Diagnostics &out) {
    for (const HlslExpr &e : model.exprs) {
        if (e.kind != HlslExprKind::Call || (e.text != "asint" && e.text != "asuint") ||
            e.function >= 0 || e.children.size() != 1)
            continue;
        const HlslType &argument = model.exprs[e.children[0]].type;
        if (argument.IsNumeric() &&
            (argument.scalar == HlslScalar::Bool || argument.scalar == HlslScalar::Double))
            Refuse(model, e.pos, e.text + "() does not take a " + HlslScalarName(argument.scalar),
                   out);
    }
}

// A vector or matrix constructor in an attribute's arguments, of literals
// that do not give each component one (attributes.shader_test:
// "[numthreads(float2(1))]" is refused, "-float2(1, 2)" compiles). The model
// keeps an attribute as its words; they are read here with its lexer.
void CheckAttributeConstructors(const HlslModel &model, const std::vector<std::string> &attributes,
                                const HlslPos &at, Diagnostics &out) {
    for (const std::string &words : attributes) {
        const LexedHlsl lexed = LexHlsl(words);
        const Tokens &t       = lexed.tokens;
        for (size_t c = 0; c < t.size(); ++c) {
            HlslType type;
            if (!BuiltinTypeFromName(Spelling(words, t[c]), type) || !type.IsNumeric() ||
                type.ComponentCount() < 2 || !Is(words, t[c + 1], "("))
                continue;
            int values   = 0;
            bool literal = true;
            size_t a     = c + 2;
            for (; a < t.size() && !Is(words, t[a], ")"); ++a) {
                if (t[a].kind == TokenKind::Number)
                    ++values;
                else if (!Is(words, t[a], ",") && !Is(words, t[a], "-") && !Is(words, t[a], "+"))
                    literal = false;
            }
            if (literal && values != type.ComponentCount())
                Refuse(model, at,
                       std::to_string(values) + " values do not make a '" +
                           std::string(Spelling(words, t[c])) + "'",
                       out);
        }
    }
}

} // namespace

void CheckTypeRules(const HlslModel &model, const char *fileName,
                    const glslang::TIntermediate &tree, Diagnostics &out) {
    CheckBitwiseOperands(model, out);
    CheckBitCasts(model, out);
    for (const HlslFunction &f : model.functions)
        CheckAttributeConstructors(model, f.attributes, f.pos, out);
    for (const HlslStmt &s : model.stmts)
        CheckAttributeConstructors(model, s.attributes, s.pos, out);
    if (!tree.getTreeRoot()) return;
    Uses uses;
    tree.getTreeRoot()->traverse(&uses);
    Divisions divisions(uses, fileName, out);
    tree.getTreeRoot()->traverse(&divisions);
}
