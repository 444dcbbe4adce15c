// The plasma ramp and the rotozoomer: the ramp's levels, the 16.16 steps,
// unfiltered and filtered texels, wrap-around, the cursor, and the fast
// rotozoomer against the one-pixel-at-a-time oracle.
#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "support.h"

namespace {

uint32_t grey(uint32_t level) { return level << 16 | level << 8 | level; }
uint32_t texel(int row, int col) {
    const int i = (row & 0xFF) * TEX_SIDE + (col & 0xFF);
    return static_cast<uint32_t>(rbmp[i]) << 16 | static_cast<uint32_t>(gbmp[i]) << 8 | bbmp[i];
}

void randomTexture(unsigned seed) {
    std::mt19937 gen(seed);
    for (int i = 0; i < TEX_TEXELS; i++) {
        rbmp[i] = static_cast<uint8_t>(gen());
        gbmp[i] = static_cast<uint8_t>(gen());
        bbmp[i] = static_cast<uint8_t>(gen());
    }
}

uint32_t* wordOf(TestSurface& s, int x, int y) { return &s.memory[static_cast<size_t>(y) * s.pitchWords + x]; }

TEST(Plasma, LevelsAtTheFivePixelsAndEverywhere) {
    TestSurface out;
    plasma(out.surface);
    EXPECT_EQ(out.at(0, 0), grey(0));
    EXPECT_EQ(out.at(255, 0), grey(255));
    EXPECT_EQ(out.at(256, 0), grey(0));
    EXPECT_EQ(out.at(200, 100), grey(44));
    EXPECT_EQ(out.at(1279, 719), grey(206));
    for (int y = 0; y < SCREEN_H; y++)
        for (int x = 0; x < SCREEN_W; x++) ASSERT_EQ(out.at(x, y), grey((x + y) % 256)) << x << "," << y;
    EXPECT_EQ(vram, out.memory.data() + SCREEN_W * SCREEN_H);
    EXPECT_EQ(out.memory[SCREEN_W * SCREEN_H], TestSurface::GUARD);
}

TEST(Plasma, RowsFollowThePitchAndASmallSurfaceIsNotOverrun) {
    TestSurface padded(SCREEN_W + 24);
    plasma(padded.surface);
    EXPECT_EQ(padded.at(200, 100), grey(44));
    EXPECT_EQ(padded.at(1279, 719), grey(206));
    EXPECT_EQ(*wordOf(padded, SCREEN_W, 3), TestSurface::GUARD);
    EXPECT_EQ(vram, wordOf(padded, SCREEN_W, SCREEN_H - 1));

    TestSurface small(300, 300, 200);
    plasma(small.surface);
    EXPECT_EQ(small.at(299, 199), grey(498 % 256));
    EXPECT_EQ(small.memory[300 * 200], TestSurface::GUARD);
    EXPECT_EQ(vram, small.memory.data() + 300 * 200);
}

TEST(Rotozoomer, StepsOfTheFourFigures) {
    const struct {
        float angle, zoom;
        int32_t a, b;
    } cases[] = {{0, 1, 65536, 0}, {90, 1, 2, 65535}, {45, 1, 46341, 46340}, {-90, 2, 4, -131071}};
    for (const auto& c : cases) {
        const RotoSteps s = rotozoomSteps(c.angle, c.zoom);
        EXPECT_EQ(s.stepA, c.a) << c.angle;
        EXPECT_EQ(s.stepB, c.b) << c.angle;
    }
}

TEST(Rotozoomer, StepsBeyond32BitsSaturateAndNaNGivesZero) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(rotozoomSteps(0, 40000).stepA, INT32_MAX);
    EXPECT_EQ(rotozoomSteps(0, -40000).stepA, INT32_MIN);
    EXPECT_EQ(rotozoomSteps(0, inf).stepA, INT32_MAX);
    EXPECT_EQ(rotozoomSteps(0, nan).stepA, 0);
    EXPECT_EQ(rotozoomSteps(nan, 1).stepB, 0);
    EXPECT_EQ(rotozoomSteps(inf, 1).stepA, 0);  // cos of infinity is NaN
    EXPECT_EQ(rotozoomSteps(0, 32767).stepA, 32767 * 65536);
}

class Roto : public ::testing::Test {
protected:
    static void SetUpTestSuite() { randomTexture(7); }
    TestSurface out;
};

TEST_F(Roto, AtAngle0AndZoom1EveryPixelIsTheTexelOneOnDownAndRight) {
    rotozoomer(out.surface, 0, 1);
    for (int y = 0; y < SCREEN_H; y++)
        for (int x = 0; x < SCREEN_W; x++) ASSERT_EQ(out.at(x, y), texel(y + 1, x + 1)) << x << "," << y;
    EXPECT_EQ(vram, out.memory.data() + SCREEN_W * SCREEN_H);
}

// The red plane of the four texels around the wrap: (255, 255) = 100,
// (col 0, row 255) = 200, (col 255, row 0) = 50, (0, 0) = 0.
void wrapCorner() {
    rbmp[255 * TEX_SIDE + 255] = 100;
    rbmp[255 * TEX_SIDE + 0] = 200;
    rbmp[0 * TEX_SIDE + 255] = 50;
    rbmp[0] = 0;
}

