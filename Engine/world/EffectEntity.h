// The entity that places a particle effect in the world. It holds the effect resource and, once
// the resource is ready, one Effect made from its data; every update it moves the effect to its own
// frame, feeds it its parent's anchor points and the bones to emit from (the parent actor's posed
// bones, or the dynamic lines a beam sets), fades its lights and, when asked, removes itself from
// the world once the effect has completed. Levels place it from records ("effectFile",
// "emitterType", "Anchored", "boneList"); other code makes one-off effects with Load and AddToWorld.
// Registered as "EffectEntity" under "Entity".
//
// Owns its effect and one use of its resource. Main thread (a level's loading thread may create
// and load it).
#pragma once

#include "core/ABBox.h"
#include "core/WorldVec3.h"
#include "world/Emitter.h"
#include "world/Entity.h"
#include "world/SimpleSeg.h"

#include <string>
#include <vector>

namespace GAME {

class Effect;
class EffectData;
class EffectResource;

class EffectEntity : public Entity
{
    GAME_DECLARE_CLASS(EffectEntity)

public:
    EffectEntity();

    void Load(const LoadTable& table) override;
    void PreLoad(bool inFirstFrustum) override;
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    // The effect's box moved by the entity's region position.
    void UpdateBoundingBox() override;
    // Only in editor mode, with a surface other than 0: a sphere of radius 1 around the entity.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;

    // The effect resource of that file, through the engine's effect resource manager, then ReLoad.
    void Load(const std::string& fileName);
    // A new effect from the resource's data when the resource is ready (otherwise the first
    // update after it is ready makes it).
    void ReLoad();
    // Into the world at the frame; with selfRemove the entity goes once its effect completes.
    void AddToWorld(const WorldCoords& coords, bool selfRemove);
    void SetSelfRemove(bool selfRemove) { m_selfRemove = selfRemove; }
    bool GetSelfRemove() const { return m_selfRemove; }
    // Once the effect completes the entity leaves its parent and is destroyed.
    void MakeSelfDeletingChild() { m_selfDeletingChild = true; }
    bool GetSelfDeletingChild() const { return m_selfDeletingChild; }
    void StartEmitting();
    void StopEmitting();
    bool HasActiveParticles() const;
    // The light level falls to 0 over one second.
    void FadeLight() { m_lightTarget = 0.0f; }
    float GetLightLevel() const { return m_lightLevel; }
    void Reset();
    // One bone per segment (end = first point, start = second), emitting where enabled is set.
    void SetDynamicLines(const std::vector<SimpleSeg>& segments, const std::vector<bool>& enabled);
    // Appends bones of the parent actor's posed skeleton (the named bones, or every bone with the
    // all-bones flag; each with a parent bone runs from the parent's position to its own, in region
    // space); false when nothing was appended (no actor parent, mesh not loaded, no such bones).
    bool PullParentBones(std::vector<EmitterBone>& bones);

    Effect* GetEffect() const { return m_effect; }
    EffectResource* GetEffectResource() const { return m_resource; }
    const std::vector<EmitterBone>& GetBoneList() const { return m_bones; }
    const std::vector<std::string>& GetBoneNames() const { return m_boneNames; }
    bool GetAllBones() const { return m_allBones; }
    bool GetUseBones() const { return m_useBones; }
    bool GetAnchored() const { return m_anchored; }
    bool GetEmitting() const { return m_emitting; }

protected:
    // Deletes the effect and releases the resource.
    ~EffectEntity() override;
    void UpdateSelf(int elapsed) override;

private:
    void MakeEffect();
    // The bones the effect emits from this frame: the dynamic lines, or with the bone flags the
    // parent actor's bones read now; none otherwise.
    void HandBonesToEffect();
    void ReleaseResource();
    // The data of a resource that is ready; null otherwise.
    const EffectData* GetReadyData() const;

    ABBox m_effectBox{Vec3(), Vec3(1.0f, 1.0f, 1.0f)};
    std::vector<EmitterBone> m_bones;
    std::vector<std::string> m_boneNames;
    bool m_dynamicLines = false;
    bool m_allBones = false;
    bool m_useBones = false;
    bool m_selfRemove = false;
    bool m_emitting = true;
    bool m_anchored = false;
    bool m_selfDeletingChild = false;
    float m_lightLevel = 1.0f;
    float m_lightTarget = 1.0f;
    EffectResource* m_resource = nullptr;
    Effect* m_effect = nullptr;
    WorldVec3 m_anchor1;
    WorldVec3 m_anchor2;
};

} // namespace GAME
