// The plasma ramp and the rotozoomer beside a memcpy of the same 3,686,400
// bytes, and the rotozoomer beside its one-pixel-at-a-time oracle.
#include "Plasma.h"
#include "bench.h"

namespace {

// A texture with detail in every texel, so that no filter step is trivial.
void fillTexture() {
    for (int i = 0; i < TEX_TEXELS; i++) {
        rbmp[i] = static_cast<uint8_t>(i * 7 + (i >> 8) * 3);
        gbmp[i] = static_cast<uint8_t>(i * 13 ^ i >> 8);
        bbmp[i] = static_cast<uint8_t>((i >> 3) * 5);
    }
}

void BM_plasma(benchmark::State& state) {
    SDL_Surface* s = BenchSurface();
    RunEachPicture(state, [s] { plasma(s); });
}
BENCHMARK(BM_plasma)->Unit(benchmark::kMillisecond);

// Views that read the texture differently: turned and magnified (neighbouring
// pixels share texels), at its own size, turned and shrunk (every pixel reads
// texels far from the last), and upright or on its side (rows walk along
// texture rows or down texture columns). Arguments: angle, zoom in quarters.
void BM_rotozoomer(benchmark::State& state) {
    fillTexture();
    SDL_Surface* s = BenchSurface();
    const float angle = static_cast<float>(state.range(0)), zoom = static_cast<float>(state.range(1)) / 4;
    RunEachPicture(state, [=] { rotozoomer(s, angle, zoom); });
}
BENCHMARK(BM_rotozoomer)
    ->Args({33, 2})
    ->Args({33, 4})
    ->Args({33, 12})
    ->Args({0, 4})
    ->Args({90, 4})
    ->Unit(benchmark::kMillisecond);

void BM_rotozoomer_reference(benchmark::State& state) {
    fillTexture();
    SDL_Surface* s = BenchSurface();
    RunEachPicture(state, [s] { rotozoomerReference(s, 33, 3); });
}
BENCHMARK(BM_rotozoomer_reference)->Unit(benchmark::kMillisecond);

const bool registered = CompareWith("BM_memcpy_frame", {"BM_plasma", "BM_rotozoomer/33/2", "BM_rotozoomer/33/4",
                                                        "BM_rotozoomer/33/12", "BM_rotozoomer/0/4", "BM_rotozoomer/90/4",
                                                        "BM_rotozoomer_reference"});

}  // namespace
