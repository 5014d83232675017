#include "texture_job.h"

#include <cstdio>

TextureFileResult storeTextureFile(const char* path, const unsigned char* bytes, int byteCount)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return TextureFileResult::CouldntCreate;
    const auto count = static_cast<std::size_t>(byteCount);
    const bool written = std::fwrite(bytes, 1, count, file) == count;
    const bool closed = std::fclose(file) == 0;
    return written && closed ? TextureFileResult::Written : TextureFileResult::CouldntWrite;
}
