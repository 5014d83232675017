// Pictures of frames laid on a canvas (GIF, animated WebP). The reader lays out the whole
// canvas and draws the first frame on it; the canvas the frame leaves uncovered is filled
// with the background, from nothing in the file. A few bytes declaring a canvas of
// 16383 × 16383 around a frame of one pixel would have the reader fill a gigabyte, so the
// uncovered canvas is held to the rule of the formats whose readers fill the picture
// before reading it: no more than 128 pixels of it for each byte of the file. Used by every
// backend that reads these formats (GDI+ reads GIF on Windows).
#pragma once

#include <cstdint>
#include <cstdio>

// Whether a canvas of width × height, with a first frame of frameWidth × frameHeight at
// (left, top), is held by a file of `fileBytes`.
bool canvasHeld(std::uint64_t width, std::uint64_t height, std::uint64_t left, std::uint64_t top,
                std::uint64_t frameWidth, std::uint64_t frameHeight, std::uint64_t fileBytes);

// Reads a GIF's logical screen and its first image's place from `file` (at its start):
// kOk with the screen's sides, or kUnknownImageFormat for a file without an image or whose
// screen is not held (canvasHeld).
int checkGifCanvas(std::FILE* file, std::uint64_t fileBytes, std::uint64_t& width, std::uint64_t& height);
