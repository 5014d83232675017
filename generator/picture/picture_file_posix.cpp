// Picture files on Linux (picture_file.h): the path as it is, 64-bit offsets.
#include <sys/types.h>

#include "picture_file.h"

PictureFile openPictureFile(const char* path) { return PictureFile(std::fopen(path, "rb")); }

bool seekPictureFile(std::FILE* file, std::uint64_t offset)
{
    return offset <= INT64_MAX && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool skipInPictureFile(std::FILE* file, std::uint64_t bytes)
{
    return bytes <= INT64_MAX && fseeko(file, static_cast<off_t>(bytes), SEEK_CUR) == 0;
}

bool pictureFileBytes(std::FILE* file, std::uint64_t& bytes)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return false;
    const off_t end = ftello(file);
    if (end < 0 || fseeko(file, 0, SEEK_SET) != 0)
        return false;
    bytes = static_cast<std::uint64_t>(end);
    return true;
}
