// Velmorante: opens the display and the audio device, loads everything, then
// draws frames until Escape or the window is closed.
#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Output.h"
#include "Plasma.h"

constexpr char VIDEO_DRIVER_VARIABLE[] = "SDL_VIDEODRIVER";

// The video drivers that show the picture on a display, in SDL's own order of
// preference: SDL 1.2's X11, framebuffer console and DirectFB, and, where SDL
// 1.2's interface runs over SDL 2 (sdl12-compat), SDL 2's X11, Wayland and
// kernel mode setting. A library knows only its own names and refuses the
// others at once.
constexpr const char* DISPLAY_DRIVERS[] = {"x11", "wayland", "fbcon", "directfb", "kmsdrm"};

// Left to itself, SDL takes the first of its video drivers that says it is
// available. Without a display that is a driver that shows nothing on one:
// SDL 1.2's text-mode drivers (libcaca, AAlib), which say so always and which
// take over the terminal as soon as they start, drawing the demo there as
// ASCII art; over SDL 2, its off-screen driver. So when SDL_VIDEODRIVER names
// no driver, the demo starts video itself on each display driver in turn, by
// naming it for SDL's own start-up, and keeps the first that starts; the
// text-mode drivers are never started. A driver the user names is left to SDL
// as always. False, with the reason in SDL's error, when no display driver
// starts.
static bool startDisplayDriver() {
    const char* named = getenv(VIDEO_DRIVER_VARIABLE);
    if (named && *named) return true;
    const std::string previous = named ? named : "";
    bool started = false;
    for (const char* driver : DISPLAY_DRIVERS) {
        setenv(VIDEO_DRIVER_VARIABLE, driver, 1);
        started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (started) break;
        // sdl12-compat takes the call after a refused start for a success
        // unless video is shut down in between.
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    if (named)
        setenv(VIDEO_DRIVER_VARIABLE, previous.c_str(), 1);
    else
        unsetenv(VIDEO_DRIVER_VARIABLE);
    if (!started) {
        const char* display = getenv("DISPLAY");
        if (display)
            SDL_SetError("No display: cannot open \"%s\"", display);
        else
            SDL_SetError("No display: DISPLAY is not set");
    }
    return started;
}

int main(int argc, char**) {
    openStandardDescriptors();
    const Uint32 flags = argc < 2 ? 0 : SDL_FULLSCREEN;  // any argument at all: full screen
    screen = startDisplayDriver() ? SDL_SetVideoMode(SCREEN_W, SCREEN_H, SCREEN_BPP, flags) : nullptr;
    if (!screen) {
        fprintf(stderr, "Unable to set video mode: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO);
    SDL_WM_SetCaption(CAPTION, nullptr);
    SDL_ShowCursor(0);
    Mix_OpenAudio(AUDIO_RATE, AUDIO_S16LSB, AUDIO_CHANNELS, AUDIO_BUFFER);
    Init();
    initNoise(1, 0);
    Demo();
    Mix_CloseAudio();
    SDL_Quit();
    return 0;
}
