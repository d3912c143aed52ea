#include "world/SectorDataManager.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "platform/FatalError.h"
#include "world/AmbientSectorData.h"
#include "world/BossSectorData.h"
#include "world/FogSectorData.h"
#include "world/NameSectorData.h"

#include <memory>

namespace GAME {

namespace {

// Versions the writer gives each kind, in kind order.
constexpr uint32_t kKindVersions[SectorDataManager::NUM_SECTOR_KINDS] = {1, 2, 2, 1};

SectorData* NewRecord(unsigned kind)
{
    switch (kind) {
    case SectorDataManager::SECTOR_FOG:
        return new FogSectorData;
    case SectorDataManager::SECTOR_NAME:
        return new NameSectorData;
    case SectorDataManager::SECTOR_AMBIENT:
        return new AmbientSectorData;
    case SectorDataManager::SECTOR_BOSS:
        return new BossSectorData;
    default:
        return nullptr;
    }
}

bool ReadOwnFields(SectorData& record, unsigned kind, BinaryReader& reader, unsigned kindVersion)
{
    switch (kind) {
    case SectorDataManager::SECTOR_FOG:
        return static_cast<FogSectorData&>(record).Read(reader, kindVersion);
    case SectorDataManager::SECTOR_NAME:
        return static_cast<NameSectorData&>(record).Read(reader, kindVersion);
    case SectorDataManager::SECTOR_AMBIENT:
        return static_cast<AmbientSectorData&>(record).Read(reader, kindVersion);
    default:
        return !reader.Failed();
    }
}

void WriteOwnFields(const SectorData& record, unsigned kind, BinaryWriter& writer)
{
    switch (kind) {
    case SectorDataManager::SECTOR_FOG:
        static_cast<const FogSectorData&>(record).Write(writer);
        break;
    case SectorDataManager::SECTOR_NAME:
        static_cast<const NameSectorData&>(record).Write(writer);
        break;
    case SectorDataManager::SECTOR_AMBIENT:
        static_cast<const AmbientSectorData&>(record).Write(writer);
        break;
    default:
        break;
    }
}

// Copies source into target when both are of the kind's class.
template <class T> bool AssignAs(SectorData& target, const SectorData& source)
{
    auto* to = dynamic_cast<T*>(&target);
    auto* from = dynamic_cast<const T*>(&source);
    if (!to || !from)
        return false;
    *to = *from;
    return true;
}

} // namespace

SectorDataManager::~SectorDataManager()
{
    Clear();
}

void SectorDataManager::Clear()
{
    for (auto& list : m_records) {
        for (SectorData* record : list)
            delete record;
        list.clear();
    }
}

bool SectorDataManager::Load(const char* fileName)
{
    FileSystem* files = EngineDataServices::Files();
    if (!files || !fileName)
        return false;
    File* file = files->OpenFile(fileName, FILE_MODE_READ);
    if (!file)
        return false;
    const unsigned length = file->GetLength();
    const void* bytes = length ? file->Lock(0, length) : nullptr;
    bool loaded = false;
    if (bytes || length == 0) {
        BinaryReader reader(bytes, length);
        loaded = Load(reader);
        if (bytes)
            file->Unlock();
    } else {
        LogPrintf(1, "Sector data: cannot read %s", fileName);
    }
    files->CloseFile(file);
    return loaded;
}

bool SectorDataManager::Load(BinaryReader& reader)
{
    std::vector<std::unique_ptr<SectorData>> read[NUM_SECTOR_KINDS];
    reader.ReadUInt32(); // file version: one layout so far
    const uint32_t numKinds = reader.ReadUInt32();
    for (unsigned kind = 0; kind < numKinds && kind < NUM_SECTOR_KINDS && !reader.Failed(); ++kind) {
        const uint32_t kindVersion = reader.ReadUInt32();
        const uint32_t count = reader.ReadUInt32();
        if (!reader.CheckCount(count, SectorData::kMinCommonSize, "sector data records"))
            break;
        read[kind].reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            std::unique_ptr<SectorData> record(NewRecord(kind));
            if (!record->ReadCommon(reader) || !ReadOwnFields(*record, kind, reader, kindVersion)) {
                reader.Fail();
                break;
            }
            read[kind].push_back(std::move(record));
        }
    }
    if (reader.Failed()) {
        LogPrintf(1, "Sector data: the data is truncated or corrupt and was not loaded");
        return false;
    }
    for (unsigned kind = 0; kind < NUM_SECTOR_KINDS; ++kind)
        for (auto& record : read[kind])
            m_records[kind].push_back(record.release());
    m_modified = false;
    return true;
}

