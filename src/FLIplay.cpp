// FLIplay: the frame volume, loading of the animation file, the walk that
// decodes it into the volume, the chunk decoders and the playback helpers.
//
// Trust model: the file is untrusted. Every read of the store goes through
// fliByte and its kin, every picture or palette write through copyPixels,
// fillPixels or setColours, and each walk call has a work allowance, so no
// file, however broken, reaches outside the stores or takes long to load.
#include "FLIplay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "Output.h"

// ---- Pseudo-random numbers ----------------------------------------------------
// glibc's TYPE_3 generator: 31 words of state, r[i] = r[i - 31] + r[i - 3]
// modulo 2^32, each result the new word without its lowest bit. The seed fills
// the state through 16807 * x mod (2^31 - 1), and the first 310 results are
// thrown away.
constexpr int RAND_WORDS = 31;
constexpr int RAND_SEPARATION = 3;
constexpr int RAND_DISCARDED = 310;
static uint32_t randState[RAND_WORDS];
static int randFront, randRear;
static bool randStarted;

void demoSrand(uint32_t seed) {
    int32_t word = static_cast<int32_t>(seed ? seed : 1);
    randState[0] = static_cast<uint32_t>(word);
    for (int i = 1; i < RAND_WORDS; i++) {
        // 16807 * word mod (2^31 - 1), without leaving 32 bits (Schrage's method).
        const int64_t hi = word / 127773, lo = word % 127773;
        word = static_cast<int32_t>(16807 * lo - 2836 * hi);
        if (word < 0) word += 2147483647;
        randState[i] = static_cast<uint32_t>(word);
    }
    randFront = RAND_SEPARATION;
    randRear = 0;
    randStarted = true;
    for (int i = 0; i < RAND_DISCARDED; i++) demoRand();
}

int demoRand() {
    if (!randStarted) demoSrand(1);
    randState[randFront] += randState[randRear];
    const int result = static_cast<int>(randState[randFront] >> 1);
    randFront = randFront + 1 < RAND_WORDS ? randFront + 1 : 0;
    randRear = randRear + 1 < RAND_WORDS ? randRear + 1 : 0;
    return result;
}

// ---- Data files ---------------------------------------------------------------
static const char* notAFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder, not a file";
    if (S_ISFIFO(mode)) return "a FIFO, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a file";
    if (S_ISSOCK(mode)) return "a socket, not a file";
    return "not a regular file";
}

// stat first, so that a device is never opened; then open without blocking
// (a FIFO put in its place meanwhile would otherwise wait for a writer) and
// check again what was opened.
FILE* openDataFile(const char* path, const char** why) {
    *why = nullptr;
    struct stat st;
    if (stat(path, &st) != 0) return nullptr;
    if (!S_ISREG(st.st_mode)) {
        *why = notAFile(st.st_mode);
        return nullptr;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    FILE* f = nullptr;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) == 0 && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
        if (!S_ISREG(st.st_mode))
            *why = notAFile(st.st_mode);
        else
            f = fdopen(fd, "rb");
    }
    if (!f) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return f;
}

FILE* openAsset(const char* what, const char* path, const char* outcome) {
    const char* why = nullptr;
    FILE* f = openDataFile(path, &why);
    if (f) return f;
    if (!why && errno != ENOENT) why = strerror(errno);  // there, but not to be read: permission, a loop, ...
    if (why)
        fprintf(stderr, "velmorante: cannot open %s file \"%s\" (%s); %s\n", what, path, why, outcome);
    else
        fprintf(stderr, "velmorante: cannot open %s file \"%s\"; %s\n", what, path, outcome);
    return nullptr;
}

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
    memcpy(FLIhdr.raw, raw, FLI_HEADER_BYTES);
    FLIhdr.size = headerU32(raw, FLI_SIZE_AT);
    FLIhdr.magic = headerU16(raw, FLI_MAGIC_AT);
    FLIhdr.frames = headerU16(raw, FLI_FRAMES_AT);
    FLIhdr.width = headerU16(raw, FLI_WIDTH_AT);
    FLIhdr.height = headerU16(raw, FLI_HEIGHT_AT);
    FLIhdr.depth = headerU16(raw, FLI_DEPTH_AT);
    FLIhdr.flags = headerU16(raw, FLI_FLAGS_AT);
    FLIhdr.speed = headerU16(raw, FLI_SPEED_AT);
}

// Bytes the size field asks for after the header, cut to what the store holds.
// A size below the header's own 128 bytes asks for nothing.
static uint32_t frameBytesWanted(uint32_t size) {
    if (size <= FLI_HEADER_BYTES) return 0;
    uint32_t wanted = size - FLI_HEADER_BYTES;
    return wanted < FLI_STORE ? wanted : FLI_STORE;
}

