// make_robotrk OUT: renders the demo's animation, a robot walking a railway
// track through a sunset and a night, and writes it as an FLI file of 698
// frames plus a ring frame that leads back to the first one. The output is the
// same bytes on every run: the only randomness is a fixed linear congruential
// generator, and every picture is drawn in integer pixels from double maths.
#include <cmath>
#include <cstdio>
#include <vector>

#include "fli_writer.h"

namespace {

using fliw::H;
using fliw::Palette;
using fliw::Picture;
using fliw::W;

constexpr int FRAMES = 698;
constexpr int SPEED = 5;  // 1/70 s a frame: 14 frames a second

// ---- The story, in frames ------------------------------------------------------
constexpr int DUSK_FADE = 360;      // day palette fades out over the next FADE frames
constexpr int FADE = 24;
constexpr int FIRST_BLACK = 384;    // a black frame, then static
constexpr int STATIC_FIRST = 385;
constexpr int STATIC_LAST = 392;
constexpr int SECOND_BLACK = 393;
constexpr int NIGHT = 394;          // night palette fades in over FADE frames
constexpr int FINAL_FADE = FRAMES - 16;  // and out again at the end, ready for the ring frame

// ---- Palette layout: a ramp of indices for each kind of surface ------------------------
struct Ramp {
    int first, count;
};
constexpr Ramp SKY{1, 48};
constexpr Ramp SUN{49, 32};
constexpr Ramp FAR{81, 8};
constexpr Ramp NEAR{89, 8};
constexpr Ramp GROUND{97, 8};
constexpr Ramp TIE{105, 4};
constexpr Ramp RAIL{109, 4};
constexpr Ramp METAL{113, 32};
constexpr Ramp PAINT{145, 16};
constexpr Ramp GLOW{161, 16};
constexpr Ramp INK{177, 4};
constexpr Ramp CRATE{185, 16};
constexpr Ramp STAR{201, 8};
constexpr Ramp WINDOW{209, 8};
constexpr Ramp GREY{240, 16};

using Colour = std::array<double, 3>;  // 0..1

int ramp(Ramp r, double t) {
    const int k = static_cast<int>(t * r.count);
    return r.first + (k < 0 ? 0 : k >= r.count ? r.count - 1 : k);
}

void fillRamp(Palette& p, Ramp r, Colour a, Colour b) {
    for (int k = 0; k < r.count; k++) {
        const double t = r.count > 1 ? static_cast<double>(k) / (r.count - 1) : 0;
        for (int c = 0; c < 3; c++) p[r.first + k][c] = static_cast<uint8_t>(std::lround(63 * (a[c] + (b[c] - a[c]) * t)));
    }
}

// Two-stop ramp with a middle colour.
void fillRamp3(Palette& p, Ramp r, Colour a, Colour m, Colour b) {
    const Ramp lo{r.first, r.count / 2}, hi{r.first + r.count / 2, r.count - r.count / 2};
    fillRamp(p, lo, a, m);
    fillRamp(p, hi, m, b);
}

Palette dayPalette() {
    Palette p{};
    fillRamp3(p, SKY, {0.10, 0.05, 0.35}, {0.70, 0.20, 0.55}, {1.00, 0.62, 0.28});
    fillRamp(p, SUN, {1.00, 0.95, 0.35}, {1.00, 0.25, 0.55});
    fillRamp(p, FAR, {0.45, 0.16, 0.55}, {0.28, 0.08, 0.40});
    fillRamp(p, NEAR, {0.20, 0.06, 0.30}, {0.10, 0.02, 0.18});
    fillRamp(p, GROUND, {0.22, 0.10, 0.20}, {0.40, 0.22, 0.30});
    fillRamp(p, TIE, {0.16, 0.08, 0.06}, {0.40, 0.24, 0.14});
    fillRamp(p, RAIL, {0.40, 0.40, 0.50}, {1.00, 0.90, 0.80});
    fillRamp3(p, METAL, {0.12, 0.14, 0.24}, {0.50, 0.56, 0.70}, {1.00, 0.92, 0.80});
    fillRamp3(p, PAINT, {0.35, 0.04, 0.06}, {0.90, 0.25, 0.10}, {1.00, 0.75, 0.35});
    fillRamp(p, GLOW, {0.00, 0.45, 0.60}, {0.75, 1.00, 1.00});
    fillRamp(p, INK, {0.04, 0.02, 0.08}, {0.10, 0.05, 0.16});
    fillRamp3(p, CRATE, {0.25, 0.12, 0.04}, {0.65, 0.38, 0.14}, {0.95, 0.72, 0.35});
    fillRamp(p, STAR, {0.80, 0.60, 0.70}, {1.00, 0.90, 0.80});
    fillRamp(p, WINDOW, {0.60, 0.40, 0.20}, {1.00, 0.85, 0.40});
    fillRamp(p, GREY, {0.05, 0.05, 0.06}, {0.95, 0.95, 1.00});
    return p;
}

Palette nightPalette() {
    Palette p = dayPalette();
    fillRamp3(p, SKY, {0.00, 0.00, 0.06}, {0.03, 0.05, 0.20}, {0.10, 0.18, 0.42});
    fillRamp(p, SUN, {0.98, 0.98, 0.92}, {0.62, 0.70, 0.86});
    fillRamp(p, FAR, {0.06, 0.08, 0.20}, {0.03, 0.04, 0.12});
    fillRamp(p, NEAR, {0.03, 0.05, 0.12}, {0.01, 0.02, 0.06});
    fillRamp(p, GROUND, {0.04, 0.06, 0.12}, {0.10, 0.16, 0.28});
    fillRamp(p, TIE, {0.05, 0.06, 0.10}, {0.14, 0.18, 0.28});
    fillRamp(p, RAIL, {0.00, 0.50, 0.70}, {0.50, 1.00, 1.00});
    fillRamp3(p, METAL, {0.04, 0.06, 0.14}, {0.22, 0.30, 0.50}, {0.70, 0.85, 1.00});
    fillRamp3(p, PAINT, {0.20, 0.02, 0.20}, {0.60, 0.10, 0.60}, {1.00, 0.50, 1.00});
    fillRamp(p, GLOW, {1.00, 0.30, 0.10}, {1.00, 1.00, 0.60});
    fillRamp3(p, CRATE, {0.06, 0.06, 0.12}, {0.20, 0.22, 0.40}, {0.50, 0.60, 0.90});
    return p;
}

// The palette scaled toward black by t (1: unchanged); entry 0 stays black.
Palette faded(const Palette& p, double t) {
    Palette out{};
    for (int i = 1; i < fliw::COLOURS; i++)
        for (int c = 0; c < 3; c++) out[i][c] = static_cast<uint8_t>(std::lround(p[i][c] * t));
    return out;
}

// ---- Drawing ----------------------------------------------------------------------
struct Canvas {
    Picture px{};
    void put(int x, int y, int v) {
        if (x >= 0 && x < W && y >= 0 && y < H) px[y * W + x] = static_cast<uint8_t>(v);
    }
};

// Fixed generator, so that the stars and the static are the same on every run.
struct Lcg {
    uint32_t s;
    uint32_t next() {
        s = s * 1664525u + 1013904223u;
        return s >> 8;
    }
};

struct Vec {
    double x, y;
};

// A thick limb from a to b: an ink outline 2 pixels wide, shaded by how far the
// surface faces the light (from the upper right by day).
void capsule(Canvas& c, Vec a, Vec b, double r, Ramp shade, double dim) {
    const double o = r + 2;
    const int x0 = static_cast<int>(std::floor(std::min(a.x, b.x) - o)), x1 = static_cast<int>(std::ceil(std::max(a.x, b.x) + o));
    const int y0 = static_cast<int>(std::floor(std::min(a.y, b.y) - o)), y1 = static_cast<int>(std::ceil(std::max(a.y, b.y) + o));
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) {
            double t = len2 > 0 ? ((x - a.x) * dx + (y - a.y) * dy) / len2 : 0;
            t = t < 0 ? 0 : t > 1 ? 1 : t;
            const double ex = x - (a.x + t * dx), ey = y - (a.y + t * dy), d = std::sqrt(ex * ex + ey * ey);
            if (d > o) continue;
            if (d > r) {
                c.put(x, y, INK.first);
                continue;
            }
            const double facing = d > 0 ? (ex * 0.6 - ey * 0.8) / d : 0;  // towards the light
            c.put(x, y, ramp(shade, (0.55 + 0.45 * facing * (d / r)) * dim));
        }
}

