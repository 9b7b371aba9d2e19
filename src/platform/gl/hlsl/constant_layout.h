// Where the Windows compiler puts constant buffers and their members, where
// glslang decides otherwise: the register of $Globals, and members placed
// with packoffset. Works on glslang's tree, between the parse and the
// SPIR-V.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/common/constant_packing.h"

#include <cstdint>
#include <string>

namespace glslang {
class TIntermediate;
class TType;
} // namespace glslang

// A type of glslang's tree as HLSL's packing rules see it
// (constant_packing.h).
PackedType PackedTypeOf(const glslang::TType &type);

// Gives $Globals (the globals outside any cbuffer) the lowest b register
// that no cbuffer claims with register(bN), before glslang's automatic
// mapping hands out the free ones.
void PlaceGlobals(glslang::TIntermediate &tree);

// The registers of the cbuffers whose members are all placed with
// packoffset, bit N for bN, once glslang has mapped every cbuffer to its
// register. Returns false, with an error at the member in diagnostics,
// where a cbuffer's packoffsets are ones the Windows compiler refuses;
// source is fileName's text, where the member's name gives the column.
bool PackoffsetRegisters(const glslang::TIntermediate &tree, const char *fileName,
                         const std::string &source, uint32_t &registers, Diagnostics &diagnostics);
