// HLSL bytecode of the Linux backend and its translation to GLSL.
//
// D3DX11CompileFromFileA (compiler.cpp) compiles one entry point of an HLSL
// file with glslang and returns a blob in this backend's own bytecode format:
// kBytecodeMagic, the ShaderStage as one 32-bit word, then the SPIR-V words.
// The shader-creation calls of the device (device.cpp) hand that blob to
// TranslateToGlsl and compile the GLSL with the GL driver as a separable
// program.
//
// What the GLSL expects from the device:
// - Constant buffer register(bN) is the uniform block at binding N, laid out
//   byte for byte as on Windows (HLSL packing), so the device uploads the
//   system's constant image unchanged.
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

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum class ShaderStage : uint32_t { Vertex = 0, Geometry = 1, Pixel = 2 };

constexpr uint32_t kBytecodeMagic = 0x42584648; // "HFXB" in a little-endian file

// A reference-counted blob holding a copy of the given bytes, with one
// reference for the caller. Null when memory runs out.
ID3D10Blob *CreateBlob(const void *data, size_t size);

// Turns a blob made by D3DX11CompileFromFileA into GLSL 4.50 for the given
// stage. Returns false, with a readable reason in error, when the blob is not
// of that stage, is malformed, or cannot be expressed in GLSL. Stage inputs
// and outputs get locations from their HLSL semantics so the stages link as
// they do on Windows: the inputs of a geometry or pixel stage take the
// locations that the most recently translated previous stage gave its
// outputs of the same semantic (a pixel stage follows the geometry stage),
// and an input whose semantic that stage does not write is an error.
bool TranslateToGlsl(ShaderStage stage, const void *bytecode, size_t size, std::string &glsl,
                     std::string &error);
