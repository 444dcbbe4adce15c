// FLIplay: the animation volume. The frame volume, the in-memory copy of the
// FLI file, the frame and chunk walk, the chunk decoders and the playback
// helpers. Everything is global, static and zero at start; nothing is freed.
//
// In the order the program meets it: FLImainLoad reads the file with FLIload
// (which also fills the noise slots), then walks its frames, decoding every
// chunk into vga_screen and rgb and expanding each frame into the next slot of
// `frames`. The FLI format's own vocabulary comes next, the playback helpers
// after it, and last what only the tests, the tools and the fuzzer use.
#pragma once

#include <cstdint>
#include <cstdio>

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

// Loads "robotrk.fli" and walks 698 frames into slots 1..698, starting from a
// clean walk (first frame header, black picture and palette). Leaves flii after
// the 698th frame. Once the call's work is spent, frames are walked by their
// headers alone and their slots repeat the picture.
void FLImainLoad();

// ---- Animation file ---------------------------------------------------------
// Bytes of file data kept after the header (32 MiB). The fast fuzzer's build
// sets a smaller store, which its inputs can fill to the end.
#ifndef VELMORANTE_FLI_STORE
#define VELMORANTE_FLI_STORE 33554432u
#endif
constexpr uint32_t FLI_STORE = VELMORANTE_FLI_STORE;
constexpr char FLI_FILE[] = "robotrk.fli";

struct FliHeader {
    uint32_t size;
    uint16_t magic, frames, width, height, depth, flags, speed;
    uint8_t raw[128];  // the header's bytes as read
};

extern uint8_t fli[FLI_STORE];  // file bytes 128 .. size-1; zero beyond what was copied
extern FliHeader FLIhdr;        // the file's first 128 bytes

// Reads `path`: the header into FLIhdr, the next size-128 bytes into fli (never
// more than the store holds; bytes past the end of the file read as 255), then
// fills the noise slots 700..767 with one demoRand() a pixel. A file that cannot
// be opened, or is not a regular file, is named on stderr and leaves everything
// untouched.
void FLIload(const char* path);

// ---- Data files ---------------------------------------------------------------
// Opens `path` for reading when it is a regular file. A folder, a FIFO, a
// device or a socket is refused without being read and without blocking, with
// *why saying what it is ("a folder, not a file", ...); for any other failure
// *why is null and errno tells. The three loaders and velmorante-capture open
// the data files through it.
FILE* openDataFile(const char* path, const char** why);
// openDataFile for the loaders: null after one line on stderr, "velmorante:
// cannot open WHAT file "PATH"; OUTCOME", with the reason in brackets after
// the name unless the file is missing (a folder, permission denied, ...).
FILE* openAsset(const char* what, const char* path, const char* outcome);

// ---- Pseudo-random numbers ----------------------------------------------------
// The noise of the volume and of the sound comes from this generator: glibc's
// rand() sequence (its additive feedback generator), reproduced so that every
// machine draws the same numbers. Nothing seeds it; it starts as srand(1).
int demoRand();                 // 0 .. 2^31 - 1, the next number, like rand()
void demoSrand(uint32_t seed);  // starts the sequence again, like srand(seed)

// ---- Frame and chunk walk -------------------------------------------------------
struct FrameHeader {
    uint32_t size;
    uint16_t magic, chunks;
    uint8_t reserved[8];
};

struct ChunkHeader {
    uint32_t size;
    uint16_t type;
};

extern uint32_t flii;        // read cursor into fli; decoders start at it and advance it
extern uint32_t nextflii;    // start of the next frame: frame start + frame size (wraps)
extern uint32_t nextchunk;   // start of the next chunk: chunk start + chunk size (wraps)
extern uint32_t nframe;      // frames walked; the last slot written during a load
extern uint16_t yline;       // LC line counter, 0 at every frame start, wraps at 65,536
extern FrameHeader FRMhdr;   // the current frame header
extern ChunkHeader CHKhdr;   // the current chunk header

