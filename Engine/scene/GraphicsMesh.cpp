#include "scene/GraphicsMesh.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "data/BinaryReader.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderTypes.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "navigation/PhysicsMesh.h"
#include "scene/SkeletalPose.h"

#include <algorithm>
#include <cstring>

namespace GAME {

namespace {

constexpr uint32_t maxAttributeId = 14;
constexpr unsigned fixedNameSize = 32;
// name, first child, child count, Coords
constexpr unsigned boneRecordSize = fixedNameSize + 8 + 48;
// name, half-extents, Coords, bone
constexpr unsigned hitBoxRecordSize = fixedNameSize + 12 + 48 + 4;

// The element format of a mesh attribute id (0 for ids no format is known for).
uint32_t AttributeType(uint32_t id)
{
    switch (id) {
    case VERTEX_USAGE_POSITION:
    case VERTEX_USAGE_NORMAL:
    case VERTEX_USAGE_VECTOR_A:
    case VERTEX_USAGE_VECTOR_B:
        return VERTEX_TYPE_FLOAT3;
    case VERTEX_USAGE_BONE_WEIGHTS:
        return VERTEX_TYPE_FLOAT4;
    case VERTEX_USAGE_BONE_INDICES:
    case VERTEX_USAGE_COLOR:
        return VERTEX_TYPE_COLOR;
    default:
        return id <= maxAttributeId ? static_cast<uint32_t>(VERTEX_TYPE_FLOAT2) : 0u;
    }
}

// A 32-byte field holding a zero-terminated text (all 32 bytes when no zero comes).
std::string ReadFixedName(BinaryReader& reader)
{
    char bytes[fixedNameSize];
    reader.ReadBytes(bytes, fixedNameSize);
    size_t length = 0;
    while (length < fixedNameSize && bytes[length] != '\0')
        ++length;
    return std::string(bytes, length);
}

uint16_t IndexAt(const uint8_t* data, uint64_t i)
{
    return static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

// The shader file of the transparent variant: "T" before the last ".".
std::string TransparentShaderName(const std::string& name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return name + "T";
    return name.substr(0, dot) + "T" + name.substr(dot);
}

// Whether the shader declares the parameter. The shader was only just asked for, so it is loaded
// here first (on this thread, waiting for a load another thread runs): its parameters are known
// only once it is in. A shader never waits for a mesh, so this cannot deadlock.
bool ShaderDeclares(GraphicsShader2* shader, const Name& name)
{
    if (!shader)
        return false;
    shader->EnsureAvailable();
    return shader->HasParameter(name);
}

// Queues a dependent that is neither loaded nor waiting in the loader's queue.
void QueueIfMissing(Resource* resource, bool withDependents)
{
    if (!resource || resource->GetLoadedState() != Resource::LOAD_STATE_NOT_LOADED ||
        resource->GetInLoadingQueue())
        return;
    if (ResourceLoader* loader = resource->GetResourceLoader())
        loader->EnqueueResource(resource, RESOURCE_PRIORITY_HIGH, withDependents);
}

} // namespace

// What the reader collects before the pieces are checked against each other and the device
// buffers are made: the vertex and index bytes stay in the file's data until then.
struct GraphicsMesh::LoadState
{
    int version = 0;
    std::vector<VertexElement> elements;
    const uint8_t* vertexData = nullptr;
    const uint8_t* indexData = nullptr;
    const uint8_t* blendedIndexData = nullptr;
    // The vertex bytes with the bone indices rewritten, when a palette was folded.
    std::vector<uint8_t> foldedVertices;
};

GraphicsMesh::GraphicsMesh(BaseResourceManager* manager, const std::string& fileName)
    : GraphicsMesh(manager, fileName, GraphicsServices::Graphics())
{
}

GraphicsMesh::GraphicsMesh(BaseResourceManager* manager, const std::string& fileName,
                           GraphicsEngine* graphics)
    : Resource(manager, fileName), m_graphics(graphics)
{
    std::fill(std::begin(m_attributeOffsets), std::end(m_attributeOffsets), -1);
}

GraphicsMesh::~GraphicsMesh()
{
    Destroy();
}

RenderDevice* GraphicsMesh::GetDevice() const
{
    return m_graphics ? m_graphics->GetRenderDevice() : nullptr;
}

void GraphicsMesh::Touch() const
{
    const_cast<GraphicsMesh*>(this)->EnsureAvailable();
}

// ---- Loading ---------------------------------------------------------------------------------

void GraphicsMesh::ReleaseMaterials()
{
    if (m_graphics) {
        for (GraphicsTexture* texture : m_textures)
            if (texture)
                m_graphics->UnloadTexture(texture);
        for (Material& material : m_materials) {
            if (material.shader)
                m_graphics->UnloadShader2(material.shader);
            if (material.transparentShader)
                m_graphics->UnloadShader2(material.transparentShader);
        }
    }
    m_textures.clear();
    m_materials.clear();
}

void GraphicsMesh::Destroy()
{
    ReleaseMaterials();
    if (RenderDevice* device = GetDevice()) {
        if (m_vertexBuffer)
            device->DestroyVertexBuffer(&m_vertexBuffer);
        if (m_vertexDeclaration)
            device->DestroyVertexDeclaration(&m_vertexDeclaration);
        if (m_indexBuffer)
            device->DestroyIndexBuffer(&m_indexBuffer);
        if (m_blendedIndexBuffer)
            device->DestroyIndexBuffer(&m_blendedIndexBuffer);
    }
    m_vertexBuffer = nullptr;
    m_vertexDeclaration = nullptr;
    m_indexBuffer = nullptr;
    m_blendedIndexBuffer = nullptr;
    delete m_physicsMesh;
    m_physicsMesh = nullptr;

    m_numVertices = 0;
    m_stride = 0;
    std::fill(std::begin(m_attributeOffsets), std::end(m_attributeOffsets), -1);
    m_numFaces = 0;
    m_numBlendedFaces = 0;
    m_faceSets.clear();
    m_sections.clear();
    m_hitBoxes.clear();
    m_bones.clear();
    m_boneOrder.clear();
    m_boneIndex.Reset();
    m_rootMotionBone = Name();
    m_boundingBox = ABBox(Vec3(), Vec3(1.0f, 1.0f, 1.0f));
    m_contours.clear();
    m_portals.clear();
    m_modelData.Clear();
}

void GraphicsMesh::InitializeDefault()
{
    Destroy();
}

Resource::InitResult GraphicsMesh::Initialize(const void* data, int size)
{
    RenderDevice* device = GetDevice();
    if (device && device->DeviceLost())
        return INIT_FAILED;
    // A retry starts from an empty mesh, whatever an earlier attempt left.
    Destroy();

    BinaryReader reader(data, data && size > 0 ? static_cast<unsigned>(size) : 0u);
    char magic[3] = {0, 0, 0};
    reader.ReadBytes(magic, 3);
    const uint8_t version = reader.ReadUInt8();
    if (reader.Failed() || std::memcmp(magic, "MSH", 3) != 0) {
        LogPrintf(1, "Mesh '%s' is not a mesh file", GetFileName());
        Destroy();
        return INIT_INVALID_DATA;
    }
    LoadState state;
    state.version = version;
    InitResult result = INIT_INVALID_DATA;
    if (version == 10 || version == 11) {
        result = ReadChunked(reader, state);
    } else if (version == 9) {
        result = ReadVersion9(reader, state);
    } else if (version == 8) {
        if (ReadLegacyBody(reader, state) && ReadModelText(reader.GetCursor(), reader.GetRemaining()))
            result = INIT_SUCCESS;
    } else {
        LogPrintf(1, "Mesh '%s' has version %u; versions 8 to 11 are read", GetFileName(), version);
    }
    if (result == INIT_SUCCESS)
        result = Finish(state);
    if (result == INIT_INVALID_DATA) {
        LogPrintf(1, "Mesh '%s' holds bad data", GetFileName());
        Destroy();
    }
    return result;
}

Resource::InitResult GraphicsMesh::ReadChunked(BinaryReader& reader, LoadState& state)
{
    while (!reader.AtEnd()) {
        if (reader.GetRemaining() < 8) {
            LogPrintf(1, "Mesh '%s' ends inside a chunk header", GetFileName());
            return INIT_INVALID_DATA;
        }
        const uint32_t id = reader.ReadUInt32();
        const uint32_t size = reader.ReadUInt32();
        if (size > reader.GetRemaining()) {
            LogPrintf(1, "Mesh '%s' has chunk %u of %u bytes past its end", GetFileName(), id, size);
            return INIT_INVALID_DATA;
        }
        BinaryReader content(reader.GetCursor(), size);
        reader.Skip(size); // the next chunk starts at this one's announced end
        if (!ReadChunk(id, content, state)) {
            LogPrintf(1, "Mesh '%s' has a bad chunk %u", GetFileName(), id);
            return INIT_INVALID_DATA;
        }
    }
    return INIT_SUCCESS;
}

Resource::InitResult GraphicsMesh::ReadVersion9(BinaryReader& reader, LoadState& state)
{
    while (reader.GetRemaining() >= 8) {
        const unsigned start = reader.GetPosition();
        const uint32_t id = reader.ReadUInt32();
        const uint32_t size = reader.ReadUInt32();
        if (id != CHUNK_TEXT && id != CHUNK_LEGACY_BODY && id != CHUNK_PHYSICS_MESH) {
            reader.Seek(start); // the model text begins here
            break;
        }
        if (size > reader.GetRemaining()) {
            LogPrintf(1, "Mesh '%s' has chunk %u of %u bytes past its end", GetFileName(), id, size);
            return INIT_INVALID_DATA;
        }
        BinaryReader content(reader.GetCursor(), size);
        reader.Skip(size);
        bool ok = true;
        if (id == CHUNK_TEXT && size > 0) {
            if (!content.ReadString(m_modelData.text))
                m_modelData.text.clear();
        } else if (id == CHUNK_LEGACY_BODY && size > 0) {
            ok = ReadLegacyBody(content, state);
        } else if (id == CHUNK_PHYSICS_MESH) {
            ok = ReadPhysicsMesh(content.GetData(), size);
        }
        if (!ok)
            return INIT_INVALID_DATA;
    }
    return ReadModelText(reader.GetCursor(), reader.GetRemaining()) ? INIT_SUCCESS : INIT_INVALID_DATA;
}

bool GraphicsMesh::ReadChunk(uint32_t id, BinaryReader& content, LoadState& state)
{
    switch (id) {
    case CHUNK_TEXT:
        // The host's text; a bad string leaves it empty.
        if (!content.ReadString(m_modelData.text))
            m_modelData.text.clear();
        return true;
    case CHUNK_PHYSICS_MESH:
        return ReadPhysicsMesh(content.GetData(), content.GetSize());
    case CHUNK_MODEL_TEXT:
        return ReadModelText(content.GetData(), content.GetSize());
    case CHUNK_VERTICES: {
        const uint32_t attributeCount = content.ReadUInt32();
        const uint32_t stride = content.ReadUInt32();
        const uint32_t vertexCount = content.ReadUInt32();
        return !content.Failed() && ReadVertices(content, attributeCount, stride, vertexCount, state);
    }
    case CHUNK_FACES: {
        const uint32_t faceCount = content.ReadUInt32();
        const uint32_t faceSetCount = content.ReadUInt32();
        return !content.Failed() && ReadFaces(content, faceCount, faceSetCount, state.version >= 11, state);
    }
    case CHUNK_BONES: {
        const uint32_t boneCount = content.ReadUInt32();
        return !content.Failed() && ReadBones(content, boneCount);
    }
    case CHUNK_MATERIALS: {
        const uint32_t materialCount = content.ReadUInt32();
        return !content.Failed() && ReadMaterials(content, materialCount);
    }
    case CHUNK_HIT_BOXES: {
        const uint32_t hitBoxCount = content.ReadUInt32();
        return !content.Failed() && ReadHitBoxes(content, hitBoxCount);
    }
    case CHUNK_CONTOURS:
        return ReadContours(content);
    case CHUNK_BOUNDING_BOX: {
        const Vec3 lo = content.ReadVec3();
        const Vec3 hi = content.ReadVec3();
        if (content.Failed())
            return false;
        m_boundingBox = ABBox::FromMinMax(lo, hi);
        return true;
    }
    case CHUNK_BLENDED_FACES: {
        const uint32_t count = content.ReadUInt32();
        if (!content.CheckCount(count, 6, "blended faces"))
            return false;
        m_numBlendedFaces = count;
        state.blendedIndexData = content.GetCursor();
        return content.Skip(count * 6u);
    }
    case CHUNK_PORTALS:
        return ReadPortals(content);
    case CHUNK_SECTIONS:
        return ReadSections(content);
    default:
        return true; // chunk 1 of the legacy form and ids this reader does not know
    }
}

bool GraphicsMesh::ReadLegacyBody(BinaryReader& reader, LoadState& state)
{
    uint32_t header[9];
    for (uint32_t& value : header)
        value = reader.ReadUInt32();
    const uint32_t vertexCount = header[0], faceCount = header[1], faceSetCount = header[2];
    const uint32_t checkedCount = header[3], boneCount = header[4], hitBoxCount = header[5];
    const uint32_t materialCount = header[6], attributeCount = header[7], stride = header[8];
    if (reader.Failed() || vertexCount == 0 || vertexCount > legacyMaxVertices || faceCount == 0 ||
        faceCount > legacyMaxFaces || faceSetCount == 0 || faceSetCount > legacyMaxFaceSets ||
        checkedCount > legacyMaxCheckedCount || boneCount > legacyMaxBones ||
        hitBoxCount > legacyMaxHitBoxes || materialCount > legacyMaxMaterials || attributeCount == 0 ||
        attributeCount > legacyMaxAttributes) {
        LogPrintf(1, "Mesh '%s' has a bad legacy header", GetFileName());
        return false;
    }
    // Attribute ids, the bounding box, then the vertex bytes: ReadVertices reads the ids and the
    // vertices back to back, so the box is read in between by hand.
    if (!ReadVertices(reader, attributeCount, stride, 0, state))
        return false;
    const Vec3 lo = reader.ReadVec3();
    const Vec3 hi = reader.ReadVec3();
    m_boundingBox = ABBox::FromMinMax(lo, hi);
    if (!reader.CheckCount(vertexCount, stride, "vertex bytes"))
        return false;
    m_numVertices = vertexCount;
    state.vertexData = reader.GetCursor();
    reader.Skip(vertexCount * stride);
    if (!ReadFaces(reader, faceCount, faceSetCount, false, state) || !ReadBones(reader, boneCount) ||
        !ReadHitBoxes(reader, hitBoxCount) || !ReadMaterials(reader, materialCount))
        return false;
    m_modelData.attachPoints.Reset();
    return !reader.Failed();
}

bool GraphicsMesh::ReadModelText(const uint8_t* text, unsigned length)
{
    if (length == 0)
        return true;
    if (!m_modelData.ParseText(reinterpret_cast<const char*>(text), length)) {
        LogPrintf(1, "Mesh '%s' has a model text that does not parse", GetFileName());
        return false;
    }
    return true;
}

bool GraphicsMesh::ReadPhysicsMesh(const uint8_t* data, unsigned size)
{
    delete m_physicsMesh;
    m_physicsMesh = new PhysicsMesh;
    if (!m_physicsMesh->Initialize(data, size)) {
        delete m_physicsMesh;
        m_physicsMesh = nullptr;
        return false;
    }
    return true;
}

bool GraphicsMesh::ReadVertices(BinaryReader& reader, uint32_t attributeCount, uint32_t stride,
                                uint32_t vertexCount, LoadState& state)
{
    if (!reader.CheckCount(attributeCount, 4, "vertex attributes"))
        return false;
    state.elements.clear();
    state.vertexData = nullptr;
    std::fill(std::begin(m_attributeOffsets), std::end(m_attributeOffsets), -1);
    uint64_t offset = 0;
    for (uint32_t i = 0; i < attributeCount; ++i) {
        const uint32_t id = reader.ReadUInt32();
        const uint32_t type = AttributeType(id);
        if (type == 0) {
            LogPrintf(1, "Mesh '%s' has vertex attribute %u", GetFileName(), id);
            return false;
        }
        if (m_attributeOffsets[id] < 0)
            m_attributeOffsets[id] = static_cast<int32_t>(offset);
        VertexElement element;
        element.stream = 0;
        element.usage = id;
        element.type = type;
        state.elements.push_back(element);
        offset += GetVertexElementSize(type);
    }
    if (offset > stride) {
        LogPrintf(1, "Mesh '%s' has attributes of %llu bytes in a vertex of %u", GetFileName(),
                  static_cast<unsigned long long>(offset), stride);
        return false;
    }
    m_stride = stride;
    if (!reader.CheckCount(vertexCount, stride, "vertex bytes"))
        return false;
    m_numVertices = vertexCount;
    state.vertexData = reader.GetCursor();
    return reader.Skip(vertexCount * stride);
}

bool GraphicsMesh::ReadFaces(BinaryReader& reader, uint32_t faceCount, uint32_t faceSetCount, bool withBoxes,
                             LoadState& state)
{
    if (!reader.CheckCount(faceCount, 6, "faces"))
        return false;
    m_numFaces = faceCount;
    state.indexData = reader.GetCursor();
    reader.Skip(faceCount * 6u);
    if (!reader.CheckCount(faceSetCount, withBoxes ? 44 : 16, "face sets"))
        return false;
    m_faceSets.assign(faceSetCount, FaceSet());
    for (FaceSet& set : m_faceSets) {
        set.material = reader.ReadUInt32();
        set.firstFace = reader.ReadUInt32();
        set.numFaces = reader.ReadUInt32();
        if (withBoxes) {
            set.section = reader.ReadUInt32();
            set.box.center = reader.ReadVec3();
            set.box.extents = reader.ReadVec3();
        }
        const uint32_t paletteSize = reader.ReadUInt32();
        if (paletteSize > maxPaletteSize) {
            LogPrintf(1, "Mesh '%s' has a bone palette of %u entries", GetFileName(), paletteSize);
            return false;
        }
        if (!reader.CheckCount(paletteSize, 4, "palette bones"))
            return false;
        set.bones.resize(paletteSize);
        for (uint32_t& bone : set.bones)
            bone = reader.ReadUInt32();
    }
    return !reader.Failed();
}

bool GraphicsMesh::ReadBones(BinaryReader& reader, uint32_t boneCount)
{
    if (!reader.CheckCount(boneCount, boneRecordSize, "bones"))
        return false;
    m_bones.assign(boneCount, Bone());
    m_boneOrder.clear();
    m_boneIndex.Reset();
    std::vector<uint32_t> childCounts(boneCount);
    for (uint32_t i = 0; i < boneCount; ++i) {
        Bone& bone = m_bones[i];
        bone.nameText = ReadFixedName(reader);
        bone.name = Name::Create(bone.nameText.c_str());
        bone.firstChild = reader.ReadUInt32();
        childCounts[i] = reader.ReadUInt32();
        bone.relativeCoords = reader.ReadCoords();
        m_boneIndex.Insert(bone.name, i);
    }
    if (reader.Failed())
        return false;

    // Parents from the child ranges: each range must lie inside the bones and each bone may be
    // claimed once, by another bone.
    for (uint32_t i = 0; i < boneCount; ++i) {
        const uint32_t first = m_bones[i].firstChild;
        const uint32_t count = childCounts[i];
        if (count == 0)
            continue;
        if (uint64_t(first) + count > boneCount) {
            LogPrintf(1, "Mesh '%s' has bone %u with children past the %u bones", GetFileName(), i,
                      boneCount);
            return false;
        }
        for (uint32_t child = first; child < first + count; ++child) {
            if (child == i || m_bones[child].parent >= 0) {
                LogPrintf(1, "Mesh '%s' has bone %u claimed by two parents", GetFileName(), child);
                return false;
            }
            m_bones[child].parent = static_cast<int32_t>(i);
        }
        m_bones[i].numChildren = static_cast<int32_t>(count);
    }

    // Parents first, from every root; bones that no root reaches sit on a cycle.
    m_boneOrder.reserve(boneCount);
    for (uint32_t i = 0; i < boneCount; ++i)
        if (m_bones[i].parent < 0)
            m_boneOrder.push_back(i);
    for (size_t next = 0; next < m_boneOrder.size(); ++next) {
        const Bone& bone = m_bones[m_boneOrder[next]];
        for (int32_t c = 0; c < bone.numChildren; ++c)
            m_boneOrder.push_back(bone.firstChild + static_cast<uint32_t>(c));
    }
    if (m_boneOrder.size() != boneCount) {
        LogPrintf(1, "Mesh '%s' has bones whose parents form a cycle", GetFileName());
        return false;
    }
    for (size_t n = m_boneOrder.size(); n-- > 0;) {
        Bone& bone = m_bones[m_boneOrder[n]];
        for (int32_t c = 0; c < bone.numChildren; ++c)
            bone.height =
                std::max(bone.height, m_bones[bone.firstChild + static_cast<uint32_t>(c)].height + 1);
    }
    for (uint32_t index : m_boneOrder) {
        Bone& bone = m_bones[index];
        bone.bindCoords = bone.parent < 0
                              ? bone.relativeCoords
                              : m_bones[static_cast<size_t>(bone.parent)].bindCoords * bone.relativeCoords;
    }
    return true;
}

bool GraphicsMesh::ReadName(BinaryReader& reader, std::string& out, const char* what) const
{
    const unsigned at = reader.GetPosition();
    if (reader.ReadStringOrEmpty(out))
        return true;
    // The data layer's string rule: a string too long or past the chunk is left empty and the
    // reading goes on after its length word.
    if (!reader.Failed())
        LogPrintf(2, "Mesh '%s' has a %s at %u that is too long; it is left empty", GetFileName(), what, at);
    return false;
}

bool GraphicsMesh::ReadMaterials(BinaryReader& reader, uint32_t materialCount)
{
    ReleaseMaterials();
    if (!reader.CheckCount(materialCount, 8, "materials"))
        return false;
    m_materials.resize(materialCount);
    FileSystem* files = m_graphics ? EngineDataServices::Files() : nullptr;
    for (Material& material : m_materials) {
        ReadName(reader, material.shaderName, "shader name");
        const uint32_t parameterCount = reader.ReadUInt32();
        if (!reader.CheckCount(parameterCount, 8, "material parameters"))
            return false;
        if (m_graphics && !material.shaderName.empty()) {
            material.shader = m_graphics->LoadShader2(material.shaderName);
            const std::string transparent = TransparentShaderName(material.shaderName);
            const bool hasVariant = files && files->DoesFileExist(transparent.c_str());
            material.transparentShader =
                m_graphics->LoadShader2(hasVariant ? transparent : material.shaderName);
        }
        for (uint32_t p = 0; p < parameterCount; ++p) {
            MaterialParam parameter;
            ReadName(reader, parameter.nameText, "parameter name");
            parameter.name = Name::Create(parameter.nameText.c_str());
            parameter.type = reader.ReadUInt32();
            unsigned floats = 0;
            bool keep = true;
            switch (parameter.type) {
            case PARAMETER_INT:
                parameter.value.words[0] = reader.ReadUInt32();
                break;
            case PARAMETER_BOOL:
                parameter.value.words[0] = reader.ReadUInt32() != 0 ? 1u : 0u;
                break;
            case PARAMETER_STRING: {
                std::string dropped;
                ReadName(reader, dropped, "string parameter");
                break;
            }
            case PARAMETER_FLOAT4X3:
                floats = 12;
                break;
            case PARAMETER_FLOAT4X4:
                floats = 16;
                break;
            case PARAMETER_TEXTURE: {
                std::string textureName;
                // A texture name the string rule refuses names no texture: the parameter goes.
                keep = ReadName(reader, textureName, "texture name") &&
                       (ShaderDeclares(material.shader, parameter.name) ||
                        ShaderDeclares(material.transparentShader, parameter.name));
                if (keep && m_graphics) {
                    parameter.texture = m_graphics->LoadTexture(textureName);
                    if (parameter.texture)
                        m_textures.push_back(parameter.texture);
                }
                break;
            }
            case PARAMETER_FLOAT2:
                floats = 2;
                break;
            case PARAMETER_FLOAT3:
                floats = 3;
                break;
            case PARAMETER_FLOAT:
                floats = 1;
                break;
            case PARAMETER_FLOAT4:
                floats = 4;
                break;
            default:
                keep = false; // no value follows
                break;
            }
            for (unsigned f = 0; f < floats; ++f)
                parameter.value.floats[f] = reader.ReadFloat();
            if (reader.Failed())
                return false;
            if (keep)
                material.parameters.push_back(std::move(parameter));
        }
    }
    return !reader.Failed();
}

bool GraphicsMesh::ReadHitBoxes(BinaryReader& reader, uint32_t hitBoxCount)
{
    if (!reader.CheckCount(hitBoxCount, hitBoxRecordSize, "hit boxes"))
        return false;
    m_hitBoxes.clear();
    m_hitBoxes.reserve(hitBoxCount);
    for (uint32_t i = 0; i < hitBoxCount; ++i) {
        HitBox box;
        box.nameText = ReadFixedName(reader);
        box.name = Name::Create(box.nameText.c_str());
        box.box.extents = reader.ReadVec3();
        box.box.coords = reader.ReadCoords();
        const uint32_t bone = reader.ReadUInt32();
        box.bone = bone <= 0x7FFFFFFFu ? static_cast<int32_t>(bone) : -1;
        Coords& frame = box.box.coords;
        frame.xAxis = frame.xAxis.Unit();
        frame.yAxis = frame.yAxis.Unit();
        frame.zAxis = frame.zAxis.Unit();
        if (!IsFiniteVec3(box.box.extents) || !IsFiniteVec3(frame.xAxis) || !IsFiniteVec3(frame.yAxis) ||
            !IsFiniteVec3(frame.zAxis) || !IsFiniteVec3(frame.origin)) {
            LogPrintf(2, "Mesh '%s' has a bad hit box", GetFileName());
            continue;
        }
        m_hitBoxes.push_back(std::move(box));
    }
    return !reader.Failed();
}

bool GraphicsMesh::ReadContours(BinaryReader& reader)
{
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, 4, "contours"))
        return false;
    m_contours.assign(count, Contour());
    for (Contour& contour : m_contours) {
        const uint32_t pointCount = reader.ReadUInt32();
        if (!reader.CheckCount(pointCount, 24, "contour points"))
            return false;
        contour.points.resize(pointCount);
        for (ContourPoint& point : contour.points) {
            point.position = reader.ReadVec3();
            point.normal = reader.ReadVec3();
        }
        // The side of each point: across the contour (which closes on itself) from its neighbours.
        const size_t n = contour.points.size();
        for (size_t i = 0; i < n; ++i) {
            const Vec3 along =
                contour.points[(i + 1) % n].position - contour.points[(i + n - 1) % n].position;
            const Vec3 side =
                Vec3::Cross(along.LengthSquared() > 0.0f ? along.Unit() : Vec3(), contour.points[i].normal);
            contour.points[i].side = side.LengthSquared() > 0.0f ? side.Unit() : Vec3();
            if (!IsFiniteVec3(contour.points[i].side))
                contour.points[i].side = Vec3();
        }
    }
    return !reader.Failed();
}

