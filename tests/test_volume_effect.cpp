// The tiled volume effect and the volume scroller: the per-frame values, the
// pixels they pick, and the fast runs against the pixel-by-pixel picture.
#include <climits>
#include <random>

#include "support.h"

namespace {

class VolumeEffect : public ::testing::Test {
protected:
    static void SetUpTestSuite() { fillVolumeWithIndices(); }
    TestSurface out;
    void SetUp() override { screen = out.surface; }
    void TearDown() override { screen = nullptr; }
};

TEST_F(VolumeEffect, FrameOneValuesAndCorners) {
    const TileParams p = ScriptParams(1);
    EXPECT_EQ(p.scrollX, 2);
    EXPECT_EQ(p.scrollY, 4);
    EXPECT_EQ(p.slotBase, 0);
    EXPECT_EQ(p.slotStep, 128);
    EXPECT_EQ(p.jitter, 0);  // w is about -60.3

    Script(1);
    EXPECT_EQ(out.at(0, 0), 1282u);                           // slot 0, row 4, column 2
    EXPECT_EQ(out.at(1279, 0), flatIndex(512, 4, 1));         // X = 1281: tile column 4, 128 * 64 mod 768
    EXPECT_EQ(out.at(0, 719), flatIndex(384, 123, 2));        // Y = 723: tile row 3, 128 * 9 mod 768
    EXPECT_EQ(out.at(1279, 719), flatIndex(128, 123, 1));     // 128 * 73 mod 768
}

TEST_F(VolumeEffect, FrameHundredValuesAndRowShifts) {
    const TileParams p = ScriptParams(100);
    EXPECT_EQ(p.scrollX, 292);
    EXPECT_EQ(p.scrollY, 426);
    EXPECT_EQ(p.slotBase, 6);
    EXPECT_EQ(p.slotStep, 150);
    EXPECT_EQ(p.jitter, 33);

    Script(100);
    // Y = 426 + i lies in tile row 2, X = 292 in tile column 0: slot 6 + 150 * 4.
    EXPECT_EQ(out.at(0, 0), flatIndex(606, 26, 292));
    EXPECT_EQ(out.at(0, 1), flatIndex(606, 27, 292) + 27);  // sin 1 * 33
    EXPECT_EQ(out.at(0, 2), flatIndex(606, 28, 292) - 24);  // sin 4 * 33
}

TEST_F(VolumeEffect, SlotChangesAtTileBoundaries) {
    Script(1);
    EXPECT_EQ(out.at(317, 0), flatIndex(0, 4, 319));    // X = 319, last column of tile 0
    EXPECT_EQ(out.at(318, 0), flatIndex(128, 4, 0));    // X = 320: next tile, picture column 0
    EXPECT_EQ(out.at(0, 195), flatIndex(0, 199, 2));    // Y = 199, last row of tile row 0
    EXPECT_EQ(out.at(0, 196), flatIndex(128, 0, 2));    // Y = 200: tile row 1, picture row 0
}

TEST_F(VolumeEffect, JitterGrowsWithTheWrappedSquare) {
    // n * n first wraps at 46,341; the values must stay in their ranges.
    for (int32_t n : {46340, 46341, 46342, INT_MAX, INT_MIN, -1}) {
        const TileParams p = ScriptParams(n);
        EXPECT_GE(p.jitter, 0) << n;
        EXPECT_LE(p.jitter, 64) << n;
        EXPECT_GE(p.scrollX, 0);
        EXPECT_LE(p.scrollX, 768);
        EXPECT_GE(p.slotStep, 128);
        EXPECT_LE(p.slotStep, 160);
    }
    EXPECT_EQ(ScriptParams(INT_MIN).slotBase, INT_MIN / 16);  // the shift is arithmetic
}

TEST_F(VolumeEffect, SlotSumsWrapModulo768) {
    FLIframes(out.surface, 0, 0, 8192, 0, 0, 0, 0, 0);  // a sum of 8192 shows slot 512
    EXPECT_EQ(out.at(0, 0), flatIndex(512, 0, 0));
    EXPECT_EQ(out.at(1279, 719), flatIndex(512, 119, 319));
}

TEST_F(VolumeEffect, RowShiftRunsIntoThePreviousRowAndSlot) {
    // Row 2 with jitter 7 is shifted by trunc(sin 4 * 7) = -5.
    FLIframes(out.surface, 2, 0, 5, 0, 0, 0, 0, 7);
    EXPECT_EQ(out.at(0, 2), flatIndex(5, 1, 317));
    // The same read from picture row 0 lands in row 199 of the slot before.
    FLIframes(out.surface, 2, 0, 5, 0, 0, 198, 0, 7);
    EXPECT_EQ(out.at(0, 2), flatIndex(4, 199, 317));
}

TEST_F(VolumeEffect, ReadsPastEitherEndOfTheVolumeWrapAround) {
    FLIframes(out.surface, 2, 0, 0, 0, 0, 198, 0, 7);  // slot 0, row 0, column 2, shift -5
    EXPECT_EQ(out.at(0, 2), VOLUME_WORDS - 3);
    // Slot 767, row 199, column 319, shift trunc(sin 1 * 10) = 8: eight words past the end.
    FLIframes(out.surface, 319, 0, 767, 0, 0, 198, 0, 10);
    EXPECT_EQ(out.at(0, 1), 7u);
    EXPECT_EQ(out.at(1, 1), VOLUME_WORDS - FLI_W + 8);  // column 0 of the same row, shifted
}

TEST_F(VolumeEffect, ScrollerExamples) {
    // Pictures restart at 0, 320, 640, 960; tile columns change at 220, 540, 860, 1180.
    FLIframes(out.surface, 0, 0, 0, 1, 0, 0, 100, 0);
    EXPECT_EQ(out.at(0, 0), flatIndex(0, 0, 0));
    EXPECT_EQ(out.at(219, 0), flatIndex(0, 0, 219));
    EXPECT_EQ(out.at(220, 0), flatIndex(1, 0, 220));
    EXPECT_EQ(out.at(319, 0), flatIndex(1, 0, 319));
    EXPECT_EQ(out.at(320, 0), flatIndex(1, 0, 0));
    EXPECT_EQ(out.at(540, 0), flatIndex(8, 0, 220));

    // The grid moves twice as fast as the pictures and the column starts at 101.
    FLIframes(out.surface, 100, 0, 0, 1, 1, 0, 0, 0);
    EXPECT_EQ(out.at(0, 0), flatIndex(0, 0, 101));
    EXPECT_EQ(out.at(119, 0), flatIndex(0, 0, 220));
    EXPECT_EQ(out.at(120, 0), flatIndex(1, 0, 221));
    EXPECT_EQ(out.at(218, 0), flatIndex(1, 0, 319));
    EXPECT_EQ(out.at(219, 0), flatIndex(1, 0, 0));
    EXPECT_EQ(out.at(440, 0), flatIndex(8, 0, 221));

    // The pictures alone scroll down by 50 rows; the tile rows stay put.
    FLIframes(out.surface, 0, 0, 0, 1, 0, 50, 0, 0);
    EXPECT_EQ(out.at(0, 0), flatIndex(0, 50, 0));
    EXPECT_EQ(out.at(0, 150), flatIndex(0, 0, 0));
    EXPECT_EQ(out.at(0, 200), flatIndex(1, 50, 0));

    // No step: one slot on the whole screen.
    FLIframes(out.surface, 0, 0, 770, 0, 0, 0, 0, 0);
    EXPECT_EQ(out.at(1279, 719), flatIndex(2, 119, 319));
}

TEST_F(VolumeEffect, RowZeroAndZeroJitterAreNeverShifted) {
    FLIframes(out.surface, 0, 0, 3, 0, 0, 0, 0, 64);
    EXPECT_EQ(out.at(0, 0), flatIndex(3, 0, 0));
    FLIframes(out.surface, 0, 0, 3, 0, 0, 0, 0, 0);
    for (int y = 0; y < SCREEN_H; y += 37) EXPECT_EQ(out.at(0, y), flatIndex(3, y % 200, 0)) << y;
}

// Frame numbers worth drawing both ways: the figures, the wrap of n * n, the
// counter past 2^31 - 1, and the first frames whose rows are displaced.
std::vector<int32_t> framesToCompare() {
    std::vector<int32_t> ns = {1, 2, 100, 999, 46340, 46341, 65536, INT_MAX - 1, INT_MAX, INT_MIN, -1, -12345};
    int found = 0, strongest = 0, strongestN = 0;
    for (int32_t n = 1; n < 20000; n++) {
        const int j = ScriptParams(n).jitter;
        if (j > 0 && found < 6 && (ns.back() + 37 < n || found == 0)) {
            ns.push_back(n);
            found++;
        }
        if (j > strongest) strongest = j, strongestN = n;
    }
    ns.push_back(strongestN);
    return ns;
}

TEST_F(VolumeEffect, RunsEqualThePixelByPixelPicture) {
    TestSurface reference;
    int displaced = 0;
    for (int32_t n : framesToCompare()) {
        const TileParams p = ScriptParams(n);
        displaced += p.jitter > 0;
        Script(n);
        FLIframesReference(reference.surface, p.scrollX, p.scrollY, p.slotBase, p.slotStep, 0, 0, 0, p.jitter);
        ASSERT_EQ(out.memory, reference.memory) << "frame " << n;
    }
    EXPECT_GE(displaced, 6);
}

TEST_F(VolumeEffect, ScrollerRunsEqualThePixelByPixelPicture) {
    std::mt19937 random(7);
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    TestSurface fast, reference;
    for (int round = 0; round < 12; round++) {
        const int args[8] = {in(0, 2000), in(0, 2000),   in(0, 100000), in(0, 800), in(0, 5),
                             in(0, 400),  in(-300, 300), in(-64, 64)};
        FLIframes(fast.surface, args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
        FLIframesReference(reference.surface, args[0], args[1], args[2], args[3], args[4], args[5], args[6],
                           args[7]);
        ASSERT_EQ(fast.memory, reference.memory) << "round " << round;
    }
}

TEST_F(VolumeEffect, AnyArgumentsStayInsideTheVolume) {
    // Outside the caller's contract: negative and wrapping columns, rows and
    // slots, huge jitter. Nothing may be read outside the volume (the
    // sanitizer build watches), and the runs still match the plain picture.
    TestSurface fast, reference;
    const int extremes[][8] = {
        {INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN},
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {-5, -300, -7, 13, 0, -9, -1000, -64},
        {0, -1, 0, 1, 0, 0, 0, INT_MAX},
        {INT_MAX - 100, 5, 1, 1, 0, 0, 0, 3},
        {7, INT_MAX - 10, -800, 333, 2, 1, 0, 12},
    };
    for (const auto& a : extremes) {
        FLIframes(fast.surface, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
        FLIframesReference(reference.surface, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
        ASSERT_EQ(fast.memory, reference.memory) << a[0] << " " << a[1] << " " << a[7];
        for (uint32_t v : fast.picture()) ASSERT_LT(v, VOLUME_WORDS);
    }
}

TEST_F(VolumeEffect, RowsFollowTheSurfacePitch) {
    TestSurface wide(SCREEN_W + 77), packed;
    screen = wide.surface;
    Script(100);
    screen = packed.surface;
    Script(100);
    EXPECT_EQ(wide.picture(), packed.picture());
    for (int y = 0; y < SCREEN_H; y++)
        for (int x = SCREEN_W; x < wide.pitchWords; x++) ASSERT_EQ(wide.at(x, y), TestSurface::GUARD);
}

TEST_F(VolumeEffect, SmallerSurfacesAreClippedNotOverrun) {
    TestSurface small(640, 640, 360);
    screen = small.surface;
    Script(100);
    TestSurface full;
    screen = full.surface;
    Script(100);
    for (int y = 0; y < 360; y += 7)
        for (int x = 0; x < 640; x += 11) ASSERT_EQ(small.at(x, y), full.at(x, y));
    EXPECT_EQ(small.memory.back(), TestSurface::GUARD);
}

TEST_F(VolumeEffect, LeavesTheDrawingCursorAlone) {
    uint32_t marker = 0;
    vram = &marker;
    Script(5);
    FLIframes(out.surface, 1, 2, 3, 4, 0, 0, 0, 5);
    EXPECT_EQ(vram, &marker);
    vram = nullptr;
}

}  // namespace
