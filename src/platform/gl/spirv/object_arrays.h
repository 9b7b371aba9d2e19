// Arrays of textures and samplers, which GLSL cannot hold apart, and
// objects read with no value.
#pragma once

#include "platform/gl/common/diagnostics.h"

#include <cstdint>
#include <vector>

namespace glslang {
class TIntermediate;
}

// HLSL's "SamplerState s[2] : register(s3)" is two samplers, s3 and s4, and
// "Texture2D t[2] : register(t1)" two textures, t1 and t2; at shader model 4
// every index into them is known when the shader is compiled
// (texture_offsets.h refuses the others). GLSL combines each texture with
// its sampler: SPIRV-Cross refuses an array of samplers, and makes an array
// of textures an array of combined samplers that the units of the stage's
// other pairs overlap. Each element the code reads becomes a variable of its
// own at the array's binding plus its index. Runs on the optimized words;
// an array read any other way is left as it is.
void SplitObjectArrays(std::vector<uint32_t> &spirv);

// Whether the words declare an array of textures or samplers: the pass has
// work to do.
bool HoldsObjectArray(const std::vector<uint32_t> &spirv);

// Whether the optimized words read a texture or sampler that holds no
// value: a local or static object read before anything is assigned to it,
// which the Windows compiler refuses (object-references.shader_test,
// static-initializer.shader_test) and GLSL cannot pair with anything.
bool ReadsUnsetObject(const std::vector<uint32_t> &spirv);

// The refusal of such a read, at the first local or static object of the
// tree.
void UnsetObjectError(const glslang::TIntermediate &tree, const char *fileName,
                      Diagnostics &diagnostics);