// A box with rounded corners, outlined, lit from above and from the right.
void box(Canvas& c, double cx, double cy, double w, double h, double round, Ramp shade, double dim) {
    for (int y = static_cast<int>(cy - h / 2 - 2); y <= static_cast<int>(cy + h / 2 + 2); y++)
        for (int x = static_cast<int>(cx - w / 2 - 2); x <= static_cast<int>(cx + w / 2 + 2); x++) {
            const double qx = std::fabs(x - cx) - (w / 2 - round), qy = std::fabs(y - cy) - (h / 2 - round);
            const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
            const double d = std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - round;
            if (d > 2) continue;
            if (d > 0) {
                c.put(x, y, INK.first);
                continue;
            }
            const double u = (x - cx) / w, v = (y - cy) / h;
            const double edge = d > -3 ? 0.18 : 0;  // a bright rim just inside the outline
            c.put(x, y, ramp(shade, (0.62 + 0.5 * u - 0.55 * v + edge) * dim));
        }
}

void disc(Canvas& c, double cx, double cy, double r, int index) {
    for (int y = static_cast<int>(cy - r); y <= static_cast<int>(cy + r + 1); y++)
        for (int x = static_cast<int>(cx - r); x <= static_cast<int>(cx + r + 1); x++)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) c.put(x, y, index);
}

