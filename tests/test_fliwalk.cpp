// The frame walk of FLImainLoad, the playback helpers, and the slots that
// real FLI files decode to.
#include <cstring>
#include <filesystem>

#include "fli_build.h"

namespace {

class FliWalk : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override { memset(frames, 0, sizeof frames); }
    void load(const Bytes& file) {
        writeFile(FLI_FILE, file);
        FLImainLoad();
    }
};

// Palette entries 0..3: black, red 10, green 20, blue 30.
Bytes palette() { return chunk(CHUNK_COLOR_256, colorBody(0, 4, {0, 0, 0, 10, 0, 0, 0, 20, 0, 0, 0, 30})); }
constexpr uint32_t RED = 0x0A0000, GREEN = 0x001400, BLUE = 0x00001E;

// One LC line at `skip` rows on, one pixel at column `x` set to `index`.
Bytes lcPixel(uint16_t skip, uint8_t x, uint8_t index) {
    Bytes b;
    put16(b, skip);
    put16(b, 1);
    append(b, {1, x, 1, index});
    return chunk(CHUNK_LC, b);
}

TEST_F(FliWalk, MovesBySizeFieldsNotByWhatTheDecodersRead) {
    Bytes colours = palette();
    append(colours, {0xFF, 0xFF, 0xFF, 0xFF});  // inside the chunk, past its packets
    colours[0] += 4;
    Bytes first = frame({colours, chunk(CHUNK_BYTE_RUN, solidByteRun(1))});
    const Bytes junk(9, 0xFF);  // inside the frame, after its chunks
    first.insert(first.end(), junk.begin(), junk.end());
    first[0] += junk.size();
    const Bytes second = frame({chunk(CHUNK_BYTE_RUN, solidByteRun(2))});
    load(fliFile({first, second}));

    EXPECT_TRUE(slotIs(0, 0));
    EXPECT_TRUE(slotIs(1, RED));
    EXPECT_TRUE(slotIs(2, GREEN));
    for (uint32_t s = 3; s <= ANIM_FRAMES; s++) ASSERT_TRUE(slotIs(s, GREEN)) << s;  // the zeros after the file
    EXPECT_TRUE(slotIs(699, 0));
    EXPECT_EQ(nframe, ANIM_FRAMES);
    EXPECT_EQ(flii, first.size() + second.size());
}

TEST_F(FliWalk, LineCounterRunsOnWithinAFrameAndRestartsAtTheNext) {
    load(fliFile({frame({palette(), lcPixel(10, 0, 1), lcPixel(2, 0, 2)}), frame({lcPixel(10, 1, 3)})}));
    const std::vector<uint32_t> one = slot(1), two = slot(2);
    EXPECT_EQ(one[10 * 320], RED);
    EXPECT_EQ(one[13 * 320], GREEN);  // row 11 + 2
    EXPECT_EQ(std::count(one.begin(), one.end(), 0u), SLOT_WORDS - 2);
    EXPECT_EQ(two[10 * 320 + 1], BLUE);  // row 10 again: the counter began at 0
    EXPECT_EQ(std::count(two.begin(), two.end(), 0u), SLOT_WORDS - 3);
}

TEST_F(FliWalk, EmptyFramesRepeatThePictureAndUnhandledTypesArePrinted) {
    const Bytes file = fliFile({frame({palette(), chunk(CHUNK_BYTE_RUN, solidByteRun(1))}), frame({}),
                                frame({chunk(7, {1, 2, 3}), chunk(18, {}), chunk(CHUNK_BYTE_RUN, solidByteRun(3))})});
    EXPECT_EQ(captureOutput([&] { load(file); }).out, "7\n18\n");
    EXPECT_TRUE(slotIs(1, RED));
    EXPECT_TRUE(slotIs(2, RED));
    EXPECT_TRUE(slotIs(3, BLUE));
}

TEST_F(FliWalk, MainFliWalksOnIntoSlot699AndNeverPastTheLastSlot) {
    std::vector<Bytes> records = {frame({palette(), chunk(CHUNK_BYTE_RUN, solidByteRun(1))})};
    records.resize(ANIM_FRAMES, frame({}));
    records.push_back(frame({chunk(CHUNK_BYTE_RUN, solidByteRun(2))}));  // the 699th
    records.push_back(frame({chunk(CHUNK_BYTE_RUN, solidByteRun(3))}));
    load(fliFile(records));
    EXPECT_TRUE(slotIs(ANIM_FRAMES, RED));
    const uint32_t noise = frames[700 * SLOT_WORDS + 320 * 5];

    MainFLI();
    EXPECT_EQ(nframe, 699u);
    EXPECT_TRUE(slotIs(699, GREEN));
    EXPECT_EQ(frames[700 * SLOT_WORDS + 320 * 5], noise);  // exactly one frame

    for (int k = 0; k < 100; k++) MainFLI();
    EXPECT_EQ(nframe, 799u);
    EXPECT_TRUE(slotIs(700, BLUE));
    EXPECT_TRUE(slotIs(SLOTS - 1, BLUE));
}

