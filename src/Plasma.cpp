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
#include <immintrin.h>
#include <sys/mman.h>


#include "FLIplay.h"

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

// Once a second: the frames begun since the last report.
static void reportFrameRate() {
    if (SDL_GetTicks() - atime > REPORT_MS) {
        atime = SDL_GetTicks();
        mo = add32(kk, -fps);
        fps = kk;
        printf("%d\n", mo);
        fflush(stdout);
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
static double quotient(long double n, long double d) { return d != 0 ? static_cast<double>(n / d) : NAN; }

// Truncation toward zero to 16 bits. A value that is not finite, or whose
// truncation lies outside -32,768..32,767, gives -32,768 (0x8000: low byte 0, even).
static int16_t toInt16(long double v) {
    if (!std::isfinite(v)) return INT16_MIN;
    const long double t = truncl(v);
    return t < INT16_MIN || t > INT16_MAX ? INT16_MIN : static_cast<int16_t>(t);
}

void noiseSweep(uint8_t* buffer) {
    for (uint32_t i = 0; i < NOISE_BYTES; i++) {
        const int32_t q = static_cast<int32_t>(4 * i % SWEEP_PERIOD) / SWEEP_STEP;  // 0..52
        const double x = quotient(4.0L * i, 8.0L * q);  // i / 2q; none where q = 0
        buffer[i] = static_cast<uint8_t>(toInt16(128.0L * sin(x)));  // low byte, two's complement
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
        const double y = quotient(2.0L * i, 32.0L * stepSine[r]);  // none where q2 = 0
        const int16_t v = toInt16(static_cast<long double>(sin(y)) * amplitude);
        if (v & 1) buffer[i] += 128;  // flips the top bit
    }
}

void noiseAddRand(uint8_t* buffer) {
    for (uint32_t i = 0; i < NOISE_BYTES; i++) buffer[i] += rand() % NOISE_RAND_MOD;  // rand() >= 0: adds 0..41
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
    // The products of a sine run in extended precision, where they are exact.
    p.scrollX = static_cast<int32_t>(fabsl(static_cast<long double>(sin(nd * 0.00390625)) * 3 * 256));
    p.scrollY = static_cast<int32_t>(fabsl(2 * static_cast<long double>(sin(nd / 144)) * 333));
    p.slotBase = n >> 4;
    p.slotStep = static_cast<int32_t>(128 + fabsl(32 * static_cast<long double>(sin(nd * 0.0078125))));

    const double partial = static_cast<double>(64 * static_cast<long double>(sin(nd * 0.015625)) +
                                               32 * static_cast<long double>(sin(nd / 48)));
    const int32_t square = mul32(n, n);  // wraps from n = 46,341 on
    const long double w = partial + 32 * static_cast<long double>(sin(square * 0.0625)) - 64;
    p.jitter = w > 0 ? static_cast<int32_t>(w) : 0;
    return p;
}

// Sideways displacement of screen row i: trunc(sin(i*i) * jitter).
static inline int64_t rowShiftOf(int i, int jitter) {
    return static_cast<int64_t>(static_cast<long double>(sin(static_cast<double>(i * i))) * jitter);
}

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

static inline uint32_t* surfaceRow(SDL_Surface* surface, int i) {
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(i) * surface->pitch);
}

static inline int drawnColumns(const SDL_Surface* s) { return s->w < SCREEN_W ? s->w : SCREEN_W; }
static inline int drawnRows(const SDL_Surface* s) { return s->h < SCREEN_H ? s->h : SCREEN_H; }

void FLIframesReference(SDL_Surface* surface, int scrollX, int scrollY, int slotBase, int slotStep,
                        int tileRateX, int pictureShiftY, int tileShiftX, int jitter) {
    const int rows = drawnRows(surface), cols = drawnColumns(surface);
    for (int i = 0; i < rows; i++) {
        uint32_t* out = surfaceRow(surface, i);
        const int64_t rowShift = rowShiftOf(i, jitter);
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
        const int64_t rowShift =
            jitter ? static_cast<int64_t>(static_cast<long double>(rowSines[i]) * jitter) : 0;
        const int64_t base = static_cast<int64_t>(add32(y, pictureShiftY) % TILE_H) * FLI_W + rowShift;
        uint32_t* out = surfaceRow(surface, i);
        for (int r = 0; r < runCount; r++)  // hot loop: a handful of copies a row
            copyVolumeRun(out + runs[r].first, runStart[r] + base, runs[r].length);
    }
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
    FILE* f = fopen(path, "rb");
    if (!f) {
        memset(cc, 0, sizeof cc);
        memset(fonts, 0, sizeof fonts);
        fprintf(stderr, "velmorante: cannot open font file \"%s\"; text stays blank\n", path);
        return;
    }
    for (uint8_t& entry : cc) entry = nextByte(f);
    for (uint8_t& texel : fonts) texel = nextByte(f);
    fclose(f);
}

void BMPload(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) {
        memset(rbmp, 0, sizeof rbmp);
        memset(gbmp, 0, sizeof gbmp);
        memset(bbmp, 0, sizeof bbmp);
        fprintf(stderr, "velmorante: cannot open texture file \"%s\"; the texture stays black\n", path);
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
// One word past the last pixel of a picture of rows x cols; the first pixel
// when nothing is drawn.
static inline uint32_t* pastLastPixel(SDL_Surface* surface, int rows, int cols) {
    if (rows <= 0 || cols <= 0) return static_cast<uint32_t*>(surface->pixels);
    return surfaceRow(surface, rows - 1) + cols;
}

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
static int32_t toStep(long double p) {
    if (p != p) return 0;
    if (p >= static_cast<long double>(INT32_MAX)) return INT32_MAX;
    if (p <= static_cast<long double>(INT32_MIN)) return INT32_MIN;
    return static_cast<int32_t>(p);
}

RotoSteps rotozoomSteps(float angle, float zoom) {
    const long double theta = static_cast<long double>(angle) / DEGREES_PER_RADIAN;
    // The cosine sees theta rounded to double, the sine theta rounded to float:
    // the angle's own single-precision storage holds it.
    const double c = cos(static_cast<double>(theta));
    const double s = sin(static_cast<float>(theta));
    const long double zoomed = static_cast<long double>(zoom);
    return {toStep(c * zoomed * FIX_ONE), toStep(s * zoomed * FIX_ONE)};
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

// Pixels of one row from screen column `first` on; (u, v) is the row's start,
// one step left of column 0. Coordinates wrap as 32-bit unsigned values.
static void rotozoomRowReference(uint32_t* out, int first, int cols, uint32_t u, uint32_t v, RotoSteps s) {
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

// ---- Rotozoomer, AVX2 path ------------------------------------------------------
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
__attribute__((target("avx2"))) static void rotozoomerAvx2(SDL_Surface* surface, RotoSteps s, const uint8_t* rowWindows,
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

void rotozoomer(SDL_Surface* surface, float angle, float zoom) {
    uint8_t* const tables = __builtin_cpu_supports("avx2") ? windowTables() : nullptr;
    if (!tables) {
        rotozoomerReference(surface, angle, zoom);
        return;
    }
    uint8_t* const rowWindows = tables;
    uint8_t* const columnWindows = tables + COLUMN_TABLE_AT;
    updateWindowTables(rowWindows, columnWindows);
    rotozoomerAvx2(surface, rotozoomSteps(angle, zoom), rowWindows, columnWindows);
}