// ---- The scene ------------------------------------------------------------------------
constexpr int HORIZON = 138;
constexpr int RAIL_Y = 170;   // top of the rail the robot walks on
constexpr double SCROLL = 4;  // ground speed, pixels a frame

bool isNight(int f) { return f >= NIGHT; }

void sky(Canvas& c, int f) {
    for (int y = 0; y < HORIZON; y++)
        for (int x = 0; x < W; x++) c.put(x, y, ramp(SKY, static_cast<double>(y) / HORIZON));
    if (!isNight(f)) return;
    Lcg g{7};
    for (int k = 0; k < 90; k++) {
        const int x = g.next() % W, y = g.next() % (HORIZON - 30), phase = g.next() % 23;
        const bool bright = (f + phase) % 23 < 4;  // each star twinkles on its own beat
        c.put(x, y, ramp(STAR, bright ? 0.99 : 0.3));
        if (bright) {
            c.put(x + 1, y, STAR.first + 2);
            c.put(x - 1, y, STAR.first + 2);
            c.put(x, y + 1, STAR.first + 2);
            c.put(x, y - 1, STAR.first + 2);
        }
    }
}

// The sun sinks and its lower half is cut by bars that drift down; the night
// has a moon with craters instead.
void sunOrMoon(Canvas& c, int f) {
    const double r = isNight(f) ? 30 : 46;
    const double cx = isNight(f) ? 80 + (f - NIGHT) * 0.25 : 228;
    const double cy = isNight(f) ? 46 : 70 + f * 0.08;
    for (int y = static_cast<int>(cy - r); y <= static_cast<int>(cy + r); y++) {
        if (y < 0 || y >= HORIZON) continue;
        const double v = (y - (cy - r)) / (2 * r);
        if (!isNight(f) && y > cy - 6) {
            const int band = (y - static_cast<int>(cy) + f / 2) % 12;
            if (band < 1 + 5 * (y - cy) / r) continue;
        }
        for (int x = static_cast<int>(cx - r); x <= static_cast<int>(cx + r); x++)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) c.put(x, y, ramp(SUN, v));
    }
    if (isNight(f)) {
        disc(c, cx - 9, cy - 6, 7, SUN.first + 20);
        disc(c, cx + 10, cy + 8, 5, SUN.first + 22);
        disc(c, cx + 4, cy - 14, 3, SUN.first + 18);
    }
}

