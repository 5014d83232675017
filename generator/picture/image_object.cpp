// The portable half of the image object: its life cycle and status keeping on top of the
// backend that decodes (image_backend_*.cpp).
#include "image_object.h"

#include <new>

#include "decoded_picture.h"

ImageObject* ImageObject::createBitmapFromFile(const char* path, bool keepSamples)
{
    void* memory = image_backend::allocateObject(sizeof(BitmapObject));
    if (memory == nullptr)
        return nullptr;
    auto* object = new (memory) BitmapObject();
    NativeImage* native = nullptr;
    object->lastStatus_ = image_backend::load(path, keepSamples, native);
    object->adopt(native);
    return object;
}

void ImageObject::adopt(NativeImage* native)
{
    native_ = native;
    pixels_ = nullptr;
    columns_ = rows_ = 0;
    stride_ = 0;
    if (native_ == nullptr)
        return;
    if (image_backend::size(*native_, columns_, rows_) != imaging_status::kOk)
        columns_ = rows_ = 0;
    pixels_ = image_backend::pixels(*native_);
    stride_ = image_backend::rowStride(*native_);
    layout_ = native_->layout;
    fileLayout_ = native_->fileLayout;
}

void ImageObject::destroy(bool freeMemory)
{
    if (native_ != nullptr)
        image_backend::dispose(native_);
    native_ = nullptr;
    pixels_ = nullptr;
    if (freeMemory) {
        // The object ends here whatever its class: BitmapObject adds nothing to destroy.
        this->ImageObject::~ImageObject();
        image_backend::freeObject(this);
    }
}

ImageObject* ImageObject::clone()
{
    if (native_ == nullptr)
        return nullptr;
    void* memory = image_backend::allocateObject(sizeof(ImageObject));
    if (memory == nullptr)
        return nullptr;
    NativeImage* copy = nullptr;
    const int status = image_backend::clone(*native_, copy);
    if (status != imaging_status::kOk)
        lastStatus_ = status;
    auto* object = new (memory) ImageObject();
    object->lastStatus_ = lastStatus_;
    object->adopt(copy);
    return object;
}

bool ImageObject::reshape(SampleLayout target)
{
    if (native_ == nullptr || !reshapePicture(*native_, target))
        return false;
    adopt(native_);
    return true;
}

void BitmapObject::destroy(bool freeMemory) { ImageObject::destroy(freeMemory); }

ImageObject* BitmapObject::clone() { return ImageObject::clone(); }

int ImageObject::takeLastStatus()
{
    const int status = lastStatus_;
    lastStatus_ = imaging_status::kOk;
    return status;
}

int ImageObject::width(std::uint32_t& value) { return sizeQuery(columns_, value); }

int ImageObject::height(std::uint32_t& value) { return sizeQuery(rows_, value); }

// Without a native image the query fails, leaves `value` alone and keeps its status.
int ImageObject::sizeQuery(std::uint32_t size, std::uint32_t& value)
{
    if (native_ == nullptr) {
        lastStatus_ = imaging_status::kInvalidParameter;
        return lastStatus_;
    }
    value = size;
    return imaging_status::kOk;
}
