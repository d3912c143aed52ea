// One drawable use of a mesh: an entity, a decal or any other owner places it in its region with an
// object-to-region frame and a uniform scale, animates it through its one animation channel and
// skeletal pose, and hands it to the scene renderer as a renderable with one pass per face set (in
// every style). Per pass it picks the shader (an override, the material's transparent variant while
// the face set's section fades, or the material's own) and sets the per-object parameters: the
// material's, "diffuseColor", "shadowBias", the dissolve's, "transparencyValue", the texture
// overrides and the "boneMatrix" palette of the face set's skinning frames.
//
// It keeps an object-space box (from the posed hit boxes of a skinned mesh, else the mesh's box;
// already scaled) and the region-space box that places it, fades the sections whose face sets lie
// in the transparency frustum (1/750 of full opacity a millisecond), plays dissolves (a state
// machine idle -> dissolving -> dissolved, idle -> undissolving -> idle, each running an override
// shader until it ends) and answers rays against the collision mesh, the posed hit boxes or the
// mesh's box.
//
// Owns one reference to its mesh, override shader, base, bump and dissolve textures (released when
// replaced and by the destructor); copies take references of their own by file name. The graphics
// engine it loads through is the engine's (GraphicsServices) unless one is given. Main thread only;
// the mesh may still be loading on the loader thread, and every use of it goes through its queries.
#pragma once

#include "core/ABBox.h"
#include "core/Color.h"
#include "core/Coords.h"
#include "core/Name.h"
#include "core/OBBox.h"
#include "navigation/PhysicsTypes.h"
#include "scene/AnimChannel.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsRenderable.h"
#include "scene/SkeletalPose.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class Frustum;
class GraphicsEngine;
class GraphicsShader2;
class GraphicsTexture;
class Intersection;
class Ray;
class Region;

class GraphicsMeshInstance : public GraphicsRenderable
{
public:
    static constexpr const char* dissolveStaticShaderName = "Shaders/StandardDissolveStatic.ssh";
    static constexpr const char* dissolveSkinnedShaderName = "Shaders/StandardDissolveSkinned.ssh";
    // Sections of this name never fade.
    static constexpr const char* noTransparencySection = "NoTransparency";
    // Opacity a fading section loses or regains per millisecond.
    static constexpr float sectionFadeRate = 0.0013333333f;
    static constexpr float defaultShadowBias = 0.01f;

    // Loads through the engine's graphics engine (GraphicsServices), when there is one.
    GraphicsMeshInstance();
    // Loads through the graphics engine given (null: nothing can be loaded by name).
    explicit GraphicsMeshInstance(GraphicsEngine* graphics);
    GraphicsMeshInstance(const GraphicsMeshInstance& other);
    GraphicsMeshInstance& operator=(const GraphicsMeshInstance& other);
    virtual ~GraphicsMeshInstance();

    // ---- GraphicsRenderable: one pass per face set, in every style ------------------------------
    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    // The axis-aligned box around the region box.
    ABBox GetRenderPassBoundingBox() const override;
    // The sort order of the style in the pass's shader; 0 without one.
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    // The style it was given.
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    // The base texture override, else the material's "baseTexture"; may be null.
    const GraphicsTexture* GetTexture(int pass, const Name& style) const override;
    // The opacity of the face set's section (1 without an entry).
    float GetOpacity(int pass, const Name& style) const override;
    bool GetCastsShadows() const override { return m_castsShadows; }
    // Draws one face set with the record's shader (begun once more around the draw); nothing for a
    // section of opacity 0 or a mesh without buffers.
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    void LogInfo() const override;

    // The per-pass parameters on the begun shader (material is the face set's material index).
    // "boneMatrix" gets at most the device's bones per draw (GraphicsEngine::GetMaxNumBones); a
    // longer palette is cut there, with one log line per instance.
    virtual void SetShaderParameters(GraphicsShader2& shader, int material, int pass,
                                     const GraphicsMesh::MeshRenderInfo& info);
    // First index (first face * 3) and face count of the pass.
    virtual void GetPassFaces(int pass, int& firstIndex, int& faceCount,
                              const GraphicsMesh::MeshRenderInfo& info);

