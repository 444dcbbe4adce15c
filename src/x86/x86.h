// x86: what the program does faster on x86-64 processors. Built only for
// x86-64 (VELMORANTE_AVX2); each routine asks the processor at run time.
#pragma once

#include <SDL/SDL.h>

#include "Plasma.h"

// rotozoomerReference's picture, word for word, eight pixels at a time with
// AVX2; false, with nothing drawn, when the processor has no AVX2.
bool rotozoomerAvx2(SDL_Surface* surface, RotoSteps s);
