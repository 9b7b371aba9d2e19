// HLSL bytecode of the Linux backend and its translation to GLSL.
//
// D3DX11CompileFromFileA (compiler/compile.cpp) compiles one entry point of an HLSL
// file with glslang and returns a blob in this backend's own bytecode format,
// 32-bit words: kBytecodeMagic, kBytecodeVersion, the ShaderStage, the
// registers of the constant buffers laid out with packoffset (bit N for bN:
// their SPIR-V member offsets are the source's own, the others get HLSL
// packing here), then the SPIR-V words.
// The shader-creation calls of the device (device.cpp) hand that blob to
// TranslateToGlsl and compile the GLSL with the GL driver as a separable
// program.
//
// What the GLSL expects from the device:
// - Constant buffer register(bN) of a stage is the uniform block at the
//   binding bindings.h gives (stage, N), laid out byte for byte as on
//   Windows (HLSL packing), so the device uploads the system's constant
//   image unchanged.
// - Stage inputs and outputs carry explicit locations derived from their HLSL
//   semantics; the stages link by location.
// - SV_InstanceID is gl_InstanceID, which ignores the start instance as D3D
//   does.
// - The device renders into its FBO with glClipControl(GL_LOWER_LEFT,
//   GL_ZERO_TO_ONE): D3D's 0..1 depth, and clip-space +y at the top of the
//   image with GL's own row order (row 0 of the FBO is the BOTTOM row), so
//   Present copies the FBO to the window without flipping it. A D3D viewport
//   counts TopLeftY from the top: glViewport(x, 768 - TopLeftY - Height, ...).
//   Screen-clockwise is GL_CW in these window coordinates (glFrontFace(GL_CW)
//   matches D3D's FrontCounterClockwise = FALSE).
// - The pixel stage redeclares gl_FragCoord with layout(origin_upper_left),
//   so SV_Position reads D3D's pixel coordinates: x from the left, y from the
//   top of the 768-row FBO, centres at .5. (With GL_UPPER_LEFT clip control
//   instead, row 0 would be the top and origin_upper_left would count y from
//   the bottom: the two must not be combined.)
#pragma once

#include "platform/gl/bindings.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr uint32_t kBytecodeMagic   = 0x42584648; // "HFXB" in a little-endian file
constexpr uint32_t kBytecodeVersion = 2;

// A reference-counted blob holding a copy of the given bytes, with one
// reference for the caller. Null when memory runs out.
ID3D10Blob *CreateBlob(const void *data, size_t size);

// The locations a stage gave its outputs, by semantic with its index
// ("COLOR0", "TEXCOORD1"): what the next stage's inputs link against.
struct StageOutputs {
    ShaderStage stage = ShaderStage::Vertex;
    std::map<std::string, uint32_t> locations;
};

// A constant buffer the stage reads: its register and the uniform-buffer
// binding it was written at (ConstantBufferBinding of bindings.h).
struct ConstantBufferUse {
    uint32_t slot    = 0;
    uint32_t binding = 0;
};

// Everything the device needs of one translated stage.
struct Translation {
    std::string glsl;
    StageOutputs outputs; // empty for the pixel stage
    std::vector<ConstantBufferUse> constantBuffers;
    std::vector<TexturePair> textures;
    // How many gl_ClipDistance elements the stage writes: the distances GL
    // clips by when it is the last stage before the rasterizer.
    uint32_t clipDistances = 0;
};

// Turns a blob made by D3DX11CompileFromFileA into GLSL 4.50 for the given
// stage. previous is the outputs of the stage that feeds this one (the
// vertex stage's for a geometry stage; the geometry stage's, or the vertex
// stage's when there is none, for a pixel stage; null for a vertex stage):
// every input takes the location previous gave the output of its semantic,
// and an input whose semantic previous does not write is an error. Returns
// false, with a readable reason in error, when the blob is not of that stage,
// is malformed, or cannot be expressed in GLSL. Keeps nothing between calls.
bool TranslateToGlsl(ShaderStage stage, const void *bytecode, size_t size,
                     const StageOutputs *previous, Translation &result, std::string &error);
