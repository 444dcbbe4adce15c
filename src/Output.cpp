// Output: the standard descriptors and the program's lines on standard output.
#include "Output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

void openStandardDescriptors() {
    // open takes the lowest free descriptor: going up from 0, that is the one
    // just found closed.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
}

// The waiting lines. A pipe takes a write of at most PIPE_BUF bytes whole or
// not at all, so they are never cut, nor mixed with another writer's.
static char waiting[PIPE_BUF];
static size_t waitingBytes;

constexpr size_t LINE_BYTES = 12;  // "-2147483648\n", the longest "%d\n"

// A burst of lines (the loader's) may wait for room: for at most WAIT_MS at a
// time, and only until WAITS such waits have run out in the run, a second in
// all. A reader that keeps up then gets every line, since a pipe holds only 64
// KiB and the loader can print 390 KiB in a few milliseconds; one that does not
// read delays start-up by a second at most, once.
constexpr int WAIT_MS = 10;
constexpr int WAITS = 100;
static int waitsLeft = WAITS;

void putLine(int32_t value) {
    if (waitingBytes + LINE_BYTES + 1 > sizeof waiting) writeLines(true);  // + 1: snprintf's terminator
    waitingBytes += static_cast<size_t>(snprintf(waiting + waitingBytes, sizeof waiting - waitingBytes, "%d\n", value));
}

// Whether standard output can take a write now, or within waitMs. O_NONBLOCK
// is never set on it: the flag belongs to the file description, which the
// shell that started the program shares when it is a terminal or a pipe, and
// it would stay set there after the program ends. poll asks the same without
// changing anything: a pipe reports room when a whole page is free, at least
// PIPE_BUF bytes; a terminal stopped with Ctrl-S reports none (one that has
// less room than a burst of lines takes the rest as it is read). A reader
// that has gone (an error) gets nothing, so no SIGPIPE ends the program.
static bool outputReady(int waitMs) {
    pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    const int ready = poll(&out, 1, waitMs);
    if (ready == 0 && waitMs > 0) waitsLeft--;
    return ready == 1 && (out.revents & POLLOUT) && !(out.revents & (POLLERR | POLLHUP | POLLNVAL));
}

void writeLines(bool burst) {
    if (waitingBytes > 0 && outputReady(burst && waitsLeft > 0 ? WAIT_MS : 0)) {
        const ssize_t written = write(STDOUT_FILENO, waiting, waitingBytes);
        (void)written;  // what standard output did not take is dropped, like a line it had no room for
    }
    waitingBytes = 0;
}