bool GraphicsMesh::ReadPortals(BinaryReader& reader)
{
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, 4, "portals"))
        return false;
    m_portals.assign(count, Portal());
    for (Portal& portal : m_portals) {
        const uint32_t pointCount = reader.ReadUInt32();
        if (!reader.CheckCount(pointCount, 36, "portal points"))
            return false;
        portal.points.resize(pointCount);
        for (PortalPoint& point : portal.points)
            for (Vec3& value : point.values)
                value = reader.ReadVec3();
    }
    return !reader.Failed();
}

bool GraphicsMesh::ReadSections(BinaryReader& reader)
{
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, 4, "section names"))
        return false;
    std::vector<std::string> sections(count);
    for (std::string& section : sections)
        ReadName(reader, section, "section name");
    if (reader.Failed())
        return false;
    m_sections = std::move(sections);
    return true;
}

// ---- Derived data ------------------------------------------------------------------------------

uint8_t* GraphicsMesh::WritableVertices(LoadState& state) const
{
    if (state.vertexData != state.foldedVertices.data()) {
        state.foldedVertices.assign(state.vertexData, state.vertexData + size_t(m_numVertices) * m_stride);
        state.vertexData = state.foldedVertices.data();
    }
    return state.foldedVertices.data();
}

bool GraphicsMesh::Validate(LoadState& state)
{
    const char* name = GetFileName();
    for (uint64_t i = 0; i < uint64_t(m_numFaces) * 3; ++i) {
        if (IndexAt(state.indexData, i) >= m_numVertices) {
            LogPrintf(1, "Mesh '%s' has a face naming vertex %u of %u", name, IndexAt(state.indexData, i),
                      m_numVertices);
            return false;
        }
    }
    for (uint64_t i = 0; i < uint64_t(m_numBlendedFaces) * 3; ++i) {
        if (IndexAt(state.blendedIndexData, i) >= m_numVertices) {
            LogPrintf(1, "Mesh '%s' has a blended face naming vertex %u of %u", name,
                      IndexAt(state.blendedIndexData, i), m_numVertices);
            return false;
        }
    }
    const int32_t boneBytes = m_attributeOffsets[VERTEX_USAGE_BONE_INDICES];
    const int32_t weightBytes = m_attributeOffsets[VERTEX_USAGE_BONE_WEIGHTS];
    const bool hasBoneBytes = state.vertexData && boneBytes >= 0 && uint64_t(boneBytes) + 4 <= m_stride;
    const bool hasWeights = state.vertexData && weightBytes >= 0 && uint64_t(weightBytes) + 16 <= m_stride;
    // Whether influence b of the vertex carries no weight (a vertex without weights has none to
    // tell, so every influence counts).
    auto unweighted = [&](const uint8_t* vertex, int b) {
        if (!hasWeights)
            return false;
        float weight = 0.0f;
        std::memcpy(&weight, vertex + weightBytes + 4 * b, 4);
        return weight == 0.0f;
    };
    for (size_t s = 0; s < m_faceSets.size(); ++s) {
        const FaceSet& set = m_faceSets[s];
        if (uint64_t(set.firstFace) + set.numFaces > m_numFaces) {
            LogPrintf(1, "Mesh '%s' has face set %zu beyond its %u faces", name, s, m_numFaces);
            return false;
        }
        if (set.material >= m_materials.size()) {
            LogPrintf(1, "Mesh '%s' has face set %zu naming material %u of %zu", name, s, set.material,
                      m_materials.size());
            return false;
        }
        for (uint32_t bone : set.bones) {
            if (bone >= m_bones.size()) {
                LogPrintf(1, "Mesh '%s' has face set %zu naming bone %u of %zu", name, s, bone,
                          m_bones.size());
                return false;
            }
        }
        if (!hasBoneBytes || set.bones.empty())
            continue;
        for (uint64_t i = uint64_t(set.firstFace) * 3; i < (uint64_t(set.firstFace) + set.numFaces) * 3;
             ++i) {
            const size_t vertex = size_t(IndexAt(state.indexData, i)) * m_stride;
            for (int b = 0; b < 4; ++b) {
                const uint8_t entry = state.vertexData[vertex + boneBytes + b];
                if (entry < set.bones.size())
                    continue;
                // An influence without weight moves nothing: whatever it names, entry 0 serves.
                if (unweighted(state.vertexData + vertex, b)) {
                    WritableVertices(state)[vertex + boneBytes + b] = 0;
                    continue;
                }
                LogPrintf(1, "Mesh '%s' has a weighted vertex naming palette entry %u of face set %zu's %zu",
                          name, entry, s, set.bones.size());
                return false;
            }
        }
    }
    return true;
}