// Grey noise in slots 700..767: one demoRand() a pixel in index order, masked by
// (row * 200), the row counted on across all 68 noise slots.
static void fillNoise() {
    const uint32_t first = NOISE_FIRST_SLOT * SLOT_WORDS;
    for (uint32_t n = first; n < VOLUME_WORDS; n++) {
        uint32_t r = (n - first) / FLI_W;
        uint32_t v = (r * 200u & static_cast<uint32_t>(demoRand())) & 0xFFu;
        frames[n] = v * 0x10000u + v * 0x100u + v;
    }
}

// The store after `copied` file bytes of the `wanted` ones: the missing ones
// read as 255, the end-of-file value cut to 8 bits; what an earlier, longer
// load left beyond them goes back to zero.
static void finishStore(uint32_t copied, uint32_t wanted) {
    memset(fli + copied, 0xFF, wanted - copied);
    if (fliLoaded > wanted) memset(fli + wanted, 0, fliLoaded - wanted);
    fliLoaded = wanted;
}

void FLIload(const char* path) {
    FILE* f = openAsset("animation", path, "the animation stays black");
    if (!f) return;
    uint8_t raw[FLI_HEADER_BYTES] = {};
    size_t got = fread(raw, 1, FLI_HEADER_BYTES, f);
    (void)got;  // a short header keeps zeros where the file ended
    parseHeader(raw);

    // The copy is byte for byte what the size field asks for.
    uint32_t wanted = frameBytesWanted(FLIhdr.size);
    uint32_t copied = 0;
    if (fseek(f, FLI_HEADER_BYTES, SEEK_SET) == 0) copied = static_cast<uint32_t>(fread(fli, 1, wanted, f));
    fclose(f);
    finishStore(copied, wanted);

    fillNoise();
}

void FLIloadMemory(const uint8_t* file, uint64_t length) {
    uint8_t raw[FLI_HEADER_BYTES] = {};
    memcpy(raw, file, length < FLI_HEADER_BYTES ? length : FLI_HEADER_BYTES);
    parseHeader(raw);
    const uint32_t wanted = frameBytesWanted(FLIhdr.size);
    const uint64_t present = length > FLI_HEADER_BYTES ? length - FLI_HEADER_BYTES : 0;
    const uint32_t copied = present < wanted ? static_cast<uint32_t>(present) : wanted;
    memcpy(fli, file + FLI_HEADER_BYTES, copied);
    finishStore(copied, wanted);
}

// ---- Walk state -------------------------------------------------------------------
uint32_t flii;
uint32_t nextflii;
uint32_t nextchunk;
uint32_t nframe;
uint16_t yline;
FrameHeader FRMhdr;
ChunkHeader CHKhdr;
uint8_t vga_screen[SLOT_WORDS];
uint32_t rgb[PALETTE_SIZE];

// What the current walk call may still spend, and print (see WALK_WORK).
static uint64_t workLeft;
static uint32_t linesLeft;

static void charge(uint64_t units) { workLeft = units < workLeft ? workLeft - units : 0; }

// ---- Bounded store reads ------------------------------------------------------------
// Every read of the store goes through these. Offsets are 32-bit and wrap; a
// byte past the end of the store reads as 0, like the store's unused tail.
static inline uint8_t fliByte(uint32_t at) { return at < FLI_STORE ? fli[at] : 0; }

static inline uint16_t fliU16(uint32_t at) {
    return static_cast<uint16_t>(fliByte(at) | fliByte(at + 1) << 8);
}

static inline uint32_t fliU32(uint32_t at) {
    return static_cast<uint32_t>(fliU16(at)) | static_cast<uint32_t>(fliU16(at + 2)) << 16;
}

// n bytes from `at` on into dst.
static void fliBytes(uint8_t* dst, uint32_t at, uint32_t n) {
    if (at < FLI_STORE && n <= FLI_STORE - at) {
        memcpy(dst, fli + at, n);
        return;
    }
    for (uint32_t k = 0; k < n; k++) dst[k] = fliByte(at + k);
}

// ---- Bounded picture and palette writes ----------------------------------------------
// Runs are cut at the picture's last pixel and at the palette's last entry.
static inline uint32_t roomFrom(uint64_t x, uint32_t n) {
    if (x >= SLOT_WORDS) return 0;
    return n < SLOT_WORDS - x ? n : static_cast<uint32_t>(SLOT_WORDS - x);
}

static inline void copyPixels(uint64_t x, uint32_t at, uint32_t n) {
    if (const uint32_t room = roomFrom(x, n)) fliBytes(vga_screen + x, at, room);
}

