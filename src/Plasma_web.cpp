// Plasma_web: the platform under the program in the browser (WebAssembly).
//
// The program speaks SDL 1.2 and SDL_mixer 1.2, compiled against their own
// headers. Here are the calls it makes, with SDL 1.2's semantics, on top of the
// page around it (src/web/page.js): the display is a surface of 0x00RRGGBB
// words that SDL_Flip hands to the page's canvas, keys come from the page, and
// the sound loop plays through Web Audio. Emscripten's own SDL emulation is
// not used: its surfaces are RGBA (red and blue would swap), it reads the whole
// canvas back at every lock, and its mixer cannot play raw chunks.
//
// SDL_Flip is also where the frame loop gives the browser its turn: after each
// frame shown it yields (ASYNCIFY), so the page paints and takes keys while the
// loop itself stays the desktop's. Without a page (the unit tests under node)
// the display is memory only, no key arrives and the sound device plays into
// nothing, like SDL's dummy drivers.
#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>
#include <emscripten.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Plasma.h"

// ---- The page's side (src/web/page.js); called only when there is a page ----
EM_JS(int, pageAttached, (), { return Module.page ? 1 : 0; });
EM_JS(void, pageOpenDisplay, (int w, int h), { Module.page.openDisplay(w, h); });
EM_JS(int32_t, pageStopFrame, (), { return Module.page.stopFrame(); });
EM_JS(void, pageSetCaption, (const char* title), { Module.page.setCaption(UTF8ToString(title)); });
EM_JS(void, pageShowCursor, (int shown), { Module.page.showCursor(shown != 0); });
EM_JS(void, pageShowFrame, (const uint8_t* rgba, int w, int h, int32_t frame),
      { Module.page.showFrame(HEAPU8.subarray(rgba, rgba + w * h * 4), w, h, frame); });
EM_JS(void, pageFrameHash, (int32_t frame, const char* hex), { Module.page.frameHash(frame, UTF8ToString(hex)); });
EM_JS(int, pageOpenAudio, (int rate, int channels), { return Module.page.openAudio(rate, channels) ? 1 : 0; });
EM_JS(void, pagePlayLoop, (const uint8_t* bytes, uint32_t n), { Module.page.playLoop(HEAPU8.slice(bytes, bytes + n)); });
EM_JS(void, pageCloseAudio, (), { Module.page.closeAudio(); });
EM_JS(void, pageClosed, (int32_t frame), { Module.page.closed(frame); });
// Resumes on the browser's next task: a message the page posts to itself, not
// a timer, which browsers hold back to 4 ms once timers nest.
EM_ASYNC_JS(void, pageYield, (int32_t frame), { await Module.page.yieldToBrowser(frame); });

static bool page;  // the page is there; learnt when the display or the audio device opens

// ---- Errors and time -----------------------------------------------------------
static char errorText[256];

void SDL_SetError(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vsnprintf(errorText, sizeof errorText, fmt, args);
    va_end(args);
}

char* SDL_GetError() { return errorText; }

static double ticksStart = -1;  // emscripten_get_now() at start-up, ms; below 0 before

static void startTicks() {
    if (ticksStart < 0) ticksStart = emscripten_get_now();
}

Uint32 SDL_GetTicks() {
    if (ticksStart < 0) return 0;
    // Whole milliseconds since start-up, wrapping at 2^32 like SDL's counter.
    return static_cast<Uint32>(static_cast<uint64_t>(emscripten_get_now() - ticksStart));
}

// ---- Surfaces -------------------------------------------------------------------
constexpr int PIXEL_BYTES = 4;      // the only depth here: 32-bit words
constexpr int MAX_PITCH = 0xFFFF;   // SDL 1.2 keeps the pitch in 16 bits

// Where a channel mask starts, and how many of a byte's 8 bits it drops:
// SDL_MapRGB's shift and loss.
static Uint8 maskShift(Uint32 mask) {
    Uint8 s = 0;
    for (; mask && !(mask & 1); mask >>= 1) s++;
    return s;
}

static Uint8 maskLoss(Uint32 mask) {
    Uint8 bits = 0;
    for (mask >>= maskShift(mask); mask & 1; mask >>= 1) bits++;
    return bits >= 8 ? 0 : static_cast<Uint8>(8 - bits);
}

