// Loading the animation file into the store, and the noise slots.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "support.h"

namespace {

class FliLoad : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override {
        memset(frames, 0, sizeof frames);
        demoSrand(1);  // where the program's generator starts
    }
};

bool slotIsBlack(uint32_t slot) {
    for (uint32_t k = 0; k < SLOT_WORDS; k++)
        if (frames[slot * SLOT_WORDS + k] != 0) return false;
    return true;
}

// Noise rows are counted from slot 700's first row on across all 68 noise
// slots; each pixel is one draw, masked by 200 times its row (modulo 256).
constexpr uint32_t NOISE_ROWS = (SLOTS - NOISE_FIRST_SLOT) * FLI_H;  // 13,600
constexpr uint32_t NOISE_PIXELS = NOISE_ROWS * FLI_W;                  // 4,352,000 draws

uint32_t noiseWord(uint32_t row, uint32_t x) { return frames[NOISE_FIRST_SLOT * SLOT_WORDS + row * FLI_W + x]; }

TEST_F(FliLoad, NoiseSlotsAreGreyDrawsOfTheGeneratorInIndexOrder) {
    writeFile("anim.fli", fliHeader(FLI_HEADER_BYTES));
    FLIload("anim.fli");
    const int next = demoRand();
    EXPECT_TRUE(slotIsBlack(0));
    EXPECT_TRUE(slotIsBlack(NOISE_FIRST_SLOT - 1));

    // The generator's sequence from its start; draw k lands on pixel k.
    referenceSrand(1);
    std::vector<uint32_t> draws(NOISE_PIXELS);
    for (uint32_t& d : draws) d = static_cast<uint32_t>(referenceRand());
    EXPECT_EQ(next, referenceRand());  // one draw a pixel, and not one more

    for (uint32_t row = 0; row < NOISE_ROWS; row++) {
        uint32_t seen = 0;  // the bits set anywhere in the row
        for (uint32_t x = 0; x < FLI_W; x++) {
            const uint32_t word = noiseWord(row, x), grey = word & 0xFF;
            ASSERT_EQ(word, grey * GREY) << "row " << row << ", column " << x;
            seen |= grey;
            // 200 * 23 is 0xF8 modulo 256: on these rows the mask keeps all five top bits of the draw.
            if (row % 32 == 23) {
                ASSERT_EQ(grey, draws[row * FLI_W + x] & 0xF8) << "row " << row << ", column " << x;
            }
        }
        // 200 is 8 * 25: the three low bits are never set, and every 32nd row is black.
        ASSERT_EQ(seen & 7, 0u) << "row " << row;
        ASSERT_EQ(seen == 0, row % 32 == 0) << "row " << row;
    }
}

TEST_F(FliLoad, HeaderFieldsAndFrameBytesAreCopied) {
    std::vector<uint8_t> file = fliHeader(FLI_HEADER_BYTES + 5, 9, 123);
    file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7});  // two bytes beyond the size are not copied
    writeFile("anim.fli", file);
    FLIload("anim.fli");
    EXPECT_EQ(FLIhdr.magic, FLI_MAGIC);
    EXPECT_EQ(FLIhdr.frames, 9);
    EXPECT_EQ(FLIhdr.width, 320);
    EXPECT_EQ(FLIhdr.height, 123);
    EXPECT_EQ(std::vector<uint8_t>(fli, fli + 7), (std::vector<uint8_t>{1, 2, 3, 4, 5, 0, 0}));
}

TEST_F(FliLoad, BytesPastTheEndOfTheFileReadAs255) {
    std::vector<uint8_t> file = fliHeader(FLI_HEADER_BYTES + 10);
    file.insert(file.end(), {9, 8, 7});
    writeFile("anim.fli", file);
    FLIload("anim.fli");
    EXPECT_EQ(std::vector<uint8_t>(fli, fli + 11), (std::vector<uint8_t>{9, 8, 7, 255, 255, 255, 255, 255, 255, 255, 0}));
}

TEST_F(FliLoad, SizeFieldsOutsideTheStoreAreCut) {
    // A size far past the store fills the whole store (the missing bytes read
    // as 255) and not one byte more; a size below the header copies nothing.
    std::vector<uint8_t> file = fliHeader(UINT32_MAX);
    file.push_back(42);
    writeFile("huge.fli", file);
    FLIload("huge.fli");
    EXPECT_EQ(fli[0], 42);
    EXPECT_EQ(fli[1], 255);
    EXPECT_EQ(fli[FLI_STORE - 1], 255);

    for (uint32_t small : {0u, 5u, 127u, FLI_HEADER_BYTES}) {
        writeFile("small.fli", fliHeader(small));
        FLIload("small.fli");
        EXPECT_EQ(FLIhdr.size, small);
        EXPECT_EQ(fli[0], 0) << small;  // and what the huge file left is gone
        EXPECT_EQ(fli[FLI_STORE - 1], 0) << small;
    }
}

TEST_F(FliLoad, ShortOrEmptyFilesAreSafe) {
    writeFile("empty.fli", {});
    FLIload("empty.fli");
    EXPECT_EQ(FLIhdr.size, 0u);
    std::vector<uint8_t> cut = fliHeader(FLI_HEADER_BYTES + 3);
    cut.resize(10);  // the header itself is cut: the rest of it stays zero
    writeFile("cut.fli", cut);
    FLIload("cut.fli");
    EXPECT_EQ(FLIhdr.size, FLI_HEADER_BYTES + 3);
    EXPECT_EQ(FLIhdr.height, 0);
    EXPECT_EQ(std::vector<uint8_t>(fli, fli + 4), (std::vector<uint8_t>{255, 255, 255, 0}));
}

TEST_F(FliLoad, MissingFileIsNamedAndLeavesAllBlack) {
    const Output printed = captureOutput([] { FLIload("robotrk.fli"); });
    const std::string& err = printed.err;
    EXPECT_EQ(printed.out, "");
    EXPECT_NE(err.find("robotrk.fli"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_TRUE(slotIsBlack(700));
    EXPECT_TRUE(slotIsBlack(767));
    const int next = demoRand();
    demoSrand(1);
    EXPECT_EQ(next, demoRand());  // nothing was drawn
}

TEST_F(FliLoad, AFolderOrAFifoIsRefusedLikeAMissingFileWithoutBlocking) {
    ASSERT_EQ(mkdir("folder.fli", 0755), 0);
    std::vector<const char*> paths = {"folder.fli"};
#ifndef __EMSCRIPTEN__  // Emscripten's files in memory cannot be FIFOs
    ASSERT_EQ(mkfifo("fifo.fli", 0644), 0);
    paths.push_back("fifo.fli");
#endif
    for (const char* path : paths) {
        demoSrand(1);
        alarm(10);  // a FIFO without a writer must not block the load
        const std::string err = captureOutput([&] { FLIload(path); }).err;
        alarm(0);
        const std::string named = std::string(1, '"') + path + "\" (a ";
        EXPECT_NE(err.find(named), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_TRUE(slotIsBlack(700)) << path;
        const int next = demoRand();
        demoSrand(1);
        EXPECT_EQ(next, demoRand()) << path;  // nothing was drawn
    }
}

}  // namespace
