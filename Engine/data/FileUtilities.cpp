#include "data/FileUtilities.h"

#include "platform/Directory.h"
#include "platform/PlatformFile.h"

#include <cstring>
#include <string>

namespace GAME {

bool HasDriveSpecifier(const char* path)
{
    return path && std::strchr(path, ':') != nullptr;
}

bool SetFileReadOnly(const char* path, bool readOnly)
{
    return path && Platform::SetFileReadOnly(path, readOnly);
}

bool CreateDirectoryPath(const char* path)
{
    if (!path)
        return false;
    std::string text = path;
    size_t start = 0;
    // "\\server\" and "X:" prefixes stay whole; on this platform they are plain folder names.
    if (text.size() > 2 && (text[0] == '\\' || text[0] == '/') && text[1] == text[0]) {
        size_t end = text.find_first_of("/\\", 2);
        start = end == std::string::npos ? text.size() : end + 1;
    } else if (text.size() >= 2 && text[1] == ':') {
        start = 2;
    }
    for (size_t pos = text.find_first_of("/\\", start); pos != std::string::npos;
         pos = text.find_first_of("/\\", pos + 1)) {
        std::string prefix = text.substr(0, pos + 1);
        if (!Platform::CreateDirectory(prefix))
            return false;
    }
    return true;
}

} // namespace GAME
