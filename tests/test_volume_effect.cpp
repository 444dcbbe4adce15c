// The tiled volume effect and the volume scroller: the per-frame values, the
// pixels they pick, and the fast runs against the pixel-by-pixel picture.
#include <algorithm>
#include <array>
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
    // Jitter 0: w is about -60.3.
    EXPECT_EQ(scriptArgs(ScriptParams(1)), (ScrollerArgs{.scrollX = 2, .scrollY = 4, .slotStep = 128}));

    Script(1);
    EXPECT_EQ(out.at(0, 0), 1282u);                           // slot 0, row 4, column 2
    EXPECT_EQ(out.at(1279, 0), flatIndex(512, 4, 1));         // X = 1281: tile column 4, 128 * 64 mod 768
    EXPECT_EQ(out.at(0, 719), flatIndex(384, 123, 2));        // Y = 723: tile row 3, 128 * 9 mod 768
    EXPECT_EQ(out.at(1279, 719), flatIndex(128, 123, 1));     // 128 * 73 mod 768
}

TEST_F(VolumeEffect, FrameHundredValuesAndRowShifts) {
    EXPECT_EQ(scriptArgs(ScriptParams(100)),
              (ScrollerArgs{.scrollX = 292, .scrollY = 426, .slotBase = 6, .slotStep = 150, .jitter = 33}));

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
    scroller(out.surface, {.slotBase = 8192});  // no step: slot 8192 % 768 = 512 on the whole screen
    EXPECT_EQ(out.at(0, 0), flatIndex(512, 0, 0));
    EXPECT_EQ(out.at(1279, 719), flatIndex(512, 119, 319));
}

TEST_F(VolumeEffect, RowShiftRunsIntoThePreviousRowAndSlot) {
    // Row 2 with jitter 7 is shifted by trunc(sin 4 * 7) = -5.
    scroller(out.surface, {.scrollX = 2, .slotBase = 5, .jitter = 7});
    EXPECT_EQ(out.at(0, 2), flatIndex(5, 1, 317));
    // The same read from picture row 0 lands in row 199 of the slot before.
    scroller(out.surface, {.scrollX = 2, .slotBase = 5, .pictureShiftY = 198, .jitter = 7});
    EXPECT_EQ(out.at(0, 2), flatIndex(4, 199, 317));
}

TEST_F(VolumeEffect, ReadsPastEitherEndOfTheVolumeWrapAround) {
    scroller(out.surface, {.scrollX = 2, .pictureShiftY = 198, .jitter = 7});  // slot 0, row 0, column 2, shift -5
    EXPECT_EQ(out.at(0, 2), VOLUME_WORDS - 3);
    // Slot 767, row 199, column 319, shift trunc(sin 1 * 10) = 8: eight words past the end.
    scroller(out.surface, {.scrollX = 319, .slotBase = 767, .pictureShiftY = 198, .jitter = 10});
    EXPECT_EQ(out.at(0, 1), 7u);
    EXPECT_EQ(out.at(1, 1), VOLUME_WORDS - FLI_W + 8);  // column 0 of the same row, shifted
}

// Row 0 at each {screen column, slot, picture column}.
void expectRowZero(const TestSurface& out, std::initializer_list<std::array<int, 3>> pixels) {
    for (const auto& [x, slot, column] : pixels) EXPECT_EQ(out.at(x, 0), flatIndex(slot, 0, column)) << "column " << x;
}

