// The process-wide owner of the water types, shared by name (compared ignoring case) with a use
// count, so that every level naming the same water draws with one object. A lazily made instance
// (Get, Destroy); the engine destroys it at shut-down, after the editor filter, and every type
// still registered then is logged and destroyed.
//
// A type is registered with one reference (CreateWaterType, AddWaterType); GetWaterType adds one
// and ReleaseWaterType drops one, destroying the type with its last. The first definition of a
// name wins: AddWaterType refuses a name already known, so a level cannot change a type another
// level draws with. A registered type loads its textures as it is registered (the bump texture on
// the main thread only, see WaterType).
//
// Threads: every operation takes the manager's lock, because the level loading threads register,
// get and release types while the main thread draws and edits them. A type pointer stays valid
// while its caller holds a reference. A type destroyed off the main thread hands its bump
// texture to the manager, which releases it at its next use on the main thread.
#pragma once

#include "core/CriticalSection.h"
#include "core/Singleton.h"

#include <string>
#include <vector>

namespace GAME {

class NoiseTexture;
class WaterType;

class WaterTypeManager : public Singleton<WaterTypeManager>
{
public:
    struct WaterTypeRef
    {
        WaterType* type = nullptr; // owned; null marks a free entry
        int references = 0;
    };

    WaterTypeManager() = default;
    ~WaterTypeManager() override;

    bool IsWaterType(const std::string& name);
    // The type of that name with one more reference; null (no reference) when unknown.
    WaterType* GetWaterType(const std::string& name);
    // The known type with one more reference, or a new one of that name with default values and
    // one reference.
    WaterType* CreateWaterType(const std::string& name);
    // A copy of the type registered with one reference; null when its name is already known.
    WaterType* AddWaterType(const WaterType& type);
    // One more reference to the type of that name: the registered one when the name is known (its
    // values stay as they are), else a copy of this one, registered. The water loader holds the
    // types its block names this way, so that no other thread can release them while it loads.
    WaterType* HoldWaterType(const WaterType& type);
    // One reference fewer; true when that was the last and the type is gone. Null or a type the
    // manager does not hold gives false.
    bool ReleaseWaterType(const WaterType* type);
    // False when the new name is known (ignoring case) or the old one is not.
    bool RenameWaterType(const std::string& oldName, const std::string& newName);
    // The names of the registered types in entry order (the vector's contents are replaced).
    void GetWaterTypeNames(std::vector<std::string>& names);
    // The type's reference count; 0 for a type the manager does not hold.
    int GetReferenceCount(const WaterType* type);
    int GetNumWaterTypes();

private:
    WaterTypeRef* FindWaterType(const std::string& name);
    // The new type filed in the first free entry (or a new one) with one reference, its resources
    // loaded; the type.
    WaterType* AddWaterTypeReference(WaterType* type);
    // One more reference to the entry's type; the type.
    static WaterType* Hold(WaterTypeRef& entry);
    // Releases the bump textures left by types destroyed off the main thread (main thread only).
    void ReleaseDeferredTextures();

    CriticalSection m_lock;
    std::vector<WaterTypeRef> m_types;
    std::vector<NoiseTexture*> m_deferredTextures;
};

} // namespace GAME
