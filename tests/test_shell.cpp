// The frame loop and the quit rule, run in-process on SDL's dummy video driver.
#include <cstdlib>

#include "support.h"

namespace {

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        screen = SDL_SetVideoMode(SCREEN_W, SCREEN_H, SCREEN_BPP, 0);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
        kk = 0;
        exw = 0;
        atime = 0;
        fps = 0;
        lockSurface = SDL_LockSurface;
        KeyCommands();  // start from an empty queue
        exw = 0;
    }
    void TearDown() override {
        lockSurface = SDL_LockSurface;
        SDL_Quit();
        screen = nullptr;
    }
};

void pushKey(Uint8 type, SDLKey sym) {
    SDL_Event e = {};
    e.type = type;
    e.key.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

void pushQuit() {
    SDL_Event e = {};
    e.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

bool queueEmpty() { return SDL_PollEvent(nullptr) == 0; }

TEST_F(Shell, OnlyEscapePressedOrQuitEndTheRun) {
    pushKey(SDL_KEYUP, SDLK_ESCAPE);
    pushKey(SDL_KEYDOWN, SDLK_a);
    pushKey(SDL_KEYDOWN, SDLK_SPACE);
    KeyCommands();
    EXPECT_EQ(exw, 0);
    EXPECT_TRUE(queueEmpty());

    pushKey(SDL_KEYDOWN, SDLK_ESCAPE);
    KeyCommands();
    EXPECT_EQ(exw, 1);

    exw = 0;
    pushQuit();
    KeyCommands();
    EXPECT_EQ(exw, 1);
}

TEST_F(Shell, AQuitAmongOtherEventsEndsTheLoopAfterOneFrameAndDrainsAll) {
    fillVolumeWithIndices();
    pushKey(SDL_KEYDOWN, SDLK_a);
    pushQuit();
    pushKey(SDL_KEYDOWN, SDLK_b);
    pushKey(SDL_KEYUP, SDLK_b);
    Demo();
    EXPECT_EQ(kk, 1);
    EXPECT_EQ(exw, 1);
    EXPECT_TRUE(queueEmpty());
    // The frame on the surface is frame 1.
    EXPECT_EQ(static_cast<uint32_t*>(screen->pixels)[0], 1282u);
}

TEST_F(Shell, TheFrameCounterWrapsWithoutOverflow) {
    kk = INT32_MAX;
    pushQuit();
    Demo();
    EXPECT_EQ(kk, INT32_MIN);
}

TEST_F(Shell, TheFirstReportComesAfterASecondAndCountsFramesBegun) {
    fps = 0;
    atime = SDL_GetTicks();  // as if a report had just been made
    pushQuit();
    EXPECT_EQ(captureOutput(Demo).out, "");  // under a second: no line

    exw = 0;
    kk = 41;
    fps = 10;
    atime = SDL_GetTicks() - 1000;
    pushQuit();
    EXPECT_EQ(captureOutput(Demo).out, "32\n");  // frame 42 minus the 10 of the last report
    EXPECT_EQ(fps, 42);
    EXPECT_EQ(mo, 32);
}

int refusals;
int refuseLock(SDL_Surface*) {
    refusals++;
    return -1;
}

TEST_F(Shell, ARefusedLockEndsTheLoopWithoutDrawing) {
    // A surface that must be locked: SDL's own rule looks at the offset too.
    TestSurface locked;
    locked.surface->offset = 4;
    ASSERT_TRUE(SDL_MUSTLOCK(locked.surface));
    SDL_Surface* display = screen;
    screen = locked.surface;
    lockSurface = refuseLock;
    refusals = 0;
    Demo();
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(kk, 1);
    EXPECT_EQ(locked.at(0, 0), TestSurface::GUARD);
    locked.surface->offset = 0;
    screen = display;
}

}  // namespace
