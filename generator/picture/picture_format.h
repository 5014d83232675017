// The format of a picture file, known by its content. Left to itself OpenImageIO tries
// every reader it has (movies, camera raw, medical and volume formats among them) on a file
// that the reader of its extension refuses: slow, and a wide door for a hostile file. So
// the picture formats that carry a signature are known by it, whatever the file's name, and
// anything else goes to the reader of its extension alone. (PNG and BMP never reach
// OpenImageIO: Orbilune reads them itself.)
#pragma once

#include <cstddef>

// The bytes of the file's start that are read, and handed back for the checks that need them.
constexpr std::size_t kHeadBytes = 16;

// The name of OpenImageIO's reader that the content of the file at `path` names, or null;
// the file's first kHeadBytes bytes (zeros past its end) in `head`.
const char* formatBySignature(const char* path, unsigned char (&head)[kHeadBytes]);
