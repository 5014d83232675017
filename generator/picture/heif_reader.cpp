// HEIF and AVIF through libheif. OpenImageIO 2.4 lays out the picture by the size the
// primary item declares and copies that many rows out of what libheif decoded, whatever its
// size: a 10 KB file declaring 30000 × 30000 over a picture of 64 × 64 crashed the program.
// It also turns the picture by the file's rotation and mirroring, where every other format
// is used as stored. Here the item's boxes are read first: the primary item must be a coded
// picture (HEVC or AV1) or a grid of distinct coded tiles (an overlay would fill a canvas of
// any size from nothing); libheif decodes it without its transformations, and the picture it
// gives must have the declared size. Only the clean aperture is applied (it says which part
// of the coded picture is the picture); the rotation and the mirroring are not.
//
// Asked to keep the file's samples, it keeps 8-bit pictures as 8-bit RGB words, and those of
// more bits (10 or 12, HDR) as 16-bit RGB, each sample's bits repeated to fill 16 (v of 10
// bits becomes v << 6 | v >> 4, so that the largest is 65535); with the alpha the file's
// picture has, as stored.
#include <libheif/heif.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "decoded_picture.h"
#include "image_object.h"
#include "module_readers.h"

namespace {

// The most a file's meta box may take: item tables of thousands of entries are a few
// hundred kilobytes.
constexpr std::uint64_t kLargestMetaBytes = std::uint64_t{16} << 20;

// A run of bytes read from the file, read field by field; any read past its end fails.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::uint64_t size) : data_(data), size_(size) {}
    bool ok() const { return ok_; }
    std::uint64_t left() const { return ok_ ? size_ - at_ : 0; }
    std::uint64_t at() const { return at_; }
    std::uint64_t number(int bytes)
    {
        if (!ok_ || size_ - at_ < static_cast<std::uint64_t>(bytes)) {
            ok_ = false;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | data_[at_++];
        return value;
    }
    std::uint32_t type() { return static_cast<std::uint32_t>(number(4)); }
    // The next box: its type and a reader over its payload, which this reader skips.
    bool box(std::uint32_t& type, Bytes& payload)
    {
        const std::uint64_t start = at_;
        std::uint64_t size = number(4);
        type = this->type();
        if (size == 1)
            size = number(8);
        else if (size == 0)
            size = size_ - start;
        const std::uint64_t header = at_ - start;
        if (!ok_ || size < header || size - header > size_ - at_)
            return ok_ = false;
        payload = Bytes(data_ + at_, size - header);
        at_ += size - header;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
    bool ok_ = true;
};

constexpr std::uint32_t fourCc(const char (&name)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 8 |
           static_cast<unsigned char>(name[3]);
}

// What the meta box says of the primary item.
struct PrimaryItem {
    std::uint32_t type = 0;
    std::vector<std::uint32_t> tiles;  // a grid's tiles, in order
    std::vector<std::uint32_t> tileTypes;
    bool clean = false;  // a clean aperture: its width, height and centre's offsets, as fractions
    double apertureWidth = 0, apertureHeight = 0, horizontalOffset = 0, verticalOffset = 0;
};

// Reads the meta box (`meta`, after its version and flags) into `primary`.
bool readMeta(Bytes meta, PrimaryItem& primary)
{
    std::uint64_t primaryId = 0;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> itemTypes;
    std::vector<std::pair<std::uint32_t, Bytes>> properties;  // ipco's boxes, from index 1
    std::vector<unsigned> primaryProperties;
    std::vector<std::uint64_t> references;  // the primary item's dimg references
    bool sawPrimary = false;
    std::uint32_t type = 0;
    Bytes box(nullptr, 0);
    while (meta.left() > 0) {
        if (!meta.box(type, box))
            return false;
        if (type == fourCc("pitm")) {
            const std::uint64_t version = box.number(4) >> 24;
            primaryId = box.number(version == 0 ? 2 : 4);
            sawPrimary = box.ok();
        } else if (type == fourCc("iinf")) {
            const std::uint64_t version = box.number(4) >> 24;
            const std::uint64_t count = box.number(version == 0 ? 2 : 4);
            Bytes entry(nullptr, 0);
            for (std::uint64_t i = 0; i < count; ++i) {
                if (!box.box(type, entry) || type != fourCc("infe"))
                    return false;
                const std::uint64_t entryVersion = entry.number(4) >> 24;
                if (entryVersion < 2)
                    continue;  // no item type
                const std::uint64_t id = entry.number(entryVersion == 2 ? 2 : 4);
                entry.number(2);  // protection index
                itemTypes.emplace_back(id, entry.type());
                if (!entry.ok())
                    return false;
            }
        } else if (type == fourCc("iprp")) {
            Bytes child(nullptr, 0);
            while (box.left() > 0) {
                if (!box.box(type, child))
                    return false;
                if (type == fourCc("ipco")) {
                    Bytes property(nullptr, 0);
                    while (child.left() > 0) {
                        if (!child.box(type, property))
                            return false;
                        properties.emplace_back(type, property);
                    }
                } else if (type == fourCc("ipma")) {
                    const std::uint64_t versionAndFlags = child.number(4);
                    const bool longIds = (versionAndFlags >> 24) >= 1, longIndices = (versionAndFlags & 1) != 0;
                    const std::uint64_t count = child.number(4);
                    for (std::uint64_t i = 0; i < count && child.ok(); ++i) {
                        const std::uint64_t id = child.number(longIds ? 4 : 2);
                        const std::uint64_t associations = child.number(1);
                        for (std::uint64_t j = 0; j < associations; ++j) {
                            const std::uint64_t index = child.number(longIndices ? 2 : 1) &
                                                        (longIndices ? 0x7FFFu : 0x7Fu);
                            if (sawPrimary && id == primaryId)
                                primaryProperties.push_back(static_cast<unsigned>(index));
                        }
                    }
                    if (!child.ok())
                        return false;
                }
            }
        } else if (type == fourCc("iref")) {
            const std::uint64_t version = box.number(4) >> 24;
            const int idBytes = version == 0 ? 2 : 4;
            Bytes reference(nullptr, 0);
            while (box.left() > 0) {
                if (!box.box(type, reference))
                    return false;
                const std::uint64_t from = reference.number(idBytes);
                const std::uint64_t count = reference.number(2);
                for (std::uint64_t i = 0; i < count; ++i) {
                    const std::uint64_t to = reference.number(idBytes);
                    if (type == fourCc("dimg") && sawPrimary && from == primaryId)
                        references.push_back(to);
                }
                if (!reference.ok())
                    return false;
            }
        }
        if (!box.ok())
            return false;
    }
    if (!sawPrimary)
        return false;
    const auto typeOf = [&itemTypes](std::uint64_t id) {
        for (const auto& [item, itemType] : itemTypes)
            if (item == id)
                return itemType;
        return std::uint32_t{0};
    };
    primary.type = typeOf(primaryId);
    for (const std::uint64_t tile : references) {
        primary.tiles.push_back(static_cast<std::uint32_t>(tile));
        primary.tileTypes.push_back(typeOf(tile));
    }
    for (const unsigned index : primaryProperties) {
        if (index == 0 || index > properties.size())
            continue;
        auto [propertyType, property] = properties[index - 1];
        if (propertyType != fourCc("clap"))
            continue;
        double values[8];
        for (int i = 0; i < 8; ++i) {
            const std::uint64_t value = property.number(4);
            // The offsets' numerators are signed, the rest unsigned.
            values[i] = i == 4 || i == 6 ? static_cast<double>(static_cast<std::int32_t>(value))
                                         : static_cast<double>(value);
        }
        if (!property.ok() || values[1] == 0 || values[3] == 0 || values[5] == 0 || values[7] == 0)
            return false;
        primary.clean = true;
        primary.apertureWidth = values[0] / values[1];
        primary.apertureHeight = values[2] / values[3];
        primary.horizontalOffset = values[4] / values[5];
        primary.verticalOffset = values[6] / values[7];
    }
    return true;
}

// The file's top-level meta box (after its version and flags), read into `storage`.
bool loadMeta(std::FILE* file, std::uint64_t fileBytes, std::vector<std::uint8_t>& storage)
{
    for (std::uint64_t at = 0; at + 8 <= fileBytes;) {
        std::uint8_t header[16];
        if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 || std::fread(header, 1, 8, file) != 8)
            return false;
        Bytes fields(header, 8);
        std::uint64_t size = fields.number(4);
        const std::uint32_t type = fields.type();
        std::uint64_t headerBytes = 8;
        if (size == 1) {
            if (std::fread(header + 8, 1, 8, file) != 8)
                return false;
            Bytes large(header + 8, 8);
            size = large.number(8);
            headerBytes = 16;
        } else if (size == 0) {
            size = fileBytes - at;
        }
        if (size < headerBytes || size > fileBytes - at)
            return false;
        if (type == fourCc("meta")) {
            if (size - headerBytes < 4 || size - headerBytes > kLargestMetaBytes)
                return false;
            storage.resize(size - headerBytes);
            return std::fread(storage.data(), 1, storage.size(), file) == storage.size();
        }
        at += size;
    }
    return false;
}

// The interleaved samples libheif decoded (of `bits` bits, one byte or two a sample, RGB or
// RGBA as the picture's layout), from (left, top), into the picture's pixels: 8 bits as
// picture words, opaque without alpha; more as 16 bits, each sample's bits repeated.
void keepSamples(const std::uint8_t* plane, std::uint64_t planeStride, std::uint64_t left, std::uint64_t top,
                 int bits, DecodedPicture& picture)
{
    const unsigned channels = picture.layout.channels;
    const bool wide = picture.layout.type == SampleType::U16;
    const int up = 16 - bits, down = 2 * bits - 16;
    for (std::uint64_t row = 0; row < picture.rows; ++row) {
        const std::uint8_t* in = plane + (top + row) * planeStride + left * channels * (wide ? 2 : 1);
        if (!wide) {
            auto* out = reinterpret_cast<std::uint32_t*>(pixelAt(picture, 0, row));
            for (std::uint64_t column = 0; column < picture.columns; ++column, in += channels)
                out[column] = pictureWord(in[0], in[1], in[2]) |
                              (channels == 4 ? std::uint32_t{in[3]} << 24 : 0xFF000000u);
            continue;
        }
        unsigned char* out = pixelAt(picture, 0, row);
        for (std::uint64_t i = 0; i < picture.columns * channels; ++i) {
            const unsigned value = in[2 * i] | in[2 * i + 1] << 8;
            const auto sample = static_cast<std::uint16_t>(value << up | value >> down);
            std::memcpy(out + 2 * i, &sample, 2);
        }
    }
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

}  // namespace

int readHeif(const char* path, DecodedPicture& picture)
{
    PrimaryItem primary;
    {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
        struct stat status {};
        std::vector<std::uint8_t> meta;
        if (!file || fstat(fileno(file.get()), &status) != 0 ||
            !loadMeta(file.get(), static_cast<std::uint64_t>(status.st_size), meta) ||
            !readMeta(Bytes(meta.data() + 4, meta.size() - 4), primary))
            return imaging_status::kUnknownImageFormat;
    }
    const auto coded = [](std::uint32_t type) { return type == fourCc("hvc1") || type == fourCc("av01"); };
    if (primary.type == fourCc("grid")) {
        std::vector<std::uint32_t> distinct = primary.tiles;
        std::sort(distinct.begin(), distinct.end());
        if (distinct.empty() || std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end() ||
            !std::all_of(primary.tileTypes.begin(), primary.tileTypes.end(), coded))
            return imaging_status::kUnknownImageFormat;
    } else if (!coded(primary.type)) {
        return imaging_status::kUnknownImageFormat;
    }

    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context || heif_context_read_from_file(context.get(), path, nullptr).code != heif_error_Ok)
        return imaging_status::kUnknownImageFormat;
    heif_image_handle* opened = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &opened).code != heif_error_Ok)
        return imaging_status::kUnknownImageFormat;
    const std::unique_ptr<heif_image_handle, HandleDeleter> handle(opened);
    const int width = heif_image_handle_get_ispe_width(handle.get());
    const int height = heif_image_handle_get_ispe_height(handle.get());
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
    if (width <= 0 || height <= 0 || static_cast<std::uint32_t>(width) > kMaxPictureSide ||
        static_cast<std::uint32_t>(height) > kMaxPictureSide || bits < 8 || bits > 16)
        return imaging_status::kUnknownImageFormat;
    // The picture: the clean aperture, centred on the coded picture's centre plus its
    // offsets, its sides rounded.
    auto columns = static_cast<std::uint64_t>(width), rows = static_cast<std::uint64_t>(height);
    std::uint64_t left = 0, top = 0;
    if (primary.clean) {
        const double x = primary.horizontalOffset + (width - 1) / 2.0 - (primary.apertureWidth - 1) / 2.0;
        const double y = primary.verticalOffset + (height - 1) / 2.0 - (primary.apertureHeight - 1) / 2.0;
        const double w = std::round(primary.apertureWidth), h = std::round(primary.apertureHeight);
        if (!(x >= 0 && y >= 0 && w >= 1 && h >= 1 && std::floor(x) + w <= width && std::floor(y) + h <= height))
            return imaging_status::kUnknownImageFormat;
        left = static_cast<std::uint64_t>(x);
        top = static_cast<std::uint64_t>(y);
        columns = static_cast<std::uint64_t>(w);
        rows = static_cast<std::uint64_t>(h);
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    picture.fileLayout = {bits > 8 ? SampleType::U16 : SampleType::U8, alpha ? 4u : 3u};
    const bool keep = picture.keepSamples;
    if (keep)
        picture.layout = picture.fileLayout;
    const bool keepAlpha = keep && alpha;
    // libheif holds the decoded planes (and, inside the decoder, a copy of them) and the
    // interleaved colours it converts them to, of up to two bytes a sample.
    const std::uint64_t sampleBytes = bits > 8 ? 2 : 1;
    const std::uint64_t channels = keepAlpha ? 4 : 3;
    const std::uint64_t readerBytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
                                      sampleBytes * (channels + channels + channels);
    if (!pictureFits(picture, columns, rows, readerBytes))
        return imaging_status::kValueOverflow;

    std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options*)> options(heif_decoding_options_alloc(),
                                                                                     heif_decoding_options_free);
    if (!options)
        return imaging_status::kOutOfMemory;
    options->ignore_transformations = 1;
    const heif_chroma chroma = bits > 8 ? (keepAlpha ? heif_chroma_interleaved_RRGGBBAA_LE
                                                     : heif_chroma_interleaved_RRGGBB_LE)
                                        : (keepAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, chroma, options.get());
    const std::unique_ptr<heif_image, ImageDeleter> image(decoded);
    if (error.code != heif_error_Ok || !image || heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != height)
        return imaging_status::kUnknownImageFormat;
    int planeStride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &planeStride);
    const int sampleBits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (plane == nullptr || planeStride <= 0 || sampleBits < 8 || sampleBits > 16)
        return imaging_status::kUnknownImageFormat;
    const int status = allocatePicture(picture, columns, rows);
    if (status != imaging_status::kOk)
        return status;
    if (keep) {
        keepSamples(plane, static_cast<std::uint64_t>(planeStride), left, top, sampleBits, picture);
        fillWrapPixels(picture);
        return imaging_status::kOk;
    }
    // A sample of more than 8 bits gives its high 8 bits, as every reader does.
    const int shift = sampleBits - 8;
    for (std::uint64_t row = 0; row < rows; ++row) {
        const std::uint8_t* in = plane + (top + row) * static_cast<std::uint64_t>(planeStride);
        std::uint32_t* out = picture.pixels.get() + row * picture.stride;
        for (std::uint64_t column = 0; column < columns; ++column) {
            std::uint32_t rgb[3];
            for (int channel = 0; channel < 3; ++channel) {
                const std::uint64_t at = (left + column) * 3 + static_cast<std::uint64_t>(channel);
                rgb[channel] = sampleBytes == 1 ? in[at]
                                                : static_cast<std::uint32_t>(in[2 * at] | in[2 * at + 1] << 8) >> shift;
            }
            out[column] = pictureWord(rgb[0] & 0xFFu, rgb[1] & 0xFFu, rgb[2] & 0xFFu);
        }
    }
    image_backend::fillWrapWords(picture.pixels.get(), picture.columns, picture.rows, picture.stride);
    return imaging_status::kOk;
}
