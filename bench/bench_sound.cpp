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
    for (auto _ : state) {
        memset(buffer().data(), 0x5A, NOISE_BYTES);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_noise_memset)->Unit(benchmark::kMillisecond);

void BM_noise_rand_calls(benchmark::State& state) {
    for (auto _ : state) {
        int sum = 0;
        for (uint32_t i = 0; i < NOISE_BYTES; i++) sum += demoRand() & 1;
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_noise_rand_calls)->Unit(benchmark::kMillisecond);

void BM_noise_libc_rand_calls(benchmark::State& state) {
    for (auto _ : state) {
        int sum = 0;
        for (uint32_t i = 0; i < NOISE_BYTES; i++) sum += rand() & 1;
        benchmark::DoNotOptimize(sum);
    }
}
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
    for (auto _ : state) {
        noiseSweep(buffer().data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_noiseSweep)->Unit(benchmark::kMillisecond);

void BM_noiseModulate(benchmark::State& state) {
    for (auto _ : state) {
        noiseModulate(buffer().data(), 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_noiseModulate)->Unit(benchmark::kMillisecond);

void BM_noiseBuild(benchmark::State& state) {
    for (auto _ : state) {
        noiseBuild(buffer().data(), 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_noiseBuild)->Unit(benchmark::kMillisecond);

void BM_noise_straight_version(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(noise_reference::build(1));
}
BENCHMARK(BM_noise_straight_version)->Unit(benchmark::kMillisecond);

const bool registered = ReportRatio("BM_noiseBuild", "BM_noise_plain_sines") &&
                        ReportRatio("BM_noiseBuild", "BM_noise_rand_calls") &&
                        ReportRatio("BM_noiseBuild", "BM_noise_memset") &&
                        ReportRatio("BM_noiseSweep", "BM_noise_plain_sines") &&
                        ReportRatio("BM_noiseModulate", "BM_noise_plain_sines") &&
                        ReportRatio("BM_noise_straight_version", "BM_noiseBuild");

}  // namespace
