// One stage's SPIR-V as glslang made it, parsed once per compile: the
// module as a list of instructions, the indexes the passes ask of it
// (passes.h), and a small editor that rewrites single instructions in
// place: fresh ids from the bound, and types and constants found or added
// in the types-and-globals section. A rewrite keeps every result id, so no
// use of one needs changing: it gives the original instruction a fresh id
// and computes the old id from it with the instructions that follow.
#pragma once

#define SPV_ENABLE_UTILITY_CODE // spv::HasResultAndType
#include <spirv.hpp>

#include <algorithm>
#include <functional>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <set>
#include <vector>

struct SpirvInstruction {
    spv::Op opcode;
    std::vector<uint32_t> operands; // every word after the first
};

// What a numeric or boolean type is; count is 1 for a scalar.
struct SpirvType {
    spv::Op kind    = spv::OpNop; // OpTypeFloat, OpTypeInt, OpTypeBool, or OpNop if none of these
    uint32_t width  = 0;
    bool isSigned   = false;
    uint32_t count  = 1;
    uint32_t scalar = 0; // the component type's id
};

// What a type declares besides its result id: its opcode and its first two
// operands (a pointer's storage class and pointee, an array's element type
// and length).
struct SpirvDeclaration {
    spv::Op opcode       = spv::OpNop;
    uint32_t operands[2] = {};
};

// A map from ids, held as a vector sorted by id: ids come mostly in order,
// so most additions append, and a parse allocates little for its indexes.
template <typename T> struct SpirvIdMap {
    std::vector<std::pair<uint32_t, T>> items;

    typename std::vector<std::pair<uint32_t, T>>::const_iterator begin() const {
        return items.begin();
    }
    typename std::vector<std::pair<uint32_t, T>>::const_iterator end() const { return items.end(); }
    const T *Find(uint32_t id) const {
        auto at = LowerBound(id);
        return at != items.end() && at->first == id ? &at->second : nullptr;
    }
    void Set(uint32_t id, T value) {
        if (items.empty() || items.back().first < id) {
            items.emplace_back(id, std::move(value));
            return;
        }
        auto at = items.begin() + (LowerBound(id) - items.cbegin());
        if (at != items.end() && at->first == id)
            at->second = std::move(value);
        else
            items.emplace(at, id, std::move(value));
    }
    void Erase(uint32_t id) {
        auto at = items.begin() + (LowerBound(id) - items.cbegin());
        if (at != items.end() && at->first == id) items.erase(at);
    }

  private:
    typename std::vector<std::pair<uint32_t, T>>::const_iterator LowerBound(uint32_t id) const {
        return std::lower_bound(
            items.begin(), items.end(), id,
            [](const std::pair<uint32_t, T> &item, uint32_t key) { return item.first < key; });
    }
};

struct SpirvModule {
    uint32_t header[5] = {};
    std::vector<SpirvInstruction> preamble; // capabilities to the last debug decoration
    std::vector<SpirvInstruction> globals;  // types, constants and global variables
    std::vector<SpirvInstruction> code;     // the functions

    // Indexes, computed by ParseSpirv and kept by the functions below that
    // add or change what they hold; a pass that edits the sections itself
    // keeps those its edits change.
    std::vector<uint32_t> typeOf;        // result id -> its type, 0 for none: see TypeOf
    std::map<uint32_t, SpirvType> types; // numeric type id -> what it is
    SpirvIdMap<uint32_t> constants;      // scalar constant id -> its value word
    // Type id -> what it declares, for all but the numeric types above (a
    // type never changes once declared).
    SpirvIdMap<SpirvDeclaration> declarations;
    SpirvIdMap<std::string> names;     // OpName
    SpirvIdMap<std::string> semantics; // UserSemantic decorations (HLSL's)
    SpirvIdMap<uint32_t> locations;    // Location decorations
    SpirvIdMap<uint32_t> builtIns;     // BuiltIn decorations
    // Every opcode the module held when parsed, and those added by
    // AddGlobal since. One that a pass replaces stays counted, so a no is
    // certain and a yes means look; no pass adds an image instruction.
    std::vector<bool> opcodes;
};

// Splits the words into a module and computes its indexes; false, with the
// reason, when they do not hold a well-formed sequence of instructions.
// The one check of the words: the passes read the module it gives.
bool ParseSpirv(const std::vector<uint32_t> &words, SpirvModule &module, std::string &error);
std::vector<uint32_t> WriteSpirv(const SpirvModule &module);

// Whether the module holds (or held) an instruction with this opcode.
bool Holds(const SpirvModule &module, spv::Op opcode);

// The result id of an instruction that has one, else 0; same for its type.
uint32_t ResultId(const SpirvInstruction &instruction);
uint32_t ResultType(const SpirvInstruction &instruction);

