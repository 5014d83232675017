// The direct PNG reader: libpng, row by row, straight into the picture's words. It gives
// exactly what OpenImageIO gives for the files it accepts (8 bits per channel, not
// interlaced), alpha and transparency ignored, and leaves every other PNG to OpenImageIO.
#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "decoded_picture.h"
#include "image_object.h"

namespace {

[[noreturn]] void failRead(png_structp png, png_const_charp)
{
    std::longjmp(png_jmpbuf(png), 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// libpng reports errors by longjmp, so this function keeps no object with a destructor
// alive across the setjmp: the caller owns the file and the picture.
int readRows(std::FILE* file, DecodedPicture& picture)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, failRead, ignoreWarning);
    if (png == nullptr)
        return imaging_status::kOutOfMemory;
    png_infop info = png_create_info_struct(png);
    volatile int status = imaging_status::kUnknownImageFormat;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_sig_bytes(png, 8);
        png_read_info(png, info);
        const png_uint_32 columns = png_get_image_width(png, info);
        const png_uint_32 rows = png_get_image_height(png, info);
        const int depth = png_get_bit_depth(png, info);
        const int colour = png_get_color_type(png, info);
        if (depth != 8 || png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
            status = kNotMine;
        } else {
            if (colour == PNG_COLOR_TYPE_PALETTE)
                png_set_palette_to_rgb(png);
            if ((colour & PNG_COLOR_MASK_ALPHA) != 0)
                png_set_strip_alpha(png);
            if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA)
                png_set_gray_to_rgb(png);
            png_set_filler(png, 0, PNG_FILLER_AFTER);  // R, G, B, 0: one word per pixel
            png_read_update_info(png, info);
            status = allocatePicture(picture, columns, rows);
            if (status == imaging_status::kOk && png_get_rowbytes(png, info) != columns * 4u)
                status = imaging_status::kUnknownImageFormat;
            if (status == imaging_status::kOk) {
                for (png_uint_32 row = 0; row < rows; ++row)
                    png_read_row(png, reinterpret_cast<png_bytep>(picture.pixels.get() + row * picture.stride),
                                 nullptr);
            }
        }
    } else if (info != nullptr) {
        status = imaging_status::kUnknownImageFormat;  // libpng failed: corrupt or cut short
    }
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    return status;
}

}  // namespace

int readPngDirect(const char* path, DecodedPicture& picture)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return kNotMine;  // let the general reader say what is wrong
    unsigned char signature[8];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0)
        return kNotMine;
    const int status = readRows(file.get(), picture);
    if (status != imaging_status::kOk)
        picture.pixels.reset();
    else
        image_backend::fillWrapWords(picture.pixels.get(), picture.columns, picture.rows, picture.stride);
    return status;
}
