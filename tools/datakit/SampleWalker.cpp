#include "datakit/SampleWalker.h"

#include "core/MathUtil.h"
#include "data/LoadTable.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "scene/GraphicsAnim.h"
#include "world/Engine.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <cmath>

namespace DataKit {

GAME_REGISTER_CLASS(SampleWalker, GAME::Actor)

const char* SampleWalker::ClassName()
{
    return classInfo.GetClassName();
}

SampleWalker::~SampleWalker()
{
    StopAnimations();
    if (m_animation && GAME::gEngine && GAME::gEngine->GetGraphicsEngine())
        GAME::gEngine->GetGraphicsEngine()->UnloadAnimation(m_animation);
    m_animation = nullptr;
}

void SampleWalker::Load(const GAME::LoadTable& constTable)
{
    GAME::Actor::Load(constTable);
    auto& table = const_cast<GAME::LoadTable&>(constTable);
    m_animation = table.LoadAnimation("animation");
    const float rate = table.GetFloat("turnRate", 0.0f);
    m_turnRate = std::isfinite(rate) ? rate : 0.0f;
    float tint[3];
    const char* const fields[3] = {"tintColor.r", "tintColor.g", "tintColor.b"};
    for (int i = 0; i < 3; ++i) {
        const float value = table.GetFloat(fields[i], 1.0f);
        tint[i] = std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 1.0f;
    }
    SetTintColor(GAME::Color(tint[0], tint[1], tint[2], 1.0f));
}

void SampleWalker::PreLoad(bool immediate)
{
    GAME::Actor::PreLoad(immediate);
    if (m_animation && m_animation->GetLoadedState() == GAME::Resource::LOAD_STATE_NOT_LOADED)
        if (GAME::ResourceLoader* loader = m_animation->GetResourceLoader())
            loader->EnqueueResource(
                m_animation, immediate ? GAME::RESOURCE_PRIORITY_HIGH : GAME::RESOURCE_PRIORITY_LOW, false);
}

void SampleWalker::UpdateSelf(int elapsed)
{
    // Started once the walk and the mesh are loaded: playing either before would load it here and
    // now, on the main thread.
    if (!m_walking && m_animation && m_animation->GetLoadedState() == GAME::Resource::LOAD_STATE_LOADED &&
        GetLoadedMesh()) {
        PlayAnimation(0, m_animation, true, 1.0f, 0);
        m_walking = true;
    }
    GAME::Actor::UpdateSelf(elapsed);

    GAME::Region* region = GetParent() ? nullptr : GetRegion();
    if (!m_walking || !region || elapsed <= 0)
        return;
    const float seconds = static_cast<float>(elapsed) * 0.001f;
    const GAME::Coords now = GetCoords().GetRegionCoords();
    GAME::Coords next = now * GAME::Coords::Rotation(GAME::Vec3(0.0f, 1.0f, 0.0f), m_turnRate * seconds);
    next.origin = now.origin + GetMotion() * seconds;
    // Over uneven ground it keeps its feet on the ground.
    if (GAME::Level* level = region->GetLevelPtr(); level && level->GetTerrain())
        next.origin.y = level->GetGroundHeight(next.origin.x, next.origin.z);
    if (GAME::World* world = region->GetWorld())
        world->SetCoords(this, GAME::WorldCoords(region, next));
    else if (GAME::Level* level = region->GetLevelPtr())
        level->MoveEntity(this, next);
}

} // namespace DataKit
