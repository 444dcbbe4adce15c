// The browser's platform (src/web/sdl.cpp) without a page, under node: the
// SDL 1.2 and SDL_mixer 1.2 calls the program makes, as SDL itself answers
// them, the canvas bytes and the key symbols.
#include <SDL/SDL_mixer.h>
#include <emscripten.h>

#include <string>

#include "support.h"
#include "web/web.h"

namespace {

TEST(WebDisplay, CanvasBytesTakeTheDrawnWordsRowByRowWithoutThePadding) {
    TestSurface s(SCREEN_W + 3);  // guard words between the rows
    for (int y = 0; y < SCREEN_H; y++)
        for (int x = 0; x < SCREEN_W; x++) s.memory[static_cast<size_t>(y) * s.pitchWords + x] = 0x00112233u + x + y;
    std::vector<uint32_t> rgba(static_cast<size_t>(SCREEN_W) * SCREEN_H);
    toCanvasBytes(s.surface, rgba.data());
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(rgba.data());
    EXPECT_EQ(bytes[0], 0x11);  // R, G, B, opaque
    EXPECT_EQ(bytes[1], 0x22);
    EXPECT_EQ(bytes[2], 0x33);
    EXPECT_EQ(bytes[3], 0xFF);
    const size_t last = (static_cast<size_t>(SCREEN_W) * SCREEN_H - 1) * 4;  // 0x00112233 + 1279 + 719 = 0x00112A01
    EXPECT_EQ(bytes[last + 0], 0x11);
    EXPECT_EQ(bytes[last + 1], 0x2A);
    EXPECT_EQ(bytes[last + 2], 0x01);
    EXPECT_EQ(bytes[last + 3], 0xFF);
}

TEST(WebDisplay, TheVideoModeIsTheDesktopsSurfaceAndNothingElse) {
    SDL_Quit();  // the ticks start again with the video mode
    const double before = emscripten_get_now();
    SDL_Surface* d = SDL_SetVideoMode(SCREEN_W, SCREEN_H, SCREEN_BPP, 0);
    const Uint32 ticks = SDL_GetTicks();
    EXPECT_LE(ticks, emscripten_get_now() - before);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->pitch, SCREEN_W * 4);
    EXPECT_EQ(d->format->Rmask, 0xFF0000u);
    EXPECT_EQ(d->format->Gmask, 0x00FF00u);
    EXPECT_EQ(d->format->Bmask, 0x0000FFu);
    EXPECT_EQ(d->format->Amask, 0u);
    EXPECT_FALSE(SDL_MUSTLOCK(d));
    EXPECT_EQ(SDL_MapRGB(d->format, 0x12, 0x34, 0x56), 0x123456u);
    EXPECT_EQ(SDL_SetVideoMode(SCREEN_W, SCREEN_H, 16, 0), nullptr);
    EXPECT_NE(std::string(SDL_GetError()).find("32-bit"), std::string::npos);
    EXPECT_EQ(SDL_SetVideoMode(0, SCREEN_H, SCREEN_BPP, 0), nullptr);
    SDL_Quit();
    EXPECT_EQ(SDL_GetTicks(), 0u);
}

