// What the fuzz targets hold true for any input, as functions that the normal test suite
// can also run over the inputs that once broke something (fuzz/regressions/). Each returns
// null, or what went wrong; a crash or a sanitizer's report is a failure of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz_checks {

// Any bytes as a picture file through the whole job (face size 4): it is refused with one
// of the load messages and no texture, or gives ten whole textures; a picture that loads
// has a wrap word after every row and refuses reads outside itself.
const char* checkPictureFile(const std::uint8_t* data, std::size_t size);

// Any bytes, with the CRC of every chunk made right, through Orbilune's PNG reader alone,
// so that mutations reach the inflater and the unfiltering. A picture it reads is whole,
// and where libpng reads it too, the two give the same pixels.
const char* checkPngFile(const std::uint8_t* data, std::size_t size);

// libpng's reading of a PNG held in memory, expanded as Orbilune's reader expands it
// (palettes looked up, grey of 1, 2 or 4 bits scaled to 8, 16-bit samples cut to their high
// byte, alpha dropped), as picture words row after row. False where libpng refuses it.
bool decodeWithLibpng(const std::uint8_t* data, std::size_t size, std::uint32_t& columns,
                      std::uint32_t& rows, std::vector<std::uint32_t>& words);

// Any bytes, split at NUL bytes, as the command line's arguments: parsing and checking end
// in an exit status or in a job whose paths exist and fit.
const char* checkCommandLine(const std::uint8_t* data, std::size_t size);

// Pictures may take this much while fuzzing: a header that declares more is refused for
// its size, as on a small machine, and the allocation limit stays free for real findings.
constexpr std::uint64_t kPictureMemoryBytes = std::uint64_t{64} << 20;

}  // namespace fuzz_checks
