// Velmorante: opens the display and the audio device, loads everything, then
// draws frames until Escape or the window is closed.
#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>

#include <cstdio>

#include "Output.h"
#include "Plasma.h"

int main(int argc, char**) {
    openStandardDescriptors();
    const Uint32 flags = argc < 2 ? 0 : SDL_FULLSCREEN;  // any argument at all: full screen
    screen = SDL_SetVideoMode(SCREEN_W, SCREEN_H, SCREEN_BPP, flags);
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
