// The rows of a picture file everywhere but Windows, chosen as the backend chooses its whole
// decoding (image_backend_posix.cpp): PNG by our own reader, BMP and FITS by theirs (read
// whole), TIFF whose samples are kept by the portable reader, everything else through the
// OpenImageIO module, which reads in bands all it decodes itself.
#include <cstdio>
#include <cstring>

#include "decoded_picture.h"
#include "image_object.h"
#include "oiio_module.h"
#include "picture_file.h"
#include "picture_rows.h"

namespace {

// Whether the file begins with `signature`: the BMP and FITS readers claim their files by
// these (bmp_reader.cpp, fits_reader.cpp) before OpenImageIO sees them.
bool beginsWith(const char* path, const char* signature)
{
    const PictureFile file = openPictureFile(path);
    char head[16] = {};
    const std::size_t length = std::strlen(signature);
    return file && std::fread(head, 1, length, file.get()) == length && std::memcmp(head, signature, length) == 0;
}

int openRowsWithOpenImageIO(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows)
{
    using OpenFn = int (*)(const char* path, const DecodedPicture* settings, PictureRows** rows);
    const auto openRows = reinterpret_cast<OpenFn>(openImageIOSymbol("orbiluneOpenRowsWithOpenImageIO"));
    if (openRows == nullptr)
        return imaging_status::kGenericError;  // the reader module is missing
    PictureRows* opened = nullptr;
    const int status = openRows(path, &settings, &opened);
    rows.reset(opened);
    return status;
}

}  // namespace

int openPictureRows(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows)
{
    if (!isPictureFile(path))
        return imaging_status::kUnknownImageFormat;
    int status = openPngRows(path, settings, rows);
    if (status == kNotMine && (beginsWith(path, "BM") || beginsWith(path, "SIMPLE  =")))
        status = kReadWhole;
    if (status == kNotMine && settings.keepSamples)
        status = openTiffRows(path, settings, rows);
    if (status == kNotMine)
        status = openRowsWithOpenImageIO(path, settings, rows);
    if (status != imaging_status::kOk)
        rows.reset();
    return status;
}
