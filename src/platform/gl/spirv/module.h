// A small editor of SPIR-V modules, enough to rewrite single instructions
// in place: the module as a list of instructions, fresh ids from the bound,
// and types and constants found or added in the types-and-globals section.
// A rewrite keeps every result id, so no use of one needs changing: it
// gives the original instruction a fresh id and computes the old id from it
// with the instructions that follow.
#pragma once

#define SPV_ENABLE_UTILITY_CODE // spv::HasResultAndType
#include <spirv.hpp>

#include <cstdint>
#include <map>
#include <string>
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

struct SpirvModule {
    uint32_t header[5] = {};
    std::vector<SpirvInstruction> preamble; // capabilities to the last debug decoration
    std::vector<SpirvInstruction> globals;  // types, constants and global variables
    std::vector<SpirvInstruction> code;     // the functions

    // Derived while editing.
    std::map<uint32_t, uint32_t> typeOf;    // result id -> its type
    std::map<uint32_t, SpirvType> types;    // type id -> what it is
    std::map<uint32_t, uint32_t> constants; // scalar constant id -> its value word
};

// Splits the words into a module; false, with the reason, when they do not
// hold a well-formed sequence of instructions.
bool ParseSpirv(const std::vector<uint32_t> &words, SpirvModule &module, std::string &error);
std::vector<uint32_t> WriteSpirv(const SpirvModule &module);

// The result id of an instruction that has one, else 0; same for its type.
uint32_t ResultId(const SpirvInstruction &instruction);
uint32_t ResultType(const SpirvInstruction &instruction);

uint32_t FreshId(SpirvModule &module);

// Types and constants, found among the module's own or added at the end of
// its globals. Vector forms when count > 1.
uint32_t BoolType(SpirvModule &module, uint32_t count);
uint32_t IntType(SpirvModule &module, bool isSigned, uint32_t count);
uint32_t FloatType(SpirvModule &module, uint32_t count);
// A 32-bit constant of a numeric type (scalar or vector, each component
// the same bits).
uint32_t Constant(SpirvModule &module, uint32_t type, uint32_t bits);
// The id of the imported GLSL.std.450 instruction set, 0 if not imported.
uint32_t GlslExtInst(const SpirvModule &module);

// The value words of a constant (one per component), empty if id is not a
// constant made of 32-bit scalars.
std::vector<uint32_t> ConstantValue(const SpirvModule &module, uint32_t id);

// The literal string that starts at operands[from] (NUL-terminated, packed
// four bytes to a word); stops at the last operand if no NUL ends it.
std::string SpirvString(const std::vector<uint32_t> &operands, size_t from);
