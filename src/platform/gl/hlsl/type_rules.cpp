// Type and value rules (type_rules.h). glslang's tree says what each
// variable holds and what the code writes to it; it also converts operands
// silently, so that a conversion the user wrote and one glslang added look
// alike there. Where that matters the text says which: the rule reads the
// operand as written (a lone name or literal) and its type from the tree.
#include "platform/gl/hlsl/type_rules.h"

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

bool IsFloat(glslang::TBasicType type) {
    return type == glslang::EbtFloat || type == glslang::EbtDouble || type == glslang::EbtFloat16;
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
// stepped, or handed to a call that may write it) and how often with zero;
// and the kinds of value each name holds.
class Uses : public glslang::TIntermTraverser {
  public:
    std::map<long long, int> writes, zeroWrites;
    std::map<long long, const glslang::TIntermSymbol *> symbols;
    std::map<std::string, std::set<glslang::TBasicType>> kinds; // by name

    void visitSymbol(glslang::TIntermSymbol *node) override {
        symbols[node->getId()]     = node;
        const glslang::TType &type = node->getType();
        kinds[node->getName().c_str()].insert(type.getBasicType());
        // The globals of a uniform block are read as its members.
        if (type.isStruct() && type.getQualifier().storage == glslang::EvqUniform)
            for (const glslang::TTypeLoc &member : *type.getStruct())
                kinds[member.type->getFieldName().c_str()].insert(member.type->getBasicType());
    }
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
        const glslang::TSourceLoc &loc = node->getLoc();
        out_.Error(loc.getFilename() ? loc.getFilename() : fileName_, std::max(loc.line, 1), 0,
                   "integer division by zero");
        return true;
    }

  private:
    const Uses &uses_;
    const char *fileName_;
    Diagnostics &out_;
};

struct Text {
    std::string_view text;
    const std::vector<std::string> &files;
    Tokens tokens;

    std::string_view At(size_t k) const {
        return k < tokens.size() ? Spelling(text, tokens[k]) : std::string_view();
    }
    bool Is(size_t k, std::string_view s) const {
        return k < tokens.size() && ::Is(text, tokens[k], s);
    }
    bool Name(size_t k) const {
        return k < tokens.size() && tokens[k].kind == TokenKind::Identifier;
    }
    void Refuse(size_t k, const std::string &why, Diagnostics &out) const {
        out.Error(files[tokens[k].file], tokens[k].line, tokens[k].column, why);
    }
};

// Whether the name holds only values of the kind is (bool, floating point).
bool OnlyOf(const Uses &uses, std::string_view name, bool (*is)(glslang::TBasicType)) {
    const auto found = uses.kinds.find(std::string(name));
    if (found == uses.kinds.end()) return false;
    return std::all_of(found->second.begin(), found->second.end(), is);
}
bool IsBool(glslang::TBasicType type) {
    return type == glslang::EbtBool;
}

bool IsFloatLiteral(const Text &t, size_t k) {
    if (k >= t.tokens.size() || t.tokens[k].kind != TokenKind::Number) return false;
    const std::string_view n = t.At(k);
    if (n.size() > 1 && (n[1] == 'x' || n[1] == 'X')) return false;
    return n.find_first_of(".eEfFhH") != std::string_view::npos;
}

// The operand beside a shift is floating point: a lone name of a floating
// type or a floating literal; the arithmetic the shift's operand holds
// around it keeps it so (bitwise.shader_test: "f >> u" is refused).
void CheckShifts(const Text &t, const Uses &uses, Diagnostics &out) {
    for (size_t k = 1; k + 1 < t.tokens.size(); ++k) {
        if (!t.Is(k, "<<") && !t.Is(k, ">>") && !t.Is(k, "<<=") && !t.Is(k, ">>=")) continue;
        const bool left =
            (IsFloatLiteral(t, k - 1) || (t.Name(k - 1) && OnlyOf(uses, t.At(k - 1), IsFloat))) &&
            !t.Is(k - 2, ".");
        const std::string_view after = t.At(k + 2);
        const bool right =
            (IsFloatLiteral(t, k + 1) || (t.Name(k + 1) && OnlyOf(uses, t.At(k + 1), IsFloat))) &&
            after != "(" && after != "[" && after != ".";
        if (left || right) t.Refuse(k, "a shift takes integer operands, not floating point", out);
    }
}