void GraphicsMesh::FoldBonePalettes(LoadState& state, int maxBones)
{
    const int32_t boneBytes = m_attributeOffsets[VERTEX_USAGE_BONE_INDICES];
    const int32_t weights = m_attributeOffsets[VERTEX_USAGE_BONE_WEIGHTS];
    if (boneBytes < 0 || weights < 0 || uint32_t(boneBytes) >= m_stride || uint32_t(weights) >= m_stride ||
        !state.vertexData || m_numVertices == 0)
        return;
    const size_t limit = static_cast<size_t>(std::max(maxBones, 0));
    bool needed = false;
    for (const FaceSet& set : m_faceSets)
        needed = needed || set.bones.size() > limit;
    if (!needed)
        return;

    uint8_t* vertices = WritableVertices(state);
    // Which face set last rewrote a vertex, so each vertex is rewritten once per face set.
    std::vector<uint32_t> rewrittenBy(m_numVertices, 0);

    for (size_t s = 0; s < m_faceSets.size(); ++s) {
        FaceSet& set = m_faceSets[s];
        if (set.bones.size() <= limit)
            continue;
        size_t excess = set.bones.size() - limit;
        struct Entry
        {
            uint32_t bone;
            uint32_t replacement;
            int32_t newIndex;
        };
        std::vector<Entry> entries;
        for (uint32_t bone : set.bones)
            entries.push_back({bone, bone, -1});
        auto inPalette = [&](uint32_t bone) {
            return std::find(set.bones.begin(), set.bones.end(), bone) != set.bones.end();
        };
        // Leaves first, then their parents: a bone whose parent is in the palette draws with it.
        for (uint32_t height = 0; height < 3 && excess > 0; ++height) {
            for (Entry& entry : entries) {
                if (excess == 0)
                    break;
                const Bone& bone = m_bones[entry.bone];
                if (bone.height != height || entry.replacement != entry.bone || bone.parent < 0 ||
                    !inPalette(static_cast<uint32_t>(bone.parent)))
                    continue;
                entry.replacement = static_cast<uint32_t>(bone.parent);
                --excess;
            }
        }
        std::vector<uint32_t> palette;
        for (Entry& entry : entries) {
            if (entry.replacement == entry.bone) {
                entry.newIndex = static_cast<int32_t>(palette.size());
                palette.push_back(entry.bone);
            }
        }
        // Folded entries take the index of their replacement's entry, through chains of folds.
        for (int round = 0; round < 10; ++round) {
            bool unresolved = false;
            for (Entry& entry : entries) {
                if (entry.newIndex >= 0)
                    continue;
                for (const Entry& holder : entries) {
                    if (holder.bone == entry.replacement) {
                        entry.newIndex = holder.newIndex;
                        break;
                    }
                }
                unresolved = unresolved || entry.newIndex < 0;
            }
            if (!unresolved)
                break;
        }
        const uint32_t stamp = static_cast<uint32_t>(s) + 1;
        for (uint64_t i = uint64_t(set.firstFace) * 3; i < (uint64_t(set.firstFace) + set.numFaces) * 3;
             ++i) {
            const uint16_t vertex = IndexAt(state.indexData, i);
            if (rewrittenBy[vertex] == stamp)
                continue;
            rewrittenBy[vertex] = stamp;
            uint8_t* bytes = vertices + size_t(vertex) * m_stride + boneBytes;
            for (int b = 0; b < 4; ++b)
                bytes[b] = static_cast<uint8_t>(std::max(entries[bytes[b]].newIndex, 0));
        }
        set.bones = std::move(palette);
    }
}

