// The resource manager of one resource kind T (a Resource with a constructor taking the manager
// and the file name). Thread rules are those of BaseResourceManager.
#pragma once

#include "data/BaseResourceManager.h"

#include <new>

namespace GAME {

template <class T> class ResourceManager : public BaseResourceManager
{
public:
    explicit ResourceManager(ResourceLoader* loader) : BaseResourceManager(loader) {}

    Resource* CreateResource(const std::string& fileName) override
    {
        return new (std::nothrow) T(this, fileName);
    }

    // LoadResource with the kind's own type.
    T* LoadTypedResource(const std::string& fileName) { return static_cast<T*>(LoadResource(fileName)); }
};

} // namespace GAME
