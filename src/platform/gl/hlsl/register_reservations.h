// register(cN) reservations as the Windows compiler reads them at the 4_0
// profiles (vkd3d's register-reservations-numeric.shader_test and
// register-reservations-profile.shader_test): on a numeric global, the
// register of $Globals it starts at, written "c", "c2", "c2[expr]" or with
// letters after the digits; outside $Globals (in a cbuffer, on a uniform
// parameter) nothing. glslang takes only "cN" and applies it everywhere.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/model.h"

#include <string>

// On numeric globals, writes each c reservation as "register(cN)", which
// glslang makes the member's offset in $Globals, and drops the b and i ones
// and those for a profile with an index ("ps[5]"), which the 4_0 profiles
// ignore; drops the c ones inside cbuffers and function parameters. Returns
// false, with the error in diagnostics, for a packoffset outside a cbuffer
// and a cbuffer's b register with letters after its number, which Windows
// refuses. Every line stays where it was; lexed is lexed again when the text
// changes.
bool RewriteRegisterReservations(std::string &text, LexedHlsl &lexed, const char *fileName,
                                 Diagnostics &diagnostics);

// Objects that name one register (cbuffers at bN, textures at tN, samplers
// at sN): each reserves it, read or not, and an entry point may read one of
// those at a register (register-reservations-numeric.shader_test); reading
// two is the Windows compiler's X4500. Returns false, with the errors in
// diagnostics, where the entry point reads two.
bool CheckSharedRegisters(const HlslModel &model, const std::string &entryPoint,
                          Diagnostics &diagnostics);
