// Loading the font and the texture: the layouts, files that end early or run
// long, missing files, and the order Init loads everything in.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support.h"

namespace {

constexpr size_t FONT_FILE_BYTES = CHAR_CODES + FONT_BYTES;            // 22,272
constexpr size_t BMP_FILE_BYTES = BMP_PIXELS_AT + 3 * TEX_TEXELS;      // 196,662

class Assets : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override {
        memset(cc, 0, sizeof cc);
        memset(fonts, 0, sizeof fonts);
        memset(rbmp, 0, sizeof rbmp);
        memset(gbmp, 0, sizeof gbmp);
        memset(bbmp, 0, sizeof bbmp);
    }
};

std::vector<uint8_t> patterned(size_t n, unsigned multiplier) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; i++) bytes[i] = static_cast<uint8_t>(i * multiplier + i / 256);
    return bytes;
}

bool allEqual(const uint8_t* p, size_t n, uint8_t v) {
    for (size_t i = 0; i < n; i++)
        if (p[i] != v) return false;
    return true;
}

TEST_F(Assets, FontFileFillsMapThenGlyphsAndExtraBytesAreIgnored) {
    std::vector<uint8_t> file = patterned(FONT_FILE_BYTES, 7);
    file.insert(file.end(), 100, 0xAA);
    writeFile("font.bin", file);
    FontLoad("font.bin");
    EXPECT_EQ(0, memcmp(cc, file.data(), CHAR_CODES));
    EXPECT_EQ(0, memcmp(fonts, file.data() + CHAR_CODES, FONT_BYTES));
    EXPECT_EQ(fonts[FONT_BYTES - 1], file[FONT_FILE_BYTES - 1]);  // not one of the 0xAA past the end
}

TEST_F(Assets, AFontOfOnlyItsMapLeavesEveryGlyphByte255) {
    const std::vector<uint8_t> file = patterned(CHAR_CODES, 3);
    writeFile("font.bin", file);
    FontLoad("font.bin");
    EXPECT_EQ(0, memcmp(cc, file.data(), CHAR_CODES));
    EXPECT_TRUE(allEqual(fonts, FONT_BYTES, 255));
}

TEST_F(Assets, AFontShorterThanItsMapReadsTheRestOfTheMapAs255) {
    writeFile("font.bin", {1, 2, 3});
    FontLoad("font.bin");
    EXPECT_EQ(cc[0], 1);
    EXPECT_EQ(cc[2], 3);
    EXPECT_TRUE(allEqual(cc + 3, CHAR_CODES - 3, 255));  // past the glyph store: Print draws them blank
    EXPECT_TRUE(allEqual(fonts, FONT_BYTES, 255));
}

