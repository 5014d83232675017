// Writing an RGB picture (3 bytes a pixel, rows top to bottom) in the format its file name's
// extension names, through the platform's encoders: OpenImageIO, loaded on first use, or
// GDI+ on Windows. Returns an imaging status: kOk, kUnknownImageFormat for a format the
// encoders do not know, or another failure.
#pragma once

#include <cstdint>

int encodePictureFile(const char* path, const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height);
