// makefont: writes "fonts16.bin", the program's 16 x 16 bitmap font, by
// rasterising a TrueType font with FreeType.
//
// Layout: a 256-byte character map (glyph number of each character code),
// then 86 glyphs of 16 rows of 16 texels, one byte each, 0 transparent and
// 1..15 the coverage. Glyph 0 is blank; the space and every code without a
// glyph of its own map to it. Each glyph sits centred on its advance in the
// cell, on a common baseline.
//
// usage: makefont FONT.ttf OUT.bin
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int CELL = 16;                 // cell and glyph side, pixels
constexpr int GLYPHS = 86;               // glyphs in the store
constexpr int CODES = 256;               // entries of the character map
constexpr int LEVELS = 15;               // coverage levels above transparent
constexpr int PIXEL_SIZE = 16;           // FreeType pixel size: capitals 12 rows high
constexpr int BASELINE = 12;             // row below the baseline's last ink row; descenders use 12..15
constexpr int BLANK = 0;                 // the glyph of the space and of unmapped codes

// The characters that get a glyph, in glyph order from glyph 1.
constexpr char CHARACTERS[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    "abcdefghijklmnopqrstuvwxyz"
    "0123456789"
    "!\"#%&'()*+,-./:;<=>?@[]";
static_assert(sizeof CHARACTERS - 1 == GLYPHS - 1, "85 characters and the blank fill the store");

// One glyph's 256 texels from FreeType's 8-bit coverage bitmap.
void rasterise(FT_Face face, unsigned char ch, uint8_t* cell) {
    if (FT_Load_Char(face, ch, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT)) {
        fprintf(stderr, "makefont: no glyph for '%c'\n", ch);
        return;
    }
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bm = g->bitmap;
    const int advance = static_cast<int>((g->advance.x + 32) >> 6);
    const int left = (CELL - advance) / 2 + g->bitmap_left;
    const int top = BASELINE - g->bitmap_top;
    for (unsigned row = 0; row < bm.rows; row++) {
        for (unsigned col = 0; col < bm.width; col++) {
            const int x = left + static_cast<int>(col), y = top + static_cast<int>(row);
            if (x < 0 || x >= CELL || y < 0 || y >= CELL) continue;
            const int coverage = bm.buffer[row * bm.pitch + col];
            cell[y * CELL + x] = static_cast<uint8_t>((coverage * LEVELS + 127) / 255);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s FONT.ttf OUT.bin\n", argv[0]);
        return 2;
    }
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) || FT_New_Face(library, argv[1], 0, &face) ||
        FT_Set_Pixel_Sizes(face, 0, PIXEL_SIZE)) {
        fprintf(stderr, "%s: cannot load font %s\n", argv[0], argv[1]);
        return 1;
    }
    std::vector<uint8_t> file(CODES + GLYPHS * CELL * CELL, 0);
    uint8_t* map = file.data();
    uint8_t* glyphs = file.data() + CODES;
    memset(map, BLANK, CODES);
    for (int g = 1; g < GLYPHS; g++) {
        const unsigned char ch = static_cast<unsigned char>(CHARACTERS[g - 1]);
        map[ch] = static_cast<uint8_t>(g);
        rasterise(face, ch, glyphs + g * CELL * CELL);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    FILE* f = fopen(argv[2], "wb");
    if (!f || fwrite(file.data(), 1, file.size(), f) != file.size() || fclose(f) != 0) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
