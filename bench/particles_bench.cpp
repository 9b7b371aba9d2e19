// The simulation's share of a frame (step + clock) and a full reseed.
// Run: build/default/bench/hotfx_bench_particles --benchmark_repetitions=10
//      --benchmark_report_aggregates_only=true
#include "particles/particles.h"

#include <benchmark/benchmark.h>

static void BM_FrameSimulation(benchmark::State &state) {
    InitParticles();
    ClearConstantImage();
    for (auto _ : state) {
        UpdateParticles();
        AdvanceTime();
        benchmark::DoNotOptimize(constantImage);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrameSimulation);

static void BM_InitParticles(benchmark::State &state) {
    for (auto _ : state) {
        InitParticles();
        benchmark::DoNotOptimize(particles);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_InitParticles);

BENCHMARK_MAIN();
