#include "platform/PathResolve.h"

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace GAME::Platform {

namespace {

inline char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.empty() ? "." : path.c_str(), &st) == 0;
}

// The real name in `folder` that matches `name` regardless of case; exact spelling first, then
// the smallest in byte order, so the choice does not depend on the listing order.
bool FindInFolder(const std::string& folder, const std::string& name, std::string& real)
{
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        const char* candidate = entry->d_name;
        if (!EqualsIgnoreCase(candidate, name))
            continue;
        if (name == candidate) {
            real = name;
            found = true;
            break;
        }
        if (!found || std::strcmp(candidate, real.c_str()) < 0)
            real = candidate;
        found = true;
    }
    ::closedir(dir);
    return found;
}

// Resolves component by component. `complete` tells whether every component was found; the
// components after the first missing one are appended as written. `exists`: the whole path as
// written was found at once (the usual case), so nobody need look for it again.
std::string Resolve(const std::string& path, bool& complete, bool& exists)
{
    std::string input = ToForwardSlashes(path);
    complete = true;
    exists = Exists(input);
    if (exists)
        return input;

    std::string result;
    size_t pos = 0;
    if (!input.empty() && input[0] == '/') {
        result = "/";
        pos = 1;
    }
    bool missing = false;
    while (pos <= input.size()) {
        size_t end = input.find('/', pos);
        if (end == std::string::npos)
            end = input.size();
        std::string component = input.substr(pos, end - pos);
        bool lastComponent = end >= input.size();
        if (!component.empty()) {
            if (!result.empty() && result.back() != '/')
                result += '/';
            std::string real;
            if (missing || component == "." || component == ".." || Exists(result + component)) {
                result += component;
            } else if (FindInFolder(result, component, real)) {
                result += real;
            } else {
                missing = true;
                result += component;
            }
        } else if (!lastComponent && !result.empty() && result.back() != '/') {
            result += '/';
        }
        if (lastComponent) {
            if (!input.empty() && input.back() == '/' && (result.empty() || result.back() != '/'))
                result += '/';
            break;
        }
        pos = end + 1;
    }
    complete = !missing;
    return result;
}

} // namespace

std::string ToForwardSlashes(std::string_view path)
{
    std::string out(path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

bool ResolveExistingPath(const std::string& path, std::string& resolved)
{
    bool complete = false, exists = false;
    std::string result = Resolve(path, complete, exists);
    if (!exists && (!complete || !Exists(result)))
        return false;
    resolved = std::move(result);
    return true;
}

std::string ResolvePathForCreate(const std::string& path)
{
    bool complete = false, exists = false;
    return Resolve(path, complete, exists);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view ending)
{
    return text.size() >= ending.size() && EqualsIgnoreCase(text.substr(text.size() - ending.size()), ending);
}

} // namespace GAME::Platform