double ridge(double x, double a, double b, double d) {
    return a * std::sin(x * 0.013 + d) + b * std::sin(x * 0.037 + 2 * d) + 4 * std::sin(x * 0.091 + d);
}

void farLayer(Canvas& c, int f) {
    const double shift = f * (isNight(f) ? 0.25 : 0.5);  // the city is further off
    if (!isNight(f)) {
        for (int x = 0; x < W; x++) {
            const double wx = x + shift;
            const int top = static_cast<int>(98 + ridge(wx, 14, 8, 0.7));
            for (int y = top; y < HORIZON + 8; y++) c.put(x, y, ramp(FAR, (y - top) / 40.0));
        }
        return;
    }
    // A city: towers of changing height, windows lit in a pattern that holds still.
    for (int x = 0; x < W; x++) {
        const int wx = static_cast<int>(x + shift);
        const int lot = wx / 22;
        Lcg g{static_cast<uint32_t>(lot) * 2654435761u};
        const int top = 66 + static_cast<int>(g.next() % 50);
        const int inLot = wx % 22;
        if (inLot >= 18) continue;
        for (int y = top; y < HORIZON + 8; y++) {
            const bool window = inLot % 5 >= 2 && inLot % 5 <= 3 && (y - top) % 7 >= 3 && (y - top) % 7 <= 5 && y < HORIZON;
            const bool lit = window && (g.s >> ((y - top) / 7 + inLot / 5) & 1);
            c.put(x, y, lit ? ramp(WINDOW, ((y - top) % 7 - 3) / 3.0) : ramp(FAR, (y - top) / 80.0));
        }
    }
}

void nearLayer(Canvas& c, int f) {
    const double shift = f * 1.5;
    for (int x = 0; x < W; x++) {
        const double wx = x + shift;
        const int top = static_cast<int>(140 + ridge(wx * 1.7, 7, 5, 2.1));
        for (int y = top; y < RAIL_Y; y++) c.put(x, y, ramp(NEAR, (y - top) / 24.0));
    }
}

void track(Canvas& c, int f) {
    const int scroll = static_cast<int>(f * SCROLL);
    for (int y = RAIL_Y; y < H; y++)
        for (int x = 0; x < W; x++) c.put(x, y, ramp(GROUND, (y - RAIL_Y) / 30.0));
    for (int x = 0; x < W; x++) {
        const int t = (x + scroll) % 28;
        if (t < 12)
            for (int y = RAIL_Y + 6; y < RAIL_Y + 16; y++) c.put(x + (y - RAIL_Y) / 3, y, ramp(TIE, t < 2 ? 0.9 : (y - RAIL_Y - 6) / 10.0));
        for (int y = RAIL_Y; y < RAIL_Y + 6; y++) c.put(x, y, ramp(RAIL, y == RAIL_Y ? 0.99 : 0.7 - (y - RAIL_Y) / 8.0));
    }
}

// Crates come down the track; the robot jumps each one.
const int CRATES[] = {110, 230, 300, 470, 560, 640};
constexpr int CRATE_SIZE = 30;
constexpr int JUMP = 26;  // frames in the air

double crateX(int f, int spawn) { return W + 20 - (f - spawn) * SCROLL; }