Resource::InitResult GraphicsMesh::Finish(LoadState& state)
{
    if (state.version <= 10)
        for (FaceSet& set : m_faceSets)
            set.box = m_boundingBox;
    if (m_sections.empty())
        m_sections.emplace_back();
    for (HitBox& box : m_hitBoxes)
        if (box.bone >= 0 && static_cast<uint32_t>(box.bone) >= m_bones.size())
            box.bone = -1;
    if (!Validate(state))
        return INIT_INVALID_DATA;
    m_rootMotionBone = Name();
    for (const Bone& bone : m_bones) {
        if (bone.parent < 0) {
            m_rootMotionBone = bone.name;
            break;
        }
    }

    RenderDevice* device = GetDevice();
    // The graphics engine's count, not the device's: below high detail the newer devices run the
    // programs of an older generation, whose skinned shaders take fewer bones a draw. A change of
    // generation reloads the meshes, which fold again.
    FoldBonePalettes(state, m_graphics ? m_graphics->GetMaxNumBones() : maxBonesWithoutEngine);

    bool partial = false;
    // A device buffer filled from bytes in one block; false when it could not be made or filled.
    auto fillVertices = [&](const uint8_t* bytes, unsigned size) {
        m_vertexBuffer = device->CreateVertexBuffer(RENDER_USAGE_STATIC, size);
        if (!m_vertexBuffer)
            return false;
        void* target = m_vertexBuffer->Lock();
        if (!target) {
            device->DestroyVertexBuffer(&m_vertexBuffer);
            return false;
        }
        std::memcpy(target, bytes, size);
        m_vertexBuffer->Unlock();
        return true;
    };
    auto fillIndices = [&](RenderIndexBuffer*& buffer, const uint8_t* bytes, uint32_t faces) {
        buffer = device->CreateIndexBuffer(faces * 3u, 2);
        if (!buffer)
            return false;
        void* target = buffer->Lock();
        if (!target) {
            device->DestroyIndexBuffer(&buffer);
            return false;
        }
        std::memcpy(target, bytes, size_t(faces) * 6);
        buffer->Unlock();
        return true;
    };
    const uint64_t vertexBytes = uint64_t(m_numVertices) * m_stride;
    if (vertexBytes > 0)
        partial |= !device || !fillVertices(state.vertexData, static_cast<unsigned>(vertexBytes));
    if (!state.elements.empty()) {
        if (device)
            m_vertexDeclaration = device->CreateVertexDeclaration(state.elements.data(),
                                                                  static_cast<int>(state.elements.size()));
        partial |= !m_vertexDeclaration;
    }
    if (m_numFaces > 0)
        partial |= !device || !fillIndices(m_indexBuffer, state.indexData, m_numFaces);
    if (m_numBlendedFaces > 0)
        partial |= !device || !fillIndices(m_blendedIndexBuffer, state.blendedIndexData, m_numBlendedFaces);
    return partial ? INIT_PARTIAL : INIT_SUCCESS;
}

