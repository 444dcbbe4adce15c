// Runs the benchmarks with repetitions and prints, after the usual table, the
// ratio of each measured median to its baseline's median from the same run.
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "Plasma.h"
#include "bench.h"

namespace {

std::vector<std::pair<std::string, std::string>>& ratios() {
    static std::vector<std::pair<std::string, std::string>> list;
    return list;
}

class MedianReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;  // run name -> median real time, ns
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.str()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

// The baseline of every picture-sized figure: a memcpy of the 3,686,400 bytes
// of a 1280 x 720 x 32 picture into the same surface the effects draw into.
void BM_memcpy_frame(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(SCREEN_W) * SCREEN_H * 4;
    std::vector<uint8_t> from(bytes, 1);
    SDL_Surface* s = BenchSurface();
    for (auto _ : state) {
        memcpy(s->pixels, from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_memcpy_frame)->Unit(benchmark::kMillisecond);

}  // namespace

bool ReportRatio(const std::string& name, const std::string& baseline) {
    ratios().emplace_back(name, baseline);
    return true;
}

SDL_Surface* BenchSurface() {
    static SDL_Surface* s =
        SDL_CreateRGBSurface(SDL_SWSURFACE, SCREEN_W, SCREEN_H, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    return s;
}

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string reps = "--benchmark_repetitions=9";
    bool hasReps = false;
    for (char* a : args) hasReps |= std::string(a).rfind("--benchmark_repetitions", 0) == 0;
    if (!hasReps) args.push_back(reps.data());
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\nMedian ratios (same run):\n");
    for (const auto& [name, baseline] : ratios()) {
        auto a = reporter.medians.find(name), b = reporter.medians.find(baseline);
        if (a == reporter.medians.end() || b == reporter.medians.end()) continue;
        printf("  %-30s %6.2f x %-20s (%.3f against %.3f, in the benchmarks' own unit)\n", name.c_str(),
               a->second / b->second, baseline.c_str(), a->second, b->second);
    }
    benchmark::Shutdown();
    return 0;
}
