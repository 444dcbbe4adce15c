// fli_writer: encodes 320 x 200 pictures in 256 colours as an Autodesk FLI
// file (magic 0xAF11) the way FLI encoders do: the first frame a COLOR_256
// palette and a BYTE_RUN picture, every later frame a COLOR_64 chunk for the
// entries that changed, then BLACK for an all-black picture or the smallest of
// LC, BYTE_RUN and COPY. Links nothing but the C++ library.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace fliw {

constexpr int W = 320, H = 200;
constexpr int PIXELS = W * H;
constexpr int COLOURS = 256;

using Picture = std::array<uint8_t, PIXELS>;             // palette indices, row-major
using Palette = std::array<std::array<uint8_t, 3>, COLOURS>;  // 6-bit components, 0..63

// Chunk bodies (without the 6-byte chunk header).
std::vector<uint8_t> ByteRunBody(const Picture& p);
std::vector<uint8_t> LcBody(const Picture& before, const Picture& after);  // empty when nothing changed
std::vector<uint8_t> CopyBody(const Picture& p);
// Packets for the entries where `after` differs from `before` (all of them when
// `everything`); components shifted left by `shift` and widened by their top bits.
std::vector<uint8_t> ColorBody(const Palette& before, const Palette& after, bool everything, bool wide8);

// One frame record: header and chunks, each chunk padded to an even size.
struct FrameChunk {
    uint16_t type;
    std::vector<uint8_t> body;
};
std::vector<uint8_t> FrameRecord(const std::vector<FrameChunk>& chunks);

// The chunks that turn (before, beforePal) into (after, afterPal).
std::vector<FrameChunk> DeltaChunks(const Picture& before, const Palette& beforePal, const Picture& after,
                                    const Palette& afterPal);
// The chunks of the first frame.
std::vector<FrameChunk> FirstChunks(const Picture& p, const Palette& pal);

// A complete file: 128-byte header (frame count `frames`, speed in 1/70 s) and records.
std::vector<uint8_t> FliFile(uint16_t frames, uint16_t speed, const std::vector<std::vector<uint8_t>>& records);

}  // namespace fliw
