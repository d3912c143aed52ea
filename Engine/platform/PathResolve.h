// Case-insensitive path resolution. Game data names are lower-case and may use '\'; files on
// disk keep whatever case they were made with. Each component that does not exist as written is
// looked up among the real names of its folder without regard to (ASCII) case; among several
// candidates the exact spelling wins, then the first in byte order. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace GAME::Platform {

// Every '\' becomes '/'.
std::string ToForwardSlashes(std::string_view path);

// The real path of an existing file or folder; false when some component is missing.
bool ResolveExistingPath(const std::string& path, std::string& resolved);

// For creating: the existing leading components are resolved to their real names, the rest is
// kept as written, so new files and folders get the name as given.
std::string ResolvePathForCreate(const std::string& path);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool EndsWithIgnoreCase(std::string_view text, std::string_view ending);

} // namespace GAME::Platform
