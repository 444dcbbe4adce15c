// The page's SDL 1.2 and SDL_mixer 1.2: the calls the program makes, with SDL
// 1.2's semantics, compiled against SDL's own headers. Emscripten's own SDL
// emulation is not used: its surfaces are RGBA (red and blue would swap), it
// reads the whole canvas back at every lock, and its mixer cannot play raw
// chunks.
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
#include "web/web.h"

// ---- The page's side (src/web/page.js); called only when there is a page ----
EM_JS(int, pageAttached, (), { return Module.page ? 1 : 0; });
EM_JS(void, pageOpenDisplay, (int w, int h), { Module.page.openDisplay(w, h); });
EM_JS(int32_t, pageStopFrame, (), { return Module.page.stopFrame(); });
EM_JS(void, pageSetCaption, (const char* title), { Module.page.setCaption(UTF8ToString(title)); });
EM_JS(void, pageShowCursor, (int shown), { Module.page.showCursor(shown != 0); });
EM_JS(void, pageShowFrame, (const uint8_t* rgba, int w, int h, int32_t frame),
      { Module.page.showFrame(HEAPU8.subarray(rgba, rgba + w * h * 4), w, h, frame); });
EM_JS(void, pageStopReached, (int32_t frame, const uint8_t* words, uint32_t n),
      { Module.page.stopReached(frame, HEAPU8.slice(words, words + n)); });
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
    SDL_PixelFormat* format = newFormat(RED_MASK, GREEN_MASK, BLUE_MASK, 0);  // the program's words, as they are
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
    pageYield(pageFrameReached());
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

static void requestQuit();

// The frame ?stop=N asked for is on the canvas: its words go to the page, which
// hashes them, and the run ends as closing the window would end it.
static void reportStopFrame(int32_t frame) {
    pageStopReached(frame, static_cast<const uint8_t*>(display->pixels),
                    static_cast<uint32_t>(display->h) * display->pitch);
    requestQuit();
}

EMSCRIPTEN_KEEPALIVE void pageShowDisplay() {
    if (!display || !page) return;
    toCanvasBytes(display, displayRgba);
    pageShowFrame(reinterpret_cast<const uint8_t*>(displayRgba), display->w, display->h, pageFrameReached());
}

int SDL_Flip(SDL_Surface* s) {
    if (s != display || !page) return 0;
    const int32_t frame = pageFrameReached();
    if (stopFrame > 0 && frame < stopFrame) {
        if (emscripten_get_now() - lastYield >= UNSHOWN_YIELD_MS) yieldToPage();
        return 0;
    }
    pageShowDisplay();
    if (stopFrame > 0 && frame == stopFrame) reportStopFrame(frame);
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
static bool quitPending;  // a quit that found the queue full: it comes after what the queue holds

// A quit event, as closing the window gives; never lost to a full queue.
static void requestQuit() {
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    if (SDL_PushEvent(&quit) != 0) quitPending = true;
}

int SDL_PushEvent(SDL_Event* event) {
    if (eventCount == EVENT_QUEUE) {
        SDL_SetError("event queue full");
        return -1;
    }
    events[(eventHead + eventCount++) % EVENT_QUEUE] = *event;
    return 0;
}

int SDL_PollEvent(SDL_Event* event) {
    if (eventCount == 0 && quitPending) {
        if (event) {
            *event = {};
            event->type = SDL_QUIT;
            quitPending = false;
        }
        return 1;
    }
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
    if (page) pageClosed(pageFrameReached());
    closeDisplay();
    eventHead = eventCount = 0;
    quitPending = false;
    ticksStart = -1;
}
