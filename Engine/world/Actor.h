// The entity that shows a mesh with skeletal animation; characters and tiles derive from it. An
// actor owns one mesh instance through which it loads its mesh, plays animations on the
// instance's channels (it is the channels' entity, so named frames come back to AnimationCallback),
// keeps its skeletal pose, draws, and answers ray and collision queries. Besides the mesh it keeps
// the root motion of its last update (in region space), a record-given radius and height, a tint
// and highlight, transparency limits, the last sound it played and whether the entities its mesh
// asks for have been attached. Registered as "Actor" under "Entity".
//
// Updates: while the actor was drawn in this or the previous frame its instance updates in full
// (animation, section fades, pose); otherwise in the cheap form that only advances the animation
// and its root motion. Nothing waits for the mesh: until the mesh has loaded, the actor stands in
// its unloaded box, answers no collision or ray query and has no attach points but its own frame.
//
// Configuration commands (Enqueue) go to the engine's network shim while the network is on and
// the command supports it, otherwise they run at once (LocalEnqueue).
//
// Owns its mesh instance. Main thread (a level's loading thread creates and loads the actors of
// its level before the level is handed out).
#pragma once

#include "core/Color.h"
#include "core/GameEvent.h"
#include "core/Vec3.h"
#include "sound/SoundDescriptor.h"
#include "world/ActorConfigCommand.h"
#include "world/Entity.h"

#include <string>

namespace GAME {

class GraphicsAnim;
class GraphicsMesh;
class GraphicsMeshInstance;
class SkeletalPose;

// Sent as "GameEvent_CameraShake" when an animation of an actor asks the camera to shake: how
// long (milliseconds) and how hard.
class GameEvent_CameraShake : public GameEvent
{
public:
    GameEvent_CameraShake(float duration_, float strength_) : duration(duration_), strength(strength_) {}
    float duration;
    float strength;
};

class Actor : public Entity, public ActorCommandQueue
{
    GAME_DECLARE_CLASS(Actor)

public:
    static constexpr const char* invalidMeshName = "invalidMesh";
    // The box used while the mesh is not loaded, when the record gives none above 0.
    static constexpr float defaultUnloadedExtents = 10.0f;
    // Collision proxies are at least this thick on every axis.
    static constexpr float minProxyExtent = 0.1f;
    // Added to the ambient highlight while the highlight is on.
    static constexpr float highlightBoost = 0.6f;

    // A new mesh instance whose channels report to this actor; physics type 2.
    Actor();

    // ---- Entity -------------------------------------------------------------------------------
    // "description", "mesh", "unloadedBoundingBoxExtents", "baseTexture", "bumpTexture",
    // "DisplayAsQuestItem", "castsShadows", "shadowBias", "actorRadius", "actorHeight", "scale",
    // "allowTransparency", "maxTransparency"; values are clamped (see Actor.cpp).
    void Load(const LoadTable& table) override;
    // The attached entities', then the mesh (at the front of the loader's queue with its textures
    // when immediate).
    void PreLoad(bool immediate) override;
    // One mark of kind 8 for an actor shown on the minimap.
    void AppendDetailMapData(std::vector<MinimapGameNugget>& nuggets) override;
    // Stamps the frame as rendered so that the first updates run in full.
    void OnAddToLevel(Level* level) override;
    // The attached entities', then the mesh instance when it may be drawn (render flag 8; a
    // shadow-only pass skips an actor that casts no shadows). Stamps the frame as rendered.
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    // Null until the mesh has loaded.
    PhysicsMesh* GetPhysicsMesh() const override;
    // The mesh's box, scaled and placed with the actor's axes, at least minProxyExtent thick.
    bool GetCollisionProxy(OBBox& box) const override;
    // Alternate box: the actor alone; region box: the actor with its attached entities.
    void UpdateBoundingBox() override;
    bool OccludesPathing() const override { return true; }
    int GetNumCollisionBoxes() const override;
    // The posed hit box, scaled and carried into region space; a default box for a bad index.
    OBBox GetCollisionBox(int index) const override;
    // The centre of the mesh's box (object space); zero until the mesh has loaded.
    Vec3 GetCenterOfMass() const override;
    // The ray carried into object space and given to the mesh instance; the hit point is
    // reported in region space. No hit until the mesh has loaded.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    void InitialUpdate() override;
    // Section fades, when transparency is allowed.
    void SetTransparency(const Frustum& frustum) override;
    // The attach point's posed frame, scaled by the instance's scale, in the actor's region; for an
    // unknown point or while the mesh is not loaded the actor's own frame (its axes scaled).
    WorldCoords GetAttachedCoords(const Name& attachPoint) const override;
    // Half the sum of the instance box's x and z half-extents.
    float GetExtents() const override;
    // The entity's words, then 1 and the mesh instance's pose for a rag doll or a restored pose,
    // else 0.
    void SaveState(BinaryWriter& writer) const override;
    void RestoreState(BinaryReader& reader) override;
    // "CameraShake", "LongCameraShake" and "DisplaceGrass".
    void AnimationCallback(int event, const Name& name) override;
    // The actor is not drawn again until it has been updated once.
    void SetVisibility(bool visible) override;
    // Visible, with a mesh instance that is not wholly dissolved.
    bool GetVisibility() const override;
    // A rag doll for physics type 3 (from the loaded mesh and the current pose), else a rigid body.
    void CreatePhysicsObject() override;
    bool GetIsReadyToRender() const override;

