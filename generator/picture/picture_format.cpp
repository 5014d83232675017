// Sniffing a picture's format by its content (picture_format.h).
#include "picture_format.h"

#include <cstdio>
#include <cstring>
#include <memory>

const char* formatBySignature(const char* path, unsigned char (&head)[kHeadBytes])
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    if (!file)
        return nullptr;
    const std::size_t length = std::fread(head, 1, sizeof head, file.get());
    const struct {
        const char* format;
        std::size_t offset;
        const char* bytes;
        std::size_t count;
    } signatures[] = {
        {"png", 0, "\x89PNG\r\n\x1A\n", 8},
        {"jpeg", 0, "\xFF\xD8\xFF", 3},
        {"bmp", 0, "BM", 2},
        {"tiff", 0, "II*\0", 4},
        {"tiff", 0, "MM\0*", 4},
        {"tiff", 0, "II+\0", 4},  // BigTIFF
        {"tiff", 0, "MM\0+", 4},
        {"gif", 0, "GIF8", 4},
        {"openexr", 0, "v/1\x01", 4},
        {"webp", 8, "WEBP", 4},
        {"hdr", 0, "#?", 2},
        {"psd", 0, "8BPS", 4},
        {"dds", 0, "DDS ", 4},
        {"sgi", 0, "\x01\xDA", 2},
        {"cineon", 0, "\x80\x2A\x5F\xD7", 4},
        {"cineon", 0, "\xD7\x5F\x2A\x80", 4},
        {"dpx", 0, "SDPX", 4},
        {"dpx", 0, "XPDS", 4},
        {"fits", 0, "SIMPLE  =", 9},
        {"jpeg2000", 0, "\0\0\0\x0CjP  \r\n\x87\n", 12},
        {"jpeg2000", 0, "\xFF\x4F\xFF\x51", 4},  // a bare codestream
        {"softimage", 0, "\x53\x80\xF6\x34", 4},
        {"iff", 0, "FOR4", 4},
        {"zfile", 0, "\xAB\x67\x08\x2F", 4},
        {"zfile", 0, "\x2F\x08\x67\xAB", 4},
        {"ico", 0, "\0\0\1\0", 4},
    };
    for (const auto& signature : signatures)
        if (length >= signature.offset + signature.count &&
            std::memcmp(head + signature.offset, signature.bytes, signature.count) == 0)
            return signature.format;
    // Netpbm: P1 to P6, and PF or Pf for floats, then white space.
    const auto isSpace = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    if (length >= 3 && head[0] == 'P' && ((head[1] >= '1' && head[1] <= '6') || head[1] == 'F' || head[1] == 'f') &&
        isSpace(head[2]))
        return "pnm";
    // HEIF and AVIF: an ISO media file whose brand is one of theirs.
    static const char* const heifBrands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1", "avif", "avis"};
    if (length >= 12 && std::memcmp(head + 4, "ftyp", 4) == 0)
        for (const char* brand : heifBrands)
            if (std::memcmp(head + 8, brand, 4) == 0)
                return "heif";
    // Targa has no signature at its start, but version 2 ends with one.
    char footer[18];
    if (std::fseek(file.get(), -18, SEEK_END) == 0 && std::fread(footer, 1, sizeof footer, file.get()) == sizeof footer &&
        std::memcmp(footer, "TRUEVISION-XFILE.", 18) == 0)
        return "targa";
    return nullptr;
}
