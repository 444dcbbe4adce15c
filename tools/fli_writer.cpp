// fli_writer: the FLI chunk encoders. Every run stays inside its line, every
// line has at most 255 packets and no run of size 0 is written, so FFmpeg,
// Pillow and the demo read the same pictures.
#include "fli_writer.h"

#include <algorithm>
#include <stdexcept>

#include "FLIplay.h"

namespace fliw {

namespace {

static_assert(W == FLI_W && H == FLI_H && PIXELS == static_cast<int>(SLOT_WORDS), "the decoder's picture");
static_assert(COLOURS == static_cast<int>(PALETTE_SIZE) && COLOURS == static_cast<int>(COLOR_FULL_COUNT), "one palette");

constexpr uint16_t BITS_PER_PIXEL = 8;
constexpr int MAX_FILL = 127;      // BYTE_RUN fill: size byte 1..127
constexpr int MAX_LITERAL = 128;   // BYTE_RUN literal / LC fill: size byte -1..-128
constexpr int MAX_LC_LITERAL = 127;
constexpr int MAX_SKIP = 255;
constexpr int MAX_PACKETS = 255;
constexpr int MIN_FILL = 3;        // a shorter repeat costs no more as literal bytes

int repeatAt(const uint8_t* row, int x, int end) {
    int n = 1;
    while (x + n < end && row[x + n] == row[x]) n++;
    return n;
}

// BYTE_RUN packets of one line.
void byteRunLine(std::vector<uint8_t>& out, const uint8_t* row) {
    std::vector<uint8_t> packets;
    int count = 0;
    for (int x = 0; x < W;) {
        const int rep = repeatAt(row, x, W);
        if (rep >= MIN_FILL) {
            const int n = std::min(rep, MAX_FILL);
            packets.push_back(static_cast<uint8_t>(n));
            packets.push_back(row[x]);
            x += n;
        } else {
            int n = 0;
            while (x + n < W && n < MAX_LITERAL && repeatAt(row, x + n, W) < MIN_FILL) n++;
            packets.push_back(static_cast<uint8_t>(-n));
            packets.insert(packets.end(), row + x, row + x + n);
            x += n;
        }
        count++;
    }
    if (count > MAX_PACKETS) throw std::runtime_error("BYTE_RUN line with more than 255 packets");
    out.push_back(static_cast<uint8_t>(count));
    out.insert(out.end(), packets.begin(), packets.end());
}

// LC packets of one line: the changed stretches, short unchanged gaps folded in.
void lcLine(std::vector<uint8_t>& out, const uint8_t* before, const uint8_t* after) {
    std::vector<uint8_t> packets;
    int count = 0, x = 0;
    auto changed = [&](int i) { return before[i] != after[i]; };
    for (;;) {
        int c = x;
        while (c < W && !changed(c)) c++;
        if (c == W) break;
        while (c - x > MAX_SKIP) {  // a long gap: rewrite one unchanged pixel to get past it
            packets.insert(packets.end(), {MAX_SKIP, 1, after[x + MAX_SKIP]});
            x += MAX_SKIP + 1;
            count++;
        }
        int end = c;  // the stretch: changes with gaps of at most 2 unchanged pixels
        while (end < W) {
            if (changed(end)) { end++; continue; }
            int g = end;
            while (g < W && !changed(g) && g - end < 3) g++;
            if (g < W && changed(g) && g - end < 3) end = g; else break;
        }
        bool first = true;
        for (int s = c; s < end;) {
            const int skip = first ? c - x : 0;
            first = false;
            const int rep = repeatAt(after, s, end);
            if (rep >= MIN_FILL) {
                const int n = std::min(rep, MAX_LITERAL);
                packets.insert(packets.end(), {static_cast<uint8_t>(skip), static_cast<uint8_t>(-n), after[s]});
                s += n;
            } else {
                int n = 0;
                while (s + n < end && n < MAX_LC_LITERAL && repeatAt(after, s + n, end) < MIN_FILL) n++;
                packets.push_back(static_cast<uint8_t>(skip));
                packets.push_back(static_cast<uint8_t>(n));
                packets.insert(packets.end(), after + s, after + s + n);
                s += n;
            }
            count++;
        }
        x = end;
    }
    if (count > MAX_PACKETS) throw std::runtime_error("LC line with more than 255 packets");
    out.push_back(static_cast<uint8_t>(count));
    out.insert(out.end(), packets.begin(), packets.end());
}

uint8_t widen(uint8_t c6) { return static_cast<uint8_t>(c6 << 2 | c6 >> 4); }

}  // namespace

std::vector<uint8_t> ByteRunBody(const Picture& p) {
    std::vector<uint8_t> out;
    for (int y = 0; y < H; y++) byteRunLine(out, p.data() + y * W);
    return out;
}

std::vector<uint8_t> LcBody(const Picture& before, const Picture& after) {
    int first = 0, last = H - 1;
    auto rowSame = [&](int y) { return std::equal(before.begin() + y * W, before.begin() + (y + 1) * W, after.begin() + y * W); };
    while (first < H && rowSame(first)) first++;
    if (first == H) return {};
    while (rowSame(last)) last--;
    std::vector<uint8_t> out(LC_HEADER_BYTES);
    putU16(&out[LC_SKIP_AT], static_cast<uint16_t>(first));
    putU16(&out[LC_LINES_AT], static_cast<uint16_t>(last - first + 1));
    for (int y = first; y <= last; y++) lcLine(out, before.data() + y * W, after.data() + y * W);
    return out;
}

std::vector<uint8_t> CopyBody(const Picture& p) { return {p.begin(), p.end()}; }

std::vector<uint8_t> ColorBody(const Palette& before, const Palette& after, bool everything, bool wide8) {
    std::vector<uint8_t> out(COLOR_COUNT_BYTES, 0);
    int packets = 0, i = 0, last = 0;
    while (i < COLOURS) {
        if (!everything && before[i] == after[i]) { i++; continue; }
        int n = 1;
        while (i + n < COLOURS && (everything || before[i + n] != after[i + n])) n++;
        out.push_back(static_cast<uint8_t>(i - last));
        out.push_back(static_cast<uint8_t>(n == COLOURS ? 0 : n));  // 0 means 256
        for (int k = i; k < i + n; k++)
            for (uint8_t c : after[k]) out.push_back(wide8 ? widen(c) : c);
        i += n;
        last = i;
        packets++;
    }
    putU16(out.data(), static_cast<uint16_t>(packets));
    return packets ? out : std::vector<uint8_t>{};
}

std::vector<uint8_t> FrameRecord(const std::vector<FrameChunk>& chunks) {
    std::vector<uint8_t> out(FRAME_HEADER_BYTES, 0);
    for (const FrameChunk& c : chunks) {
        const uint32_t size = (CHUNK_HEADER_BYTES + c.body.size() + 1) & ~1u;  // padded to an even size
        const size_t at = out.size();
        out.resize(at + size, 0);
        putU32(&out[at + CHUNK_SIZE_AT], size);
        putU16(&out[at + CHUNK_TYPE_AT], c.type);
        std::copy(c.body.begin(), c.body.end(), out.begin() + at + CHUNK_HEADER_BYTES);
    }
    putU32(&out[FRAME_SIZE_AT], static_cast<uint32_t>(out.size()));
    putU16(&out[FRAME_MAGIC_AT], FRAME_MAGIC);
    putU16(&out[FRAME_CHUNKS_AT], static_cast<uint16_t>(chunks.size()));
    return out;
}

std::vector<FrameChunk> FirstChunks(const Picture& p, const Palette& pal) {
    return {{CHUNK_COLOR_256, ColorBody(pal, pal, true, true)}, {CHUNK_BYTE_RUN, ByteRunBody(p)}};
}

std::vector<FrameChunk> DeltaChunks(const Picture& before, const Palette& beforePal, const Picture& after,
                                    const Palette& afterPal) {
    std::vector<FrameChunk> chunks;
    if (std::vector<uint8_t> colours = ColorBody(beforePal, afterPal, false, false); !colours.empty())
        chunks.push_back({CHUNK_COLOR_64, colours});
    if (before == after) return chunks;
    if (std::all_of(after.begin(), after.end(), [](uint8_t v) { return v == 0; })) {
        chunks.push_back({CHUNK_BLACK, {}});
        return chunks;
    }
    FrameChunk best{CHUNK_COPY, CopyBody(after)};
    for (FrameChunk c : {FrameChunk{CHUNK_LC, LcBody(before, after)}, FrameChunk{CHUNK_BYTE_RUN, ByteRunBody(after)}})
        if (c.body.size() < best.body.size()) best = c;
    chunks.push_back(best);
    return chunks;
}

std::vector<uint8_t> FliFile(uint16_t frames, uint16_t speed, const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> out(FLI_HEADER_BYTES, 0);
    for (const auto& r : records) out.insert(out.end(), r.begin(), r.end());
    putU32(&out[FLI_SIZE_AT], static_cast<uint32_t>(out.size()));
    putU16(&out[FLI_MAGIC_AT], FLI_MAGIC);
    putU16(&out[FLI_FRAMES_AT], frames);
    putU16(&out[FLI_WIDTH_AT], W);
    putU16(&out[FLI_HEIGHT_AT], H);
    putU16(&out[FLI_DEPTH_AT], BITS_PER_PIXEL);
    putU16(&out[FLI_SPEED_AT], speed);  // flags stay 0
    return out;
}

}  // namespace fliw