    // ---- Resources -------------------------------------------------------------------------------
    // Releases the old mesh and loads the named one (empty: none); the boxes are recomputed and the
    // skinning frames freed.
    void SetMesh(const char* fileName);
    // The same with a mesh the caller has referenced: the instance takes over that reference.
    void SetMesh(const GraphicsMesh* mesh);
    // Each releases the old resource and loads the named one; null or empty clears it.
    void SetOverrideShader(const char* fileName);
    void SetBaseTexture(const char* fileName);
    void SetBumpTexture(const char* fileName);
    // Queues the mesh (with its shaders and textures) on the resource loader, at the front of the
    // queue with the flag; with it also the base and bump textures, at the front.
    void PreLoad(bool withTextures);
    // The mesh is ready to use, and so are the override shader and the texture overrides that are set.
    bool GetIsReadyToRender();

    GraphicsMesh* GetMesh() const { return m_mesh; }
    GraphicsShader2* GetOverrideShader() const { return m_overrideShader; }
    GraphicsTexture* GetBaseTexture() const { return m_baseTexture; }
    GraphicsTexture* GetBumpTexture() const { return m_bumpTexture; }
    GraphicsTexture* GetDissolveTexture() const { return m_dissolveTexture; }
    GraphicsEngine* GetGraphicsEngine() const { return m_graphics; }

    // ---- Placement -------------------------------------------------------------------------------
    // Moves the region box with it.
    void SetObjectToRegionCoords(const Coords& coords);
    const Coords& GetObjectToRegionCoords() const { return m_objectToRegion; }
    // Recomputes the boxes.
    void SetScale(float scale);
    float GetScale() const { return m_scale; }
    // Half-extent of the cube that stands for the mesh while it is not loaded.
    void SetUnloadedBoundingBoxExtents(float extent) { m_unloadedExtent = extent; }
    const ABBox& GetObjectSpaceBoundingBox() const { return m_objectBox; }
    const OBBox& GetRegionSpaceBoundingBox() const { return m_regionBox; }
    // The object box (from the unloaded cube until the mesh is loaded, unless forced), then the
    // region box.
    void UpdateBoundingBox(bool force);
    void UpdateRegionSpaceBoundingBox();

    // ---- Looks -----------------------------------------------------------------------------------
    void SetDiffuseColor(const Color& color) { m_diffuseColor = color; }
    const Color& GetDiffuseColor() const { return m_diffuseColor; }
    // Handed to the shaders as the alpha of "diffuseColor".
    void SetHighlight(float highlight) { m_highlight = highlight; }
    float GetHighlight() const { return m_highlight; }
    void SetCastsShadows(bool casts) { m_castsShadows = casts; }
    void SetShadowBias(float bias) { m_shadowBias = bias; }
    float GetShadowBias() const { return m_shadowBias; }

    // ---- Section fades ---------------------------------------------------------------------------
    // Ignored for a section without an entry (entries exist from the first SetTransparency after
    // the mesh has loaded).
    void SetSectionOpacity(float opacity, int section);
    float GetSectionOpacity(int section) const;
    int GetNumSections() const { return static_cast<int>(m_sectionOpacities.size()); }
    // Flags for fading every section (but "NoTransparency" ones) with a face set in the frustum
    // (region space). Only once the mesh is loaded.
    void SetTransparency(const Frustum& frustum);
    // Flagged sections fade toward the minimum, the others back to 1; the flags are cleared.
    void UpdateSectionOpacities(int elapsedMs, float minimum);

    // ---- Dissolves -------------------------------------------------------------------------------
    // Colour in 0 to 255, duration in seconds (whole milliseconds, none below 0); the texture is
    // the dissolve pattern. The override shader becomes the static or skinned dissolve shader.
    void BeginDissolve(int r, int g, int b, float seconds, const char* texture);
    void BeginUnDissolve(int r, int g, int b, float seconds, const char* texture);
    float GetDissolveParam() const { return m_dissolveValue; }
    bool GetIsDissolved() const { return m_dissolved; }
    bool GetIsDissolving() const { return m_dissolving; }
    bool GetIsUndissolving() const { return m_undissolving; }
    int GetDissolveDuration() const { return m_dissolveDuration; }

