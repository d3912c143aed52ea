#include "world/EffectGeometry.h"

#include "core/Name.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/Engine.h"

#include <cmath>
#include <cstring>

namespace GAME {

const VertexElement EffectGeometry::vertexElements[3] = {
    {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
    {0, VERTEX_USAGE_COLOR, VERTEX_TYPE_COLOR},
    {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
};

namespace {

GraphicsEngine* Graphics()
{
    return gEngine ? gEngine->GetGraphicsEngine() : nullptr;
}

const Name& ObjectToScreenMatrix()
{
    static const Name name = Name::Create("objectToScreenMatrix");
    return name;
}

const Name& BaseTexture()
{
    static const Name name = Name::Create("baseTexture");
    return name;
}

float Unit(float value)
{
    if (!(value > 0.0f)) // also NaN
        return 0.0f;
    return value < 1.0f ? value : 1.0f;
}

} // namespace

uint32_t EffectGeometry::PackColor(const Color& color)
{
    return Color(Unit(color.r), Unit(color.g), Unit(color.b), Unit(color.a)).PackARGB();
}

void EffectGeometry::AppendRibbonIndices(std::vector<uint32_t>& indices, uint32_t points)
{
    for (uint32_t k = 0; k + 1 < points; ++k) {
        const uint32_t quad[6] = {2 * k + 2, 2 * k + 3, 2 * k + 1, 2 * k, 2 * k + 2, 2 * k + 1};
        indices.insert(indices.end(), quad, quad + 6);
    }
}

RenderVertexDeclaration* EffectGeometry::CreateDeclaration(RenderDevice* device)
{
    return device ? device->CreateVertexDeclaration(vertexElements, 3) : nullptr;
}

void EffectGeometry::DestroyDeclaration(RenderDevice* device, RenderVertexDeclaration*& declaration)
{
    if (device && declaration)
        device->DestroyVertexDeclaration(&declaration);
    declaration = nullptr;
}

GraphicsTexture* EffectGeometry::LoadTexture(const std::string& name)
{
    GraphicsEngine* graphics = Graphics();
    return graphics && !name.empty() ? graphics->LoadTexture(name) : nullptr;
}

GraphicsShader2* EffectGeometry::LoadShader(const std::string& name)
{
    GraphicsEngine* graphics = Graphics();
    return graphics && !name.empty() ? graphics->LoadShader2(name) : nullptr;
}

void EffectGeometry::UnloadTexture(GraphicsTexture*& texture)
{
    if (texture)
        if (GraphicsEngine* graphics = Graphics())
            graphics->UnloadTexture(texture);
    texture = nullptr;
}

void EffectGeometry::UnloadShader(GraphicsShader2*& shader)
{
    if (shader)
        if (GraphicsEngine* graphics = Graphics())
            graphics->UnloadShader2(shader);
    shader = nullptr;
}

bool EffectGeometry::BeginShader(GraphicsShader2* shader, GraphicsTexture* texture,
                                 const GraphicsSceneRenderer& renderer)
{
    if (!shader)
        return false;
    shader->Begin();
    shader->SetFloat4x4(ObjectToScreenMatrix(), 0, renderer.GetWorldToScreenMatrix());
    // Without a texture the shader's own default stays bound.
    if (RenderTexture* frame = texture ? texture->GetTexture() : nullptr)
        shader->SetTexture(BaseTexture(), 0, frame);
    return true;
}

void EffectGeometry::EndShader(GraphicsShader2* shader)
{
    if (shader)
        shader->End();
}

bool EffectGeometry::DrawTriangles(GraphicsCanvas& canvas, RenderVertexDeclaration* declaration,
                                   GraphicsShader2* shader, const EffectVertex* vertices,
                                   unsigned int vertexCount, const uint32_t* indices, unsigned int indexCount)
{
    if (!declaration || !shader || !vertices || !indices || vertexCount == 0 || vertexCount > maxVertices ||
        indexCount < 3 || indexCount % 3 != 0)
        return false;
    for (unsigned int i = 0; i < indexCount; ++i)
        if (indices[i] >= vertexCount)
            return false;
    RenderDynamicVertexBuffer* vertexBuffer = canvas.GetDynamicVertexBuffer();
    RenderDynamicIndexBuffer* indexBuffer = canvas.GetDynamicIndexBuffer();
    RenderDevice* device = canvas.GetRenderDevice();
    if (!vertexBuffer || !indexBuffer || !device)
        return false;

    const unsigned int vertexBytes = vertexCount * static_cast<unsigned int>(sizeof(EffectVertex));
    void* vertexSpace = vertexBuffer->Lock(vertexBytes);
    if (!vertexSpace)
        return false;
    std::memcpy(vertexSpace, vertices, vertexBytes);
    vertexBuffer->Unlock();
    uint32_t* indexSpace = indexBuffer->Lock(indexCount);
    if (!indexSpace)
        return false;
    std::memcpy(indexSpace, indices, indexCount * sizeof(uint32_t));
    indexBuffer->Unlock();

    vertexBuffer->SetAsStream(0, sizeof(EffectVertex));
    indexBuffer->SetAsIndices();
    device->SetVertexDeclaration(declaration);
    shader->Render("Effect");
    RenderDrawRange range = indexBuffer->GetDrawRange(indexCount, indexCount / 3, 0, 0);
    range.numVertices = vertexCount;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    return true;
}

} // namespace GAME
