// The same bytes on every machine. The generator against glibc's own rand(),
// the fast paths of the extended-precision steps against the full ones, and
// hashes of what the program computes (the frame volume, the sound loop,
// pictures) against the values of the x86-64 build, whose bytes the oracle
// tests there check (FFmpeg and Pillow for the volume, the straight versions
// for the sound and the effects). They are also the values of the build that
// used x87's long double and glibc's rand() directly. An arm64 or WebAssembly
// build that passes these computes what the desktop build computes.
#include <cmath>
#include <cstring>
#include <random>

#include "support.h"

namespace {

TEST(Portable, TheGeneratorIsGlibcsRand) {
#ifndef __GLIBC__
    GTEST_SKIP() << "no glibc here: the hashes below stand in for this check";
#else
    srand(1);
    demoSrand(1);
    for (int k = 0; k < 10000000; k++) ASSERT_EQ(demoRand(), rand()) << "draw " << k;
    for (unsigned seed : {0u, 7u, 0x80000005u, 0xFFFFFFFFu}) {
        srand(seed);
        demoSrand(seed);
        for (int k = 0; k < 100000; k++) ASSERT_EQ(demoRand(), rand()) << "seed " << seed << ", draw " << k;
    }
#endif
}

// Every quotient of the sound's sweep, and of its modulation for the
// amplitudes tried, by the double division fast path and in full.
TEST(Portable, QuotientFastPathAgreesWithTheFullQuotient) {
    for (uint32_t i = 0; i < NOISE_BYTES; i++) {
        const uint32_t q = i % noise_reference::PERIOD / noise_reference::SWEEP_STEP;
        if (q) {
            ASSERT_EQ(quotientToDouble(4.0 * i, 8.0 * q), toDouble(Extended(4.0 * i) / Extended(8.0 * q))) << i;
        }
    }
    std::mt19937_64 bits(3);
    for (int k = 0; k < 2000000; k++) {
        const double n = 2.0 * (bits() % NOISE_BYTES), d = 32.0 * sin(static_cast<double>(bits() % 1023) - 511);
        if (d != 0) {
            ASSERT_EQ(quotientToDouble(n, d), toDouble(Extended(n) / Extended(d))) << n << " / " << d;
        }
    }
    // Quotients whose 64-bit rounding lands halfway between two doubles, the
    // one place where rounding twice differs from rounding once: about one in
    // 2,048 of these.
    int halfway = 0;
    for (int k = 0; k < 1000000; k++) {
        const double n = static_cast<double>(bits() % (1 << 22)), d = std::ldexp(static_cast<double>(bits() >> 11), -50);
        if (n == 0 || d == 0) continue;
        const Extended full = Extended(n) / Extended(d);
        halfway += (full.significand & 0x7FF) == 0x400;
        ASSERT_EQ(quotientToDouble(n, d), toDouble(full)) << n << " / " << d;
    }
    EXPECT_GT(halfway, 100);
}

TEST(Portable, ProductFastPathAgreesWithTheFullProduct) {
    std::mt19937_64 bits(4);
    for (int k = 0; k < 2000000; k++) {
        const double sine = sin(static_cast<double>(bits() % 100000) / 7);
        const int shift = static_cast<int>(bits() % 40);
        const double factor = static_cast<double>(static_cast<int64_t>(bits() >> (24 + shift))) * (bits() & 1 ? -1 : 1);
        ASSERT_EQ(truncatedProduct(sine, factor), truncated(Extended(sine) * Extended(factor))) << sine << " * " << factor;
    }
    EXPECT_EQ(truncatedProduct(0.5, -3), -1);
    EXPECT_EQ(truncatedProduct(1e300, 1e10), INT64_MAX);
}

// The per-frame values and the rotozoomer's steps over wide ranges.
TEST(Portable, PerFrameValuesAndStepsAreTheDesktops) {
    Fnv1a frame;
    for (int32_t n = -100000; n <= 1000000; n++) {
        const TileParams p = ScriptParams(n);
        frame.add(p.scrollX).add(p.scrollY).add(p.slotStep).add(p.jitter);
    }
    for (int32_t n : {INT32_MIN, -46341, 46341, 1 << 30, INT32_MAX}) frame.add(ScriptParams(n).jitter);
    EXPECT_EQ(frame.h, 0x59b53257u) << std::hex << frame.h;

    Fnv1a steps;
    std::mt19937 bits(5);
    for (int k = 0; k < 200000; k++) {
        const float angle = static_cast<float>(static_cast<int>(bits() % 72001) - 36000) / 100;
        const float zoom = static_cast<float>(bits() % 60000) / 10000;
        const RotoSteps s = rotozoomSteps(angle, zoom);
        steps.add(s.stepA).add(s.stepB);
    }
    for (float angle : {0.0f, 45.0f, 90.0f, -90.0f, 1e-40f, 3e38f}) {
        for (float zoom : {1.0f, 2.0f, 0.5f, 1e-30f, 3e4f}) {
            const RotoSteps s = rotozoomSteps(angle, zoom);
            steps.add(s.stepA).add(s.stepB);
        }
    }
    EXPECT_EQ(steps.h, 0x26b12e94u) << std::hex << steps.h;
}

TEST(Portable, SoundPassesForManyAmplitudesAreTheDesktops) {
    std::vector<uint8_t> b(NOISE_BYTES);
    Fnv1a h;
    for (int amplitude : {1, 2, 3, 7, 100, 65536, 1 << 30, -5, INT32_MAX}) {
        noiseSweep(b.data());
        noiseModulate(b.data(), amplitude);
        h.add(b.data(), b.size());
    }
    EXPECT_EQ(h.h, 0x084426a5u) << std::hex << h.h;
}

// The demo's own start-up from data/, then the loop, frames and effects.
class PortableDemo : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initFromData(); }
    TestSurface out;
    void SetUp() override { screen = out.surface; }
    void TearDown() override { screen = nullptr; }
    uint32_t pictureHash() {
        const std::vector<uint32_t> words = out.picture();
        return Fnv1a().add(words.data(), words.size() * sizeof words[0]).h;
    }
};

