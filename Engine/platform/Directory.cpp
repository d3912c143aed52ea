#include "platform/Directory.h"

#include "platform/PathResolve.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace GAME::Platform {

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries)
{
    entries.clear();
    std::string real;
    if (!ResolveExistingPath(path.empty() ? std::string(".") : path, real))
        return false;
    DIR* dir = ::opendir(real.c_str());
    if (!dir)
        return false;
    std::string prefix = real;
    if (prefix.back() != '/')
        prefix += '/';
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if ((name[0] == '.' && name[1] == 0) || (name[0] == '.' && name[1] == '.' && name[2] == 0))
            continue;
        DirectoryEntry item;
        item.name = name;
        if (entry->d_type == DT_DIR) {
            item.isDirectory = true;
        } else if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st;
            item.isDirectory = ::stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(std::move(item));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return true;
}

bool DirectoryExists(const std::string& path)
{
    std::string real;
    struct stat st;
    return ResolveExistingPath(path, real) && ::stat(real.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectory(const std::string& path)
{
    if (DirectoryExists(path))
        return true;
    std::string real = ResolvePathForCreate(path);
    if (::mkdir(real.c_str(), 0777) == 0)
        return true;
    struct stat st;
    return errno == EEXIST && ::stat(real.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectories(const std::string& path)
{
    std::string clean = ToForwardSlashes(path);
    if (clean.empty())
        return true;
    if (clean.back() != '/')
        clean += '/';
    return CreateDirectoryPath(clean);
}

bool CreateDirectoryPath(const std::string& filePath)
{
    std::string clean = ToForwardSlashes(filePath);
    size_t last = clean.rfind('/');
    if (last == std::string::npos)
        return true;
    for (size_t pos = clean.find('/', 1); pos != std::string::npos && pos <= last;
         pos = clean.find('/', pos + 1)) {
        std::string prefix = clean.substr(0, pos);
        if (prefix.empty() || prefix == "." || prefix == ".." || prefix.back() == '/')
            continue;
        if (!CreateDirectory(prefix))
            return false;
    }
    return true;
}

std::string GetCurrentDirectory()
{
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            if (buffer.size() > 1 && buffer.back() == '/')
                buffer.pop_back();
            return buffer;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return ".";
        buffer.resize(buffer.size() * 2);
    }
}

bool IsAbsolutePath(const std::string& path)
{
    return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

} // namespace GAME::Platform
