#include "platform/Module.h"

#include "platform/SystemInfo.h"

#include <cstring>
#include <dlfcn.h>

namespace GAME::Platform {

namespace {

void SetError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

void* Open(const std::string& path, std::string& reason)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        reason = text ? text : "unknown loader error";
    }
    return handle;
}

} // namespace

ModuleHandle LoadModule(const char* name, std::string* error)
{
    if (!name || !*name || std::strchr(name, '/')) {
        SetError(error, "not a plain module name");
        return nullptr;
    }
    const std::string fileName = std::string(name) + ".so";

    // Beside the engine library first, so a build tree or an installed game finds its own
    // modules before anything of the same name on the system.
    std::string besideReason;
    const std::string folder = GetLibraryFolder();
    if (!folder.empty())
        if (void* handle = Open(folder + fileName, besideReason))
            return static_cast<ModuleHandle>(handle);

    std::string searchReason;
    if (void* handle = Open(fileName, searchReason))
        return static_cast<ModuleHandle>(handle);

    // A module that exists beside the library but failed to load says more than "not found".
    if (!besideReason.empty() && besideReason.find("No such file") == std::string::npos)
        SetError(error, besideReason);
    else
        SetError(error, searchReason);
    return nullptr;
}

void* FindModuleSymbol(ModuleHandle module, const char* symbol)
{
    if (!module || !symbol)
        return nullptr;
    dlerror();
    return dlsym(static_cast<void*>(module), symbol);
}

bool UnloadModule(ModuleHandle module)
{
    if (!module)
        return false;
    return dlclose(static_cast<void*>(module)) == 0;
}

} // namespace GAME::Platform
