// Plasma: the demo shell, the effects, the soundtrack, font and texture
// loading, and text. Globals are defined in Plasma.cpp, zero at start.
#pragma once

#include <SDL/SDL.h>
#include <cstdint>

// ---- Demo shell ---------------------------------------------------------------
constexpr int SCREEN_W = 1280;  // display width, pixels
constexpr int SCREEN_H = 720;   // display height, rows
constexpr int SCREEN_BPP = 32;
constexpr char CAPTION[] = "Velmorante";

extern SDL_Surface* screen;  // the display surface, set once by main
extern int32_t kk;           // frames begun; 1 during the first frame; the effect's only clock
extern uint8_t exw;          // nonzero once quitting has been asked for; never cleared
extern uint32_t atime;       // SDL ticks at the last frame-rate report, ms
extern int32_t fps;          // kk at the last frame-rate report
extern int32_t mo;           // frames begun during the last report interval

// Locks the display surface for drawing; SDL_LockSurface unless a test puts
// in one of its own (SDL never refuses a lock on the surfaces it gives us).
extern int (*lockSurface)(SDL_Surface*);

// The frame loop: count, lock, report, Script(kk), unlock, flip, drain events.
// Returns once exw is set, or at once when the lock is refused.
void Demo();

// Drains the event queue; Escape pressed or a quit event sets exw.
void KeyCommands();

// Loads the assets and, last, the animation volume.
void Init();

// ---- Sound ------------------------------------------------------------------
// The loop is raw device bytes, taken by the mixer as they stand: stereo frames
// of two signed 16-bit little-endian samples at 22,050 Hz.
constexpr uint32_t NOISE_BYTES = 0x100000;  // 1,048,576 bytes: 262,144 frames, 11.89 s
constexpr int NOISE_RAND_MOD = 42;          // pass 3 adds rand() % 42 to each byte

struct Mix_Chunk;         // SDL_mixer's sound chunk (SDL/SDL_mixer.h)
extern Mix_Chunk* noise;  // the playing loop; null until initNoise, never freed

// Pass 1, the stepped sweep: sets all NOISE_BYTES bytes of `buffer`.
void noiseSweep(uint8_t* buffer);
// Pass 2, the modulation: flips the top bit of a byte where sin(y) * amplitude
// truncates to an odd number. Amplitude 0 leaves every byte as it is.
void noiseModulate(uint8_t* buffer, int amplitude);
// Pass 3: adds rand() % 42 to each byte, one rand() a byte in index order.
void noiseAddRand(uint8_t* buffer);
// The three passes over `buffer` (NOISE_BYTES bytes); draws NOISE_BYTES rand()s.
// Needs no audio device.
void noiseBuild(uint8_t* buffer, int amplitude);

// Builds the loop into its own static buffer, hands it to the mixer and plays
// it for ever on the first free channel. The second argument is ignored.
// Without an open audio device no chunk is made and the demo stays silent.
void initNoise(int amplitude, int);

// ---- Tiled volume effect and volume scroller ---------------------------------
// Per-frame values of the tiled volume effect for frame number n.
struct TileParams {
    int32_t scrollX;   // 0..768 pixels
    int32_t scrollY;   // 0..666 rows
    int32_t slotBase;  // n >> 4
    int32_t slotStep;  // 128..160 slots
    int32_t jitter;    // 0..64 pixels
};
TileParams ScriptParams(int32_t n);

// Paints frame n of the tiled volume effect into `screen`. Reads only `frames`.
void Script(int32_t n);

// Paints the parameterised scrolling grid of volume tiles into `surface`.
// Any arguments are safe: every read of the volume wraps its flat index
// modulo the volume. Rows are stepped by the surface's pitch.
void FLIframes(SDL_Surface* surface, int scrollX, int scrollY, int slotBase, int slotStep, int tileRateX,
               int pictureShiftY, int tileShiftX, int jitter);

// The same picture, one pixel at a time, straight from the description: the
// oracle of FLIframes in the tests, and its fallback for columns that are
// negative or would wrap.
void FLIframesReference(SDL_Surface* surface, int scrollX, int scrollY, int slotBase, int slotStep, int tileRateX,
                        int pictureShiftY, int tileShiftX, int jitter);

// Shared pixel cursor of plasma, rotozoomer and Print; Script and FLIframes
// leave it alone.
extern uint32_t* vram;
