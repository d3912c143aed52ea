// The swoosh behind a swung weapon: a ribbon between two anchor points that follows the weapon,
// shrinks towards its centre line and fades out. The trail is attached to the weapon's entity,
// whose attach points "Anchor1" and "Anchor2" (or "Anchor3" and "Anchor4" for point set 1) give the
// anchors through the parent's GetAttachedCoords; without a parent, or when every anchor value is
// exactly 0, the anchors are (0, 0, 0) and (0, 0, -1). Registered as "WeaponTrail" under "Entity".
//
// Each update in which the weapon moved adds a segment (an upper and a lower point, a texture
// coordinate along the trail, a colour), 16 at most; segments shrink by "TrailShrinkSpeed" a second,
// lose alpha over "MSFadeTime" and are dropped once faded (or collapsed). A frame longer than 250 ms
// starts the trail afresh. The drawn points are the segments smoothed with a Catmull-Rom spline: up
// to 32 points between two segments (ten a unit of the larger of the two anchors' moves), the last
// on the later segment itself; a pair more than 10 units apart (the weapon jumped) ends the ribbon.
// Start gives new segments the trail's alpha, Stop gives them none, so the trail fades away.
//
// Drawing writes two vertices a point (500 points at most: the 24000 bytes one lock of the vertex
// buffer takes) and two triangles a pair of points, both locks sized from those counts. A fade
// time of 0 or less empties the alpha at once, a texture distance of 0 or less leaves the texture
// coordinates at 0: neither divides by it.
//
// Owns both lists (its vertex format, texture and shader through EffectGeometryEntity). Main
// thread.
#pragma once

#include "core/Color.h"
#include "core/Coords.h"
#include "world/EffectGeometryEntity.h"

#include <string>
#include <vector>

namespace GAME {

class WeaponTrail : public EffectGeometryEntity
{
    GAME_DECLARE_CLASS(WeaponTrail)

public:
    // One segment or smoothed point: eleven floats.
    struct Segment
    {
        Vec3 upper;
        Vec3 lower;
        float texCoord = 0.0f;
        float red = 0.0f;
        float green = 0.0f;
        float blue = 0.0f;
        float alpha = 0.0f;
    };
    static_assert(sizeof(Segment) == 44, "trail segments are 44 bytes");

    static constexpr int maxSegments = 16;
    static constexpr int maxPoints = static_cast<int>(EffectGeometry::maxVertices / 2);
    static constexpr int maxPointsBetweenSegments = 32;
    // A frame longer than this drops every segment.
    static constexpr int resetElapsed = 250;
    // Segments further apart than this are not joined.
    static constexpr float maxJoinDistance = 10.0f;

    WeaponTrail();

    // ---- Entity ----
    // "Red256" ... "Alpha256" (/ 255), "MSFadeTime", "Texture", "Shader", "TrailShrinkSpeed",
    // "TextureRepeat", "DragUVs", "TextureDistance", "FadeAlpha".
    void Load(const LoadTable& table) override;
    // The attached entities', then the texture and the shader go to the resource loader.
    void PreLoad(bool inFirstFrustum) override;
    // Only once texture and shader are ready to use.
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    // A cube of half size 1 around the trail's position (the region's origin without a region).
    void UpdateBoundingBox() override;
    // The base's, the vertex format, the default anchors and the box.
    void InitialUpdate() override;
    // "WeaponTrail:" and the entity's report.
    void LogInfo() const override;

    // ---- GraphicsRenderable ----
    // Sort order 1050.
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;

    // ---- Control ----
    // The box, a fresh previous placement, and new segments get the trail's alpha.
    void Start();
    // New segments get no alpha: the trail fades away on its own.
    void Stop() { m_started = false; }
    // 0: "Anchor1" and "Anchor2"; otherwise "Anchor3" and "Anchor4".
    void SetPointSetIndex(int index) { m_pointSetIndex = index; }
    void SetBBox(const ABBox& box) { SetRegionBoundingBox(box); }

    // ---- Queries ----
    bool IsStarted() const { return m_started; }
    const std::vector<Segment>& GetSegments() const { return m_segments; }
    const std::vector<Segment>& GetPoints() const { return m_points; }
    const Vec3& GetUpperAnchor() const { return m_upperAnchor; }
    const Vec3& GetLowerAnchor() const { return m_lowerAnchor; }
    const Color& GetColor() const { return m_color; }
    int GetFadeTime() const { return m_fadeTime; }
    float GetShrinkSpeed() const { return m_shrinkSpeed; }
    float GetTextureDistance() const { return m_textureDistance; }
    bool GetFadeAlpha() const { return m_fadeAlpha; }
    bool GetTextureRepeat() const { return m_textureRepeat; }
    bool GetDragUVs() const { return m_dragUVs; }
    const std::string& GetTextureName() const { return m_textureName; }
    const std::string& GetShaderName() const { return m_shaderName; }
    // The vertices and indices RenderPass writes, positions carried by regionToScene; false when
    // there is nothing to draw (fewer than 2 points or segments).
    bool BuildGeometry(const Coords& regionToScene, std::vector<EffectVertex>& vertices,
                       std::vector<uint32_t>& indices) const;

protected:
    ~WeaponTrail() override = default;
    void UpdateSelf(int elapsed) override;

private:
    void SetDefaultAnchors();
    void GetAnchorPoints();
    void InternalUpdate(int elapsed, const Coords& coords);
    void ScaleSegments(int elapsed);
    void DecrementAlpha(int elapsed);
    void CleanSegmentList();
    void FillPoints();
    // The upper or lower points of the four control segments of pair i (mirrored at the ends).
    void GetUpperPoints(int pair, Vec3* points) const;
    void GetLowerPoints(int pair, Vec3* points) const;

    int m_pointSetIndex = 0;
    std::vector<Segment> m_points;
    float m_textureDistance = 1.0f;
    bool m_started = false;
    Color m_color;
    Coords m_previousCoords;
    bool m_hasPreviousCoords = false;
    bool m_fadeAlpha = true;
    float m_shrinkSpeed = 7.0f;
    int m_fadeTime = 500;
    std::string m_textureName;
    std::string m_shaderName;
    std::vector<Segment> m_segments;
    Vec3 m_upperAnchor;
    Vec3 m_lowerAnchor;
    bool m_textureRepeat = true;
    bool m_dragUVs = true;
};

} // namespace GAME
