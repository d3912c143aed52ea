#include "scene/GraphicsMeshInstance.h"

#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/Mat4.h"
#include "core/MathUtil.h"
#include "core/Ray.h"
#include "data/BaseResourceManager.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ResourceLoader.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "navigation/PhysicsMesh.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace GAME {

namespace {

// The per-object parameter names, made once.
struct ParameterNames
{
    Name objectToWorldMatrix = Name::Create("objectToWorldMatrix");
    Name objectToScreenMatrix = Name::Create("objectToScreenMatrix");
    Name diffuseColor = Name::Create("diffuseColor");
    Name shadowBias = Name::Create("shadowBias");
    Name dissolveColor = Name::Create("dissolveColor");
    Name dissolveValue = Name::Create("dissolveValue");
    Name dissolveTexture = Name::Create("dissolveTexture");
    Name transparencyValue = Name::Create("transparencyValue");
    Name baseTexture = Name::Create("baseTexture");
    Name bumpTexture = Name::Create("bumpTexture");
    Name boneMatrix = Name::Create("boneMatrix");
};

const ParameterNames& Names()
{
    static const ParameterNames names;
    return names;
}

// The skinning frames an instance starts from: all zero.
const Coords zeroFrame{Vec3(), Vec3(), Vec3(), Vec3()};

// ln(1/255) / ln(0.5): t^k falls to 1/255 at t = 1/2.
const float transparencyExponent = std::log(1.0f / 255.0f) / std::log(0.5f);

// Another reference to the resource, asked of its own manager by file name.
template <class T> T* Reference(T* resource)
{
    if (!resource || !resource->GetResourceManager())
        return nullptr;
    return static_cast<T*>(resource->GetResourceManager()->LoadResource(resource->GetFileNameString()));
}

void Release(const Resource* resource)
{
    if (resource && resource->GetResourceManager())
        resource->GetResourceManager()->UnloadResource(resource);
}

void Enqueue(Resource* resource, ResourcePriority priority, bool withDependents)
{
    if (!resource)
        return;
    if (ResourceLoader* loader = resource->GetResourceLoader())
        loader->EnqueueResource(resource, priority, withDependents);
}

} // namespace

GraphicsMeshInstance::GraphicsMeshInstance() : GraphicsMeshInstance(GraphicsServices::Graphics()) {}

GraphicsMeshInstance::GraphicsMeshInstance(GraphicsEngine* graphics) : m_graphics(graphics)
{
    UpdateBoundingBox(false);
}

GraphicsMeshInstance::GraphicsMeshInstance(const GraphicsMeshInstance& other) : GraphicsRenderable(other)
{
    CopyFrom(other);
}

GraphicsMeshInstance& GraphicsMeshInstance::operator=(const GraphicsMeshInstance& other)
{
    if (this != &other) {
        ReleaseAll();
        CopyFrom(other);
    }
    return *this;
}

GraphicsMeshInstance::~GraphicsMeshInstance()
{
    ReleaseAll();
}

void GraphicsMeshInstance::CopyFrom(const GraphicsMeshInstance& other)
{
    m_graphics = other.m_graphics;
    m_mesh = Reference(other.m_mesh);
    m_overrideShader = Reference(other.m_overrideShader);
    m_baseTexture = Reference(other.m_baseTexture);
    m_bumpTexture = Reference(other.m_bumpTexture);
    m_dissolveTexture = Reference(other.m_dissolveTexture);
    m_unloadedExtent = other.m_unloadedExtent;
    m_objectToRegion = other.m_objectToRegion;
    m_channel = other.m_channel;
    m_pose = other.m_pose;
    m_skinningFrames = other.m_skinningFrames;
    m_scale = other.m_scale;
    m_objectBox = other.m_objectBox;
    m_regionBox = other.m_regionBox;
    m_diffuseColor = other.m_diffuseColor;
    m_highlight = other.m_highlight;
    m_sectionOpacities = other.m_sectionOpacities;
    m_sectionFades = other.m_sectionFades;
    m_castsShadows = other.m_castsShadows;
    m_shadowBias = other.m_shadowBias;
    m_dissolving = other.m_dissolving;
    m_undissolving = other.m_undissolving;
    m_dissolveDuration = other.m_dissolveDuration;
    m_dissolveValue = other.m_dissolveValue;
    std::copy(std::begin(other.m_dissolveColor), std::end(other.m_dissolveColor),
              std::begin(m_dissolveColor));
    m_dissolved = other.m_dissolved;
    m_reportedPaletteCut = other.m_reportedPaletteCut;
}

