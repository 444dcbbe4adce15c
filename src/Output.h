// Output: the standard descriptors, and the lines the program writes on
// standard output (the loader's unhandled chunk types, the frame rate). No
// reader can stop the program: a line that standard output cannot take is
// dropped, at once in the frame loop, after a short wait during loading.
#pragma once

#include <cstdint>

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that a
// file opened later (the X connection, the disk audio driver's file) cannot
// take the place of standard output and receive the program's lines. Called
// first thing, before anything else is opened.
void openStandardDescriptors();

// Adds "%d\n" of `value` to the lines waiting for standard output; when the
// waiting lines would not fit in one atomic pipe write (PIPE_BUF bytes), they
// go out first, as a burst (writeLines(true)).
void putLine(int32_t value);

// Writes the waiting lines with one write if standard output can take them now
// (poll finds room and no error), and drops them otherwise; leaves nothing
// waiting and never changes the descriptor's flags. A burst (the loader's
// lines) may wait for room, 10 ms at a time and a second in all in the run;
// the frame-rate line never waits.
void writeLines(bool burst = false);
