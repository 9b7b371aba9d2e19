// The simulation, bit for bit: generator sequence, the crossed field order,
// the float roundings, the bounce rules, the clock and the image layout.
#include "particles/particles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float Ratio(int r) {
    return static_cast<float>(r / 32767.0);
}

// Each test starts from the process's initial state.
class Simulation : public ::testing::Test {
  protected:
    void SetUp() override {
        generator = {1, 234567, 890123};
        std::memset(particles, 0, sizeof particles);
        ClearConstantImage();
    }
};

TEST_F(Simulation, FirstSixteenDrawsWrapAndChangeSign) {
    const int32_t expected[16] = {3,    20,    55,     127,    292,    677,    1576,   3664,
                                  8520, 19807, -19489, -24026, -13291, -11310, -31374, -19255};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(DrawParticleValue(), expected[i]) << "draw " << i;
}

TEST_F(Simulation, FillUsesTheCrossedFieldOrder) {
    InitParticles();
    const Particle &p0 = particles[0];
    EXPECT_EQ(Bits(p0.x), Bits(Ratio(20)));
    EXPECT_EQ(Bits(p0.y), Bits(Ratio(3)));
    EXPECT_EQ(Bits(p0.x), 0x3a200140u);  // 20/32767 rounded once to float
    EXPECT_EQ(Bits(p0.vx), 0x37a290a1u); // the float 127/32767 times the double 0.005
    EXPECT_EQ(Bits(p0.vy), Bits(static_cast<float>(Ratio(55) * 0.005)));
    EXPECT_EQ(Bits(p0.s0), Bits(Ratio(3664)));
    EXPECT_EQ(Bits(p0.s1), Bits(Ratio(1576)));
    EXPECT_EQ(Bits(p0.s2), Bits(Ratio(677)));
    EXPECT_EQ(Bits(p0.phase), Bits(Ratio(292)));

    // Particle 1 draws negative values: positions and velocities keep the
    // sign, the fixed attributes and the phase take the magnitude.
    const Particle &p1 = particles[1];
    EXPECT_EQ(Bits(p1.x), Bits(Ratio(19807)));
    EXPECT_EQ(Bits(p1.y), Bits(Ratio(8520)));
    EXPECT_EQ(Bits(p1.vx), Bits(static_cast<float>(Ratio(-24026) * 0.005)));
    EXPECT_EQ(Bits(p1.vy), Bits(static_cast<float>(Ratio(-19489) * 0.005)));
    EXPECT_LT(p1.vx, 0.0f);
    EXPECT_EQ(Bits(p1.s0), Bits(Ratio(19255)));
    EXPECT_EQ(Bits(p1.s1), Bits(Ratio(31374)));
    EXPECT_EQ(Bits(p1.s2), Bits(Ratio(11310)));
    EXPECT_EQ(Bits(p1.phase), Bits(Ratio(13291)));
}

TEST_F(Simulation, FillAdvancesTheGeneratorBy2048Draws) {
    InitParticles();
    const ParticleGenerator afterFill = generator;
    generator                         = {1, 234567, 890123};
    for (int i = 0; i < 2048; ++i)
        DrawParticleValue();
    EXPECT_EQ(generator.a, afterFill.a);
    EXPECT_EQ(generator.c, afterFill.c);
    EXPECT_EQ(generator.d, afterFill.d);
}

TEST_F(Simulation, SecondFillDiffersAndRestartRepeats) {
    InitParticles();
    Particle first[kParticleCount];
    std::memcpy(first, particles, sizeof first);

    InitParticles();
    EXPECT_NE(std::memcmp(first, particles, sizeof first), 0);
    int same = 0;
    for (int i = 0; i < kParticleCount; ++i)
        same += std::memcmp(&first[i], &particles[i], sizeof(Particle)) == 0;
    EXPECT_EQ(same, 0);

    generator = {1, 234567, 890123};
    InitParticles();
    EXPECT_EQ(std::memcmp(first, particles, sizeof first), 0);
}

