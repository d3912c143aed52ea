// One running instance of a particle effect: one Emitter per emitter definition of its EffectData,
// driven each frame with the definitions of that data. Effect entities own one each; the
// particle-system editor makes its own.
//
// The effect never holds its data: every call that needs it receives it, fetched afresh by the
// caller, and an emitter whose definition is missing (evicted data, data with fewer emitters) is
// driven without one and keeps still.
//
// Owns its emitters. Main thread.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/WorldVec3.h"
#include "world/Emitter.h"

#include <vector>

namespace GAME {

class EffectData;
class EffectEntity;
class EmitterData;
class Frustum;
class GraphicsSceneRenderer;
class Light;
class Region;
class WorldCoords;

class Effect
{
public:
    // With data, one emitter per definition in order.
    explicit Effect(const EffectData* data);
    virtual ~Effect();
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    // A new emitter for the definition; with a parent entity its light (when it has one already)
    // is attached to the entity.
    void AddEmitter(const EmitterData* definition);
    // Deletes the emitter; an index outside the list changes nothing.
    void RemoveEmitter(int index);
    // Stores the frame and drives every emitter i with definition i of data (null when data is
    // null or has no definition i); box becomes the union of the emitters' boxes (left alone
    // without emitters).
    void Update(const WorldCoords& coords, const EffectData* data, ABBox& box);
    // Every emitter restarts with its definition; the bone list is emptied.
    void Reset(const EffectData* data);
    // The smallest progress of the emitters; 1 without emitters.
    float GetProgress(const EffectData* data) const;

    void SetLightMultiplier(float multiplier);
    void SetAnchor1(const WorldVec3& position);
    void SetAnchor2(const WorldVec3& position);
    void SetAnchored(bool anchored);
    void SetEditorRegion(Region* region);
    void SetParentEntity(EffectEntity* parent);
    void SetPause(bool paused);
    void PreLoad(bool preload);
    void StartEmitting();
    void StopEmitting();
    void SetBoundingBox(const ABBox& box);
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum);

    int GetNumEmitters() const { return static_cast<int>(m_emitters.size()); }
    // Null for an index outside the list.
    Emitter* GetEmitter(int index) const;
    // The emitter's light; null when it has none or the index is outside the list.
    Light* GetLight(int index) const;
    // Every emitter complete (true without emitters).
    bool IsComplete() const;
    bool HasActiveParticles() const;
    int GetNumParticles() const;
    float GetFrameScore();
    void SetBoneList(const std::vector<EmitterBone>& bones) { m_bones = bones; }
    const std::vector<EmitterBone>& GetBoneList() const { return m_bones; }
    const Coords& GetCoords() const { return m_coords; }
    bool IsPaused() const { return m_paused; }
    bool IsAnchored() const { return m_anchored; }
    float GetLightMultiplier() const { return m_lightMultiplier; }

private:
    bool m_paused = false;
    bool m_anchored = false;
    std::vector<EmitterBone> m_bones;
    Coords m_coords;
    EffectEntity* m_parent = nullptr;
    std::vector<Emitter*> m_emitters;
    ABBox m_boundingBox;
    WorldVec3 m_anchor1;
    WorldVec3 m_anchor2;
    float m_lightMultiplier = 1.0f;
};

} // namespace GAME
