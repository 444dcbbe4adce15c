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
    std::vector<uint8_t> h(FLI_HEADER_BYTES, 0);
    putU32(&h[FLI_SIZE_AT], size);
    putU16(&h[FLI_MAGIC_AT], FLI_MAGIC);
    putU16(&h[FLI_FRAMES_AT], frameCount);
    putU16(&h[FLI_WIDTH_AT], FLI_W);
    putU16(&h[FLI_HEIGHT_AT], height);
    putU16(&h[FLI_DEPTH_AT], 8);
    putU16(&h[FLI_SPEED_AT], 5);
    return h;
}
