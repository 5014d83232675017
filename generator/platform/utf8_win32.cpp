// UTF-8 <-> UTF-16, for the program's paths at Windows' wide calls. Both directions are
// strict: text that is not valid in its encoding converts to nothing, never to a near miss
// with a replacement character in it, which could name another file.
#include <windows.h>

#include <climits>

#include "utf8.h"

namespace {

// One direction of the conversion: `convert` is MultiByteToWideChar or WideCharToMultiByte
// bound to its code page and flags, called once to size the result and once to fill it.
template <class Out, class In, class Convert>
Out convertAll(const In& text, Convert convert)
{
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX))
        return Out();
    const int length = static_cast<int>(text.size());
    const int needed = convert(text.data(), length, nullptr, 0);
    if (needed <= 0)
        return Out();
    Out out(static_cast<std::size_t>(needed), typename Out::value_type());
    if (convert(text.data(), length, &out[0], needed) != needed)
        return Out();
    return out;
}

}  // namespace

std::wstring utf8ToWide(const std::string& utf8)
{
    return convertAll<std::wstring>(utf8, [](const char* in, int length, wchar_t* out, int room) {
        return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in, length, out, room);
    });
}

std::string wideToUtf8(const std::wstring& wide)
{
    return convertAll<std::string>(wide, [](const wchar_t* in, int length, char* out, int room) {
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, in, length, out, room, nullptr, nullptr);
    });
}
