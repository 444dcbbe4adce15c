// The fast libFuzzer target for the frame walk: fuzz_fli_walk's calls over a
// loader built small (CMakeLists.txt beside this file says how), so that the
// fuzzer runs hundreds of inputs a second instead of dozens. It walks the last
// FRAMES_WALKED frames of a load, then the last slot, then a frame with no
// slot left, then one more frame through FLIplay, which keeps no slot at all.
#include <cstddef>

#include "FLIplay.h"

constexpr uint32_t FRAMES_WALKED = 4;

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
