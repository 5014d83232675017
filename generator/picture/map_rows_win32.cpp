// The rows of a picture file on Windows, chosen as the GDI+ backend chooses its whole
// decoding (image_backend_gdiplus.cpp): a map's own samples of PNG and TIFF by the portable
// readers, row by row. The design's words are GDI+'s, and GDI+ decodes a picture whole, as it
// does OpenEXR's samples and every other format's: those are read whole.
#include "image_object.h"
#include "picture_rows.h"

int openPictureRows(const char* path, const DecodedPicture& settings, std::unique_ptr<PictureRows>& rows)
{
    int status = kReadWhole;
    if (settings.keepSamples) {
        status = openPngRows(path, settings, rows);
        if (status == kNotMine)
            status = openTiffRows(path, settings, rows);
        if (status == kNotMine)
            status = kReadWhole;
    }
    if (status != imaging_status::kOk)
        rows.reset();
    return status;
}