bool SectorDataManager::Save(const char* fileName) const
{
    FileSystem* files = EngineDataServices::Files();
    if (!files || !fileName)
        return false;
    BinaryWriter writer(1024);
    Save(writer);
    if (writer.Failed()) {
        LogPrintf(2, "Could not write %s", fileName);
        return false;
    }
    File* file = files->OpenFile(fileName, FILE_MODE_WRITE);
    if (!file) {
        const std::string text = FormatString("Could not write %s", fileName);
        LogPrintf(2, "%s", text.c_str());
        Platform::ShowErrorMessage("", text);
        return false;
    }
    bool written = file->Write(0, writer.GetBuffer(), writer.GetSize());
    written = files->CloseFile(file) && written;
    if (!written)
        LogPrintf(2, "Could not write %s", fileName);
    return written;
}

void SectorDataManager::Save(BinaryWriter& writer) const
{
    writer.WriteUInt32(1);
    writer.WriteUInt32(NUM_SECTOR_KINDS);
    for (unsigned kind = 0; kind < NUM_SECTOR_KINDS; ++kind) {
        writer.WriteUInt32(kKindVersions[kind]);
        writer.WriteUInt32(static_cast<uint32_t>(m_records[kind].size()));
        for (const SectorData* record : m_records[kind]) {
            record->WriteCommon(writer);
            WriteOwnFields(*record, kind, writer);
        }
    }
}

void SectorDataManager::NewSectorData(unsigned kind)
{
    if (SectorData* record = NewRecord(kind)) {
        m_records[kind].push_back(record);
        m_modified = true;
    }
}

void SectorDataManager::SetSectorData(unsigned kind, unsigned index, const SectorData& record)
{
    SectorData* target = GetSectorData(kind, index);
    if (!target)
        return;
    bool copied = false;
    switch (kind) {
    case SECTOR_FOG:
        copied = AssignAs<FogSectorData>(*target, record);
        break;
    case SECTOR_NAME:
        copied = AssignAs<NameSectorData>(*target, record);
        break;
    case SECTOR_AMBIENT:
        copied = AssignAs<AmbientSectorData>(*target, record);
        break;
    default:
        copied = AssignAs<BossSectorData>(*target, record);
        break;
    }
    if (!copied) {
        LogPrintf(1, "Sector data: a record of another kind cannot replace one of kind %u", kind);
        return;
    }
    m_modified = true;
}

void SectorDataManager::DeleteSectorData(unsigned kind, unsigned index)
{
    if (!GetSectorData(kind, index))
        return;
    delete m_records[kind][index];
    m_records[kind].erase(m_records[kind].begin() + index);
    m_modified = true;
}

SectorData* SectorDataManager::GetSectorData(unsigned kind, const UniqueId& id) const
{
    if (kind >= NUM_SECTOR_KINDS)
        return nullptr;
    for (SectorData* record : m_records[kind])
        if (record->GetId() == id)
            return record;
    return nullptr;
}

SectorData* SectorDataManager::GetSectorData(unsigned kind, unsigned index) const
{
    if (kind >= NUM_SECTOR_KINDS || index >= m_records[kind].size())
        return nullptr;
    return m_records[kind][index];
}

unsigned SectorDataManager::GetNumSectorData(unsigned kind) const
{
    return kind < NUM_SECTOR_KINDS ? static_cast<unsigned>(m_records[kind].size()) : 0;
}

bool SectorDataManager::IsValidSectorValue(unsigned kind, const UniqueId& id) const
{
    return GetSectorData(kind, id) != nullptr;
}

Color SectorDataManager::GetRenderColorAlpha(unsigned kind, const UniqueId& id) const
{
    const SectorData* record = GetSectorData(kind, id);
    return record ? record->GetRenderColorAlpha() : Color(0.0f, 0.0f, 0.0f, 0.0f);
}

Color SectorDataManager::GetRenderColorOmega(unsigned kind, const UniqueId& id) const
{
    const SectorData* record = GetSectorData(kind, id);
    return record ? record->GetRenderColorOmega() : Color(0.0f, 0.0f, 0.0f, 0.0f);
}

} // namespace GAME
