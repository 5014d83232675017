// The module's encoder: OpenImageIO writes a picture in the format of the file name's
// extension.
#include <OpenImageIO/imageio.h>

#include <cstdint>

#include "image_object.h"

extern "C" __attribute__((visibility("default"))) int orbiluneEncodeWithOpenImageIO(
    const char* path, const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height)
{
    try {
        auto output = OIIO::ImageOutput::create(path);
        if (!output) {
            (void)OIIO::geterror();
            return imaging_status::kUnknownImageFormat;
        }
        const OIIO::ImageSpec spec(static_cast<int>(width), static_cast<int>(height), 3, OIIO::TypeDesc::UINT8);
        const bool written = output->open(path, spec) && output->write_image(OIIO::TypeDesc::UINT8, rgb) &&
                             output->close();
        (void)OIIO::geterror();
        return written ? imaging_status::kOk : imaging_status::kGenericError;
    } catch (...) {
        return imaging_status::kGenericError;
    }
}