void GraphicsMeshInstance::ReleaseAll()
{
    m_skinningFrames.clear();
    Release(m_mesh);
    m_mesh = nullptr;
    ReleaseTexture(m_dissolveTexture);
    ReleaseTexture(m_baseTexture);
    ReleaseTexture(m_bumpTexture);
    ReleaseShader(m_overrideShader);
}

// ---- Resources -----------------------------------------------------------------------------------

GraphicsShader2* GraphicsMeshInstance::LoadShader(const char* fileName) const
{
    if (!fileName || !*fileName || !m_graphics)
        return nullptr;
    return m_graphics->LoadShader2(fileName);
}

GraphicsTexture* GraphicsMeshInstance::LoadTexture(const char* fileName) const
{
    if (!fileName || !*fileName || !m_graphics)
        return nullptr;
    return m_graphics->LoadTexture(fileName);
}

void GraphicsMeshInstance::ReleaseShader(GraphicsShader2*& shader) const
{
    Release(shader);
    shader = nullptr;
}

void GraphicsMeshInstance::ReleaseTexture(GraphicsTexture*& texture) const
{
    Release(texture);
    texture = nullptr;
}

void GraphicsMeshInstance::SetMesh(const char* fileName)
{
    // The new reference first: a mesh set again by its own name stays loaded.
    GraphicsMesh* mesh = fileName && *fileName && m_graphics ? m_graphics->LoadMesh(fileName) : nullptr;
    if (fileName && *fileName && !mesh)
        LogPrintf(1, "Mesh instance: mesh '%s' could not be had", fileName);
    SetMesh(mesh);
}

void GraphicsMeshInstance::SetMesh(const GraphicsMesh* mesh)
{
    Release(m_mesh);
    m_mesh = const_cast<GraphicsMesh*>(mesh);
    // Frames, sections and the palette report belong to the mesh they were made for.
    m_skinningFrames.clear();
    m_sectionOpacities.clear();
    m_sectionFades.clear();
    m_reportedPaletteCut = false;
    UpdateBoundingBox(false);
}

void GraphicsMeshInstance::SetOverrideShader(const char* fileName)
{
    ReleaseShader(m_overrideShader);
    m_overrideShader = LoadShader(fileName);
}

void GraphicsMeshInstance::SetBaseTexture(const char* fileName)
{
    ReleaseTexture(m_baseTexture);
    m_baseTexture = LoadTexture(fileName);
}

void GraphicsMeshInstance::SetBumpTexture(const char* fileName)
{
    ReleaseTexture(m_bumpTexture);
    m_bumpTexture = LoadTexture(fileName);
}

void GraphicsMeshInstance::PreLoad(bool withTextures)
{
    Enqueue(m_mesh, withTextures ? RESOURCE_PRIORITY_HIGH : RESOURCE_PRIORITY_LOW, true);
    if (withTextures) {
        Enqueue(m_baseTexture, RESOURCE_PRIORITY_HIGH, false);
        Enqueue(m_bumpTexture, RESOURCE_PRIORITY_HIGH, false);
    }
}

bool GraphicsMeshInstance::GetIsReadyToRender()
{
    if (!m_mesh || !m_mesh->GetIsReadyToUse())
        return false;
    if (m_overrideShader && !m_overrideShader->GetIsReadyToUse())
        return false;
    if (m_baseTexture && !m_baseTexture->GetIsReadyToUse())
        return false;
    return !m_bumpTexture || m_bumpTexture->GetIsReadyToUse();
}

bool GraphicsMeshInstance::IsMeshLoaded() const
{
    return m_mesh && m_mesh->GetLoadedState() == Resource::LOAD_STATE_LOADED;
}

const GraphicsMesh::FaceSet* GraphicsMeshInstance::GetFaceSet(int pass) const
{
    if (!m_mesh || pass < 0 || static_cast<uint32_t>(pass) >= m_mesh->GetNumFaceSets())
        return nullptr;
    return &m_mesh->GetFaceSet(static_cast<uint32_t>(pass));
}

// ---- Renderable --------------------------------------------------------------------------------

int GraphicsMeshInstance::GetNumRenderPasses(const Name&, RenderGenerationId) const
{
    return m_mesh ? static_cast<int>(m_mesh->GetNumFaceSets()) : 0;
}

