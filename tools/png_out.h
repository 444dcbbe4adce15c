// The tools' PNG writer: pictures the program drew, through libpng.
#pragma once

#include <SDL/SDL.h>

#include <cstdio>

// Writes w x h pixels of `s` from (x0, y0) on, 0x00RRGGBB words, to `f` as an
// 8-bit RGB PNG; `compression` is zlib's level, -1 libpng's default. False when
// libpng fails. The caller opens and closes `f`.
bool writeRgbPng(FILE* f, const SDL_Surface* s, int x0, int y0, int w, int h, int compression = -1);