// Whether operands[index] of an instruction of a function's body names an
// id, not a literal (a line number, an extended instruction's number, an
// extract's index, a mask): what a pass asks before it takes a word for a
// use of a value. True for every operand of an opcode not known here.
bool IsIdOperand(const SpirvInstruction &instruction, size_t index);

uint32_t FreshId(SpirvModule &module);

// Appends op to out with its type and result (a fresh id where result is
// 0), noting the result's type; returns the result. What the passes that
// rebuild the code instruction by instruction emit with.
uint32_t EmitInstruction(SpirvModule &module, std::vector<SpirvInstruction> &out, spv::Op op,
                         uint32_t type, std::vector<uint32_t> operands, uint32_t result = 0);

// The type of a result id, 0 when it has none; and setting it, for an
// instruction a pass adds to the code itself.
uint32_t TypeOf(const SpirvModule &module, uint32_t id);
void SetTypeOf(SpirvModule &module, uint32_t id, uint32_t type);

// Adds an instruction at the end of the types and globals, and to the
// indexes.
void AddGlobal(SpirvModule &module, spv::Op op, std::vector<uint32_t> operands);
// Adds an OpDecorate of target, and to the indexes.
void Decorate(SpirvModule &module, uint32_t target, spv::Decoration decoration,
              std::vector<uint32_t> values = {});
// Replaces the text of the UserSemantic decoration of id.
void SetSemantic(SpirvModule &module, uint32_t id, const std::string &semantic);

// Types and constants, found among the module's own or added at the end of
// its globals. Vector forms when count > 1.
uint32_t BoolType(SpirvModule &module, uint32_t count);
uint32_t IntType(SpirvModule &module, bool isSigned, uint32_t count);
uint32_t FloatType(SpirvModule &module, uint32_t count);
// The pointer type of a storage class to pointee, added if missing.
uint32_t PointerType(SpirvModule &module, uint32_t storage, uint32_t pointee);
// A 32-bit constant of a numeric type (scalar or vector, each component
// the same bits).
uint32_t Constant(SpirvModule &module, uint32_t type, uint32_t bits);
// The id of the imported GLSL.std.450 instruction set, 0 if not imported.
uint32_t GlslExtInst(const SpirvModule &module);

// What a type of the given kind declares, or nullptr when id is not one;
// valid until the next type is added.
const SpirvDeclaration *Declaration(const SpirvModule &module, uint32_t id, spv::Op kind);

// The constant buffers' variables: Uniform pointers to a structure
// decorated Block.
std::set<uint32_t> ConstantBufferVariables(const SpirvModule &module);
// OpAccessChain or OpInBoundsAccessChain.
inline bool IsAccessChain(spv::Op op) {
    return op == spv::OpAccessChain || op == spv::OpInBoundsAccessChain;
}

// The value words of a constant (one per component), empty if id is not a
// constant made of 32-bit scalars.
std::vector<uint32_t> ConstantValue(const SpirvModule &module, uint32_t id);

// The literal string that starts at operands[from] (NUL-terminated, packed
// four bytes to a word); stops at the last operand if no NUL ends it.
std::string SpirvString(const std::vector<uint32_t> &operands, size_t from);
// A literal string's words: NUL-terminated, padded to whole words.
std::vector<uint32_t> StringWords(const std::string &text);

// The stage's inputs and outputs that are not built-ins, by their index
// among the globals.
std::vector<size_t> StageVariables(const SpirvModule &module);

// A pass that gives stage variables another type (transposed matrices,
// uints for bools) retypes them with this. form gives a type's new form (0
// where it has none); convert turns a value of one form into the other,
// into result where that is not 0. Each stage variable whose pointee has a
// form, and that keep does not turn down, points to the new form and moves
// to the end of the globals, after its new pointer type. A chain into one
// then points into the new form, a load reads the new form and turns it
// back, a store turns its value into the new form. False, the code left as
// it was, where another instruction takes such a pointer or a chain ends at
// a type with no new form.
using SpirvTypeForm = std::function<uint32_t(uint32_t type)>;
using SpirvFormConversion =
    std::function<uint32_t(std::vector<SpirvInstruction> &code, uint32_t value, uint32_t from,
                           uint32_t to, uint32_t result)>;
bool RetypeStageVariables(SpirvModule &module, const SpirvTypeForm &form,
                          const SpirvFormConversion &convert,
                          const std::function<bool(const SpirvInstruction &variable)> &keep);
// An array value of type from made into the array type to, element by
// element through convert; into result where that is not 0.
uint32_t ConvertArrayElements(SpirvModule &module, std::vector<SpirvInstruction> &code,
                              uint32_t value, uint32_t from, uint32_t to, uint32_t result,
                              const SpirvFormConversion &convert);
