// maketexture: writes "tarnwhisk.bmp", the 256 x 256 texture of the
// rotozoomer: a tarnished copper plate with a grid of rivets, verdigris in
// its hollows and bright whisker-like scratches across it.
//
// Every feature repeats with a period that divides 256, so the picture tiles
// without a seam in both directions. Only +, -, *, / and sqrt are used, in
// single-threaded float arithmetic, so the same file comes out on every run.
//
// usage: maketexture OUT.bmp
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "FLIplay.h"  // the little-endian writers

namespace {

constexpr int SIDE = 256;               // texture width and height, pixels
constexpr int BMP_HEADER = 14;          // file header bytes
constexpr int BMP_INFO = 40;            // BITMAPINFOHEADER bytes
constexpr int BMP_PIXELS_AT = BMP_HEADER + BMP_INFO;  // 54
constexpr int BMP_ROW = SIDE * 3;       // 768 bytes, already a multiple of 4
constexpr int BMP_BITS = 24;
// Fields of the two headers, offsets from the start of the file.
constexpr int BMP_FILE_SIZE_AT = 2, BMP_PIXELS_OFFSET_AT = 10;
constexpr int BMP_INFO_SIZE_AT = 14, BMP_WIDTH_AT = 18, BMP_HEIGHT_AT = 22, BMP_PLANES_AT = 26, BMP_BITS_AT = 28;
constexpr int BMP_COMPRESSION_AT = 30, BMP_IMAGE_SIZE_AT = 34, BMP_X_DENSITY_AT = 38, BMP_Y_DENSITY_AT = 42;
constexpr uint32_t BMP_72_DPI = 2835;  // pixels a metre
constexpr int RIVETS = 2;               // rivets per side: one every 128 pixels
constexpr float RIVET_RADIUS = 15.0f;  // pixels

struct Colour {
    float r, g, b;
};

Colour mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float clamp01(float x) { return x < 0 ? 0 : x > 1 ? 1 : x; }
float smooth(float t) { return t * t * t * (t * (t * 6 - 15) + 10); }

// A 32-bit integer hash of a lattice point and a seed.
uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    return h ^ (h >> 15);
}

// Sixteen unit gradient directions, 22.5 degrees apart.
constexpr float GRADIENTS[16][2] = {
    {1.0000f, 0.0000f},  {0.9239f, 0.3827f},  {0.7071f, 0.7071f},  {0.3827f, 0.9239f},
    {0.0000f, 1.0000f},  {-0.3827f, 0.9239f}, {-0.7071f, 0.7071f}, {-0.9239f, 0.3827f},
    {-1.0000f, 0.0000f}, {-0.9239f, -0.3827f}, {-0.7071f, -0.7071f}, {-0.3827f, -0.9239f},
    {0.0000f, -1.0000f}, {0.3827f, -0.9239f}, {0.7071f, -0.7071f}, {0.9239f, -0.3827f}};

