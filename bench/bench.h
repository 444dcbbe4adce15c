// Shared bench support: every figure is reported as a ratio to a baseline
// measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <SDL/SDL.h>

#include <string>

// After the run, prints median(name) / median(baseline). Call from a static
// initialiser beside the BENCHMARK registrations.
bool ReportRatio(const std::string& name, const std::string& baseline);

// A 1280 x 720 x 32 software surface, made once.
SDL_Surface* BenchSurface();
