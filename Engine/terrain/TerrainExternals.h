// The few calls the terrain makes into classes that other folders provide: the device texture of a
// texture resource, a shader resource's begin, parameters, render and end, a mesh's box, physics
// mesh, contours and blended faces, the scene renderer's switches, matrix and renderable list, and
// the contacts between a triangle and an oriented box. Gathered here so that the terrain's own code
// reads the same whichever of those classes exist yet. Free functions; each says which threads may
// call it (the shader and scene calls belong to the main thread's rendering, the others to
// whichever thread uses the terrain).
//
// TODO(stand-in): the graphics folder's texture and shader resources (GraphicsTexture,
// GraphicsShader2), the scene folder's mesh resource (GraphicsMesh) and scene renderer
// (GraphicsSceneRenderer) and the navigation folder's triangle contacts (CollideOBBoxTriangle)
// are being built elsewhere. Until they land: no device texture is known for a texture resource
// (null), shader calls change nothing, a mesh has no box, physics mesh, contours or faces, the
// scene renderer's switches read as none and renderables are not handed to it, and the triangle
// contacts are made here from the core separation test. Each body names the call that replaces it.
#pragma once

#include "core/Name.h"

#include <cstdint>
#include <vector>

namespace GAME {

class ABBox;
class Coords;
class GraphicsMesh;
class GraphicsRenderable;
class GraphicsSceneRenderer;
class GraphicsShader2;
class GraphicsTexture;
class Intersection;
class Mat4;
class OBBox;
class Ray;
class Region;
class RenderTexture;
class Vec2;
class Vec3;
struct CollisionContact;

namespace TerrainExternals {

// Render flags of the scene renderer that the terrain reads (its RenderFlag bits).
constexpr uint32_t renderFlagTerrain = 1;
constexpr uint32_t renderFlagGrass = 2;

// ---- Textures and the device (any thread) ----
// The device texture of the texture resource's current frame; null without one.
RenderTexture* GetDeviceTexture(GraphicsTexture* texture);
// Queues the texture resource on the engine's resource loader as an immediate (high priority)
// load.
void PreLoadTexture(GraphicsTexture* texture);
// The graphics engine's pixel shader version from its device's generation: generation 1 gives 1,
// 2 gives 3, 3 and 5 give 5, 4 gives 6, 6 gives 4, anything else 0 (also without a device).
int GetPixelShaderVersion();

// ---- Shaders (main thread; a null shader is ignored) ----
void ShaderBegin(const GraphicsShader2* shader);
void ShaderEnd(const GraphicsShader2* shader);
// Pushes the state of the current style; the technique names what is drawn next.
void ShaderRender(const GraphicsShader2* shader, const char* technique);
void ShaderSetTexture(const GraphicsShader2* shader, const Name& name, const RenderTexture* texture);
void ShaderSetFloat(const GraphicsShader2* shader, const Name& name, float value);
void ShaderSetFloat2(const GraphicsShader2* shader, const Name& name, const Vec2& value);
void ShaderSetFloat3(const GraphicsShader2* shader, const Name& name, const Vec3& value);
void ShaderSetMatrix(const GraphicsShader2* shader, const Name& name, const Mat4& value);

// ---- Meshes ----
// The mesh's box in its own space; false without a mesh or before it is loaded.
bool GetMeshBoundingBox(const GraphicsMesh* mesh, ABBox& box);
// The nearest hit of a ray (in the mesh's space) with the mesh's physics mesh; false (distance
// +infinity) without one.
bool GetMeshIntersection(const GraphicsMesh* mesh, const Ray& ray, Intersection& intersection);
unsigned GetMeshNumContours(const GraphicsMesh* mesh);
// The points of contour index, each a position and a normal in the mesh's space.
void GetMeshContour(const GraphicsMesh* mesh, unsigned index, std::vector<Vec3>& points,
                    std::vector<Vec3>& normals);
// Draws the mesh's blended faces with the shader, in the shader's current style.
void RenderMeshBlendedFaces(GraphicsMesh* mesh, const GraphicsShader2* shader);
// The mesh's own lines for a renderable's LogInfo; false when it has none to give.
bool LogMeshInfo(const GraphicsMesh* mesh);
// Queues the mesh on the resource loader (priority 1).
void PreLoadMesh(GraphicsMesh* mesh, bool immediate);

// ---- The scene renderer (main thread) ----
uint32_t GetSceneRenderFlags(const GraphicsSceneRenderer& renderer);
// The view-projection the renderer draws with.
Mat4 GetSceneWorldToScreen(const GraphicsSceneRenderer& renderer);
void AddRenderable(GraphicsSceneRenderer& renderer, GraphicsRenderable* renderable, Region* region);

// ---- Collisions (any thread) ----
// Contacts between a triangle and an oriented box with unit axes, at most capacity, deepest first;
// the count. Each contact's normal pushes the box out of the triangle; its surface and object
// words are 0.
int CollideOBBoxTriangle(const Vec3 triangle[3], const OBBox& box, CollisionContact* contacts, int capacity);

} // namespace TerrainExternals
} // namespace GAME
