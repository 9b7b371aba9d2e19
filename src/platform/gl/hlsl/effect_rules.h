// What the Windows compiler refuses in the effect syntax of a file it
// compiles for one vs/gs/ps entry point: the state blocks of variables
// ("sampler s { Filter = ...; };"), technique passes, fxgroups and the
// shader objects of effects. BlankEffectSyntax (entry_rewrites.h) removes
// them before glslang parses, so they are judged on the text before that.
// The record is vkd3d's tests under ../shared/vkd3d-tests/hlsl, which run
// on Windows (state-block-syntax, state-block-function-syntax,
// effect-compile, constructgswithso and fxgroup-syntax .shader_test).
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

struct Diagnostics;
struct HlslModel;

// Checks the effect syntax of the preprocessed text, read as lexed (its
// tokens, before any pass blanked it), against the file's functions and
// globals as the model has them; reports each refusal into out.
void CheckEffectRules(const std::string &preprocessed, const LexedHlsl &lexed,
                      const HlslModel &model, Diagnostics &out);