TEST_F(Assets, AMissingFontIsNamedOnceAndLeavesTheTablesZero) {
    memset(cc, 9, sizeof cc);
    memset(fonts, 9, sizeof fonts);
    const std::string err = captureOutput([] { FontLoad("nofont.bin"); }).err;
    EXPECT_NE(err.find("\"nofont.bin\""), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(allEqual(cc, CHAR_CODES, 0));
    EXPECT_TRUE(allEqual(fonts, FONT_BYTES, 0));
}

// A bitmap whose stored pixel k (bottom row first) is blue k, green k + 1,
// red k + 2, each cut to 8 bits; header bytes as given.
std::vector<uint8_t> bitmap(uint8_t first, uint8_t second, uint8_t headerFill) {
    std::vector<uint8_t> file(BMP_FILE_BYTES, headerFill);
    file[0] = first;
    file[1] = second;
    for (size_t k = 0; k < TEX_TEXELS; k++)
        for (size_t c = 0; c < 3; c++) file[BMP_PIXELS_AT + 3 * k + c] = static_cast<uint8_t>(k * 5 + c + k / 251);
    return file;
}

TEST_F(Assets, BitmapRowsLandBottomUpAsBlueGreenRed) {
    std::vector<uint8_t> file = bitmap('B', 'M', 0);
    file[BMP_PIXELS_AT] = 1;  // the first stored pixel: blue 1, green 2, red 3
    file[BMP_PIXELS_AT + 1] = 2;
    file[BMP_PIXELS_AT + 2] = 3;
    writeFile("tex.bmp", file);
    BMPload("tex.bmp");
    EXPECT_EQ(bbmp[65280], 1);
    EXPECT_EQ(gbmp[65280], 2);
    EXPECT_EQ(rbmp[65280], 3);
    for (int row = 0; row < TEX_SIDE; row++)
        for (int col = 0; col < TEX_SIDE; col++) {
            const size_t at = BMP_PIXELS_AT + 3 * ((TEX_SIDE - 1 - row) * TEX_SIDE + col);
            const int i = row * TEX_SIDE + col;
            ASSERT_EQ(bbmp[i], file[at]) << row << "," << col;
            ASSERT_EQ(gbmp[i], file[at + 1]) << row << "," << col;
            ASSERT_EQ(rbmp[i], file[at + 2]) << row << "," << col;
        }
    EXPECT_EQ(rbmp[255], file[BMP_FILE_BYTES - 1]);  // the last pixel stored is row 0, column 255
}

TEST_F(Assets, NeitherTheSignatureNorTheHeaderIsLookedAt) {
    writeFile("a.bmp", bitmap('B', 'M', 0));
    BMPload("a.bmp");
    const std::vector<uint8_t> red(rbmp, rbmp + TEX_TEXELS), blue(bbmp, bbmp + TEX_TEXELS);
    writeFile("b.bmp", bitmap('Q', 0xFF, 0xEE));
    BMPload("b.bmp");
    EXPECT_EQ(red, std::vector<uint8_t>(rbmp, rbmp + TEX_TEXELS));
    EXPECT_EQ(blue, std::vector<uint8_t>(bbmp, bbmp + TEX_TEXELS));
}

TEST_F(Assets, AShortBitmapTurnsTheTopRowsWhite) {
    std::vector<uint8_t> file = bitmap('B', 'M', 0);
    file.resize(BMP_PIXELS_AT + 3 * 3 * TEX_SIDE + 2);  // three rows and two bytes of the fourth
    writeFile("tex.bmp", file);
    BMPload("tex.bmp");
    const int row252 = 252 * TEX_SIDE;
    EXPECT_EQ(bbmp[row252], file[BMP_PIXELS_AT + 3 * 3 * TEX_SIDE]);
    EXPECT_EQ(gbmp[row252], file[BMP_PIXELS_AT + 3 * 3 * TEX_SIDE + 1]);
    EXPECT_EQ(rbmp[row252], 255);
    EXPECT_EQ(rbmp[253 * TEX_SIDE], file[BMP_PIXELS_AT + 2 + 3 * 2 * TEX_SIDE]);
    for (int i = 0; i < row252; i++) {
        ASSERT_EQ(rbmp[i] & gbmp[i] & bbmp[i], 255) << i;
    }
    EXPECT_TRUE(allEqual(gbmp + row252 + 1, TEX_SIDE - 1, 255));
}

TEST_F(Assets, ABitmapShorterThanItsHeaderIsAllWhite) {
    writeFile("tex.bmp", {'B', 'M', 1, 2, 3});
    BMPload("tex.bmp");
    EXPECT_TRUE(allEqual(rbmp, TEX_TEXELS, 255));
    EXPECT_TRUE(allEqual(gbmp, TEX_TEXELS, 255));
    EXPECT_TRUE(allEqual(bbmp, TEX_TEXELS, 255));
}

TEST_F(Assets, AMissingBitmapIsNamedOnceAndLeavesThePlanesZero) {
    memset(gbmp, 9, sizeof gbmp);
    const std::string err = captureOutput([] { BMPload("none.bmp"); }).err;
    EXPECT_NE(err.find("\"none.bmp\""), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(allEqual(gbmp, TEX_TEXELS, 0));
}

// Not files: each is refused as a missing file is, with the reason, and a FIFO
// without a writer never blocks the load (the alarm would end the tests).
TEST_F(Assets, AFolderAFifoOrADeviceIsNamedWithWhyAndLeavesTheTablesZero) {
    ASSERT_EQ(mkdir("folder", 0755), 0);
    // /dev/urandom: a device that never ends, and one Emscripten has too.
    std::vector<std::pair<const char*, const char*>> cases = {{"folder", "(a folder, not a file)"},
                                                              {"/dev/urandom", "(a device, not a file)"}};
#ifndef __EMSCRIPTEN__  // Emscripten's files in memory cannot be FIFOs
    ASSERT_EQ(mkfifo("fifo", 0644), 0);
    cases.push_back({"fifo", "(a FIFO, not a file)"});
#endif
    for (const auto& [name, why] : cases) {
        const char* path = name;  // clang before 16 cannot capture a structured binding in a lambda
        memset(cc, 9, sizeof cc);
        memset(rbmp, 9, sizeof rbmp);
        alarm(10);
        const std::string err = captureOutput([&] {
                                    FontLoad(path);
                                    BMPload(path);
                                }).err;
        alarm(0);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
        EXPECT_NE(err.find("font file \"" + std::string(path) + "\" " + why), std::string::npos) << err;
        EXPECT_NE(err.find("texture file \"" + std::string(path) + "\" " + why), std::string::npos) << err;
        EXPECT_TRUE(allEqual(cc, CHAR_CODES, 0)) << path;
        EXPECT_TRUE(allEqual(rbmp, TEX_TEXELS, 0)) << path;
    }
}

TEST_F(Assets, InitLoadsFontThenTextureThenTheAnimation) {
    const std::string err = captureOutput(Init).err;  // nothing there: one line for each file, in loading order
    const size_t font = err.find(FONT_FILE), texture = err.find(TEXTURE_FILE), animation = err.find("robotrk.fli");
    ASSERT_NE(font, std::string::npos) << err;
    ASSERT_NE(texture, std::string::npos) << err;
    ASSERT_NE(animation, std::string::npos) << err;
    EXPECT_LT(font, texture);
    EXPECT_LT(texture, animation);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;

    const std::vector<uint8_t> fontFile = patterned(FONT_FILE_BYTES, 11);
    writeFile(FONT_FILE, fontFile);
    writeFile(TEXTURE_FILE, bitmap('B', 'M', 0));
    writeFile("robotrk.fli", fliHeader(FLI_HEADER_BYTES + 4));
    EXPECT_EQ(captureOutput(Init).err, "");
    EXPECT_EQ(0, memcmp(cc, fontFile.data(), CHAR_CODES));
    EXPECT_EQ(fonts[FONT_BYTES - 1], fontFile.back());
    EXPECT_EQ(bbmp[65280], bitmap('B', 'M', 0)[BMP_PIXELS_AT]);
    EXPECT_EQ(FLIhdr.size, FLI_HEADER_BYTES + 4);
}

}  // namespace
