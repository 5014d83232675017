// What the command line asks of the operating system, behind one interface: whether
// standard error is a terminal, whether a path names a file or a folder, how long a path
// the system opens and how a texture's path is joined. system_posix.cpp and
// system_win32.cpp answer; the build picks one.
#pragma once

#include <cstddef>
#include <string>

namespace cli_system {

bool stderrIsTerminal();

enum class Found { Yes, No, NameTooLong };

// Whether `path` names a folder (`directory`) or anything at all. A name longer than the
// system takes is told apart from a missing one, so that the user hears which. Paths are
// narrow in the platform's encoding: UTF-8 or the locale's elsewhere, the system code page
// (what argv holds) on Windows.
Found lookFor(const std::string& path, bool directory);

// The longest path the system opens for writing, in bytes with the terminator: PATH_MAX,
// or MAX_PATH on Windows, where the narrow file functions stop.
std::size_t pathCapacity();

// The path of `fileName` in `folder`, with the platform's separator.
std::string joinPath(const std::string& folder, const char* fileName);

}  // namespace cli_system
