// Loading the animation: a whole process that loads data/robotrk.fli, and
// FLImainLoad in this process, beside FFmpeg decoding the same file to 32-bit
// pixels, run as a process in the same run (the repetitions of all the
// figures interleaved, so that the two processes alternate);
// the worst hostile files beside the same baseline; and the parts of start-up
// up to the first frame, headless.
#include <SDL/SDL_mixer.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FLIplay.h"
#include "Plasma.h"
#include "bench.h"

extern char** environ;

namespace {

const std::filesystem::path DATA_DIR = VELMORANTE_DATA;

// Runs argv with stdout on /dev/null and waits for it; false if it failed.
bool runQuietly(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_FFmpegDecode(benchmark::State& state) {
    const std::string file = (DATA_DIR / FLI_FILE).string();
    for (auto _ : state)
        if (!runQuietly({"ffmpeg", "-v", "error", "-i", file, "-f", "rawvideo", "-pix_fmt", "bgr0", "-"}))
            state.SkipWithError("ffmpeg failed");
}
BENCHMARK(BM_FFmpegDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

// FLImainLoad reads robotrk.fli from the working directory. The lines it
// prints for unhandled chunk types go to /dev/null, as the output of FFmpeg does.
void loadIn(const std::filesystem::path& dir, benchmark::State& state) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    fflush(stdout);
    const int out = dup(STDOUT_FILENO), null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    for (auto _ : state) {
        FLImainLoad();
        benchmark::DoNotOptimize(frames[SLOT_WORDS]);
    }
    fflush(stdout);
    dup2(out, STDOUT_FILENO);
    close(out);
    close(null);
    std::filesystem::current_path(before);
}

void BM_FLImainLoad(benchmark::State& state) { loadIn(DATA_DIR, state); }
BENCHMARK(BM_FLImainLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same load as a whole process, as a user meets it: the first touches of
// the volume's 196 MB count, which a load in this process no longer has.
void BM_LoadProcess(benchmark::State& state) {
    for (auto _ : state)
        if (!runQuietly({VELMORANTE_LOAD_ONCE, DATA_DIR.string()})) state.SkipWithError("load_once failed");
}
BENCHMARK(BM_LoadProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

// Hostile files, made once in a scratch folder.
using Bytes = std::vector<uint8_t>;

Bytes header(uint32_t size) {
    Bytes b(FLI_HEADER_BYTES, 0);
    putU32(&b[FLI_SIZE_AT], size);
    putU16(&b[FLI_MAGIC_AT], FLI_MAGIC);
    putU16(&b[FLI_HEIGHT_AT], FLI_H);
    return b;
}

// A header that asks for the whole store from a file that ends there: every
// frame reads as 0xFF bytes, 65,535 unhandled chunks a frame.
Bytes storeOfFF() { return header(UINT32_MAX); }

// One frame of size 0 (so walked 698 times) with 65,535 LC chunks of size 0,
// each reading 65,535 empty lines.
Bytes repeatedLc() {
    constexpr uint32_t chunk = FRAME_HEADER_BYTES, lcBody = chunk + CHUNK_HEADER_BYTES;
    Bytes b = header(FLI_HEADER_BYTES + 32);
    Bytes f(32, 0);
    putU16(&f[FRAME_CHUNKS_AT], 0xFFFF);          // 65,535 chunks
    putU16(&f[chunk + CHUNK_TYPE_AT], CHUNK_LC);  // chunk size 0, type LC
    putU16(&f[lcBody + LC_LINES_AT], 0xFFFF);     // skip 0, 65,535 lines
    b.insert(b.end(), f.begin(), f.end());
    return b;
}

// Frames of 16 bytes one after another, each with 65,535 COPY chunks of size 7:
// overlapping pictures that each read 64,000 bytes.
Bytes overlappingCopies() {
    const uint32_t body = 1 << 20;
    Bytes b = header(FLI_HEADER_BYTES + body);
    Bytes f(body);
    for (uint32_t at = 0; at + 7 <= body; at += 7) {
        putU32(&f[at + CHUNK_SIZE_AT], 7);
        putU16(&f[at + CHUNK_TYPE_AT], CHUNK_COPY);
    }
    putU32(&f[FRAME_SIZE_AT], FRAME_HEADER_BYTES);
    putU16(&f[FRAME_CHUNKS_AT], 0xFFFF);
    b.insert(b.end(), f.begin(), f.end());
    return b;
}

std::filesystem::path hostileDir(const char* name, Bytes (*make)()) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("velmorante-bench-" + std::string(name));
    std::filesystem::create_directories(dir);
    const Bytes b = make();
    FILE* f = fopen((dir / FLI_FILE).c_str(), "wb");
    if (f) {
        fwrite(b.data(), 1, b.size(), f);
        fclose(f);
    }
    return dir;
}

void BM_LoadHostile_CVE_2021_28676(benchmark::State& state) {
    static const std::filesystem::path dir = [] {
        const std::filesystem::path d = std::filesystem::temp_directory_path() / "velmorante-bench-cve";
        std::filesystem::create_directories(d);
        std::filesystem::copy_file(std::filesystem::path(VELMORANTE_TEST_FLI) / "pillow_cve_2021_28676_timeout.fli",
                                   d / FLI_FILE, std::filesystem::copy_options::overwrite_existing);
        return d;
    }();
    loadIn(dir, state);
}
void BM_LoadHostile_StoreOfFF(benchmark::State& state) {
    static const std::filesystem::path dir = hostileDir("ff", storeOfFF);
    loadIn(dir, state);
}
void BM_LoadHostile_RepeatedLc(benchmark::State& state) {
    static const std::filesystem::path dir = hostileDir("lc", repeatedLc);
    loadIn(dir, state);
}
void BM_LoadHostile_OverlappingCopies(benchmark::State& state) {
    static const std::filesystem::path dir = hostileDir("copy", overlappingCopies);
    loadIn(dir, state);
}
BENCHMARK(BM_LoadHostile_CVE_2021_28676)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadHostile_StoreOfFF)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadHostile_RepeatedLc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadHostile_OverlappingCopies)->Unit(benchmark::kMillisecond)->UseRealTime();

// Start-up up to the first frame on the dummy drivers: the display and the
// audio device as main opens them, Init, initNoise, one frame.
void openDisplayAndAudio() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    screen = SDL_SetVideoMode(SCREEN_W, SCREEN_H, SCREEN_BPP, 0);
    SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO);
    Mix_OpenAudio(AUDIO_RATE, AUDIO_S16LSB, AUDIO_CHANNELS, AUDIO_BUFFER);
}

void BM_StartupDisplayAndAudio(benchmark::State& state) {
    for (auto _ : state) {
        openDisplayAndAudio();
        Mix_CloseAudio();
        SDL_Quit();
    }
}
BENCHMARK(BM_StartupDisplayAndAudio)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StartupFirstFrame(benchmark::State& state) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(DATA_DIR);
    for (auto _ : state) {
        openDisplayAndAudio();
        Init();
        initNoise(1, 0);
        Script(1);
        SDL_Flip(screen);
        Mix_CloseAudio();
        SDL_Quit();
    }
    std::filesystem::current_path(before);
}
BENCHMARK(BM_StartupFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool registered = CompareWith(
    "BM_FFmpegDecode/real_time",
    {"BM_LoadProcess/real_time", "BM_FLImainLoad/real_time", "BM_LoadHostile_CVE_2021_28676/real_time", "BM_LoadHostile_StoreOfFF/real_time",
     "BM_LoadHostile_RepeatedLc/real_time", "BM_LoadHostile_OverlappingCopies/real_time",
     "BM_StartupFirstFrame/real_time", "BM_StartupDisplayAndAudio/real_time"});

}  // namespace