    // ---- Actor's own virtual operations ------------------------------------------------------
    virtual bool IsCharacter() const { return false; }
    // Called after the pose is computed and before it is finished: subclasses adjust bones here.
    virtual void TweakPose() {}
    // The localized "SimpleStringFormat" of the description tag.
    virtual std::u16string GetGameDescription(bool forMinimap);
    // Takes the command: sent through the network shim or run at once. Answers true.
    virtual bool Enqueue(ActorConfigCommand* command);
    // Runs the command and deletes it. Answers true.
    bool LocalEnqueue(ActorConfigCommand* command) override;
    virtual void GetPose(SkeletalPose& pose);
    // The pose (relative to the bind pose), tweaked and finished against the parent actor.
    virtual void SetPose(const SkeletalPose& pose);
    virtual float GetAmbientHighlight() const { return 0.0f; }
    virtual void PreAnimationUpdate(int) {}

    // ---- Mesh and look ---------------------------------------------------------------------
    GraphicsMeshInstance* GetMeshInstance() const { return m_meshInstance; }
    // The loaded mesh, or null (none, or not loaded yet).
    GraphicsMesh* GetLoadedMesh() const;
    const std::string& GetMeshName() const { return m_meshName; }
    void SetMesh(const std::string& name);
    // Back to the mesh of the record.
    void RestoreMesh();
    // The mesh the next Load uses when the record names none.
    void ForceDefaultMeshFile(const std::string& name) { m_defaultMeshName = name; }
    // Null: the record's texture when it gave one, else none.
    void SetBaseTexture(const char* name);
    void SetBumpTexture(const char* name);
    // The scale in use (the instance's too); the record's base scale stays.
    void SetScale(float scale);
    float GetCurrentScale() const { return m_currentScale; }
    float GetBaseScale() const { return m_baseScale; }
    void SetTintColor(const Color& color) { m_tintColor = color; }
    const Color& GetTintColor() const { return m_tintColor; }
    void SetHighlight(bool highlight) { m_highlight = highlight; }
    bool GetHighlight() const { return m_highlight; }
    void EnableOutline(bool) {}
    void SetOutlineColor(const Color&) {}
    bool GetCastsShadows() const { return m_castsShadows; }
    bool GetIsDissolved() const;

    // ---- Animation --------------------------------------------------------------------------
    void PlayAnimation(int channel, const GraphicsAnim* anim, bool loop, float speed, int blendTimeMs);
    void StopAnimation(int channel);
    void StopAnimations();
    // The speed of the animation the channel plays now.
    void SetAnimationSpeedMultiplier(int channel, float multiplier);

