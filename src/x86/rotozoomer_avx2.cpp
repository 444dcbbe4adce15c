// The rotozoomer on x86-64 processors with AVX2: the picture of
// rotozoomerReference, word for word, eight pixels at a time. Built only for
// x86-64; the processor is asked at run time.
#include "x86/x86.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <immintrin.h>
#include <sys/mman.h>

// A filtered pixel reads a window of 2 x 2 texels in three planes: twelve
// bytes. The two window tables hold each window's twelve bytes in one run, so
// a pixel costs one 16-byte load. An entry is six bytes, the blue, red and
// green pair of two neighbouring texels, and the window at a texel is its own
// entry followed by the next one on the line. The first entry of each line
// comes again at its end, so windows wrap without a test.
constexpr int PAIR_BYTES = 6;                          // blue, red, green: each a pair of texels
constexpr int LINE_ENTRIES = TEX_SIDE + 1;             // entry 256 repeats entry 0
constexpr int LINE_BYTES = LINE_ENTRIES * PAIR_BYTES;  // 1542
constexpr int WINDOW_LOAD = 16;                        // a window is read as 16 bytes, 12 of them used
constexpr int WINDOW_TABLE_BYTES = TEX_SIDE * LINE_BYTES + WINDOW_LOAD;
static_assert((TEX_SIDE - 1) * (LINE_BYTES + PAIR_BYTES) + WINDOW_LOAD <= WINDOW_TABLE_BYTES,
              "the load of the last window stays inside its table");
static_assert(FIX_SHIFT == 16, "the offsets take the texel bytes from the high 16-bit word of u and v");

// Line ty of the row table holds, for tx = 0..256, the vertical pairs (tx, ty),
// (tx, ty + 1); line tx of the column table holds, for ty = 0..256, the
// horizontal pairs (tx, ty), (tx + 1, ty). A screen row that walks mostly
// along texture rows reads the first, one that walks mostly down texture
// columns the second: either way neighbouring pixels share cache lines.
// Built from the planes when they differ from the copy last built from.
//
// Both tables live in one zeroed block on a 2 MiB boundary, offered to the
// kernel as one large page: a row of a turned picture reads windows from all
// over its table, and on small pages those reads keep missing the processor's
// cache of address translations. Made on first use and kept to the end of the
// process, like static storage; null if it cannot be had.
constexpr size_t LARGE_PAGE = size_t{1} << 21;
constexpr size_t COLUMN_TABLE_AT = (WINDOW_TABLE_BYTES + 63) / 64 * 64;
static_assert(COLUMN_TABLE_AT + WINDOW_TABLE_BYTES <= LARGE_PAGE, "both tables fit in one large page");

static uint8_t* windowTables() {
    static uint8_t* const block = [] {
        auto* b = static_cast<uint8_t*>(std::aligned_alloc(LARGE_PAGE, LARGE_PAGE));
        if (!b) return b;
#ifdef MADV_HUGEPAGE
        madvise(b, LARGE_PAGE, MADV_HUGEPAGE);  // only advice: small pages work the same, more slowly
#endif
        memset(b, 0, LARGE_PAGE);  // zero tables match the zero planes below until a texture is loaded
        return b;
    }();
    return block;
}
static uint8_t windowsFrom[3][TEX_TEXELS];

// The six bytes of an entry: blue, red and green of texel i, each followed by
// the same plane's texel j.
static inline void putPair(uint8_t* entry, int i, int j) {
    entry[0] = bbmp[i], entry[1] = bbmp[j];
    entry[2] = rbmp[i], entry[3] = rbmp[j];
    entry[4] = gbmp[i], entry[5] = gbmp[j];
}

// Rebuilds both window tables when the texture planes have changed.
static void updateWindowTables(uint8_t* rowWindows, uint8_t* columnWindows) {
    if (!memcmp(windowsFrom[0], rbmp, TEX_TEXELS) && !memcmp(windowsFrom[1], gbmp, TEX_TEXELS) &&
        !memcmp(windowsFrom[2], bbmp, TEX_TEXELS))
        return;
    memcpy(windowsFrom[0], rbmp, TEX_TEXELS);
    memcpy(windowsFrom[1], gbmp, TEX_TEXELS);
    memcpy(windowsFrom[2], bbmp, TEX_TEXELS);
    for (int line = 0; line < TEX_SIDE; line++) {
        const int next = (line + 1) % TEX_SIDE;
        for (int e = 0; e < LINE_ENTRIES; e++) {
            const int along = e % TEX_SIDE, at = line * LINE_BYTES + e * PAIR_BYTES;
            putPair(rowWindows + at, line * TEX_SIDE + along, next * TEX_SIDE + along);
            putPair(columnWindows + at, along * TEX_SIDE + line, along * TEX_SIDE + next);
        }
    }
}