// asint() and asuint() of a bool (asint.shader_test, asuint.shader_test).
void CheckBitCasts(const Text &t, const Uses &uses, Diagnostics &out) {
    for (size_t k = 0; k + 3 < t.tokens.size(); ++k) {
        if ((!t.Is(k, "asint") && !t.Is(k, "asuint")) || !t.Is(k + 1, "(") || !t.Is(k + 3, ")") ||
            t.Is(k - 1, "."))
            continue;
        const std::string_view argument = t.At(k + 2);
        if (argument == "true" || argument == "false" ||
            (t.Name(k + 2) && OnlyOf(uses, argument, IsBool)))
            t.Refuse(k, std::string(t.At(k)) + "() does not take a bool", out);
    }
}

int VectorComponents(std::string_view name) {
    for (std::string_view scalar : {"float", "half", "double", "int", "uint", "bool"}) {
        if (name.compare(0, scalar.size(), scalar) != 0) continue;
        const std::string_view rest = name.substr(scalar.size());
        if (rest.size() == 1 && rest[0] >= '2' && rest[0] <= '4') return rest[0] - '0';
        if (rest.size() == 3 && rest[1] == 'x' && rest[0] >= '1' && rest[0] <= '4' &&
            rest[2] >= '1' && rest[2] <= '4')
            return (rest[0] - '0') * (rest[2] - '0');
    }
    return 0;
}

// A vector or matrix constructor in an attribute's arguments, of literals
// that do not give each component one (attributes.shader_test:
// "[numthreads(float2(1))]" is refused, "-float2(1, 2)" compiles).
void CheckAttributeConstructors(const Text &t, Diagnostics &out) {
    for (size_t k = 0; k + 3 < t.tokens.size(); ++k) {
        const bool start =
            k == 0 || t.Is(k - 1, ";") || t.Is(k - 1, "{") || t.Is(k - 1, "}") || t.Is(k - 1, "]");
        if (!start || !t.Is(k, "[") || !t.Name(k + 1) || !t.Is(k + 2, "(")) continue;
        int depth  = 0;
        size_t end = k + 2;
        for (; end < t.tokens.size(); ++end) {
            if (t.Is(end, "(")) ++depth;
            if (t.Is(end, ")") && --depth == 0) break;
        }
        if (!t.Is(end + 1, "]")) continue;
        for (size_t c = k + 3; c < end; ++c) {
            const int components = VectorComponents(t.At(c));
            if (!components || !t.Is(c + 1, "(")) continue;
            int values   = 0;
            bool literal = true;
            size_t a     = c + 2;
            for (; a < end && !t.Is(a, ")"); ++a) {
                if (t.tokens[a].kind == TokenKind::Number)
                    ++values;
                else if (!t.Is(a, ",") && !t.Is(a, "-") && !t.Is(a, "+"))
                    literal = false;
            }
            if (literal && values != components)
                t.Refuse(c,
                         std::to_string(values) + " values do not make a '" + std::string(t.At(c)) +
                             "'",
                         out);
        }
        k = end;
    }
}

} // namespace

void CheckTypeRules(const std::string &preprocessed, const LexedHlsl &lexed, const char *fileName,
                    const glslang::TIntermediate &tree, Diagnostics &out) {
    if (!tree.getTreeRoot()) return;
    Uses uses;
    tree.getTreeRoot()->traverse(&uses);
    Divisions divisions(uses, fileName, out);
    tree.getTreeRoot()->traverse(&divisions);
    Text t{preprocessed, lexed.files, CodeTokens(lexed.tokens)};
    CheckShifts(t, uses, out);
    CheckBitCasts(t, uses, out);
    CheckAttributeConstructors(t, out);
}
