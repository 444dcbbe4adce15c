// Plasma: the demo shell and frame loop, the effects, the soundtrack, font
// and texture loading, and text.
#include "Plasma.h"

#include <SDL/SDL_mixer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Extended.h"
#include "FLIplay.h"
#include "Output.h"
#ifdef VELMORANTE_AVX2
#include "x86/x86.h"
#endif

// ---- Demo shell -----------------------------------------------------------------
SDL_Surface* screen;
int32_t kk;
uint8_t exw;
uint32_t atime;
int32_t fps;
int32_t mo;
uint32_t* vram;
int (*lockSurface)(SDL_Surface*) = SDL_LockSurface;

constexpr uint32_t REPORT_MS = 999;  // a report once the ticks exceed the last one by more than this

// Wrap-around 32-bit arithmetic: the sums and products of the effects are 32-bit
// and wrap like the machine's registers, without undefined behaviour.
static inline int32_t add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
static inline int32_t mul32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Once a second: the frames begun since the last report, a line that is
// dropped when standard output cannot take it at once.
static void reportFrameRate() {
    if (SDL_GetTicks() - atime > REPORT_MS) {
        atime = SDL_GetTicks();
        mo = add32(kk, -fps);
        fps = kk;
        putLine(mo);
        writeLines();
    }
}

void KeyCommands() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if ((event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) || event.type == SDL_QUIT) exw = 1;
    }
}

void Demo() {
    while (!exw) {
        kk = add32(kk, 1);  // counts on past 2^31 - 1 by wrapping
        const bool lock = SDL_MUSTLOCK(screen);
        if (lock && lockSurface(screen) < 0) return;
        reportFrameRate();
        Script(kk);
        if (lock) SDL_UnlockSurface(screen);
        SDL_Flip(screen);
        KeyCommands();
    }
}

void Init() {
    FontLoad(FONT_FILE);
    BMPload(TEXTURE_FILE);
    FLImainLoad();
}

// ---- Sound ------------------------------------------------------------------
Mix_Chunk* noise;

// The mixer plays these bytes in place from its own thread until the device is
// closed at shutdown; they are complete before they are handed over and never
// written again.
static uint8_t noiseBytes[NOISE_BYTES];

constexpr uint32_t SWEEP_PERIOD = 0x80000;  // 4i wraps here: eight periods of 131,072 bytes
constexpr int32_t SWEEP_STEP = 10000;       // of 4i: a step is 2,500 bytes, 53 steps a period
constexpr uint32_t MOD_PERIOD = 0x40000;    // 2i wraps here: the same periods
constexpr int32_t MOD_STEP = 512;           // of 2i: a step is 256 bytes
constexpr int MOD_STEPS = MOD_PERIOD / MOD_STEP;  // 512 steps a period
constexpr int MIX_FIRST_FREE = -1;          // Mix_PlayChannelTimed: the first free channel,
constexpr int MIX_LOOP_FOREVER = -1;        // repeating without end,
constexpr int MIX_NO_TIME_LIMIT = -1;       // for no set time

// A quotient formed in extended precision and rounded to double for a sine. A
// zero divisor has no finite quotient (0/0 or n/0): NaN stands for both without
// dividing by zero, since the sine of an infinity is NaN as well.
static double quotient(double n, double d) { return d != 0 ? quotientToDouble(n, d) : NAN; }

// The product of a sine and a factor, in extended precision, truncated toward
// zero to 16 bits. A value that is not finite, or whose truncation lies outside
// -32,768..32,767, gives -32,768 (0x8000: low byte 0, even).
static int16_t sineToInt16(double sine, double factor) {
    if (!std::isfinite(sine)) return INT16_MIN;
    const int64_t t = truncatedProduct(sine, factor);
    return t < INT16_MIN || t > INT16_MAX ? INT16_MIN : static_cast<int16_t>(t);
}

void noiseSweep(uint8_t* buffer) {
    for (uint32_t i = 0; i < NOISE_BYTES; i++) {
        const int32_t q = static_cast<int32_t>(4 * i % SWEEP_PERIOD) / SWEEP_STEP;  // 0..52
        const double x = quotient(4.0 * i, 8.0 * q);  // i / 2q; none where q = 0
        buffer[i] = static_cast<uint8_t>(sineToInt16(sin(x), 128));  // low byte, two's complement
    }
}

