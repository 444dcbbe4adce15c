// preview: draws the font, the texture, the rotozoomer and text with the
// program's own routines and writes what they drew as PNG files, to look at
// the data files without running the demo.
//
// usage: preview DATA_DIR OUT_DIR
//   OUT_DIR/texture.png    the texture tiled 2 x 2 (a seam would show as a cross)
//   OUT_DIR/font.png       every glyph
//   OUT_DIR/roto-*.png     the rotozoomer at a few angles and zooms
//   OUT_DIR/text.png       text over the rotozoomer
//   OUT_DIR/readme.png     the top-left corner of text.png
#include <cstdio>
#include <string>

#include "Plasma.h"
#include "png_out.h"

namespace {

constexpr int README_W = 640, README_H = 192;  // the corner of text.png shown in the README

// Writes w x h pixels of `s` from (x0, y0) as an 8-bit RGB PNG.
bool writePng(const std::string& path, SDL_Surface* s, int x0, int y0, int w, int h) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool encoded = writeRgbPng(f, s, x0, y0, w, h, 9);
    return fclose(f) == 0 && encoded;
}

void print(int x, int y, const std::string& text) { Print(x, y, text.data(), static_cast<int>(text.size())); }

// The texture straight from its planes, 2 x 2 copies side by side.
void drawTexture(SDL_Surface* s) {
    for (int y = 0; y < 2 * TEX_SIDE; y++) {
        uint32_t* line = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(s->pixels) + y * s->pitch);
        for (int x = 0; x < 2 * TEX_SIDE; x++) {
            const int i = y % TEX_SIDE * TEX_SIDE + x % TEX_SIDE;
            line[x] = static_cast<uint32_t>(rbmp[i]) << 16 | static_cast<uint32_t>(gbmp[i]) << 8 | bbmp[i];
        }
    }
}

// Every glyph over a dark ground.
void drawFontSheet() {
    SDL_FillRect(screen, nullptr, 0x00182028);
    std::string all;
    for (int c = 32; c < 127; c++) all += static_cast<char>(c);
    for (size_t i = 0; i < all.size(); i += 32) print(16, 16 + 24 * static_cast<int>(i / 32), all.substr(i, 32));
    print(16, 112, "The quick brown fox jumps over");
    print(16, 136, "the lazy dog. (86 glyphs, 16 levels)");
}

// Darkens a band of the picture to a third, so that white text reads on it.
void darken(int x0, int y0, int w, int h) {
    for (int y = y0; y < y0 + h; y++) {
        uint32_t* line = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(screen->pixels) + y * screen->pitch);
        for (int x = x0; x < x0 + w; x++) line[x] = (line[x] >> 2 & 0x3F3F3F) + (line[x] >> 3 & 0x1F1F1F);
    }
}

// Text over the rotozoomer: on a darkened band, and straight over the texture.
void drawText() {
    rotozoomer(screen, 20, 0.55f);
    darken(16, 24, 608, 112);
    char number[NUMBER_DIGITS];
    Int2Str(2026, number);
    print(32, 32, "VELMORANTE");
    print(32, 56, "tarnished whiskers, riveted copper");
    print(32, 80, "frame ");
    Print(32 + 16 * 6, 80, number, NUMBER_DIGITS);
    print(32, 104, "\"Press Escape!\" -- 100% white");
    print(32, 152, "and straight over the texture");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s DATA_DIR OUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string data = argv[1], out = std::string(argv[2]) + "/";
    FontLoad((data + "/" + FONT_FILE).c_str());
    BMPload((data + "/" + TEXTURE_FILE).c_str());
    screen = newPicture();
    if (!screen) return 1;

    bool ok = true;
    drawTexture(screen);
    ok &= writePng(out + "texture.png", screen, 0, 0, 2 * TEX_SIDE, 2 * TEX_SIDE);
    drawFontSheet();
    ok &= writePng(out + "font.png", screen, 0, 0, 640, 176);
    const struct {
        float angle, zoom;
        const char* name;
    } views[] = {{0, 1, "roto-0-1.png"}, {30, 0.5f, "roto-30-0.5.png"}, {75, 2, "roto-75-2.png"},
                 {-120, 0.25f, "roto-m120-0.25.png"}};
    for (const auto& v : views) {
        rotozoomer(screen, v.angle, v.zoom);
        ok &= writePng(out + v.name, screen, 0, 0, SCREEN_W, SCREEN_H);
    }
    drawText();
    ok &= writePng(out + "text.png", screen, 0, 0, SCREEN_W, SCREEN_H);
    ok &= writePng(out + "readme.png", screen, 0, 0, README_W, README_H);
    if (!ok) fprintf(stderr, "%s: cannot write the pictures to %s\n", argv[0], argv[2]);
    return ok ? 0 : 1;
}
