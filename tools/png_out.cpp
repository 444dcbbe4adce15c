#include "png_out.h"

#include <png.h>

#include <cstdint>
#include <vector>

bool writeRgbPng(FILE* f, const SDL_Surface* s, int x0, int y0, int w, int h, int compression) {
    // Made before setjmp, so that a jump back from libpng leaves it to its destructor.
    std::vector<png_byte> row(static_cast<size_t>(w) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (compression >= 0) png_set_compression_level(png, compression);
    png_write_info(png, info);
    for (int y = y0; y < y0 + h; y++) {
        const uint32_t* line = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(s->pixels) +
                                                                 static_cast<size_t>(y) * s->pitch) + x0;
        for (int x = 0; x < w; x++) {
            row[3 * x] = line[x] >> 16 & 0xFF;
            row[3 * x + 1] = line[x] >> 8 & 0xFF;
            row[3 * x + 2] = line[x] & 0xFF;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}
