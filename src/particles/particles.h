// The 256 particles, their integer generator, the per-frame step and the
// 16384-byte constant image that carries them and the clock to the shaders.
// Nothing here touches a platform.
#pragma once

#include <cstddef>
#include <cstdint>

struct ParticleGenerator {
    int32_t a; // accumulator; its upper half is the output
    int32_t c; // first carry word
    int32_t d; // second carry word
};

struct Particle {
    float x, y;       // position
    float vx, vy;     // velocity per frame
    float s0, s1, s2; // fixed attributes, 0 to 1
    float phase;      // grows by 0.01 every frame
};
static_assert(sizeof(Particle) == 32, "a particle is eight floats with no gaps");

constexpr int kParticleCount          = 256;
constexpr size_t kConstantImageBytes  = 16384;
constexpr size_t kParticleImageOffset = 256;

extern ParticleGenerator generator;
alignas(16) extern Particle particles[kParticleCount];

// The processor copy of the constant buffer: Time in register 0, particle i
// in registers 16 + 2i and 17 + 2i, everything else zero.
struct ConstantImage {
    float Time;
    float zeroHead[63]; // bytes 4-255
    Particle particles[kParticleCount];
    float
        zeroTail[(kConstantImageBytes - kParticleImageOffset - sizeof(Particle) * kParticleCount) /
                 sizeof(float)]; // bytes 8448-16383
};
static_assert(sizeof(ConstantImage) == kConstantImageBytes, "the image is 1024 registers");
static_assert(offsetof(ConstantImage, particles) == kParticleImageOffset, "particles at byte 256");

alignas(16) extern ConstantImage constantImage;

int32_t DrawParticleValue();
void InitParticles();
void UpdateParticles();
void AdvanceTime();
void ClearConstantImage();
