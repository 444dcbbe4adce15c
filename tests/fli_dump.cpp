// fli_dump FILE FIRST LAST: loads FILE the way the demo loads robotrk.fli (from
// a scratch folder where it is linked under that name) and writes slots
// FIRST..LAST of the volume to stdout, each 64,000 little-endian 0x00RRGGBB
// words: the same bytes as FFmpeg's rawvideo bgr0.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "FLIplay.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: fli_dump FILE FIRST LAST\n");
        return 2;
    }
    const std::filesystem::path file = std::filesystem::absolute(argv[1]);
    const unsigned long first = strtoul(argv[2], nullptr, 10), last = strtoul(argv[3], nullptr, 10);
    if (first > last || last >= SLOTS) {
        fprintf(stderr, "fli_dump: slots must satisfy FIRST <= LAST < %u\n", SLOTS);
        return 2;
    }
    char scratch[] = "/tmp/fli_dump-XXXXXX";
    if (!mkdtemp(scratch)) return 1;
    const std::filesystem::path dir = scratch;
    std::filesystem::create_symlink(file, dir / FLI_FILE);
    std::filesystem::current_path(dir);
    // Lines for unhandled chunk types go to stderr, so that stdout is pixels only.
    fflush(stdout);
    const int out = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    FLImainLoad();
    fflush(stdout);
    dup2(out, STDOUT_FILENO);
    close(out);
    std::filesystem::remove_all(dir);
    for (unsigned long s = first; s <= last; s++)
        if (fwrite(frames + s * SLOT_WORDS, sizeof frames[0], SLOT_WORDS, stdout) != SLOT_WORDS) return 1;
    return 0;
}
