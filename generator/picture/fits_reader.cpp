// The FITS reader: the primary image of a FITS file, grey (two axes, or a third of one
// plane) or red, green and blue planes (a third axis of three, as ImageMagick writes colour),
// of 8, 16 or 32-bit integers or 32 or 64-bit floats. OpenImageIO 2.4's reader hands the
// rows out one place off (the top row black, the first stored row lost).
//
// FITS stores the bottom row first, so the last stored row is the picture's top. Integer
// samples are taken as the physical values BZERO + BSCALE × sample, clamped to the type's
// unsigned range and cut to their high 8 bits, as every reader cuts a 16-bit sample (16-bit
// files store unsigned samples as signed ones with BZERO = 32768); floating-point samples
// as 0 to 1, as in every other format of floating-point samples.
//
// Asked to keep the file's samples, it keeps them grey (one plane) or RGB (three): 8-bit
// ones as they are, 16-bit ones signed, or unsigned where BZERO is 32768 (how FITS stores
// unsigned 16 bits), and the rest as floats: 32-bit integers and any integers that BSCALE and
// BZERO make other values, as the physical values BZERO + BSCALE × sample; floats and
// doubles as stored (ImageMagick writes the BZERO of 32-bit integers over its floats).
//
// A header that declares more data than the file holds is refused before anything is
// allocated.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"