TEST_F(Simulation, MinusWhole32768IsNotClamped) {
    // From (INT32_MIN, 0, 0) the draws go -32768, -32768, 0, -32768, 0, 0,
    // -32768, -32768: the extreme value lands on y, x, vx, s1 and s0.
    const int32_t expected[8] = {-32768, -32768, 0, -32768, 0, 0, -32768, -32768};
    generator                 = {std::numeric_limits<int32_t>::min(), 0, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(DrawParticleValue(), expected[i]) << "draw " << i;

    generator = {std::numeric_limits<int32_t>::min(), 0, 0};
    InitParticles();
    const Particle &p    = particles[0];
    const float belowOne = static_cast<float>(-32768 / 32767.0);
    EXPECT_EQ(Bits(p.x), Bits(belowOne));
    EXPECT_EQ(Bits(p.y), Bits(belowOne));
    EXPECT_LT(p.x, -1.0f);
    EXPECT_EQ(Bits(p.s0), Bits(-belowOne));
    EXPECT_EQ(Bits(p.s1), Bits(-belowOne));
    EXPECT_GT(p.s0, 1.0f);
    EXPECT_EQ(p.phase, 0.0f);
    EXPECT_GT(std::fabs(p.vx), 0.005f);
}

struct BounceCase {
    float x, vx;   // start
    float x1, vx1; // after one step
    float x2, vx2; // after two steps
};

class Bounce : public Simulation, public ::testing::WithParamInterface<BounceCase> {};

TEST_P(Bounce, OnBothAxes) {
    const BounceCase c = GetParam();
    // The same case on x and on y, independently, both in one particle.
    particles[0] = {c.x, -c.x, c.vx, -c.vx, 0, 0, 0, 0};
    UpdateParticles();
    EXPECT_EQ(particles[0].x, c.x1);
    EXPECT_EQ(particles[0].vx, c.vx1);
    EXPECT_EQ(particles[0].y, -c.x1);
    EXPECT_EQ(particles[0].vy, -c.vx1);
    UpdateParticles();
    EXPECT_EQ(particles[0].x, c.x2);
    EXPECT_EQ(particles[0].vx, c.vx2);
    EXPECT_EQ(particles[0].y, -c.x2);
    EXPECT_EQ(particles[0].vy, -c.vx2);
}

INSTANTIATE_TEST_SUITE_P(Edges, Bounce,
                         ::testing::Values(
                             // Crosses to 1.25, reverses in the same step, comes back.
                             BounceCase{0.75f, 0.5f, 1.25f, -0.5f, 0.75f, -0.5f},
                             // Exactly 1.0 does not bounce; 1.5 does.
                             BounceCase{0.5f, 0.5f, 1.0f, 0.5f, 1.5f, -0.5f},
                             // Coming back to exactly 1.0 keeps going inward.
                             BounceCase{1.5f, -0.5f, 1.0f, -0.5f, 0.5f, -0.5f}));

TEST_F(Simulation, EachAxisBouncesIndependentlyAndNaNNever) {
    particles[0]    = {0.9f, 0.0f, 0.2f, 0.1f, 0, 0, 0, 0}; // only x crosses
    const float nan = std::numeric_limits<float>::quiet_NaN();
    particles[1]    = {nan, 0.0f, 0.5f, 0.0f, 0, 0, 0, 0};
    UpdateParticles();
    EXPECT_EQ(Bits(particles[0].vx), Bits(-0.2f));
    EXPECT_EQ(Bits(particles[0].vy), Bits(0.1f));
    EXPECT_TRUE(std::isnan(particles[1].x));
    EXPECT_EQ(Bits(particles[1].vx), Bits(0.5f));
}

TEST_F(Simulation, PositionIsTheFloatSumAndPhaseTheDoubleSum) {
    // At phase 0.04f the double sum rounds to 0.05000000075 while a float
    // sum with 0.01f would give 0.04999999702.
    particles[0] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.04f};
    UpdateParticles();
    EXPECT_EQ(Bits(particles[0].x), Bits(0.1f + 0.3f));
    EXPECT_EQ(Bits(particles[0].y), Bits(0.2f + 0.4f));
    EXPECT_EQ(Bits(particles[0].phase), Bits(static_cast<float>(double(0.04f) + 0.01)));
    EXPECT_NE(Bits(particles[0].phase), Bits(0.04f + 0.01f));
    EXPECT_EQ(particles[0].s0, 0.5f);
    EXPECT_EQ(particles[0].s1, 0.6f);
    EXPECT_EQ(particles[0].s2, 0.7f);
}

