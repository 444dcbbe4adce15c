// Hostile animation files: every shape that has broken FLI decoders elsewhere,
// loaded through FLImainLoad. Each must finish, stay inside the stores (the
// sanitizer build checks that), and give the picture the walk describes.
#include <cstring>
#include <filesystem>
#include <sstream>

#include "fli_build.h"

namespace {

class FliHostile : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override { memset(frames, 0, sizeof frames); }
    // Loads `file` and returns what the load printed on stdout.
    std::string load(const Bytes& file) {
        writeFile(FLI_FILE, file);
        return loadPrinted();
    }
    static std::string loadPrinted() {
        const Output printed = captureOutput(FLImainLoad);
        EXPECT_EQ(nframe, ANIM_FRAMES);
        EXPECT_EQ(printed.err, "");
        return printed.out;
    }
};

Bytes palette() { return chunk(CHUNK_COLOR_256, colorBody(0, 3, {0, 0, 0, 10, 0, 0, 0, 20, 0})); }
Bytes redPicture() { return chunk(CHUNK_BYTE_RUN, solidByteRun(1)); }
Bytes greenPicture() { return chunk(CHUNK_BYTE_RUN, solidByteRun(2)); }
constexpr uint32_t RED = 0x0A0000, GREEN = 0x001400;

bool allSlotsAre(uint32_t word) {
    for (uint32_t s = 1; s <= ANIM_FRAMES; s++)
        if (!slotIs(s, word)) return false;
    return true;
}

// The number of lines in `out` if each of them is `each`, else 0.
size_t lines(const std::string& out, const std::string& each) {
    std::istringstream in(out);
    size_t n = 0;
    for (std::string line; std::getline(in, line); n++)
        if (line != each) return 0;
    return n;
}

size_t lineCount(const std::string& out) { return std::count(out.begin(), out.end(), '\n'); }

TEST_F(FliHostile, HeaderSizesOutsideTheStoreOrTheHeader) {
    // Far too big: everything past the file reads as 255, i.e. frames of size
    // 0xFFFFFFFF whose 65,535 chunks have an unhandled type, until the output
    // allowance is spent.
    EXPECT_EQ(lineCount(load(fliFile({frame({palette(), redPicture()})}, FLI_H, UINT32_MAX))), UNHANDLED_LINES);
    EXPECT_TRUE(slotIs(1, RED));

    for (uint32_t size : {0u, 5u}) {  // below the header: no frame bytes at all
        EXPECT_EQ(load(fliFile({frame({palette(), redPicture()})}, FLI_H, size)), "");
        EXPECT_TRUE(allSlotsAre(0)) << size;
    }
    Bytes cut = fliFile({frame({palette(), redPicture()})});
    cut.resize(100);  // shorter than its header: all its frame bytes read as 255
    EXPECT_EQ(lineCount(load(cut)), UNHANDLED_LINES);
    EXPECT_TRUE(allSlotsAre(0));
    EXPECT_EQ(load({}), "");
    EXPECT_TRUE(allSlotsAre(0));
}

TEST_F(FliHostile, FileCutInsideAFrameReadsOnAs255) {
    Bytes file = fliFile({frame({palette(), redPicture()})});
    file.resize(file.size() - 100 * 7);  // the last 100 lines are missing
    load(file);
    // Each missing line reads as 255 packets of one literal pixel of index 255
    // (black here): 25,500 pixels in all, so the picture's foot keeps index 0.
    const std::vector<uint32_t> one = slot(1);
    EXPECT_TRUE(std::all_of(one.begin(), one.begin() + 100 * 320, [](uint32_t w) { return w == RED; }));
    EXPECT_TRUE(std::all_of(one.begin() + 100 * 320, one.end(), [](uint32_t w) { return w == 0; }));
}

TEST_F(FliHostile, FrameSizesThatDoNotMoveOnOrLeaveTheStore) {
    // Size 0: the same frame 698 times; size near 2^32 wraps back before the
    // store; a size past the store lands in what reads as zeros. All slots red.
    for (uint32_t size : {0u, 0xFFFFFFF0u, 0x03000000u}) {
        memset(frames, 0, sizeof frames);
        EXPECT_EQ(load(fliFile({frame({palette(), redPicture()}, size)})), "");
        EXPECT_TRUE(allSlotsAre(RED)) << size;
    }
    // Sizes 1..15 put the next frame inside this one's header.
    for (uint32_t size = 1; size < FRAME_HEADER_BYTES; size++) {
        load(fliFile({frame({palette(), redPicture()}, size)}));
        EXPECT_TRUE(slotIs(1, RED)) << size;
    }
}