// ---- Use -----------------------------------------------------------------------------------------

void GraphicsMesh::PreLoadDependentResources()
{
    for (GraphicsTexture* texture : m_textures)
        if (texture)
            if (ResourceLoader* loader = texture->GetResourceLoader())
                loader->EnqueueResource(texture, RESOURCE_PRIORITY_HIGH, false);
    for (const Material& material : m_materials)
        for (GraphicsShader2* shader : {material.shader, material.transparentShader})
            if (shader)
                if (ResourceLoader* loader = shader->GetResourceLoader())
                    loader->EnqueueResource(shader, RESOURCE_PRIORITY_HIGH, true);
}

bool GraphicsMesh::GetIsReadyToUse()
{
    MarkAsUsed();
    if (GetLoadedState() != LOAD_STATE_LOADED)
        return false;
    // A mesh loaded by a query on the spot never had its dependents queued: whatever is missing
    // is queued now, so the mesh becomes ready instead of waiting for ever.
    bool ready = true;
    for (const Material& material : m_materials) {
        for (GraphicsShader2* shader : {material.shader, material.transparentShader}) {
            if (shader && !shader->GetIsReadyToUse()) {
                QueueIfMissing(shader, true);
                ready = false;
            }
        }
    }
    for (GraphicsTexture* texture : m_textures) {
        if (texture && !texture->GetIsReadyToUse()) {
            QueueIfMissing(texture, false);
            ready = false;
        }
    }
    return ready;
}

