// Direct3D 9 samplers in a 4_0 effect: a sampler2D (sampler, sampler1D,
// sampler3D, samplerCUBE) whose sampler_state names its texture, read with
// tex2D (tex1D, tex3D, texCUBE). The Windows compiler takes them at ps_4_0
// in an effect, binding the texture the state names (the DirectX SDK's
// Direct3D 10 workshop exercises compile so); glslang 12 declares the
// sampler as a plain sampler and writes the read on it, which SPIR-V
// refuses ("Expected Sampled Image to be of type OpTypeSampledImage").
//
// Where every use of such a sampler is a tex*D(s, coordinates) read, the
// reads become the texture's Sample(s, coordinates) and the sampler a
// SamplerState; the effect syntax pass then blanks its state as any other.
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

// Every line stays where it was; lexed is lexed again when the text changes.
void RewriteLegacySamplers(std::string &text, LexedHlsl &lexed);
