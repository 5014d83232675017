// DPX and Cineon (DPX's forerunner) files checked before OpenImageIO 2.4's readers see them
// (format_guards.h).
#include <cstdint>
#include <cstdio>

#include "format_guards.h"
#include "image_object.h"

namespace format_guards {

namespace {

// OpenImageIO 2.4's DPX and Cineon readers allocate the user data that the header's length
// says, as the file opens, and copy it into the picture's metadata: four bytes of header made
// a 3 KB file cost 1.7 GB. A length past the file's end is refused. The header's magic
// number, at `magicBigEndian` in the big-endian order, gives the file's byte order; the
// length is the 32-bit field at `lengthAt`.
int checkUserData(const char* path, std::uint32_t magicBigEndian, long lengthAt)
{
    const File file = openFile(path);
    unsigned char magic[4];
    unsigned char length[4];
    if (!file || std::fread(magic, 1, sizeof magic, file.get()) != sizeof magic ||
        std::fseek(file.get(), lengthAt, SEEK_SET) != 0 || std::fread(length, 1, sizeof length, file.get()) != sizeof length ||
        std::fseek(file.get(), 0, SEEK_END) != 0)
        return imaging_status::kUnknownImageFormat;
    const long fileBytes = std::ftell(file.get());
    const auto big = [](const unsigned char* b) {
        return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
    };
    const auto little = [](const unsigned char* b) {
        return std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[1]} << 8 | b[0];
    };
    const bool bigEndian = big(magic) == magicBigEndian;
    const std::uint32_t userBytes = bigEndian ? big(length) : little(length);
    if (fileBytes < 0 || (userBytes != 0xFFFFFFFFu && userBytes > static_cast<std::uint64_t>(fileBytes)))
        return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

}  // namespace

int checkDpx(const char* path) { return checkUserData(path, 0x53445058u, 32); }  // "SDPX"

int checkCineon(const char* path) { return checkUserData(path, 0x802A5FD7u, 16); }

}  // namespace format_guards