void GraphicsMesh::SetShaderParameters(GraphicsShader2* shader, int material) const
{
    Touch();
    if (!shader || material < 0 || static_cast<size_t>(material) >= m_materials.size())
        return;
    for (const MaterialParam& parameter : m_materials[static_cast<size_t>(material)].parameters) {
        switch (parameter.type) {
        case PARAMETER_TEXTURE:
            if (parameter.texture)
                shader->SetTexture(parameter.name, 0, parameter.texture->GetTexture());
            break;
        case PARAMETER_FLOAT2:
            shader->SetFloat2(parameter.name, 0, parameter.value.floats);
            break;
        case PARAMETER_FLOAT3:
        case GraphicsShader2::TYPE_FLOAT3_ALIAS:
            shader->SetFloat3(parameter.name, 0, parameter.value.floats);
            break;
        case PARAMETER_FLOAT:
            shader->SetFloat(parameter.name, 0, parameter.value.floats[0]);
            break;
        case PARAMETER_FLOAT4:
        case GraphicsShader2::TYPE_FLOAT4_ALIAS:
            shader->SetFloat4(parameter.name, 0, parameter.value.floats);
            break;
        default:
            break; // other kinds are not handed to shaders
        }
    }
}

void GraphicsMesh::RenderBlendedFaces(RenderDevice* device, GraphicsShader2* shader) const
{
    Touch();
    if (!device || !m_vertexBuffer || !m_vertexDeclaration || !m_blendedIndexBuffer || m_numBlendedFaces == 0)
        return;
    device->SetIndices(m_blendedIndexBuffer);
    // The file's stride, which may hold padding the declaration does not describe.
    device->SetStreamSource(0, m_vertexBuffer, 0, m_stride);
    device->SetVertexDeclaration(m_vertexDeclaration);
    if (shader)
        shader->Render(GetFileName());
    RenderDrawRange range;
    range.numVertices = m_numVertices;
    range.primitiveCount = m_numBlendedFaces;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
}

