// Plasma: the demo shell, the effects, the soundtrack, font and texture
// loading, and text. Globals are defined in Plasma.cpp, zero at start.
//
// The program in the order it runs: main opens the display and the audio
// device, Init loads the font, the texture and the animation volume,
// initNoise starts the sound loop, and Demo draws Script(kk) frame after frame
// until Escape or a quit event. The last section holds what only the tests,
// the tools and the faster versions of the effects use.
#pragma once

#include <SDL/SDL.h>

#include <cstddef>
#include <cstdint>

// ---- Demo shell ---------------------------------------------------------------
constexpr int SCREEN_W = 1280;  // display width, pixels
constexpr int SCREEN_H = 720;   // display height, rows
constexpr int SCREEN_BPP = 32;
constexpr size_t SCREEN_BYTES = static_cast<size_t>(SCREEN_W) * SCREEN_H * 4;  // 3,686,400: a whole picture
// Every picture is 32-bit words 0x00RRGGBB: the volume, the palette, every
// effect's pixels and the display's, with these channel masks.
constexpr uint32_t RED_MASK = 0x00FF0000;
constexpr uint32_t GREEN_MASK = 0x0000FF00;
constexpr uint32_t BLUE_MASK = 0x000000FF;
constexpr char CAPTION[] = "Velmorante";
constexpr int AUDIO_RATE = 22050;   // sample frames a second
constexpr int AUDIO_CHANNELS = 2;    // stereo, 16-bit samples
constexpr int AUDIO_BUFFER = 4096;   // sample frames

extern SDL_Surface* screen;  // the display surface, set once by main
extern int32_t kk;           // frames begun; 1 during the first frame; the effect's only clock
extern uint8_t exw;          // nonzero once quitting has been asked for; never cleared
extern uint32_t atime;       // SDL ticks at the last frame-rate report, ms
extern int32_t fps;          // kk at the last frame-rate report
extern int32_t mo;           // frames begun during the last report interval

// The frame loop: count, lock, report, Script(kk), unlock, flip, drain events.
// Returns once exw is set, or at once when the lock is refused.
void Demo();

// Drains the event queue; Escape pressed or a quit event sets exw.
void KeyCommands();

// ---- Font and texture -------------------------------------------------------
constexpr int CHAR_CODES = 256;                         // entries of the character map
constexpr int GLYPHS = 86;                              // glyphs in the store
constexpr int GLYPH_SIDE = 16;                          // a glyph is 16 x 16 texels, a cell 16 x 16 pixels
constexpr int GLYPH_BYTES = GLYPH_SIDE * GLYPH_SIDE;    // one byte a texel
constexpr int FONT_BYTES = GLYPHS * GLYPH_BYTES;        // 22,016
constexpr int COVERAGE_MAX = 15;                        // texel levels 1..15; 0 is transparent
constexpr int TEX_SIDE = 256;                           // the texture is 256 x 256
constexpr int TEX_TEXELS = TEX_SIDE * TEX_SIDE;
constexpr long BMP_PIXELS_AT = 54;                      // 14-byte file header + 40-byte information header
constexpr int BMP_SIGNATURE_BYTES = 2;                  // "BM", read and never compared
constexpr char FONT_FILE[] = "fonts16.bin";
constexpr char TEXTURE_FILE[] = "tarnwhisk.bmp";
static_assert(FONT_BYTES == 22016, "glyph store size");

extern uint8_t cc[CHAR_CODES];    // character map: glyph number of each code; 86 or more draws a blank cell
extern uint8_t fonts[FONT_BYTES];  // glyph g, row r (0 = top), column c at 256g + 16r + c; coverage 0..15
extern uint8_t rbmp[TEX_TEXELS];   // texture red plane: row r (0 = top), column c at 256r + c
extern uint8_t gbmp[TEX_TEXELS];   // green plane, same layout
extern uint8_t bbmp[TEX_TEXELS];   // blue plane, same layout

