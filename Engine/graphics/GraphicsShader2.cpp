#include "graphics/GraphicsShader2.h"

#include "core/Color.h"
#include "core/Coords.h"
#include "core/Log.h"
#include "core/Mat4.h"
#include "core/Vec2.h"
#include "core/Vec3.h"
#include "core/Vec4.h"
#include "data/BinaryReader.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

// Smallest bytes of a record, for checking counts against the bytes left before allocating.
constexpr uint64_t parameterRecordBytes = 4 + 4 + 4 + 8 + 4 + 4;
constexpr uint64_t valueRecordBytes = 4;
constexpr uint64_t styleRecordBytes = 4 + 4 + 4 + 4;
constexpr uint64_t entryRecordBytes = 16;
constexpr uint64_t bindingRecordBytes = 16;

uint32_t NormalizeParameterType(uint32_t type)
{
    if (type == GraphicsShader2::TYPE_FLOAT3_ALIAS)
        return GraphicsShader2::TYPE_FLOAT3;
    if (type == GraphicsShader2::TYPE_FLOAT4_ALIAS)
        return GraphicsShader2::TYPE_FLOAT4;
    return type;
}

bool IsStageKind(uint32_t kind)
{
    switch (kind) {
    case GraphicsShader2::STATE_TEXTURE:
    case GraphicsShader2::STATE_STAGE_STATE_0:
    case GraphicsShader2::STATE_STAGE_STATE_1:
    case GraphicsShader2::STATE_STAGE_STATE_3:
    case GraphicsShader2::STATE_STAGE_STATE_4:
    case GraphicsShader2::STATE_STAGE_STATE_5:
        return true;
    default:
        return false;
    }
}

template <class T> T ReadElement(const std::vector<uint8_t>& storage, size_t offset = 0)
{
    T value{};
    if (offset + sizeof(T) <= storage.size())
        std::memcpy(&value, storage.data() + offset, sizeof(T));
    return value;
}

} // namespace

GraphicsShader2::GraphicsShader2(BaseResourceManager* manager, const std::string& fileName,
                                 GraphicsEngine* graphics)
    : Resource(manager, fileName), m_graphics(graphics)
{
    m_parameterMap.rehash(100);
}

GraphicsShader2::~GraphicsShader2()
{
    Unload();
}

uint32_t GraphicsShader2::GetElementSize(uint32_t type)
{
    switch (type) {
    case TYPE_INT:
        return 4;
    case TYPE_BOOL:
        return 1;
    case TYPE_FLOAT4X3:
        return 48;
    case TYPE_FLOAT4X4:
        return 64;
    case TYPE_VERTEX_SHADER:
    case TYPE_PIXEL_SHADER:
    case TYPE_DEVICE_TEXTURE:
    case TYPE_TEXTURE:
        return sizeof(void*);
    case TYPE_FLOAT2:
    case TYPE_FLOAT3:
    case TYPE_FLOAT:
    case TYPE_FLOAT4:
        return 16; // one constant register
    default:
        return 0; // strings and types without storage
    }
}

// ---------------------------------------------------------------------------------------------
// Loading