void crates(Canvas& c, int f) {
    for (int spawn : CRATES) {
        const double x = crateX(f, spawn);
        if (f < spawn || x < -40) continue;
        const double cy = RAIL_Y - CRATE_SIZE / 2.0;
        box(c, x, cy, CRATE_SIZE, CRATE_SIZE, 2, CRATE, 1);
        for (int k = -1; k <= 1; k += 2)  // a cross brace
            for (int s = -12; s <= 12; s++) c.put(static_cast<int>(x + s), static_cast<int>(cy + k * s), INK.first + 1);
    }
}

double robotX(int f) {
    const int since = f >= NIGHT ? f - NIGHT : f;
    return std::min(118.0, (f >= NIGHT ? -40 : 20) + since * 3.0) + 6 * std::sin(f * 0.05);
}

// Height above the rail: a parabola while jumping a crate.
double lift(int f) {
    for (int spawn : CRATES) {
        const double gap = (crateX(spawn, spawn) - robotX(spawn) - 58) / SCROLL;  // frames until take-off
        const int takeoff = spawn + static_cast<int>(gap) - JUMP / 2 + 8;
        const int t = f - takeoff;
        if (t >= 0 && t < JUMP) {
            const double u = static_cast<double>(t) / JUMP;
            return 30 * 4 * u * (1 - u);
        }
    }
    return 0;
}

Vec at(Vec o, double len, double angle) { return {o.x + len * std::sin(angle), o.y + len * std::cos(angle)}; }

void leg(Canvas& c, Vec hip, double swing, double bend, bool airborne, double dim) {
    const Vec knee = at(hip, 22, swing);
    const Vec ankle = at(knee, 22, swing - bend);
    capsule(c, hip, knee, 7, METAL, dim);
    capsule(c, knee, ankle, 6, METAL, dim);
    box(c, ankle.x + 5, ankle.y + 3, 20, 8, 3, PAINT, dim * (airborne ? 0.9 : 1));
}

void arm(Canvas& c, Vec shoulder, double swing, double dim) {
    const Vec elbow = at(shoulder, 19, swing);
    const Vec hand = at(elbow, 18, swing + 0.9);
    capsule(c, shoulder, elbow, 6, METAL, dim);
    capsule(c, elbow, hand, 5, METAL, dim);
    capsule(c, hand, hand, 6, PAINT, dim);
}

void robot(Canvas& c, int f) {
    const bool night = isNight(f);
    const double period = night ? 16 : 22;  // it runs at night
    const double phase = 2 * M_PI * f / period;
    const double up = lift(f);
    const bool airborne = up > 0;
    const double stride = airborne ? 0.5 : night ? 0.75 : 0.55;
    const double bob = airborne ? 0 : 3 * std::fabs(std::sin(phase));
    const double x = robotX(f);
    const Vec hip{x, RAIL_Y - 50 - bob - up};
    const double s = airborne ? 0.9 : std::sin(phase) * stride;
    const double tuck = airborne ? 1.4 : 0;
    auto bend = [&](double p) { return tuck + std::max(0.0, std::sin(p)) * 0.9; };

    arm(c, {x + 4, hip.y - 40}, -s * 0.9 - (airborne ? 2.2 : 0), 0.6);                                // far arm
    leg(c, hip, airborne ? -0.4 : -s, airborne ? tuck : bend(phase + M_PI), airborne, 0.6);           // far leg
    box(c, x + 2, hip.y - 26, 42, 46, 8, PAINT, 1);                                                    // body
    box(c, x + 6, hip.y - 26, 16, 18, 4, METAL, 0.8);                                                  // chest panel
    disc(c, x + 6, hip.y - 26, 5, ramp(GLOW, 0.5 + 0.5 * std::sin(f * 0.4)));                         // chest light
    capsule(c, {x + 2, hip.y - 50}, {x + 2, hip.y - 56}, 5, METAL, 0.7);                              // neck
    const double nod = std::sin(phase * 2) * 1.5;
    const double hy = hip.y - 72 + nod;
    capsule(c, {x - 2, hy - 16}, {x - 6, hy - 30}, 1.5, METAL, 1);                                    // antenna
    disc(c, x - 6, hy - 31, 4, ramp(GLOW, (f / 6) % 2 ? 1.0 : 0.4));
    box(c, x + 2, hy, 44, 32, 9, METAL, 1);                                                            // head
    box(c, x + 12, hy - 1, 24, 12, 5, INK, 1);                                                         // visor
    const double look = std::sin(f * 0.03) * 3;
    disc(c, x + 14 + look, hy - 1, 4, ramp(GLOW, 0.99));                                               // eye
    disc(c, x + 14 + look, hy - 1, 2, GLOW.first + GLOW.count - 1);
    leg(c, hip, airborne ? 0.5 : s, airborne ? tuck : bend(phase), airborne, 1);                      // near leg
    arm(c, {x, hip.y - 40}, s * 0.9 - (airborne ? 2.4 : 0), 1);                                        // near arm
}

