// Building FLI files in memory for the tests: chunks, frames and a header,
// each size field either the true one or one given on purpose.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "support.h"

using Bytes = std::vector<uint8_t>;

// v appended, little-endian, through the format's own writers.
inline void put16(Bytes& b, uint32_t v) {
    b.resize(b.size() + 2);
    putU16(&b[b.size() - 2], static_cast<uint16_t>(v));
}
// Appends bytes without vector::insert, whose inlined copies GCC 12 misreads as overflows.
inline void append(Bytes& b, std::initializer_list<uint8_t> bytes) {
    const size_t n = b.size();
    b.resize(n + bytes.size());
    std::copy(bytes.begin(), bytes.end(), b.begin() + n);
}

inline void append(Bytes& b, const Bytes& more) {
    const size_t n = b.size();
    b.resize(n + more.size());
    std::copy(more.begin(), more.end(), b.begin() + n);
}

inline void put32(Bytes& b, uint32_t v) {
    b.resize(b.size() + 4);
    putU32(&b[b.size() - 4], v);
}

constexpr int64_t TRUE_SIZE = -1;

// A chunk: header (size, type) and body; `size` overrides the size field.
inline Bytes chunk(uint16_t type, const Bytes& body, int64_t size = TRUE_SIZE) {
    Bytes b(CHUNK_HEADER_BYTES);
    putU32(&b[CHUNK_SIZE_AT], size == TRUE_SIZE ? CHUNK_HEADER_BYTES + body.size() : static_cast<uint32_t>(size));
    putU16(&b[CHUNK_TYPE_AT], type);
    append(b, body);
    return b;
}

// A frame of the given chunks; `size` and `count` override the header fields.
inline Bytes frame(const std::vector<Bytes>& chunks, int64_t size = TRUE_SIZE, int count = -1) {
    Bytes body;
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes b(FRAME_HEADER_BYTES, 0);
    putU32(&b[FRAME_SIZE_AT], size == TRUE_SIZE ? FRAME_HEADER_BYTES + body.size() : static_cast<uint32_t>(size));
    putU16(&b[FRAME_MAGIC_AT], FRAME_MAGIC);
    putU16(&b[FRAME_CHUNKS_AT], static_cast<uint16_t>(count < 0 ? chunks.size() : count));
    append(b, body);
    return b;
}

// A whole file: header with the true size (or `size`), then the frames.
inline Bytes fliFile(const std::vector<Bytes>& frames, uint16_t height = FLI_H, int64_t size = TRUE_SIZE) {
    Bytes body;
    for (const Bytes& f : frames) body.insert(body.end(), f.begin(), f.end());
    Bytes b = fliHeader(size == TRUE_SIZE ? FLI_HEADER_BYTES + body.size() : static_cast<uint32_t>(size),
                        static_cast<uint16_t>(frames.size()), height);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// Chunk bodies.
inline Bytes colorBody(uint8_t skip, uint8_t count, const Bytes& components) {
    Bytes b(4 + components.size());
    b[0] = 1;  // one packet
    b[2] = skip;
    b[3] = count;
    std::copy(components.begin(), components.end(), b.begin() + 4);
    return b;
}

// A picture of 200 lines where every line is one fill of `index` over 320
// pixels (three packets: 127 + 127 + 66).
inline Bytes solidByteRun(uint8_t index) {
    Bytes b;
    for (int y = 0; y < FLI_H; y++) append(b, {3, 127, index, 127, index, 66, index});
    return b;
}

// Slot s of the volume as a vector.
inline std::vector<uint32_t> slot(uint32_t s) {
    return {frames + s * SLOT_WORDS, frames + (s + 1) * SLOT_WORDS};
}

inline bool slotIs(uint32_t s, uint32_t word) {
    for (uint32_t k = 0; k < SLOT_WORDS; k++)
        if (frames[s * SLOT_WORDS + k] != word) return false;
    return true;
}
