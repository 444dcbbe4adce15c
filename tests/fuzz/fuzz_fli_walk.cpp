// libFuzzer target for the frame walk: any bytes as an animation file, walked
// by MainFLI as FLImainLoad walks robotrk.fli, then on past the last slot,
// where MainFLI must keep to the volume, then one frame through FLIplay,
// which keeps no slot at all. It walks the last FRAMES_WALKED frames of a load
// rather than all 698: expanding a slot is the same work every time, and
// fewer of them leave the fuzzer time for more inputs. The fast target builds
// this file again with fewer frames and a small loader (CMakeLists.txt).
#include <cstddef>

#include "FLIplay.h"

#ifndef FRAMES_WALKED
#define FRAMES_WALKED 16
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FLIloadMemory(data, size);
    FLIwalkReset();
    nframe = ANIM_FRAMES - FRAMES_WALKED;
    MainFLI();
    nframe = SLOTS - 2;
    MainFLI();  // the last slot
    MainFLI();  // no slot left
    FLIplay();
    return 0;
}
