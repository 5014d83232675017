// GDI+'s flat API, as the Windows picture files include it: after <windows.h> and <objidl.h>
// (IStream, which the GDI+ headers use and WIN32_LEAN_AND_MEAN leaves out), with std::min
// and std::max where the headers call min and max unqualified (NOMINMAX removed the
// macros). A bitmap is owned until GdipDisposeImage.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <memory>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace gdip = Gdiplus::DllExports;

struct GdiplusBitmapDeleter {
    void operator()(Gdiplus::GpBitmap* bitmap) const { gdip::GdipDisposeImage(bitmap); }
};
using GdiplusBitmap = std::unique_ptr<Gdiplus::GpBitmap, GdiplusBitmapDeleter>;
