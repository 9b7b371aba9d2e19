// Where each stage's resource slots live in GL.
//
// Direct3D 11 keeps the slots of every stage apart: constant buffer b0 of the
// vertex stage and b0 of the pixel stage are two slots, each set by its own
// *SetConstantBuffers call. GL has one set of uniform-buffer bindings and one
// set of texture units shared by all stages. The translator writes each
// stage's resources at the GL binding this table gives, and the context binds
// what a stage's slot holds at the same place, so the stages stay apart.
#pragma once

#include <cstdint>

enum class ShaderStage : uint32_t { Vertex = 0, Geometry = 1, Pixel = 2 };

constexpr uint32_t kStageCount = 3;

enum class ResourceKind : uint32_t { ConstantBuffer, Texture, Sampler };

// Slots per stage, as in Direct3D 11: b0-b13, t0-t127, s0-s15.
constexpr uint32_t kConstantBufferSlots = 14;
constexpr uint32_t kTextureSlots        = 128;
constexpr uint32_t kSamplerSlots        = 16;

constexpr uint32_t SlotCount(ResourceKind kind) {
    return kind == ResourceKind::ConstantBuffer ? kConstantBufferSlots
           : kind == ResourceKind::Texture      ? kTextureSlots
                                                : kSamplerSlots;
}

// Constant buffer register r of stage s is uniform-buffer binding 14 s + r:
// 42 bindings, within the 84 that GL 4.5 guarantees
// (GL_MAX_UNIFORM_BUFFER_BINDINGS), and 14 blocks per stage, GL's minimum of
// GL_MAX_*_UNIFORM_BLOCKS. The register must be below kConstantBufferSlots.
constexpr uint32_t ConstantBufferBinding(ShaderStage stage, uint32_t slot) {
    return static_cast<uint32_t>(stage) * kConstantBufferSlots + slot;
}
constexpr uint32_t kConstantBufferBindings = kStageCount * kConstantBufferSlots;

// What a texture register declares; the GL texture bound to its unit must be
// of the matching target.
enum class TextureKind : uint32_t {
    Buffer,
    Texture1D,
    Texture1DArray,
    Texture2D,
    Texture2DArray,
    Texture2DMS,
    Texture2DMSArray,
    Texture3D,
    TextureCube,
    TextureCubeArray,
};

// What a texture's reads return: GL wants a texture of the same kind bound.
enum class TextureComponent : uint32_t { Float, Int, Uint };

constexpr uint32_t kNoSampler = UINT32_MAX;

// GLSL samples through a texture and a sampler combined in one unit, where
// HLSL names the two apart (t and s registers). Each pair that a stage's code
// uses gets a unit of its own; a texture read without a sampler (Load,
// operator[], GetDimensions) is a pair with kNoSampler. The context binds
// the stage's texture slot and sampler slot of each pair to its unit.
struct TexturePair {
    uint32_t texture           = 0;          // t register
    uint32_t sampler           = kNoSampler; // s register, or kNoSampler
    uint32_t unit              = 0;          // GL texture unit
    TextureKind kind           = TextureKind::Texture2D;
    TextureComponent component = TextureComponent::Float;
    bool comparison            = false; // read with SampleCmp: a shadow sampler in GLSL
};

// GL 4.5 guarantees 16 texture units per stage (GL_MAX_*_TEXTURE_IMAGE_UNITS)
// and 80 in all, so each stage owns 16 units of its own: pair p of stage s is
// unit 16 s + p. Fewer pairs than Direct3D's 128 texture slots fit in a
// stage: a shader that uses more than kUnitsPerStage pairs cannot be
// expressed, and TextureUnit says so by returning false.
constexpr uint32_t kUnitsPerStage = 16;
constexpr bool TextureUnit(ShaderStage stage, uint32_t pair, uint32_t &unit) {
    if (pair >= kUnitsPerStage) return false;
    unit = static_cast<uint32_t>(stage) * kUnitsPerStage + pair;
    return true;
}
