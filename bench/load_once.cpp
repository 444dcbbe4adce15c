// load_once DIR: a whole process that loads the animation as the demo does
// (FLImainLoad in DIR: the file, the noise slots, 698 frames into the volume)
// and exits. The benchmarks time it beside FFmpeg decoding the same file.
#include <unistd.h>

#include <cstdio>

#include "FLIplay.h"

int main(int argc, char** argv) {
    if (argc != 2 || chdir(argv[1]) != 0) {
        fprintf(stderr, "usage: load_once DIR (a folder holding robotrk.fli)\n");
        return 2;
    }
    FLImainLoad();
    return 0;
}
