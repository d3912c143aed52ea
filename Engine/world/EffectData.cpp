#include "world/EffectData.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/File.h"
#include "platform/FatalError.h"
#include "world/EmitterData.h"
#include "world/PSEditorFileSystem.h"

#include <climits>
#include <new>

namespace GAME {

namespace {

constexpr uint32_t kMaxNameLength = 0x100000;

class ResourceFactory : public EffectResource::EffectDataFactory
{
public:
    EffectData* CreateEffectData(const void* data, int size) override
    {
        EffectData* effectData = new (std::nothrow) EffectData;
        if (effectData)
            effectData->BufferLoad(data, size);
        return effectData;
    }
    void DeleteEffectData(EffectData* effectData) override { delete effectData; }
};

ResourceFactory g_resourceFactory;

} // namespace

EffectData::~EffectData()
{
    Clear();
}

void EffectData::Clear()
{
    for (EmitterData* emitter : m_emitters)
        delete emitter;
    m_emitters.clear();
    m_names.clear();
}

EffectResource::EffectDataFactory* EffectData::GetResourceFactory()
{
    return &g_resourceFactory;
}

bool EffectData::BufferLoad(const void* data, int size)
{
    Clear();
    BinaryReader reader(data, data && size > 0 ? static_cast<unsigned>(size) : 0u);
    const uint32_t version = reader.ReadUInt32();
    if (reader.Failed() || version != fileVersion) {
        LogPrintf(1, "LOAD_EFFECT:Wrong Version or Incompatible File.");
        return false;
    }
    while (!reader.AtEnd()) {
        EmitterData* emitter = new EmitterData;
        std::string name;
        const uint32_t length = reader.ReadUInt32();
        if (!reader.Failed() && length <= kMaxNameLength && length <= reader.GetRemaining()) {
            name.assign(reinterpret_cast<const char*>(reader.GetCursor()), length);
            reader.Skip(length);
        }
        if (reader.Failed() || !emitter->BinaryRead(reader) || reader.Failed()) {
            // Bytes that do not hold a whole entry make no emitter.
            LogPrintf(1, "LOAD_EFFECT:Emitter %d is cut short; the rest of the file is ignored.",
                      GetNumEmitters());
            delete emitter;
            return false;
        }
        m_emitters.push_back(emitter);
        m_names.push_back(std::move(name));
    }
    return true;
}

void EffectData::Write(std::vector<uint8_t>& bytes) const
{
    BinaryWriter writer(1024);
    writer.WriteUInt32(fileVersion);
    for (size_t i = 0; i < m_emitters.size(); ++i) {
        writer.WriteString(m_names[i]);
        m_emitters[i]->BinaryWrite(writer);
    }
    bytes.assign(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

bool EffectData::Load(const char* fileName, PSEditor::PSEditorFileSystem* fileSystem)
{
    File* file = fileSystem && fileName ? fileSystem->OpenFile(fileName, FILE_MODE_READ) : nullptr;
    if (!file) {
        const std::string text = FormatString("Could not open: %s  for loading.", fileName ? fileName : "");
        LogPrintf(1, "%s", text.c_str());
        Platform::ShowErrorMessage("ERROR", text);
        return false;
    }
    const unsigned length = file->GetLength();
    const void* bytes = length ? file->Lock() : nullptr;
    bool loaded = false;
    if (length == 0 || bytes) {
        loaded = BufferLoad(bytes, length <= INT_MAX ? static_cast<int>(length) : 0);
        if (bytes)
            file->Unlock();
    } else {
        LogPrintf(1, "Could not read: %s", fileName);
    }
    fileSystem->CloseFile(file);
    return loaded;
}

bool EffectData::Save(const char* fileName, PSEditor::PSEditorFileSystem* fileSystem) const
{
    std::vector<uint8_t> bytes;
    Write(bytes);
    File* file = fileSystem && fileName ? fileSystem->OpenFile(fileName, FILE_MODE_WRITE) : nullptr;
    if (!file) {
        const std::string text = FormatString("Could not open: %s  for saving.", fileName ? fileName : "");
        LogPrintf(1, "%s", text.c_str());
        Platform::ShowErrorMessage("ERROR", text);
        return false;
    }
    bool written = file->Write(0, bytes.data(), static_cast<unsigned>(bytes.size()));
    // The file on disk is replaced only as it closes.
    written = fileSystem->CloseFile(file) && written;
    if (!written)
        LogPrintf(1, "Could not write: %s", fileName);
    return written;
}

EmitterData* EffectData::GetEmitterData(int index)
{
    return index >= 0 && index < GetNumEmitters() ? m_emitters[static_cast<size_t>(index)] : nullptr;
}

const EmitterData* EffectData::GetEmitterData(int index) const
{
    return index >= 0 && index < GetNumEmitters() ? m_emitters[static_cast<size_t>(index)] : nullptr;
}

void EffectData::GetName(int index, std::string& name) const
{
    if (index >= 0 && index < GetNumEmitters())
        name = m_names[static_cast<size_t>(index)];
    else
        name.clear();
}

void EffectData::SetName(int index, const std::string& name)
{
    if (index >= 0 && index < GetNumEmitters())
        m_names[static_cast<size_t>(index)] = name;
}

void EffectData::AddEmitterData(EmitterData* emitterData)
{
    if (!emitterData)
        return;
    m_emitters.push_back(emitterData);
    m_names.push_back(newEmitterName);
}

EmitterData* EffectData::RemoveEmitterData(int index)
{
    if (index < 0 || index >= GetNumEmitters())
        return nullptr;
    EmitterData* removed = m_emitters[static_cast<size_t>(index)];
    m_emitters.erase(m_emitters.begin() + index);
    m_names.erase(m_names.begin() + index);
    return removed;
}

void EffectData::SetString(int emitter, int slot, const std::string& value)
{
    if (EmitterData* e = GetEmitterData(emitter))
        e->SetString(slot, value);
}

std::string EffectData::GetString(int emitter, int slot) const
{
    const EmitterData* e = GetEmitterData(emitter);
    return e ? e->GetString(slot) : std::string();
}

void EffectData::SetBoolean(int emitter, int slot, bool value)
{
    if (EmitterData* e = GetEmitterData(emitter))
        e->SetBoolean(slot, value);
}

bool EffectData::GetBoolean(int emitter, int slot) const
{
    const EmitterData* e = GetEmitterData(emitter);
    return e && e->GetBoolean(slot);
}

void EffectData::SetInteger(int emitter, int slot, int value)
{
    if (EmitterData* e = GetEmitterData(emitter))
        e->SetInteger(slot, value);
}

int EffectData::GetInteger(int emitter, int slot) const
{
    const EmitterData* e = GetEmitterData(emitter);
    return e ? e->GetInteger(slot) : 0;
}

void EffectData::SetFloat(int emitter, int slot, float value)
{
    if (EmitterData* e = GetEmitterData(emitter))
        e->SetFloat(slot, value);
}

float EffectData::GetFloat(int emitter, int slot) const
{
    const EmitterData* e = GetEmitterData(emitter);
    return e ? e->GetFloat(slot) : 0.0f;
}

void EffectData::SetLoop(int emitter, bool loop)
{
    if (EmitterData* e = GetEmitterData(emitter))
        e->SetLoop(loop);
}

bool EffectData::GetLoop(int emitter) const
{
    const EmitterData* e = GetEmitterData(emitter);
    return e && e->GetLoop();
}

void EffectData::ShaderLoad(int emitter, const char* shaderName)
{
    if (EmitterData* e = GetEmitterData(emitter))
        e->SetShaderName(shaderName ? shaderName : "");
}

void EffectData::ImageLoad(int emitter, const char* textureName)
{
    if (EmitterData* e = GetEmitterData(emitter))
        e->SetTextureName(textureName ? textureName : "");
}

} // namespace GAME
