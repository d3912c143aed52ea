#include "world/Effect.h"

#include "core/WorldCoords.h"
#include "world/EffectData.h"
#include "world/EffectEntity.h"
#include "world/EmitterData.h"
#include "world/Light.h"

namespace GAME {

Effect::Effect(const EffectData* data)
{
    if (!data)
        return;
    for (int i = 0; i < data->GetNumEmitters(); ++i)
        AddEmitter(data->GetEmitterData(i));
}

Effect::~Effect()
{
    for (Emitter* emitter : m_emitters)
        delete emitter;
    m_emitters.clear();
}

void Effect::AddEmitter(const EmitterData* definition)
{
    Emitter* emitter = new Emitter(definition);
    m_emitters.push_back(emitter);
    emitter->SetParentEntity(m_parent);
    emitter->SetAnchored(m_anchored);
    // Only a light that the object manager knows can be held by an entity.
    if (m_parent && emitter->GetLight() && emitter->GetLight()->GetObjectId())
        m_parent->Attach(emitter->GetLight(), Coords(), nullptr);
}

void Effect::RemoveEmitter(int index)
{
    if (index < 0 || index >= GetNumEmitters())
        return;
    delete m_emitters[static_cast<size_t>(index)];
    m_emitters.erase(m_emitters.begin() + index);
}

Emitter* Effect::GetEmitter(int index) const
{
    return index >= 0 && index < GetNumEmitters() ? m_emitters[static_cast<size_t>(index)] : nullptr;
}

void Effect::Update(const WorldCoords& coords, const EffectData* data, ABBox& box)
{
    m_coords = coords.GetRegionCoords();
    const std::vector<EmitterBone>* bones = m_bones.empty() ? nullptr : &m_bones;
    for (size_t i = 0; i < m_emitters.size(); ++i) {
        const EmitterData* definition = data ? data->GetEmitterData(static_cast<int>(i)) : nullptr;
        ABBox emitterBox;
        m_emitters[i]->Update(coords, emitterBox, definition, bones);
        box = i == 0 ? emitterBox : box.Union(emitterBox);
    }
}

void Effect::Reset(const EffectData* data)
{
    for (size_t i = 0; i < m_emitters.size(); ++i)
        m_emitters[i]->Reset(data ? data->GetEmitterData(static_cast<int>(i)) : nullptr);
    m_bones.clear();
}

float Effect::GetProgress(const EffectData* data) const
{
    float progress = 1.0f;
    for (size_t i = 0; i < m_emitters.size(); ++i) {
        const float p =
            m_emitters[i]->GetProgress(data ? data->GetEmitterData(static_cast<int>(i)) : nullptr);
        if (p < progress)
            progress = p;
    }
    return progress;
}

void Effect::SetLightMultiplier(float multiplier)
{
    m_lightMultiplier = multiplier;
    for (Emitter* emitter : m_emitters)
        emitter->SetLightMultiplier(multiplier);
}

void Effect::SetAnchor1(const WorldVec3& position)
{
    m_anchor1 = position;
    for (Emitter* emitter : m_emitters)
        emitter->SetAnchor1(position);
}

void Effect::SetAnchor2(const WorldVec3& position)
{
    m_anchor2 = position;
    for (Emitter* emitter : m_emitters)
        emitter->SetAnchor2(position);
}

void Effect::SetAnchored(bool anchored)
{
    m_anchored = anchored;
    for (Emitter* emitter : m_emitters)
        emitter->SetAnchored(anchored);
}

void Effect::SetEditorRegion(Region* region)
{
    for (Emitter* emitter : m_emitters)
        emitter->SetEditorRegion(region);
}

void Effect::SetParentEntity(EffectEntity* parent)
{
    m_parent = parent;
    for (Emitter* emitter : m_emitters)
        emitter->SetParentEntity(parent);
}

void Effect::SetPause(bool paused)
{
    m_paused = paused;
    for (Emitter* emitter : m_emitters)
        emitter->SetPause(paused);
}

void Effect::PreLoad(bool preload)
{
    for (Emitter* emitter : m_emitters)
        emitter->PreLoad(preload);
}

void Effect::StartEmitting()
{
    for (Emitter* emitter : m_emitters)
        emitter->StartEmitting();
}

void Effect::StopEmitting()
{
    for (Emitter* emitter : m_emitters)
        emitter->StopEmitting();
}

void Effect::SetBoundingBox(const ABBox& box)
{
    m_boundingBox = box;
    for (Emitter* emitter : m_emitters)
        emitter->SetBoundingBox(box);
}

void Effect::AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    for (Emitter* emitter : m_emitters)
        emitter->AddToScene(renderer, frustum);
}

Light* Effect::GetLight(int index) const
{
    const Emitter* emitter = GetEmitter(index);
    return emitter ? emitter->GetLight() : nullptr;
}

bool Effect::IsComplete() const
{
    for (const Emitter* emitter : m_emitters)
        if (!emitter->IsComplete())
            return false;
    return true;
}

bool Effect::HasActiveParticles() const
{
    for (const Emitter* emitter : m_emitters)
        if (emitter->HasActiveParticles())
            return true;
    return false;
}

int Effect::GetNumParticles() const
{
    int count = 0;
    for (const Emitter* emitter : m_emitters)
        count += emitter->GetNumParticles();
    return count;
}

float Effect::GetFrameScore()
{
    float score = 0.0f;
    for (Emitter* emitter : m_emitters)
        score += emitter->GetFrameScore();
    return score;
}

} // namespace GAME