void noiseModulate(uint8_t* buffer, int amplitude) {
    // With a scale of 0 every v is 0 or -32,768, even whatever the step's
    // quotient would be: nothing changes, and nothing is divided by 0.
    if (amplitude == 0) return;
    double stepSine[MOD_STEPS];  // sin(q2) of each 256-byte step, worked out once
    for (int r = 0; r < MOD_STEPS; r++) stepSine[r] = sin(static_cast<double>(r / amplitude));
    for (uint32_t i = 0; i < NOISE_BYTES; i++) {
        const int32_t r = static_cast<int32_t>(2 * i % MOD_PERIOD) / MOD_STEP;
        const double y = quotient(2.0 * i, 32.0 * stepSine[r]);  // none where q2 = 0
        const int16_t v = sineToInt16(sin(y), amplitude);
        if (v & 1) buffer[i] += 128;  // flips the top bit
    }
}

void noiseAddRand(uint8_t* buffer) {
    for (uint32_t i = 0; i < NOISE_BYTES; i++) buffer[i] += demoRand() % NOISE_RAND_MOD;  // never negative: adds 0..41
}

void noiseBuild(uint8_t* buffer, int amplitude) {
    noiseSweep(buffer);
    noiseModulate(buffer, amplitude);
    noiseAddRand(buffer);
}

void initNoise(int amplitude, int) {
    noiseBuild(noiseBytes, amplitude);
    // Without an open device the mixer makes no chunk; the demo then runs silent.
    noise = Mix_QuickLoad_RAW(noiseBytes, NOISE_BYTES);
    if (noise) Mix_PlayChannelTimed(MIX_FIRST_FREE, noise, MIX_LOOP_FOREVER, MIX_NO_TIME_LIMIT);
}

// ---- Tiled volume effect and volume scroller ---------------------------------
constexpr int TILE_W = FLI_W;  // a tile is one picture of the volume, unscaled
constexpr int TILE_H = FLI_H;

TileParams ScriptParams(int32_t n) {
    const double nd = n;
    TileParams p;
    // The products and sums of the sines run in extended precision.
    p.scrollX = static_cast<int32_t>(truncated(abs(Extended(sin(nd * 0.00390625)) * 3.0 * 256.0)));
    p.scrollY = static_cast<int32_t>(truncated(abs(Extended(2.0) * sin(nd / 144) * 333.0)));
    p.slotBase = n >> 4;
    p.slotStep = static_cast<int32_t>(truncated(Extended(128.0) + abs(Extended(32.0) * sin(nd * 0.0078125))));

    const double partial = toDouble(Extended(64.0) * sin(nd * 0.015625) + Extended(32.0) * sin(nd / 48));
    const int32_t square = mul32(n, n);  // wraps from n = 46,341 on
    const Extended w = Extended(partial) + Extended(32.0) * sin(square * 0.0625) - 64.0;
    p.jitter = !w.negative ? static_cast<int32_t>(truncated(w)) : 0;
    return p;
}

// Sideways displacement of a screen row whose sin(i * i) is `rowSine`:
// trunc(sin(i * i) * jitter), the product in extended precision.
static inline int64_t rowShiftOf(double rowSine, int jitter) { return truncatedProduct(rowSine, jitter); }

static inline int32_t slotOf(int32_t slotBase, int32_t slotStep, int32_t tileColumn, int32_t tileRow) {
    const int32_t cells = add32(mul32(mul32(tileColumn, tileColumn), tileColumn), mul32(tileRow, tileRow));
    return add32(slotBase, mul32(slotStep, cells)) % static_cast<int32_t>(SLOTS);
}

// A flat index of any value, wrapped into the volume (slots already wrap modulo
// 768; reads displaced past either end of the volume come round the same way).
static inline uint32_t wrapIndex(int64_t index) {
    int64_t w = index % VOLUME_WORDS;
    return static_cast<uint32_t>(w < 0 ? w + VOLUME_WORDS : w);
}

