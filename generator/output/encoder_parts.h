// What the writers share: reading samples out of a SampleImage, writing integers in a
// file's byte order, a zlib deflate stream that appends to a byte vector, and each
// format's encoder, called by encodeTexture once it has checked the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "texture_encoder.h"

namespace output {

using Bytes = std::vector<unsigned char>;

// The first byte of row `row`.
inline const unsigned char* rowOf(const SampleImage& image, std::uint32_t row)
{
    return static_cast<const unsigned char*>(image.data) + static_cast<std::size_t>(row) * image.rowBytes;
}

// A sample in the machine's byte order, as SampleImage holds it.
inline std::uint16_t load16(const unsigned char* at)
{
    std::uint16_t value;
    std::memcpy(&value, at, 2);
    return value;
}
inline std::uint32_t load32(const unsigned char* at)
{
    std::uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}
inline float loadFloat(const unsigned char* at)
{
    float value;
    std::memcpy(&value, at, 4);
    return value;
}

inline void store16le(unsigned char* at, std::uint32_t value)
{
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}
inline void store32le(unsigned char* at, std::uint32_t value)
{
    store16le(at, value);
    store16le(at + 2, value >> 16);
}
inline void store64le(unsigned char* at, std::uint64_t value)
{
    store32le(at, static_cast<std::uint32_t>(value));
    store32le(at + 4, static_cast<std::uint32_t>(value >> 32));
}
inline void store32be(unsigned char* at, std::uint32_t value)
{
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

inline void put16le(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}
inline void put32le(Bytes& out, std::uint32_t value)
{
    put16le(out, value);
    put16le(out, value >> 16);
}
inline void put64le(Bytes& out, std::uint64_t value)
{
    put32le(out, static_cast<std::uint32_t>(value));
    put32le(out, static_cast<std::uint32_t>(value >> 32));
}
inline void putBytes(Bytes& out, const void* bytes, std::size_t count)
{
    const auto* from = static_cast<const unsigned char*>(bytes);
    out.insert(out.end(), from, from + count);
}

// A zlib deflate stream whose output goes onto the end of a byte vector. One object makes
// any number of streams in turn: each ends with finish(), and the next starts afresh with
// the same settings. The bytes depend only on zlib's version, the settings and the input,
// so every platform that links the same zlib makes the same ones.
class Deflater {
public:
    // Streams in zlib's wrapper (PNG, TIFF and OpenEXR all take it), 32 KiB window, zlib's
    // default memory level; `level` and `strategy` as deflateInit2 takes them.
    Deflater(int level, int strategy);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool ok() const { return ready_; }
    // Compresses `count` bytes onto the end of `out`.
    void write(const void* bytes, std::size_t count, Bytes& out) { run(bytes, count, false, out); }
    // Compresses the last `count` bytes of this stream and ends it.
    void finish(const void* bytes, std::size_t count, Bytes& out) { run(bytes, count, true, out); }

private:
    void run(const void* bytes, std::size_t count, bool finish, Bytes& out);
    void* stream_;  // z_stream, kept out of this header
    bool ready_ = false;
};

// Makes `count` pieces of a file that compress independently (TIFF's strips, OpenEXR's
// blocks) on up to `threads` threads (0: one a core): make(k, deflater, piece) puts piece
// k's bytes in `piece`, with a Deflater(level, strategy) of its thread's own. The pieces
// are the same bytes however many threads make them. False if zlib failed; a shortage of
// memory on any thread is thrown as std::bad_alloc.
bool makePieces(std::size_t count, int level, int strategy, unsigned threads,
                const std::function<void(std::size_t, Deflater&, Bytes&)>& make, std::vector<Bytes>& pieces);

// Runs work(k, thread) once for every k from 0 to count − 1, on up to `threads` threads (0:
// one a core) numbered from 0, each thread taking the next k in turn. A shortage of memory on
// any thread is thrown as std::bad_alloc once they have all stopped.
void shareWork(std::size_t count, unsigned threads, const std::function<void(std::size_t, unsigned)>& work);

// CRC-32 as PNG's chunks take it (zlib's).
std::uint32_t crc32Of(const unsigned char* bytes, std::size_t count, std::uint32_t crc = 0);

// Each format's encoder; the image is checked and its layout one that the format holds.
bool encodeTga(const SampleImage& image, Bytes& file);
bool encodePng(const SampleImage& image, Bytes& file);
bool encodeTiff(const SampleImage& image, unsigned threads, Bytes& file);
bool encodeExr(const SampleImage& image, bool half, unsigned threads, Bytes& file);

// The GPU's containers (DDS, KTX2): a chain of levels, checked by encodeTextureChain (one
// layout, each level half the one before, as the container counts them).
//
// How a container stores a level's texels uncompressed: `channels` samples a texel (the
// image's, or 4 where RGB is stored as RGBA with opaque alpha), floats as half floats when
// `half`, 8-bit colour as blue, green, red (and alpha) when `blueFirst`.
struct TexelStorage {
    unsigned channels;
    bool half;
    bool blueFirst;
};
std::size_t storedTexelBytes(SampleLayout layout, const TexelStorage& storage);
// Writes the level's rows, tightly packed, at `to` (storedTexelBytes × width × height bytes).
void storeTexels(const SampleImage& image, const TexelStorage& storage, unsigned threads, unsigned char* to);

// Bytes of one 4 × 4 block: 8 (BC1, BC4) or 16 (BC3, BC5).
std::size_t blockBytes(TextureCompression compression);
// Bytes of a level of width × height texels in blocks: a whole block for every started one.
std::uint64_t blockLevelBytes(std::uint32_t width, std::uint32_t height, TextureCompression compression);
// Compresses the level block by block at `to`, rows of blocks top to bottom, each left to
// right; the bytes never depend on `threads`. The image is 8-bit with the channels the
// compression takes (BC1 3, BC3 4, BC4 1, BC5 2).
void compressBlocks(const SampleImage& image, TextureCompression compression, unsigned threads, unsigned char* to);

bool encodeDds(const SampleImage* levels, std::size_t count, const ChainEncoding& encoding, Bytes& file);
bool encodeKtx2(const SampleImage* levels, std::size_t count, const ChainEncoding& encoding, Bytes& file);

}  // namespace output
