// Reads of constant buffers, as the flat registers need them: the form the
// translation gives a buffer whose HLSL packing std140 cannot express.
#pragma once

#include "platform/gl/spirv/passes.h"

// Where a constant buffer's HLSL packing has no GLSL block layout (a float3
// at byte 4, a member in the unpadded tail of an array or structure), the
// translation writes the buffer as one flat array of vec4 registers, which
// SPIRV-Cross can do only when every member is of one scalar type. The
// integer and bool members of a buffer that also holds floating ones are
// therefore declared float here, of the same width and count, and each read
// of one gives the original type back through a bitcast: the bytes the
// shader reads are those the buffer holds, as with HLSL's registers, which
// have no type. A buffer read some other way than through loads and
// extracts stays as it was. Never fails.
bool ReadMixedBuffersAsFloats(SpirvModule &module, const SpirvPassContext &context,
                              Diagnostics &diagnostics);

// Whether some constant buffer holds both floating and integer members.
bool HoldsMixedBuffer(const SpirvModule &module);

// SPIRV-Cross cannot read an array out of flat registers as one value, as
// glslang reads it where code copies a buffer's array or a structure that
// holds one ("S t = s;"): each such read becomes reads of the array's
// elements and of the structure's members, built back into the value.
// Never fails.
bool SplitBufferArrayReads(SpirvModule &module, const SpirvPassContext &context,
                           Diagnostics &diagnostics);

// Whether some code reads an array, or a structure holding one, out of a
// constant buffer.
bool HoldsBufferArrayRead(const SpirvModule &module);
