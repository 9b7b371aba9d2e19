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
#include "platform/gl/hlsl/model/model.h"

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

// A static variable of the file initialised by a call of one of its
// functions (or from such a variable) gets its value as the entry point's
// first statements instead, in the order of the declarations: the Windows
// compiler runs such initialisers before the entry point
// (static-initializer.shader_test); glslang 12 refuses the call there
// ("Recursion detected"). A const one stops being const.
void MoveCalledInitializers(std::string &text, LexedHlsl &lexed, const std::string &entryPoint);

// An input parameter of the entry point that is an array of structures
// reads the same semantic indices in every element (entry-point-semantics
// .shader_test, Windows: "aps[1][1].tc0" is TEXCOORD0 as "aps[0][0].tc0"
// is), where glslang gives each element indices of its own: the parameter
// becomes one structure, and each of its indexings that structure. Not for
// a geometry stage, whose input array holds one element per vertex.
void MergeStructArrayInputs(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                            const std::string &entryPoint);

// A semantic written on a structure-typed parameter of the entry point
// ("point V input[1] : SV_POSITION", "S input : SV_POSITION") becomes spaces
// when every member of the structure carries a semantic of its own: those
// are the ones the stage reads (a public marching-cubes project compiles
// such a geometry and pixel stage with fxc and draws with them). glslang 12
// crashes on a system-value one in a geometry stage's input and takes the
// whole structure as that built-in elsewhere. Where a member has none, the
// outer semantic stays.
void DropStructParameterSemantics(std::string &text, LexedHlsl &lexed, const HlslModel &model,
                                  const std::string &entryPoint);

// A uniform parameter of a function other than the entry point is an
// ordinary one, given by its caller: the modifier means something to the
// entry point only (HLSL reference, Variable Syntax), and glslang would make
// the parameter a global. Its 'uniform' becomes spaces.
void PlainUniformParameters(std::string &text, LexedHlsl &lexed, const std::string &entryPoint);

// Blanks the functions other than entryPoint that take a stream of
// geometry-stage output (inout TriangleStream<T>) and that nothing else
// names: the other geometry entry points of an effect file, and the stream
// functions only those call. glslang 12 crashes when
// such a function appends vertices of another type than the entry point's;
// the Windows compiler compiles only what the entry point reaches.
void BlankUnusedStreamFunctions(std::string &text, LexedHlsl &lexed, const std::string &entryPoint);

// Renames the SV_ClipDistanceN and SV_CullDistanceN semantics of the text
// to stand-ins of the same length (HF_ClipDistanceN), for a geometry stage:
// glslang 12 crashes on them in a geometry stage's input. The SPIR-V gets
// the built-in variables back (RestoreClipCullDistances, spirv/clip_distances.h).
// The tokens stay those of the text: a name becomes a name of its length.
void RenameClipCullSemantics(std::string &text, const LexedHlsl &lexed);
