// File helpers the engine shares: drive specifiers, the read-only flag and making the folders of
// a path. Safe from any thread.
#pragma once

namespace GAME {

// True when the path contains ':' (a path that names its drive is never taken as relative).
bool HasDriveSpecifier(const char* path);
bool SetFileReadOnly(const char* path, bool readOnly);
// Creates every folder on the path of a file; the part after the last '/' or '\' is the file
// name and is not created. A leading "\\server\" or drive prefix is kept as it is.
bool CreateDirectoryPath(const char* path);

} // namespace GAME
