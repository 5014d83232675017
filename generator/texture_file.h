// Writing one finished texture to a file, for the front ends' sinks.
#pragma once

enum class TextureFileResult { Written, CouldntCreate, CouldntWrite };

// Creates or truncates `path` and writes the bytes. A short write, or a close that fails
// (the last buffered bytes could not be stored), is CouldntWrite; the partial file stays.
TextureFileResult storeTextureFile(const char* path, const unsigned char* bytes, int byteCount);

namespace messages {
constexpr const char* kCouldntCreateFile = "Couldnt create file";
constexpr const char* kCouldntWriteFile = "Couldnt write to file";
}  // namespace messages