// Loads the font ("fonts16.bin"), then the texture ("tarnwhisk.bmp"), then,
// last, the animation volume through FLImainLoad.
void Init();

// Reads `path` one byte at a time: 256 bytes into cc, the next 22,016 into
// fonts; bytes past its end read as 255. A file that cannot be opened, or is
// not a regular file (openDataFile), is named on stderr with the reason and
// leaves both tables zero.
void FontLoad(const char* path);

// Reads the 256 x 256 24-bit bottom-up pixel rows from byte 54 of `path` into
// rbmp, gbmp, bbmp, bytes past its end reading as 255; no header field is
// looked at. A file that cannot be opened, or is not a regular file, is named
// on stderr with the reason and leaves the planes zero.
void BMPload(const char* path);

// ---- Sound ------------------------------------------------------------------
// The loop is raw device bytes, taken by the mixer as they stand: stereo frames
// of two signed 16-bit little-endian samples at 22,050 Hz.
constexpr uint32_t NOISE_BYTES = 0x100000;  // 1,048,576 bytes: 262,144 frames, 11.89 s
constexpr int NOISE_RAND_MOD = 42;          // pass 3 adds demoRand() % 42 to each byte

struct Mix_Chunk;         // SDL_mixer's sound chunk (SDL/SDL_mixer.h)
extern Mix_Chunk* noise;  // the playing loop; null until initNoise, never freed

// Builds the loop into its own static buffer, hands it to the mixer and plays
// it for ever on the first free channel. The second argument is ignored.
// Without an open audio device no chunk is made and the demo stays silent.
void initNoise(int amplitude, int);

// ---- Tiled volume effect and volume scroller ---------------------------------
// Paints frame n of the tiled volume effect into `screen`. Reads only `frames`.
void Script(int32_t n);

// Paints the parameterised scrolling grid of volume tiles into `surface`.
// Any arguments are safe: every read of the volume wraps its flat index
// modulo the volume. Rows are stepped by the surface's pitch.
void FLIframes(SDL_Surface* surface, int scrollX, int scrollY, int slotBase, int slotStep, int tileRateX,
               int pictureShiftY, int tileShiftX, int jitter);

// ---- Text, plasma and rotozoomer: they draw through one cursor ---------------
// Shared pixel cursor of Print, plasma and rotozoomer, each of which leaves it
// at a defined place; Script and FLIframes leave it alone.
extern uint32_t* vram;

constexpr int NUMBER_DIGITS = 5;     // Int2Str writes exactly this many characters
constexpr int NUMBER_MAX = 99999;    // the largest number five digits hold

// Blends str[0..len-1] in white over `screen`, cell n's top-left pixel at
// (x + 16n, y); leaves vram at the first pixel of the cell after the last.
// Pixels outside the surface are not touched; len <= 0 draws nothing.
void Print(int x, int y, const char* str, int len);

// Writes `value` as five decimal digits to out[0..4], no terminator. Values
// below 0 write 00000 and values above 99,999 write 99999.
void Int2Str(int value, char* out);

constexpr int FIX_SHIFT = 16;                          // 16.16 fixed point texture coordinates
constexpr int32_t FIX_ONE = 1 << FIX_SHIFT;            // one texel
constexpr int32_t FIX_MASK = FIX_ONE - 1;              // the fraction bits
constexpr float DEGREES_PER_RADIAN = 57.29716f;        // the program's own divisor, not 180 / pi
constexpr uint32_t GREY = 0x010101;                    // a level in all three colour bytes

// Paints the grey diagonal ramp, level (x + y) & 255, into `surface`; leaves
// vram one word past the last pixel written. Rows are stepped by the pitch.
void plasma(SDL_Surface* surface);

// Paints the texture planes rotated by `angle` degrees and `zoom` texels a
// pixel, wrapped and bilinearly filtered, pivoting one pixel above and left
// of the top-left pixel; leaves vram one word past the last pixel written.
// Rows are stepped by the pitch.
void rotozoomer(SDL_Surface* surface, float angle, float zoom);

