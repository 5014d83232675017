// The image object's backend everywhere but Windows: PNG, BMP and FITS files go through our
// own readers (png_reader.cpp, bmp_reader.cpp, fits_reader.cpp), and TIFF files whose samples
// are kept through the portable reader that the Windows build uses too (tiff_reader.cpp: the
// same samples on both, faster than libtiff through OpenImageIO, which it spares loading);
// everything else through OpenImageIO, loaded on first use.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "decoded_picture.h"
#include "image_object.h"
#include "oiio_module.h"

// The file is opened without blocking and asked what it is, so that a FIFO without a writer
// cannot stall the run, a device such as /dev/zero or a socket never reaches a reader, and
// neither does a file of the kernel's that says it is empty (under /proc) but would be read
// for ever.
bool isPictureFile(const char* path)
{
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    struct stat status {};
    const bool regular = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
    close(descriptor);
    return regular;
}

int readWithOpenImageIO(const char* path, DecodedPicture& picture)
{
    using DecodeFn = int (*)(const char* path, DecodedPicture* picture);
    const auto decode = reinterpret_cast<DecodeFn>(openImageIOSymbol("orbiluneDecodeWithOpenImageIO"));
    if (decode == nullptr)
        return imaging_status::kGenericError;  // the reader module is missing
    return decode(path, &picture);
}

int startImaging(std::uintptr_t& token)
{
    token = 1;
    return imaging_status::kOk;
}

void stopImaging(std::uintptr_t) {}

namespace image_backend {

void* allocateObject(std::size_t bytes) { return std::malloc(bytes); }

void freeObject(void* memory) { std::free(memory); }

int load(const char* path, bool keepSamples, NativeImage*& image)
{
    image = nullptr;
    std::unique_ptr<NativeImage> decoded(new (std::nothrow) NativeImage);
    if (!decoded)
        return imaging_status::kOutOfMemory;
    decoded->memoryLimit = pictureMemory.limitBytes;
    decoded->keepSamples = keepSamples;
    if (!isPictureFile(path))
        return imaging_status::kUnknownImageFormat;
    int status = readPngDirect(path, *decoded);
    if (status == kNotMine)
        status = readBmpDirect(path, *decoded);
    if (status == kNotMine)
        status = readFitsDirect(path, *decoded);
    if (status == kNotMine && keepSamples)
        status = readTiffDirect(path, *decoded);
    if (status == kNotMine)
        status = readWithOpenImageIO(path, *decoded);
    if (status == imaging_status::kOk)
        image = decoded.release();
    return status;
}

}  // namespace image_backend
