// Refusals of the sources glslang 12's HLSL front end crashes on.
//
// glslang follows null pointers on some malformed sources instead of
// reporting them, which would end the whole program. The forms a user meets
// while typing are refused first, with a message of our own;
// tests/robust/crashes keeps forms these checks miss.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/model.h"

#include <glslang/Public/ShaderLang.h>

#include <string>

// Checks the preprocessor's text (source, made from original, the text of
// fileName, and its tokens, LexHlsl) before the compile parses it: the
// tokens for brackets and constants glslang trips on, then the entry
// point's parameters (as model, the program before its rewrites, has them)
// in a parse with no entry point, where every function
// stays an ordinary one. A source that does not parse at all is refused
// with the parser's messages: glslang would meet the entry point before the
// error. Returns false with the refusal in diagnostics, at its place in
// original.
bool SafeToParse(const std::string &source, const LexedHlsl &lexed, const HlslModel &model,
                 const char *fileName, const std::string &original, const char *entryPoint,
                 EShLanguage language, Diagnostics &diagnostics);
