// The sound loop written out straight from its description, byte by byte and
// without the program's helpers: the oracle of the generator in the unit tests,
// and (through noise_reference.cpp) the expected bytes of the sound capture.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

// The oracle of the program's demoRand: the C library's own rand() where that
// is glibc's (test_portable.cpp checks that the two agree for ten million
// draws), else the program's generator itself.
#include "FLIplay.h"
#include "Plasma.h"

#ifdef __GLIBC__
inline int referenceRand() { return rand(); }
inline void referenceSrand(unsigned seed) { srand(seed); }
#else
inline int referenceRand() { return demoRand(); }
inline void referenceSrand(unsigned seed) { demoSrand(seed); }
#endif

namespace noise_reference {

constexpr uint32_t BYTES = NOISE_BYTES;
constexpr uint32_t PERIOD = 131072;        // bytes: the sweep and the modulation restart here
constexpr uint32_t SWEEP_STEP = 2500;      // bytes
constexpr uint32_t MOD_STEP = 256;         // bytes
constexpr uint32_t VOLUME_DRAWS = (SLOTS - NOISE_FIRST_SLOT) * SLOT_WORDS;  // one a pixel of the noise slots

// The 16-bit conversion: a real value truncates into -32,768..32,767 exactly
// when -32,769 < v < 32,768; NaN and the infinities fail the test.
inline int toSample(long double v) { return v > -32769.0L && v < 32768.0L ? static_cast<int>(v) : -32768; }

// Pass 1 alone: x = i / (2q) with q = (i mod 131,072) / 2,500.
inline uint8_t sweep(uint32_t i) {
    const uint32_t q = i % PERIOD / SWEEP_STEP;
    if (q == 0) return 0;  // x is not finite: -32,768, low byte 0
    const double x = static_cast<double>(static_cast<long double>(i) / (2 * q));
    return static_cast<uint8_t>(toSample(128 * static_cast<long double>(std::sin(x))) & 0xFF);
}

// Pass 2: whether byte i has its top bit flipped. Amplitude 0 scales every
// sample to 0 or -32,768: both even.
inline bool flips(uint32_t i, int a) {
    if (a == 0) return false;
    const int q2 = static_cast<int>(i % PERIOD / MOD_STEP) / a;
    if (q2 == 0) return false;  // y is not finite: -32,768 is even
    const long double s1 = std::sin(static_cast<double>(q2));
    const double y = static_cast<double>(static_cast<long double>(i) / (16 * s1));
    return toSample(static_cast<long double>(std::sin(y)) * a) % 2 != 0;
}

// The whole loop for amplitude a; draws BYTES numbers of referenceRand.
inline std::vector<uint8_t> build(int a) {
    std::vector<uint8_t> b(BYTES);
    for (uint32_t i = 0; i < BYTES; i++) b[i] = static_cast<uint8_t>(sweep(i) ^ (flips(i, a) ? 0x80 : 0));
    for (uint32_t i = 0; i < BYTES; i++) b[i] = static_cast<uint8_t>((b[i] + referenceRand() % 42) & 0xFF);
    return b;
}

}  // namespace noise_reference
