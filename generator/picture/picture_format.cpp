// A picture's format from its content or, for the formats without a signature, its name
// (picture_format.h).
#include "picture_format.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The format whose signature the file's content carries, or null.
const char* formatBySignature(std::FILE* file, unsigned char (&head)[kHeadBytes])
{
    const std::size_t length = std::fread(head, 1, sizeof head, file);
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
    if (std::fseek(file, -18, SEEK_END) == 0 && std::fread(footer, 1, sizeof footer, file) == sizeof footer &&
        std::memcmp(footer, "TRUEVISION-XFILE.", 18) == 0)
        return "targa";
    return nullptr;
}

// Whether the first bytes of a file (`bytes` of them) make a Targa header that declares a
// picture: a type of image data, a pixel size and a colour map that belong to it, and sides.
bool plausibleTarga(const unsigned char* header, std::size_t bytes)
{
    if (bytes < 18)
        return false;
    const unsigned mapType = header[1], type = header[2], mapEntryBits = header[7], bits = header[16];
    const unsigned width = header[12] | header[13] << 8, height = header[14] | header[15] << 8;
    const bool mapped = type == 1 || type == 9, trueColour = type == 2 || type == 10, grey = type == 3 || type == 11;
    if (mapType > 1 || width == 0 || height == 0 || (header[17] & 0xC0) != 0)
        return false;
    if (mapped)
        return mapType == 1 && (bits == 8 || bits == 16) &&
               (mapEntryBits == 15 || mapEntryBits == 16 || mapEntryBits == 24 || mapEntryBits == 32);
    if (trueColour)
        return bits == 15 || bits == 16 || bits == 24 || bits == 32;
    return grey && (bits == 8 || bits == 16);
}

// Likewise an RLA header (big-endian, 740 bytes): an active window of at least one pixel and
// a sane number of channels.
bool plausibleRla(std::FILE* file)
{
    unsigned char header[740];
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(header, 1, sizeof header, file) != sizeof header)
        return false;
    const auto value = [&header](std::size_t at) { return static_cast<std::int16_t>(header[at] << 8 | header[at + 1]); };
    const int colour = value(20), matte = value(22), auxiliary = value(24);
    return value(10) >= value(8) && value(14) >= value(12) && colour >= 0 && matte >= 0 && auxiliary >= 0 &&
           colour + matte + auxiliary >= 1 && colour + matte + auxiliary <= 64;
}

// The formats without a signature, by the extensions OpenImageIO 2.4 gives them.
const char* formatByName(const char* path)
{
    const char* name = std::strrchr(path, '/');
    name = name != nullptr ? name + 1 : path;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr)
        return nullptr;
    std::string extension(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto among = [&extension](const auto& list) {
        return std::find(std::begin(list), std::end(list), extension) != std::end(list);
    };
    static const char* const targa[] = {"tga", "tpic"};
    static const char* const rla[] = {"rla"};
    static const char* const cameraRaw[] = {
        "bay", "bmq", "cr2", "cr3", "crw", "cs1", "dc2", "dcr", "dng", "erf", "fff", "k25", "kdc", "mdc", "mos",
        "mrw", "nef", "orf", "pef", "pxn", "raf", "raw", "rdc", "sr2", "srf", "x3f", "arw", "3fr", "cine", "ia",
        "kc2", "mef", "nrw", "qtk", "rw2", "sti", "rwl", "srw", "drf", "dsc", "ptx", "cap", "iiq", "rwz"};
    if (among(targa))
        return "targa";
    if (among(rla))
        return "rla";
    if (among(cameraRaw))
        return "raw";  // LibRaw knows a camera's file by its content, cheaply
    return nullptr;
}

}  // namespace

const char* pictureFormat(const char* path, unsigned char (&head)[kHeadBytes])
{
    const File file(std::fopen(path, "rb"), std::fclose);
    if (!file)
        return nullptr;
    const char* format = formatBySignature(file.get(), head);
    if (format != nullptr)
        return format;
    format = formatByName(path);
    if (format == nullptr)
        return nullptr;
    if (std::strcmp(format, "targa") == 0) {
        unsigned char header[18] = {};
        const bool read = std::fseek(file.get(), 0, SEEK_SET) == 0 && std::fread(header, 1, sizeof header, file.get()) == sizeof header;
        return read && plausibleTarga(header, sizeof header) ? format : nullptr;
    }
    if (std::strcmp(format, "rla") == 0)
        return plausibleRla(file.get()) ? format : nullptr;
    return format;
}