static inline void fillPixels(uint64_t x, uint8_t index, uint32_t n) {
    if (const uint32_t room = roomFrom(x, n)) memset(vga_screen + x, index, room);
}

// A palette word from the three components at `at`, each shifted but not masked,
// so a COLOR_64 component above 63 spills into the next colour up.
static inline uint32_t colourWord(uint32_t at, unsigned shift) {
    const uint32_t r = fliByte(at) << shift, g = fliByte(at + 1) << shift, b = fliByte(at + 2) << shift;
    return (r << 16 | g << 8 | b) & PIXEL_MASK;
}

// `count` colours from `at` on into entries i.., the ones past the last entry
// dropped unread; returns how many were kept.
static inline uint32_t setColours(uint64_t i, uint32_t at, uint32_t count, unsigned shift) {
    const uint32_t kept = i < PALETTE_SIZE ? static_cast<uint32_t>(std::min<uint64_t>(count, PALETTE_SIZE - i)) : 0;
    for (uint32_t c = 0; c < kept; c++) rgb[i + c] = colourWord(at + COLOR_ENTRY_BYTES * c, shift);
    return kept;
}

// ---- Chunk decoders --------------------------------------------------------------------
void FliColor(int shift_selector) {
    const unsigned shift = shift_selector ? COLOR_64_SHIFT : 0;
    uint32_t p = flii;
    const uint32_t packets = fliU16(p);
    p += COLOR_COUNT_BYTES;
    uint64_t i = 0, read = COLOR_COUNT_BYTES;
    for (uint32_t k = 0; k < packets; k++) {
        i += fliByte(p);
        const uint32_t count = fliByte(p + 1) ? fliByte(p + 1) : COLOR_FULL_COUNT;
        p += COLOR_PACKET_BYTES;
        const uint32_t kept = setColours(i, p, count, shift);  // the cursor moves over the dropped ones too
        i += count;
        p += COLOR_ENTRY_BYTES * count;
        read += COLOR_PACKET_BYTES + COLOR_ENTRY_BYTES * kept;
    }
    charge(read);
    flii = p;
}

void FliLc() {
    uint32_t p = flii;
    yline = static_cast<uint16_t>(yline + fliU16(p + LC_SKIP_AT));
    const uint32_t lines = fliU16(p + LC_LINES_AT);
    p += LC_HEADER_BYTES;
    for (uint32_t l = 0; l < lines; l++) {
        uint64_t x = static_cast<uint64_t>(yline) * FLI_W;
        const uint32_t packets = fliByte(p++);
        for (uint32_t k = 0; k < packets; k++) {
            x += fliByte(p);
            const int n = static_cast<int8_t>(fliByte(p + 1));
            p += LC_PACKET_BYTES;
            if (n > 0) {  // n literal pixels
                copyPixels(x, p, n);
                p += n;
                x += n;
            } else if (n < 0) {  // one index, -n times (0x80: 128)
                fillPixels(x, fliByte(p++), -n);
                x += -n;
            }
        }
        yline = static_cast<uint16_t>(yline + 1);
    }
    charge(p - flii);
    flii = p;
}

void FliBlack() {
    memset(vga_screen, 0, sizeof vga_screen);
    rgb[0] = 0;
    charge(BLACK_WORK);
}

void FliBrun() {
    const uint32_t lines = FLIhdr.height;
    if (lines == 0) return;
    uint32_t p = flii;
    uint64_t x = 0;  // runs on across lines: never re-aligned at a line start
    for (uint32_t l = 0; l < lines; l++) {
        const uint32_t packets = fliByte(p++);
        for (uint32_t k = 0; k < packets; k++) {
            const int n = static_cast<int8_t>(fliByte(p++));
            if (n > 0) {  // one index, n times
                fillPixels(x, fliByte(p++), n);
                x += n;
            } else if (n < 0) {  // -n literal pixels (0x80: 128)
                copyPixels(x, p, -n);
                p += -n;
                x += -n;
            } else {
                p++;  // size 0 still carries a byte, and writes nothing
            }
        }
    }
    charge(p - flii);
    flii = p;
}

void FliCopy() {
    copyPixels(0, flii, SLOT_WORDS);
    flii += SLOT_WORDS;
    charge(SLOT_WORDS);
}

void DoType(uint16_t type) {
    switch (type) {
    case CHUNK_COLOR_256: FliColor(0); break;
    case CHUNK_COLOR_64: FliColor(1); break;
    case CHUNK_LC: FliLc(); break;
    case CHUNK_BLACK: FliBlack(); break;
    case CHUNK_BYTE_RUN: FliBrun(); break;
    case CHUNK_COPY: FliCopy(); break;
    default: putLine(CHKhdr.type); break;
    }
}

