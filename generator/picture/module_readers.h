// Readers inside the OpenImageIO module that go to a format's own library rather than
// through OpenImageIO 2.4's reader of it (oiio_reader.cpp picks them by the format). Each
// decodes the file at `path` into `picture` (rows with their wrap words) and returns kOk, or
// the status it is refused with.
#pragma once

#include "decoded_picture.h"

// WebP, still or animated, through libwebp (webp_reader.cpp).
int readWebp(const char* path, DecodedPicture& picture);

// HEIF and AVIF through libheif (heif_reader.cpp).
int readHeif(const char* path, DecodedPicture& picture);
