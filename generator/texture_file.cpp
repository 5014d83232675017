// The texture files' names, and writing one (their TGA header is inline in texture_file.h).
#include "texture_file.h"

#include <cstdio>

#include "texture_job.h"
#include "utf8.h"

std::string textureFileName(int index, TextureFormat format, int level)
{
    return "new" + std::to_string(index + 1) + (level > 0 ? "_mip" + std::to_string(level) : std::string()) +
           textureFormatName(format).extension;
}

namespace {

// Windows' narrow fopen reads a path in the system code page, which cannot spell every
// name: there the UTF-8 path is opened through its UTF-16 form.
std::FILE* createForWriting(const char* path)
{
#if defined(_WIN32)
    const std::wstring wide = utf8ToWide(path);
    return wide.empty() ? nullptr : _wfopen(wide.c_str(), L"wb");
#else
    return std::fopen(path, "wb");
#endif
}

}  // namespace

TextureFileResult storeTextureFile(const char* path, const unsigned char* bytes, std::size_t byteCount)
{
    std::FILE* file = createForWriting(path);
    if (file == nullptr)
        return TextureFileResult::CouldntCreate;
    const auto count = static_cast<std::size_t>(byteCount);
    const bool written = std::fwrite(bytes, 1, count, file) == count;
    const bool closed = std::fclose(file) == 0;
    return written && closed ? TextureFileResult::Written : TextureFileResult::CouldntWrite;
}

const char* textureFileMessage(TextureFileResult result)
{
    switch (result) {
    case TextureFileResult::CouldntCreate:
        return messages::kCouldntCreateFile;
    case TextureFileResult::CouldntWrite:
        return messages::kCouldntWriteFile;
    default:
        return nullptr;
    }
}
