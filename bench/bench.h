// Shared bench support: every figure is reported beside a baseline measured
// in the same run, in milliseconds and as a ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <SDL/SDL.h>

#include <cstddef>
#include <initializer_list>
#include <string>

#include "Plasma.h"

// After the run, the table shows each figure's median beside the baseline's.
// Call from a static initialiser beside the BENCHMARK registrations, with the
// names as the library reports them (".../real_time" where UseRealTime is set).
bool CompareWith(const std::string& baseline, std::initializer_list<std::string> figures);

// A 1280 x 720 x 32 software surface, made once.
SDL_Surface* BenchSurface();

// `work` once an iteration, its writes kept.
template <class Work>
void RunEach(benchmark::State& state, Work work) {
    for (auto _ : state) {
        work();
        benchmark::ClobberMemory();
    }
}

// The same for work that writes one 1280 x 720 x 32 picture an iteration.
template <class Draw>
void RunEachPicture(benchmark::State& state, Draw draw) {
    RunEach(state, draw);
    state.SetBytesProcessed(state.iterations() * SCREEN_BYTES);
}
