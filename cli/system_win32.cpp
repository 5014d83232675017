// The command line's system questions on Windows. Paths arrive in the system code page (the
// narrow argv) and are looked up as the GDI+ backend opens them: converted from that code
// page to UTF-16. std::filesystem would not do: libstdc++ widens a narrow path byte for
// byte, as Latin-1, so "€" (0x80 in code page 1252) would name another file.
#include <windows.h>

#include <io.h>

#include <cstdio>

#include "system.h"

namespace cli_system {

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {

bool widePath(const std::string& path, std::wstring& wide)
{
    const int units = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (units <= 0)
        return false;
    wide.assign(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], units) != units)
        return false;
    wide.resize(static_cast<std::size_t>(units) - 1);
    return true;
}

// No Windows file system holds a name of over 255 UTF-16 units, so a path with such a name
// is too long whatever a lookup says (Wine reports it as missing).
constexpr std::size_t kLongestName = 255;

bool hasNameTooLong(const std::wstring& path)
{
    std::size_t length = 0;
    for (const wchar_t unit : path) {
        length = unit == L'\\' || unit == L'/' ? 0 : length + 1;
        if (length > kLongestName)
            return true;
    }
    return false;
}

}  // namespace

// A whole path over MAX_PATH, where long paths are off, fails with ERROR_FILENAME_EXCED_RANGE.
Found lookFor(const std::string& path, bool directory)
{
    std::wstring wide;
    if (path.empty() || !widePath(path, wide))
        return Found::No;
    if (hasNameTooLong(wide))
        return Found::NameTooLong;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILENAME_EXCED_RANGE ? Found::NameTooLong : Found::No;
    return !directory || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Found::Yes : Found::No;
}

// The textures are written through fopen's narrow paths, which stop at MAX_PATH on Windows
// without long paths; the dialog refuses longer ones too.
std::size_t pathCapacity() { return MAX_PATH; }

// As the dialog joins them, with a backslash; a folder that already ends in a separator,
// or a bare drive ("D:", that drive's current folder), takes the name as it is. The last
// character is found as the code page spells it: in a double-byte code page a backslash's
// byte can be the second half of a letter.
std::string joinPath(const std::string& folder, const char* fileName)
{
    if (folder.empty())
        return fileName;
    const char* end = folder.c_str() + folder.size();
    const char* last = CharPrevExA(CP_ACP, folder.c_str(), end, 0);
    const bool separated = end - last == 1 && (*last == '\\' || *last == '/' || *last == ':');
    return separated ? folder + fileName : folder + '\\' + fileName;
}

}  // namespace cli_system