Resource::InitResult GraphicsShader2::Initialize(const void* data, int size)
{
    Destroy();
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    if (!device || !data || size < 4) {
        LogPrintf(1, "Shader '%s' is not a shader file", GetFileName());
        return INIT_INVALID_DATA;
    }
    BinaryReader reader(data, static_cast<unsigned>(size));
    char magic[3];
    reader.ReadBytes(magic, 3);
    const uint8_t version = reader.ReadUInt8();
    if (std::memcmp(magic, "SSH", 3) != 0 || version != fileVersion) {
        LogPrintf(1, "Shader '%s' is not a shader file of version %u", GetFileName(), fileVersion);
        return INIT_INVALID_DATA;
    }

    const std::string generation = m_graphics->GetGenerationName();
    bool found = false;
    bool read = false;
    while (!reader.AtEnd() && !reader.Failed()) {
        std::string name;
        if (!reader.ReadString(name))
            break;
        const uint32_t sectionSize = reader.ReadUInt32();
        if (reader.Failed() || sectionSize > reader.GetRemaining()) {
            reader.Fail();
            break;
        }
        if (name == generation) {
            // Exactly one section is read.
            BinaryReader section(reader.GetCursor(), sectionSize);
            found = true;
            read = ReadSection(section) && CheckIndices();
            break;
        }
        reader.Skip(sectionSize);
    }
    if (!found) {
        LogPrintf(1, "Shader '%s' has no section for the %s generation%s", GetFileName(), generation.c_str(),
                  reader.Failed() ? " (the file is damaged)" : "");
        Destroy();
        return INIT_INVALID_DATA;
    }
    if (!read) {
        LogPrintf(1, "Shader '%s' has a bad %s section", GetFileName(), generation.c_str());
        Destroy();
        return INIT_INVALID_DATA;
    }
    m_beginLevel = 0;
    m_currentStyle = 0;
    m_styleDirty = m_vertexShaderDirty = m_pixelShaderDirty = true;
    m_updateStamp = 0;
    return INIT_SUCCESS;
}

bool GraphicsShader2::ReadSection(BinaryReader& section)
{
    while (!section.AtEnd()) {
        const uint32_t type = section.ReadUInt32();
        const uint32_t chunkSize = section.ReadUInt32();
        if (section.Failed() || chunkSize > section.GetRemaining())
            return false;
        if (type > 2) {
            section.Skip(chunkSize);
            continue;
        }
        // The three known chunks are consumed by their contents, which must stay inside the
        // chunk's announced size.
        BinaryReader chunk(section.GetCursor(), chunkSize);
        const bool ok =
            type == 0 ? ReadParameters(chunk) : (type == 1 ? ReadValues(chunk) : ReadStyles(chunk));
        if (!ok || chunk.Failed())
            return false;
        section.Skip(chunk.GetPosition());
    }
    return !section.Failed();
}

bool GraphicsShader2::ReadParameters(BinaryReader& chunk)
{
    const uint32_t count = chunk.ReadUInt32();
    if (count > maxRecords || !chunk.CheckCount(count, parameterRecordBytes, "shader parameters"))
        return false;
    m_parameters.reserve(m_parameters.size() + count);
    for (uint32_t i = 0; i < count; ++i) {
        Parameter parameter;
        if (!chunk.ReadString(parameter.text))
            return false;
        parameter.name = Name::Create(parameter.text.c_str());
        parameter.value.type = NormalizeParameterType(chunk.ReadUInt32());
        parameter.value.count = chunk.ReadUInt32();
        chunk.Skip(8);
        const bool hasDefault = chunk.ReadUInt32() != 0;
        const uint32_t defaultIndex = chunk.ReadUInt32();
        if (chunk.Failed())
            return false;
        if (parameter.value.count > maxElements) {
            LogPrintf(1, "Shader '%s': parameter '%s' has %u elements", GetFileName(), parameter.text.c_str(),
                      parameter.value.count);
            return false;
        }
        // Checked against the values once the whole section is in.
        parameter.defaultIndex =
            hasDefault ? static_cast<int>(std::min<uint32_t>(defaultIndex, INT32_MAX)) : -1;
        parameter.value.storage.assign(size_t(parameter.value.count) * GetElementSize(parameter.value.type),
                                       0);
        m_parameterMap[parameter.name] = static_cast<uint32_t>(m_parameters.size());
        m_parameters.push_back(std::move(parameter));
    }
    return true;
}

bool GraphicsShader2::ReadValues(BinaryReader& chunk)
{
    const uint32_t count = chunk.ReadUInt32();
    if (count > maxRecords || !chunk.CheckCount(count, valueRecordBytes, "shader values"))
        return false;
    m_values.reserve(m_values.size() + count);
    for (uint32_t i = 0; i < count; ++i) {
        Value value;
        if (!ReadValue(chunk, value))
            return false;
        m_values.push_back(std::move(value));
    }
    return true;
}

