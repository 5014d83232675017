// The command line's system questions on POSIX systems.
#include "system.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace cli_system {

namespace fs = std::filesystem;

// PNG goes through Orbilune's own reader, everything else through OpenImageIO.
const char* const kPictureDecoder = "OpenImageIO";
const char* const kPathSeparators = "/";

bool isAbsolutePath(const std::string& path)
{
    return !path.empty() && path[0] == '/';
}

Arguments::Arguments(int argc, char** argv) : strings_(argv, argv + argc)
{
    for (const std::string& argument : strings_)
        pointers_.push_back(argument.c_str());
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

// A name over NAME_MAX, or the whole path over PATH_MAX, fails with ENAMETOOLONG.
Found lookFor(const std::string& path, bool directory)
{
    if (path.empty())
        return Found::No;
    std::error_code error;
    if (directory ? fs::is_directory(path, error) : fs::exists(path, error))
        return Found::Yes;
    return error == std::errc::filename_too_long ? Found::NameTooLong : Found::No;
}

std::size_t pathCapacity() { return PATH_MAX; }

std::size_t pathLength(const std::string& path) { return path.size(); }

std::string joinPath(const std::string& folder, const char* fileName)
{
    return (fs::path(folder) / fileName).string();
}

bool makeFoldersFor(const std::string& folder, const std::string& relative)
{
    const fs::path parent = fs::path(relative).parent_path();
    if (parent.empty())
        return true;
    std::error_code error;
    fs::create_directories(fs::path(folder) / parent, error);
    return !error;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace cli_system