// n consecutive words of the volume from flat index `start`, wrapped at the
// volume's ends (a run is at most one row long, so it wraps at most once).
static inline void copyVolumeRun(uint32_t* dst, int64_t start, uint32_t n) {
    if (start >= 0 && start + n <= VOLUME_WORDS) {
        memcpy(dst, frames + start, n * sizeof *dst);
        return;
    }
    const uint32_t from = wrapIndex(start);
    const uint32_t first = n < VOLUME_WORDS - from ? n : VOLUME_WORDS - from;
    memcpy(dst, frames + from, first * sizeof *dst);
    memcpy(dst + first, frames, (n - first) * sizeof *dst);
}

void FLIframesReference(SDL_Surface* surface, int scrollX, int scrollY, int slotBase, int slotStep,
                        int tileRateX, int pictureShiftY, int tileShiftX, int jitter) {
    const int rows = drawnRows(surface), cols = drawnColumns(surface);
    for (int i = 0; i < rows; i++) {
        uint32_t* out = surfaceRow(surface, i);
        const int64_t rowShift = rowShiftOf(sin(static_cast<double>(i * i)), jitter);
        const int32_t tileRow = add32(i, scrollY) / TILE_H;
        const int32_t pictureRow = add32(add32(i, scrollY), pictureShiftY) % TILE_H;
        for (int j = 0; j < cols; j++) {
            const int32_t pictureColumn = add32(add32(scrollX, tileRateX), j) % TILE_W;
            const int32_t tileColumn = add32(add32(mul32(scrollX, add32(tileRateX, 1)), tileShiftX), j) / TILE_W;
            const int32_t slot = slotOf(slotBase, slotStep, tileColumn, tileRow);
            const int64_t index = static_cast<int64_t>(slot) * SLOT_WORDS + static_cast<int64_t>(pictureRow) * FLI_W +
                                  pictureColumn + rowShift;
            out[j] = frames[wrapIndex(index)];
        }
    }
}

// A stretch of screen columns over which the reads of a row are consecutive:
// it ends where the picture column restarts or the tile column changes. The
// stretches are the same on every row.
struct ColumnRun {
    int32_t first;          // first screen column
    int32_t length;         // columns
    int32_t pictureColumn;  // picture column at the first screen column
    int32_t tileColumn;
};

// A run starts at column 0, at each restart of the picture column and at each
// change of the tile column: at most 1 + 2 * (1280 / 320).
constexpr int MAX_RUNS = 1 + 2 * (SCREEN_W / TILE_W);

static int columnRuns(ColumnRun* runs, int cols, int32_t pictureColumn0, int32_t tileColumn0) {
    int count = 0;
    for (int32_t j = 0; j < cols;) {
        const int32_t xp = pictureColumn0 + j, xt = tileColumn0 + j;
        int32_t length = TILE_W - xp % TILE_W;
        if (TILE_W - xt % TILE_W < length) length = TILE_W - xt % TILE_W;
        if (cols - j < length) length = cols - j;
        runs[count++] = {j, length, xp % TILE_W, xt / TILE_W};
        j += length;
    }
    return count;
}

