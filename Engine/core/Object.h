// Root of every class that can be created by name from a database record: entities, music
// sessions, sound paks, terrain types, grid systems, noise textures and the host's own classes.
// Carries the object's name (the record it was made from), the name's hash and the id the object
// manager gave it. Objects made by the object manager are destroyed through it, hence the
// protected destructor. An object belongs to the thread that uses it; nothing here locks.
#pragma once

#include "core/RTTI_ClassInfo.h"

#include <string>

namespace GAME {

class LoadTable;
class ObjectManager;

class Object
{
    GAME_DECLARE_ROOT_CLASS(Object)

public:
    Object() = default;
    Object(const Object&) = default;
    Object& operator=(const Object&) = default;

    // Reads the object's fields from its record; the base has none.
    virtual void Load(const LoadTable& table);

    unsigned int GetObjectId() const { return m_objectId; }
    void SetObjectId(unsigned int id) { m_objectId = id; }

    const std::string& GetObjectName() const { return m_objectName; }
    unsigned int GetObjectNameHash() const { return m_objectNameHash; }
    // Also sets the name hash: word 0 of the name's MD5.
    void SetObjectName(const std::string& name);

protected:
    virtual ~Object();

private:
    friend class ObjectManager;

    std::string m_objectName;
    unsigned int m_objectNameHash = 0;
    unsigned int m_objectId = 0;
};

} // namespace GAME
