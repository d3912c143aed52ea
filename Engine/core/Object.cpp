#include "core/Object.h"

#include "core/Name.h"

namespace GAME {

GAME_REGISTER_ROOT_CLASS(Object)

Object::~Object() = default;

void Object::Load(const LoadTable&) {}

void Object::SetObjectName(const std::string& name)
{
    m_objectName = name;
    m_objectNameHash = Name::Create(m_objectName.c_str()).Hash();
}

} // namespace GAME