    // ---- Animation -------------------------------------------------------------------------------
    // One channel: index 0; null for any other.
    int GetNumAnimChannels() const { return 1; }
    AnimChannel* GetAnimChannel(int index) { return index == 0 ? &m_channel : nullptr; }
    const AnimChannel* GetAnimChannel(int index) const { return index == 0 ? &m_channel : nullptr; }
    bool GetIsPlayingAnimation() const { return m_channel.IsValid(); }
    // True when no animation plays; else whether the pose holds bones.
    bool IsAnimationValid() const;
    // Copies the pose.
    void SetSkeletalPose(const SkeletalPose& pose) { m_pose = pose; }
    const SkeletalPose& GetSkeletalPose() const { return m_pose; }
    // The pose whose bones end at the given object-space frames (by bone name).
    void SetPoseFromObjectSpace(const SkeletalPose& objectSpace);
    // The frame's work: the dissolve advances; a playing channel writes the pose and the root
    // motion (the root bone's velocity, turned by its bind frame and scaled; zero otherwise).
    void Update(int elapsedMs, Vec3& rootMotion, bool rootOnly);
    // The skinning frames from the pose; with a skinned parent the root bones follow its like-named
    // bones. Unless forced, nothing while the mesh is not loaded and no animation plays.
    void UpdatePose(const GraphicsMeshInstance* parent, bool force);
    // A forced pose update when the skinning frames do not exist yet.
    void PrepareForRendering();
    // One per bone; empty until the first pose update of a skinned mesh.
    const std::vector<Coords>& GetSkinningFrames() const { return m_skinningFrames; }

    // Writes and reads the pose (the stored form of SkeletalPose); false when it is cut short.
    // Reading stores the saved bones into the current pose: bones it does not name are kept.
    void SaveState(BinaryWriter& writer) const;
    bool RestoreState(BinaryReader& reader);

    // ---- Queries ---------------------------------------------------------------------------------
    // The ray in the instance's object space (its scale included): the collision mesh when the mesh
    // has one; otherwise, for a surface other than 0, the posed hit boxes or the mesh's box. A miss
    // leaves the distance at +infinity.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    // The mesh's attach point names, appended.
    void GetAllAttachedPoints(std::vector<Name>& names) const;

    // Debug shapes through the debug render manager.
    void RenderBoundingBox(const Vec3& offset) const;
    void RenderHitBoxes(Region* region, const Vec3& offset) const;

private:
    GraphicsShader2* LoadShader(const char* fileName) const;
    GraphicsTexture* LoadTexture(const char* fileName) const;
    void ReleaseShader(GraphicsShader2*& shader) const;
    void ReleaseTexture(GraphicsTexture*& texture) const;
    void ReleaseAll();
    // Takes references of the other's resources and copies the rest.
    void CopyFrom(const GraphicsMeshInstance& other);
    bool IsMeshLoaded() const;
    // The face set of a pass, null beyond them.
    const GraphicsMesh::FaceSet* GetFaceSet(int pass) const;
    void StartDissolve(int r, int g, int b, float seconds, const char* texture);

    GraphicsEngine* m_graphics = nullptr;
    GraphicsMesh* m_mesh = nullptr;
    GraphicsShader2* m_overrideShader = nullptr;
    float m_unloadedExtent = 0.0f;
    GraphicsTexture* m_baseTexture = nullptr;
    GraphicsTexture* m_bumpTexture = nullptr;
    Coords m_objectToRegion;
    AnimChannel m_channel;
    SkeletalPose m_pose;
    std::vector<Coords> m_skinningFrames;
    float m_scale = 1.0f;
    ABBox m_objectBox;
    OBBox m_regionBox;
    Color m_diffuseColor{1.0f, 1.0f, 1.0f, 1.0f};
    float m_highlight = 0.0f;
    std::vector<float> m_sectionOpacities;
    std::vector<bool> m_sectionFades;
    bool m_castsShadows = true;
    float m_shadowBias = defaultShadowBias;
    GraphicsTexture* m_dissolveTexture = nullptr;
    bool m_dissolving = false;
    bool m_undissolving = false;
    int m_dissolveDuration = 1;
    float m_dissolveValue = 0.0f;
    float m_dissolveColor[3] = {1.0f, 0.0f, 0.0f};
    bool m_dissolved = false;
    // The palette cut below the device's limit has been reported.
    bool m_reportedPaletteCut = false;
};

} // namespace GAME