ABBox GraphicsMeshInstance::GetRenderPassBoundingBox() const
{
    return ABBox::FromOBBox(m_regionBox);
}

int GraphicsMeshInstance::GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId) const
{
    if (!GetFaceSet(pass))
        return 0;
    const GraphicsShader2* shader = GetShader2(pass, style);
    if (!shader)
        return 0;
    const int index = shader->FindStyleByName(style);
    return index == GraphicsShader2::noStyle ? 0 : shader->GetSortOrder(index);
}

const GraphicsShader2* GraphicsMeshInstance::GetShader2(int pass, const Name&) const
{
    if (m_overrideShader)
        return m_overrideShader;
    const GraphicsMesh::FaceSet* set = GetFaceSet(pass);
    if (!set)
        return nullptr;
    const GraphicsMesh::Material& material = m_mesh->GetMaterial(set->material);
    if (GetSectionOpacity(static_cast<int>(set->section)) < 1.0f && material.transparentShader)
        return material.transparentShader;
    return material.shader;
}

const Name& GraphicsMeshInstance::GetShaderStyle(int, const Name& style, RenderGenerationId) const
{
    return style;
}

const GraphicsTexture* GraphicsMeshInstance::GetTexture(int pass, const Name&) const
{
    if (m_baseTexture)
        return m_baseTexture;
    const GraphicsMesh::FaceSet* set = GetFaceSet(pass);
    if (!set)
        return nullptr;
    for (const GraphicsMesh::MaterialParam& parameter : m_mesh->GetMaterial(set->material).parameters)
        if (parameter.type == GraphicsMesh::PARAMETER_TEXTURE && parameter.name == Names().baseTexture)
            return parameter.texture;
    return nullptr;
}

float GraphicsMeshInstance::GetOpacity(int pass, const Name&) const
{
    const GraphicsMesh::FaceSet* set = GetFaceSet(pass);
    return set ? GetSectionOpacity(static_cast<int>(set->section)) : 1.0f;
}

void GraphicsMeshInstance::RenderPass(const RenderablePass& record, const Name&, GraphicsCanvas& canvas,
                                      const GraphicsSceneRenderer& renderer)
{
    const GraphicsMesh::FaceSet* set = GetFaceSet(record.passIndex);
    RenderDevice* device = canvas.GetRenderDevice();
    if (!set || !record.shader || !device)
        return;
    const size_t section = set->section;
    if (section < m_sectionOpacities.size() && m_sectionOpacities[section] == 0.0f)
        return;
    GraphicsMesh::MeshRenderInfo info;
    m_mesh->GetMeshRenderInfo(info);
    if (!info.vertexBuffer || !info.vertexDeclaration || !info.indexBuffer)
        return;

    Coords objectToRegion = m_objectToRegion;
    objectToRegion.xAxis = objectToRegion.xAxis * m_scale;
    objectToRegion.yAxis = objectToRegion.yAxis * m_scale;
    objectToRegion.zAxis = objectToRegion.zAxis * m_scale;
    const Mat4 objectToWorld(record.regionToScene * objectToRegion);
    const Mat4 objectToScreen = renderer.GetWorldToScreenMatrix() * objectToWorld;

    device->SetIndices(info.indexBuffer);
    // The file's stride: a vertex may hold padding the declaration does not describe.
    device->SetStreamSource(0, info.vertexBuffer, 0, m_mesh->GetVertexStride());
    device->SetVertexDeclaration(info.vertexDeclaration);

    // The renderer has begun the shader in the record's style; this draw's parameters live one
    // level deeper and go with its End.
    GraphicsShader2& shader = *const_cast<GraphicsShader2*>(record.shader);
    const ParameterNames& n = Names();
    shader.Begin();
    shader.SetFloat4x4(n.objectToWorldMatrix, 0, objectToWorld);
    shader.SetFloat4x4(n.objectToScreenMatrix, 0, objectToScreen);
    SetShaderParameters(shader, static_cast<int>(set->material), record.passIndex, info);
    shader.Render(m_mesh->GetFileName());
    int firstIndex = 0;
    int faceCount = 0;
    GetPassFaces(record.passIndex, firstIndex, faceCount, info);
    if (faceCount > 0 && firstIndex >= 0) {
        RenderDrawRange range;
        range.numVertices = info.numVertices;
        range.startIndex = static_cast<uint32_t>(firstIndex);
        range.primitiveCount = static_cast<uint32_t>(faceCount);
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    }
    shader.End();
}

