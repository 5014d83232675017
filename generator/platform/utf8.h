// Paths are UTF-8 inside the program; Windows' file, shell and GDI+ calls take UTF-16. Text
// that is not valid in its encoding converts to an empty string: never a near miss, which
// could name another file.
#pragma once

#if defined(_WIN32)
#include <string>

std::wstring utf8ToWide(const std::string& utf8);
std::string wideToUtf8(const std::wstring& wide);
#endif