TEST_F(Roto, NegativeCoordinatesWrapAndWeightsRoundDown) {
    wrapCorner();
    // Zoom -0.5 at angle 0: pixel (0, 0) samples u = v = -32768, that is
    // column and row 255 going on to 0, both weights a half:
    // top 100 + 50 = 150, bottom 50 - 25 = 25, 150 + floor(-62.5) = 87.
    rotozoomer(out.surface, 0, -0.5f);
    EXPECT_EQ(out.at(0, 0) >> 16, 87u);
    // Zoom -1/65536: u = v = -1, so tx0 = 255, tx1 = 0, fx = fy = 65535:
    // top 100 + 99, bottom 50 - 50, 199 + floor(-198.99...) = 0.
    rotozoomer(out.surface, 0, -1.0f / 65536);
    EXPECT_EQ(out.at(0, 0) >> 16, 0u);
    randomTexture(7);
}

TEST_F(Roto, HalfWayWeightsRoundDownBothWays) {
    // Zoom 0.5 at angle 0: pixel (0, 511) samples u = 32768 (column 0, fx a
    // half) and v = 512 * 32768 (row 0 once wrapped, fy 0).
    rbmp[0] = 10, rbmp[1] = 11;
    gbmp[0] = 11, gbmp[1] = 10;
    rotozoomer(out.surface, 0, 0.5f);
    EXPECT_EQ(out.at(0, 511) >> 16, 10u);
    EXPECT_EQ(out.at(0, 511) >> 8 & 0xFF, 10u);
    randomTexture(7);
}

TEST_F(Roto, TheFastPictureIsTheOracleOne) {
    TestSurface oracle;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Rows stepping mostly across the texture and mostly down it (the two
    // window tables), steps at the ends of the 32-bit range, zooms near 0.
    const float views[][2] = {{0, 1},      {90, 1},     {45, 1},      {-90, 2},     {33, 0.5f},    {33, 3},
                              {180, 1},    {-170.5f, 0.3f}, {1e-3f, 1e-3f}, {270, 300},  {12345.f, -7.25f},
                              {0, 1e6f},   {60, 40000}, {nan, 1},      {1, nan},     {359.9f, 0.01f},
                              {0, -40000}, {90, -40000}, {0, 1.0001f}, {90, 1.0001f}, {-33, 3},     {135, 0.75f},
                              {1, -1.0f / 65536}};
    for (const auto& v : views) {
        rotozoomer(out.surface, v[0], v[1]);
        uint32_t* const fastEnd = vram;
        rotozoomerReference(oracle.surface, v[0], v[1]);
        ASSERT_EQ(out.memory, oracle.memory) << v[0] << " " << v[1];
        EXPECT_EQ(fastEnd - out.memory.data(), vram - oracle.memory.data());
    }
}

TEST_F(Roto, ANewTextureIsSeenOnTheNextCall) {
    TestSurface oracle;
    for (float angle : {10.0f, 80.0f}) {  // a row-walking and a column-walking view
        rotozoomer(out.surface, angle, 0.7f);
        randomTexture(8);
        rotozoomer(out.surface, angle, 0.7f);
        rotozoomerReference(oracle.surface, angle, 0.7f);
        EXPECT_EQ(out.memory, oracle.memory) << angle;
        bbmp[12345] ^= 1;  // a single changed byte counts too
        rotozoomer(out.surface, angle, 0.7f);
        rotozoomerReference(oracle.surface, angle, 0.7f);
        EXPECT_EQ(out.memory, oracle.memory) << angle;
        randomTexture(7);
    }
}

// Neighbouring texels as far apart as they go (0 next to 255 in every
// plane, in different directions per plane): the largest differences meet
// every weight, including those of 32768 and more.
TEST_F(Roto, ExtremeNeighboursMatchTheOracle) {
    for (int ty = 0; ty < TEX_SIDE; ty++)
        for (int tx = 0; tx < TEX_SIDE; tx++) {
            const int i = ty * TEX_SIDE + tx;
            rbmp[i] = (tx + ty) % 2 ? 255 : 0;
            gbmp[i] = tx % 2 ? 0 : 255;
            bbmp[i] = ty % 2 ? 255 : 0;
        }
    TestSurface oracle;
    for (const auto& v : {std::array<float, 2>{0, 0.999f}, {90, 0.999f}, {17, 0.61f}, {-75, 1.37f}, {200, 4.1f}}) {
        rotozoomer(out.surface, v[0], v[1]);
        rotozoomerReference(oracle.surface, v[0], v[1]);
        ASSERT_EQ(out.memory, oracle.memory) << v[0] << " " << v[1];
    }
    randomTexture(7);
}

TEST_F(Roto, OddWidthsAndPaddedRowsMatchTheOracle) {
    for (float angle : {21.0f, 69.0f})
        for (int w : {1003, 963, 7, 1}) {  // 963: the last strip is three columns wide
            TestSurface fast(SCREEN_W + 40, w, 100), oracle(SCREEN_W + 40, w, 100);
            rotozoomer(fast.surface, angle, 1.3f);
            uint32_t* const fastEnd = vram;
            rotozoomerReference(oracle.surface, angle, 1.3f);
            ASSERT_EQ(fast.memory, oracle.memory) << angle << " " << w;  // guards between and after the rows included
            EXPECT_EQ(*wordOf(fast, w, 50), TestSurface::GUARD);
            EXPECT_EQ(fastEnd, wordOf(fast, w, 99));
        }
}

}  // namespace
