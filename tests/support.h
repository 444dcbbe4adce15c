// Helpers shared by the unit tests: surfaces, a volume whose words name their
// own index, files in a scratch folder, what a call prints.
#pragma once

#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Extended.h"
#include "FLIplay.h"
#include "Plasma.h"
#include "noise_reference.h"
#include "scroller.h"

// A 1280 x 720 x 32 surface over our own memory, rows `pitchWords` apart;
// the words between rows are filled with a guard value.
struct TestSurface {
    static constexpr uint32_t GUARD = 0xDEADBEEF;
    std::vector<uint32_t> memory;
    SDL_Surface* surface = nullptr;
    int pitchWords;

    explicit TestSurface(int pitchWords_ = SCREEN_W, int w = SCREEN_W, int h = SCREEN_H) : pitchWords(pitchWords_) {
        memory.assign(static_cast<size_t>(pitchWords) * h + 16, GUARD);
        surface = SDL_CreateRGBSurfaceFrom(memory.data(), w, h, SCREEN_BPP, pitchWords * 4, RED_MASK, GREEN_MASK,
                                           BLUE_MASK, 0);
    }
    ~TestSurface() { SDL_FreeSurface(surface); }
    TestSurface(const TestSurface&) = delete;
    TestSurface& operator=(const TestSurface&) = delete;

    uint32_t at(int x, int y) const { return memory[static_cast<size_t>(y) * pitchWords + x]; }
    // The drawn picture only, row by row, without the gaps between rows.
    std::vector<uint32_t> picture() const {
        std::vector<uint32_t> out;
        for (int y = 0; y < surface->h; y++)
            out.insert(out.end(), memory.begin() + static_cast<long>(y) * pitchWords,
                       memory.begin() + static_cast<long>(y) * pitchWords + surface->w);
        return out;
    }
};

// Every word of the volume holds its own flat index, so a pixel tells which
// word was read.
inline void fillVolumeWithIndices() {
    for (uint32_t k = 0; k < VOLUME_WORDS; k++) frames[k] = k;
}

inline uint32_t flatIndex(int64_t slot, int64_t row, int64_t column) {
    return static_cast<uint32_t>(slot * SLOT_WORDS + row * FLI_W + column);
}

// The tests' one checksum of pictures and bytes: 32-bit FNV-1a over bytes, the
// form of the reference checksums in tests/data/fli/README.md. Values are fed
// as their bytes in memory, little-endian on every machine the tests run on.
struct Fnv1a {
    uint32_t h = 0x811C9DC5u;
    Fnv1a& add(const void* data, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(data);
        for (size_t k = 0; k < n; k++) h = (h ^ b[k]) * 0x01000193u;
        return *this;
    }
    template <class T>
    Fnv1a& add(const T& value) {
        return add(&value, sizeof value);
    }
};

// A fresh scratch folder, made the working directory for the test's lifetime.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::filesystem::path path() const { return dir_; }

private:
    std::filesystem::path dir_, previous_;
};

// Init as the demo runs it: from data/, the generator at the start of its
// sequence. The working directory is left as it was.
void initFromData();

void writeFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> fliHeader(uint32_t size, uint16_t frames = 1, uint16_t height = FLI_H);

// What `body` wrote to standard output and to standard error. Both go to
// temporary files while it runs; the C library's buffers are flushed before
// and after, so nothing that printf or SDL holds back is lost. Assertions
// belong after the call: GoogleTest prints its failures on standard output.
struct Output {
    std::string out, err;
};
Output captureOutput(const std::function<void()>& body);
