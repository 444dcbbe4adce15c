// Runs the benchmarks and ends with a table: each figure's median time in
// milliseconds beside its baseline's from the same run, and their ratio. The
// time is the CPU time of the benchmark's thread, which other work on the
// machine hardly moves; figures named .../real_time (those that run FFmpeg or
// open devices, and what is compared with them) are timed by the wall clock.
// The quick run (the default) takes 5 repetitions of at least 0.2 s each and
// prints only the table; --full takes 9 of the library's 0.5 s and prints
// every run too. --benchmark_* options given by hand win over both.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "bench.h"

namespace {

struct Comparison {
    std::string figure, baseline;
};

std::vector<Comparison>& comparisons() {
    static std::vector<Comparison> list;
    return list;
}

// Keeps each benchmark's median, in ms; prints the runs only when asked to.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    explicit MedianReporter(bool printRuns) : printRuns_(printRuns) {}
    std::map<std::string, double> medianMs;  // run name -> median time, ms
    std::vector<std::string> errors;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) errors.push_back(run.benchmark_name() + ": " + run.error_message);
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            const double t = run.run_name.time_type.empty() ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
            medianMs[run.run_name.str()] = t / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
        }
        if (printRuns_) ConsoleReporter::ReportRuns(runs);
    }

private:
    bool printRuns_;
};

// The baseline of every picture-sized figure: a memcpy of the 3,686,400 bytes
// of a 1280 x 720 x 32 picture into the same surface the effects draw into.
void BM_memcpy_frame(benchmark::State& state) {
    std::vector<uint8_t> from(SCREEN_BYTES, 1);
    SDL_Surface* s = BenchSurface();
    RunEachPicture(state, [&] { memcpy(s->pixels, from.data(), SCREEN_BYTES); });
}
BENCHMARK(BM_memcpy_frame)->Unit(benchmark::kMillisecond);

bool hasOption(const std::vector<char*>& args, const char* prefix) {
    return std::any_of(args.begin(), args.end(), [&](const char* a) { return strncmp(a, prefix, strlen(prefix)) == 0; });
}

void printTable(const MedianReporter& reporter) {
    size_t figureWidth = strlen("figure"), baselineWidth = strlen("baseline");
    for (const Comparison& c : comparisons()) {
        figureWidth = std::max(figureWidth, c.figure.size());
        baselineWidth = std::max(baselineWidth, c.baseline.size());
    }
    const int fw = static_cast<int>(figureWidth), bw = static_cast<int>(baselineWidth);
    printf("\nMedians of the same run: CPU time, or wall-clock for the /real_time figures\n");
    printf("%-*s %10s   %-*s %10s %9s\n", fw, "figure", "ms", bw, "baseline", "ms", "ratio");
    for (const Comparison& c : comparisons()) {
        const auto a = reporter.medianMs.find(c.figure), b = reporter.medianMs.find(c.baseline);
        if (a == reporter.medianMs.end()) continue;  // left out by a filter, or failed (see below)
        if (b == reporter.medianMs.end()) {
            printf("%-*s %10.3f   %-*s %10s %9s\n", fw, c.figure.c_str(), a->second, bw, c.baseline.c_str(), "-",
                   "-");
            continue;
        }
        const double ratio = a->second / b->second;
        printf("%-*s %10.3f   %-*s %10.3f %8.*fx\n", fw, c.figure.c_str(), a->second, bw, c.baseline.c_str(),
               b->second, ratio < 0.1 ? 4 : 2, ratio);
    }
}

}  // namespace

bool CompareWith(const std::string& baseline, std::initializer_list<std::string> figures) {
    for (const std::string& f : figures) comparisons().push_back({f, baseline});
    return true;
}

SDL_Surface* BenchSurface() {
    static SDL_Surface* s = newPicture();
    return s;
}

int main(int argc, char** argv) {
    std::vector<char*> args;
    bool full = false;
    for (int i = 0; i < argc; i++) {
        if (i > 0 && strcmp(argv[i], "--full") == 0)
            full = true;
        else
            args.push_back(argv[i]);
    }
    std::string reps = full ? "--benchmark_repetitions=9" : "--benchmark_repetitions=5";
    std::string minTime = "--benchmark_min_time=0.2";
    if (!hasOption(args, "--benchmark_repetitions")) args.push_back(reps.data());
    if (!full && !hasOption(args, "--benchmark_min_time")) args.push_back(minTime.data());
    // Repetitions of different figures in a shuffled order, so that a figure
    // and its baseline share the machine's busy and quiet moments.
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    if (!hasOption(args, "--benchmark_enable_random_interleaving")) args.push_back(interleave.data());
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;

    if (!full)
        printf("The quick run, about a minute; the long one, every run printed: make bench BENCH=full\n");
    MedianReporter reporter(full);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(reporter);
    for (const std::string& e : reporter.errors) printf("error: %s\n", e.c_str());
    benchmark::Shutdown();
    return reporter.errors.empty() ? 0 : 1;
}
