// Writes the sound loop the demo plays, from the straight version of the tests,
// to the file named by the first argument: the generator from the start of its
// sequence (as after srand(1)), the frame volume's noise draws, then the loop
// at amplitude 1.
#include <cstdio>

#include "noise_reference.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: noise_reference OUTPUT\n");
        return 2;
    }
    referenceSrand(1);
    for (uint32_t k = 0; k < noise_reference::VOLUME_DRAWS; k++) referenceRand();
    const std::vector<uint8_t> loop = noise_reference::build(1);
    FILE* f = fopen(argv[1], "wb");
    if (!f || fwrite(loop.data(), 1, loop.size(), f) != loop.size() || fclose(f) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