void staticNoise(Canvas& c, int f) {
    Lcg g{static_cast<uint32_t>(f) * 7919u + 1};
    const int roll = (f - STATIC_FIRST) * 37 % H;  // a brighter band rolls up the screen
    for (int y = 0; y < H; y++) {
        const bool band = std::abs(y - roll) < 14;
        for (int x = 0; x < W; x++) c.put(x, y, GREY.first + (band ? 8 + g.next() % 8 : g.next() % 12));
    }
}

Picture render(int f) {
    Canvas c;
    if (f == FIRST_BLACK || f == SECOND_BLACK) return c.px;
    if (f >= STATIC_FIRST && f <= STATIC_LAST) {
        staticNoise(c, f);
        return c.px;
    }
    sky(c, f);
    sunOrMoon(c, f);
    farLayer(c, f);
    nearLayer(c, f);
    track(c, f);
    crates(c, f);
    robot(c, f);
    return c.px;
}

Palette paletteOf(int f) {
    if (f < DUSK_FADE) return dayPalette();
    if (f < FIRST_BLACK) return faded(dayPalette(), static_cast<double>(FIRST_BLACK - 1 - f) / FADE);
    if (f <= SECOND_BLACK) {
        Palette p{};  // static: only the greys are lit
        const Palette day = dayPalette();
        for (int k = 0; k < GREY.count; k++) p[GREY.first + k] = day[GREY.first + k];
        return p;
    }
    if (f < NIGHT + FADE) return faded(nightPalette(), static_cast<double>(f - NIGHT + 1) / FADE);
    if (f >= FINAL_FADE) return faded(nightPalette(), static_cast<double>(FRAMES - f) / (FRAMES - FINAL_FADE + 1));
    return nightPalette();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_robotrk OUT.fli\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> records;
    Picture before{}, first{};
    Palette beforePal{}, firstPal{};
    for (int f = 0; f < FRAMES; f++) {
        const Picture pic = render(f);
        const Palette pal = paletteOf(f);
        records.push_back(fliw::FrameRecord(f == 0 ? fliw::FirstChunks(pic, pal) : fliw::DeltaChunks(before, beforePal, pic, pal)));
        if (f == 0) {
            first = pic;
            firstPal = pal;
        }
        before = pic;
        beforePal = pal;
    }
    records.push_back(fliw::FrameRecord(fliw::DeltaChunks(before, beforePal, first, firstPal)));  // the ring frame
    const std::vector<uint8_t> file = fliw::FliFile(FRAMES, SPEED, records);
    FILE* out = fopen(argv[1], "wb");
    if (!out || fwrite(file.data(), 1, file.size(), out) != file.size() || fclose(out) != 0) {
        fprintf(stderr, "make_robotrk: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