void GraphicsMeshInstance::SetShaderParameters(GraphicsShader2& shader, int material, int pass,
                                               const GraphicsMesh::MeshRenderInfo& info)
{
    if (!m_mesh)
        return;
    const ParameterNames& n = Names();
    m_mesh->SetShaderParameters(&shader, material);

    const float diffuse[4] = {0.5f * m_diffuseColor.r, 0.5f * m_diffuseColor.g, 0.5f * m_diffuseColor.b,
                              m_highlight};
    shader.SetFloat4(n.diffuseColor, 0, diffuse);
    shader.SetFloat(n.shadowBias, 0, m_shadowBias);
    if (m_dissolveTexture) {
        shader.SetFloat3(n.dissolveColor, 0, m_dissolveColor);
        shader.SetFloat(n.dissolveValue, 0, m_dissolveValue);
        shader.SetTexture(n.dissolveTexture, 0, m_dissolveTexture->GetTexture());
    }

    const GraphicsMesh::FaceSet* set =
        info.faceSets && pass >= 0 && static_cast<uint32_t>(pass) < m_mesh->GetNumFaceSets()
            ? &info.faceSets[pass]
            : nullptr;
    const float t = set ? GetSectionOpacity(static_cast<int>(set->section)) : 1.0f;
    const float p = std::pow(std::clamp(t, 0.0f, 1.0f), transparencyExponent);
    const float transparency[4] = {p, p, t, p};
    shader.SetFloat4(n.transparencyValue, 0, transparency);

    if (m_baseTexture)
        shader.SetTexture(n.baseTexture, 0, m_baseTexture->GetTexture());
    if (m_bumpTexture)
        shader.SetTexture(n.bumpTexture, 0, m_bumpTexture->GetTexture());

    if (!set || info.numBones == 0 || m_skinningFrames.empty())
        return;
    // The skinned shaders declare room for the device's bones a draw and no more; a palette the
    // mesh could not fold below that is cut there rather than written past it.
    const size_t limit = static_cast<size_t>(std::max(m_graphics ? m_graphics->GetMaxNumBones() : 24, 0));
    size_t count = set->bones.size();
    if (count > limit) {
        if (!m_reportedPaletteCut) {
            LogPrintf(1, "Mesh '%s' face set %d skins with %zu bones; the device takes %zu a draw",
                      m_mesh->GetFileName(), pass, count, limit);
            m_reportedPaletteCut = true;
        }
        count = limit;
    }
    for (size_t k = 0; k < count; ++k) {
        const uint32_t bone = set->bones[k];
        if (bone < m_skinningFrames.size())
            shader.SetFloat4x3(n.boneMatrix, static_cast<uint32_t>(k), m_skinningFrames[bone]);
    }
}

void GraphicsMeshInstance::GetPassFaces(int pass, int& firstIndex, int& faceCount,
                                        const GraphicsMesh::MeshRenderInfo& info)
{
    firstIndex = 0;
    faceCount = 0;
    if (!info.faceSets || !m_mesh || pass < 0 || static_cast<uint32_t>(pass) >= m_mesh->GetNumFaceSets())
        return;
    const GraphicsMesh::FaceSet& set = info.faceSets[pass];
    // Face counts are bounded by the 16-bit indices' 65,536 a mesh; the guard keeps ints whole.
    firstIndex = static_cast<int>(std::min<uint64_t>(uint64_t(set.firstFace) * 3, INT_MAX));
    faceCount = static_cast<int>(std::min<uint64_t>(set.numFaces, INT_MAX));
}

void GraphicsMeshInstance::LogInfo() const
{
    LogPrintf(0, "GraphicsMeshInstance:");
    if (m_mesh)
        m_mesh->LogInfo();
    else
        LogPrintf(0, "   mesh: NULL");
    LogPrintf(0, "   object space bounding box:");
    LogPrintf(0, "       origin: (%f, %f, %f)", m_objectBox.center.x, m_objectBox.center.y,
              m_objectBox.center.z);
    LogPrintf(0, "       extents: (%f, %f, %f)", m_objectBox.extents.x, m_objectBox.extents.y,
              m_objectBox.extents.z);
    LogPrintf(0, "   region space bounding box:");
    const Vec3& origin = m_regionBox.coords.origin;
    LogPrintf(0, "       origin: (%f, %f, %f)", origin.x, origin.y, origin.z);
    LogPrintf(0, "       extents: (%f, %f, %f)", m_regionBox.extents.x, m_regionBox.extents.y,
              m_regionBox.extents.z);
}

