// An entity that draws strands of points as camera-facing textured ribbons: lightning, beams,
// streaks. The strands hold points as offsets from the start point, in the start point's region;
// each strand shows the part between its bottom and top percent of its points, tapered in width
// and colour over `taper points` at both ends of that part, its texture running along the strand
// once per `texture stretch` units. ChaosBeam and FlyingBolt fill the strands every update; the
// base keeps whatever strands it is given. Registered as "LineEffect" under "Entity".
//
// Drawing: two vertices a visible point, two triangles a pair of consecutive points. A strand's
// ribbon goes to the canvas in batches of at most 500 points (1000 vertices, the 24000 bytes one
// lock of the vertex buffer takes), consecutive batches sharing their boundary point, with both
// locks sized from the batch; nothing is ever written past them.
//
// Owns its strands (its vertex format, texture and shader through EffectGeometryEntity). Main
// thread.
#pragma once

#include "core/Color.h"
#include "core/WorldVec3.h"
#include "world/EffectGeometryEntity.h"

#include <string>
#include <vector>

namespace GAME {

class LineEffect : public EffectGeometryEntity
{
    GAME_DECLARE_CLASS(LineEffect)

public:
    // Points of one batch at most (two vertices each).
    static constexpr int maxBatchPoints = static_cast<int>(EffectGeometry::maxVertices / 2);

    // One draw of the ribbons: its vertices and indices within the lists BuildGeometry fills;
    // the indices count from the batch's first vertex.
    struct Batch
    {
        uint32_t firstVertex = 0;
        uint32_t vertexCount = 0;
        uint32_t firstIndex = 0;
        uint32_t indexCount = 0;
    };

    // Loads the default texture and shader and makes the vertex format.
    LineEffect();

    // ---- Entity ----
    // Adds itself whenever asked (no render flag); attached entities are not drawn.
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    // Centred on the entity's position (on the start point without a region), half-extents
    // (bounds max - bounds min) / 2; a zero box while the bounds are empty.
    void UpdateBoundingBox() override;
    bool CanCollide(const Entity*) const override { return false; }
    // "LineEffect:" and the entity's report.
    void LogInfo() const override;
    virtual float GetFadeMultiplier(int) const { return m_fadeMultiplier; }

    // ---- GraphicsRenderable ----
    // Sort order 1000. Nothing while the start point has no region.
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;

    // ---- Control ----
    void SetPause(bool paused) { m_paused = paused; }
    void DoSetPauseAtTarget() { m_pauseAtTarget = true; }
    void SetTopBottomPercent(float top, float bottom);
    // Each releases the current one and loads the named one (none for null or empty).
    void SetTexture(const char* name);
    void SetShader(const char* name);

    // ---- Queries ----
    bool IsPaused() const { return m_paused; }
    bool HasReachedTarget() const { return m_reachedTarget; }
    int GetElapsed() const { return m_elapsed; }
    float GetWidth() const { return m_width; }
    float GetTextureStretch() const { return m_textureStretch; }
    int GetTaperPoints() const { return m_taperPoints; }
    float GetTopPercent() const { return m_topPercent; }
    float GetBottomPercent() const { return m_bottomPercent; }
    bool GetFaceAlongStrand() const { return m_faceAlongStrand; }
    const Color& GetColor() const { return m_color; }
    const std::vector<std::vector<Vec3>>& GetStrands() const { return m_strands; }
    const WorldVec3& GetStartPoint() const { return m_start; }
    const WorldVec3& GetEndPoint() const { return m_end; }
    const Vec3& GetBoundsMin() const { return m_boundsMin; }
    const Vec3& GetBoundsMax() const { return m_boundsMax; }
    const std::string& GetTextureName() const { return m_textureName; }
    const std::string& GetShaderName() const { return m_shaderName; }

    // The visible part of a strand of count points: [first, end); false (nothing drawn) when it
    // holds fewer than 2 points.
    static bool GetVisibleRange(int count, float bottomPercent, float topPercent, int& first, int& end);
    // The ribbons of every strand in scene space: strandToScene carries the strands' points
    // (offsets from the start point) into scene space, camera is the camera's placement there.
    // Vertices and indices of all batches go into the two lists; each batch holds at most
    // maxBatchPoints points.
    void BuildGeometry(const Coords& strandToScene, const Coords& camera, std::vector<EffectVertex>& vertices,
                       std::vector<uint32_t>& indices, std::vector<Batch>& batches) const;

protected:
    ~LineEffect() override = default;
    // The effect's clock runs unless paused; with pause at target it stops once the visible part
    // reaches the end (top percent above 0.9999).
    void UpdateSelf(int elapsed) override;

    bool m_faceAlongStrand = false;
    bool m_paused = false;
    bool m_reachedTarget = false;
    bool m_pauseAtTarget = false;
    std::vector<std::vector<Vec3>> m_strands;
    Vec3 m_boundsMin;
    Vec3 m_boundsMax;
    WorldVec3 m_start;
    WorldVec3 m_end;
    float m_width = 1.0f;
    int m_timer = 0;
    Color m_color = Color(1.0f, 1.0f, 1.0f, 1.0f);
    int m_elapsed = 0;
    float m_textureStretch = 5.0f;
    std::string m_shaderName;
    std::string m_textureName;
    float m_fadeMultiplier = 1.0f;
    float m_topPercent = 0.0f;
    float m_bottomPercent = 0.0f;
    int m_taperPoints = 1;

private:
    // One strand's visible points [first, end) as ribbon batches.
    void BuildStrand(const std::vector<Vec3>& strand, int first, int end, const Coords& strandToScene,
                     const Coords& camera, std::vector<EffectVertex>& vertices,
                     std::vector<uint32_t>& indices, std::vector<Batch>& batches) const;
};

} // namespace GAME