void GraphicsMesh::LogInfo() const
{
    Resource::LogInfo();
    LogPrintf(0, "   numVerts: %u", m_numVertices);
    LogPrintf(0, "   numFaces: %u", m_numFaces);
    LogPrintf(0, "   numFaceSets: %u", static_cast<unsigned>(m_faceSets.size()));
    LogPrintf(0, "   numBlendedFaces: %u", m_numBlendedFaces);
    LogPrintf(0, "   bounds origin: (%f, %f, %f)", m_boundingBox.center.x, m_boundingBox.center.y,
              m_boundingBox.center.z);
    LogPrintf(0, "   bounds extents: (%f, %f, %f)", m_boundingBox.extents.x, m_boundingBox.extents.y,
              m_boundingBox.extents.z);
    LogPrintf(0, "   vertexBuffer: %p", static_cast<const void*>(m_vertexBuffer));
    LogPrintf(0, "   indexBuffer: %p", static_cast<const void*>(m_indexBuffer));
    LogPrintf(0, "   physicsMesh: %p", static_cast<const void*>(m_physicsMesh));
}

OBBox GraphicsMesh::GetOBBox() const
{
    Touch();
    return OBBox(m_boundingBox.extents, Coords());
}

uint32_t GraphicsMesh::GetNumVertices() const
{
    Touch();
    return m_numVertices;
}

uint32_t GraphicsMesh::GetNumFaces() const
{
    Touch();
    return m_numFaces;
}

uint32_t GraphicsMesh::GetNumBlendedFaces() const
{
    Touch();
    return m_numBlendedFaces;
}

uint32_t GraphicsMesh::GetVertexStride() const
{
    Touch();
    return m_stride;
}

int32_t GraphicsMesh::GetAttributeOffset(uint32_t attributeId) const
{
    Touch();
    return attributeId <= maxAttributeId ? m_attributeOffsets[attributeId] : -1;
}

RenderVertexBuffer* GraphicsMesh::GetVertexBuffer() const
{
    Touch();
    return m_vertexBuffer;
}

RenderVertexDeclaration* GraphicsMesh::GetVertexDeclaration() const
{
    Touch();
    return m_vertexDeclaration;
}

RenderIndexBuffer* GraphicsMesh::GetIndexBuffer() const
{
    Touch();
    return m_indexBuffer;
}

RenderIndexBuffer* GraphicsMesh::GetBlendedIndexBuffer() const
{
    Touch();
    return m_blendedIndexBuffer;
}

void GraphicsMesh::GetMeshRenderInfo(MeshRenderInfo& info) const
{
    Touch();
    info.numFaces = m_numFaces;
    info.numVertices = m_numVertices;
    info.numBones = static_cast<uint32_t>(m_bones.size());
    info.vertexBuffer = m_vertexBuffer;
    info.vertexDeclaration = m_vertexDeclaration;
    info.indexBuffer = m_indexBuffer;
    info.faceSets = m_faceSets.empty() ? nullptr : m_faceSets.data();
}

uint32_t GraphicsMesh::GetNumFaceSets() const
{
    Touch();
    return static_cast<uint32_t>(m_faceSets.size());
}

const GraphicsMesh::FaceSet& GraphicsMesh::GetFaceSet(uint32_t index) const
{
    Touch();
    return m_faceSets[index];
}

uint32_t GraphicsMesh::GetNumSections() const
{
    Touch();
    return static_cast<uint32_t>(m_sections.size());
}

const std::string& GraphicsMesh::GetSection(uint32_t index) const
{
    Touch();
    return m_sections[index];
}

uint32_t GraphicsMesh::GetNumMaterials() const
{
    Touch();
    return static_cast<uint32_t>(m_materials.size());
}

const GraphicsMesh::Material& GraphicsMesh::GetMaterial(uint32_t index) const
{
    Touch();
    return m_materials[index];
}

const std::vector<GraphicsTexture*>& GraphicsMesh::GetTextures() const
{
    Touch();
    return m_textures;
}

uint32_t GraphicsMesh::GetNumBones() const
{
    Touch();
    return static_cast<uint32_t>(m_bones.size());
}

const GraphicsMesh::Bone& GraphicsMesh::GetBone(uint32_t index) const
{
    Touch();
    return m_bones[index];
}

int32_t GraphicsMesh::GetBoneIndex(const Name& name) const
{
    Touch();
    const uint32_t* index = m_boneIndex.FindValue(name);
    return index ? static_cast<int32_t>(*index) : -1;
}

