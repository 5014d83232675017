// Picture files on Windows (picture_file.h): the UTF-8 path opened as UTF-16, as GDI+ and
// every other file call of the program opens it, and 64-bit offsets (a long is 32 bits here).
#include <windows.h>

#include <io.h>

#include <string>

#include "picture_file.h"
#include "utf8.h"

PictureFile openPictureFile(const char* path)
{
    const std::wstring wide = utf8ToWide(path);
    if (wide.empty())
        return nullptr;
    PictureFile file(_wfopen(wide.c_str(), L"rb"));
    if (file && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())))) != FILE_TYPE_DISK)
        file.reset();
    return file;
}

bool seekPictureFile(std::FILE* file, std::uint64_t offset)
{
    return offset <= INT64_MAX && _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}

bool skipInPictureFile(std::FILE* file, std::uint64_t bytes)
{
    return bytes <= INT64_MAX && _fseeki64(file, static_cast<long long>(bytes), SEEK_CUR) == 0;
}

bool pictureFileBytes(std::FILE* file, std::uint64_t& bytes)
{
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return false;
    const long long end = _ftelli64(file);
    if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0)
        return false;
    bytes = static_cast<std::uint64_t>(end);
    return true;
}
