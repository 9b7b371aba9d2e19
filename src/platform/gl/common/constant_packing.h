// HLSL's packing of constant buffers (d3d11-facts.md, "Constant-buffer
// layout", and vkd3d's layout tests, which run on Windows too): 16-byte
// registers; a value never straddles one; every array element, structure
// and matrix starts one; a matrix takes one register per column, per row
// when row_major, the last one unpadded; a size is never padded at its end,
// so the next member may share the last register.
//
// The rules work on a plain description of a type, so that the profile's
// register limit and the packoffset checks (on glslang's types,
// hlsl/constant_layout.h) and the GLSL block (on SPIRV-Cross's,
// glsl/translate.cpp) lay buffers out alike. Nothing here needs glslang or
// SPIRV-Cross.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint64_t kRegisterBytes = 16;

// Registers one constant buffer may take (D3D11.3 7.5; the HLSL compiler's
// X4601).
constexpr uint64_t kConstantBufferRegisters = 4096;

// A type as HLSL packs it: a scalar or vector, a matrix or a structure, or
// an array of one of them.
struct PackedType {
    enum class Kind { Vector, Matrix, Struct };
    Kind kind            = Kind::Vector;
    uint64_t scalarBytes = 4; // 8 for double
    // HLSL's floatRxC: a vector is one row of `columns` components.
    uint64_t rows = 1, columns = 1;
    bool rowMajor = false;           // a matrix's majority; HLSL's default is column-major
    std::vector<PackedType> members; // a structure's, in order
    bool array        = false;
    uint64_t elements = 1; // an array's, all its dimensions together
};

// The first register boundary at or after offset.
uint64_t RegisterStart(uint64_t offset);

// Bytes from a value's start to the end of its last component, unpadded.
uint64_t PackedSize(const PackedType &type);

// Whether a value of the type always starts a register: an array, a
// structure or a matrix (packoffset must then name a register's .x).
bool StartsRegister(const PackedType &type);

// Whether a value of the type placed at offset would cross into the next
// register.
bool Straddles(const PackedType &type, uint64_t offset);

// Where a value of the type goes when what comes before it ends at end.
uint64_t PackedOffset(const PackedType &type, uint64_t end);

// A structure's members' offsets, in order.
std::vector<uint64_t> MemberOffsets(const PackedType &structure);

// The distance between the elements of an array of element: each starts a
// register.
uint64_t ArrayStride(const PackedType &element);

// The registers a value of the type takes, counted from a register's start.
uint64_t Registers(const PackedType &type);
