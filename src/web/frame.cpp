// What the page may know of the program: the frame it has reached.
#include "Plasma.h"
#include "web/web.h"

int32_t pageFrameReached() { return kk; }
