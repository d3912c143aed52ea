// The mesh instance of one built grid cell (a wall piece or a feature): a GraphicsMeshInstance that
// hands its shaders a wall transparency ("wallTransparency", four floats: the transparency of the
// piece's four walls in the piece's own order, the mesh's wall k being the cell's wall
// (k - rotation) mod 4) and that can collapse to one ambient pass over all of its faces (ambient
// only), drawn with the cheapest ambient shader among its materials: the one whose
// "ambientLightStyle" has the smallest sort order (the first of equal ones), found on first use.
//
// Owns one reference to that ambient shader, released when the instance goes or its mesh changes.
// Main thread only, like the mesh instance.
#pragma once

#include "scene/GraphicsMeshInstance.h"

namespace GAME {

class GridWallMeshInstance : public GraphicsMeshInstance
{
public:
    GridWallMeshInstance();
    explicit GridWallMeshInstance(GraphicsEngine* graphics);
    ~GridWallMeshInstance() override;
    GridWallMeshInstance(const GridWallMeshInstance&) = delete;
    GridWallMeshInstance& operator=(const GridWallMeshInstance&) = delete;

    // 0 without a mesh; at most 1 while ambient only.
    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    // The override shader when one is set; while ambient only, the ambient shader (null when no
    // material offers "ambientLightStyle"); otherwise the face set's material shader.
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    // "wallTransparency", then the mesh instance's own parameters.
    void SetShaderParameters(GraphicsShader2& shader, int material, int pass,
                             const GraphicsMesh::MeshRenderInfo& info) override;
    // While ambient only: every face of the mesh from index 0.
    void GetPassFaces(int pass, int& firstIndex, int& faceCount,
                      const GraphicsMesh::MeshRenderInfo& info) override;

    void SetWallTransparency(float a, float b, float c, float d);
    const float* GetWallTransparency() const { return m_wallTransparency; }
    void SetAmbientOnly(bool ambientOnly) { m_ambientOnly = ambientOnly; }
    bool GetAmbientOnly() const { return m_ambientOnly; }

private:
    // The ambient shader of the current mesh, found (and referenced) on first use.
    GraphicsShader2* GetAmbientShader() const;
    void ReleaseAmbientShader() const;

    float m_wallTransparency[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    bool m_ambientOnly = false;
    mutable GraphicsShader2* m_ambientShader = nullptr;
    // The mesh the ambient shader was looked for in (looked for again when the mesh changes).
    mutable const GraphicsMesh* m_ambientShaderMesh = nullptr;
    mutable bool m_ambientShaderSearched = false;
};

} // namespace GAME