// How a table is read: the window at texel (tx, ty) starts at byte
// tx * (low word of offsetWeights) + ty * (high word), and toPairs reorders
// its bytes, in each 128-bit lane, into left/right pairs:
// [blue, red of the upper row | blue, red of the lower row | green upper, green lower | zero].
struct WindowTable {
    const uint8_t* bytes;
    __m256i offsetWeights;
    __m256i toPairs;
};

// Rows that step further across the texture than down it read the row table.
__attribute__((target("avx2"))) static WindowTable windowTableFor(RotoSteps s, const uint8_t* rowWindows,
                                                                  const uint8_t* columnWindows) {
    // A row table window: the blue, red, green pairs (tx, ty) over (tx, ty + 1), then those of tx + 1.
    if (std::llabs(s.stepA) >= std::llabs(s.stepB))
        return {rowWindows, _mm256_set1_epi32(LINE_BYTES << 16 | PAIR_BYTES),
                _mm256_setr_epi8(0, 6, 2, 8, 1, 7, 3, 9, 4, 10, 5, 11, -1, -1, -1, -1,  //
                                 0, 6, 2, 8, 1, 7, 3, 9, 4, 10, 5, 11, -1, -1, -1, -1)};
    // A column table window: the blue, red, green pairs (tx, ty) beside (tx + 1, ty), then those of ty + 1.
    return {columnWindows, _mm256_set1_epi32(PAIR_BYTES << 16 | LINE_BYTES),
            _mm256_setr_epi8(0, 1, 2, 3, 6, 7, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1,  //
                             0, 1, 2, 3, 6, 7, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1)};
}

// The 16.16 coordinates of eight neighbouring pixels of a row, and their
// step to the next eight.
struct EightPixels {
    __m256i u, v, stepU, stepV;
};

// The eight pixels from column 0 of a row whose start (one step left of
// column 0) is (u, v).
__attribute__((target("avx2"))) static inline EightPixels firstEight(uint32_t u, uint32_t v, RotoSteps s) {
    const __m256i lanes = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8);
    const __m256i a = _mm256_set1_epi32(s.stepA), b = _mm256_set1_epi32(s.stepB);
    return {_mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(u)), _mm256_mullo_epi32(lanes, a)),
            _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(v)), _mm256_mullo_epi32(lanes, b)),
            _mm256_slli_epi32(a, 3), _mm256_slli_epi32(b, 3)};
}

__attribute__((target("avx2"))) static inline void nextEight(EightPixels& p) {
    p.u = _mm256_add_epi32(p.u, p.stepU);
    p.v = _mm256_add_epi32(p.v, p.stepV);
}

// First pass over a row: the byte offsets of the windows of `groups` groups
// of eight pixels, kept apart from the filtering so that the window loads
// need no moves from vector to general registers.
__attribute__((target("avx2"))) static void windowOffsets(uint32_t* at, int groups, EightPixels p, __m256i weights) {
    const __m256i texelBytes = _mm256_set1_epi32(0x00FF00FF);
    for (int g = 0; g < groups; g++, nextEight(p)) {
        // tx in the low 16-bit word of each lane, ty in the high one.
        const __m256i txty = _mm256_and_si256(_mm256_blend_epi16(_mm256_srli_epi32(p.u, FIX_SHIFT), p.v, 0xAA), texelBytes);
        _mm256_store_si256(reinterpret_cast<__m256i*>(at + 8 * g), _mm256_madd_epi16(txty, weights));
    }
}

// The windows of pixels k and k + 4 of a group in the low and the high lane,
// reordered into pairs. Two broadcast loads and a blend: the loads need no
// shuffle unit, which the rest of the filter keeps busy.
__attribute__((target("avx2"))) static inline __m256i windowPairs(const uint8_t* bytes, __m256i toPairs, const uint32_t* at,
                                                                 int k) {
    const __m256i low = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at[k])));
    const __m256i high = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at[k + 4])));
    return _mm256_shuffle_epi8(_mm256_blend_epi32(low, high, 0xF0), toPairs);
}

// The pairs of eight pixels, one vector per kind, pixel k in 32-bit lane k.
struct EightWindows {
    __m256i upper, lower, green;  // [blue, red] pairs of the upper and the lower row; [green upper, green lower]
};

