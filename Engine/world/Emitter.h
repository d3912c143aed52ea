// One running particle emitter. It owns a fixed-capacity array of particles, spawns them from its
// definition (EmitterData), moves and ages them, keeps an optional light, and draws all of them as
// camera-facing quads, one draw per texture frame, as a GraphicsRenderable. It never holds its
// definition: every call that needs it receives it from the owning Effect.
//
// Particles are simulated only in updates that follow a draw; meanwhile their aging waits in the
// accumulated time and is caught up at once, while emission uses at most 0.1 s per update. An
// emitter that cannot be drawn (no texture or shader) neither emits nor keeps particles, and an
// emitter left undrawn drops its particles once all of them must have died, so one-off effects
// complete. Randomness comes from one process-wide generator (SeedRandom) in the range 0-32767.
//
// Owns its particles, light, face groups and vertex declaration; uses its texture and shader
// through EmitterGraphics. Main thread.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/Name.h"
#include "core/Timer.h"
#include "core/WorldCoords.h"
#include "core/WorldVec3.h"
#include "scene/GraphicsRenderable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class EffectEntity;
class EmitterData;
class Frustum;
class Light;
class RenderDevice;
class RenderVertexDeclaration;
class Region;

// A bone that particles are emitted along (filled by the effect entity).
struct EmitterBone
{
    Vec3 end;
    Vec3 start;
    // Particles per emitted unit, and the upper bound of the random distance along the bone.
    float lengthWeight = 0.0f;
    int32_t emitted = 0;
    float shouldHaveEmitted = 0.0f;
    bool emitting = false;
};

// One particle, 64 bytes.
struct Particle
{
    float life = 1.0f;
    float age = 0.0f;
    float rotation = 0.0f; // degrees
    float size = 0.0f;
    float stretch = 0.0f;
    uint32_t frame = 0;
    Vec3 position; // relative to the emitter's position, or to its region for a local emitter
    Vec3 velocity; // per second
    float color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};
static_assert(sizeof(Particle) == 64, "particle records are 64 bytes");

// One vertex of a particle quad, 68 bytes.
struct EmitterVertex
{
    Vec3 position;
    float corner[2];
    float axisStretch[4];  // axis (velocity when aligned, else up), stretch
    float rotationSize[4]; // rotation in radians, size, speed, unused
    float color[4];
};
static_assert(sizeof(EmitterVertex) == 68, "emitter vertices are 68 bytes");

class Emitter : public GraphicsRenderable
{
public:
    static constexpr int maxParticles = 10000;
    // Emission catches up at most this many seconds per update.
    static constexpr float maxStep = 0.1f;

    explicit Emitter(const EmitterData* definition);
    Emitter(const Emitter&) = delete;
    Emitter& operator=(const Emitter&) = delete;

    // ---- GraphicsRenderable -----------------------------------------------------------------
    // 1 when the shader has the style, else 0.
    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    // In the space of the emitter's region.
    ABBox GetRenderPassBoundingBox() const override;
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsTexture* GetTexture(int pass, const Name& style) const override;
    // Marks the emitter drawn and draws its particles through the canvas's dynamic buffers.
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    void LogInfo() const override;
    // Deletes the light, releases the vertex declaration, texture and shader.
    virtual ~Emitter();

    // ---- Driving ----------------------------------------------------------------------------
    // Clears finished, restarts the emitter's time, loads texture and shader, forgets the bones
    // and turns the spin by float slots 1 to 3.
    void Reset(const EmitterData* definition);
    // One frame; box receives the emitter's box (relative to its position).
    void Update(const WorldCoords& frame, ABBox& box, const EmitterData* definition,
                const std::vector<EmitterBone>* bones);
    void StartEmitting();
    void StopEmitting() { m_stopped = true; }
    void SetPause(bool paused) { m_paused = paused; }
    // Anchored emitters emit between the two anchors and keep their particles in region space.
    void SetAnchored(bool anchored);
    void SetAnchor1(const WorldVec3& position);
    void SetAnchor2(const WorldVec3& position);
    void SetLightMultiplier(float multiplier) { m_lightMultiplier = multiplier; }
    void SetParentEntity(EffectEntity* parent) { m_parent = parent; }
    void SetEditorRegion(Region* region) { m_editorRegion = region; }
    void SetBoundingBox(const ABBox& box) { m_boundingBox = box; }
    // With true, queues the texture and the shader on the resource loader.
    void PreLoad(bool preload);
    // Sets the light's intensity for the frame and hands light and emitter to the renderer.
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum);
    // The light's intensity for this frame: the multiplier, times the night-light scale for a
    // night light outside the editor modes. Nothing without a light.
    void PrepareLightForScene();
    void UpdateTexture(const EmitterData* definition);
    void UpdateShader(const EmitterData* definition);

    // ---- Queries ----------------------------------------------------------------------------
    Light* GetLight() const;
    float GetLightLevel() const { return m_lightLevel; }
    int GetNumParticles() const { return m_liveCount; }
    int GetCapacity() const { return m_capacity; }
    const Particle& GetParticle(int index) const { return m_particles[static_cast<size_t>(index)]; }
    bool HasActiveParticles() const { return m_liveCount > 0; }
    bool HasEmittedParticles() const { return m_emittedCount > 0; }
    bool IsComplete() const { return m_liveCount == 0 && (m_finished || m_stopped); }
    bool IsFinished() const { return m_finished; }
    bool IsDrawable() const { return m_texture && m_shader; }
    float GetEmitterTime() const { return m_emitterTime; }
    float GetAccumulatedTime() const { return m_accumulatedTime; }
    bool IsLocal() const { return m_local; }
    // 0 for a looping definition, else the emitter's time over the emission rate's domain.
    float GetProgress(const EmitterData* definition) const;
    float GetFrameScore();
    const std::vector<EmitterBone>& GetBones() const { return m_bones; }

    // ---- Geometry (what RenderPass submits) -------------------------------------------------
    // The quads of the live particles (4 vertices each, positions moved by regionOffset), their
    // particle indices grouped by texture frame, and 6 indices per particle, frame by frame.
    // False (nothing to draw) when the groups do not hold exactly the live count.
    bool BuildGeometry(const Vec3& regionOffset, unsigned int frameCount);
    const std::vector<EmitterVertex>& GetVertices() const { return m_vertices; }
    const std::vector<uint32_t>& GetIndices() const { return m_indices; }
    int GetNumFaceGroups() const { return static_cast<int>(m_faceGroups.size()); }
    int GetFaceGroupCount(int frame) const;

    // The generator behind every emitter's randomness.
    static void SeedRandom(unsigned long seed);