TEST_F(FliHostile, ChunkSizesOfZeroOrInsideTheirHeaderOrPastTheStore) {
    // Size 0: one COPY read 65,535 times over is still one picture, and the
    // next frame decodes as usual.
    Bytes copy(SLOT_WORDS, 1);
    const Bytes repeated = frame({palette(), chunk(CHUNK_COPY, copy, 0)}, TRUE_SIZE, 65535);
    EXPECT_EQ(load(fliFile({repeated, frame({greenPicture()})})), "");
    EXPECT_TRUE(slotIs(1, RED));
    EXPECT_TRUE(slotIs(2, GREEN));

    // Size 3: the next chunk header is read from inside this one: its type is
    // made of the type word's high byte and the first body bytes (383).
    Bytes inside = frame({palette(), chunk(CHUNK_BYTE_RUN, solidByteRun(1), 3)}, TRUE_SIZE, 3);
    EXPECT_EQ(load(fliFile({inside})), "383\n");

    // A size past the store: the next chunk reads as size 0, type 0.
    const Bytes far = frame({palette(), chunk(CHUNK_BYTE_RUN, solidByteRun(1), 0x7FFFFFFF)}, TRUE_SIZE, 4);
    EXPECT_EQ(load(fliFile({far, frame({greenPicture()})})), "0\n0\n");
    EXPECT_TRUE(slotIs(1, RED));
    EXPECT_TRUE(slotIs(2, GREEN));
}

TEST_F(FliHostile, PublishedTimeoutFileLoadsBlackWithBoundedOutput) {
    // Its first chunk is BLACK with size 0, 63,487 times; then the walk runs
    // into 0xFF bytes: 65,535 unhandled chunks a frame.
    std::filesystem::copy_file(std::filesystem::path(VELMORANTE_TEST_FLI) / "pillow_cve_2021_28676_timeout.fli", FLI_FILE);
    EXPECT_EQ(lines(loadPrinted(), "65535"), UNHANDLED_LINES);
    EXPECT_TRUE(slotIs(1, 0));
}

TEST_F(FliHostile, ThousandsOfChunksInOneFrame) {
    // 65,535 BLACK chunks: black, and the frame after them still decodes.
    const std::vector<Bytes> blacks(65535, chunk(CHUNK_BLACK, {}));
    load(fliFile({frame({palette(), redPicture()}), frame(blacks), frame({greenPicture()})}));
    EXPECT_TRUE(slotIs(1, RED));
    EXPECT_TRUE(slotIs(2, 0));
    EXPECT_TRUE(slotIs(3, GREEN));

    // 65,535 chunks of an unhandled type: one line each.
    const std::vector<Bytes> unknown(65535, chunk(99, {}));
    EXPECT_EQ(lines(load(fliFile({frame(unknown)})), "99"), 65535u);
}

TEST_F(FliHostile, WorkBeyondTheAllowanceStopsDecodingNotWalking) {
    // 2,000 overlapping COPY chunks 7 bytes apart, each reading 64,000 bytes:
    // more than a walk may spend. The frames after it are walked by their
    // headers alone, so slot 3 repeats slot 2 instead of turning green.
    Bytes pattern;
    for (uint32_t k = 0; k < 2000 + SLOT_WORDS / 7; k++) {
        const Bytes c = chunk(CHUNK_COPY, {1}, 7);
        pattern.insert(pattern.end(), c.begin(), c.end());
    }
    Bytes heavy = frame({}, TRUE_SIZE, 2000);
    heavy.insert(heavy.end(), pattern.begin(), pattern.end());
    heavy[0] = heavy.size() & 0xFF;
    heavy[1] = heavy.size() >> 8 & 0xFF;
    heavy[2] = heavy.size() >> 16 & 0xFF;
    load(fliFile({frame({palette(), redPicture()}), heavy, frame({greenPicture()})}));
    EXPECT_TRUE(slotIs(1, RED));
    EXPECT_FALSE(slotIs(2, RED));
    EXPECT_TRUE(std::equal(frames + 2 * SLOT_WORDS, frames + 3 * SLOT_WORDS, frames + 3 * SLOT_WORDS));
    EXPECT_FALSE(slotIs(3, GREEN));
}

}  // namespace