bool GraphicsShader2::ReadValue(BinaryReader& chunk, Value& value)
{
    uint32_t type = NormalizeParameterType(chunk.ReadUInt32());
    if (type == TYPE_DEVICE_TEXTURE)
        type = TYPE_TEXTURE; // a device texture in a file is a texture file
    value.type = type;
    value.count = 1;
    value.numSet = 1;
    value.storage.assign(GetElementSize(type), 0);
    switch (type) {
    case TYPE_INT: {
        const int32_t v = chunk.ReadInt32();
        std::memcpy(value.storage.data(), &v, 4);
        break;
    }
    case TYPE_BOOL:
        value.storage[0] = chunk.ReadUInt32() != 0 ? 1 : 0;
        break;
    case TYPE_STRING: {
        std::string dropped;
        if (!chunk.ReadString(dropped))
            return false;
        break;
    }
    case TYPE_FLOAT2:
    case TYPE_FLOAT3:
    case TYPE_FLOAT:
    case TYPE_FLOAT4: {
        const int floats = type == TYPE_FLOAT2 ? 2 : (type == TYPE_FLOAT3 ? 3 : (type == TYPE_FLOAT ? 1 : 4));
        for (int f = 0; f < floats; ++f) {
            const float v = chunk.ReadFloat();
            std::memcpy(value.storage.data() + f * 4, &v, 4);
        }
        break;
    }
    case TYPE_TEXTURE: {
        std::string fileName;
        if (!chunk.ReadString(fileName))
            return false;
        GraphicsTexture* texture = m_graphics->LoadTexture(fileName);
        if (texture)
            m_textures.push_back(texture);
        std::memcpy(value.storage.data(), &texture, sizeof(texture));
        break;
    }
    case TYPE_VERTEX_SHADER:
    case TYPE_PIXEL_SHADER: {
        const uint32_t bindingCount = chunk.ReadUInt32();
        if (!chunk.CheckCount(bindingCount, bindingRecordBytes, "shader constant bindings"))
            return false;
        auto program = std::make_unique<Program>();
        program->bindings.resize(bindingCount);
        for (Binding& binding : program->bindings) {
            binding.firstRegister = chunk.ReadUInt32();
            binding.registerCount = chunk.ReadUInt32();
            binding.fromValues = chunk.ReadUInt32() != 0;
            binding.index = chunk.ReadUInt32();
        }
        const uint32_t codeSize = chunk.ReadUInt32();
        if (chunk.Failed() || codeSize == 0 || !chunk.CheckCount(codeSize, 1, "shader program code"))
            return false;
        const uint8_t* code = chunk.GetCursor();
        chunk.Skip(codeSize);
        RenderDevice* device = m_graphics->GetRenderDevice();
        if (type == TYPE_VERTEX_SHADER)
            program->vertexShader = device->CreateVertexShader(code, codeSize);
        else
            program->pixelShader = device->CreatePixelShader(code, codeSize);
        if (!program->vertexShader && !program->pixelShader) {
            LogPrintf(1, "Shader '%s': the device refused a %s program", GetFileName(),
                      type == TYPE_VERTEX_SHADER ? "vertex" : "pixel");
            return false;
        }
        Program* raw = program.get();
        m_programs.push_back(std::move(program));
        std::memcpy(value.storage.data(), &raw, sizeof(raw));
        break;
    }
    case TYPE_FLOAT4X3:
    case TYPE_FLOAT4X4:
        break; // no data; the value stays zero
    default:
        LogPrintf(1, "Shader '%s' has a value of unknown type %u", GetFileName(), type);
        return false;
    }
    return !chunk.Failed();
}