namespace {

constexpr std::size_t kCardBytes = 80;
constexpr std::size_t kBlockBytes = 2880;
// The most header blocks read in search of END: real headers take a few.
constexpr int kMostHeaderBlocks = 1000;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct Header {
    int bits = 0;
    int axes = -1;
    std::uint64_t axis[4] = {0, 0, 0, 0};
    double scale = 1;
    double zero = 0;
    bool simple = false;
};

// Reads the header's cards up to END; the file is left at the first data block.
bool readHeader(std::FILE* file, Header& header)
{
    char block[kBlockBytes];
    for (int blocks = 0; blocks < kMostHeaderBlocks; ++blocks) {
        if (std::fread(block, 1, sizeof block, file) != sizeof block)
            return false;
        for (std::size_t at = 0; at < kBlockBytes; at += kCardBytes) {
            const std::string card(block + at, kCardBytes);
            std::string keyword = card.substr(0, 8);
            keyword.erase(keyword.find_last_not_of(' ') + 1);
            if (blocks == 0 && at == 0 && (keyword != "SIMPLE" || card.compare(8, 2, "= ") != 0))
                return false;
            if (keyword == "END")
                return header.simple;
            if (card.compare(8, 2, "= ") != 0)
                continue;  // a comment, history or blank card
            std::string value = card.substr(10);
            const std::size_t slash = value.find('/');
            if (slash != std::string::npos && value.find('\'') == std::string::npos)
                value.erase(slash);
            std::replace(value.begin(), value.end(), 'D', 'E');  // FITS writes double exponents with D
            const char* text = value.c_str();
            char* end = nullptr;
            if (keyword == "SIMPLE") {
                header.simple = value.find_first_not_of(' ') != std::string::npos &&
                                value[value.find_first_not_of(' ')] == 'T';
            } else if (keyword == "BITPIX") {
                header.bits = static_cast<int>(std::strtol(text, &end, 10));
            } else if (keyword == "NAXIS") {
                header.axes = static_cast<int>(std::strtol(text, &end, 10));
            } else if (keyword.size() == 6 && keyword.compare(0, 5, "NAXIS") == 0 && keyword[5] >= '1' &&
                       keyword[5] <= '4') {
                const long long length = std::strtoll(text, &end, 10);
                header.axis[keyword[5] - '1'] = length > 0 ? static_cast<std::uint64_t>(length) : 0;
            } else if (keyword == "BSCALE") {
                header.scale = std::strtod(text, &end);
            } else if (keyword == "BZERO") {
                header.zero = std::strtod(text, &end);
            }
        }
    }
    return false;
}

// A sample as stored, from its big-endian bytes: integers other than 8 bits are signed.
double storedValue(const unsigned char* bytes, int bits)
{
    std::uint64_t raw = 0;
    for (int i = 0; i < std::abs(bits) / 8; ++i)
        raw = raw << 8 | bytes[i];
    if (bits == -32) {
        const auto word = static_cast<std::uint32_t>(raw);
        float single;
        std::memcpy(&single, &word, sizeof single);
        return single;
    }
    if (bits == -64) {
        double value;
        std::memcpy(&value, &raw, sizeof value);
        return value;
    }
    return bits == 8    ? static_cast<double>(raw)
           : bits == 16 ? static_cast<double>(static_cast<std::int16_t>(raw))
                        : static_cast<double>(static_cast<std::int32_t>(raw));
}

// A sample's 8 bits from its big-endian bytes.
std::uint32_t eightBits(const unsigned char* bytes, int bits, double scale, double zero)
{
    if (bits < 0) {
        const double value = storedValue(bytes, bits);
        return std::isnan(value) ? 0 : static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
    }
    const double value = zero + scale * storedValue(bytes, bits);
    const double top = std::ldexp(1.0, bits) - 1;
    if (!(value > 0))
        return 0;
    return static_cast<std::uint32_t>(std::floor(std::min(value, top) / std::ldexp(1.0, bits - 8)));
}

// The samples a FITS file keeps: 8 bits as they are, 16 bits signed or (BZERO 32768)
// unsigned, everything else float.
SampleType keptType(const Header& header)
{
    const bool plain = header.scale == 1 && header.zero == 0;
    if (header.bits == 8 && plain)
        return SampleType::U8;
    if (header.bits == 16 && plain)
        return SampleType::I16;
    if (header.bits == 16 && header.scale == 1 && header.zero == 32768)
        return SampleType::U16;
    return SampleType::F32;
}

// Stores `plane` (0 grey or red, 1 green, 2 blue) of a pixel of kept samples from the
// stored sample's bytes.
void keepSample(const unsigned char* sample, const Header& header, SampleLayout layout, unsigned plane,
                unsigned char* pixel)
{
    switch (layout.type) {
    case SampleType::U8:
        if (layout.channels == 1) {
            pixel[0] = sample[0];
        } else {
            pixel[2 - plane] = sample[0];  // a picture word: blue, green, red, alpha
            pixel[3] = 0xFF;
        }
        return;
    case SampleType::U16:
    case SampleType::I16: {
        // Signed as stored; unsigned: the sign bit flipped, which adds 32768.
        const auto value = static_cast<std::uint16_t>((sample[0] << 8 | sample[1]) ^
                                                      (layout.type == SampleType::U16 ? 0x8000 : 0));
        std::memcpy(pixel + 2 * plane, &value, 2);
        return;
    }
    default: {
        const double stored = storedValue(sample, header.bits);
        const auto value = static_cast<float>(header.bits < 0 ? stored : header.zero + header.scale * stored);
        std::memcpy(pixel + 4 * plane, &value, 4);
        return;
    }
    }
}

int decode(std::FILE* file, std::uint64_t fileBytes, DecodedPicture& picture)
{
    Header header;
    if (!readHeader(file, header))
        return imaging_status::kUnknownImageFormat;
    const int bits = header.bits;
    const std::uint64_t planes = header.axes == 3 ? header.axis[2] : 1;
    if ((bits != 8 && bits != 16 && bits != 32 && bits != -32 && bits != -64) ||
        (header.axes != 2 && header.axes != 3) || (planes != 1 && planes != 3) || !std::isfinite(header.scale) ||
        !std::isfinite(header.zero))
        return imaging_status::kUnknownImageFormat;
    const std::uint64_t columns = header.axis[0], rows = header.axis[1];
    if (columns == 0 || rows == 0 || columns > kMaxPictureSide || rows > kMaxPictureSide)
        return imaging_status::kUnknownImageFormat;
    const long dataStart = std::ftell(file);
    const std::uint64_t sampleBytes = static_cast<std::uint64_t>(std::abs(bits)) / 8;
    const std::uint64_t rowBytes = columns * sampleBytes;
    if (dataStart < 0 || rowBytes * rows * planes > fileBytes - static_cast<std::uint64_t>(dataStart))
        return imaging_status::kUnknownImageFormat;
    picture.fileLayout = {keptType(header), planes == 1 ? 1u : 3u};
    const bool keep = picture.keepSamples;
    if (keep)
        picture.layout = picture.fileLayout;
    const int allocated = allocatePicture(picture, columns, rows);
    if (allocated != imaging_status::kOk)
        return allocated;
    std::vector<unsigned char> row(rowBytes);
    const bool identity8 = bits == 8 && header.scale == 1 && header.zero == 0;
    const bool unsigned16 = bits == 16 && header.scale == 1 && header.zero == 32768;
    for (std::uint64_t plane = 0; plane < planes; ++plane) {
        // Grey fills all three channels; planes fill red, green and blue in turn.
        const unsigned shift = planes == 1 ? 0 : 16 - 8 * static_cast<unsigned>(plane);
        for (std::uint64_t stored = 0; stored < rows; ++stored) {
            if (std::fread(row.data(), 1, row.size(), file) != row.size())
                return imaging_status::kUnknownImageFormat;
            if (keep) {
                for (std::uint64_t column = 0; column < columns; ++column)
                    keepSample(&row[column * sampleBytes], header, picture.layout, static_cast<unsigned>(plane),
                               pixelAt(picture, column, rows - 1 - stored));
                continue;
            }
            std::uint32_t* out = picture.pixels.get() + (rows - 1 - stored) * picture.stride;
            for (std::uint64_t column = 0; column < columns; ++column) {
                const unsigned char* sample = &row[column * sampleBytes];
                // The common codings at once: bytes as they are, unsigned 16 bits (BZERO 32768).
                const std::uint32_t value = identity8    ? sample[0]
                                            : unsigned16 ? sample[0] ^ 0x80u
                                                         : eightBits(sample, bits, header.scale, header.zero);
                if (planes == 1)
                    out[column] = pictureWord(value, value, value);
                else if (plane == 0)
                    out[column] = value << shift;
                else
                    out[column] |= value << shift;
            }
        }
    }
    return imaging_status::kOk;
}

}  // namespace

int readFitsDirect(const char* path, DecodedPicture& picture)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return kNotMine;
    char signature[9];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        std::memcmp(signature, "SIMPLE  =", sizeof signature) != 0 || std::fseek(file.get(), 0, SEEK_END) != 0)
        return kNotMine;
    const long fileBytes = std::ftell(file.get());
    std::rewind(file.get());
    if (fileBytes < 0)
        return finishDirectRead(imaging_status::kUnknownImageFormat, picture);
    return finishDirectRead(decode(file.get(), static_cast<std::uint64_t>(fileBytes), picture), picture);
}
