// The texture files' names, their TGA header, and writing one.
#include "texture_file.h"

#include <cstdio>

#include "texture_job.h"
#include "utf8.h"

std::string textureFileName(int index) { return "new" + std::to_string(index + 1) + ".tga"; }

void writeTgaHeader(unsigned char* header, std::uint32_t width, std::uint32_t height)
{
    const unsigned char bytes[kTgaHeaderSize] = {
        0,     // no image ID
        0,     // no colour map
        2,     // uncompressed true-colour
        0, 0,  // colour map first entry
        0, 0,  // colour map length
        0,     // colour map entry size
        0, 0,  // x origin
        0, 0,  // y origin
        static_cast<unsigned char>(width & 0xFF), static_cast<unsigned char>(width >> 8),
        static_cast<unsigned char>(height & 0xFF), static_cast<unsigned char>(height >> 8),
        24,           // bits per pixel
        kTgaTopDown,  // top-left origin, no alpha bits
    };
    for (std::size_t i = 0; i < kTgaHeaderSize; ++i)
        header[i] = bytes[i];
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

TextureFileResult storeTextureFile(const char* path, const unsigned char* bytes, int byteCount)
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
