// The command line's system questions on Windows. Paths are UTF-8 inside the program, as
// the arguments are made from the wide command line, and meet the system as UTF-16 through
// the program's one conversion. std::filesystem would not do: libstdc++ widens a narrow
// path byte for byte, as Latin-1.
#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include <cstdio>

#include "system.h"
#include "utf8.h"

namespace cli_system {

const char* const kPictureDecoder = "GDI+";
const char* const kPathSeparators = "\\/";

bool isAbsolutePath(const std::string& path)
{
    // "C:\maps", "\\server\share" and "\maps" (the current drive's root) alike.
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

// A wide argument that does not convert (half a surrogate pair) stays empty, which no
// check takes for a file: never a near miss, which could name another one.
Arguments::Arguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 0; i < count; ++i)
            strings_.push_back(wideToUtf8(wide[i]));
        LocalFree(wide);
    } else {
        strings_.assign(argv, argv + argc);
    }
    for (const std::string& argument : strings_)
        pointers_.push_back(argument.c_str());
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {

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
    const std::wstring wide = utf8ToWide(path);
    if (wide.empty())
        return Found::No;
    if (hasNameTooLong(wide))
        return Found::NameTooLong;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILENAME_EXCED_RANGE ? Found::NameTooLong : Found::No;
    return !directory || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Found::Yes : Found::No;
}

// The textures are written through paths of under MAX_PATH UTF-16 units, where Windows' file
// functions stop without long paths; the dialog refuses longer ones too.
std::size_t pathCapacity() { return MAX_PATH; }

std::size_t pathLength(const std::string& path) { return utf8ToWide(path).size(); }

// As the dialog joins them, with a backslash; a folder that already ends in a separator,
// or a bare drive ("D:", that drive's current folder), takes the name as it is. In UTF-8 no
// byte of a longer letter is an ASCII one, so the last byte tells.
bool makeFoldersFor(const std::string& folder, const std::string& relative)
{
    std::string path = folder;
    for (std::size_t part = 0, slash; (slash = relative.find('/', part)) != std::string::npos; part = slash + 1) {
        path = joinPath(path, relative.substr(part, slash - part).c_str());
        if (!CreateDirectoryW(utf8ToWide(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    return MoveFileExW(utf8ToWide(from).c_str(), utf8ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string joinPath(const std::string& folder, const char* fileName)
{
    if (folder.empty())
        return fileName;
    const char last = folder.back();
    const bool separated = last == '\\' || last == '/' || last == ':';
    return separated ? folder + fileName : folder + '\\' + fileName;
}

}  // namespace cli_system