TEST_F(VolumeEffect, ScrollerExamples) {
    // Pictures restart at 0, 320, 640, 960; tile columns change at 220, 540, 860, 1180.
    scroller(out.surface, {.slotStep = 1, .tileShiftX = 100});
    expectRowZero(out, {{0, 0, 0}, {219, 0, 219}, {220, 1, 220}, {319, 1, 319}, {320, 1, 0}, {540, 8, 220}});

    // The grid moves twice as fast as the pictures and the column starts at 101.
    scroller(out.surface, {.scrollX = 100, .slotStep = 1, .tileRateX = 1});
    expectRowZero(out, {{0, 0, 101}, {119, 0, 220}, {120, 1, 221}, {218, 1, 319}, {219, 1, 0}, {440, 8, 221}});

    // The pictures alone scroll down by 50 rows; the tile rows stay put.
    scroller(out.surface, {.slotStep = 1, .pictureShiftY = 50});
    EXPECT_EQ(out.at(0, 0), flatIndex(0, 50, 0));
    EXPECT_EQ(out.at(0, 150), flatIndex(0, 0, 0));
    EXPECT_EQ(out.at(0, 200), flatIndex(1, 50, 0));
}

TEST_F(VolumeEffect, RowZeroAndZeroJitterAreNeverShifted) {
    scroller(out.surface, {.slotBase = 3, .jitter = 64});
    EXPECT_EQ(out.at(0, 0), flatIndex(3, 0, 0));
    scroller(out.surface, {.slotBase = 3});
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
        scrollerReference(reference.surface, scriptArgs(p));
        ASSERT_EQ(out.memory, reference.memory) << "frame " << n;
    }
    EXPECT_GE(displaced, 6);
}

TEST_F(VolumeEffect, ScrollerRunsEqualThePixelByPixelPicture) {
    std::mt19937 random(7);
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    TestSurface fast, reference;
    for (int round = 0; round < 12; round++) {
        const ScrollerArgs a = {.scrollX = in(0, 2000), .scrollY = in(0, 2000), .slotBase = in(0, 100000),
                                .slotStep = in(0, 800), .tileRateX = in(0, 5), .pictureShiftY = in(0, 400),
                                .tileShiftX = in(-300, 300), .jitter = in(-64, 64)};
        scroller(fast.surface, a);
        scrollerReference(reference.surface, a);
        ASSERT_EQ(fast.memory, reference.memory) << a;
    }
}

ScrollerArgs everyArgument(int v) { return {v, v, v, v, v, v, v, v}; }

bool everyPixelIsAVolumeWord(const TestSurface& s) {
    const std::vector<uint32_t> words = s.picture();
    return std::all_of(words.begin(), words.end(), [](uint32_t w) { return w < VOLUME_WORDS; });
}

TEST_F(VolumeEffect, AnyArgumentsStayInsideTheVolume) {
    // Outside the caller's contract, with columns that still start at 0 or
    // above: all of -2^31 (sums and products wrap to columns 0), a huge
    // jitter, rows and slots past the 32-bit range. The runs match the plain
    // picture, and nothing is read outside the volume (the sanitizer build
    // watches too).
    TestSurface fast, reference;
    const ScrollerArgs extremes[] = {
        everyArgument(INT_MIN),
        {.scrollY = -1, .slotStep = 1, .jitter = INT_MAX},
        {.scrollX = 7, .scrollY = INT_MAX - 10, .slotBase = -800, .slotStep = 333, .tileRateX = 2,
         .pictureShiftY = 1, .jitter = 12},
    };
    for (const ScrollerArgs& a : extremes) {
        scroller(fast.surface, a);
        scrollerReference(reference.surface, a);
        ASSERT_EQ(fast.memory, reference.memory) << a;
        EXPECT_TRUE(everyPixelIsAVolumeWord(fast)) << a;
    }
}

// The flat index slot * 64,000 + row * 320 + column of any sign, brought
// into the volume: reads before its start or past its end come round.
uint32_t wrapped(int64_t slot, int64_t row, int64_t column) {
    const int64_t k = (slot * SLOT_WORDS + row * FLI_W + column) % VOLUME_WORDS;
    return static_cast<uint32_t>(k < 0 ? k + VOLUME_WORDS : k);
}