    // ---- Pose and bones ---------------------------------------------------------------------
    // As SetPose, with the pose given as object-space bone frames.
    void SetObjectSpacePose(const SkeletalPose& pose);
    // The bone's posed frame (scaled) in the actor's region; the actor's own frame for a bone the
    // mesh lacks or while the mesh is not loaded.
    WorldCoords GetBoneCoords(const Name& bone) const;
    int GetNumSkeletonEmitterBones() const;
    std::string GetSkeletonEmitterBone(int index) const;

    // ---- Motion and physics -----------------------------------------------------------------
    void SetMotion(const Vec3& motion) { m_motion = motion; }
    // The root motion of the last update: a velocity in region space, units a second.
    const Vec3& GetMotion() const { return m_motion; }
    // Through the physics engine (the actor joins the simulation for it).
    void SetVelocity(const Vec3& velocity);
    bool HasRigidBodyData() const;
    float GetRadius() const { return m_radius; }
    float GetHeight() const { return m_height; }

    // ---- Description, sound, transparency, rendering ----------------------------------------
    const std::string& GetDescriptionTag() const { return m_descriptionTag; }
    bool IsDescriptionVisible() const { return m_descriptionVisible; }
    void SetDescriptionVisible(bool visible) { m_descriptionVisible = visible; }
    bool IsShownOnMinimap() const { return m_shownOnMinimap; }
    // A descriptor whose file name is shorter than two characters is ignored; otherwise a copy is
    // placed at the actor and played in 3-D.
    void PlaySound(const SoundDescriptor& sound, bool once);
    const SoundDescriptor& GetLastSound() const { return m_lastSound; }
    bool GetLastSoundFlag() const { return m_lastSoundFlag; }
    // Stored, and handed to every attached actor.
    void SetTransparency(float transparency);
    float GetTransparency() const { return m_transparency; }
    bool GetAllowTransparency() const { return m_allowTransparency; }
    float GetMaxTransparency() const { return m_maxTransparency; }
    unsigned int GetLastFrameRendered() const { return m_lastFrameRendered; }
    bool GetUpdatedSinceShown() const { return m_updatedSinceShown; }
    bool GetPoseRestored() const { return m_poseRestored; }
    // No attachments are made from the mesh.
    void DisableCreateAttachements() { m_attachmentsCreated = true; }
    bool GetAttachmentsCreated() const { return m_attachmentsCreated; }

    // The entity as an actor, or null.
    static Actor* Cast(Entity* entity);
    static const Actor* Cast(const Entity* entity);

protected:
    // Deletes the mesh instance.
    ~Actor() override;
    void UpdateSelf(int elapsed) override;
    // Clamped to 0 to 1.
    void EnableTransparency(bool allow, float maxTransparency);

private:
    // The parent when it is an actor.
    Actor* GetParentActor() const;
    // TweakPose, then the pose finished against the parent's instance (or none).
    void UpdatePose(const Actor* parent);
    // A falling rag doll moves the bones it carries; the others keep their pose.
    void ApplyRagDollPose();
    void CreateAttachmentsFromMesh();
    // The instance's pose frame scaled by its scale.
    Coords ScaledFrame(const Coords& frame) const;

    bool m_attachmentsCreated = false;
    std::string m_meshName;
    GraphicsMeshInstance* m_meshInstance = nullptr;
    bool m_castsShadows = true;
    std::string m_defaultMeshName = invalidMeshName;
    std::string m_baseTextureName;
    std::string m_bumpTextureName;
    Vec3 m_motion;
    float m_radius = 1.0f;
    float m_height = 1.0f;
    bool m_allowTransparency = false;
    float m_transparency = 1.0f;
    float m_maxTransparency = 0.5f;
    bool m_poseRestored = false;
    unsigned int m_lastFrameRendered = 0;
    bool m_lastSoundFlag = false;
    SoundDescriptor m_lastSound;
    std::string m_descriptionTag;
    bool m_descriptionVisible = true;
    Color m_tintColor = Color(1.0f, 1.0f, 1.0f, 1.0f);
    bool m_highlight = false;
    float m_currentScale = 1.0f;
    float m_baseScale = 1.0f;
    bool m_shownOnMinimap = false;
    bool m_updatedSinceShown = true;
};

} // namespace GAME