static SDL_PixelFormat* newFormat(Uint32 r, Uint32 g, Uint32 b, Uint32 a) {
    SDL_PixelFormat* f = static_cast<SDL_PixelFormat*>(calloc(1, sizeof(SDL_PixelFormat)));
    if (!f) return nullptr;
    f->BitsPerPixel = 8 * PIXEL_BYTES;
    f->BytesPerPixel = PIXEL_BYTES;
    f->Rmask = r, f->Gmask = g, f->Bmask = b, f->Amask = a;
    f->Rshift = maskShift(r), f->Gshift = maskShift(g), f->Bshift = maskShift(b), f->Ashift = maskShift(a);
    f->Rloss = maskLoss(r), f->Gloss = maskLoss(g), f->Bloss = maskLoss(b), f->Aloss = a ? maskLoss(a) : 8;
    f->alpha = 255;
    return f;
}

// A surface record over `pixels`, rows `pitch` bytes apart.
static SDL_Surface* newSurface(void* pixels, int w, int h, int pitch, SDL_PixelFormat* format) {
    SDL_Surface* s = static_cast<SDL_Surface*>(calloc(1, sizeof(SDL_Surface)));
    if (!s) return nullptr;
    s->format = format;
    s->w = w, s->h = h;
    s->pitch = static_cast<Uint16>(pitch);
    s->pixels = pixels;
    s->clip_rect = {0, 0, static_cast<Uint16>(w), static_cast<Uint16>(h)};
    s->refcount = 1;
    return s;
}

// What SDL 1.2 can describe here: 32-bit pixels, a row's bytes within the
// 16-bit pitch, a clip rectangle's sides within 16 bits.
static bool sizeOk(int w, int h, int depth) {
    if (depth != 8 * PIXEL_BYTES) {
        SDL_SetError("only 32-bit surfaces are supported");
        return false;
    }
    if (w <= 0 || h <= 0 || w > MAX_PITCH / PIXEL_BYTES || h > 0xFFFF) {
        SDL_SetError("surface size %d x %d not supported", w, h);
        return false;
    }
    return true;
}

SDL_Surface* SDL_CreateRGBSurfaceFrom(void* pixels, int w, int h, int depth, int pitch, Uint32 rmask, Uint32 gmask,
                                      Uint32 bmask, Uint32 amask) {
    if (!sizeOk(w, h, depth)) return nullptr;
    if (pitch < w * PIXEL_BYTES || pitch > MAX_PITCH) {
        SDL_SetError("pitch %d does not fit a row of %d pixels", pitch, w);
        return nullptr;
    }
    SDL_PixelFormat* format = newFormat(rmask, gmask, bmask, amask);
    SDL_Surface* s = format ? newSurface(pixels, w, h, pitch, format) : nullptr;
    if (!s) {
        free(format);
        SDL_SetError("out of memory");
    }
    return s;
}

// ---- The display ------------------------------------------------------------------
// The display's pixels are the program's; SDL_Flip writes the same picture
// as the canvas takes it (bytes R, G, B, 255) into displayRgba.
static SDL_Surface* display;
static uint32_t* displayRgba;
static int32_t stopFrame;  // ?stop=N, else 0: frames before N are drawn, not shown; N is shown and hashed

static void freeSurfaceRecord(SDL_Surface* s) {
    free(s->format);
    free(s);
}

static void closeDisplay() {
    if (!display) return;
    free(display->pixels);
    free(displayRgba);
    freeSurfaceRecord(display);
    display = nullptr;
    displayRgba = nullptr;
}

void SDL_FreeSurface(SDL_Surface* s) {
    if (!s || s == display || --s->refcount > 0) return;  // the display goes with SDL_Quit
    freeSurfaceRecord(s);
}