void FLIframes(SDL_Surface* surface, int scrollX, int scrollY, int slotBase, int slotStep, int tileRateX,
               int pictureShiftY, int tileShiftX, int jitter) {
    const int rows = drawnRows(surface), cols = drawnColumns(surface);
    const int32_t pictureColumn0 = add32(scrollX, tileRateX);
    const int32_t tileColumn0 = add32(mul32(scrollX, add32(tileRateX, 1)), tileShiftX);
    const int32_t lastStart = INT32_MAX - SCREEN_W;
    if (pictureColumn0 < 0 || tileColumn0 < 0 || pictureColumn0 > lastStart || tileColumn0 > lastStart) {
        // Negative or wrapping columns lie outside the caller's contract.
        FLIframesReference(surface, scrollX, scrollY, slotBase, slotStep, tileRateX, pictureShiftY, tileShiftX,
                           jitter);
        return;
    }
    // sin(i * i) of every screen row, the same on every frame: worked out once.
    static const std::array<double, SCREEN_H> rowSines = [] {
        std::array<double, SCREEN_H> table;
        for (int i = 0; i < SCREEN_H; i++) table[i] = sin(static_cast<double>(i * i));
        return table;
    }();
    ColumnRun runs[MAX_RUNS];
    const int runCount = columnRuns(runs, cols, pictureColumn0, tileColumn0);
    int64_t runStart[MAX_RUNS];  // volume index of each run on picture row 0 of the current tile row
    int32_t tileRow = 0;
    for (int i = 0; i < rows; i++) {
        const int32_t y = add32(i, scrollY);
        if (i == 0 || y / TILE_H != tileRow) {
            tileRow = y / TILE_H;
            for (int r = 0; r < runCount; r++)
                runStart[r] = static_cast<int64_t>(slotOf(slotBase, slotStep, runs[r].tileColumn, tileRow)) *
                                  SLOT_WORDS + runs[r].pictureColumn;
        }
        const int64_t rowShift = jitter ? rowShiftOf(rowSines[i], jitter) : 0;
        const int64_t base = static_cast<int64_t>(add32(y, pictureShiftY) % TILE_H) * FLI_W + rowShift;
        uint32_t* out = surfaceRow(surface, i);
        for (int r = 0; r < runCount; r++)  // hot loop: a handful of copies a row
            copyVolumeRun(out + runs[r].first, runStart[r] + base, runs[r].length);
    }
}

SDL_Surface* newPicture() {
    return SDL_CreateRGBSurface(SDL_SWSURFACE, SCREEN_W, SCREEN_H, SCREEN_BPP, RED_MASK, GREEN_MASK, BLUE_MASK, 0);
}

void Script(int32_t n) {
    const TileParams p = ScriptParams(n);
    FLIframes(screen, p.scrollX, p.scrollY, p.slotBase, p.slotStep, 0, 0, 0, p.jitter);
}

// ---- Font and texture -------------------------------------------------------
uint8_t cc[CHAR_CODES];
uint8_t fonts[FONT_BYTES];
uint8_t rbmp[TEX_TEXELS];
uint8_t gbmp[TEX_TEXELS];
uint8_t bbmp[TEX_TEXELS];

// The next byte of the file; at its end fgetc gives EOF (-1), which cut to 8
// bits is 255.
static inline uint8_t nextByte(FILE* f) { return static_cast<uint8_t>(fgetc(f)); }

void FontLoad(const char* path) {
    FILE* f = openAsset("font", path, "text stays blank");
    if (!f) {
        memset(cc, 0, sizeof cc);
        memset(fonts, 0, sizeof fonts);
        return;
    }
    for (uint8_t& entry : cc) entry = nextByte(f);
    for (uint8_t& texel : fonts) texel = nextByte(f);
    fclose(f);
}

void BMPload(const char* path) {
    FILE* f = openAsset("texture", path, "the texture stays black");
    if (!f) {
        memset(rbmp, 0, sizeof rbmp);
        memset(gbmp, 0, sizeof gbmp);
        memset(bbmp, 0, sizeof bbmp);
        return;
    }
    for (int i = 0; i < BMP_SIGNATURE_BYTES; i++) nextByte(f);
    fseek(f, BMP_PIXELS_AT, SEEK_SET);
    // Rows are stored bottom-up, each pixel as blue, green, red.
    for (int row = TEX_SIDE - 1; row >= 0; row--) {
        for (int col = 0; col < TEX_SIDE; col++) {
            const int at = row * TEX_SIDE + col;
            bbmp[at] = nextByte(f);
            gbmp[at] = nextByte(f);
            rbmp[at] = nextByte(f);
        }
    }
    fclose(f);
}

// ---- Text -------------------------------------------------------------------
constexpr int COVERAGE_STEP = 16;  // level t lays white over the pixel with weight 16t / 255

// A pixel `words` words from `base`, as an address: the cursor may be left
// outside the surface by text that leaves it, and is never read through.
static inline uint32_t* wordAt(void* base, int64_t words) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<uintptr_t>(base) +
                                       static_cast<uintptr_t>(words) * sizeof(uint32_t));
}

// C + floor(16t (255 - C) / 255): the integer form of f + (1 - f/255) C, f = 16t.
static inline Uint8 liftChannel(uint32_t c, int t) {
    return static_cast<Uint8>(c + COVERAGE_STEP * t * (255 - c) / 255);
}

