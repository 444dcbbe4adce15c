// FLIplay: the frame volume, loading of the animation file, and the walk that
// decodes it into the volume.
#include "FLIplay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---- Stores -----------------------------------------------------------------
uint32_t frames[VOLUME_WORDS];
uint8_t fli[FLI_STORE];
FliHeader FLIhdr;

// Bytes of `fli` written by the last load, so that a second load (the tests do
// that) leaves nothing of the first one behind.
static uint32_t fliLoaded;

static uint16_t headerU16(const uint8_t* b, int at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

static uint32_t headerU32(const uint8_t* b, int at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

static void parseHeader(const uint8_t* raw) {
    memcpy(FLIhdr.raw, raw, FLI_HEADER_SIZE);
    FLIhdr.size = headerU32(raw, FLIHDR_SIZE);
    FLIhdr.magic = headerU16(raw, FLIHDR_MAGIC);
    FLIhdr.frames = headerU16(raw, FLIHDR_FRAMES);
    FLIhdr.width = headerU16(raw, FLIHDR_WIDTH);
    FLIhdr.height = headerU16(raw, FLIHDR_HEIGHT);
    FLIhdr.depth = headerU16(raw, FLIHDR_DEPTH);
    FLIhdr.flags = headerU16(raw, FLIHDR_FLAGS);
    FLIhdr.speed = headerU16(raw, FLIHDR_SPEED);
}

// Bytes the size field asks for after the header, cut to what the store holds.
// A size below the header's own 128 bytes asks for nothing.
static uint32_t frameBytesWanted(uint32_t size) {
    if (size <= FLI_HEADER_SIZE) return 0;
    uint32_t wanted = size - FLI_HEADER_SIZE;
    return wanted < FLI_STORE ? wanted : FLI_STORE;
}

// Grey noise in slots 700..767: one rand() a pixel in index order, masked by
// (row * 200), the row counted on across all 68 noise slots.
static void fillNoise() {
    const uint32_t first = NOISE_FIRST_SLOT * SLOT_WORDS;
    for (uint32_t n = first; n < VOLUME_WORDS; n++) {
        uint32_t r = (n - first) / FLI_W;
        uint32_t v = (r * 200u & static_cast<uint32_t>(rand())) & 0xFFu;
        frames[n] = v * 0x10000u + v * 0x100u + v;
    }
}

void FLIload(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "velmorante: cannot open animation file \"%s\"; the animation stays black\n", path);
        return;
    }
    uint8_t raw[FLI_HEADER_SIZE] = {};
    size_t got = fread(raw, 1, FLI_HEADER_SIZE, f);
    (void)got;  // a short header keeps zeros where the file ended
    parseHeader(raw);

    // The copy is byte for byte what the size field asks for; past the end of
    // the file every byte reads as 255, the end-of-file value cut to 8 bits.
    uint32_t wanted = frameBytesWanted(FLIhdr.size);
    uint32_t copied = 0;
    if (fseek(f, FLI_HEADER_SIZE, SEEK_SET) == 0) copied = static_cast<uint32_t>(fread(fli, 1, wanted, f));
    fclose(f);
    memset(fli + copied, 0xFF, wanted - copied);
    if (fliLoaded > wanted) memset(fli + wanted, 0, fliLoaded - wanted);
    fliLoaded = wanted;

    fillNoise();
}

void FLImainLoad() {
    FLIload(FLI_FILE);
}
