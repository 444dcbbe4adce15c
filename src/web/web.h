// web: the platform under the program in the browser (WebAssembly builds
// only). src/web/sdl.cpp implements the SDL 1.2 and SDL_mixer 1.2 calls the
// program makes, with SDL 1.2's meaning, on the page around it
// (src/web/page.js): the display is a surface of 0x00RRGGBB words that
// SDL_Flip hands to the page's canvas, keys come from the page, and the sound
// loop plays through Web Audio. The program knows nothing of the page.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

// The page's one look into the program: the frame it has reached (its frame
// counter). ?stop=N ends the run there, and the page shows it. Defined on
// the program's side (src/web/frame.cpp).
int32_t pageFrameReached();

// The 0x00RRGGBB words of `s` as the canvas takes them: bytes R, G, B, 255 a
// pixel, w words a row, rows packed from row 0.
void toCanvasBytes(const SDL_Surface* s, uint32_t* out);

// SDL 1.2's key symbol for a browser key code (KeyboardEvent.keyCode);
// SDLK_UNKNOWN for a key it has no symbol for here.
SDLKey keySymbol(int keyCode);

// SDL_Flip's hand-over: the display's picture to the page's canvas. The page
// may call it while the loop waits for its turn (its benchmark does, to time
// the hand-over alone); without a page or a display, nothing.
extern "C" void pageShowDisplay();
// A key pressed (down != 0) or released on the page, queued as an SDL key
// event; page.js calls it. A full queue drops it, as SDL does.
extern "C" void pageKey(int down, int keyCode);