SDL_Surface* SDL_SetVideoMode(int w, int h, int bpp, Uint32) {
    // The flags are not looked at: full screen is the page's to ask for (its
    // button and the F key), as a browser grants it only after a gesture.
    if (!sizeOk(w, h, bpp ? bpp : 8 * PIXEL_BYTES)) return nullptr;
    closeDisplay();
    const size_t words = static_cast<size_t>(w) * h;
    uint32_t* pixels = static_cast<uint32_t*>(calloc(words, sizeof(uint32_t)));
    uint32_t* rgba = static_cast<uint32_t*>(calloc(words, sizeof(uint32_t)));
    SDL_PixelFormat* format = newFormat(0xFF0000, 0x00FF00, 0x0000FF, 0);  // 0x00RRGGBB
    display = pixels && rgba && format ? newSurface(pixels, w, h, w * PIXEL_BYTES, format) : nullptr;
    if (!display) {
        free(pixels), free(rgba), free(format);
        SDL_SetError("out of memory for a %d x %d display", w, h);
        return nullptr;
    }
    displayRgba = rgba;
    startTicks();
    page = pageAttached();
    stopFrame = page ? pageStopFrame() : 0;
    if (page) pageOpenDisplay(w, h);
    return display;
}

int SDL_LockSurface(SDL_Surface* s) {
    s->locked++;  // memory surfaces: a lock only counts
    return 0;
}

void SDL_UnlockSurface(SDL_Surface* s) {
    if (s->locked) s->locked--;
}

Uint32 SDL_MapRGB(const SDL_PixelFormat* const f, const Uint8 r, const Uint8 g, const Uint8 b) {
    return static_cast<Uint32>(r >> f->Rloss) << f->Rshift | static_cast<Uint32>(g >> f->Gloss) << f->Gshift |
           static_cast<Uint32>(b >> f->Bloss) << f->Bshift | f->Amask;
}

// ---- Showing frames ---------------------------------------------------------------
constexpr double UNSHOWN_YIELD_MS = 50;  // the page's turn while frames are drawn and not shown

static double lastYield;  // emscripten_get_now() at the last yield

static void yieldToPage() {
    lastYield = emscripten_get_now();
    pageYield(kk);
}

// One row: 0x00RRGGBB words to bytes R, G, B, 255. The two rows never overlap,
// which lets the compiler take several pixels a step.
static void rowToCanvasBytes(const uint32_t* __restrict in, uint32_t* __restrict out, int n) {
    for (int x = 0; x < n; x++) {  // hot loop: a word a pixel
        const uint32_t w = in[x];
        out[x] = 0xFF000000u | (w & 0xFFu) << 16 | (w & 0xFF00u) | (w >> 16 & 0xFFu);
    }
}

void toCanvasBytes(const SDL_Surface* s, uint32_t* out) {
    for (int y = 0; y < s->h; y++)
        rowToCanvasBytes(surfaceRow(const_cast<SDL_Surface*>(s), y), out + static_cast<size_t>(y) * s->w, s->w);
}

void surfaceSha256(const SDL_Surface* s, char hex[SHA256_HEX + 1]) {
    Sha256 h;
    for (int y = 0; y < s->h; y++)
        sha256Add(h, reinterpret_cast<const uint8_t*>(surfaceRow(const_cast<SDL_Surface*>(s), y)),
                  static_cast<size_t>(s->w) * PIXEL_BYTES);
    sha256Hex(h, hex);
}

// The frame ?stop=N asked for is on the canvas: its hash goes to the page, and
// a quit event ends the loop as closing the window would (a full queue, which
// the loop drains at every frame, ends it through the flag directly).
static void reportStopFrame() {
    char hex[SHA256_HEX + 1];
    surfaceSha256(display, hex);
    pageFrameHash(kk, hex);
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    if (SDL_PushEvent(&quit) != 0) exw = 1;
}

EMSCRIPTEN_KEEPALIVE void pageShowDisplay() {
    if (!display || !page) return;
    toCanvasBytes(display, displayRgba);
    pageShowFrame(reinterpret_cast<const uint8_t*>(displayRgba), display->w, display->h, kk);
}

int SDL_Flip(SDL_Surface* s) {
    if (s != display || !page) return 0;
    if (stopFrame > 0 && kk < stopFrame) {
        if (emscripten_get_now() - lastYield >= UNSHOWN_YIELD_MS) yieldToPage();
        return 0;
    }
    pageShowDisplay();
    if (stopFrame > 0 && kk == stopFrame) reportStopFrame();
    yieldToPage();
    return 0;
}

void SDL_WM_SetCaption(const char* title, const char*) {
    if (page && title) pageSetCaption(title);
}

