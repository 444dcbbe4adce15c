#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

ScratchDir::ScratchDir() {
    char name[] = "/tmp/velmorante-test-XXXXXX";
    const char* made = mkdtemp(name);
    EXPECT_NE(made, nullptr);
    dir_ = made ? made : "/tmp";
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
}

ScratchDir::~ScratchDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    if (!bytes.empty()) {
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    fclose(f);
}

std::vector<uint8_t> fliHeader(uint32_t size, uint16_t frameCount, uint16_t height) {
    std::vector<uint8_t> h(FLI_HEADER_SIZE, 0);
    auto put16 = [&](int at, uint16_t v) { h[at] = v & 0xFF; h[at + 1] = v >> 8; };
    for (int i = 0; i < 4; i++) h[FLIHDR_SIZE + i] = (size >> (8 * i)) & 0xFF;
    put16(FLIHDR_MAGIC, 0xAF11);
    put16(FLIHDR_FRAMES, frameCount);
    put16(FLIHDR_WIDTH, FLI_W);
    put16(FLIHDR_HEIGHT, height);
    put16(FLIHDR_DEPTH, 8);
    put16(FLIHDR_SPEED, 5);
    return h;
}