// ---- Frame walk --------------------------------------------------------------------------
void ReadFrameHDR() {
    FRMhdr.size = fliU32(flii + FRAME_SIZE_AT);
    FRMhdr.magic = fliU16(flii + FRAME_MAGIC_AT);
    FRMhdr.chunks = fliU16(flii + FRAME_CHUNKS_AT);
    fliBytes(FRMhdr.reserved, flii + FRAME_RESERVED_AT, FRAME_RESERVED_BYTES);
    nextflii = flii + FRMhdr.size;
    flii += FRAME_HEADER_BYTES;
    charge(FRAME_HEADER_BYTES);
}

void ReadChunkHDR() {
    CHKhdr.size = fliU32(flii + CHUNK_SIZE_AT);
    CHKhdr.type = fliU16(flii + CHUNK_TYPE_AT);
    nextchunk = flii + CHKhdr.size;
    flii += CHUNK_HEADER_BYTES;
    charge(CHUNK_HEADER_BYTES);
}

static bool decodable(uint16_t type) {
    return type == CHUNK_COLOR_256 || type == CHUNK_COLOR_64 || type == CHUNK_LC || type == CHUNK_BLACK ||
           type == CHUNK_BYTE_RUN || type == CHUNK_COPY;
}

// The chunks of the frame whose header was just read, each through DoType; the
// walk moves on by each chunk's size field, never by what its decoder read.
// Decoders only overwrite, so two shortcuts give the same picture and palette:
// a chunk that starts where the one before it started (size 0) is not decoded
// again unless it is LC (its rows move on with yline), and a BLACK chunk while
// the picture is still black from the last one only blackens rgb[0].
static void walkChunks() {
    uint32_t p = flii, previous = 0;
    bool black = false;
    for (uint32_t c = 0; c < FRMhdr.chunks && workLeft > 0; c++) {
        const bool again = c > 0 && p == previous;
        flii = p;
        ReadChunkHDR();
        const uint16_t type = CHKhdr.type;
        if (!decodable(type)) {
            if (linesLeft > 0) {
                linesLeft--;
                DoType(type);
            }
        } else if (again && type != CHUNK_LC) {
        } else if (type == CHUNK_BLACK && black) {
            rgb[0] = 0;
        } else {
            DoType(type);
        }
        if (type == CHUNK_BLACK) black = true;
        if (type == CHUNK_LC || type == CHUNK_BYTE_RUN || type == CHUNK_COPY) black = false;
        previous = p;
        p = nextchunk;
    }
}

// One frame at flii: header, yline = 0, chunks, then on to the next frame by
// the frame's own size field.
static void walkFrame() {
    ReadFrameHDR();
    yline = 0;
    walkChunks();
    flii = nextflii;
    nframe++;
}

static void startWalkCall() {
    workLeft = WALK_WORK;
    linesLeft = UNHANDLED_LINES;
}

void FLIplay() {
    startWalkCall();
    walkFrame();
    writeLines(true);
}

void FLIshow(uint32_t* dest) {
    for (uint32_t i = 0; i < SLOT_WORDS; i++) dest[i] = rgb[vga_screen[i]];  // hot loop: one look-up a pixel
}

void MainFLI() {
    startWalkCall();
    do {
        walkFrame();
        if (nframe >= 1 && nframe < SLOTS) FLIshow(frames + static_cast<size_t>(nframe) * SLOT_WORDS);
    } while (nframe <= ANIM_FRAMES - 1);
    writeLines(true);
}

// So that a load does not depend on an earlier one.
void FLIwalkReset() {
    flii = nextflii = nextchunk = nframe = 0;
    yline = 0;
    FRMhdr = {};
    CHKhdr = {};
    memset(vga_screen, 0, sizeof vga_screen);
    memset(rgb, 0, sizeof rgb);
}

// The volume is 196 MB that loading touches for the first time: one page
// fault for each of its 48,000 pages took two thirds of the load's time.
// Where the kernel can fill the page tables in one call, the volume's pages
// are made ready before the first touch; it is only a request. (Large pages
// were faster still on an idle machine but, in a virtual machine that hands
// free memory back to its host, up to four times slower than small ones.)
static void prepareVolumePages() {
#ifdef MADV_POPULATE_WRITE
    constexpr uintptr_t PAGE = 4096;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(frames) + PAGE - 1) & ~(PAGE - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(frames + VOLUME_WORDS) & ~(PAGE - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#endif
}

void FLImainLoad() {
    prepareVolumePages();
    FLIload(FLI_FILE);
    FLIwalkReset();
    MainFLI();
}