const Name& GraphicsMesh::GetRootMotionBone() const
{
    Touch();
    return m_rootMotionBone;
}

uint32_t GraphicsMesh::GetNumHitBoxes() const
{
    Touch();
    return static_cast<uint32_t>(m_hitBoxes.size());
}

const GraphicsMesh::HitBox& GraphicsMesh::GetHitBox(uint32_t index) const
{
    Touch();
    return m_hitBoxes[index];
}

GraphicsMesh::HitBox GraphicsMesh::GetHitBox(uint32_t index, const SkeletalPose& pose) const
{
    Touch();
    HitBox box = m_hitBoxes[index];
    if (box.bone < 0)
        return box;
    Coords frame = GetAbsCoords(pose, box.bone) * box.box.coords;
    Vec3* axes[3] = {&frame.xAxis, &frame.yAxis, &frame.zAxis};
    float* extents[3] = {&box.box.extents.x, &box.box.extents.y, &box.box.extents.z};
    for (int k = 0; k < 3; ++k) {
        const float length = axes[k]->Length();
        if (length > 0.0f) {
            *axes[k] = *axes[k] / length;
            *extents[k] *= length;
        }
    }
    box.box.coords = frame;
    return box;
}

const ABBox& GraphicsMesh::GetBoundingBox() const
{
    Touch();
    return m_boundingBox;
}

PhysicsMesh* GraphicsMesh::GetPhysicsMesh() const
{
    Touch();
    return m_physicsMesh;
}

uint32_t GraphicsMesh::GetNumContours() const
{
    Touch();
    return static_cast<uint32_t>(m_contours.size());
}

const GraphicsMesh::Contour& GraphicsMesh::GetContour(uint32_t index) const
{
    Touch();
    return m_contours[index];
}

uint32_t GraphicsMesh::GetNumPortals() const
{
    Touch();
    return static_cast<uint32_t>(m_portals.size());
}

const GraphicsMesh::Portal& GraphicsMesh::GetPortal(uint32_t index) const
{
    Touch();
    return m_portals[index];
}

const GraphicsMesh::MIFData& GraphicsMesh::GetMIFData() const
{
    Touch();
    return m_modelData;
}

const AttachPoint* GraphicsMesh::GetAttachPoint(const Name& name) const
{
    Touch();
    return m_modelData.attachPoints.FindValue(name);
}

void GraphicsMesh::GetAttachedCoords(const SkeletalPose& pose, const Name& name, Coords& coords) const
{
    const AttachPoint* point = GetAttachPoint(name);
    if (!point) {
        coords = Coords();
        return;
    }
    coords = GetAbsCoords(pose, GetBoneIndex(point->parent)) * point->coords;
}

void GraphicsMesh::GetAllAttachedPoints(std::vector<Name>& names) const
{
    Touch();
    const NameTable<AttachPoint>& table = m_modelData.attachPoints;
    for (int32_t slot = table.First(); slot >= 0; slot = table.Next(slot))
        names.push_back(table.GetSlot(slot).key);
}

uint32_t GraphicsMesh::GetNumRigidBodyDescriptions() const
{
    Touch();
    return static_cast<uint32_t>(m_modelData.rigidBodies.size());
}

const RigidBodyDescription& GraphicsMesh::GetRigidBodyDescription(uint32_t index) const
{
    Touch();
    return m_modelData.rigidBodies[index];
}

uint32_t GraphicsMesh::GetNumJointDescriptions() const
{
    Touch();
    return static_cast<uint32_t>(m_modelData.joints.size());
}

const JointDescription& GraphicsMesh::GetJointDescription(uint32_t index) const
{
    Touch();
    return m_modelData.joints[index];
}

bool GraphicsMesh::HasRigidBodyData() const
{
    Touch();
    return !m_modelData.rigidBodies.empty();
}

uint32_t GraphicsMesh::GetNumCreationData() const
{
    return static_cast<uint32_t>(m_modelData.creationAttachNames.size());
}

bool GraphicsMesh::GetCreationData(uint32_t index, std::string& entity, std::string& attach) const
{
    if (index >= m_modelData.creationEntityNames.size() || index >= m_modelData.creationAttachNames.size())
        return false;
    entity = m_modelData.creationEntityNames[index];
    attach = m_modelData.creationAttachNames[index];
    return true;
}

uint32_t GraphicsMesh::GetNumSkeletonEmitterBones() const
{
    return static_cast<uint32_t>(m_modelData.skeletonEmitterBones.size());
}

const std::string& GraphicsMesh::GetSkeletonEmitterBone(uint32_t index) const
{
    return m_modelData.skeletonEmitterBones[index];
}

// ---- Skinning ------------------------------------------------------------------------------------

Coords GraphicsMesh::GetAbsCoords(const SkeletalPose& pose, int32_t bone) const
{
    Touch();
    if (bone < 0 || static_cast<size_t>(bone) >= m_bones.size())
        return Coords();
    // A(i) = R(root) P(root) ... R(i) P(i), gathered from the bone up.
    Coords result;
    for (int32_t i = bone; i >= 0; i = m_bones[static_cast<size_t>(i)].parent) {
        const Bone& b = m_bones[static_cast<size_t>(i)];
        result = b.relativeCoords * pose.GetBoneCoords(b.name) * result;
    }
    return result;
}

Coords GraphicsMesh::GetAbsCoords(const SkeletalPose& pose, const Name& bone) const
{
    return GetAbsCoords(pose, GetBoneIndex(bone));
}

void GraphicsMesh::GetAbsCoords(const SkeletalPose& pose, Coords* out) const
{
    GetAbsCoords(pose, out, nullptr, pose);
}

void GraphicsMesh::GetAbsCoords(const SkeletalPose& pose, Coords* out, const GraphicsMesh* other,
                                const SkeletalPose& otherPose) const
{
    Touch();
    if (!out)
        return;
    // Parents come first in the order, so out[parent] already holds A(parent) when a child needs it.
    for (uint32_t index : m_boneOrder) {
        const Bone& bone = m_bones[index];
        if (bone.parent >= 0) {
            out[index] = out[bone.parent] * bone.relativeCoords * pose.GetBoneCoords(bone.name);
            continue;
        }
        const int32_t namesake = other ? other->GetBoneIndex(bone.name) : -1;
        out[index] = namesake >= 0 ? other->GetAbsCoords(otherPose, namesake)
                                   : bone.relativeCoords * pose.GetBoneCoords(bone.name);
    }
    for (size_t i = 0; i < m_bones.size(); ++i)
        out[i] = out[i] * m_bones[i].bindCoords.Inverse();
}

} // namespace GAME
