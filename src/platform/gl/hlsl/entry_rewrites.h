// Rewrites of preprocessed HLSL text before glslang parses it, for what the
// Windows compiler accepts in a file compiled for one vs/gs/ps entry point
// and glslang 12 does not. All keep every line where it was (what they
// remove becomes spaces, newlines and #line directives stay), so messages
// about the rest of the file name the lines the user wrote.
//
// Each reads the text through lexed, its tokens (LexHlsl), and leaves lexed
// the tokens of the text it leaves, so the passes in a row lex it once.
#pragma once

#include "platform/gl/hlsl/lexer.h"

#include <string>

// Blanks the effect-framework declarations a vs/gs/ps compile ignores:
// technique, technique10, technique11 and fxgroup blocks; state-object and
// shader-object variables (BlendState, DepthStencilState, RasterizerState,
// VertexShader v = CompileShader(...), ...) and Direct3D 9 texture
// variables; and the state bodies and initialisers of sampler variables
// (SamplerState s { Filter = ...; }; sampler2D s = sampler_state { ... };),
// which stay declared. Annotations glslang parses itself.
void BlankEffectSyntax(std::string &text, LexedHlsl &lexed);

// Moves each static variable declared among a cbuffer's or tbuffer's
// members out of the buffer: after it, on the line of its closing brace,
// where its initialiser reads a member; otherwise before it, where a
// member's array size may name it ("static const int N = 3; float4 a[N];"). On
// Windows such a variable is no member: it takes no register, and its
// initialiser may read the members before it (the Direct3D 11 SDK's
// VarianceShadows11 declares "static float d[8] = (float[8])data;" in its
// cbuffer, and its C++ side lays the buffer out without it). glslang would
// count it as a member and not know the members' names yet.
void MoveBufferStatics(std::string &text, LexedHlsl &lexed);

// When several functions named entryPoint have bodies, the Windows compiler
// compiles the last one; glslang would take them all as entry points. The
// others, their prototypes and their calls are renamed, so calls between
// them still find their overloads. Returns the number of definitions found.
int KeepLastEntryDefinition(std::string &text, LexedHlsl &lexed, const std::string &entryPoint);

// Blanks the functions other than entryPoint that take a stream of
// geometry-stage output (inout TriangleStream<T>) and that nothing names:
// the other geometry entry points of an effect file. glslang 12 crashes when
// such a function appends vertices of another type than the entry point's;
// the Windows compiler compiles only what the entry point reaches.
void BlankUnusedStreamFunctions(std::string &text, LexedHlsl &lexed, const std::string &entryPoint);

// Renames the SV_ClipDistanceN and SV_CullDistanceN semantics of the text
// to stand-ins of the same length (HF_ClipDistanceN), for a geometry stage:
// glslang 12 crashes on them in a geometry stage's input. The SPIR-V gets
// the built-in variables back (RestoreClipCullDistances, spirv/clip_distances.h).
// The tokens stay those of the text: a name becomes a name of its length.
void RenameClipCullSemantics(std::string &text, const LexedHlsl &lexed);
