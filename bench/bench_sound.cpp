// The sound loop's generation, run once before the first frame, beside what it
// is made of: 3,145,728 plain sines, 1,048,576 draws of the generator (beside
// as many of the C library's rand()), and a memset of
// the same 1 MiB; and beside the straight version the tests check it against.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/noise_reference.h"
#include "FLIplay.h"
#include "Plasma.h"
#include "bench.h"

namespace {

constexpr uint32_t SINES = 3 * NOISE_BYTES;  // one a byte in the sweep, two in the modulation

std::vector<uint8_t>& buffer() {
    static std::vector<uint8_t> b(NOISE_BYTES);
    return b;
}

void BM_noise_memset(benchmark::State& state) {
    RunEach(state, [] { memset(buffer().data(), 0x5A, NOISE_BYTES); });
}
BENCHMARK(BM_noise_memset)->Unit(benchmark::kMillisecond);

// NOISE_BYTES draws of a generator, one bit of each kept.
template <int (*draw)()>
void draws(benchmark::State& state) {
    for (auto _ : state) {
        int sum = 0;
        for (uint32_t i = 0; i < NOISE_BYTES; i++) sum += draw() & 1;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_noise_rand_calls(benchmark::State& state) { draws<demoRand>(state); }
BENCHMARK(BM_noise_rand_calls)->Unit(benchmark::kMillisecond);

void BM_noise_libc_rand_calls(benchmark::State& state) { draws<rand>(state); }
BENCHMARK(BM_noise_libc_rand_calls)->Unit(benchmark::kMillisecond);

// Arguments over the sweep's own range, 0..524,288 radians.
void BM_noise_plain_sines(benchmark::State& state) {
    for (auto _ : state) {
        double sum = 0;
        for (uint32_t k = 0; k < SINES; k++) sum += sin(k * (1.0 / 6));
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_noise_plain_sines)->Unit(benchmark::kMillisecond);

void BM_noiseSweep(benchmark::State& state) {
    RunEach(state, [] { noiseSweep(buffer().data()); });
}
BENCHMARK(BM_noiseSweep)->Unit(benchmark::kMillisecond);

void BM_noiseModulate(benchmark::State& state) {
    RunEach(state, [] { noiseModulate(buffer().data(), 1); });
}
BENCHMARK(BM_noiseModulate)->Unit(benchmark::kMillisecond);

void BM_noiseBuild(benchmark::State& state) {
    RunEach(state, [] { noiseBuild(buffer().data(), 1); });
}
BENCHMARK(BM_noiseBuild)->Unit(benchmark::kMillisecond);

void BM_noise_straight_version(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(noise_reference::build(1));
}
BENCHMARK(BM_noise_straight_version)->Unit(benchmark::kMillisecond);

const bool registered =
    CompareWith("BM_noise_plain_sines", {"BM_noiseBuild", "BM_noiseSweep", "BM_noiseModulate"}) &&
    CompareWith("BM_noise_libc_rand_calls", {"BM_noise_rand_calls"}) &&
    CompareWith("BM_noise_rand_calls", {"BM_noiseBuild"}) && CompareWith("BM_noise_memset", {"BM_noiseBuild"}) &&
    CompareWith("BM_noiseBuild", {"BM_noise_straight_version"});

}  // namespace