// White laid over the 0x00RRGGBB word `old` at coverage t (1..15), in the
// surface's own pixel format.
static inline uint32_t blendWhite(uint32_t old, int t, const SDL_PixelFormat* format) {
    return SDL_MapRGB(format, liftChannel(old >> 16 & 0xFF, t), liftChannel(old >> 8 & 0xFF, t),
                      liftChannel(old & 0xFF, t));
}

// Glyph g blended into the cell whose top-left pixel is (left, top); texels
// that fall outside the surface are skipped. Levels above 15 draw as 15.
static void drawCell(int g, int64_t left, int64_t top) {
    const uint8_t* glyph = fonts + g * GLYPH_BYTES;
    for (int row = 0; row < GLYPH_SIDE; row++) {
        const int64_t py = top + row;
        if (py < 0 || py >= screen->h) continue;
        uint32_t* line = surfaceRow(screen, static_cast<int>(py));
        for (int col = 0; col < GLYPH_SIDE; col++) {
            const int64_t px = left + col;
            const int t = glyph[row * GLYPH_SIDE + col];
            if (t == 0 || px < 0 || px >= screen->w) continue;  // 0 is transparent: all 32 bits stay
            line[px] = blendWhite(line[px], t < COVERAGE_MAX ? t : COVERAGE_MAX, screen->format);
        }
    }
}

void Print(int x, int y, const char* str, int len) {
    const int64_t start = x + static_cast<int64_t>(y) * screen->pitch / 4;  // words from the first pixel
    const int64_t cells = len > 0 ? len : 0;
    // Cells wholly left of the surface are skipped unread, and the run stops
    // at the first cell right of it.
    int64_t n = x <= -GLYPH_SIDE ? (-static_cast<int64_t>(x) - GLYPH_SIDE) / GLYPH_SIDE + 1 : 0;
    for (; n < cells && x + GLYPH_SIDE * n < screen->w; n++) {
        const int g = cc[static_cast<uint8_t>(str[n])];
        if (g < GLYPHS) drawCell(g, x + GLYPH_SIDE * n, y);  // a map entry past the store is a blank cell
    }
    vram = wordAt(screen->pixels, start + GLYPH_SIDE * cells);
}

constexpr int FIRST_DIGIT_WEIGHT = 10000;  // 10^4: the first of five digits

void Int2Str(int value, char* out) {
    int v = value < 0 ? 0 : value > NUMBER_MAX ? NUMBER_MAX : value;
    int power = FIRST_DIGIT_WEIGHT;
    for (int k = 0; k < NUMBER_DIGITS - 1; k++, power /= 10) {
        const int d = v / power;
        out[k] = static_cast<char>('0' + d);
        v -= d * power;
    }
    out[NUMBER_DIGITS - 1] = static_cast<char>('0' + v);
}

// ---- Plasma and rotozoomer --------------------------------------------------
// Row y of the ramp is words y & 255 onward of one long ramp: each row is a
// copy, and the ramp stays in the first-level cache.
constexpr int RAMP_WORDS = 256 + SCREEN_W;

void plasma(SDL_Surface* surface) {
    static const std::array<uint32_t, RAMP_WORDS> ramp = [] {
        std::array<uint32_t, RAMP_WORDS> r;
        for (int i = 0; i < RAMP_WORDS; i++) r[i] = static_cast<uint32_t>(i & 0xFF) * GREY;
        return r;
    }();
    const int rows = drawnRows(surface), cols = drawnColumns(surface);
    for (int y = 0; y < rows; y++) memcpy(surfaceRow(surface, y), ramp.data() + (y & 0xFF), cols * sizeof(uint32_t));
    vram = pastLastPixel(surface, rows, cols);
}

