#include "terrain/GridWallMeshInstance.h"

#include "core/Name.h"
#include "data/BaseResourceManager.h"
#include "graphics/GraphicsShader2.h"

#include <algorithm>
#include <climits>

namespace GAME {

namespace {

const Name& AmbientStyle()
{
    static const Name name = Name::Create("ambientLightStyle");
    return name;
}

const Name& WallTransparencyName()
{
    static const Name name = Name::Create("wallTransparency");
    return name;
}

// Sort orders above this never win the ambient shader.
constexpr int ambientSortBound = 10001;

} // namespace

GridWallMeshInstance::GridWallMeshInstance() = default;

GridWallMeshInstance::GridWallMeshInstance(GraphicsEngine* graphics) : GraphicsMeshInstance(graphics) {}

GridWallMeshInstance::~GridWallMeshInstance()
{
    ReleaseAmbientShader();
}

void GridWallMeshInstance::SetWallTransparency(float a, float b, float c, float d)
{
    m_wallTransparency[0] = a;
    m_wallTransparency[1] = b;
    m_wallTransparency[2] = c;
    m_wallTransparency[3] = d;
}

void GridWallMeshInstance::ReleaseAmbientShader() const
{
    if (m_ambientShader && m_ambientShader->GetResourceManager())
        m_ambientShader->GetResourceManager()->UnloadResource(m_ambientShader);
    m_ambientShader = nullptr;
    m_ambientShaderSearched = false;
    m_ambientShaderMesh = nullptr;
}

GraphicsShader2* GridWallMeshInstance::GetAmbientShader() const
{
    const GraphicsMesh* mesh = GetMesh();
    if (mesh != m_ambientShaderMesh)
        ReleaseAmbientShader();
    if (m_ambientShaderSearched || !mesh)
        return m_ambientShader;
    m_ambientShaderMesh = mesh;
    GraphicsShader2* best = nullptr;
    int bound = ambientSortBound;
    bool complete = true;
    for (uint32_t i = 0; i < mesh->GetNumFaceSets(); ++i) {
        const uint32_t material = mesh->GetFaceSet(i).material;
        if (material >= mesh->GetNumMaterials())
            continue;
        GraphicsShader2* shader = mesh->GetMaterial(material).shader;
        if (!shader)
            continue;
        // A shader still loading has no styles yet: the search is made again once it is in.
        if (shader->GetLoadedState() != Resource::LOAD_STATE_LOADED) {
            complete = false;
            continue;
        }
        const int style = shader->FindStyleByName(AmbientStyle());
        if (style == GraphicsShader2::noStyle)
            continue;
        const int order = shader->GetSortOrder(style);
        if (order < bound) {
            bound = order;
            best = shader;
        }
    }
    if (!complete)
        return nullptr;
    m_ambientShaderSearched = true;
    // A reference of the instance's own, asked of the shader's manager by its file name.
    if (best && best->GetResourceManager())
        m_ambientShader = static_cast<GraphicsShader2*>(
            best->GetResourceManager()->LoadResource(best->GetFileNameString()));
    return m_ambientShader;
}

int GridWallMeshInstance::GetNumRenderPasses(const Name& style, RenderGenerationId generation) const
{
    const int passes = GetMesh() ? GraphicsMeshInstance::GetNumRenderPasses(style, generation) : 0;
    return m_ambientOnly ? std::min(passes, 1) : passes;
}

const GraphicsShader2* GridWallMeshInstance::GetShader2(int pass, const Name& style) const
{
    if (!m_ambientOnly)
        return GraphicsMeshInstance::GetShader2(pass, style);
    if (GetOverrideShader())
        return GetOverrideShader();
    return pass == 0 ? GetAmbientShader() : nullptr;
}

void GridWallMeshInstance::SetShaderParameters(GraphicsShader2& shader, int material, int pass,
                                               const GraphicsMesh::MeshRenderInfo& info)
{
    shader.SetFloat4(WallTransparencyName(), 0, m_wallTransparency);
    GraphicsMeshInstance::SetShaderParameters(shader, material, pass, info);
}

void GridWallMeshInstance::GetPassFaces(int pass, int& firstIndex, int& faceCount,
                                        const GraphicsMesh::MeshRenderInfo& info)
{
    if (!m_ambientOnly) {
        GraphicsMeshInstance::GetPassFaces(pass, firstIndex, faceCount, info);
        return;
    }
    firstIndex = 0;
    faceCount = pass == 0 ? static_cast<int>(std::min<uint32_t>(info.numFaces, INT_MAX)) : 0;
}

} // namespace GAME