// Decodes the chunk whose data starts at flii through the decoder for `type`;
// any other type puts CHKhdr.type as a "%d\n" line for standard output
// (putLine, written by the end of the walk call) and decodes nothing.
void DoType(uint16_t type);

// ---- Chunk decoders ---------------------------------------------------------------
constexpr uint32_t PALETTE_SIZE = 256;       // entries of rgb
constexpr uint32_t PIXEL_MASK = 0x00FFFFFF;  // pixel words keep their top byte 0

extern uint8_t vga_screen[SLOT_WORDS];  // the current 8-bit picture, 320 x 200, row 0 at the top
extern uint32_t rgb[PALETTE_SIZE];      // the current palette, 0x00RRGGBB

// Palette packets at flii (selector 0: COLOR_256, 1: COLOR_64, shifted by 2,
// not masked; the top byte is cleared). Entries past 255 are dropped. flii ends
// after the last packet.
void FliColor(int shift_selector);
// LC delta at flii; rows count on from yline. Pixels past 63,999 are dropped.
// flii ends after the last line.
void FliLc();
// Picture all index 0, and rgb[0] black. flii stays.
void FliBlack();
// Byte runs for FLIhdr.height lines, one position running on across lines.
// Height 0 returns at once; otherwise flii ends after the last packet.
void FliBrun();
// 64,000 picture bytes from flii; flii moves past them.
void FliCopy();

// ---- The FLI format ------------------------------------------------------------------
// Little-endian throughout. A name ending in _BYTES is a length, one ending in
// _AT an offset from the start of its header or of its chunk's data.
constexpr uint32_t FLI_HEADER_BYTES = 128;  // byte 0 of `fli` is file byte 128
constexpr int FLI_SIZE_AT = 0;              // u32: length of the whole file
constexpr int FLI_MAGIC_AT = 4;             // u16: FLI_MAGIC (not checked)
constexpr int FLI_FRAMES_AT = 6;            // u16: frame count (not used: the walk is always 698 frames)
constexpr int FLI_WIDTH_AT = 8;             // u16
constexpr int FLI_HEIGHT_AT = 10;           // u16: lines of a BYTE_RUN chunk
constexpr int FLI_DEPTH_AT = 12;            // u16: bits a pixel
constexpr int FLI_FLAGS_AT = 14;            // u16
constexpr int FLI_SPEED_AT = 16;            // u16: time between frames
constexpr uint16_t FLI_MAGIC = 0xAF11;
static_assert(sizeof FliHeader{}.raw == FLI_HEADER_BYTES, "the header's bytes as read");

// Frame header: the frame's own length (header included), a magic, the number
// of chunks, reserved bytes.
constexpr uint32_t FRAME_HEADER_BYTES = 16;
constexpr int FRAME_SIZE_AT = 0;           // u32
constexpr int FRAME_MAGIC_AT = 4;          // u16: FRAME_MAGIC (copied, not checked)
constexpr int FRAME_CHUNKS_AT = 6;         // u16
constexpr int FRAME_RESERVED_AT = 8;
constexpr int FRAME_RESERVED_BYTES = 8;
constexpr uint16_t FRAME_MAGIC = 0xF1FA;
static_assert(sizeof FrameHeader{}.reserved == FRAME_RESERVED_BYTES, "reserved bytes as read");

// Chunk header: the chunk's own length (header included) and its type; the
// chunk's data follows.
constexpr uint32_t CHUNK_HEADER_BYTES = 6;
constexpr int CHUNK_SIZE_AT = 0;  // u32
constexpr int CHUNK_TYPE_AT = 4;  // u16

// Chunk types that the decoders handle.
constexpr uint16_t CHUNK_COLOR_256 = 4;  // palette packets, 8-bit components
constexpr uint16_t CHUNK_COLOR_64 = 11;  // palette packets, 6-bit components
constexpr uint16_t CHUNK_LC = 12;        // line-compressed delta
constexpr uint16_t CHUNK_BLACK = 13;     // whole picture index 0
constexpr uint16_t CHUNK_BYTE_RUN = 15;  // run-length full picture
constexpr uint16_t CHUNK_COPY = 16;      // uncompressed full picture