bool GraphicsShader2::ReadStyles(BinaryReader& chunk)
{
    const uint32_t count = chunk.ReadUInt32();
    if (count > maxRecords || !chunk.CheckCount(count, styleRecordBytes, "shader styles"))
        return false;
    m_styles.reserve(m_styles.size() + count);
    for (uint32_t i = 0; i < count; ++i) {
        Style style;
        std::string text;
        if (!chunk.ReadString(text))
            return false;
        style.name = Name::Create(text.c_str());
        style.sortOrder = chunk.ReadInt32();
        if (chunk.ReadUInt32() != 1) {
            LogPrintf(1, "Shader '%s': style '%s' is malformed", GetFileName(), text.c_str());
            return false;
        }
        const uint32_t entries = chunk.ReadUInt32();
        if (!chunk.CheckCount(entries, entryRecordBytes, "shader state entries"))
            return false;
        style.entries.resize(entries);
        for (StateEntry& entry : style.entries) {
            entry.kind = chunk.ReadUInt32();
            entry.argument = chunk.ReadUInt32();
            entry.fromValues = chunk.ReadUInt32() != 0;
            entry.index = chunk.ReadUInt32();
        }
        if (chunk.Failed())
            return false;
        m_styles.push_back(std::move(style));
    }
    return true;
}

bool GraphicsShader2::IsValidIndex(bool fromValues, uint32_t index) const
{
    return fromValues ? index < m_values.size() : index < m_parameters.size();
}

bool GraphicsShader2::CheckIndices() const
{
    for (const Parameter& parameter : m_parameters)
        if (parameter.defaultIndex >= 0 && static_cast<size_t>(parameter.defaultIndex) >= m_values.size()) {
            LogPrintf(1, "Shader '%s': parameter '%s' has no default value %d", GetFileName(),
                      parameter.text.c_str(), parameter.defaultIndex);
            return false;
        }
    for (const std::unique_ptr<Program>& program : m_programs)
        for (const Binding& binding : program->bindings)
            if (!IsValidIndex(binding.fromValues, binding.index) ||
                binding.firstRegister >= maxConstantRegisters ||
                binding.registerCount > maxConstantRegisters - binding.firstRegister) {
                LogPrintf(1, "Shader '%s' binds registers %u (+%u) to a missing value", GetFileName(),
                          binding.firstRegister, binding.registerCount);
                return false;
            }
    for (const Style& style : m_styles)
        for (const StateEntry& entry : style.entries)
            if (!IsValidIndex(entry.fromValues, entry.index) ||
                (IsStageKind(entry.kind) && entry.argument >= maxTextureStages)) {
                LogPrintf(1, "Shader '%s' has a state of kind %u with a missing value or stage",
                          GetFileName(), entry.kind);
                return false;
            }
    return true;
}

void GraphicsShader2::Destroy()
{
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    for (std::unique_ptr<Program>& program : m_programs) {
        if (device && program->vertexShader)
            device->DestroyVertexShader(&program->vertexShader);
        if (device && program->pixelShader)
            device->DestroyPixelShader(&program->pixelShader);
    }
    m_programs.clear();
    if (m_graphics)
        for (GraphicsTexture* texture : m_textures)
            m_graphics->UnloadTexture(texture);
    m_textures.clear();
    m_values.clear();
    m_parameters.clear();
    m_parameterMap.clear();
    m_styles.clear();
    m_beginLevel = 0;
    m_currentStyle = 0;
}

void GraphicsShader2::PreLoadDependentResources()
{
    for (GraphicsTexture* texture : m_textures)
        if (ResourceLoader* loader = texture->GetResourceLoader())
            loader->EnqueueResource(texture, RESOURCE_PRIORITY_HIGH, false);
}