TEST_F(FliWalk, FliPlayStepsFramesWithoutTouchingTheVolumeAndFliShowExpands) {
    const Bytes a = frame({palette(), chunk(CHUNK_BYTE_RUN, solidByteRun(1))});
    const Bytes b = frame({lcPixel(4, 6, 2)});
    load(fliFile({a, b}));
    memset(frames, 0, sizeof frames);
    flii = 0;
    nframe = 0;
    FLIplay();
    FLIplay();
    EXPECT_EQ(flii, a.size() + b.size());
    EXPECT_EQ(nframe, 2u);
    EXPECT_TRUE(slotIs(1, 0));
    EXPECT_TRUE(slotIs(2, 0));
    std::vector<uint32_t> shown(SLOT_WORDS);
    FLIshow(shown.data());
    EXPECT_EQ(shown[4 * 320 + 6], GREEN);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), RED), SLOT_WORDS - 1);
}

TEST_F(FliWalk, HeaderHelpersReadAtTheCursorAndSetTheNextPositions) {
    Bytes f = frame({chunk(CHUNK_BLACK, {}, 0xFFFFFFF0)}, 0x10000);
    f[8] = 0xAB;  // reserved bytes are kept
    writeFile("x.fli", fliFile({f}));
    FLIload("x.fli");
    flii = 0;
    ReadFrameHDR();
    EXPECT_EQ(FRMhdr.size, 0x10000u);
    EXPECT_EQ(FRMhdr.magic, FRAME_MAGIC);
    EXPECT_EQ(FRMhdr.chunks, 1);
    EXPECT_EQ(FRMhdr.reserved[0], 0xAB);
    EXPECT_EQ(nextflii, 0x10000u);
    EXPECT_EQ(flii, FRAME_HEADER_BYTES);
    ReadChunkHDR();
    EXPECT_EQ(CHKhdr.type, CHUNK_BLACK);
    EXPECT_EQ(nextchunk, FRAME_HEADER_BYTES + 0xFFFFFFF0u);  // wraps round to 0
    EXPECT_EQ(nextchunk, 0u);
    EXPECT_EQ(flii, FRAME_HEADER_BYTES + CHUNK_HEADER_BYTES);
}

// The checksum of a slot's 64,000 little-endian words.
uint32_t slotChecksum(uint32_t s) { return Fnv1a().add(frames + s * SLOT_WORDS, SLOT_WORDS * sizeof frames[0]).h; }

struct Reference {
    const char* file;
    std::vector<std::pair<uint32_t, uint32_t>> slots;  // slot, checksum
};

// Checksums from an independent decoder, listed in tests/data/fli/README.md
// (record r lands in slot r + 1).
TEST_F(FliWalk, RealFilesDecodeToTheReferenceChecksums) {
    const std::vector<uint32_t> ann2 = {0xE24C0971, 0x5BE6AA91, 0xF8F6BEB1, 0xCD695511, 0x2C09FC45, 0x15123305, 0x6204F7D1,
                                        0x906CA991, 0x7BC5A165, 0x46A918F1, 0x0D5E0651, 0x08F93D25, 0x94963945, 0xDBE466D1,
                                        0xFD525BC5, 0xBBAA92C5, 0xE914F2A5, 0x74E408F1, 0x37B4AB71, 0xE24C0971};
    Reference ann{"ANN2.FLI", {{698, 0xE24C0971}}};  // the rest repeat the ring record, i.e. the first picture
    for (uint32_t r = 0; r < ann2.size(); r++) ann.slots.push_back({r + 1, ann2[r]});
    const std::vector<Reference> refs = {
        ann,
        {"a.fli",
         {{1, 0xD58F1071}, {2, 0xD58F1071}, {8, 0x7AABCEB9}, {51, 0x5CFF5AE9}, {274, 0x162209F9}, {275, 0x799B1E29},
          {276, 0x62A32C59}, {384, 0x797637A5}, {385, 0xD58F1071}, {698, 0xD58F1071}}},
        {"hopper.fli", {{1, 0x4F263013}}},
        {"hopper_palette_chunk_second.fli", {{1, 0x4F263013}}},
    };
    for (const Reference& ref : refs) {
        memset(frames, 0, sizeof frames);
        std::filesystem::copy_file(std::filesystem::path(VELMORANTE_TEST_FLI) / ref.file, FLI_FILE,
                                   std::filesystem::copy_options::overwrite_existing);
        FLImainLoad();
        for (auto [s, sum] : ref.slots) EXPECT_EQ(slotChecksum(s), sum) << ref.file << " slot " << s;
    }
}

}  // namespace