// ---- Placement -----------------------------------------------------------------------------------

void GraphicsMeshInstance::SetObjectToRegionCoords(const Coords& coords)
{
    m_objectToRegion = coords;
    UpdateRegionSpaceBoundingBox();
}

void GraphicsMeshInstance::SetScale(float scale)
{
    m_scale = scale;
    UpdateBoundingBox(false);
}

void GraphicsMeshInstance::UpdateBoundingBox(bool force)
{
    ABBox box;
    if (!m_mesh || (!force && !IsMeshLoaded())) {
        box = ABBox(Vec3(), Vec3(m_unloadedExtent, m_unloadedExtent, m_unloadedExtent));
    } else if (m_mesh->GetNumBones() == 0 || m_mesh->GetNumHitBoxes() == 0) {
        box = m_mesh->GetBoundingBox();
    } else {
        Vec3 lo(gInfinity, gInfinity, gInfinity);
        Vec3 hi = -lo;
        const uint32_t count = m_mesh->GetNumHitBoxes();
        for (uint32_t i = 0; i < count; ++i) {
            const OBBox posed = m_mesh->GetHitBox(i, m_pose).box;
            const Coords& frame = posed.coords;
            const Vec3 reach = AbsVec3(frame.xAxis) * posed.extents.x +
                               AbsVec3(frame.yAxis) * posed.extents.y +
                               AbsVec3(frame.zAxis) * posed.extents.z;
            lo = Vec3::Min(lo, frame.origin - reach);
            hi = Vec3::Max(hi, frame.origin + reach);
        }
        box = ABBox::FromMinMax(lo, hi);
    }
    box.center = box.center * m_scale;
    box.extents = box.extents * std::fabs(m_scale);
    m_objectBox = box;
    UpdateRegionSpaceBoundingBox();
}

void GraphicsMeshInstance::UpdateRegionSpaceBoundingBox()
{
    m_regionBox.extents = m_objectBox.extents;
    m_regionBox.coords = Coords(m_objectToRegion.xAxis, m_objectToRegion.yAxis, m_objectToRegion.zAxis,
                                m_objectToRegion.TransformPoint(m_objectBox.center));
}

// ---- Section fades -------------------------------------------------------------------------------

void GraphicsMeshInstance::SetSectionOpacity(float opacity, int section)
{
    if (section >= 0 && static_cast<size_t>(section) < m_sectionOpacities.size())
        m_sectionOpacities[static_cast<size_t>(section)] = opacity;
}

float GraphicsMeshInstance::GetSectionOpacity(int section) const
{
    if (section < 0 || static_cast<size_t>(section) >= m_sectionOpacities.size())
        return 1.0f;
    return m_sectionOpacities[static_cast<size_t>(section)];
}

void GraphicsMeshInstance::SetTransparency(const Frustum& frustum)
{
    if (!IsMeshLoaded())
        return;
    const uint32_t sections = m_mesh->GetNumSections();
    m_sectionOpacities.resize(sections, 1.0f);
    m_sectionFades.resize(sections, false);
    const uint32_t faceSets = m_mesh->GetNumFaceSets();
    for (uint32_t i = 0; i < faceSets; ++i) {
        const GraphicsMesh::FaceSet& set = m_mesh->GetFaceSet(i);
        if (set.section >= sections || m_sectionFades[set.section] ||
            m_mesh->GetSection(set.section) == noTransparencySection)
            continue;
        // The face set's box where the instance draws it: scaled, then placed.
        const OBBox box(set.box.extents * std::fabs(m_scale),
                        m_objectToRegion * Coords::Translation(set.box.center * m_scale));
        m_sectionFades[set.section] = OBBoxInFrustum(box, frustum);
    }
}

void GraphicsMeshInstance::UpdateSectionOpacities(int elapsedMs, float minimum)
{
    const float step = static_cast<float>(std::max(elapsedMs, 0)) * sectionFadeRate;
    for (size_t i = 0; i < m_sectionOpacities.size(); ++i) {
        float& opacity = m_sectionOpacities[i];
        if (i < m_sectionFades.size() && m_sectionFades[i])
            opacity = std::max(opacity - step, minimum);
        else
            opacity = std::min(opacity + step, 1.0f);
    }
    std::fill(m_sectionFades.begin(), m_sectionFades.end(), false);
}