bool GraphicsShader2::GetIsReadyToUse()
{
    if (GetLoadedState() != LOAD_STATE_LOADED)
        return false;
    MarkAsUsed();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Styles and parameters

int GraphicsShader2::FindStyleByName(const Name& name) const
{
    for (size_t i = 0; i < m_styles.size(); ++i)
        if (m_styles[i].name == name)
            return static_cast<int>(i);
    return noStyle;
}

int GraphicsShader2::GetSortOrder(int style) const
{
    return style >= 0 && style < GetNumStyles() ? m_styles[style].sortOrder : 0;
}

bool GraphicsShader2::HasParameter(const Name& name) const
{
    return m_parameterMap.find(name) != m_parameterMap.end();
}

GraphicsShader2::Parameter* GraphicsShader2::Prepare(const Name& name, uint32_t type, uint32_t element,
                                                     bool& result)
{
    auto it = m_parameterMap.find(name);
    if (it == m_parameterMap.end()) {
        result = true;
        return nullptr;
    }
    Parameter& parameter = m_parameters[it->second];
    if ((parameter.level != 0 && parameter.level != m_beginLevel) || parameter.value.type != type ||
        element >= parameter.value.count) {
        result = false;
        return nullptr;
    }
    result = true;
    return &parameter;
}

bool GraphicsShader2::Store(const Name& name, uint32_t type, uint32_t element, const void* data,
                            uint32_t bytes)
{
    bool result = false;
    Parameter* parameter = Prepare(name, type, element, result);
    if (!parameter)
        return result;
    const uint32_t size = GetElementSize(type);
    std::memcpy(parameter->value.storage.data() + size_t(element) * size, data, std::min(bytes, size));
    parameter->value.numSet = std::max(parameter->value.numSet, element + 1);
    parameter->level = m_beginLevel;
    parameter->stamp = m_updateStamp;
    return true;
}

bool GraphicsShader2::SetInt(const Name& name, uint32_t element, int value)
{
    const int32_t v = value;
    return Store(name, TYPE_INT, element, &v, 4);
}

bool GraphicsShader2::SetFloat(const Name& name, uint32_t element, float value)
{
    return Store(name, TYPE_FLOAT, element, &value, 4);
}

bool GraphicsShader2::SetFloat2(const Name& name, uint32_t element, const float* value)
{
    return value && Store(name, TYPE_FLOAT2, element, value, 8);
}

bool GraphicsShader2::SetFloat2(const Name& name, uint32_t element, const Vec2& value)
{
    const float v[2] = {value.x, value.y};
    return SetFloat2(name, element, v);
}

bool GraphicsShader2::SetFloat3(const Name& name, uint32_t element, const float* value)
{
    return value && Store(name, TYPE_FLOAT3, element, value, 12);
}

bool GraphicsShader2::SetFloat3(const Name& name, uint32_t element, const Vec3& value)
{
    const float v[3] = {value.x, value.y, value.z};
    return SetFloat3(name, element, v);
}

bool GraphicsShader2::SetFloat3(const Name& name, uint32_t element, const Color& value)
{
    const float v[3] = {value.r, value.g, value.b};
    return SetFloat3(name, element, v);
}

bool GraphicsShader2::SetFloat4(const Name& name, uint32_t element, const float* value)
{
    return value && Store(name, TYPE_FLOAT4, element, value, 16);
}

bool GraphicsShader2::SetFloat4x3(const Name& name, uint32_t element, const float* value)
{
    return value && Store(name, TYPE_FLOAT4X3, element, value, 48);
}

bool GraphicsShader2::SetFloat4x3(const Name& name, uint32_t element, const Coords& value)
{
    const Vec3* rows[4] = {&value.xAxis, &value.yAxis, &value.zAxis, &value.origin};
    float v[12];
    for (int column = 0; column < 4; ++column) {
        v[column] = rows[column]->x;
        v[4 + column] = rows[column]->y;
        v[8 + column] = rows[column]->z;
    }
    return SetFloat4x3(name, element, v);
}

bool GraphicsShader2::SetFloat4x4(const Name& name, uint32_t element, const float* value)
{
    return value && Store(name, TYPE_FLOAT4X4, element, value, 64);
}

bool GraphicsShader2::SetFloat4x4(const Name& name, uint32_t element, const Mat4& value)
{
    return SetFloat4x4(name, element, value.m);
}

bool GraphicsShader2::SetTexture(const Name& name, uint32_t element, const RenderTexture* value)
{
    return Store(name, TYPE_DEVICE_TEXTURE, element, &value, sizeof(value));
}

// ---------------------------------------------------------------------------------------------
// Drawing

void GraphicsShader2::Begin()
{
    ++m_beginLevel;
}

bool GraphicsShader2::Begin(int style)
{
    if (style < 0 || style >= GetNumStyles())
        return false;
    m_currentStyle = style;
    m_styleDirty = true;
    m_vertexShaderDirty = false;
    m_pixelShaderDirty = false;
    ++m_beginLevel;
    return true;
}

GraphicsShader2::Lookup GraphicsShader2::Find(bool fromValues, uint32_t index) const
{
    Lookup lookup;
    if (fromValues) {
        lookup.value = &m_values[index];
        lookup.changed = m_styleDirty;
        return lookup;
    }
    const Parameter& parameter = m_parameters[index];
    if (parameter.value.numSet > 0) {
        lookup.value = &parameter.value;
        lookup.changed = parameter.stamp == m_updateStamp;
    } else if (parameter.defaultIndex >= 0) {
        lookup.value = &m_values[parameter.defaultIndex];
        lookup.changed = m_styleDirty;
    } else {
        lookup.restoreAlways = true;
    }
    return lookup;
}

namespace {

// A value as one state word: ints as they are, bools 0 or 1, floats rounded. False for values
// that are no number (programs, textures, matrices, strings).
bool GetWord(uint32_t type, const std::vector<uint8_t>& storage, uint32_t& word)
{
    switch (type) {
    case GraphicsShader2::TYPE_INT:
        word = ReadElement<uint32_t>(storage);
        return true;
    case GraphicsShader2::TYPE_BOOL:
        word = ReadElement<uint8_t>(storage) ? 1u : 0u;
        return true;
    case GraphicsShader2::TYPE_FLOAT: {
        const float f = ReadElement<float>(storage);
        word = std::isfinite(f) ? static_cast<uint32_t>(static_cast<int64_t>(std::lround(f))) : 0u;
        return true;
    }
    default:
        return false;
    }
}

} // namespace

bool GraphicsShader2::GetStyleConstantState(int style, uint32_t kind, uint32_t& word) const
{
    if (style < 0 || style >= GetNumStyles())
        return false;
    for (const StateEntry& entry : m_styles[static_cast<size_t>(style)].entries)
        if (entry.kind == kind && entry.fromValues && entry.index < m_values.size())
            return GetWord(m_values[entry.index].type, m_values[entry.index].storage, word);
    return false;
}

void GraphicsShader2::Apply(RenderDevice& device, const StateEntry& entry, const Value* value)
{
    const uint32_t type = value->type;
    const std::vector<uint8_t>& storage = value->storage;
    uint32_t word = 0;
    switch (entry.kind) {
    case STATE_TEXTURE:
        if (type == TYPE_DEVICE_TEXTURE) {
            device.SetTexture(static_cast<int>(entry.argument), ReadElement<const RenderTexture*>(storage));
        } else if (type == TYPE_TEXTURE) {
            GraphicsTexture* texture = ReadElement<GraphicsTexture*>(storage);
            device.SetTexture(static_cast<int>(entry.argument), texture ? texture->GetTexture() : nullptr);
        } else {
            Restore(device, entry);
        }
        return;
    case STATE_VERTEX_SHADER:
        if (type == TYPE_VERTEX_SHADER) {
            const Program* program = ReadElement<const Program*>(storage);
            device.SetVertexShader(program ? program->vertexShader : nullptr);
            m_vertexShaderDirty = true;
        } else {
            Restore(device, entry);
        }
        return;
    case STATE_PIXEL_SHADER:
        if (type == TYPE_PIXEL_SHADER) {
            const Program* program = ReadElement<const Program*>(storage);
            device.SetPixelShader(program ? program->pixelShader : nullptr);
            m_pixelShaderDirty = true;
        } else {
            Restore(device, entry);
        }
        return;
    case STATE_ALPHA_REFERENCE:
        if (type == TYPE_FLOAT || type == TYPE_FLOAT2 || type == TYPE_FLOAT3 || type == TYPE_FLOAT4)
            device.SetAlphaReference(ReadElement<float>(storage));
        else if (GetWord(type, storage, word))
            device.SetAlphaReference(static_cast<float>(word & 0xFFu) / 255.0f);
        else
            Restore(device, entry);
        return;
    case STATE_22:
        if (type == TYPE_FLOAT || type == TYPE_FLOAT2 || type == TYPE_FLOAT3 || type == TYPE_FLOAT4 ||
            type == TYPE_FLOAT4X3 || type == TYPE_FLOAT4X4) {
            device.SetShaderState22(Vec4(ReadElement<float>(storage, 0), ReadElement<float>(storage, 4),
                                         ReadElement<float>(storage, 8), ReadElement<float>(storage, 12)));
        } else if (GetWord(type, storage, word)) {
            const float f = static_cast<float>(word);
            device.SetShaderState22(Vec4(f, f, f, f));
        } else {
            Restore(device, entry);
        }
        return;
    default:
        break;
    }
    if (!GetWord(type, storage, word)) {
        Restore(device, entry);
        return;
    }
    const int stage = static_cast<int>(entry.argument);
    switch (entry.kind) {
    case STATE_SOURCE_BLEND:
        device.SetSourceBlend(static_cast<RenderBlendFactor>(word));
        break;
    case STATE_DESTINATION_BLEND:
        device.SetDestinationBlend(static_cast<RenderBlendFactor>(word));
        break;
    case STATE_DEPTH_TEST:
        device.SetDepthTestFunction(static_cast<RenderTestFunction>(word));
        break;
    case STATE_ALPHA_TEST:
        device.SetAlphaTestFunction(static_cast<RenderTestFunction>(word));
        break;
    case STATE_COLOR_WRITE:
        device.SetColorWriteMode(static_cast<RenderWriteMode>(word));
        break;
    case STATE_DEPTH_WRITE:
        device.SetDepthWriteMode(static_cast<RenderWriteMode>(word));
        break;
    case STATE_STAGE_STATE_0:
        device.SetTextureStageState(stage, 0, word);
        break;
    case STATE_STAGE_STATE_1:
        device.SetTextureStageState(stage, 1, word);
        break;
    case STATE_STAGE_STATE_3:
        device.SetTextureStageState(stage, 3, word);
        break;
    case STATE_STAGE_STATE_4:
        device.SetTextureStageState(stage, 4, word);
        break;
    case STATE_STAGE_STATE_5:
        device.SetTextureStageState(stage, 5, word);
        break;
    case STATE_18:
        device.SetShaderState18(word);
        break;
    case STATE_ALPHA_WRITE:
        device.SetAlphaWriteMode(static_cast<RenderWriteMode>(word));
        break;
    case STATE_20:
        device.SetShaderState20(word);
        break;
    case STATE_21:
        device.SetShaderState21(word);
        break;
    case STATE_23:
        device.SetShaderState23(word);
        break;
    default:
        break; // kinds 12 to 14 and above 23 do nothing
    }
}

void GraphicsShader2::Restore(RenderDevice& device, const StateEntry& entry)
{
    const int stage = static_cast<int>(entry.argument);
    switch (entry.kind) {
    case STATE_TEXTURE:
        device.SetTexture(stage, nullptr);
        break;
    case STATE_VERTEX_SHADER:
        device.SetVertexShader(nullptr);
        break;
    case STATE_PIXEL_SHADER:
        device.SetPixelShader(nullptr);
        break;
    case STATE_SOURCE_BLEND:
        device.SetSourceBlend(RENDER_BLEND_ONE);
        break;
    case STATE_DESTINATION_BLEND:
        device.SetDestinationBlend(RENDER_BLEND_ZERO);
        break;
    case STATE_DEPTH_TEST:
        device.SetDepthTestFunction(RENDER_TEST_LESS_EQUAL);
        break;
    case STATE_ALPHA_TEST:
        device.SetAlphaTestFunction(RENDER_TEST_ALWAYS);
        break;
    case STATE_ALPHA_REFERENCE:
        device.SetAlphaReference(0.0f);
        break;
    case STATE_COLOR_WRITE:
        device.SetColorWriteMode(RENDER_WRITE_ENABLED);
        break;
    case STATE_DEPTH_WRITE:
        device.SetDepthWriteMode(RENDER_WRITE_ENABLED);
        break;
    case STATE_STAGE_STATE_0:
        device.SetTextureStageState(stage, 0, 0);
        break;
    case STATE_STAGE_STATE_1:
        device.SetTextureStageState(stage, 1, 0);
        break;
    case STATE_18:
        device.SetShaderState18(0);
        break;
    case STATE_ALPHA_WRITE:
        device.SetAlphaWriteMode(RENDER_WRITE_ENABLED);
        break;
    case STATE_20:
        device.SetShaderState20(0);
        break;
    case STATE_21:
        device.SetShaderState21(0);
        break;
    case STATE_22:
        device.SetShaderState22(Vec4(1.0f, 1.0f, 1.0f, 1.0f));
        break;
    case STATE_23:
        device.SetShaderState23(0);
        break;
    default:
        break; // stage states 3 to 5 and the kinds that do nothing keep their state
    }
}

void GraphicsShader2::PushConstants(RenderDevice& device, const Program& program, bool vertex, bool all)
{
    for (const Binding& binding : program.bindings) {
        const Lookup lookup = Find(binding.fromValues, binding.index);
        if (!lookup.value || (!all && !lookup.changed))
            continue;
        const Value& value = *lookup.value;
        uint64_t registers = 0;
        switch (value.type) {
        case TYPE_FLOAT2:
        case TYPE_FLOAT3:
        case TYPE_FLOAT:
        case TYPE_FLOAT4:
            registers = value.count;
            break;
        case TYPE_FLOAT4X3:
            registers = uint64_t(value.count) * 3;
            break;
        case TYPE_FLOAT4X4:
            registers = uint64_t(value.count) * 4;
            break;
        default:
            continue; // no constant registers of this type
        }
        const unsigned int count =
            static_cast<unsigned int>(std::min<uint64_t>(registers, binding.registerCount));
        if (count == 0)
            continue;
        const auto* data = reinterpret_cast<const float*>(value.storage.data());
        if (vertex)
            device.SetVertexShaderConstants(binding.firstRegister, data, count);
        else
            device.SetPixelShaderConstants(binding.firstRegister, data, count);
    }
}

void GraphicsShader2::Render(const char*)
{
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    if (!device || m_currentStyle < 0 || m_currentStyle >= GetNumStyles())
        return;
    for (const StateEntry& entry : m_styles[m_currentStyle].entries) {
        const Lookup lookup = Find(entry.fromValues, entry.index);
        if (!lookup.value) {
            Restore(*device, entry);
            continue;
        }
        if (lookup.changed)
            Apply(*device, entry, lookup.value);
        const bool vertex = entry.kind == STATE_VERTEX_SHADER && lookup.value->type == TYPE_VERTEX_SHADER;
        const bool pixel = entry.kind == STATE_PIXEL_SHADER && lookup.value->type == TYPE_PIXEL_SHADER;
        if (vertex || pixel)
            if (const Program* program = ReadElement<const Program*>(lookup.value->storage))
                PushConstants(*device, *program, vertex, vertex ? m_vertexShaderDirty : m_pixelShaderDirty);
    }
    ++m_updateStamp;
    m_styleDirty = m_vertexShaderDirty = m_pixelShaderDirty = false;
}

void GraphicsShader2::End()
{
    if (m_beginLevel <= 0) {
        LogPrintf(1, "Shader '%s': End without Begin", GetFileName());
        return;
    }
    for (Parameter& parameter : m_parameters)
        if (parameter.level == m_beginLevel) {
            parameter.value.numSet = 0;
            parameter.level = 0;
            parameter.stamp = m_updateStamp;
        }
    --m_beginLevel;
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    if (m_beginLevel == 0 && device && m_currentStyle >= 0 && m_currentStyle < GetNumStyles())
        for (const StateEntry& entry : m_styles[m_currentStyle].entries)
            Restore(*device, entry);
}

} // namespace GAME