TEST(WebDisplay, MapRgbFollowsTheFormatsMasks) {
    std::vector<uint32_t> words(4);
    SDL_Surface* abgr = SDL_CreateRGBSurfaceFrom(words.data(), 2, 2, 32, 8, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    ASSERT_NE(abgr, nullptr);
    EXPECT_EQ(SDL_MapRGB(abgr->format, 0x12, 0x34, 0x56), 0xFF563412u);
    SDL_Surface* rgb565 = SDL_CreateRGBSurfaceFrom(words.data(), 2, 2, 32, 8, 0xF800, 0x07E0, 0x001F, 0);
    ASSERT_NE(rgb565, nullptr);
    EXPECT_EQ(SDL_MapRGB(rgb565->format, 0xFF, 0x80, 0x08), 0xF800u | 0x20u << 5 | 0x01u);
    EXPECT_EQ(SDL_CreateRGBSurfaceFrom(words.data(), 2, 2, 32, 7, 0xFF, 0xFF00, 0xFF0000, 0), nullptr);  // pitch short of a row
    SDL_FreeSurface(abgr);
    SDL_FreeSurface(rgb565);
}

TEST(WebEvents, KeysFromThePageQueueInOrderAndEscapeEndsTheLoop) {
    EXPECT_EQ(keySymbol(27), SDLK_ESCAPE);
    EXPECT_EQ(keySymbol(65), SDLK_a);
    EXPECT_EQ(keySymbol(90), SDLK_z);
    EXPECT_EQ(keySymbol(48), SDLK_0);
    EXPECT_EQ(keySymbol(32), SDLK_SPACE);
    EXPECT_EQ(keySymbol(37), SDLK_LEFT);
    EXPECT_EQ(keySymbol(123), SDLK_F12);
    for (int code : {0, 97, 124, 500, -1}) EXPECT_EQ(keySymbol(code), SDLK_UNKNOWN) << code;

    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
    pageKey(1, 70);  // F
    pageKey(0, 70);
    EXPECT_EQ(SDL_PollEvent(nullptr), 1);  // a look, nothing taken
    ASSERT_EQ(SDL_PollEvent(&e), 1);
    EXPECT_EQ(e.type, SDL_KEYDOWN);
    EXPECT_EQ(e.key.keysym.sym, SDLK_f);
    ASSERT_EQ(SDL_PollEvent(&e), 1);
    EXPECT_EQ(e.type, SDL_KEYUP);
    EXPECT_EQ(SDL_PollEvent(&e), 0);

    exw = 0;
    pageKey(1, 27);
    KeyCommands();
    EXPECT_EQ(exw, 1);
    exw = 0;
}

TEST(WebEvents, AFullQueueRefusesMoreAndLosesNoneItHolds) {
    SDL_Event e = {};
    int accepted = 0;
    for (int k = 0; k < 200; k++) {
        e.type = SDL_USEREVENT;
        e.user.code = k;
        accepted += SDL_PushEvent(&e) == 0;
    }
    EXPECT_EQ(accepted, 128);
    pageKey(1, 27);  // dropped
    for (int k = 0; k < 128; k++) {
        ASSERT_EQ(SDL_PollEvent(&e), 1);
        ASSERT_EQ(e.user.code, k);
    }
    EXPECT_EQ(SDL_PollEvent(&e), 0);
}

TEST(WebMixer, EndlessLoopsOnFreeChannelsAndClearRefusals) {
    uint8_t bytes[64] = {};
    EXPECT_EQ(Mix_QuickLoad_RAW(bytes, sizeof bytes), nullptr);  // no device yet
    EXPECT_EQ(Mix_OpenAudio(AUDIO_RATE, AUDIO_U8, AUDIO_CHANNELS, AUDIO_BUFFER), -1);
    EXPECT_EQ(Mix_OpenAudio(4000, AUDIO_S16LSB, AUDIO_CHANNELS, AUDIO_BUFFER), -1);
    ASSERT_EQ(Mix_OpenAudio(AUDIO_RATE, AUDIO_S16LSB, AUDIO_CHANNELS, AUDIO_BUFFER), 0);
    Mix_Chunk* chunk = Mix_QuickLoad_RAW(bytes, sizeof bytes);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->abuf, bytes);
    EXPECT_EQ(Mix_PlayChannelTimed(-1, chunk, 0, -1), -1);  // a count of loops: refused, not played wrongly
    EXPECT_EQ(Mix_PlayChannelTimed(-1, chunk, -1, 500), -1);
    EXPECT_EQ(Mix_PlayChannelTimed(-1, nullptr, -1, -1), -1);
    for (int c = 0; c < MIX_CHANNELS; c++) EXPECT_EQ(Mix_PlayChannelTimed(-1, chunk, -1, -1), c);
    EXPECT_EQ(Mix_PlayChannelTimed(-1, chunk, -1, -1), -1);
    EXPECT_EQ(Mix_Playing(-1), MIX_CHANNELS);
    EXPECT_EQ(Mix_Playing(3), 1);
    Mix_CloseAudio();
    EXPECT_EQ(Mix_Playing(-1), 0);
    EXPECT_EQ(Mix_QuickLoad_RAW(bytes, sizeof bytes), nullptr);
}

}  // namespace
