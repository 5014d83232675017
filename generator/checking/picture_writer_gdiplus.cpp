// Writing pictures through GDI+'s encoders (PNG, JPEG, TIFF, BMP, GIF), chosen by the file
// name's extension.
#include "gdiplus_api.h"

#include <cctype>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "image_object.h"
#include "picture_writer.h"
#include "utf8.h"

namespace {

// The encoder GDI+ has for the MIME type, or false.
bool encoderFor(const wchar_t* mimeType, CLSID& encoder)
{
    UINT count = 0, bytes = 0;
    if (gdip::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0)
        return false;
    std::vector<unsigned char> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gdip::GdipGetImageEncoders(count, bytes, codecs) != Gdiplus::Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (std::wcscmp(codecs[i].MimeType, mimeType) == 0) {
            encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

const wchar_t* mimeTypeOf(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "png")
        return L"image/png";
    if (extension == "jpg" || extension == "jpeg" || extension == "jpe")
        return L"image/jpeg";
    if (extension == "tif" || extension == "tiff")
        return L"image/tiff";
    if (extension == "bmp")
        return L"image/bmp";
    if (extension == "gif")
        return L"image/gif";
    return nullptr;
}

}  // namespace

int encodePictureFile(const char* path, const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height)
{
    const wchar_t* mimeType = mimeTypeOf(path);
    if (mimeType == nullptr)
        return imaging_status::kUnknownImageFormat;
    std::uintptr_t token = 0;
    if (startImaging(token) != imaging_status::kOk)
        return imaging_status::kGenericError;
    int status = imaging_status::kGenericError;
    {
        // GDI+'s 24-bit layout is blue, green, red, rows of whole 32-bit words.
        const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
        std::vector<std::uint8_t> bgr(stride * height);
        for (std::size_t row = 0; row < height; ++row)
            for (std::size_t column = 0; column < width; ++column)
                for (int channel = 0; channel < 3; ++channel)
                    bgr[row * stride + 3 * column + channel] = rgb[3 * (row * width + column) + 2 - channel];
        Gdiplus::GpBitmap* made = nullptr;
        CLSID encoder;
        if (encoderFor(mimeType, encoder) &&
            gdip::GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), static_cast<INT>(stride),
                                            PixelFormat24bppRGB, bgr.data(), &made) == Gdiplus::Ok) {
            const GdiplusBitmap bitmap(made);
            const std::wstring wide = utf8ToWide(path);
            status = gdip::GdipSaveImageToFile(bitmap.get(), wide.c_str(), &encoder, nullptr) == Gdiplus::Ok
                         ? imaging_status::kOk
                         : imaging_status::kGenericError;
        }
    }
    stopImaging(token);
    return status;
}
