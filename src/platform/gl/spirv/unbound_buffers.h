// What a shader reads from buffer slots that hold nothing.
#pragma once

#include "platform/gl/spirv/passes.h"

// StructuredBuffer, ByteAddressBuffer and tbuffer reads come from t
// registers, which hotfx never binds: Direct3D 11 reads 0 from an empty slot
// and GetDimensions gives 0 elements (d3d11-facts: reads of what nothing
// binds). GL leaves a read of an unbound storage buffer undefined, so every
// load through such a buffer becomes the constant 0 and every length query
// 0; the buffer is then unused and the optimizer drops it. Once buffers can
// be bound, the rewrite must depend on the slot. Never fails.
bool ZeroUnboundBufferReads(SpirvModule &module, const SpirvPassContext &context,
                            Diagnostics &diagnostics);

// Whether the module declares a storage buffer (glslang's form of those
// three).
bool HoldsStorageBuffer(const SpirvModule &module);
