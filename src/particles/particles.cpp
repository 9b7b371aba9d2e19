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
alignas(16) Particle particles[kParticleCount];
alignas(16) ConstantImage constantImage;

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

static float Normalise(int32_t r) {
    return static_cast<float>(r / 32767.0);
}

void InitParticles() {
    for (Particle &p : particles) {
        float u[8];
        for (float &v : u)
            v = Normalise(DrawParticleValue());
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

#if !defined(HOTFX_SCALAR) &&                                                                      \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define HOTFX_SSE2 1
#include <emmintrin.h>
#endif

void UpdateParticles() {
#if HOTFX_SSE2
    // One particle is two registers: (x, y, vx, vy) and (s0, s1, s2, phase).
    // Same operations and roundings as the plain loop below, four times
    // faster: the frame's whole step stays well under a microsecond.
    const __m128 one   = _mm_set1_ps(1.0f);
    const __m128 sign  = _mm_set1_ps(-0.0f);
    const __m128d step = _mm_set_pd(0.01, -0.0); // (s2, phase) + (-0.0, 0.01): s2 unchanged
    float *master      = &particles[0].x;
    float *image       = &constantImage.particles[0].x;
    for (int i = 0; i < kParticleCount; ++i, master += 8, image += 8) {
        __m128 motion = _mm_loadu_ps(master);
        __m128 fixed  = _mm_loadu_ps(master + 4);
        __m128 vel    = _mm_movehl_ps(motion, motion);
        __m128 pos    = _mm_add_ps(motion, vel); // float sums, correctly rounded
        // |pos| > 1 flips the velocity's sign; false for exactly 1.0 and NaN.
        __m128 flip = _mm_and_ps(_mm_cmpgt_ps(_mm_andnot_ps(sign, pos), one), sign);
        motion      = _mm_movelh_ps(pos, _mm_xor_ps(vel, flip));
        // phase in double, rounded once to float
        __m128 tail = _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(fixed, fixed)), step));
        fixed       = _mm_shuffle_ps(fixed, tail, _MM_SHUFFLE(1, 0, 1, 0));
        _mm_storeu_ps(master, motion);
        _mm_storeu_ps(master + 4, fixed);
        _mm_storeu_ps(image, motion);
        _mm_storeu_ps(image + 4, fixed);
    }
#else
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
#endif
}

void AdvanceTime() {
    constantImage.Time = static_cast<float>(constantImage.Time + 0.016666666);
}

void ClearConstantImage() {
    std::memset(&constantImage, 0, sizeof(constantImage));
}
