// Clip and cull distances in the geometry stage.
//
// glslang 12 follows a null pointer when a geometry stage's input
// structure holds SV_ClipDistance or SV_CullDistance: the entry point's
// input copy hands assignClipCullDistance an indexed vertex where it
// expects a symbol. So a geometry stage is compiled with those semantics
// renamed to plain ones (the same length, so columns in messages hold), and
// its SPIR-V is then given the built-in variables back: the renamed inputs
// read gl_in[v].gl_ClipDistance / gl_CullDistance and the renamed outputs
// write gl_ClipDistance / gl_CullDistance, packed as glslang packs them in
// the stages around it (semantic index order, a new group of four where a
// vector would straddle one), so the vertex stage's writes and the pixel
// stage's reads of the same semantics meet.
#pragma once

#include "platform/gl/spirv/passes.h"

#include <string>

// Turns the stand-ins of the module of a geometry stage compiled from
// renamed text back into the built-in variables. False, with the problem in
// diagnostics, when the module holds a form of them it cannot turn (an
// array of distances in one semantic).
bool RestoreClipCullDistances(SpirvModule &module, const SpirvPassContext &context,
                              Diagnostics &diagnostics);

// Whether the module holds a stand-in's semantic: the pass has something to
// turn.
bool HoldsClipCullStandIn(const SpirvModule &module);
