// A picture's file as the readers that parse it themselves open it (PNG, TIFF, OpenEXR): a
// path in UTF-8, as every path inside the program, and offsets of 64 bits. The build picks
// one picture_file_*.cpp: the C library's 64-bit calls on Linux, the wide ones on Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

struct PictureFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using PictureFile = std::unique_ptr<std::FILE, PictureFileCloser>;

// Opens `path` for reading; null where it cannot be opened (on Windows also where it is not
// a file on disk: a device such as CON would be read for ever).
PictureFile openPictureFile(const char* path);
// Moves to `offset` bytes from the start, or on by `bytes` from here.
bool seekPictureFile(std::FILE* file, std::uint64_t offset);
bool skipInPictureFile(std::FILE* file, std::uint64_t bytes);
// The file's length in bytes (the position is left at the start).
bool pictureFileBytes(std::FILE* file, std::uint64_t& bytes);

// Reads of whole ranges of a file of known length: a range that reaches past the end is
// refused before anything is read, so a reader never reads outside the file whatever its
// offsets say.
class PictureFileRanges {
public:
    PictureFileRanges(std::FILE* file, std::uint64_t bytes) : file_(file), bytes_(bytes) {}
    std::uint64_t bytes() const { return bytes_; }
    bool holds(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= bytes_ && count <= bytes_ - offset;
    }
    bool read(std::uint64_t offset, void* to, std::size_t count) const
    {
        return holds(offset, count) && seekPictureFile(file_, offset) &&
               std::fread(to, 1, count, file_) == count;
    }

private:
    std::FILE* file_;
    std::uint64_t bytes_;
};
