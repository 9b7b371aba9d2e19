// What a shader reads from texture slots that hold nothing.
#pragma once

#include "platform/gl/spirv/passes.h"

// Direct3D 11 gives 0 for every size, the level count and the sample count
// of an empty texture slot (GetDimensions on an unbound texture). The
// context binds 1x1 zero textures at every unit, whose sizes GL reports as
// 1, so the size, level and sample queries become the constant 0. This
// holds because nothing is ever bound to a texture slot; once textures can
// be bound, the rewrite must depend on the slot. Never fails.
bool ZeroUnboundTextureQueries(SpirvModule &module, const SpirvPassContext &context,
                               Diagnostics &diagnostics);

// Whether the module asks a texture for its size, levels or samples.
bool HoldsTextureQuery(const SpirvModule &module);
