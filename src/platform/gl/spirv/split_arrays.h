// Rewrites of the stage inputs and outputs glslang makes from HLSL, so that
// each carries the semantic Direct3D gives it.
#pragma once

#include "platform/gl/spirv/passes.h"

// An array with one semantic ("float3 n[6] : NORMALS", "float2 t[2] :
// TEXCOORD3") takes consecutive semantic indices on Windows: NORMALS0 to
// NORMALS5, TEXCOORD3 and TEXCOORD4. glslang splits an array inside an
// entry point's structure into one variable per element, each with the
// array's own semantic; this gives each element its index (the array's
// index plus the element's place, counted in locations, so an array of
// matrices takes one index per row). Runs before glslang's optimizer,
// which removes the elements a stage never reads.
//
// In a geometry stage glslang gives each split element of an input the
// array's length where the primitive's vertex count belongs ("triangle V
// v[3]" holding "float3 n[2]" reads n[0] of vertex 2 past the end of a
// 2-element array); each such input is given the vertex count.
//
// Never fails.
bool MendSplitStageArrays(SpirvModule &module, const SpirvPassContext &context,
                          Diagnostics &diagnostics);

// Whether the module holds a stage variable named as a split element
// ("o.n[1]") with a semantic: the pass has something to mend.
bool HoldsSplitStageArray(const SpirvModule &module);