// A 4 x 4 transpose of the 32-bit lanes of the pixel pairs (0, 4) .. (3, 7).
__attribute__((target("avx2"))) static inline EightWindows byKind(__m256i w0, __m256i w1, __m256i w2, __m256i w3) {
    const __m256i t0 = _mm256_unpacklo_epi32(w0, w1), t1 = _mm256_unpacklo_epi32(w2, w3);
    const __m256i t2 = _mm256_unpackhi_epi32(w0, w1), t3 = _mm256_unpackhi_epi32(w2, w3);
    return {_mm256_unpacklo_epi64(t0, t1), _mm256_unpackhi_epi64(t0, t1), _mm256_unpacklo_epi64(t2, t3)};
}

// Each left/right byte pair filtered across into a 16-bit lane:
// left + floor((right - left) * fx / 65536). maddubs forms right - left and,
// weighted by `pick`, the texel the sum starts from. mulhi reads an fx of
// 32768 or more as fx - 65536, which takes (right - left) off the product;
// `pick` starts those sums from the right texel, which gives it back exactly.
__attribute__((target("avx2"))) static inline __m256i across(__m256i pairs, __m256i fx, __m256i pick) {
    const __m256i rightMinusLeft = _mm256_set1_epi16(0x01FF);  // byte weights -1, +1
    return _mm256_add_epi16(_mm256_maddubs_epi16(pairs, pick),
                            _mm256_mulhi_epi16(_mm256_maddubs_epi16(pairs, rightMinusLeft), fx));
}

// top + floor((bottom - top) * fy / 65536) per 16-bit lane, with the same
// correction: fyHigh (all ones where fy >= 32768) starts the sum from bottom.
__attribute__((target("avx2"))) static inline __m256i down(__m256i top, __m256i bottom, __m256i fy, __m256i fyHigh) {
    return _mm256_add_epi16(_mm256_blendv_epi8(top, bottom, fyHigh),
                            _mm256_mulhi_epi16(_mm256_sub_epi16(bottom, top), fy));
}

// The windows of the group of eight pixels whose offsets start at `at`, by kind.
__attribute__((target("avx2"))) static inline EightWindows groupWindows(const uint8_t* bytes, __m256i toPairs,
                                                                       const uint32_t* at) {
    return byKind(windowPairs(bytes, toPairs, at, 0), windowPairs(bytes, toPairs, at, 1),
                  windowPairs(bytes, toPairs, at, 2), windowPairs(bytes, toPairs, at, 3));
}

// Second pass: eight pixels at a time from their windows, eight words written.
// The windows of the next group are loaded while this one is filtered, so the
// loads are under way long before their bytes are needed; `at` holds one group
// of valid offsets past the last, for the load after the last group. The
// fractions, each in both 16-bit words of its lane, move on by 16-bit adds,
// which wrap exactly as the low 16 bits of u and v do.
__attribute__((target("avx2"))) static void filterWindows(uint32_t* out, const uint32_t* at, int groups, EightPixels p,
                                                          const WindowTable& t) {
    // A lane's fraction (its low 16-bit word) in both of its words.
    const __m256i fractionTwice = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13,  //
                                                   0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    const __m256i zero = _mm256_setzero_si256();
    // Byte 0 of each lane, green's filtered value, to byte 1 of the pixel; the rest zero.
    const __m256i greenByte = _mm256_setr_epi8(-1, 0, -1, -1, -1, 4, -1, -1, -1, 8, -1, -1, -1, 12, -1, -1,  //
                                               -1, 0, -1, -1, -1, 4, -1, -1, -1, 8, -1, -1, -1, 12, -1, -1);
    const __m256i pickRightExtra = _mm256_set1_epi16(0x00FF), pickLeft = _mm256_set1_epi16(0x0001);
    const uint8_t* const bytes = t.bytes;  // in registers, not reloaded after each store
    const __m256i toPairs = t.toPairs;
    __m256i fx = _mm256_shuffle_epi8(p.u, fractionTwice), fy = _mm256_shuffle_epi8(p.v, fractionTwice);
    const __m256i fxStep = _mm256_shuffle_epi8(p.stepU, fractionTwice), fyStep = _mm256_shuffle_epi8(p.stepV, fractionTwice);
    EightWindows w = groupWindows(bytes, toPairs, at);
    for (int g = 0; g < groups; g++) {  // hot loop: eight pixels from their windows
        const EightWindows next = groupWindows(bytes, toPairs, at + 8 * (g + 1));
        const __m256i fyHigh = _mm256_cmpgt_epi16(zero, fy);
        // Byte weights (1, 0) keep the left texel, (0, 1) where fx >= 32768 the right one.
        const __m256i pick = _mm256_add_epi16(_mm256_and_si256(_mm256_cmpgt_epi16(zero, fx), pickRightExtra), pickLeft);
        const __m256i upper = across(w.upper, fx, pick), lower = across(w.lower, fx, pick);
        const __m256i green = across(w.green, fx, pick);
        const __m256i blueRed = down(upper, lower, fy, fyHigh);  // blue in the low word, red in the high word
        // Green filtered down from its upper-row word to its lower-row word shifted beneath it;
        // the high words come out meaningless and greenByte drops them.
        const __m256i greenLow = down(green, _mm256_srli_epi32(green, 16), fy, fyHigh);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * g), _mm256_or_si256(blueRed, _mm256_shuffle_epi8(greenLow, greenByte)));
        w = next;
        fx = _mm256_add_epi16(fx, fxStep);
        fy = _mm256_add_epi16(fy, fyStep);
    }
}

