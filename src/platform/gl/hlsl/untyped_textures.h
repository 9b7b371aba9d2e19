// The untyped texture of Direct3D 9 ("texture t;", any case), which the HLSL
// reference keeps "for backwards compatibility" beside the typed textures.
// Declaring one compiles (type-names.shader_test); its value reaches a
// shader only through a sampler_state that names it, read with tex1D, tex2D,
// tex3D or texCUBE (legacy_samplers.h, which gives it the read's dimension).
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"

#include <string>

// Refuses a method of a global untyped texture ("t.Sample(s, uv)") or an
// element of one ("t[xy]"): the methods and the operator[] are the typed
// texture objects' (the reference's Texture Object list, which the untyped
// type is not in), and the Windows compiler's type has none: it cannot tell
// the dimension the read wants. Returns false after a refusal.
bool CheckUntypedTextureReads(const std::string &text, const LexedHlsl &lexed,
                              Diagnostics &diagnostics);

// Whether tokens[i] is the type word of an untyped texture declaration
// ("texture t", "Texture t", any case, no template arguments).
bool DeclaresUntypedTexture(const std::string &text, const Tokens &tokens, size_t i);