TEST_F(Simulation, SixtyFramesOfTimeStopJustUnderOne) {
    // Frame 17 is where a float constant would first diverge.
    for (int i = 0; i < 17; ++i)
        AdvanceTime();
    EXPECT_EQ(Bits(constantImage.Time), Bits(0.28333333134651184f));
    for (int i = 17; i < 60; ++i)
        AdvanceTime();
    EXPECT_EQ(Bits(constantImage.Time), 0x3f7ffffbu);
    EXPECT_LT(constantImage.Time, 1.0f);
}

TEST_F(Simulation, PhaseStallsAt2To18AndTimeAt2To19) {
    particles[0].phase = 262144.0f;
    UpdateParticles();
    EXPECT_EQ(particles[0].phase, 262144.0f);
    // Just below, the step still moves it, by a rounded amount.
    particles[0].phase = 131072.0f;
    UpdateParticles();
    EXPECT_GT(particles[0].phase, 131072.0f);

    constantImage.Time = 524288.0f;
    AdvanceTime();
    EXPECT_EQ(constantImage.Time, 524288.0f);
    constantImage.Time = 262144.0f;
    AdvanceTime();
    EXPECT_GT(constantImage.Time, 262144.0f);
}

TEST_F(Simulation, ImageHoldsTheSteppedParticlesAndZeroElsewhere) {
    static_assert(sizeof(Particle) == 32 && sizeof(particles) == 8192, "layout");
    InitParticles();
    for (int frame = 0; frame < 300; ++frame) {
        UpdateParticles();
        AdvanceTime();
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(&constantImage);
    float time;
    std::memcpy(&time, bytes, 4);
    EXPECT_EQ(time, constantImage.Time);
    EXPECT_GT(time, 4.9f);
    for (size_t i = 4; i < 256; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    for (size_t i = 8448; i < 16384; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    for (int i = 0; i < kParticleCount; ++i) {
        // Particle i is registers 16 + 2i and 17 + 2i.
        float reg[8];
        std::memcpy(reg, bytes + 16 * (16 + 2 * i), sizeof reg);
        const float *p = &particles[i].x;
        for (int k = 0; k < 8; ++k)
            ASSERT_EQ(Bits(reg[k]), Bits(p[k])) << i << "," << k;
    }
    // Positions stay near the square: a crossing is undone within a step.
    for (const Particle &p : particles) {
        EXPECT_LE(std::fabs(p.x), 1.0f + 0.0052f);
        EXPECT_LE(std::fabs(p.y), 1.0f + 0.0052f);
    }

    ClearConstantImage();
    for (size_t i = 0; i < sizeof constantImage; ++i)
        ASSERT_EQ(bytes[i], 0);
}

uint64_t Fnv1a(const void *data, size_t size) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i)
        h = (h ^ static_cast<const unsigned char *>(data)[i]) * 0x100000001b3ull;
    return h;
}

// Two fills, each followed by 1000 frames, hashed over the whole image. The
// expected hashes come from an independent model of the same arithmetic
// (Python doubles rounded to float with struct), so any double rounding (the
// x87 unit), contraction or fast-math anywhere in the build changes them.
TEST_F(Simulation, ThousandFramesMatchTheReferenceModelBitForBit) {
    const uint64_t expected[2] = {0x4f759707d7ed4148ull, 0x2437b8520780678bull};
    for (uint64_t hash : expected) {
        InitParticles();
        ClearConstantImage();
        for (int frame = 0; frame < 1000; ++frame) {
            UpdateParticles();
            AdvanceTime();
        }
        EXPECT_EQ(Fnv1a(&constantImage, sizeof constantImage), hash);
    }
}

} // namespace