// COLOR_256 and COLOR_64: a u16 packet count, then packets of a skip byte and a
// count byte (0 means COLOR_FULL_COUNT), each followed by that many r, g, b.
constexpr uint32_t COLOR_COUNT_BYTES = 2;
constexpr uint32_t COLOR_PACKET_BYTES = 2;
constexpr uint32_t COLOR_ENTRY_BYTES = 3;
constexpr uint32_t COLOR_FULL_COUNT = 256;
constexpr unsigned COLOR_64_SHIFT = 2;  // 6-bit components become 0..252

// LC: a u16 count of rows to skip and a u16 line count; each line a packet
// count byte, then packets of a column skip byte and a signed size byte: n > 0
// literal bytes follow, n < 0 one byte fills -n pixels.
constexpr int LC_SKIP_AT = 0;
constexpr int LC_LINES_AT = 2;
constexpr uint32_t LC_HEADER_BYTES = 4;
constexpr uint32_t LC_PACKET_BYTES = 2;

// BYTE_RUN: for each of FLIhdr.height lines a packet count byte, then packets of
// a signed size byte: n > 0 one byte fills n pixels, n < 0 -n literal bytes
// follow. COPY: SLOT_WORDS literal bytes.

// ---- Frame playback helpers -------------------------------------------------------
// The frame header at flii into FRMhdr; nextflii = flii + size; flii += 16.
void ReadFrameHDR();
// The chunk header at flii into CHKhdr; nextchunk = flii + size; flii += 6.
void ReadChunkHDR();
// Decodes the frame at flii into vga_screen and rgb; flii = nextflii, nframe + 1.
void FLIplay();
// Walks on from flii: a frame, nframe + 1, its picture into slot nframe; again
// while nframe <= 697. A frame with no slot left (past 767) is walked, not kept.
void MainFLI();
// The current picture through the palette into 64,000 packed words at `dest`.
void FLIshow(uint32_t* dest);

// ---- For the tests, the tools and the fuzzer -------------------------------------------
// FLIload for a file already in memory (`length` bytes), without the noise
// slots: the fuzzer and the tests feed the walk this way.
void FLIloadMemory(const uint8_t* file, uint64_t length);

// Everything a walk reads or writes back to its start-up value (cursors,
// headers, black picture and palette), as FLImainLoad does before it walks.
void FLIwalkReset();

// What one walk call (FLImainLoad, MainFLI, FLIplay) may spend, in units of
// one header or data byte read. No well-formed file comes near it (a file
// holds at most 32 MiB, each byte read once); it bounds what a hostile one
// costs. The fuzzers' builds set a smaller one so that each run stays short,
// and the fast one fewer lines, which nobody reads there.
#ifndef VELMORANTE_WALK_WORK
#define VELMORANTE_WALK_WORK (2ull * FLI_STORE)
#endif
#ifndef VELMORANTE_UNHANDLED_LINES
#define VELMORANTE_UNHANDLED_LINES 65535u
#endif
constexpr uint64_t WALK_WORK = VELMORANTE_WALK_WORK;
constexpr uint64_t BLACK_WORK = SLOT_WORDS / 64;                  // units for clearing the picture
constexpr uint32_t UNHANDLED_LINES = VELMORANTE_UNHANDLED_LINES;  // lines a walk call prints for unhandled chunk types

// The one pair of little-endian writers of the FLI encoder, the tests' file
// builder and the benchmarks: v at `at` and the next one or three bytes.
inline void putU16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}
inline void putU32(uint8_t* at, uint32_t v) {
    putU16(at, static_cast<uint16_t>(v));
    putU16(at + 2, static_cast<uint16_t>(v >> 16));
}
