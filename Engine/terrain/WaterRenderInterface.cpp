#include "terrain/WaterRenderInterface.h"

#include "core/Frustum.h"
#include "core/Log.h"
#include "core/Mat4.h"
#include "core/Name.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderSurface.h"
#include "scene/GraphicsReflectionPlane.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "terrain/Water.h"
#include "terrain/WaterType.h"
#include "terrain/WaterWaveSegment.h"
#include "world/Engine.h"

#include <functional>

namespace GAME {

namespace {

struct Names
{
    Name emissive = Name::Create("emissiveStyle");
    Name fog = Name::Create("fogStyle");
    Name block = Name::Create("waterBlockStyle");
    Name blockReflect = Name::Create("waterBlockReflectStyle");
    Name path = Name::Create("waterPathStyle");
    Name pathReflect = Name::Create("waterPathReflectStyle");
    Name objectToWorld = Name::Create("objectToWorldMatrix");
    Name objectToScreen = Name::Create("objectToScreenMatrix");
    Name reflectTexture = Name::Create("reflectTexture");
    Name baseTexture = Name::Create("baseTexture");
};

const Names& GetNames()
{
    static const Names names;
    return names;
}

} // namespace

WaterRenderInterface::~WaterRenderInterface()
{
    Destroy();
}

void WaterRenderInterface::Initialize(RenderDevice* device)
{
    Destroy();
    m_device = device;
    if (!m_device)
        return;
    m_declaration = WaterElement::CreateVertexDeclaration(*m_device);
}

void WaterRenderInterface::Destroy()
{
    if (m_device && m_declaration)
        m_device->DestroyVertexDeclaration(&m_declaration);
    m_declaration = nullptr;
    m_device = nullptr;
    m_visible.clear();
}

bool WaterRenderInterface::ReflectionsEnabled()
{
    GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
    return graphics && graphics->IsReflectionsEnabled();
}

void WaterRenderInterface::StortElementList(std::vector<WaterElement*>& elements)
{
    for (size_t i = 1; i < elements.size(); ++i) {
        WaterElement* element = elements[i];
        size_t j = i;
        while (j > 0 &&
               std::less<const WaterType*>()(element->GetWaterType(), elements[j - 1]->GetWaterType())) {
            elements[j] = elements[j - 1];
            --j;
        }
        elements[j] = element;
    }
}

bool WaterRenderInterface::Update(const IntVec3& regionOffset, const Frustum& frustum)
{
    m_regionOffset = regionOffset;
    m_visible.clear();
    if (m_water)
        m_water->GetBlocksInFrustum(m_visible, &frustum, 1);
    if (m_visible.empty())
        return false;
    ABBox bounds = m_visible.front()->GetBoundingBox();
    for (const WaterElement* element : m_visible)
        bounds = bounds.Union(element->GetBoundingBox());
    m_bounds = bounds;
    StortElementList(m_visible);
    return true;
}

int WaterRenderInterface::GetNumRenderPasses(const Name&, RenderGenerationId) const
{
    return m_visible.empty() ? 0 : numPasses;
}

ABBox WaterRenderInterface::GetRenderPassBoundingBox() const
{
    return m_bounds;
}

int WaterRenderInterface::GetRenderPassSortOrder(int, const Name&, RenderGenerationId) const
{
    return sortOrder;
}

const GraphicsShader2* WaterRenderInterface::GetShader2(int pass, const Name&) const
{
    if (!m_water)
        return nullptr;
    return pass < 2 ? m_water->GetWaterShader() : m_water->GetWavesShader();
}

const Name& WaterRenderInterface::GetShaderStyle(int pass, const Name& style, RenderGenerationId) const
{
    const Names& names = GetNames();
    if (style != names.emissive)
        return style;
    const bool reflect = ReflectionsEnabled();
    switch (pass) {
    case 0:
        return reflect ? names.blockReflect : names.block;
    case 1:
        return reflect ? names.pathReflect : names.path;
    case 2:
    case 3:
    case 4:
        return m_water ? m_water->GetWavesStyle(static_cast<unsigned>(pass - 2)) : Name::noName;
    default:
        return style;
    }
}

const GraphicsTexture* WaterRenderInterface::GetTexture(int, const Name&) const
{
    return nullptr;
}

void WaterRenderInterface::RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                                      const GraphicsSceneRenderer& renderer)
{
    const Names& names = GetNames();
    const bool fog = style == names.fog;
    if ((!fog && style != names.emissive) || !m_water || !pass.shader)
        return;
    auto* shader = const_cast<GraphicsShader2*>(pass.shader);
    shader->Begin();
    const Mat4 objectToWorld(pass.regionToScene);
    shader->SetFloat4x4(names.objectToWorld, 0, objectToWorld);
    shader->SetFloat4x4(names.objectToScreen, 0, renderer.GetWorldToScreenMatrix() * objectToWorld);
    const bool reflect = ReflectionsEnabled();
    switch (pass.passIndex) {
    case 0:
        RenderVisibleElements(WaterElement::ELEMENT_BLOCK, canvas, reflect);
        break;
    case 1:
        RenderVisibleElements(WaterElement::ELEMENT_PATH_SEGMENT, canvas, reflect);
        break;
    case 2:
    case 3:
    case 4:
        if (!fog)
            RenderWaveElements(m_visible, canvas.GetRenderDevice(), pass.passIndex - 2);
        break;
    default:
        break;
    }
    shader->End();
}

