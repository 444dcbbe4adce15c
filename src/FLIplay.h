// FLIplay: the animation volume. The frame volume, the in-memory copy of the
// FLI file, the frame and chunk walk, the chunk decoders and the playback
// helpers. Everything is global, static and zero at start; nothing is freed.
#pragma once

#include <cstdint>

// ---- Frame volume -----------------------------------------------------------
constexpr int FLI_W = 320;                                  // picture width, pixels
constexpr int FLI_H = 200;                                  // picture height, rows
constexpr uint32_t SLOT_WORDS = FLI_W * FLI_H;              // 64,000 words a slot
constexpr uint32_t SLOTS = 768;                             // slots in the volume
constexpr uint32_t VOLUME_WORDS = SLOTS * SLOT_WORDS;       // 49,152,000 words
constexpr uint32_t NOISE_FIRST_SLOT = 700;                  // slots 700..767 hold grey noise
constexpr uint32_t ANIM_FRAMES = 698;                       // frames walked into slots 1..698
static_assert(VOLUME_WORDS == 49152000u, "volume size");

extern uint32_t frames[VOLUME_WORDS];  // slot s, row y, column x at s*64000 + y*320 + x; 0x00RRGGBB

// ---- Animation file ---------------------------------------------------------
constexpr uint32_t FLI_STORE = 33554432;   // bytes of file data kept after the header (32 MiB)
constexpr uint32_t FLI_HEADER_SIZE = 128;  // file header; byte 0 of `fli` is file byte 128
constexpr char FLI_FILE[] = "robotrk.fli";

// File header, little-endian in the file. Only size and height are used.
constexpr int FLIHDR_SIZE = 0;     // u32: length of the whole file
constexpr int FLIHDR_MAGIC = 4;    // u16: 0xAF11 for FLI (not checked)
constexpr int FLIHDR_FRAMES = 6;   // u16: frame count (not used: the walk is always 698 frames)
constexpr int FLIHDR_WIDTH = 8;    // u16
constexpr int FLIHDR_HEIGHT = 10;  // u16: lines of a BYTE_RUN chunk
constexpr int FLIHDR_DEPTH = 12;   // u16
constexpr int FLIHDR_FLAGS = 14;   // u16
constexpr int FLIHDR_SPEED = 16;   // u16

struct FliHeader {
    uint32_t size;
    uint16_t magic, frames, width, height, depth, flags, speed;
    uint8_t raw[FLI_HEADER_SIZE];  // the 128 bytes as read
};

extern uint8_t fli[FLI_STORE];  // file bytes 128 .. size-1; zero beyond what was copied
extern FliHeader FLIhdr;        // the file's first 128 bytes

// Reads `path`: the header into FLIhdr, the next size-128 bytes into fli (never
// more than the store holds; bytes past the end of the file read as 255), then
// fills the noise slots 700..767 with one rand() a pixel. A file that cannot be
// opened is named on stderr and leaves everything untouched.
void FLIload(const char* path);

// Loads "robotrk.fli" and walks its frames into slots 1..698.
void FLImainLoad();
