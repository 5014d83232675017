// The checks a file of a format passes before OpenImageIO 2.4's reader of that format opens
// it: where that reader would let a hostile file crash the program, hang it or fill
// gigabytes, the file is read first, cheaply, and refused. Each returns kOk or the status
// the file is refused with. One file each: jpeg_guard.cpp, sgi_guard.cpp, dds_guard.cpp,
// softimage_guard.cpp, ico_guard.cpp, and dpx_guard.cpp for DPX and Cineon.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace format_guards {

// An open file, closed when it goes.
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
inline File openFile(const char* path) { return File(std::fopen(path, "rb"), std::fclose); }

// JPEG: reads the markers. On kOk, the frame's size and the bytes libjpeg will hold beside
// the pixels (its coefficients, where it keeps them all) in `readerBytes`.
int checkJpegMarkers(const char* path, std::uint64_t& width, std::uint64_t& height, std::uint64_t& readerBytes);

// SGI: the header, the tables of rows and every run.
int checkSgi(const char* path);

// DDS: the channel masks of an uncompressed file.
int checkDds(const char* path);

// Softimage PIC: every packet of every row.
int checkSoftimage(const char* path);

// ICO: the first icon's entry, and its PNG's chunks or its bitmap's header.
int checkIco(const char* path);

// DPX and Cineon: the length of the user data (dpx_guard.cpp).
int checkDpx(const char* path);
int checkCineon(const char* path);

}  // namespace format_guards
