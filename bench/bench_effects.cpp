// The tiled volume effect and the volume scroller beside a memcpy of the same
// 3,686,400 bytes, beside the same bytes copied as 1,280-byte runs from four
// slots at a time (the floor for a picture made of tiles), and beside the
// pixel-by-pixel picture.
#include <cstring>
#include <vector>

#include "../tests/scroller.h"
#include "FLIplay.h"
#include "Plasma.h"
#include "bench.h"

namespace {

void fillVolume() {
    static bool done = false;
    if (done) return;
    for (uint32_t k = 0; k < VOLUME_WORDS; k++) frames[k] = k * 2654435761u;
    done = true;
}

// Four tiles a row, each tile row from other slots: 3,686,400 distinct bytes.
void BM_tile_runs_floor(benchmark::State& state) {
    fillVolume();
    SDL_Surface* s = BenchSurface();
    RunEachPicture(state, [s] {
        uint32_t* out = static_cast<uint32_t*>(s->pixels);
        for (int y = 0; y < SCREEN_H; y++)
            for (int t = 0; t < 4; t++, out += FLI_W)
                memcpy(out, frames + (100 + 150 * t + 7 * (y / FLI_H)) * SLOT_WORDS + (y % FLI_H) * FLI_W, FLI_W * 4);
    });
}
BENCHMARK(BM_tile_runs_floor)->Unit(benchmark::kMillisecond);

// One frame drawn again and again: the same bytes each time, as for memcpy.
// Frame 2,000 has displaced rows (jitter 19) and five tile columns.
constexpr int32_t FRAME = 2000;

void BM_Script(benchmark::State& state) {
    fillVolume();
    screen = BenchSurface();
    RunEachPicture(state, [] { Script(FRAME); });
}
BENCHMARK(BM_Script)->Unit(benchmark::kMillisecond);

// Frames walking on as in the demo: new slots come in from memory every 16 frames.
void BM_Script_walking(benchmark::State& state) {
    fillVolume();
    screen = BenchSurface();
    int32_t n = FRAME;
    RunEachPicture(state, [&n] { Script(n++); });
}
BENCHMARK(BM_Script_walking)->Unit(benchmark::kMillisecond);

void BM_Script_pixel_by_pixel(benchmark::State& state) {
    fillVolume();
    SDL_Surface* s = BenchSurface();
    RunEachPicture(state, [s] { scrollerReference(s, scriptArgs(ScriptParams(FRAME))); });
}
BENCHMARK(BM_Script_pixel_by_pixel)->Unit(benchmark::kMillisecond);

// The scroller with every shift in use: picture and tile columns restart at
// different places, so a row has up to nine runs.
constexpr ScrollerArgs EVERY_SHIFT = {.scrollX = 150, .scrollY = 250, .slotBase = 40, .slotStep = 141,
                                      .tileRateX = 1, .pictureShiftY = 30, .tileShiftX = 17, .jitter = 24};

void BM_FLIframes(benchmark::State& state) {
    fillVolume();
    SDL_Surface* s = BenchSurface();
    RunEachPicture(state, [s] { scroller(s, EVERY_SHIFT); });
}
BENCHMARK(BM_FLIframes)->Unit(benchmark::kMillisecond);

void BM_FLIframes_pixel_by_pixel(benchmark::State& state) {
    fillVolume();
    SDL_Surface* s = BenchSurface();
    RunEachPicture(state, [s] { scrollerReference(s, EVERY_SHIFT); });
}
BENCHMARK(BM_FLIframes_pixel_by_pixel)->Unit(benchmark::kMillisecond);

const bool registered = CompareWith("BM_memcpy_frame", {"BM_tile_runs_floor", "BM_Script", "BM_Script_walking",
                                                        "BM_Script_pixel_by_pixel", "BM_FLIframes",
                                                        "BM_FLIframes_pixel_by_pixel"});

}  // namespace
