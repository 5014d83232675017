// What the command line asks of the operating system, behind one interface: its arguments,
// whether standard error is a terminal, whether a path names a file or a folder, how long a
// path the system opens and how a texture's path is joined. system_posix.cpp and
// system_win32.cpp answer; the build picks one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cli_system {

// The decoder that reads the pictures on this platform, as the help text names it.
extern const char* const kPictureDecoder;

// The program's arguments in UTF-8, the encoding of every path inside the program: argv
// itself on POSIX systems; on Windows the wide command line, converted, since the narrow
// argv there is in the system code page, which cannot spell every name.
class Arguments {
public:
    Arguments(int argc, char** argv);
    int count() const { return static_cast<int>(pointers_.size()); }
    const char* const* values() const { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<const char*> pointers_;
};

bool stderrIsTerminal();

enum class Found { Yes, No, NameTooLong };

// Whether `path` (UTF-8) names a folder (`directory`) or anything at all. A name longer than
// the system takes is told apart from a missing one, so that the user hears which.
Found lookFor(const std::string& path, bool directory);

// The longest path the system opens for writing, with the terminator, in the units
// pathLength counts: PATH_MAX bytes, or MAX_PATH UTF-16 units on Windows, where the file
// functions stop without long paths.
std::size_t pathCapacity();
std::size_t pathLength(const std::string& path);

// The characters that end a folder's name in a path ("/", or "\\/" on Windows), and whether
// a path stands on its own, not from the current folder.
extern const char* const kPathSeparators;
bool isAbsolutePath(const std::string& path);

// The path of `fileName` in `folder`, with the platform's separator.
std::string joinPath(const std::string& folder, const char* fileName);

// Makes the folders of `relative` (a file name such as "new1/0/0_0.png", '/' between its
// parts) inside `folder`, those that are not there; false if one cannot be made.
bool makeFoldersFor(const std::string& folder, const std::string& relative);

// Renames `from` to `to`, replacing `to`; false if it cannot.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace cli_system
