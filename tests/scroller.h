// FLIframes' eight arguments by name, for the tests and the benchmarks: a call
// reads as scroller(surface, {.scrollX = 100, .jitter = 7}).
#pragma once

#include <SDL/SDL.h>

#include <ostream>

#include "Plasma.h"

struct ScrollerArgs {
    int scrollX = 0;        // pixels
    int scrollY = 0;        // rows
    int slotBase = 0;       // slots
    int slotStep = 0;       // slots a grid cell
    int tileRateX = 0;      // extra grid speed
    int pictureShiftY = 0;  // rows
    int tileShiftX = 0;     // pixels
    int jitter = 0;         // pixels of sideways row displacement at the most
    bool operator==(const ScrollerArgs&) const = default;
};

// Script(n) draws FLIframes with these.
inline ScrollerArgs scriptArgs(const TileParams& p) {
    return {.scrollX = p.scrollX, .scrollY = p.scrollY, .slotBase = p.slotBase, .slotStep = p.slotStep,
            .jitter = p.jitter};
}

inline void scroller(SDL_Surface* surface, const ScrollerArgs& a) {
    FLIframes(surface, a.scrollX, a.scrollY, a.slotBase, a.slotStep, a.tileRateX, a.pictureShiftY, a.tileShiftX,
              a.jitter);
}

inline void scrollerReference(SDL_Surface* surface, const ScrollerArgs& a) {
    FLIframesReference(surface, a.scrollX, a.scrollY, a.slotBase, a.slotStep, a.tileRateX, a.pictureShiftY,
                       a.tileShiftX, a.jitter);
}

inline std::ostream& operator<<(std::ostream& out, const ScrollerArgs& a) {
    return out << "{scrollX " << a.scrollX << ", scrollY " << a.scrollY << ", slotBase " << a.slotBase
               << ", slotStep " << a.slotStep << ", tileRateX " << a.tileRateX << ", pictureShiftY "
               << a.pictureShiftY << ", tileShiftX " << a.tileShiftX << ", jitter " << a.jitter << "}";
}
