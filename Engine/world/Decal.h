// A textured patch laid on the surfaces around a point (a scorch mark, a blood splat) that fades
// out and then takes itself out of the world and queues its own destruction. As an entity it
// lives in a level and ages; as a renderable it hands its triangles to the scene renderer.
// Registered as "Decal" under "Entity".
//
// The patch: the decal's box (its frame, half size `size` on every axis) projected along the
// frame's Y axis. Whenever the frame moves the faces are rebuilt (CreateGeometry): the ground of
// the decal's level (its height samples: terrain, cell grid, or flat ground at height 0 where the
// level has neither) and the collision meshes of the level's entities inside the box are clipped
// to the box, faces seen edge-on along the frame's Y axis are dropped (the rest are wound to face
// along it, whatever their mesh's winding), and texture coordinates run across the box's X (u) and
// Z (v) from 0 to 1. At most maxFaces faces are kept: RenderPass writes
// three vertices and three indices for each, and its locks are sized from that count.
//
// Fading: the opacity ramps in over the first 100 ms, holds until "beginFadeSeconds", falls to 0
// at "endFadeSeconds", and at that age the decal leaves the world. A decal whose fade times are
// both 0 never ages and shows at its full opacity.
//
// Owns its faces (its vertex format, texture and shader through EffectGeometryEntity). Main thread
// (a level's loading thread may create and load it).
#pragma once

#include "core/WorldCoords.h"
#include "world/EffectGeometryEntity.h"

#include <string>
#include <vector>

namespace GAME {

class Decal : public EffectGeometryEntity
{
    GAME_DECLARE_CLASS(Decal)

public:
    // One triangle in the space of the decal's region, 72 bytes.
    struct DecalFace
    {
        Vec3 normal;
        Vec3 corners[3];
        float uv[3][2] = {{0.0f, 0.0f}, {0.0f, 0.0f}, {0.0f, 0.0f}};
    };
    static_assert(sizeof(DecalFace) == 72, "decal faces are 72 bytes");

    // What one draw of the canvas's buffers holds: 3000 bytes of indices.
    static constexpr int maxFaces = 250;
    // Faces sit this far above the surface they were cut from, so they never fight its depth.
    static constexpr float surfaceOffset = 0.01f;
    // Ground cells per side of the sampled patch at most.
    static constexpr int maxGroundCells = 8;

    Decal();

    // ---- Entity ----
    // "texture", "size", "beginFadeSeconds", "endFadeSeconds", "opacity", "shader".
    void Load(const LoadTable& table) override;
    // With render flag 32 the decal adds itself; attached entities are not drawn.
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    // A cube of half size `size` around the decal's position.
    void UpdateBoundingBox() override;
    // Only in editor mode and with a surface other than 0: the sphere of radius `size`.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    // "Decal:", the entity's report, "   Size: %f", "   TextureFile: %s".
    void LogInfo() const override;

    // ---- GraphicsRenderable ----
    // Sort order 2000.
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;

    // ---- Queries ----
    // The fade opacity at the decal's age (see the banner).
    float GetOpacity() const;
    bool IsFading() const { return m_fades; }
    bool IsLoaded() const { return m_loaded; }
    int GetAge() const { return m_age; }
    float GetSize() const { return m_size; }
    float GetBeginFade() const { return m_beginFade; }
    float GetEndFade() const { return m_endFade; }
    const std::string& GetTextureName() const { return m_textureName; }
    const WorldCoords& GetGeometryCoords() const { return m_geometryCoords; }
    const std::vector<DecalFace>& GetFaces() const { return m_faces; }
    // The three vertices and indices of each face as RenderPass writes them, positions carried
    // by regionToScene; false when there is nothing to draw.
    bool BuildGeometry(const Coords& regionToScene, std::vector<EffectVertex>& vertices,
                       std::vector<uint32_t>& indices) const;

    // The renderable's opacity query keeps its default; the decal's own is GetOpacity().
    using GraphicsRenderable::GetOpacity;

protected:
    ~Decal() override = default;
    // Ages the decal, rebuilds its faces when it moved, and removes it at the end of its fade.
    void UpdateSelf(int elapsed) override;

private:
    // Rebuilds the faces for the geometry coords.
    void CreateGeometry();
    // Sets the face's normal and texture coordinates from its corners and the decal's frame.
    void MapFace(DecalFace& face) const;
    // Clips the region-space triangle to the decal's box and appends what is left facing up.
    void AddClippedTriangle(const Vec3& a, const Vec3& b, const Vec3& c);
    // False, logged once per build, when the face list is full.
    bool HasRoomForFace();

    bool m_fades = false;
    WorldCoords m_geometryCoords;
    bool m_loaded = false;
    float m_size = 1.0f;
    float m_opacity = 1.0f;
    float m_beginFade = 55.0f;
    float m_endFade = 60.0f;
    int m_age = 0;
    std::string m_textureName;
    std::vector<DecalFace> m_faces;
    // The frame the faces are being built for: orthonormal axes, origin in the region.
    Coords m_buildFrame;
    bool m_faceLimitLogged = false;
};

} // namespace GAME
