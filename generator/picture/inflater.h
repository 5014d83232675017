// A zlib stream inflated a piece at a time, and CRC-32, for the picture readers (PNG's image
// data and chunks, TIFF's deflate strips, OpenEXR's ZIP blocks). The build picks the library
// beneath, one file each: ISA-L on Linux (inflater_isal.cpp: two to three times as fast as
// zlib, and inflating is most of the work of reading a PNG), zlib where ISA-L is not built
// (inflater_zlib.cpp: Windows, whose cross build has zlib alone). Both read the same streams
// the same way: the zlib wrapper's header and Adler-32 are checked, a stream that ends is
// ended, bytes after its end are never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class Inflater {
public:
    enum class Result {
        kMore,   // stopped for want of input or of room for output; the stream goes on
        kEnd,    // the stream ended (this call or before)
        kError,  // not a zlib stream, or a broken one
    };

    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Whether the library's state could be had; an inflater without it fails every run.
    bool ok() const { return state_ != nullptr; }
    // Starts a new stream (and forgets the buffers).
    void reset();
    // Inflates from nextIn (availIn bytes) into nextOut (availOut bytes) as far as either
    // goes, moving them on past what it read and wrote.
    Result run();

    const std::uint8_t* nextIn = nullptr;
    std::uint32_t availIn = 0;
    std::uint8_t* nextOut = nullptr;
    std::uint32_t availOut = 0;

private:
    struct State;
    struct StateDeleter {
        void operator()(State* state) const;
    };
    std::unique_ptr<State, StateDeleter> state_;
    bool ended_ = false;
};

// The CRC-32 of `bytes` continuing `crc` (0 to start), as PNG's chunks and gzip take it.
std::uint32_t crc32Update(std::uint32_t crc, const void* bytes, std::size_t count);