private:
    void Allocate(const EmitterData& definition);
    void UpdateLight(const EmitterData& definition, float step);
    void UpdateBoneList(const std::vector<EmitterBone>* bones);
    void EmitParticles(const EmitterData& definition);
    void EmitParticle(const Coords& spawn, const EmitterData& definition);
    void EmitAnchoredParticle(WorldVec3 a, WorldVec3 b, const EmitterData& definition);
    void EmitBoneParticles(int count, const EmitterData& definition);
    void StartParticle(const Vec3& position, const Vec3& velocity, const Vec3& center, float life,
                       const EmitterData& definition);
    void UpdateParticles(const EmitterData& definition);
    // Drops every particle once the time waiting to be caught up has outlived all of them.
    void ExpireUndrawnParticles(const EmitterData& definition);
    void DrawDebugLines(const EmitterData& definition);
    unsigned int GetTextureFrames() const;
    float CurveE(const EmitterData& definition, int slot) const;
    static void AddAnchor(std::vector<WorldVec3>& history, Vec3 (&points)[4], Region*& region,
                          const WorldVec3& position);
    static WorldVec3 PickAnchor(const Vec3 (&points)[4], Region* region, float f);

    float m_lightMultiplier = 1.0f;
    EffectEntity* m_parent = nullptr;
    int m_capacity = 0;
    int m_liveCount = 0;
    uint64_t m_cost = 0;
    float m_frameScore = 0.0f;
    bool m_firstUpdate = true;
    bool m_paused = false;
    bool m_enabled = true;
    bool m_alignWithVelocity = false;
    bool m_nightLight = false;
    bool m_stopped = false;
    bool m_finished = false;
    bool m_drawn = true;
    bool m_overCapacityLogged = false;
    float m_step = 0.0f;
    float m_accumulatedTime = 0.0f;
    float m_emitterTime = 0.0f;
    float m_emissionAccumulator = 0.0f;
    int32_t m_emittedCount = 0;
    Vec3 m_emissionOffset;
    Vec3 m_anchor1Points[4];
    Vec3 m_anchor2Points[4];
    Region* m_anchor1Region = nullptr;
    Region* m_anchor2Region = nullptr;
    std::vector<WorldVec3> m_anchor1History;
    std::vector<WorldVec3> m_anchor2History;
    bool m_anchored = false;
    bool m_local = false;
    WorldVec3 m_position;
    WorldVec3 m_previousPosition;
    ABBox m_boundingBox{Vec3(), Vec3(1.0f, 1.0f, 1.0f)};
    std::vector<EmitterBone> m_bones;
    WorldCoords m_frame;
    Coords m_spin;
    GameTimer m_timer;
    RenderDevice* m_device = nullptr;
    RenderVertexDeclaration* m_declaration = nullptr;
    std::vector<std::vector<uint32_t>> m_faceGroups;
    std::vector<EmitterVertex> m_vertices;
    std::vector<uint32_t> m_indices;
    Light* m_light = nullptr;
    float m_lightLevel = 0.0f;
    GraphicsTexture* m_texture = nullptr;
    GraphicsShader2* m_shader = nullptr;
    std::string m_textureName;
    std::string m_shaderName;
    Vec3 m_displacement;
    Region* m_editorRegion = nullptr;
    std::vector<Particle> m_particles;
};

} // namespace GAME