void WaterRenderInterface::RenderVisibleElements(WaterElement::ElementType type, GraphicsCanvas& canvas,
                                                 bool reflect)
{
    RenderDevice* device = canvas.GetRenderDevice();
    if (!device || !m_water || !m_water->GetBlockIndexBuffer() || !m_declaration)
        return;
    device->SetIndices(m_water->GetBlockIndexBuffer());
    device->SetVertexDeclaration(m_declaration);
    RenderElements(m_visible, type, device, reflect);
}

void WaterRenderInterface::RenderElements(const std::vector<WaterElement*>& elements,
                                          WaterElement::ElementType type, RenderDevice* device, bool reflect)
{
    GraphicsShader2* shader = m_water ? m_water->GetWaterShader() : nullptr;
    if (!shader || !device)
        return;
    const Names& names = GetNames();
    shader->Begin();
    bool first = true;
    const WaterType* currentType = nullptr;
    const RenderTexture* currentReflection = nullptr;
    const RenderVertexBuffer* currentBuffer = nullptr;
    for (WaterElement* element : elements) {
        if (element->GetElementType() != type || !element->GetVertexBuffer())
            continue;
        const GraphicsReflectionPlane* plane = element->GetReflectionPlane();
        const RenderTexture* reflection =
            reflect && plane && plane->reflectionSurface ? plane->reflectionSurface->GetTexture() : nullptr;
        if (first || element->GetWaterType() != currentType || reflection != currentReflection) {
            if (!first) {
                shader->End();
                shader->Begin();
            }
            if (const WaterType* waterType = element->GetWaterType())
                waterType->SetShaderParams(shader, m_regionOffset);
            if (reflection)
                shader->SetTexture(names.reflectTexture, 0, reflection);
            shader->Render("Water");
            currentType = element->GetWaterType();
            currentReflection = reflection;
            first = false;
        }
        if (element->GetVertexBuffer() != currentBuffer) {
            currentBuffer = element->GetVertexBuffer();
            device->SetStreamSource(0, element->GetVertexBuffer(), 0, WaterElement::vertexStride);
        }
        element->Render(*device);
    }
    shader->End();
}

void WaterRenderInterface::RenderWaveElements(const std::vector<WaterElement*>& elements,
                                              RenderDevice* device, int wavePass)
{
    GraphicsShader2* shader = m_water ? m_water->GetWavesShader() : nullptr;
    RenderIndexBuffer* indices = m_water ? m_water->GetWavesIndexBuffer() : nullptr;
    if (!shader || !m_declaration || !indices || !device)
        return;
    device->SetIndices(indices);
    device->SetVertexDeclaration(m_declaration);
    shader->Begin();
    if (GraphicsTexture* texture = m_water->GetWavesTexture(static_cast<unsigned>(wavePass)))
        if (RenderTexture* frame = texture->GetTexture())
            shader->SetTexture(GetNames().baseTexture, 0, frame);
    shader->Render("WaveElements");
    const RenderVertexBuffer* currentBuffer = nullptr;
    for (WaterElement* element : elements) {
        if (element->GetElementType() != WaterElement::ELEMENT_WAVE_SEGMENT || !element->GetVertexBuffer())
            continue;
        if (element->GetVertexBuffer() != currentBuffer) {
            currentBuffer = element->GetVertexBuffer();
            device->SetStreamSource(0, element->GetVertexBuffer(), 0, WaterElement::vertexStride);
        }
        static_cast<WaterWaveSegment*>(element)->Render(*device, wavePass);
    }
    shader->End();
}

void WaterRenderInterface::LogInfo() const
{
    LogPrintf(0, "WaterRenderInterface");
    if (m_water)
        m_water->LogInfo();
}

} // namespace GAME