TEST_F(PortableDemo, TheVolumeAndTheSoundAreTheDesktops) {
    const uint32_t volume = Fnv1a().add(frames, sizeof frames).h;
    EXPECT_EQ(volume, 0x006bd871u) << std::hex << volume;

    std::vector<uint8_t> loop(NOISE_BYTES);
    noiseBuild(loop.data(), 1);  // its draws follow the volume's, as in the demo
    const uint32_t sound = Fnv1a().add(loop.data(), loop.size()).h;
    EXPECT_EQ(sound, 0x2ce23953u) << std::hex << sound;
}

TEST_F(PortableDemo, PicturesAreTheDesktops) {
    // Frames with noise tiles, displaced rows, a wrapped square, the last one.
    Fnv1a frames;
    for (int32_t n : {1, 100, 3000, 46341, 100003, 2000000, INT32_MAX}) {
        Script(n);
        frames.add(pictureHash());
    }
    EXPECT_EQ(frames.h, 0xb18dd27cu) << std::hex << frames.h;

    Fnv1a effects;
    scroller(out.surface, {.scrollX = 100, .scrollY = 50, .slotBase = 3, .slotStep = 141, .tileRateX = 1,
                           .pictureShiftY = 7, .tileShiftX = 40, .jitter = 1000000});  // rows shifted by more than 2^11
    effects.add(pictureHash());
    plasma(out.surface);
    effects.add(pictureHash());
    for (float angle : {0.0f, 33.0f, 90.0f, -151.5f}) {
        rotozoomer(out.surface, angle, angle == 0 ? 1.0f : 0.75f);
        effects.add(pictureHash());
    }
    const char text[] = "Velmorante 1.0";
    Print(100, 100, text, static_cast<int>(sizeof text - 1));
    effects.add(pictureHash());
    EXPECT_EQ(effects.h, 0x61fa1387u) << std::hex << effects.h;
}

}  // namespace