// Gradient noise on a lattice of cellsX x cellsY cells over the texture,
// wrapping at its edges; (x, y) in pixels. About -0.7 .. 0.7.
float noise(float x, float y, int cellsX, int cellsY, uint32_t seed) {
    const float fx = x * cellsX / SIDE, fy = y * cellsY / SIDE;
    const float ix = std::floor(fx), iy = std::floor(fy);
    const float tx = fx - ix, ty = fy - iy;
    auto corner = [&](int dx, int dy) {
        const int cx = ((static_cast<int>(ix) + dx) % cellsX + cellsX) % cellsX;
        const int cy = ((static_cast<int>(iy) + dy) % cellsY + cellsY) % cellsY;
        const float* g = GRADIENTS[hash(cx, cy, seed) & 15];
        return g[0] * (tx - dx) + g[1] * (ty - dy);
    };
    const float sx = smooth(tx), sy = smooth(ty);
    const float top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * sx;
    const float bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

// Octaves from cellsX x cellsY cells up, each twice as fine and half as strong.
float fbm(float x, float y, int cellsX, int cellsY, int octaves, uint32_t seed) {
    float sum = 0, amplitude = 1;
    for (int o = 0; o < octaves; o++, cellsX *= 2, cellsY *= 2, amplitude *= 0.5f)
        sum += amplitude * noise(x, y, cellsX, cellsY, seed + o);
    return sum;
}
float fbm(float x, float y, int cells, int octaves, uint32_t seed) { return fbm(x, y, cells, cells, octaves, seed); }

// Height of the rivet grid at (x, y): a dome of radius 1 in each 64-pixel
// cell, 0 outside; the rim a shallow groove.
float rivet(float x, float y, float& dx, float& dy) {
    const float period = static_cast<float>(SIDE) / RIVETS;
    dx = x - (std::floor(x / period) + 0.5f) * period;
    dy = y - (std::floor(y / period) + 0.5f) * period;
    const float r = std::sqrt(dx * dx + dy * dy) / RIVET_RADIUS;
    if (r >= 1.35f) return 0;
    if (r >= 1) return -0.25f * (1 - (r - 1.175f) * (r - 1.175f) / (0.175f * 0.175f));  // groove
    return std::sqrt(1 - r * r);
}

Colour texel(int px, int py) {
    const float x = px + 0.5f, y = py + 0.5f;
    // The plate: copper whose grain flows along a warped field.
    const float wx = 24 * fbm(x, y, 4, 3, 11), wy = 24 * fbm(x + 97, y + 31, 4, 3, 23);
    const float grain = fbm(x + wx, y + wy, 8, 5, 37);
    const Colour dark{52, 26, 14}, copper{176, 86, 44}, bright{236, 170, 104};
    Colour c = grain < 0 ? mix(copper, dark, clamp01(-grain * 1.6f)) : mix(copper, bright, clamp01(grain * 1.4f));

    // Tarnish: verdigris where a slow field is high, strongest in the grain's hollows.
    const float patina = fbm(x + 0.5f * wy, y + 0.5f * wx, 4, 4, 53) + 0.25f * fbm(x, y, 32, 2, 61);
    const float p = clamp01((patina - 0.05f) * 3.2f) * clamp01(0.75f - 0.6f * grain);
    c = mix(c, mix(Colour{34, 112, 96}, Colour{112, 196, 170}, clamp01(0.5f + grain)), p);

    // Whiskers: thin bright ridges of a stretched, warped noise.
    const float ridge = 1 - std::fabs(fbm(x + 2 * wx, y + 2 * wy, 16, 4, 3, 71)) * 6;
    const float whisker = clamp01(ridge);
    c = mix(c, Colour{255, 232, 190}, whisker * whisker * 0.8f);

    // Rivets, lit from the upper left.
    float dx, dy;
    const float h = rivet(x, y, dx, dy);
    if (h != 0) {
        const float lit = clamp01(0.55f + (-dx - dy) / (2 * RIVET_RADIUS) * (h > 0 ? 1.0f : -1.0f));
        const Colour metal = h > 0 ? mix(Colour{90, 48, 24}, Colour{255, 214, 150}, lit) : mix(c, Colour{20, 60, 52}, 0.6f);
        c = mix(c, metal, h > 0 ? clamp01(h * 4) : clamp01(-h * 4));
    }
    return c;
}

uint8_t channel(float v) {
    const float clamped = v < 0 ? 0 : v > 255 ? 255 : v;
    return static_cast<uint8_t>(clamped + 0.5f);
}

// A Windows bitmap: 14-byte file header, 40-byte information header, then
// 256 rows bottom-up of blue, green, red bytes.
std::vector<uint8_t> bitmap() {
    std::vector<uint8_t> b(BMP_PIXELS_AT + BMP_ROW * SIDE, 0);
    b[0] = 'B';
    b[1] = 'M';
    putU32(&b[BMP_FILE_SIZE_AT], static_cast<uint32_t>(b.size()));
    putU32(&b[BMP_PIXELS_OFFSET_AT], BMP_PIXELS_AT);
    putU32(&b[BMP_INFO_SIZE_AT], BMP_INFO);
    putU32(&b[BMP_WIDTH_AT], SIDE);
    putU32(&b[BMP_HEIGHT_AT], SIDE);  // positive: bottom-up
    putU16(&b[BMP_PLANES_AT], 1);
    putU16(&b[BMP_BITS_AT], BMP_BITS);
    putU32(&b[BMP_COMPRESSION_AT], 0);  // none
    putU32(&b[BMP_IMAGE_SIZE_AT], BMP_ROW * SIDE);
    putU32(&b[BMP_X_DENSITY_AT], BMP_72_DPI);
    putU32(&b[BMP_Y_DENSITY_AT], BMP_72_DPI);
    for (int row = 0; row < SIDE; row++) {
        const int y = SIDE - 1 - row;  // the first stored row is the bottom of the picture
        for (int x = 0; x < SIDE; x++) {
            const Colour c = texel(x, y);
            uint8_t* p = &b[BMP_PIXELS_AT + row * BMP_ROW + x * 3];
            p[0] = channel(c.b);
            p[1] = channel(c.g);
            p[2] = channel(c.r);
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.bmp\n", argv[0]);
        return 2;
    }
    const std::vector<uint8_t> b = bitmap();
    FILE* f = fopen(argv[1], "wb");
    if (!f || fwrite(b.data(), 1, b.size(), f) != b.size() || fclose(f) != 0) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