// rotozoomRowReference eight pixels at a time; the last columns of a row
// narrower than a multiple of eight go one by one.
__attribute__((target("avx2"))) static void rotozoomRowAvx2(uint32_t* out, int cols, uint32_t u, uint32_t v, RotoSteps s,
                                                            const WindowTable& t) {
    alignas(32) uint32_t at[SCREEN_W + 8];
    const int groups = cols / 8;
    const EightPixels p = firstEight(u, v, s);
    windowOffsets(at, groups, p, t.offsetWeights);
    memset(at + 8 * groups, 0, 8 * sizeof(uint32_t));  // the look-ahead past the last group reads window 0
    filterWindows(out, at, groups, p, t);
    rotozoomRowReference(out, 8 * groups, cols, u, v, s);
}

// A screen row of a turned view crosses hundreds of texture lines; the next
// row reads next to the same places, but by the time it gets there the first
// of them have left the first-level cache. Such views are drawn in strips of
// STRIP_COLUMNS columns, each from the top row to the bottom, so that a strip
// row's lines are still there for the row below. Rows that cross at most
// STRIP_LINES texture lines keep theirs anyway (and an upright row walking a
// line several times over reads it again while it is cached), and views that
// step more than STRIP_STEP texels a pixel need new lines at almost every
// pixel whatever the order: those are drawn full width.
constexpr int STRIP_COLUMNS = 320;
constexpr int64_t STRIP_LINES = 32;
constexpr int64_t STRIP_STEP = 2;

static int stripColumns(RotoSteps s, int cols) {
    const int64_t a = std::llabs(s.stepA), b = std::llabs(s.stepB);  // 16.16 texels a pixel
    const bool crossesMany = std::min(a, b) * cols > (STRIP_LINES << FIX_SHIFT);
    const bool shortSteps = std::max(a, b) <= (STRIP_STEP << FIX_SHIFT);
    return crossesMany && shortSteps ? STRIP_COLUMNS : cols;
}

// The picture of rotozoomerReference, strip by strip through the window tables.
__attribute__((target("avx2"))) static void drawStrips(SDL_Surface* surface, RotoSteps s, const uint8_t* rowWindows,
                                                       const uint8_t* columnWindows) {
    const WindowTable t = windowTableFor(s, rowWindows, columnWindows);
    const int rows = drawnRows(surface), cols = drawnColumns(surface), strip = stripColumns(s, cols);
    for (int x0 = 0; x0 < cols; x0 += strip) {
        const int width = std::min(strip, cols - x0);
        // One step left of column x0, one row above row 0.
        uint32_t rowU = static_cast<uint32_t>(s.stepA) * static_cast<uint32_t>(x0);
        uint32_t rowV = static_cast<uint32_t>(s.stepB) * static_cast<uint32_t>(x0);
        for (int y = 0; y < rows; y++) {
            rowU -= static_cast<uint32_t>(s.stepB);
            rowV += static_cast<uint32_t>(s.stepA);
            rotozoomRowAvx2(surfaceRow(surface, y) + x0, width, rowU, rowV, s, t);
        }
    }
    vram = pastLastPixel(surface, rows, cols);
}

bool rotozoomerAvx2(SDL_Surface* surface, RotoSteps s) {
    uint8_t* const tables = __builtin_cpu_supports("avx2") ? windowTables() : nullptr;
    if (!tables) return false;
    uint8_t* const rowWindows = tables;
    uint8_t* const columnWindows = tables + COLUMN_TABLE_AT;
    updateWindowTables(rowWindows, columnWindows);
    drawStrips(surface, s, rowWindows, columnWindows);
    return true;
}
