// The general reader on OpenImageIO, built as a module of its own and loaded on first use:
// OpenImageIO brings in some two hundred libraries, whose loading would otherwise cost
// every run a third of a second and a hundred megabytes.
//
// Whatever OpenImageIO decodes is accepted and converted the way GDI+ would hand it out:
// grey pictures expanded to three equal channels, palettes expanded (by the readers),
// 16-bit channels cut to their high byte and float channels scaled to 8 bits, CMYK
// converted to RGB, alpha ignored and never multiplied into the colours. The picture is
// decoded once, in bands, straight into its final words. Where a reader of OpenImageIO 2.4
// would let a hostile file crash, hang or fill gigabytes, the file is checked first.
#include <OpenImageIO/imageio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"

namespace {

// a × b, or the largest value where the product would not fit; a + b likewise.
std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// The most a tile of more pixels than its picture may take (see decode).
constexpr std::uint64_t kLargestOddTileBytes = std::uint64_t{16} << 20;

// The rows a band holds: about 256 KiB of decoded data, which keeps the reader's scratch in
// the cache; a tiled picture's bands are whole rows of tiles.
std::uint64_t rowsPerBand(const OIIO::ImageSpec& layout, std::uint64_t columns)
{
    const std::uint64_t rows = std::max<std::uint64_t>(1, (256u << 10) / (columns * 3));
    if (layout.tile_width <= 0 || layout.tile_height <= 0)
        return rows;
    const auto tileRows = static_cast<std::uint64_t>(layout.tile_height);
    return std::max<std::uint64_t>(1, rows / tileRows) * tileRows;
}

// Turns a band of 16-bit samples, `samplesPerPixel` to a pixel, into bytes 0 to
// channels − 1 of the band's words: the first `channels` samples of each pixel, each cut to
// its high byte, as GDI+ does (and Orbilune's PNG reader), where OpenImageIO's conversion
// would round v × 255 / 65535.
void keepHighBytes(const std::uint16_t* samples, std::size_t samplesPerPixel, int channels,
                   std::uint64_t columns, std::uint64_t rows, std::uint32_t* band, std::size_t stride)
{
    for (std::uint64_t row = 0; row < rows; ++row) {
        const std::uint16_t* in = samples + row * columns * samplesPerPixel;
        auto* out = reinterpret_cast<unsigned char*>(band + row * stride);
        for (std::uint64_t column = 0; column < columns; ++column)
            for (int channel = 0; channel < channels; ++channel)
                out[4 * column + channel] = static_cast<unsigned char>(in[column * samplesPerPixel + channel] >> 8);
    }
}

// OpenImageIO's readers of these formats decode the whole picture into a buffer of their
// own at the first read (the others read a band, a strip or a row at a time), so that
// buffer is counted with the pixels.
bool readsWholePicture(const std::string& format)
{
    static const char* const formats[] = {"cineon", "dds", "heif", "ico", "iff", "jpeg2000", "psd",
                                          "rla", "sgi", "softimage", "targa", "webp", "zfile"};
    return std::find(std::begin(formats), std::end(formats), format) != std::end(formats);
}

// Of these formats no real file holds fewer than one byte for 128 pixels (a run of 128
// pixels in two bytes is as far as their run-length codings go; DDS blocks take at least
// half a byte a pixel), yet their readers fill or allocate what the header declares before
// finding the data wanting, or take the missing data for black: a header of a few bytes
// is refused instead.
double leastBytesPerPixel(const std::string& format)
{
    if (format == "dds")
        return 0.5;
    static const char* const formats[] = {"cineon", "dpx", "fits", "hdr", "ico", "iff", "pnm", "psd",
                                          "rla", "sgi", "softimage", "targa", "zfile"};
    return std::find(std::begin(formats), std::end(formats), format) != std::end(formats) ? 1.0 / 128 : 0;
}

// Decodes the first picture of `input`, a file of `fileBytes`. `readerBytes` is what the
// decoder holds beside the pixels whatever this reader does (libjpeg's coefficients, a
// GIF's canvas).
int decode(OIIO::ImageInput& input, DecodedPicture& picture, std::uint64_t readerBytes, std::uint64_t fileBytes)
{
    // The first picture's dimensions, tiling and formats (its metadata is not needed).
    const OIIO::ImageSpec layout = input.spec_dimensions(0, 0);
    if (layout.format == OIIO::TypeDesc::UNKNOWN || layout.width <= 0 || layout.height <= 0 ||
        layout.depth != 1 || layout.nchannels <= 0 || static_cast<std::uint64_t>(layout.width) > kMaxPictureSide ||
        static_cast<std::uint64_t>(layout.height) > kMaxPictureSide)
        return imaging_status::kUnknownImageFormat;
    const std::string format = input.format_name();
    const double pixelCount = static_cast<double>(layout.width) * static_cast<double>(layout.height);
    if (pixelCount * leastBytesPerPixel(format) > static_cast<double>(fileBytes))
        return imaging_status::kUnknownImageFormat;
    if (readsWholePicture(format))
        readerBytes = saturatingAdd(readerBytes, saturatingProduct(static_cast<std::uint64_t>(layout.width) *
                                                                       static_cast<std::uint64_t>(layout.height),
                                                                   layout.pixel_bytes(true)));
    // A tiled picture is read a band of whole tiles at a time (read_scanlines on a tiled
    // file divides by zero in OpenImageIO 2.4). The reader fills up to twice that band in
    // the file's own pixel format (its scratch and the band it converts from) beside our
    // pixels: it is counted with them before anything is allocated. Reading any pixel reads
    // its whole tile, so a tile of more pixels than the picture, and of over 16 MiB, is
    // refused as unreadable: a few bytes of header would otherwise cost gigabytes. Writers
    // use tiles of a few hundred pixels a side.
    //
    // A scanline picture whose channels share one format is read a band at a time in the
    // file's own layout into a scratch band of ours, counted in the same check, and
    // converted from there: OpenImageIO's read_scanlines would allocate 256 rows or 64 MB
    // of scratch whatever the band, and a few bytes of header declaring a row of millions
    // of pixels would make that a gigabyte.
    //
    // 16-bit channels are read as such (into a band of their own where OpenImageIO does the
    // reading) and cut to their high byte here.
    const bool tiled = layout.tile_width > 0 && layout.tile_height > 0;
    const bool ownScratch = !tiled && layout.channelformats.empty();
    const bool wide = layout.format.basetype == OIIO::TypeDesc::UINT16;
    const auto columns = static_cast<std::uint64_t>(layout.width);
    const auto rows = static_cast<std::uint64_t>(layout.height);
    const std::uint64_t bandRows = rowsPerBand(layout, columns);
    const std::uint64_t filePixelBytes = layout.pixel_bytes(true);
    // Colour pictures land as R, G, B in bytes 0-2 of each word, grey ones in byte 0; both
    // are turned into picture words below. The fourth byte is never read.
    const bool grey = layout.nchannels < 3;
    const int channels = grey ? 1 : 3;
    std::uint64_t scratchBytes = 0;
    if (ownScratch) {
        scratchBytes = saturatingProduct(saturatingProduct(columns, std::min(rows, bandRows)), filePixelBytes);
    } else if (tiled) {
        const auto tileColumns = static_cast<std::uint64_t>(layout.tile_width);
        const auto tileRows = static_cast<std::uint64_t>(layout.tile_height);
        const std::uint64_t tileBytes = saturatingProduct(tileColumns * tileRows, filePixelBytes);
        if (tileColumns * tileRows > columns * rows && tileBytes > kLargestOddTileBytes)
            return imaging_status::kUnknownImageFormat;
        const std::uint64_t bandBytes = saturatingProduct(
            saturatingProduct((columns + tileColumns - 1) / tileColumns * tileColumns, bandRows), filePixelBytes);
        scratchBytes = saturatingProduct(bandBytes, 2);
    } else {  // read_scanlines' own scratch, up to 256 rows, and the rows it converts from
        scratchBytes = saturatingProduct(saturatingProduct(columns, std::min<std::uint64_t>(rows, 256)),
                                         2 * filePixelBytes);
    }
    const std::uint64_t wideBandRows = wide && !ownScratch ? std::min(rows, bandRows) : 0;
    scratchBytes = saturatingAdd(scratchBytes, saturatingProduct(columns * wideBandRows, 2 * channels));
    if (!pictureFits(picture, columns, rows, saturatingAdd(scratchBytes, readerBytes)))
        return imaging_status::kValueOverflow;
    std::unique_ptr<unsigned char[]> scratch;
    if (ownScratch) {
        scratch.reset(new (std::nothrow) unsigned char[scratchBytes]);
        if (!scratch)
            return imaging_status::kOutOfMemory;
    }
    std::unique_ptr<std::uint16_t[]> wideBand;
    if (wideBandRows > 0) {
        wideBand.reset(new (std::nothrow) std::uint16_t[columns * wideBandRows * channels]);
        if (!wideBand)
            return imaging_status::kOutOfMemory;
    }
    const int status = allocatePicture(picture, columns, rows);
    if (status != imaging_status::kOk)
        return status;

    const std::size_t stride = picture.stride;
    for (std::uint64_t row = 0; row < rows; row += bandRows) {
        const std::uint64_t end = std::min(rows, row + bandRows);
        const int top = layout.y + static_cast<int>(row);
        const int bottom = layout.y + static_cast<int>(end);
        std::uint32_t* band = picture.pixels.get() + row * stride;
        const auto rowBytes = static_cast<OIIO::stride_t>(stride) * 4;
        // Where OpenImageIO converts, the band it fills: our words, or the 16-bit band.
        void* target = wide ? static_cast<void*>(wideBand.get()) : static_cast<void*>(band);
        const OIIO::TypeDesc targetType = wide ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
        const auto targetPixel = static_cast<OIIO::stride_t>(wide ? 2 * channels : 4);
        const auto targetRow = wide ? static_cast<OIIO::stride_t>(columns) * targetPixel : rowBytes;
        bool read;
        if (tiled) {
            read = input.read_tiles(0, 0, layout.x, layout.x + layout.width, top, bottom, layout.z,
                                    layout.z + 1, 0, channels, targetType, target, targetPixel, targetRow);
        } else if (ownScratch) {
            // The first `channels` channels of each pixel, converted as read_scanlines would.
            const auto fileRowBytes = static_cast<OIIO::stride_t>(columns * filePixelBytes);
            read = input.read_native_scanlines(0, 0, top, bottom, layout.z, scratch.get());
            if (read && wide)
                keepHighBytes(reinterpret_cast<const std::uint16_t*>(scratch.get()),
                              static_cast<std::size_t>(layout.nchannels), channels, columns, end - row, band,
                              stride);
            else if (read)
                read = OIIO::convert_image(channels, layout.width, bottom - top, 1, scratch.get(), layout.format,
                                           static_cast<OIIO::stride_t>(filePixelBytes), fileRowBytes,
                                           OIIO::AutoStride, band, OIIO::TypeDesc::UINT8, 4, rowBytes,
                                           OIIO::AutoStride);
        } else {
            read = input.read_scanlines(0, 0, top, bottom, 0, 0, channels, targetType, target, targetPixel,
                                        targetRow);
        }
        if (read && wide && !ownScratch)
            keepHighBytes(wideBand.get(), static_cast<std::size_t>(channels), channels, columns, end - row, band,
                          stride);
        if (!read || input.has_error())
            return imaging_status::kUnknownImageFormat;
    }
    for (std::uint64_t row = 0; row < rows; ++row) {
        std::uint32_t* pixel = picture.pixels.get() + row * stride;
        for (std::uint64_t column = 0; column < columns; ++column) {
            const std::uint32_t red = pixel[column] & 0xFFu;
            pixel[column] = grey ? pictureWord(red, red, red)
                                 : pictureWord(red, pixel[column] >> 8 & 0xFFu, pixel[column] >> 16 & 0xFFu);
        }
    }
    // OpenImageIO 2.4 hands a Targa picture's rows out upside down, whichever way the file
    // stores them.
    if (format == "targa")
        for (std::uint64_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(picture.pixels.get() + top * stride, picture.pixels.get() + top * stride + columns,
                             picture.pixels.get() + bottom * stride);
    image_backend::fillWrapWords(picture.pixels.get(), picture.columns, picture.rows, stride);
    return imaging_status::kOk;
}

// The reader that the file's content names, or null. Left to itself OpenImageIO tries
// every reader it has (movies, camera raw, medical and volume formats among them) on a file
// that the reader of its extension refuses: slow, and a wide door for a hostile file. So
// the picture formats that carry a signature are known by it, whatever the file's name, and
// anything else goes to the reader of its extension alone. (PNG and BMP never get here:
// Orbilune reads them itself.)
constexpr std::size_t kHeadBytes = 16;

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

std::unique_ptr<OIIO::ImageInput> openInput(const char* path, const char* format,
                                            const OIIO::ImageSpec& config)
{
    static const bool onlyNamedReaders = OIIO::attribute("try_all_readers", 0);  // once
    (void)onlyNamedReaders;
    if (format == nullptr)
        return OIIO::ImageInput::open(path, &config);
    auto input = OIIO::ImageInput::create(format, false, &config);
    OIIO::ImageSpec layout;
    if (input && !input->open(path, layout, config))
        input.reset();
    return input;
}

// --- JPEG ------------------------------------------------------------------------------
// libjpeg decodes a progressive JPEG, or one whose first scan holds fewer components than
// the frame, into a buffer of every coefficient of the picture (two bytes a sample, rounded
// up to whole blocks) before the first row comes out, and it touches the coefficients of a
// whole component in every scan, whatever data the scan has. So a header of a few bytes
// declaring a large frame, over scans that hold nothing, fills gigabytes before the data is
// found wanting, and a file of tens of thousands of tiny scans takes minutes. The markers
// are read first, sequentially and cheaply, and such files are refused before libjpeg
// starts:
// - more than kMaxJpegScans scans (encoders write about ten);
// - a file that ends without its EOI marker (libjpeg's warning would refuse it at the end);
// - when the coefficients are held: a component whose DC coefficients no scan starts,
//   scans that visit over kMaxJpegVisits times the picture's blocks, or (above
//   kSmallCoefficientBytes) a scan that starts the DC coefficients with less than one bit
//   of data a block, which no Huffman-coded JPEG has (each block's DC difference takes a
//   code of at least one bit).
// The coefficients are counted with the pixels in the memory check, before libjpeg, which
// allocates them as it opens the file, is called.
constexpr int kMaxJpegScans = 500;
constexpr std::uint64_t kMaxJpegVisits = 64;
constexpr std::uint64_t kSmallCoefficientBytes = std::uint64_t{16} << 20;

// A file read a byte at a time through a buffer of its own.
class ByteReader {
public:
    explicit ByteReader(std::FILE* file) : file_(file) {}
    // The next byte, or -1 at the end of the file.
    int next()
    {
        if (at_ == end_ && !refill())
            return -1;
        return buffer_[at_++];
    }
    // Skips entropy-coded data up to the next marker, counting the bytes skipped; returns
    // the marker's code (the byte after 0xFF), or -1 at the end of the file.
    int skipToMarker(std::uint64_t& skipped)
    {
        for (;;) {
            if (at_ == end_ && !refill())
                return -1;
            const auto* found = static_cast<const unsigned char*>(std::memchr(buffer_ + at_, 0xFF, end_ - at_));
            if (found == nullptr) {
                skipped += end_ - at_;
                at_ = end_;
                continue;
            }
            const auto foundAt = static_cast<std::size_t>(found - buffer_);
            skipped += foundAt - at_;
            at_ = foundAt + 1;
            int code = next();
            while (code == 0xFF)  // fill bytes before a marker
                code = next();
            // A stuffed zero byte or a restart marker belongs to the data.
            if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
                skipped += 2;
                continue;
            }
            return code;
        }
    }
    bool skip(std::size_t bytes)
    {
        for (; bytes > 0; --bytes)
            if (next() < 0)
                return false;
        return true;
    }

private:
    bool refill()
    {
        at_ = 0;
        end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        return end_ > 0;
    }

    std::FILE* file_;
    unsigned char buffer_[1 << 16];
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

struct JpegComponent {
    int id = 0;
    std::uint64_t h = 1, v = 1;
    std::uint64_t widthInBlocks = 0, heightInBlocks = 0;
    bool dcStarted = false;  // by a scan of its first DC bits
};

std::uint64_t divideRoundingUp(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// Reads the markers of the JPEG file at `path`. Returns kOk with the frame's size and the
// bytes libjpeg will hold beside the pixels in `readerBytes`, or the status it is refused
// with.
int checkJpegMarkers(const char* path, std::uint64_t& width, std::uint64_t& height, std::uint64_t& readerBytes)
{
    readerBytes = 0;
    width = 0;
    height = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    if (!file)
        return imaging_status::kUnknownImageFormat;
    auto reader = std::make_unique<ByteReader>(file.get());
    if (reader->next() != 0xFF || reader->next() != 0xD8)
        return imaging_status::kUnknownImageFormat;
    std::vector<JpegComponent> components;
    std::uint64_t maxH = 1, maxV = 1, totalBlocks = 0;
    bool progressive = false;
    bool wholeBuffer = false;
    int scans = 0;
    std::uint64_t visits = 0;
    // Which scans start the DC coefficients, their blocks and their data: judged once the
    // size of the coefficient buffer is known.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> dcScans;
    int code = reader->next() == 0xFF ? reader->next() : -1;
    for (;;) {
        while (code == 0xFF)
            code = reader->next();
        if (code < 0)
            return imaging_status::kUnknownImageFormat;  // the end of the file before EOI
        if (code == 0xD9)
            break;
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {  // markers without a segment
            code = reader->next() == 0xFF ? reader->next() : -1;
            continue;
        }
        const int high = reader->next();
        const int low = reader->next();
        if (low < 0 || (high << 8 | low) < 2)
            return imaging_status::kUnknownImageFormat;
        std::size_t length = static_cast<std::size_t>(high << 8 | low) - 2;
        const bool frame = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) {
            if (!components.empty() || length < 6)
                return imaging_status::kUnknownImageFormat;  // a second frame
            unsigned char header[6];
            for (unsigned char& byte : header) {
                const int value = reader->next();
                if (value < 0)
                    return imaging_status::kUnknownImageFormat;
                byte = static_cast<unsigned char>(value);
            }
            progressive = code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
            height = std::uint64_t{header[1]} << 8 | header[2];
            width = std::uint64_t{header[3]} << 8 | header[4];
            const int count = header[5];
            if (count == 0 || length != 6 + 3 * static_cast<std::size_t>(count))
                return imaging_status::kUnknownImageFormat;
            for (int i = 0; i < count; ++i) {
                JpegComponent component;
                component.id = reader->next();
                const int sampling = reader->next();
                if (reader->next() < 0 || sampling < 0)
                    return imaging_status::kUnknownImageFormat;
                component.h = std::max(1, sampling >> 4);
                component.v = std::max(1, sampling & 15);
                maxH = std::max(maxH, component.h);
                maxV = std::max(maxV, component.v);
                components.push_back(component);
            }
            for (JpegComponent& component : components) {
                component.widthInBlocks = divideRoundingUp(width * component.h, maxH * 8);
                component.heightInBlocks = divideRoundingUp(height * component.v, maxV * 8);
                totalBlocks += component.widthInBlocks * component.heightInBlocks;
            }
            code = reader->next() == 0xFF ? reader->next() : -1;
            continue;
        }
        if (code != 0xDA) {  // any other segment is skipped
            if (!reader->skip(length))
                return imaging_status::kUnknownImageFormat;
            code = reader->next() == 0xFF ? reader->next() : -1;
            continue;
        }
        // A scan: its header, then its entropy-coded data up to the next marker.
        if (components.empty() || ++scans > kMaxJpegScans || length < 1)
            return imaging_status::kUnknownImageFormat;
        const int count = reader->next();
        if (count <= 0 || length != 4 + 2 * static_cast<std::size_t>(count))
            return imaging_status::kUnknownImageFormat;
        std::uint64_t blocks = 0;
        std::uint64_t mcuBlocks = 0;
        std::vector<JpegComponent*> scanned;
        for (int i = 0; i < count; ++i) {
            const int id = reader->next();
            reader->next();
            const auto found = std::find_if(components.begin(), components.end(),
                                            [id](const JpegComponent& c) { return c.id == id; });
            if (found == components.end())
                return imaging_status::kUnknownImageFormat;
            blocks = found->widthInBlocks * found->heightInBlocks;  // a scan of one component
            mcuBlocks += found->h * found->v;
            scanned.push_back(&*found);
        }
        if (count > 1)  // interleaved: whole MCUs, padding blocks included
            blocks = divideRoundingUp(width, maxH * 8) * divideRoundingUp(height, maxV * 8) * mcuBlocks;
        const int spectralStart = reader->next();
        reader->next();  // the spectral end
        const int approximation = reader->next();
        if (approximation < 0)
            return imaging_status::kUnknownImageFormat;
        if (spectralStart == 0 && (approximation >> 4) == 0)
            for (JpegComponent* component : scanned)
                component->dcStarted = true;
        if (scans == 1)
            wholeBuffer = progressive || static_cast<std::size_t>(count) < components.size();
        visits += blocks;
        std::uint64_t data = 0;
        code = reader->skipToMarker(data);
        if (spectralStart == 0 && (approximation >> 4) == 0)
            dcScans.emplace_back(blocks, data);
    }
    if (components.empty() || scans == 0)
        return imaging_status::kUnknownImageFormat;
    if (!wholeBuffer)
        return imaging_status::kOk;
    for (const JpegComponent& component : components) {
        readerBytes += (divideRoundingUp(component.widthInBlocks, component.h) * component.h) *
                       (divideRoundingUp(component.heightInBlocks, component.v) * component.v) * 128;
        if (!component.dcStarted)
            return imaging_status::kUnknownImageFormat;  // coefficients refined that never began
    }
    if (visits > kMaxJpegVisits * totalBlocks)
        return imaging_status::kUnknownImageFormat;
    if (readerBytes > kSmallCoefficientBytes)
        for (const auto& [blocks, data] : dcScans)
            if (data * 8 < blocks)
                return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

// --- SGI -------------------------------------------------------------------------------
// OpenImageIO 2.4's SGI reader trusts the file: it sizes its tables of rows by the header's
// height times its channels (65535 × 65535 of them, zero-filled, at a header's word), each
// row's buffer by the length the table gives it, and it aborts the whole program on a run
// that overfills a row. So the header, the tables and every run are checked first: at most
// four channels of one or two bytes, tables and rows inside the file, runs inside their rows.
int checkSgi(const char* path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        return imaging_status::kUnknownImageFormat;
    const long fileSize = std::ftell(file.get());
    unsigned char header[512];
    if (fileSize < 512 || std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return imaging_status::kUnknownImageFormat;
    const auto bigEndian16 = [](const unsigned char* b) { return static_cast<std::uint32_t>(b[0] << 8 | b[1]); };
    const bool runs = header[2] == 1;
    const std::uint32_t sampleBytes = header[3];
    const std::uint32_t dimension = bigEndian16(header + 4);
    const std::uint32_t width = bigEndian16(header + 6);
    const std::uint32_t tableRows = bigEndian16(header + 8);
    const std::uint32_t tableChannels = bigEndian16(header + 10);
    // The rows and channels the reader reads, from the dimension; its tables are laid out
    // by the header's height and channels, whatever the dimension.
    const std::uint32_t height = dimension == 1 ? 1 : tableRows;
    const std::uint32_t channels = dimension == 3 ? tableChannels : 1;
    if (header[2] > 1 || (sampleBytes != 1 && sampleBytes != 2) || dimension < 1 || dimension > 3 ||
        width == 0 || height == 0 || channels == 0 || channels > 4)
        return imaging_status::kUnknownImageFormat;
    if (!runs)
        return imaging_status::kOk;  // rows of a known size, read as such
    const std::size_t entries = static_cast<std::size_t>(tableRows) * tableChannels;
    if (static_cast<std::size_t>(height) * channels > entries ||
        static_cast<std::uint64_t>(fileSize) < 512 + 8 * static_cast<std::uint64_t>(entries))
        return imaging_status::kUnknownImageFormat;
    std::vector<unsigned char> tables(8 * entries);
    if (std::fread(tables.data(), 1, tables.size(), file.get()) != tables.size())
        return imaging_status::kUnknownImageFormat;
    const auto bigEndian32 = [](const unsigned char* b) {
        return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
    };
    std::vector<unsigned char> row;
    for (std::uint32_t channel = 0; channel < channels; ++channel) {
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::size_t entry = y + static_cast<std::size_t>(channel) * height;
            const std::uint64_t start = bigEndian32(&tables[4 * entry]);
            const std::uint64_t length = bigEndian32(&tables[4 * (entries + entry)]);
            if (start + length > static_cast<std::uint64_t>(fileSize))
                return imaging_status::kUnknownImageFormat;
            row.resize(length);
            if (std::fseek(file.get(), static_cast<long>(start), SEEK_SET) != 0 ||
                std::fread(row.data(), 1, length, file.get()) != length)
                return imaging_status::kUnknownImageFormat;
            // A count of up to 127; with the high bit, that many samples follow, without it
            // one sample to repeat; a count of 0 ends the row.
            std::uint64_t left = width;
            for (std::size_t at = 0; at + sampleBytes <= length;) {
                const std::uint32_t count = row[at + sampleBytes - 1] & 0x7Fu;
                const bool literal = (row[at + sampleBytes - 1] & 0x80u) != 0;
                at += sampleBytes;
                if (count == 0)
                    break;
                const std::uint64_t samples = literal ? count : 1;
                if (count > left || at + samples * sampleBytes > length)
                    return imaging_status::kUnknownImageFormat;
                left -= count;
                at += samples * sampleBytes;
            }
        }
    }
    return imaging_status::kOk;
}

// --- DDS -------------------------------------------------------------------------------
// OpenImageIO 2.4's DDS reader spreads each channel's field over 8 bits by repeating it in
// steps of the field's width, which for an empty mask is a step of nothing: it never ends.
// An uncompressed DDS is refused unless every channel its flags name has a mask.
int checkDds(const char* path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    unsigned char header[128];
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return imaging_status::kUnknownImageFormat;
    const auto littleEndian32 = [&header](std::size_t at) {
        return std::uint32_t{header[at]} | std::uint32_t{header[at + 1]} << 8 |
               std::uint32_t{header[at + 2]} << 16 | std::uint32_t{header[at + 3]} << 24;
    };
    constexpr std::uint32_t kAlphaPixels = 0x1, kAlpha = 0x2, kFourCc = 0x4, kRgb = 0x40, kLuminance = 0x20000;
    const std::uint32_t flags = littleEndian32(80);
    if ((flags & kFourCc) != 0)
        return imaging_status::kOk;  // compressed blocks, no masks
    const std::uint32_t red = littleEndian32(92), green = littleEndian32(96), blue = littleEndian32(100),
                        alpha = littleEndian32(104);
    if (((flags & kRgb) != 0 && (red == 0 || green == 0 || blue == 0)) ||
        ((flags & kLuminance) != 0 && red == 0) || ((flags & (kAlpha | kAlphaPixels)) != 0 && alpha == 0))
        return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

// --- Softimage PIC ---------------------------------------------------------------------
// OpenImageIO 2.4's Softimage reader writes a channel where its name puts it (alpha fourth)
// whatever the picture's channel count, and a run as long as its count says, past the row's
// end if need be; a row it cannot read closes the file under the next read, which crashes;
// in a pure run-length packet it takes every pixel of more than one byte for missing; and
// it reads uncompressed packets as black. So the file is walked first, packet by packet
// and row by row as that reader walks it, and refused unless its packets are run-length
// coded, their channels the first ones (red, green, blue, alpha) named once each at one
// depth, and every row of every packet ends at the row's end inside the file.
int checkSoftimage(const char* path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    unsigned char header[104];
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return imaging_status::kUnknownImageFormat;
    const std::uint32_t width = header[92] << 8 | header[93];
    const std::uint32_t height = header[94] << 8 | header[95];
    enum Coding { kUncompressed, kPureRuns, kMixedRuns };
    struct Packet {
        std::uint32_t pixelBytes;
        int coding;
    };
    std::vector<Packet> packets;
    unsigned named = 0;  // channel bits: red 0x80, green 0x40, blue 0x20, alpha 0x10
    unsigned bits = 0;
    unsigned char packet[4];  // chained, bits a sample, coding, channels
    do {
        if (packets.size() == 4 || std::fread(packet, 1, sizeof packet, file.get()) != sizeof packet)
            return imaging_status::kUnknownImageFormat;
        const unsigned channels = packet[3] & 0xF0u;
        const int coding = packet[2] & 3;
        if (channels == 0 || (channels & named) != 0 || (packet[1] != 8 && packet[1] != 16) ||
            (bits != 0 && packet[1] != bits) || (coding != kPureRuns && coding != kMixedRuns))
            return imaging_status::kUnknownImageFormat;
        named |= channels;
        bits = packet[1];
        packets.push_back({static_cast<std::uint32_t>(__builtin_popcount(channels)) * bits / 8, coding});
    } while (packet[0] != 0);
    if ((named != 0x80 && named != 0xC0 && named != 0xE0 && named != 0xF0) || width == 0 || height == 0)
        return imaging_status::kUnknownImageFormat;
    const auto skip = [&](std::uint64_t bytes) {
        return std::fseek(file.get(), static_cast<long>(bytes), SEEK_CUR) == 0;
    };
    const auto next = [&]() { return std::fgetc(file.get()); };  // EOF at the end
    for (std::uint32_t y = 0; y < height; ++y) {
        for (const Packet& p : packets) {
            if (p.coding == kPureRuns && p.pixelBytes != 1)
                return imaging_status::kUnknownImageFormat;
            for (std::uint32_t done = 0; done < width;) {
                const int count = next();
                std::uint32_t pixels = 0;
                std::uint64_t bytes = p.pixelBytes;
                if (count == EOF) {
                    return imaging_status::kUnknownImageFormat;
                } else if (p.coding == kPureRuns) {
                    pixels = static_cast<std::uint32_t>(count);
                } else if (count < 128) {  // count + 1 pixels as they are, cut at the row's end
                    pixels = std::min<std::uint32_t>(count + 1, width - done);
                    bytes = std::uint64_t{pixels} * p.pixelBytes;
                } else if (count == 128) {  // a run whose length follows in 16 bits
                    const int high = next(), low = next();
                    if (high == EOF || low == EOF)
                        return imaging_status::kUnknownImageFormat;
                    pixels = static_cast<std::uint32_t>(high << 8 | low);
                } else {
                    pixels = static_cast<std::uint32_t>(count - 127);
                }
                if (pixels == 0 || pixels > width - done || !skip(bytes))
                    return imaging_status::kUnknownImageFormat;
                done += pixels;
            }
        }
    }
    // fseek goes past the end without complaint: the last pixel must be in the file.
    const long end = std::ftell(file.get());
    if (end < 0 || std::fseek(file.get(), 0, SEEK_END) != 0 || std::ftell(file.get()) < end)
        return imaging_status::kUnknownImageFormat;
    return imaging_status::kOk;
}

int decodeFile(const char* path, DecodedPicture& picture)
{
    try {
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);  // colours as stored, never premultiplied
        unsigned char head[kHeadBytes] = {};
        const char* format = formatBySignature(path, head);
        // OpenImageIO's GIF reader lays out the whole logical screen, four bytes a pixel, as
        // it opens the file: a header of 37 bytes had it fill a gigabyte before it found the
        // data missing. That memory is counted with the picture's, before the opening.
        std::uint64_t readerBytes = 0;
        if (format != nullptr && std::strcmp(format, "gif") == 0) {
            const std::uint64_t width = head[6] | head[7] << 8;
            const std::uint64_t height = head[8] | head[9] << 8;
            readerBytes = 4 * width * height;
            if (!pictureFits(picture, width, height, readerBytes))
                return imaging_status::kValueOverflow;
        }
        // Formats whose readers OpenImageIO lets a hostile file hang or crash.
        const struct {
            const char* format;
            int (*check)(const char*);
        } checks[] = {{"sgi", checkSgi}, {"dds", checkDds}, {"softimage", checkSoftimage}};
        for (const auto& check : checks) {
            const int status = format != nullptr && std::strcmp(format, check.format) == 0 ? check.check(path)
                                                                                            : imaging_status::kOk;
            if (status != imaging_status::kOk)
                return status;
        }
        if (format != nullptr && std::strcmp(format, "jpeg") == 0) {
            std::uint64_t width = 0;
            std::uint64_t height = 0;
            const int status = checkJpegMarkers(path, width, height, readerBytes);
            if (status != imaging_status::kOk)
                return status;
            if (!pictureFits(picture, width, height, readerBytes))
                return imaging_status::kValueOverflow;
        }
        auto input = openInput(path, format, config);
        if (!input) {
            (void)OIIO::geterror();  // clear the library's pending message
            return imaging_status::kUnknownImageFormat;
        }
        struct stat file {};
        const int status = decode(*input, picture, readerBytes,
                                  stat(path, &file) == 0 ? static_cast<std::uint64_t>(file.st_size) : 0);
        input->close();
        (void)OIIO::geterror();
        return status;
    } catch (const std::bad_alloc&) {
        return imaging_status::kValueOverflow;
    } catch (...) {
        return imaging_status::kUnknownImageFormat;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int orbiluneDecodeWithOpenImageIO(
    const char* path, DecodedPicture* picture)
{
    const int status = decodeFile(path, *picture);
    if (status != imaging_status::kOk)
        picture->pixels.reset();
    return status;
}
