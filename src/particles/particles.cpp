// Particle generator, step and constant image.
//
// Every stored value is a float; the constants 32767, 0.005, 0.01 and
// 0.016666666 are doubles, so each operation that involves one is done in
// double and rounded once to float. The build keeps this exact on every
// target (no fast-math, SSE2 on 32-bit x86; see CMakeLists.txt).
#include "particles/particles.h"

#include <cmath>
#include <cstring>

ParticleGenerator generator = {1, 234567, 890123};
Particle particles[kParticleCount];
ConstantImage constantImage;

// Wrapping signed addition: done on the unsigned bits, converted back, so the
// overflow that starts at the tenth draw is defined behaviour.
static int32_t WrapAdd(int32_t p, int32_t q) {
    return static_cast<int32_t>(static_cast<uint32_t>(p) + static_cast<uint32_t>(q));
}

int32_t DrawParticleValue() {
    generator.a    = WrapAdd(generator.a, generator.c);
    int32_t result = generator.a >> 16; // arithmetic shift: -32768 to 32767
    generator.c    = WrapAdd(generator.c, generator.d);
    generator.d    = WrapAdd(generator.d, generator.a);
    return result;
}

static float Normalise(int32_t r) { return static_cast<float>(r / 32767.0); }

void InitParticles() {
    for (Particle &p : particles) {
        float u[8];
        for (float &v : u) v = Normalise(DrawParticleValue());
        p.x     = u[1];
        p.y     = u[0];
        p.vx    = static_cast<float>(u[3] * 0.005);
        p.vy    = static_cast<float>(u[2] * 0.005);
        p.s0    = std::fabs(u[7]);
        p.s1    = std::fabs(u[6]);
        p.s2    = std::fabs(u[5]);
        p.phase = std::fabs(u[4]);
    }
}

void UpdateParticles() {
    for (int i = 0; i < kParticleCount; ++i) {
        Particle &p = particles[i];
        p.x += p.vx;
        p.y += p.vy;
        p.phase = static_cast<float>(p.phase + 0.01);
        // Exactly 1.0 does not bounce, and a NaN compares false so never does.
        if (std::fabs(p.x) > 1.0f) p.vx = -p.vx;
        if (std::fabs(p.y) > 1.0f) p.vy = -p.vy;
        constantImage.particles[i] = p;
    }
}

void AdvanceTime() { constantImage.Time = static_cast<float>(constantImage.Time + 0.016666666); }

void ClearConstantImage() { std::memset(&constantImage, 0, sizeof(constantImage)); }