static int cursorShown = 1;

int SDL_ShowCursor(int toggle) {
    const int was = cursorShown;
    if (toggle >= 0) {
        cursorShown = toggle != 0;
        if (page) pageShowCursor(cursorShown);
    }
    return was;
}

// ---- Events -------------------------------------------------------------------------
constexpr int EVENT_QUEUE = 128;  // SDL 1.2 holds as many

static SDL_Event events[EVENT_QUEUE];
static int eventHead, eventCount;

int SDL_PushEvent(SDL_Event* event) {
    if (eventCount == EVENT_QUEUE) {
        SDL_SetError("event queue full");
        return -1;
    }
    events[(eventHead + eventCount++) % EVENT_QUEUE] = *event;
    return 0;
}

int SDL_PollEvent(SDL_Event* event) {
    if (eventCount == 0) return 0;
    if (event) {
        *event = events[eventHead];
        eventHead = (eventHead + 1) % EVENT_QUEUE;
        eventCount--;
    }
    return 1;
}

// Browser key codes (KeyboardEvent.keyCode) that SDL 1.2 names otherwise.
constexpr int KEY_A = 65, KEY_Z = 90, KEY_LEFT = 37, KEY_UP = 38, KEY_RIGHT = 39, KEY_DOWN = 40;
constexpr int KEY_DELETE = 46, KEY_F1 = 112, KEY_F12 = 123;

SDLKey keySymbol(int keyCode) {
    switch (keyCode) {
        case SDLK_BACKSPACE: case SDLK_TAB: case SDLK_RETURN: case SDLK_ESCAPE: case SDLK_SPACE:
            return static_cast<SDLKey>(keyCode);  // the same numbers in both
        case KEY_LEFT: return SDLK_LEFT;
        case KEY_UP: return SDLK_UP;
        case KEY_RIGHT: return SDLK_RIGHT;
        case KEY_DOWN: return SDLK_DOWN;
        case KEY_DELETE: return SDLK_DELETE;
    }
    if (keyCode >= SDLK_0 && keyCode <= SDLK_9) return static_cast<SDLKey>(keyCode);
    if (keyCode >= KEY_A && keyCode <= KEY_Z) return static_cast<SDLKey>(SDLK_a + (keyCode - KEY_A));
    if (keyCode >= KEY_F1 && keyCode <= KEY_F12) return static_cast<SDLKey>(SDLK_F1 + (keyCode - KEY_F1));
    return SDLK_UNKNOWN;
}

EMSCRIPTEN_KEEPALIVE void pageKey(int down, int keyCode) {
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.type = e.type;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = keySymbol(keyCode);
    SDL_PushEvent(&e);
}

// ---- The mixer: each channel plays one chunk in a loop, through Web Audio -------------
constexpr int MIN_PAGE_RATE = 8000;   // the rates every Web Audio must play
constexpr int MAX_PAGE_RATE = 96000;

static bool audioOpen;
static int audioChannels;
static Mix_Chunk* playing[MIX_CHANNELS];

int Mix_OpenAudio(int frequency, Uint16 format, int channels, int) {
    if (audioOpen) return 0;
    if (format != AUDIO_S16LSB || channels < 1 || channels > 2 || frequency < MIN_PAGE_RATE ||
        frequency > MAX_PAGE_RATE) {
        SDL_SetError("the page plays 16-bit mono or stereo at %d to %d Hz", MIN_PAGE_RATE, MAX_PAGE_RATE);
        return -1;
    }
    page = pageAttached();
    if (page && !pageOpenAudio(frequency, channels)) {
        SDL_SetError("this browser has no Web Audio");
        return -1;
    }
    audioOpen = true;
    audioChannels = channels;
    return 0;
}

void Mix_CloseAudio() {
    if (!audioOpen) return;
    if (page) pageCloseAudio();
    memset(playing, 0, sizeof playing);
    audioOpen = false;
}

Mix_Chunk* Mix_QuickLoad_RAW(Uint8* mem, Uint32 len) {
    if (!audioOpen) {
        SDL_SetError("Audio device hasn't been opened");
        return nullptr;
    }
    Mix_Chunk* chunk = static_cast<Mix_Chunk*>(calloc(1, sizeof(Mix_Chunk)));
    if (!chunk) {
        SDL_SetError("out of memory");
        return nullptr;
    }
    chunk->allocated = 0;  // the caller's bytes, played in place
    chunk->abuf = mem;
    chunk->alen = len;
    chunk->volume = MIX_MAX_VOLUME;
    return chunk;
}

