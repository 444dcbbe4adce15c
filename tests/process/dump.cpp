// What the program computes, as raw bytes on standard output, for the process
// tests to compare with what other programs make of it:
//
//   dump slots FILE FIRST LAST   loads FILE the way the demo loads its animation
//                                and writes slots FIRST..LAST of the volume, each
//                                64,000 little-endian 0x00RRGGBB words: the same
//                                bytes as FFmpeg's rawvideo bgr0.
//   dump sound DATA              the demo's start-up from the folder DATA, then
//                                the sound loop it hands to the mixer.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "FLIplay.h"
#include "Plasma.h"

namespace {

// Runs `load` in `dir` with standard output sent to standard error, so that
// the lines for unhandled chunk types never mix with the bytes.
template <class Load>
void loadIn(const std::filesystem::path& dir, Load load) {
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    fflush(stdout);
    const int out = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    load();
    fflush(stdout);
    dup2(out, STDOUT_FILENO);
    close(out);
    std::filesystem::current_path(here);
}

bool write(const void* bytes, size_t n) { return fwrite(bytes, 1, n, stdout) == n && fflush(stdout) == 0; }

int slots(const char* file, const char* first, const char* last) {
    const unsigned long a = strtoul(first, nullptr, 10), b = strtoul(last, nullptr, 10);
    if (a > b || b >= SLOTS) {
        fprintf(stderr, "dump: slots must satisfy FIRST <= LAST < %u\n", SLOTS);
        return 2;
    }
    char scratch[] = "/tmp/velmorante-dump-XXXXXX";
    if (!mkdtemp(scratch)) return 1;
    const std::filesystem::path dir = scratch;
    std::filesystem::create_symlink(std::filesystem::absolute(file), dir / FLI_FILE);
    loadIn(dir, FLImainLoad);
    std::filesystem::remove_all(dir);
    return write(frames + a * SLOT_WORDS, (b - a + 1) * SLOT_WORDS * sizeof frames[0]) ? 0 : 1;
}

int sound(const char* data) {
    loadIn(data, Init);  // the volume's draws come first, as in the demo
    std::vector<uint8_t> loop(NOISE_BYTES);
    noiseBuild(loop.data(), 1);
    return write(loop.data(), loop.size()) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "slots") == 0) return slots(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "sound") == 0) return sound(argv[2]);
    fprintf(stderr, "usage: dump slots FILE FIRST LAST | dump sound DATA\n");
    return 2;
}