// ---- For the tests, the tools and the faster versions of the effects ----------
// Locks the display surface for drawing; SDL_LockSurface unless a test puts
// in one of its own (SDL never refuses a lock on the surfaces it gives us).
extern int (*lockSurface)(SDL_Surface*);

// The sound loop's three passes, and all three over `buffer` (NOISE_BYTES
// bytes) as initNoise makes them, without an audio device.
// Pass 1, the stepped sweep: sets every byte.
void noiseSweep(uint8_t* buffer);
// Pass 2, the modulation: flips the top bit of a byte where sin(y) * amplitude
// truncates to an odd number. Amplitude 0 leaves every byte as it is.
void noiseModulate(uint8_t* buffer, int amplitude);
// Pass 3: adds demoRand() % 42 to each byte, one draw a byte in index order.
void noiseAddRand(uint8_t* buffer);
void noiseBuild(uint8_t* buffer, int amplitude);

// Per-frame values of the tiled volume effect for frame number n: Script(n)
// is FLIframes(screen, scrollX, scrollY, slotBase, slotStep, 0, 0, 0, jitter).
struct TileParams {
    int32_t scrollX;   // 0..768 pixels
    int32_t scrollY;   // 0..666 rows
    int32_t slotBase;  // n >> 4
    int32_t slotStep;  // 128..160 slots
    int32_t jitter;    // 0..64 pixels
};
TileParams ScriptParams(int32_t n);

// FLIframes' picture, one pixel at a time, straight from the description: its
// oracle in the tests, and its path for columns that are negative or would wrap.
void FLIframesReference(SDL_Surface* surface, int scrollX, int scrollY, int slotBase, int slotStep, int tileRateX,
                        int pictureShiftY, int tileShiftX, int jitter);

// The 16.16 texture step of one pixel to the right, (stepA, stepB); one row
// down steps by (-stepB, stepA). Products beyond 32 bits saturate, NaN gives 0.
struct RotoSteps {
    int32_t stepA;  // trunc(cos(angle / 57.29716) * zoom * 65536)
    int32_t stepB;  // trunc(sin(angle / 57.29716) * zoom * 65536)
};
RotoSteps rotozoomSteps(float angle, float zoom);

// The rotozoomer's picture, one plane and one pixel at a time as described:
// its oracle in the tests, and its path where no faster one is built or the
// processor cannot run it.
void rotozoomerReference(SDL_Surface* surface, float angle, float zoom);
// Pixels `first` .. `cols` - 1 of one such row; (u, v) is the row's start,
// one step left of column 0. Coordinates wrap as 32-bit unsigned values.
void rotozoomRowReference(uint32_t* out, int first, int cols, uint32_t u, uint32_t v, RotoSteps s);

// A 1280 x 720 picture in memory, in the display's format: what the tools
// and the benchmarks draw into. Null, with SDL_GetError saying why, when SDL
// cannot make one.
SDL_Surface* newPicture();

// Row i of a surface, stepped by its pitch.
inline uint32_t* surfaceRow(SDL_Surface* surface, int i) {
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(i) * surface->pitch);
}
// The effects draw at most the display's 1280 x 720 pixels of a surface.
inline int drawnColumns(const SDL_Surface* s) { return s->w < SCREEN_W ? s->w : SCREEN_W; }
inline int drawnRows(const SDL_Surface* s) { return s->h < SCREEN_H ? s->h : SCREEN_H; }
// One word past the last pixel of a picture of rows x cols; the first pixel
// when nothing is drawn.
inline uint32_t* pastLastPixel(SDL_Surface* surface, int rows, int cols) {
    if (rows <= 0 || cols <= 0) return static_cast<uint32_t*>(surface->pixels);
    return surfaceRow(surface, rows - 1) + cols;
}