static int freeChannel() {
    for (int c = 0; c < MIX_CHANNELS; c++)
        if (!playing[c]) return c;
    return -1;
}

int Mix_PlayChannelTimed(int channel, Mix_Chunk* chunk, int loops, int ticks) {
    if (!chunk) {
        SDL_SetError("Tried to play a NULL chunk");
        return -1;
    }
    if (loops != -1 || ticks != -1) {
        SDL_SetError("the page plays endless loops only");
        return -1;
    }
    if (channel == -1) channel = freeChannel();
    if (!audioOpen || channel < 0 || channel >= MIX_CHANNELS || playing[channel]) {
        SDL_SetError("No free channels available");
        return -1;
    }
    playing[channel] = chunk;
    // Whole sample frames of 16-bit samples; what is left of a partial one is not played.
    const uint32_t frameBytes = 2u * static_cast<uint32_t>(audioChannels);
    const uint32_t bytes = chunk->alen / frameBytes * frameBytes;
    if (page && bytes > 0) pagePlayLoop(chunk->abuf, bytes);
    return channel;
}

int Mix_Playing(int channel) {
    if (channel >= 0) return channel < MIX_CHANNELS && playing[channel] ? 1 : 0;
    int n = 0;
    for (Mix_Chunk* c : playing) n += c != nullptr;
    return n;
}

// ---- Start and end ---------------------------------------------------------------------
int SDL_Init(Uint32) {
    startTicks();
    return 0;
}

int SDL_InitSubSystem(Uint32 flags) { return SDL_Init(flags); }

void SDL_QuitSubSystem(Uint32 flags) {
    if (flags & SDL_INIT_AUDIO) Mix_CloseAudio();
}

// The page is told the program has ended; the canvas keeps the last frame.
void SDL_Quit() {
    Mix_CloseAudio();
    if (page) pageClosed(kk);
    closeDisplay();
    eventHead = eventCount = 0;
    ticksStart = -1;
}

// ---- SHA-256 (FIPS 180-4), for the frame ?stop=N asks for -------------------------------
static constexpr uint32_t SHA256_K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

static inline uint32_t rotr(uint32_t x, int n) { return x >> n | x << (32 - n); }

static void sha256Block(Sha256& h, const uint8_t* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; i++)
        w[i] = static_cast<uint32_t>(p[4 * i]) << 24 | static_cast<uint32_t>(p[4 * i + 1]) << 16 |
               static_cast<uint32_t>(p[4 * i + 2]) << 8 | p[4 * i + 3];
    for (int i = 16; i < 64; i++) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ w[i - 15] >> 3;
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ w[i - 2] >> 10;
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h.state[0], b = h.state[1], c = h.state[2], d = h.state[3];
    uint32_t e = h.state[4], f = h.state[5], g = h.state[6], k = h.state[7];
    for (int i = 0; i < 64; i++) {
        const uint32_t t1 = k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + SHA256_K[i] + w[i];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    h.state[0] += a, h.state[1] += b, h.state[2] += c, h.state[3] += d;
    h.state[4] += e, h.state[5] += f, h.state[6] += g, h.state[7] += k;
}

void sha256Add(Sha256& h, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; i++) {
        h.block[h.filled++] = data[i];
        if (h.filled == SHA256_BLOCK) {
            sha256Block(h, h.block);
            h.filled = 0;
        }
    }
    h.bytes += n;
}

void sha256Hex(Sha256& h, char hex[SHA256_HEX + 1]) {
    const uint64_t bits = h.bytes * 8;
    const uint8_t one = 0x80, zero = 0;
    sha256Add(h, &one, 1);
    while (h.filled != SHA256_BLOCK - 8) sha256Add(h, &zero, 1);
    uint8_t length[8];
    for (int i = 0; i < 8; i++) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    sha256Add(h, length, 8);
    for (int i = 0; i < 8; i++) snprintf(hex + 8 * i, 9, "%08x", h.state[i]);
}
