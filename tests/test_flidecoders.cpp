// The chunk decoders, called directly on chunk data placed at the start of the
// store, and DoType's dispatch.
#include <cstring>

#include "fli_build.h"

namespace {

class FliDecode : public ::testing::Test {
protected:
    void SetUp() override {
        memset(vga_screen, 0, sizeof vga_screen);
        memset(rgb, 0, sizeof rgb);
        yline = 0;
        flii = 0;
    }
    // `data` at store offset 0 and flii on it; the header's height field is `height`.
    void store(const Bytes& data, uint16_t height = FLI_H) {
        Bytes file = fliHeader(FLI_HEADER_BYTES + data.size(), 1, height);
        file.insert(file.end(), data.begin(), data.end());
        FLIloadMemory(file.data(), file.size());
        flii = 0;
    }
    static uint32_t changedPixels() {
        uint32_t n = 0;
        for (uint8_t v : vga_screen) n += v != 0;
        return n;
    }
};

TEST_F(FliDecode, ColorPacketsSkipOnAndCountZeroMeans256) {
    Bytes d;
    put16(d, 2);
    append(d, {2, 1, 1, 2, 3});  // entry 2
    append(d, {1, 0});           // skip to 4, then 256 colours: 4..255 kept, the rest dropped
    for (int k = 0; k < 256; k++) append(d, {static_cast<uint8_t>(k), 0x80, 0xFF});
    d.push_back(0x77);
    store(d);
    FliColor(0);
    EXPECT_EQ(rgb[0], 0u);
    EXPECT_EQ(rgb[2], 0x010203u);
    EXPECT_EQ(rgb[3], 0u);
    EXPECT_EQ(rgb[4], 0x0080FFu);
    EXPECT_EQ(rgb[255], 0xFB80FFu);
    EXPECT_EQ(flii, 2u + 5 + 2 + 768);  // the dropped colours are passed over
}

TEST_F(FliDecode, Color64IsShiftedNotMaskedAndKeepsTheTopByteZero) {
    store(colorBody(0, 4, {63, 0, 1, 255, 255, 255, 0, 64, 0, 64, 0, 0}));
    FliColor(1);
    EXPECT_EQ(rgb[0], 0xFC0004u);  // 63 becomes 252
    EXPECT_EQ(rgb[1], 0xFFFFFCu);  // 255 << 2 spills into the next colour up; the top byte is cleared
    EXPECT_EQ(rgb[2], 0x010000u);  // a green of 64 carries into red
    EXPECT_EQ(rgb[3], 0x000000u);  // a red of 64 carries only into the cleared top byte
    EXPECT_EQ(flii, 2u + 2 + 12);
}

TEST_F(FliDecode, ColorIndicesPast255AndEndlessPacketsAreSafe) {
    store(colorBody(200, 100, Bytes(300, 1)));
    FliColor(0);
    EXPECT_EQ(rgb[199], 0u);
    EXPECT_EQ(rgb[200], 0x010101u);
    EXPECT_EQ(rgb[255], 0x010101u);
    EXPECT_EQ(flii, 4u + 300);

    // 65,535 packets in a 2-byte chunk: the zeros after it read as 256-colour packets.
    memset(rgb, 0x55, sizeof rgb);
    Bytes endless;
    put16(endless, 65535);
    store(endless);
    FliColor(1);
    EXPECT_EQ(rgb[0], 0u);
    EXPECT_EQ(rgb[255], 0u);
    EXPECT_EQ(flii, 2u + 65535u * (2 + 768));
}

TEST_F(FliDecode, LcWritesItsRowsAndTheLineCounterRunsOnAcrossChunks) {
    // skip 10, one line: one packet (column skip 5, three literal pixels).
    Bytes d;
    put16(d, 10);
    put16(d, 1);
    append(d, {1, 5, 3, 7, 8, 9});
    const uint32_t second = d.size();
    put16(d, 2);  // counts on from row 11: row 13
    put16(d, 1);
    append(d, {2, 0, 0x80, 4, 300 - 256, 0});  // 128 pixels of index 4, then a size-0 packet
    store(d);
    FliLc();
    EXPECT_EQ(flii, second);
    EXPECT_EQ(yline, 11);
    EXPECT_EQ(changedPixels(), 3u);
    EXPECT_EQ(vga_screen[10 * 320 + 5], 7);
    EXPECT_EQ(vga_screen[10 * 320 + 7], 9);
    FliLc();
    EXPECT_EQ(yline, 14);
    EXPECT_EQ(changedPixels(), 3u + 128);
    EXPECT_EQ(vga_screen[13 * 320], 4);
    EXPECT_EQ(vga_screen[13 * 320 + 127], 4);
    EXPECT_EQ(vga_screen[13 * 320 + 128], 0);
    EXPECT_EQ(flii, d.size());  // the size-0 packet carries no data byte
}

TEST_F(FliDecode, LcZeroLinesConsumesOnlyItsTwoWords) {
    Bytes d;
    put16(d, 7);
    put16(d, 0);
    d.push_back(99);
    store(d);
    FliLc();
    EXPECT_EQ(flii, 4u);
    EXPECT_EQ(yline, 7);
    EXPECT_EQ(changedPixels(), 0u);
}

TEST_F(FliDecode, LcRowsAndRunsPastThePictureAreDropped) {
    // From row 199 on, 3 lines, each filling 128 + 128 + 128 from column 255.
    Bytes d;
    put16(d, 199);
    put16(d, 3);
    for (int l = 0; l < 3; l++) append(d, {3, 255, 0x80, 6, 0, 0x80, 6, 0, 0x80, 6});
    store(d);
    FliLc();
    EXPECT_EQ(changedPixels(), 65u);  // row 199 from column 255 to the last pixel
    EXPECT_EQ(vga_screen[63999], 6);
    EXPECT_EQ(yline, 202);

    // The 16-bit counter wraps: from row 10, a skip of 65,530 lands on row 4.
    memset(vga_screen, 0, sizeof vga_screen);
    yline = 10;
    Bytes w;
    put16(w, 65530);
    put16(w, 1);
    append(w, {1, 0, 1, 9});
    store(w);
    FliLc();
    EXPECT_EQ(vga_screen[4 * 320], 9);
    EXPECT_EQ(changedPixels(), 1u);

    // 65,535 lines in a 10-byte chunk run over the zeros after it.
    memset(vga_screen, 0, sizeof vga_screen);
    yline = 0;
    Bytes many;
    put16(many, 0);
    put16(many, 65535);
    store(many);
    FliLc();
    EXPECT_EQ(yline, 65535);
    EXPECT_EQ(flii, 4u + 65535);
    EXPECT_EQ(changedPixels(), 0u);
}

TEST_F(FliDecode, ByteRunRunsOnAcrossLinesAndTakesItsLineCountFromTheHeader) {
    // Two lines: the first writes 3 x 127 pixels (past its own row), the second
    // goes on from pixel 381; then a 0x80 literal of 128 bytes and a size-0 packet.
    Bytes d = {3, 127, 1, 127, 1, 127, 1};
    append(d, {3, 0x80});
    for (int k = 0; k < 128; k++) d.push_back(static_cast<uint8_t>(k));
    append(d, {0, 42, 2, 5});
    d.push_back(77);  // beyond the two lines
    store(d, 2);
    FliBrun();
    EXPECT_EQ(vga_screen[380], 1);
    EXPECT_EQ(vga_screen[381], 0);
    EXPECT_EQ(vga_screen[381 + 127], 127);
    EXPECT_EQ(vga_screen[509], 5);
    EXPECT_EQ(vga_screen[510], 5);
    EXPECT_EQ(vga_screen[511], 0);
    EXPECT_EQ(flii, d.size() - 1);
    EXPECT_EQ(changedPixels(), 381u + 127 + 2);  // literal 0 wrote a zero
}

TEST_F(FliDecode, ByteRunHeightZeroReturnsAtOnceAndTallPicturesStayInside) {
    store({1, 5, 9}, 0);
    FliBrun();
    EXPECT_EQ(flii, 0u);
    EXPECT_EQ(changedPixels(), 0u);

    // Height 400: 400 lines of literal runs, twice the picture; the excess is dropped.
    Bytes tall;
    for (int y = 0; y < 400; y++) {
        append(tall, {3, 0x80});
        tall.insert(tall.end(), 128, 3);
        tall.push_back(0x80);
        tall.insert(tall.end(), 128, 3);
        tall.push_back(256 - 64);
        tall.insert(tall.end(), 64, 3);
    }
    store(tall, 400);
    FliBrun();
    EXPECT_EQ(changedPixels(), SLOT_WORDS);
    EXPECT_EQ(flii, tall.size());
}

TEST_F(FliDecode, BlackClearsThePictureAndPaletteEntryZeroOnly) {
    memset(vga_screen, 9, sizeof vga_screen);
    store(colorBody(0, 2, {10, 20, 30, 40, 50, 60}));
    FliColor(0);
    flii = 5;
    FliBlack();
    EXPECT_EQ(changedPixels(), 0u);
    EXPECT_EQ(rgb[0], 0u);
    EXPECT_EQ(rgb[1], 0x28323Cu);
    EXPECT_EQ(flii, 5u);
}

TEST_F(FliDecode, CopyTakes64000BytesAndReadsZeroPastTheStore) {
    Bytes d(SLOT_WORDS + 1);
    for (size_t k = 0; k < d.size(); k++) d[k] = static_cast<uint8_t>(k * 7 + 1);
    store(d);
    FliCopy();
    EXPECT_EQ(memcmp(vga_screen, d.data(), SLOT_WORDS), 0);
    EXPECT_EQ(flii, SLOT_WORDS);

    // 100 bytes before the end of the store: the rest of the picture reads as 0.
    Bytes big(FLI_STORE, 5);
    store(big);
    flii = FLI_STORE - 100;
    FliCopy();
    EXPECT_EQ(vga_screen[99], 5);
    EXPECT_EQ(vga_screen[100], 0);
    EXPECT_EQ(vga_screen[63999], 0);
    EXPECT_EQ(flii, FLI_STORE - 100 + SLOT_WORDS);
}

TEST_F(FliDecode, DoTypeDispatchesAndPrintsWhatItCannotDecode) {
    store(colorBody(0, 1, {1, 2, 3}));
    DoType(CHUNK_COLOR_64);
    EXPECT_EQ(rgb[0], 0x04080Cu);
    CHKhdr.type = 7;
    flii = 0;
    EXPECT_EQ(captureOutput([] { DoType(7); }).out, "7\n");
    EXPECT_EQ(flii, 0u);
    EXPECT_EQ(rgb[0], 0x04080Cu);
}

}  // namespace