// ---- Dissolves -----------------------------------------------------------------------------------

void GraphicsMeshInstance::StartDissolve(int r, int g, int b, float seconds, const char* texture)
{
    m_dissolveColor[0] = static_cast<float>(r) / 255.0f;
    m_dissolveColor[1] = static_cast<float>(g) / 255.0f;
    m_dissolveColor[2] = static_cast<float>(b) / 255.0f;
    const float milliseconds = seconds * 1000.0f;
    m_dissolveDuration =
        milliseconds > 0.0f ? static_cast<int>(std::min(milliseconds, static_cast<float>(INT_MAX / 2))) : 0;
    ReleaseTexture(m_dissolveTexture);
    m_dissolveTexture = LoadTexture(texture);
    ReleaseShader(m_overrideShader);
    const bool skinned = m_mesh && m_mesh->GetNumBones() > 0;
    m_overrideShader = LoadShader(skinned ? dissolveSkinnedShaderName : dissolveStaticShaderName);
}

void GraphicsMeshInstance::BeginDissolve(int r, int g, int b, float seconds, const char* texture)
{
    m_dissolving = true;
    m_undissolving = false;
    m_dissolveValue = 0.0f;
    StartDissolve(r, g, b, seconds, texture);
}

void GraphicsMeshInstance::BeginUnDissolve(int r, int g, int b, float seconds, const char* texture)
{
    m_undissolving = true;
    m_dissolving = false;
    m_dissolveValue = 1.0f;
    m_dissolved = false;
    StartDissolve(r, g, b, seconds, texture);
}

// ---- Animation -----------------------------------------------------------------------------------

bool GraphicsMeshInstance::IsAnimationValid() const
{
    return !m_channel.IsValid() || !m_pose.IsEmpty();
}

void GraphicsMeshInstance::SetPoseFromObjectSpace(const SkeletalPose& objectSpace)
{
    if (!m_mesh)
        return;
    const uint32_t count = m_mesh->GetNumBones();
    for (uint32_t i = 0; i < count; ++i) {
        const GraphicsMesh::Bone& bone = m_mesh->GetBone(i);
        Coords relative = objectSpace.GetBoneCoords(bone.name);
        if (bone.parent >= 0)
            relative = objectSpace.GetBoneCoords(m_mesh->GetBone(static_cast<uint32_t>(bone.parent)).name)
                           .Inverse() *
                       relative;
        m_pose.SetBoneCoords(bone.name, bone.relativeCoords.Inverse() * relative);
    }
}

void GraphicsMeshInstance::Update(int elapsedMs, Vec3& rootMotion, bool rootOnly)
{
    // A dissolve of no duration ends at its first update, whatever the time step (0 / 0 would
    // otherwise leave the value undefined and the dissolve running for ever).
    const float step = m_dissolveDuration > 0 ? static_cast<float>(std::max(elapsedMs, 0)) /
                                                    static_cast<float>(m_dissolveDuration)
                                              : gInfinity;
    if (m_dissolving) {
        m_dissolveValue += step;
        if (m_dissolveValue >= 1.0f) {
            m_dissolved = true;
            m_dissolveValue = 1.0f;
            m_dissolving = false;
            ReleaseShader(m_overrideShader);
        }
    } else if (m_undissolving) {
        m_dissolveValue -= step;
        if (m_dissolveValue <= 0.0f) {
            m_dissolveValue = 0.0f;
            m_undissolving = false;
            ReleaseShader(m_overrideShader);
        }
    }

    rootMotion = Vec3();
    if (!m_channel.IsValid())
        return;
    const Name root = m_mesh ? m_mesh->GetRootMotionBone() : Name();
    m_channel.Update(elapsedMs, root, m_pose, rootMotion, rootOnly);
    const int32_t bone = m_mesh ? m_mesh->GetBoneIndex(root) : -1;
    if (bone >= 0)
        rootMotion = m_mesh->GetBone(static_cast<uint32_t>(bone)).bindCoords.TransformVector(rootMotion);
    rootMotion = rootMotion * m_scale;
}