// Columns that are negative or come round past 2^31 - 1 on the screen. The
// sums and products wrap at 32 bits, divisions and remainders truncate
// toward zero, and the flat index comes round the volume.
TEST_F(VolumeEffect, NegativeAndWrappingColumnsReadWhereThe32BitArithmeticSays) {
    // Row 0 lies in tile row -300 / 200 = -1, picture row (-300 - 9) % 200 =
    // -109. Column j: picture column (j - 5) % 320, tile column (j - 1005) /
    // 320, whose cube plus the tile row's square gives slot (-7 + 13 * cells) % 768.
    const ScrollerArgs negative = {.scrollX = -5, .scrollY = -300, .slotBase = -7, .slotStep = 13,
                                   .pictureShiftY = -9, .tileShiftX = -1000, .jitter = -64};
    scroller(out.surface, negative);
    EXPECT_EQ(out.at(0, 0), wrapped(-345, -109, -5));    // tile column -3: 13 * (-27 + 1) - 7
    EXPECT_EQ(out.at(5, 0), wrapped(-345, -109, 0));
    EXPECT_EQ(out.at(46, 0), wrapped(-98, -109, 41));    // tile column -2
    EXPECT_EQ(out.at(366, 0), wrapped(-7, -109, 41));    // tile column -1
    EXPECT_EQ(out.at(686, 0), wrapped(6, -109, 41));     // tile column 0: -319..319 all truncate to it
    EXPECT_EQ(out.at(1279, 0), wrapped(6, -109, 314));
    EXPECT_EQ(out.at(0, 1), wrapped(-345, -108, -5 - 53));  // shifted by trunc(sin 1 * -64)
    EXPECT_TRUE(everyPixelIsAVolumeWord(out)) << negative;

    // Columns from 2^31 - 101 on come round to -2^31 at screen column 101:
    // picture column 127 then -128, tile column 6,710,886 then -6,710,886,
    // whose cubes wrap to -1,061,930,664 and 1,061,930,664.
    const ScrollerArgs pastTheTop = {.scrollX = INT_MAX - 100, .scrollY = 5, .slotBase = 1, .slotStep = 1,
                                     .jitter = 3};
    scroller(out.surface, pastTheTop);
    EXPECT_EQ(out.at(0, 0), wrapped(-167, 5, 27));
    EXPECT_EQ(out.at(100, 0), wrapped(-167, 5, 127));
    EXPECT_EQ(out.at(101, 0), wrapped(169, 5, -128));
    EXPECT_EQ(out.at(0, 1), wrapped(-167, 6, 27 + 2));  // shifted by trunc(sin 1 * 3)
    EXPECT_TRUE(everyPixelIsAVolumeWord(out)) << pastTheTop;

    // Every argument 2^31 - 1: picture columns start at -2, tile columns at
    // -1 (so tile column 0 runs to screen column 320). Row 0 is tile row
    // 10,737,418 and picture row -2, row 1 tile row -10,737,418 and picture
    // row -1. Both rows give slot -613 at tile column 0 and 666 at tile
    // column 1: (2^31 - 1) + (2^31 - 1) * (column³ + row²), each step wrapped
    // to 32 bits, % 768. Row 1 is shifted by trunc(sin 1 * (2^31 - 1)) =
    // 1,807,045,179 words, round the volume and on.
    const ScrollerArgs top = everyArgument(INT_MAX);
    scroller(out.surface, top);
    EXPECT_EQ(out.at(0, 0), wrapped(-613, -2, -2));
    EXPECT_EQ(out.at(2, 0), wrapped(-613, -2, 0));
    EXPECT_EQ(out.at(320, 0), wrapped(-613, -2, 318));
    EXPECT_EQ(out.at(321, 0), wrapped(666, -2, 319));
    EXPECT_EQ(out.at(0, 1), wrapped(-613, -1, -2 + 1807045179));
    EXPECT_TRUE(everyPixelIsAVolumeWord(out)) << top;
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
    scroller(out.surface, {.scrollX = 1, .scrollY = 2, .slotBase = 3, .slotStep = 4, .jitter = 5});
    EXPECT_EQ(vram, &marker);
    vram = nullptr;
}

}  // namespace
