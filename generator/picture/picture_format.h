// The format of a picture file: known by its content where the format carries a signature,
// by its name only where it carries none. Left to itself OpenImageIO tries every reader it
// has (movies, camera raw, medical and volume formats among them) on a file that the reader
// of its extension refuses: slow, and a wide door for a hostile file. So the picture
// formats that carry a signature are known by it, whatever the file's name; a file whose
// content names none goes to the reader its extension names only where that format has no
// signature to be known by (Targa before version 2, RLA, camera raw) and its header holds
// up. Anything else is refused before a reader opens it: DICOM, movies, OpenVDB volumes and
// OpenImageIO's "null" pictures (made from the name, whatever the file holds) are never
// read, and a file named for a format with a signature that it lacks is refused at once,
// where the reader of its name could spend a minute on a gigabyte. (PNG, BMP and FITS never
// reach OpenImageIO: Orbilune reads them itself.)
#pragma once

#include <cstddef>

// The bytes of the file's start that are read, and handed back for the checks that need them.
constexpr std::size_t kHeadBytes = 16;

// The name of OpenImageIO's reader for the file at `path`, or null when none may read it;
// the file's first kHeadBytes bytes (zeros past its end) in `head`.
const char* pictureFormat(const char* path, unsigned char (&head)[kHeadBytes]);
