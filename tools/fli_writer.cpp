// fli_writer: the FLI chunk encoders. Every run stays inside its line, every
// line has at most 255 packets and no run of size 0 is written, so FFmpeg,
// Pillow and the demo read the same pictures.
#include "fli_writer.h"

#include <algorithm>
#include <stdexcept>

namespace fliw {

namespace {

constexpr uint16_t COLOR_256 = 4, COLOR_64 = 11, LC = 12, BLACK = 13, BYTE_RUN = 15, COPY = 16;
constexpr uint16_t FILE_MAGIC = 0xAF11, FRAME_MAGIC = 0xF1FA;
constexpr int FILE_HDR = 128, FRAME_HDR = 16, CHUNK_HDR = 6;
constexpr int MAX_FILL = 127;      // BYTE_RUN fill: size byte 1..127
constexpr int MAX_LITERAL = 128;   // BYTE_RUN literal / LC fill: size byte -1..-128
constexpr int MAX_LC_LITERAL = 127;
constexpr int MAX_SKIP = 255;
constexpr int MAX_PACKETS = 255;
constexpr int MIN_FILL = 3;        // a shorter repeat costs no more as literal bytes

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(x & 0xFF);
    v.push_back(x >> 8 & 0xFF);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

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
    std::vector<uint8_t> out;
    put16(out, first);
    put16(out, last - first + 1);
    for (int y = first; y <= last; y++) lcLine(out, before.data() + y * W, after.data() + y * W);
    return out;
}

std::vector<uint8_t> CopyBody(const Picture& p) { return {p.begin(), p.end()}; }

std::vector<uint8_t> ColorBody(const Palette& before, const Palette& after, bool everything, bool wide8) {
    std::vector<uint8_t> out(2, 0);
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
    out[0] = packets & 0xFF;
    out[1] = packets >> 8;
    return packets ? out : std::vector<uint8_t>{};
}

std::vector<uint8_t> FrameRecord(const std::vector<FrameChunk>& chunks) {
    std::vector<uint8_t> body;
    for (const FrameChunk& c : chunks) {
        const uint32_t size = (CHUNK_HDR + c.body.size() + 1) & ~1u;  // padded to an even size
        put32(body, size);
        put16(body, c.type);
        body.insert(body.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2) body.push_back(0);
    }
    std::vector<uint8_t> out;
    put32(out, FRAME_HDR + body.size());
    put16(out, FRAME_MAGIC);
    put16(out, chunks.size());
    out.resize(FRAME_HDR, 0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<FrameChunk> FirstChunks(const Picture& p, const Palette& pal) {
    return {{COLOR_256, ColorBody(pal, pal, true, true)}, {BYTE_RUN, ByteRunBody(p)}};
}

std::vector<FrameChunk> DeltaChunks(const Picture& before, const Palette& beforePal, const Picture& after,
                                    const Palette& afterPal) {
    std::vector<FrameChunk> chunks;
    if (std::vector<uint8_t> colours = ColorBody(beforePal, afterPal, false, false); !colours.empty())
        chunks.push_back({COLOR_64, colours});
    if (before == after) return chunks;
    if (std::all_of(after.begin(), after.end(), [](uint8_t v) { return v == 0; })) {
        chunks.push_back({BLACK, {}});
        return chunks;
    }
    FrameChunk best{COPY, CopyBody(after)};
    for (FrameChunk c : {FrameChunk{LC, LcBody(before, after)}, FrameChunk{BYTE_RUN, ByteRunBody(after)}})
        if (c.body.size() < best.body.size()) best = c;
    chunks.push_back(best);
    return chunks;
}

std::vector<uint8_t> FliFile(uint16_t frames, uint16_t speed, const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> out;
    size_t size = FILE_HDR;
    for (const auto& r : records) size += r.size();
    put32(out, size);
    put16(out, FILE_MAGIC);
    put16(out, frames);
    put16(out, W);
    put16(out, H);
    put16(out, 8);  // bits a pixel
    put16(out, 0);  // flags
    put16(out, speed);
    out.resize(FILE_HDR, 0);
    for (const auto& r : records) out.insert(out.end(), r.begin(), r.end());
    return out;
}

}  // namespace fliw
