// The sound loop: each pass against its known figures and the straight version
// of noise_reference.h, and the hand-over to the mixer with and without a device.
#include <SDL/SDL_mixer.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "noise_reference.h"
#include "support.h"

namespace {

using Bytes = std::vector<uint8_t>;

using noise_reference::PERIOD;
constexpr uint8_t UNTOUCHED = 0xA5;  // what a byte holds before a pass that must set it

size_t firstMismatch(const Bytes& a, const Bytes& b) {
    return std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin();
}

TEST(NoiseSweep, SetsEveryByteToTheKnownFigures) {
    Bytes b(NOISE_BYTES, UNTOUCHED);
    noiseSweep(b.data());
    EXPECT_EQ(b[2500], 212);  // q = 1, x = 1,250, v = -44
    EXPECT_EQ(b[2501], 18);   // x = 1,250.5
    EXPECT_EQ(b[5000], 212);  // q = 2: every step of the first period starts at x = 1,250
    EXPECT_EQ(b[1048575], 144);  // q = 52, v = -112
    uint32_t silent = 0;
    for (uint32_t i = 0; i < NOISE_BYTES; i++) {
        if (i % PERIOD < 2500) {
            ASSERT_EQ(b[i], 0) << i;  // q = 0: no finite x
            silent++;
        }
        ASSERT_EQ(b[i], noise_reference::sweep(i)) << i;
    }
    EXPECT_EQ(silent, 20000u);
}

TEST(NoiseModulation, LargerAmplitudesFlipTopBitsButNeverWhereTheStepQuotientIsZero) {
    for (int a : {100, -7}) {
        Bytes b(NOISE_BYTES);
        noiseSweep(b.data());
        const Bytes before = b;
        noiseModulate(b.data(), a);
        uint32_t flipped = 0;
        for (uint32_t i = 0; i < NOISE_BYTES; i++) {
            const bool flip = b[i] != before[i];
            ASSERT_EQ(flip, noise_reference::flips(i, a)) << a << " " << i;
            if (!flip) continue;
            flipped++;
            ASSERT_EQ(b[i], before[i] ^ 0x80) << i;
            ASSERT_NE(static_cast<int>(i % PERIOD / 256) / a, 0) << i;
        }
        EXPECT_GT(flipped, 1000u) << a;
    }
}

TEST(NoiseModulation, AmplitudesOneZeroAndIntMinChangeNothing) {
    // Amplitude 1 leaves every v at 0: no sine of the loop is exactly 1 or -1.
    // Amplitude 0
    // is outside the caller's contract: it scales every v to 0 or -32,768,
    // both even, so nothing changes and nothing is divided by zero. INT_MIN
    // makes every step quotient 0.
    for (int a : {1, 0, INT_MIN}) {
        Bytes b(NOISE_BYTES);
        noiseSweep(b.data());
        const Bytes before = b;
        noiseModulate(b.data(), a);
        EXPECT_EQ(firstMismatch(b, before), NOISE_BYTES) << a;
    }
}

TEST(NoiseAddRand, AddsOneDrawModulo42AByteInIndexOrder) {
    Bytes b(NOISE_BYTES, 250);
    demoSrand(1);
    noiseAddRand(b.data());
    // The sequence after srand(1) begins 1804289383, 846930886, 1681692777,
    // 1714636915, 1957747793, 424238335: modulo 42, 1, 4, 9, 19, 29, 31. Its
    // 1,048,576th draw is 423242646: 36. Sums come round past 255.
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Bytes{251, 254, 3, 13, 23, 25}));
    EXPECT_EQ(b.back(), 30);
    // Exactly one draw a byte: the generator goes on with draw 1,048,577.
    const int next = demoRand();
    referenceSrand(1);
    for (uint32_t k = 0; k < NOISE_BYTES; k++) referenceRand();
    EXPECT_EQ(next, referenceRand());

    // Each byte gains 0..41, coming round past 255; each gain about as often.
    std::vector<uint32_t> gains(256);
    for (uint8_t v : b) gains[static_cast<uint8_t>(v - 250)]++;
    for (uint32_t g = 0; g < 256; g++) {
        if (g < 42) {
            EXPECT_NEAR(gains[g], NOISE_BYTES / 42.0, NOISE_BYTES / 42.0 * 0.05) << g;
        } else {
            EXPECT_EQ(gains[g], 0u) << g;
        }
    }
}

// The loop as the demo makes it: after the frame volume's noise, drawn by
// FLIload from the unseeded generator; and with no modulation at all.
TEST(NoiseBuild, EqualsTheStraightVersion) {
    ScratchDir dir;
    writeFile("anim.fli", fliHeader(FLI_HEADER_BYTES));
    demoSrand(1);
    FLIload("anim.fli");
    Bytes b(NOISE_BYTES);
    noiseBuild(b.data(), 1);

    referenceSrand(1);
    for (uint32_t k = 0; k < noise_reference::VOLUME_DRAWS; k++) referenceRand();
    const Bytes expected = noise_reference::build(1);
    size_t at = firstMismatch(b, expected);
    EXPECT_EQ(at, NOISE_BYTES) << "byte " << at;
    for (uint32_t i = 0; i < NOISE_BYTES; i++) {
        if (i % PERIOD < 2500) {
            ASSERT_LT(b[i], 42) << i;  // noise alone
        }
    }

    demoSrand(1);
    noiseBuild(b.data(), 0);
    referenceSrand(1);
    at = firstMismatch(b, noise_reference::build(0));
    EXPECT_EQ(at, NOISE_BYTES) << "amplitude 0, byte " << at;
}

class Mixer : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        noise = nullptr;
    }
    void TearDown() override {
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        noise = nullptr;  // the chunk is never freed, as in the demo
    }
};

TEST_F(Mixer, TheLoopIsHandedOverInPlaceAndPlaysOnOneChannel) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
    ASSERT_EQ(Mix_OpenAudio(AUDIO_RATE, AUDIO_S16LSB, AUDIO_CHANNELS, AUDIO_BUFFER), 0) << Mix_GetError();
    demoSrand(1);
    initNoise(1, 7);  // the second argument changes nothing
    ASSERT_NE(noise, nullptr);
    EXPECT_EQ(noise->alen, NOISE_BYTES);
    EXPECT_EQ(noise->volume, MIX_MAX_VOLUME);
    EXPECT_EQ(noise->allocated, 0);  // the mixer plays our bytes, not a copy
    EXPECT_EQ(Mix_Playing(-1), 1);

    referenceSrand(1);
    const Bytes expected = noise_reference::build(1);
    EXPECT_EQ(memcmp(noise->abuf, expected.data(), NOISE_BYTES), 0);
}

TEST_F(Mixer, WithoutAnAudioDeviceNothingPlaysAndNothingIsPrinted) {
    const Output printed = captureOutput([] { initNoise(1, 0); });
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, "");
    EXPECT_EQ(noise, nullptr);
}

}  // namespace