// trunc(p) as a 32-bit step: out-of-range products saturate, NaN gives 0.
static int32_t toStep(double p) {
    if (p != p) return 0;
    if (p >= INT32_MAX) return INT32_MAX;
    if (p <= INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(p);
}

// trunc(trig * zoom * 65536), the products in extended precision. Products
// of infinities or NaN need no rounding: double gives them as they are.
static int32_t stepOf(double trig, float zoom) {
    if (!std::isfinite(trig) || !std::isfinite(zoom)) return toStep(trig * zoom * FIX_ONE);
    const int64_t t = truncated(Extended(trig) * zoom * static_cast<double>(FIX_ONE));
    return t > INT32_MAX ? INT32_MAX : t < INT32_MIN ? INT32_MIN : static_cast<int32_t>(t);
}

RotoSteps rotozoomSteps(float angle, float zoom) {
    // theta = angle / 57.29716 in extended precision. The cosine sees it
    // rounded to double, the sine rounded to float: the angle's own
    // single-precision storage holds it.
    double c = NAN, s = NAN;  // an infinite or NaN angle has neither
    if (std::isfinite(angle)) {
        const Extended theta = Extended(angle) / Extended(DEGREES_PER_RADIAN);
        c = cos(toDouble(theta));
        s = sin(static_cast<double>(toFloat(theta)));
    }
    return {stepOf(c, zoom), stepOf(s, zoom)};
}

// One plane at 16.16 (u, v): across first on the upper and lower texel pairs,
// then down. The products are at most 255 * 65535 and the shifts arithmetic,
// so each step rounds toward minus infinity.
static inline uint32_t bilinear(const uint8_t* plane, int i00, int i01, int i10, int i11, int fx, int fy) {
    const int top = plane[i00] + (((plane[i01] - plane[i00]) * fx) >> FIX_SHIFT);
    const int bottom = plane[i10] + (((plane[i11] - plane[i10]) * fx) >> FIX_SHIFT);
    return static_cast<uint32_t>(top + (((bottom - top) * fy) >> FIX_SHIFT));
}

// The filtered texel at (u, v); u picks the column, v the row, both wrap.
static inline uint32_t sampleTexture(uint32_t u, uint32_t v) {
    const int tx0 = u >> FIX_SHIFT & 0xFF, tx1 = (tx0 + 1) & 0xFF;
    const int ty0 = v >> FIX_SHIFT & 0xFF, ty1 = (ty0 + 1) & 0xFF;
    const int fx = static_cast<int>(u & FIX_MASK), fy = static_cast<int>(v & FIX_MASK);
    const int i00 = ty0 * TEX_SIDE + tx0, i01 = ty0 * TEX_SIDE + tx1;
    const int i10 = ty1 * TEX_SIDE + tx0, i11 = ty1 * TEX_SIDE + tx1;
    return bilinear(rbmp, i00, i01, i10, i11, fx, fy) << 16 | bilinear(gbmp, i00, i01, i10, i11, fx, fy) << 8 |
           bilinear(bbmp, i00, i01, i10, i11, fx, fy);
}

void rotozoomRowReference(uint32_t* out, int first, int cols, uint32_t u, uint32_t v, RotoSteps s) {
    u += static_cast<uint32_t>(s.stepA) * static_cast<uint32_t>(first);
    v += static_cast<uint32_t>(s.stepB) * static_cast<uint32_t>(first);
    for (int x = first; x < cols; x++) {
        u += static_cast<uint32_t>(s.stepA);
        v += static_cast<uint32_t>(s.stepB);
        out[x] = sampleTexture(u, v);
    }
}

void rotozoomerReference(SDL_Surface* surface, float angle, float zoom) {
    const RotoSteps s = rotozoomSteps(angle, zoom);
    const int rows = drawnRows(surface), cols = drawnColumns(surface);
    uint32_t rowU = 0, rowV = 0;
    for (int y = 0; y < rows; y++) {
        rowU -= static_cast<uint32_t>(s.stepB);
        rowV += static_cast<uint32_t>(s.stepA);
        rotozoomRowReference(surfaceRow(surface, y), 0, cols, rowU, rowV, s);
    }
    vram = pastLastPixel(surface, rows, cols);
}

void rotozoomer(SDL_Surface* surface, float angle, float zoom) {
#ifdef VELMORANTE_AVX2
    if (rotozoomerAvx2(surface, rotozoomSteps(angle, zoom))) return;
#endif
    rotozoomerReference(surface, angle, zoom);
}
