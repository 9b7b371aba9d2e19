// HLSL bytecode of the Linux backend and its translation to GLSL.
//
// D3DX11CompileFromFileA (compiler.cpp) compiles one entry point of an HLSL
// file with glslang and returns a blob in this backend's own bytecode format
// (SPIR-V plus the stage). The shader-creation calls of the device
// (device.cpp) hand that blob to TranslateToGlsl and compile the GLSL with
// the GL driver.
#pragma once

#include <cstddef>
#include <string>

enum class ShaderStage { Vertex, Geometry, Pixel };

// Turns a blob made by D3DX11CompileFromFileA into GLSL 4.50 for the given
// stage. Returns false, with a readable reason in error, when the blob is not
// of that stage, is malformed, or cannot be expressed in GLSL. Stage inputs
// and outputs get locations from their HLSL semantics so the stages link as
// they do on Windows: the inputs of a geometry or pixel stage take the
// locations that the most recently translated previous stage gave its
// outputs of the same semantic.
bool TranslateToGlsl(ShaderStage stage, const void *bytecode, size_t size, std::string &glsl,
                     std::string &error);
