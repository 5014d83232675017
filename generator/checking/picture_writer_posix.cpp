// Writing pictures through OpenImageIO's encoders, in the module of oiio_writer.cpp.
#include "image_object.h"
#include "oiio_module.h"
#include "picture_writer.h"

int encodePictureFile(const char* path, const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height)
{
    using EncodeFn = int (*)(const char*, const std::uint8_t*, std::uint32_t, std::uint32_t);
    const auto encode = reinterpret_cast<EncodeFn>(openImageIOSymbol("orbiluneEncodeWithOpenImageIO"));
    if (encode == nullptr)
        return imaging_status::kGenericError;  // the module is missing
    return encode(path, rgb, width, height);
}
