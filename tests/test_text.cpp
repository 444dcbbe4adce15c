// Print and Int2Str: the blend, transparent texels, cell placement and the
// cursor, character codes, map entries and texels out of range, clipping.
#include <climits>
#include <cmath>
#include <cstring>

#include "support.h"

namespace {

constexpr uint32_t WHITE = 0x00FFFFFF;

class Text : public ::testing::Test {
protected:
    TestSurface out{SCREEN_W + 8};  // rows 1288 words apart: the gaps hold guard words
    void SetUp() override {
        screen = out.surface;
        memset(cc, 0, sizeof cc);
        memset(fonts, 0, sizeof fonts);
    }
    void TearDown() override { screen = nullptr; }

    uint32_t* pixel(int x, int y) { return &out.memory[static_cast<size_t>(y) * out.pitchWords + x]; }
    void fill(uint32_t v) {
        for (int y = 0; y < SCREEN_H; y++)
            for (int x = 0; x < SCREEN_W; x++) *pixel(x, y) = v;
    }
    // Glyph g with every texel t.
    static void solidGlyph(int g, uint8_t t) { memset(fonts + g * GLYPH_BYTES, t, GLYPH_BYTES); }
    // The guard words between and after the rows are intact.
    bool guardsIntact() const {
        for (size_t i = 0; i < out.memory.size(); i++) {
            const size_t column = i % out.pitchWords;
            if ((column >= SCREEN_W || i >= static_cast<size_t>(SCREEN_H) * out.pitchWords) &&
                out.memory[i] != TestSurface::GUARD)
                return false;
        }
        return true;
    }
    uint32_t* start(int x, int y) { return pixel(x, y); }
    // One texel of level t drawn over the pixel `under`.
    uint32_t blendOnce(uint8_t t, uint32_t under) {
        solidGlyph(1, 0);
        fonts[GLYPH_BYTES + 0] = t;
        cc['A'] = 1;
        *pixel(40, 30) = under;
        Print(40, 30, "A", 1);
        return *pixel(40, 30);
    }
};

TEST_F(Text, BlendFiguresAndTheFloatingFormForEveryLevelAndChannel) {
    EXPECT_EQ(blendOnce(15, 0x000000), 0xF0F0F0u);
    EXPECT_EQ(blendOnce(15, WHITE), WHITE);
    EXPECT_EQ(blendOnce(1, 0x000000), 0x101010u);
    EXPECT_EQ(blendOnce(4, 0xFF0000), 0xFF4040u);
    EXPECT_EQ(blendOnce(8, 0x804020), 0xBF9F8Fu);
    for (int t = 1; t <= COVERAGE_MAX; t++)
        for (uint32_t c = 0; c < 256; c++) {
            const double f = 16.0 * t;
            const uint32_t want = static_cast<uint32_t>(f + (1 - f / 255) * c);
            ASSERT_EQ(blendOnce(static_cast<uint8_t>(t), c << 16 | (255 - c) << 8 | c),
                      want << 16 | static_cast<uint32_t>(f + (1 - f / 255) * (255 - c)) << 8 | want)
                << "t " << t << " c " << c;
        }
}

TEST_F(Text, TransparentTexelsKeepAll32BitsAndOthersWriteTheMappedColour) {
    fill(0xAB123456);
    solidGlyph(1, 0);
    fonts[GLYPH_BYTES + 17] = 15;  // row 1, column 1
    cc['x'] = 1;
    Print(0, 0, "x", 1);
    EXPECT_EQ(*pixel(0, 0), 0xAB123456u);
    EXPECT_EQ(*pixel(15, 15), 0xAB123456u);
    EXPECT_EQ(*pixel(1, 1), SDL_MapRGB(screen->format, 0x12 + 0xED * 240 / 255, 0x34 + 0xCB * 240 / 255,
                                       0x56 + 0xA9 * 240 / 255));
}

TEST_F(Text, CellsSit16ApartAndTheCursorEndsAfterTheLast) {
    solidGlyph(1, 0);
    fonts[GLYPH_BYTES + 0] = 15;                     // top-left texel
    fonts[GLYPH_BYTES + 15 * GLYPH_SIDE + 15] = 15;  // bottom-right texel
    cc['A'] = cc['B'] = 1;
    fill(0);
    Print(100, 50, "AB", 2);
    EXPECT_EQ(*pixel(100, 50), 0xF0F0F0u);
    EXPECT_EQ(*pixel(116, 50), 0xF0F0F0u);
    EXPECT_EQ(*pixel(115, 65), 0xF0F0F0u);   // rows of a cell follow the surface's rows
    EXPECT_EQ(*pixel(131, 65), 0xF0F0F0u);
    EXPECT_EQ(*pixel(101, 50), 0u);
    EXPECT_EQ(*pixel(116, 65), 0u);
    EXPECT_EQ(vram, start(100, 50) + 32);
}

TEST_F(Text, NothingIsDrawnForLengthZeroOrNegative) {
    solidGlyph(1, 15);
    cc['A'] = 1;
    for (int len : {0, -1, INT_MIN}) {
        vram = nullptr;
        Print(10, 20, "AAAA", len);
        EXPECT_EQ(vram, start(10, 20)) << len;
    }
    EXPECT_EQ(*pixel(10, 20), TestSurface::GUARD);
}

TEST_F(Text, CodesAbove127AndZeroBytesUseTheirOwnMapEntries) {
    solidGlyph(3, 15);
    solidGlyph(4, 1);
    cc[200] = 3;
    cc[0] = 4;
    fill(0);
    const char text[] = {static_cast<char>(200), 0};
    Print(0, 0, text, 2);
    EXPECT_EQ(*pixel(0, 0), 0xF0F0F0u);
    EXPECT_EQ(*pixel(16, 0), 0x101010u);
}

TEST_F(Text, MapEntriesPastTheGlyphStoreDrawABlankCell) {
    solidGlyph(GLYPHS - 1, 15);
    cc['a'] = GLYPHS - 1;
    cc['b'] = GLYPHS;  // one past the store
    cc['c'] = 255;     // what a short font file leaves
    fill(0x00010203);
    Print(0, 0, "bca", 3);
    for (int x = 0; x < 32; x++) ASSERT_EQ(*pixel(x, 7), 0x00010203u) << x;
    EXPECT_NE(*pixel(32, 7), 0x00010203u);
    EXPECT_EQ(vram, start(48, 0));
}

TEST_F(Text, TexelsAbove15DrawAsFullCoverage) {
    for (uint8_t t : {16, 100, 255}) EXPECT_EQ(blendOnce(t, 0x000000), 0xF0F0F0u) << int(t);
    EXPECT_EQ(blendOnce(255, 0x204060), blendOnce(15, 0x204060));
}

TEST_F(Text, CellsLeavingTheSurfaceAreClipped) {
    solidGlyph(1, 15);
    cc['#'] = 1;
    fill(0);
    Print(-8, -8, "#", 1);                 // the top-left corner's lower-right quarter shows
    EXPECT_EQ(*pixel(0, 0), 0xF0F0F0u);
    EXPECT_EQ(*pixel(7, 7), 0xF0F0F0u);
    EXPECT_EQ(*pixel(8, 0), 0u);
    Print(SCREEN_W - 24, SCREEN_H - 8, "###", 3);  // half a cell off the right, half off the bottom
    EXPECT_EQ(*pixel(SCREEN_W - 1, SCREEN_H - 1), 0xF0F0F0u);
    EXPECT_EQ(*pixel(SCREEN_W - 24, SCREEN_H - 9), 0u);
    Print(-1000, 5000, "###", 3);          // wholly outside
    Print(INT_MIN, INT_MIN, "#", 1);
    Print(INT_MAX, 0, "#", 1);
    Print(-16 * 4, 100, "#####", 5);       // four cells left of the surface, the fifth on it
    EXPECT_EQ(*pixel(0, 100), 0xF0F0F0u);
    EXPECT_EQ(*pixel(15, 115), 0xF0F0F0u);
    EXPECT_EQ(*pixel(16, 100), 0u);
    EXPECT_TRUE(guardsIntact());
}

TEST_F(Text, TheCursorEndsAfterTheLastCellEvenOffTheSurface) {
    cc['#'] = 0;
    Print(SCREEN_W - 16, 10, "##", 2);
    EXPECT_EQ(vram, start(0, 11) + 8);  // 16 words past the last column: the next row's gap and on
    Print(-48, 10, "#", 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(vram), reinterpret_cast<uintptr_t>(start(0, 10)) - 32 * 4);
}

TEST(Int2Str, FiveDigitsWithLeadingZerosAndNothingAfter) {
    struct Case {
        int value;
        const char* text;
    } cases[] = {{0, "00000"}, {42, "00042"}, {99999, "99999"}, {7, "00007"}, {10000, "10000"}};
    for (const Case& c : cases) {
        char out[7] = "######";
        Int2Str(c.value, out);
        EXPECT_EQ(std::string(out, 5), c.text) << c.value;
        EXPECT_EQ(out[5], '#') << c.value;
    }
}

TEST(Int2Str, ValuesOutsideFiveDigitsSaturate) {
    struct Case {
        int value;
        const char* text;
    } cases[] = {{100000, "99999"}, {123456789, "99999"}, {INT_MAX, "99999"},
                 {-1, "00000"},     {-5, "00000"},        {-99999, "00000"}, {INT_MIN, "00000"}};
    for (const Case& c : cases) {
        char out[6] = "#####";
        Int2Str(c.value, out);
        EXPECT_EQ(std::string(out, 5), c.text) << c.value;
    }
}

}  // namespace
