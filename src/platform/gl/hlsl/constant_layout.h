// Where the Windows compiler puts constant buffers and their members, where
// glslang decides otherwise: the register of $Globals, and members placed
// with packoffset. Works on glslang's tree, between the parse and the
// SPIR-V.
#pragma once

#include <cstdint>
#include <string>

namespace glslang {
class TIntermediate;
}

// Gives $Globals (the globals outside any cbuffer) the lowest b register
// that no cbuffer claims with register(bN), before glslang's automatic
// mapping hands out the free ones.
void PlaceGlobals(glslang::TIntermediate &tree);

// The registers of the cbuffers whose members are all placed with
// packoffset, bit N for bN, once glslang has mapped every cbuffer to its
// register. Returns false, with a message in glslang's shape in log, where
// a cbuffer's packoffsets are ones the Windows compiler refuses.
bool PackoffsetRegisters(const glslang::TIntermediate &tree, const char *fileName,
                         uint32_t &registers, std::string &log);