void GraphicsMeshInstance::UpdatePose(const GraphicsMeshInstance* parent, bool force)
{
    if (!m_mesh || (!force && !IsMeshLoaded() && !m_channel.IsValid()))
        return;
    const uint32_t bones = m_mesh->GetNumBones();
    if (bones == 0)
        return;
    if (m_skinningFrames.size() != bones)
        m_skinningFrames.assign(bones, zeroFrame);
    const GraphicsMesh* parentMesh = parent && parent != this ? parent->m_mesh : nullptr;
    if (parentMesh && parentMesh->GetNumBones() > 0)
        m_mesh->GetAbsCoords(m_pose, m_skinningFrames.data(), parentMesh, parent->m_pose);
    else
        m_mesh->GetAbsCoords(m_pose, m_skinningFrames.data());
    UpdateBoundingBox(false);
}

void GraphicsMeshInstance::PrepareForRendering()
{
    if (m_skinningFrames.empty())
        UpdatePose(nullptr, true);
}

void GraphicsMeshInstance::SaveState(BinaryWriter& writer) const
{
    m_pose.WriteData(writer, false);
}

bool GraphicsMeshInstance::RestoreState(BinaryReader& reader)
{
    // Into the pose the instance has: a bone the saved state does not name keeps its place.
    return m_pose.ReadData(reader);
}

// ---- Queries -------------------------------------------------------------------------------------

void GraphicsMeshInstance::GetIntersection(const Ray& ray, Intersection& result, PhysicsSurface surface) const
{
    result.distance = gInfinity;
    if (!m_mesh)
        return;
    // The collision mesh, the hit boxes and the mesh's box are all met at the instance's scale.
    // Carried into the mesh's own space the ray keeps its parameter, so distances stay as they are.
    if (const PhysicsMesh* collision = m_mesh->GetPhysicsMesh()) {
        if (m_scale == 1.0f || m_scale == 0.0f) {
            collision->GetIntersection(ray, result, surface);
            return;
        }
        const Ray local(ray.origin / m_scale, ray.direction / m_scale);
        Intersection hit;
        collision->GetIntersection(local, hit, surface);
        if (hit.IsHit())
            result = Intersection(hit.distance, ray.GetPoint(hit.distance), hit.surface);
        return;
    }
    if (surface == 0)
        return;
    float distance = gInfinity;
    const uint32_t count = m_mesh->GetNumHitBoxes();
    if (count > 0) {
        for (uint32_t i = 0; i < count; ++i) {
            OBBox box = m_mesh->GetHitBox(i, m_pose).box;
            box.extents = box.extents * std::fabs(m_scale);
            box.coords.origin = box.coords.origin * m_scale;
            distance = std::min(distance, box.IntersectRay(ray));
        }
    } else {
        const ABBox& bounds = m_mesh->GetBoundingBox();
        distance = ABBox(bounds.center * m_scale, bounds.extents * std::fabs(m_scale)).GetIntersection(ray);
    }
    if (distance != gInfinity) {
        result.distance = distance;
        result.surface = 0;
        result.point = ray.GetPoint(distance);
    }
}

void GraphicsMeshInstance::GetAllAttachedPoints(std::vector<Name>& names) const
{
    if (m_mesh)
        m_mesh->GetAllAttachedPoints(names);
}

void GraphicsMeshInstance::RenderBoundingBox(const Vec3& offset) const
{
    if (!m_mesh)
        return;
    OBBox box = TransformABBox(m_objectToRegion, m_mesh->GetBoundingBox());
    box.coords.origin += offset;
    // The box in no region's space: the debug renderer leaves such shapes out.
    DebugRenderManager::Get()->RenderBox(nullptr, box, Color(1.0f, 1.0f, 1.0f, 1.0f));
}

void GraphicsMeshInstance::RenderHitBoxes(Region* region, const Vec3& offset) const
{
    if (!m_mesh)
        return;
    DebugRenderManager* debug = DebugRenderManager::Get();
    const uint32_t count = m_mesh->GetNumHitBoxes();
    for (uint32_t i = 0; i < count; ++i) {
        OBBox box = m_mesh->GetHitBox(i, m_pose).box;
        box.extents = box.extents * std::fabs(m_scale);
        box.coords.origin = box.coords.origin * m_scale + offset;
        debug->RenderBox(region, box, Color(1.0f, 0.75f, 0.35f, 1.0f));
    }
}

} // namespace GAME
