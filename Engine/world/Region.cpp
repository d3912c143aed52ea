#include "world/Region.h"

#include "core/Event.h"
#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "core/RegionServices.h"
#include "core/Sphere.h"
#include "core/Thread.h"
#include "core/UniqueId.h"
#include "core/WorldCoords.h"
#include "core/WorldFrustum.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "data/EngineDataServices.h"
#include "data/File.h"
#include "data/FileSystem.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/Image.h"
#include "graphics/RenderDevice.h"
#include "navigation/FogOfWar.h"
#include "navigation/PhysicsEngine.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkEntityList.h"
#include "platform/FatalError.h"
#include "platform/PlatformFile.h"
#include "platform/Threading.h"
#include "terrain/GridRegion.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/MapImage.h"
#include "world/Portal.h"
#include "world/World.h"
#include "world/WorldServices.h"
#include "world/ZoneManager.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

namespace GAME {

// ---- Threads ------------------------------------------------------------------------------------

// What a load for clients' views writes on its thread, kept until the main thread writes it
// (PostLoadLevel): at most maxLines of it, the rest counted.
class Region::KeptLines final : public LogGate
{
public:
    static constexpr size_t maxLines = 64;

    bool Admit(int priority, unsigned int category, const char* text) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_lines.size() < maxLines)
            m_lines.push_back({priority, category, text});
        else
            ++m_more;
        m_waiting.store(true, std::memory_order_release);
        return false;
    }
    bool IsWaiting() const { return m_waiting.load(std::memory_order_acquire); }
    // Writes what was kept on the calling thread, through the gate it has.
    void Write(const std::string& regionName)
    {
        std::vector<Line> lines;
        size_t more = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            lines.swap(m_lines);
            std::swap(more, m_more);
            m_waiting.store(false, std::memory_order_relaxed);
        }
        for (const Line& line : lines)
            LogText(line.priority, line.category, line.text.c_str());
        if (more > 0)
            LogPrintf(1, "Region %s: %zu more lines of its level's load were not kept", regionName.c_str(),
                      more);
    }

private:
    struct Line
    {
        int priority;
        unsigned int category;
        std::string text;
    };
    std::mutex m_lock;
    std::vector<Line> m_lines;
    size_t m_more = 0;
    std::atomic<bool> m_waiting{false};
};

class Region::LoadingThread : public Thread
{
public:
    explicit LoadingThread(Region& region) : m_region(region) {}
    void Run() override
    {
        SetThreadName("Level Loading Thread");
        // A load for clients' views leaves its lines to the main thread, where the server's cap is.
        const bool keep = keepLines.load();
        LogGate* previous = keep ? SetThreadLogGate(m_region.m_keptLines) : nullptr;
        m_region.InternalLoadLevel(renderData.load());
        if (keep)
            SetThreadLogGate(previous);
    }

    std::atomic<bool> renderData{true};
    // Set, with the region's kept lines made, by the main thread before Start.
    std::atomic<bool> keepLines{false};

private:
    Region& m_region;
};

class Region::FogSavingThread : public Thread
{
public:
    explicit FogSavingThread(Region& region) : m_region(region) {}
    void Run() override
    {
        SetThreadName("FOW Saving Thread");
        {
            CriticalSectionLock lock(m_region.m_fogLock);
            fog->Write(fileName);
        }
        delete fog;
        fog = nullptr;
        m_region.m_fogSaving.store(false, std::memory_order_release);
    }

    // Handed over by the main thread before Start; the thread owns it while it runs.
    FogOfWar* fog = nullptr;
    std::string fileName;

private:
    Region& m_region;
};

namespace {

// Installs a gate for the lines logged on this thread while it lives (none for null).
class ThreadGateScope
{
public:
    explicit ThreadGateScope(LogGate* gate) : m_gate(gate)
    {
        if (m_gate)
            m_previous = SetThreadLogGate(m_gate);
    }
    ~ThreadGateScope()
    {
        if (m_gate)
            SetThreadLogGate(m_previous);
    }
    ThreadGateScope(const ThreadGateScope&) = delete;
    ThreadGateScope& operator=(const ThreadGateScope&) = delete;

private:
    LogGate* m_gate;
    LogGate* m_previous = nullptr;
};

// While it lives, keeps the last warning logged on this thread (why a level's load failed) and
// hands every line on to the gate it replaced.
class LastWarningScope final : public LogGate
{
public:
    LastWarningScope() : m_previous(SetThreadLogGate(this)) {}
    ~LastWarningScope() override { SetThreadLogGate(m_previous); }
    LastWarningScope(const LastWarningScope&) = delete;
    LastWarningScope& operator=(const LastWarningScope&) = delete;
    bool Admit(int priority, unsigned int category, const char* text) override
    {
        if (priority >= 1)
            last = text;
        return !m_previous || m_previous->Admit(priority, category, text);
    }

    std::string last;

private:
    LogGate* m_previous;
};

// Whole units of a float extent, kept within int.
int ExtentUnits(float extent)
{
    const double units = 2.0 * static_cast<double>(extent);
    if (!(units > 0.0))
        return 0;
    return units >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(units);
}

bool ReadOsFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    Platform::PlatformFile file;
    uint64_t size = 0;
    if (!file.Open(path, Platform::FileOpenMode::Read) || !file.GetSize(size) || size > 0x7FFFFFFF)
        return false;
    bytes.resize(static_cast<size_t>(size));
    return file.ReadAt(0, bytes.data(), bytes.size()) == static_cast<int64_t>(bytes.size());
}

// The editor's copy of an unloaded level, read back by this process only: not worth a wait for the
// disk on the main thread at each unload.
bool WriteOsFile(const std::string& path, const uint8_t* data, size_t size, std::string& reason)
{
    return Platform::WriteWholeFile(path, data, size, &reason, Platform::FileOpenMode::WriteUnsynced);
}

} // namespace

// ---- Construction -------------------------------------------------------------------------------

Region::Region(World* world, int index, const std::string& name, const ABBox& box, const IntVec3& offset,
               const RegionId& id, unsigned levelOffset, unsigned levelSize)
    : m_id(id), m_world(world), m_index(index), m_offset(offset), m_name(name), m_box(box),
      m_levelOffset(levelOffset), m_levelSize(levelSize)
{
    if (m_id.IsInvalid())
        m_id.CreateUnique();
}

Region::Region(const ABBox& box) : m_world(nullptr), m_index(0), m_box(box), m_levelOffset(0), m_levelSize(0)
{
    m_id.CreateUnique();
    Level* level = new Level(this);
    level->NewSpace(Vec2(box.extents.x, box.extents.z));
    level->PostLoad(false);
    m_level.store(level, std::memory_order_release);
}

Region::~Region()
{
    // The world waits for the thread before deleting a region; a region deleted on its own must too.
    WaitForLoadingToFinish();
    ReleaseMinimapImage();
    {
        CriticalSectionLock lock(m_levelLock);
        DeleteLevel();
    }
    delete m_loadingThread;
    m_loadingThread = nullptr;
    if (m_keptLines && m_keptLines->IsWaiting())
        m_keptLines->Write(m_name);
    delete m_keptLines;
    m_keptLines = nullptr;
    m_iconData.clear();
    ReleaseTexture(m_iconTexture);
    delete m_savedState;
    m_savedState = nullptr;
    UnloadFOW();
    if (m_fogThread)
        m_fogThread->Wait();
    delete m_fogThread;
    delete m_fog;
    delete m_temporaryFog;
    for (Portal* portal : m_portals)
        delete portal;
}

void Region::SetZoneRecord(const std::string& record)
{
    m_zoneRecord = record;
    FileSystem::ConvertFileName(m_zoneRecord);
}

Color Region::GetTintColor() const
{
    const ZoneManager::ZoneData* zone = ZoneManager::Get()->GetZoneData(m_zoneRecord);
    return zone ? Color(zone->tint.r, zone->tint.g, zone->tint.b, 1.0f) : Color(0.0f, 0.0f, 0.0f, 1.0f);
}

void Region::UpdateBoundingBox()
{
    if (Level* level = GetLevelPtr())
        m_box = level->GetBoundingBox();
}

// ---- Level access -------------------------------------------------------------------------------

Level* Region::GetLevel(bool keepIdle) const
{
    if (IsLoading())
        return nullptr;
    CriticalSectionLock lock(m_levelLock);
    if (!keepIdle)
        ResetFramesNotUpdated();
    return m_level.load(std::memory_order_acquire);
}

Level* Region::GuaranteedGetLevel(bool renderData) const
{
    const_cast<Region*>(this)->ForgetLoadFailure();
    return GetLevelUnlessBroken(renderData);
}

Level* Region::GetLevelUnlessBroken(bool renderData) const
{
    const_cast<Region*>(this)->LoadLevelNow(renderData);
    ResetFramesNotUpdated();
    if (IsLoading())
        return nullptr;
    CriticalSectionLock lock(m_levelLock);
    return m_level.load(std::memory_order_acquire);
}

bool Region::IsLevelLoaded() const
{
    const Level* level = GetLevelPtr();
    if (!level || (m_world && IsLoading()))
        return false;
    return level->GetPostLoadCalled();
}

bool Region::IsLoadingFinished() const
{
    return GetLevelPtr() && !IsLoading();
}

bool Region::IsUnderground() const
{
    const_cast<Region*>(this)->LoadLevelNow(false);
    if (IsLoading())
        return false;
    CriticalSectionLock lock(m_levelLock);
    const Level* level = GetLevelPtr();
    return level && level->IsUnderground();
}

bool Region::HasKeptState() const
{
    CriticalSectionLock lock(m_levelLock);
    return m_restore;
}

unsigned Region::GetUnloadThreshold() const
{
    const unsigned index = m_index > 0 ? static_cast<unsigned>(m_index) : 0u;
    return (index * 7u) % 23u + unloadFrames;
}

bool Region::MayRestoreState()
{
    return !WorldServices::NetworkClient() && !WorldServices::EditorMode();
}

std::string Region::GetTempLevelFileName() const
{
    char address[32];
    std::snprintf(address, sizeof(address), "%08" PRIxPTR, reinterpret_cast<uintptr_t>(this));
    const size_t slash = m_name.find_last_of("/\\");
    const std::string file = slash == std::string::npos ? m_name : m_name.substr(slash + 1);
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error)
        folder = "/tmp";
    return (folder / (std::string(address) + file)).string();
}

void Region::StartLoadingThread(bool renderData)
{
    if (!m_loadingThread)
        m_loadingThread = new LoadingThread(*this);
    m_loadDone.Reset();
    m_loadingThread->renderData.store(renderData);
    const bool keepLines = GetClientLineGate() != nullptr;
    if (keepLines && !m_keptLines)
        m_keptLines = new KeptLines();
    m_loadingThread->keepLines.store(keepLines);
    if (!m_loadingThread->Start()) {
        LogPrintf(1, "Couldn't start the level loading thread of %s", m_name.c_str());
        m_loading.store(false, std::memory_order_release);
        m_renderLoading.store(false, std::memory_order_release);
        m_loadDone.SetSignaled();
    }
}

void Region::BackgroundLoadLevel(bool renderData, bool urgent)
{
    ForgetLoadFailure();
    StartBackgroundLoad(renderData, urgent, false);
}

void Region::StartBackgroundLoad(bool renderData, bool urgent, bool forClients)
{
    if (IsLoadUnderWay())
        return;
    Level* level = GetLevelPtr();
    if (level && (!renderData || level->HasLoadedRenderData()))
        return;
    // Neither what clients do (their moves and views) nor the local view reads a level that failed
    // again: each time would read and parse the file anew. The host asks again when it wants it.
    if (!level) {
        NoteLoadFailure();
        if (IsLevelBroken())
            return;
    }
    if (!level)
        m_forClients = forClients;
    if (level)
        m_renderLoading.store(true, std::memory_order_release);
    else
        m_loading.store(true, std::memory_order_release);
    StartLoadingThread(renderData);
    if (WorldServices::SingleProcessorMode() && IsLoadUnderWay())
        m_loadingThread->SetPriority(urgent ? Thread::PRIORITY_ABOVE_NORMAL : Thread::PRIORITY_NORMAL);
}

bool Region::InternalLoadLevel(bool renderData)
{
    CriticalSectionLock lock(m_levelLock);
    Level* level = m_level.load(std::memory_order_acquire);
    auto finish = [this]() {
        // Signalled before the flags clear, so a main thread that saw them clear and starts the
        // next load resets it after this signal, never before.
        m_loadDone.SetSignaled();
        m_loading.store(false, std::memory_order_release);
        m_renderLoading.store(false, std::memory_order_release);
    };
    if (level) {
        if (!renderData || level->HasLoadedRenderData()) {
            finish();
            return false;
        }
    } else {
        level = new Level(this);
        bool loaded = false;
        std::string fileName = m_name;
        // Why a load failed: what the level said last, or what kept it from reading at all.
        std::string why;
        const bool fromMap = m_levelOffset != 0;
        if (fromMap)
            GetMinimapImage(true);
        {
            LastWarningScope warning;
            if (fromMap) {
                if (File* file = m_world ? m_world->LockMapFile() : nullptr) {
                    LogPrintf(0, "Begin Loading Level %s", m_name.c_str());
                    const void* data = m_levelSize ? file->Lock(m_levelOffset, m_levelSize) : nullptr;
                    if (!data)
                        why = "its data lies outside the map file";
                    loaded = data && m_levelSize <= 0x7FFFFFFF &&
                             level->Load(data, static_cast<int>(m_levelSize), m_restore);
                    if (data)
                        file->Unlock();
                    LogPrintf(0, "End Loading Level %s", m_name.c_str());
                    m_world->UnlockMapFile();
                } else {
                    why = "the world's map file is not open";
                }
            } else if (WorldServices::EditorMode() && m_restore) {
                fileName = GetTempLevelFileName();
                std::vector<uint8_t> bytes;
                if (!ReadOsFile(fileName, bytes))
                    why = "its kept copy cannot be read";
                else
                    loaded = level->Load(bytes.data(), static_cast<int>(bytes.size()), m_restore);
            } else {
                loaded = level->Load(fileName.c_str(), m_restore);
            }
            if (!loaded && why.empty())
                why = warning.last.empty() ? "its data is not a level" : warning.last;
        }
        if (!loaded) {
            if (fromMap)
                LogPrintf(1, "Couldn't load %s", m_name.c_str());
            else
                LogPrintf(1, "Couldn't load %s\n", fileName.c_str());
            // The world's loaded-regions list and the failure's mark are the main thread's:
            // NoteLoadFailure takes note.
            level->Unload(false);
            delete level;
            {
                CriticalSectionLock failure(m_failureLock);
                m_loadFailure = {fileName, why};
            }
            m_loadFailed.store(true, std::memory_order_release);
            finish();
            return false;
        }
        m_loadedFromMap = m_levelOffset != 0;
        ResetFramesNotUpdated();
        if (m_restore && MayRestoreState() && m_savedState) {
            if (!level->RestoreState(m_savedState->GetBuffer(), m_savedState->GetSize(),
                                     m_savedStateRenumberings))
                LogPrintf(1, "Region %s: its kept state could not be restored whole", m_name.c_str());
            delete m_savedState;
            m_savedState = nullptr;
        }
        // The kept state is used up: a later load without a new unload reads the level afresh.
        m_restore = false;
        m_boxPending = true;
        m_level.store(level, std::memory_order_release);
    }
    if (renderData)
        level->LoadRenderData();
    finish();
    return true;
}

void Region::WaitForLoad()
{
    if (!m_loadingThread || !IsLoadUnderWay())
        return;
    LogPrintf(2, "Main thread sleeping waiting for load of level '%s'", m_name.c_str());
    m_loadingThread->SetPriority(Thread::PRIORITY_ABOVE_NORMAL);
    while (IsLoadUnderWay())
        m_loadDone.WaitFor(50);
    m_loadingThread->SetPriority(Thread::PRIORITY_NORMAL);
}

bool Region::LoadLevel(bool renderData)
{
    ForgetLoadFailure();
    return LoadLevelNow(renderData);
}

bool Region::LoadLevelNow(bool renderData)
{
    if (IsLoading() || (renderData && IsRenderLoading())) {
        ++m_loadsOnMainThread;
        WaitForLoad();
        PostLoadLevel(false);
        return GetLevelPtr() != nullptr;
    }
    Level* level = GetLevelPtr();
    if (level && (!renderData || level->HasLoadedRenderData()))
        return true;
    if (level) {
        m_renderLoading.store(true, std::memory_order_release);
        LogPrintf(2, "^gForcing load of level %s render data in main thread.", m_name.c_str());
    } else {
        // A failed load is read again only when the host asks (LoadLevel forgot it first).
        NoteLoadFailure();
        if (IsLevelBroken())
            return false;
        m_forClients = false;
        m_loading.store(true, std::memory_order_release);
        LogPrintf(2, "Forcing load of level %s in main thread.", m_name.c_str());
    }
    ++m_loadsOnMainThread;
    if (!InternalLoadLevel(renderData)) {
        LogPrintf(1, "Internal Load Level failed on %s.", m_name.c_str());
        PostLoadLevel(false);
        return false;
    }
    PostLoadLevel(false);
    return true;
}

void Region::PostLoadLevel(bool incremental)
{
    // The lines of a load for clients' views, once it is over.
    if (m_keptLines && m_keptLines->IsWaiting() && !IsLoadUnderWay()) {
        ThreadGateScope gate(GetClientLineGate());
        m_keptLines->Write(m_name);
    }
    NoteLoadFailure();
    Level* level = GetLevelPtr();
    if (!level || IsLoadUnderWay() || level->GetPostLoadCalled())
        return;
    ThreadGateScope gate(GetClientLineGate());
    bool takeBox;
    {
        CriticalSectionLock lock(m_levelLock);
        takeBox = m_boxPending;
        m_boxPending = false;
    }
    if (takeBox)
        UpdateBoundingBox();
    if (!level->PostLoad(incremental))
        return;
    m_levelBroken = false;
    if (m_world)
        m_world->SetRegionLoaded(this, true);
    else
        LogPrintf(1, "Region::PostLoadLevel failed because of invalid world.");
}

void Region::NoteLoadFailure()
{
    if (!m_loadFailed.exchange(false, std::memory_order_acq_rel))
        return;
    if (m_world)
        m_world->SetRegionLoaded(this, false);
    {
        CriticalSectionLock failure(m_failureLock);
        m_brokenFile = m_loadFailure.first;
        m_brokenReason = m_loadFailure.second;
    }
    // Said once for each time the host asked: a failure learned again keeps its line said.
    if (!m_levelBroken)
        m_brokenReported = false;
    m_levelBroken = true;
}

void Region::ForgetLoadFailure()
{
    NoteLoadFailure();
    m_levelBroken = false;
}

bool Region::IsLevelBroken() const
{
    return m_levelBroken && !GetLevelPtr();
}

std::string Region::GetLoadFailure() const
{
    if (!IsLevelBroken())
        return std::string();
    return m_brokenFile + " (" + m_brokenReason + ")";
}

void Region::WaitForLoadingToFinish()
{
    if (m_loadingThread)
        m_loadingThread->Wait();
}

void Region::DeleteLevel()
{
    Level* level = m_level.exchange(nullptr, std::memory_order_acq_rel);
    if (level) {
        level->Unload(false);
        delete level;
    }
    if (m_world)
        m_world->SetRegionLoaded(this, false);
}

void Region::UnloadLevel(bool keepState)
{
    {
        CriticalSectionLock lock(m_levelLock);
        Level* level = GetLevelPtr();
        if (!level)
            return;
        LogPrintf(0, "Unloading level %s\n", m_name.c_str());
        if (keepState) {
            if (WorldServices::EditorMode()) {
                const std::string fileName = GetTempLevelFileName();
                BinaryWriter writer(0x400);
                std::string reason = "the level could not be put into bytes";
                if (level->SaveToMemory(writer, false) && !writer.Failed() &&
                    WriteOsFile(fileName, writer.GetBuffer(), writer.GetSize(), reason))
                    m_restore = true;
                else
                    LogPrintf(2, "Error saving temp level %s (%s)", fileName.c_str(), reason.c_str());
            } else if (MayRestoreState()) {
                delete m_savedState;
                m_savedState = new BinaryWriter(1024);
                if (level->SaveState(m_savedState) && !m_savedState->Failed()) {
                    m_savedStateRenumberings = ObjectManager::Get()->GetRenumberCount();
                    LogPrintf(0, "Saved level state %s", m_name.c_str());
                    m_restore = true;
                } else {
                    // A broken state would drop the entities it should bring back: the next load
                    // reads the level afresh instead.
                    LogPrintf(2, "Error saving level state %s", m_name.c_str());
                    delete m_savedState;
                    m_savedState = nullptr;
                    m_restore = false;
                }
            }
        }
        DeleteLevel();
    }
    UnloadFOW();
}

void Region::SetLevel(Level* level)
{
    if (level && level == GetLevelPtr())
        return;
    WaitForLoadingToFinish();
    {
        CriticalSectionLock lock(m_levelLock);
        DeleteLevel();
        m_boxPending = false;
        m_level.store(level, std::memory_order_release);
    }
    m_loadFailed.store(false);
    m_levelBroken = false;
    m_forClients = false;
    if (level && m_world)
        m_world->SetRegionLoaded(this, true);
    UpdateBoundingBox();
    CreateUniqueId();
}

bool Region::UpdateUsage(bool mayUnload)
{
    Level* level = GetLevelPtr();
    if (!level || (m_world && IsLoading()))
        return false;
    if (!level->GetPostLoadCalled())
        return false;
    m_framesNotUpdated.fetch_add(1, std::memory_order_relaxed);
    return mayUnload && UnloadIfOverdue();
}

unsigned Region::GetFramesOverdue() const
{
    const Level* level = GetLevelPtr();
    if (!level || (m_world && IsLoading()) || !level->GetPostLoadCalled())
        return 0;
    const unsigned frames = GetFramesNotUpdated();
    const unsigned threshold = GetUnloadThreshold();
    return frames > threshold ? frames - threshold : 0;
}

bool Region::UnloadIfOverdue()
{
    if (GetFramesOverdue() == 0)
        return false;
    ThreadGateScope gate(GetClientLineGate());
    UnloadLevel(true);
    return true;
}

LogGate* Region::GetClientLineGate() const
{
    if (!m_forClients)
        return nullptr;
    NetworkEntityList* list = WorldServices::EntityList();
    return list ? list->GetViewLineGate() : nullptr;
}

void Region::LoadForViews(bool renderData, bool forClients)
{
    if (!forClients)
        m_forClients = false;
    StartBackgroundLoad(renderData, false, forClients);
}

void Region::PrepareUnload()
{
    m_framesNotUpdated.store(unloadFrames - 1, std::memory_order_relaxed);
}

void Region::DestroyLevelEntities()
{
    CriticalSectionLock lock(m_levelLock);
    if (Level* level = GetLevelPtr())
        level->DestroyAllEntities(-1);
}

// ---- Frame --------------------------------------------------------------------------------------

Frustum Region::GetBoxFrustum(const ABBox& box)
{
    const Vec3 lo = box.center - box.extents;
    const Vec3 hi = box.center + box.extents;
    Frustum frustum;
    frustum.AddPlane(Plane(Vec3(1.0f, 0.0f, 0.0f), -lo.x));
    frustum.AddPlane(Plane(Vec3(-1.0f, 0.0f, 0.0f), hi.x));
    frustum.AddPlane(Plane(Vec3(0.0f, 1.0f, 0.0f), -lo.y));
    frustum.AddPlane(Plane(Vec3(0.0f, -1.0f, 0.0f), hi.y));
    frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, 1.0f), -lo.z));
    frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, -1.0f), hi.z));
    return frustum;
}

void Region::Update(const WorldFrustum* frusta, unsigned count, int elapsed, bool walk, Region* from, int depth)
{
    const unsigned frame = EngineDataServices::FrameCount();
    if (m_lastUpdateFrame == frame)
        return;
    m_lastUpdateFrame = frame;

    // Every view frustum, however many clients a server has.
    std::vector<Frustum> local(count);
    for (unsigned i = 0; i < count; ++i)
        frusta[i].GetRelativeFrustum(this, local[i]);

    const float distance = Engine::GetLevelLoadInflation();
    const Sphere sphere(m_box.center, m_box.extents.Length());
    bool reached = false;
    for (unsigned i = 0; i < count && !reached; ++i)
        reached = local[i].IntersectsSphere(sphere, distance);
    if (!reached)
        return;

    PreLoad(local.data(), count, false);

    int seen = -1;
    for (unsigned i = 0; i < count && seen < 0; ++i)
        if (ABBoxInFrustum(m_box, local[i]))
            seen = static_cast<int>(i);
    if (seen >= 0) {
        ResetFramesNotUpdated();
        // Only the local view (the first) has a level loaded at once; what clients see comes in
        // on the loading thread, however they move their views.
        if (!from && seen == 0) {
            m_forClients = false;
            LoadLevelNow(true);
        } else {
            LoadForViews(seen == 0, seen != 0);
        }
    } else {
        for (unsigned i = 0; i < count; ++i) {
            if (ABBoxInFrustum(m_box, local[i].GetExpanded(distance))) {
                ResetFramesNotUpdated();
                LoadForViews(i == 0, i != 0);
                // Not in view yet, but its doorways may come into view before the region behind
                // one has loaded: start those loads now.
                if (depth < 2 && IsLevelLoaded())
                    PrefetchBehindPortals(local.data(), count, distance, from);
                return;
            }
        }
        return;
    }

    if (depth < 2) {
        for (Portal* portal : m_portals) {
            bool hit = false, near = false, primary = false;
            for (unsigned j = 0; j < count && !hit; ++j) {
                if (portal->TestIntersection(local[j]))
                    hit = true;
                else if (!near && portal->TestIntersection(local[j].GetExpanded(distance)))
                    near = true;
                if (j == 0 && (hit || near))
                    primary = true;
            }
            if (!hit && !near)
                continue;
            Region* other = portal->GetConnectedRegion();
            if (!other || other == from)
                continue;
            if (!hit) {
                const Level* otherLevel = other->GetLevelPtr();
                if (!otherLevel || other->IsLoading()) {
                    other->ResetFramesNotUpdated();
                    if (otherLevel && !(primary && !otherLevel->HasLoadedRenderData()))
                        continue;
                    other->LoadForViews(primary, !primary);
                    continue;
                }
            } else if (!primary && !other->IsLevelLoaded()) {
                // Only clients' views look through: passing needs the portals of the level behind,
                // which come in on its loading thread, never on this one.
                other->ResetFramesNotUpdated();
                other->LoadForViews(false, true);
                continue;
            }
            Coords toOther;
            Region* behind = nullptr;
            if (!portal->GetFrontToBackCoords(toOther, behind))
                continue;
            std::vector<WorldFrustum> moved(frusta, frusta + count);
            for (WorldFrustum& f : moved) {
                if (f.GetRegion() != this)
                    continue;
                Frustum planes = f.GetRegionFrustum();
                planes.Transform(toOther);
                f.Initialize(behind, planes);
            }
            behind->Update(moved.data(), count, elapsed, walk, this, depth + 1);
        }
    }

    if (walk)
        for (Region* connected : m_connectedRegions)
            connected->Update(frusta, count, elapsed, walk, from, depth);

    if (depth < 2) {
        Level* level = GetLevelPtr();
        if (level && !IsLoading() && level->GetPostLoadCalled())
            level->Update(local.data(), count, elapsed);
    }
}

void Region::PrefetchBehindPortals(const Frustum* frusta, unsigned count, float distance, const Region* from)
{
    for (Portal* portal : m_portals) {
        int near = -1;
        for (unsigned j = 0; j < count && near < 0; ++j)
            if (portal->TestIntersection(frusta[j].GetExpanded(distance)))
                near = static_cast<int>(j);
        if (near < 0)
            continue;
        Region* other = portal->GetConnectedRegion();
        if (!other || other == from || other == this)
            continue;
        // Kept in use while its doorway is near, like a region the view nears.
        other->ResetFramesNotUpdated();
        if (other->IsLoadUnderWay())
            continue;
        const Level* otherLevel = other->GetLevelPtr();
        if (otherLevel && (near != 0 || otherLevel->HasLoadedRenderData()))
            continue;
        other->LoadForViews(near == 0, near != 0);
    }
}

void Region::Update(int elapsed)
{
    const WorldFrustum whole(this, GetBoxFrustum(m_box));
    Update(&whole, 1, elapsed, false, nullptr, 0);
}

void Region::PreLoad(const Frustum* frusta, unsigned count, bool all)
{
    Level* level = GetLevelPtr();
    if (!level || IsLoading() || count == 0)
        return;
    std::vector<Frustum> grown;
    grown.reserve(count);
    bool meets = false;
    for (unsigned i = 0; i < count; ++i) {
        grown.push_back(frusta[i].GetExpanded(Engine::GetEntityPreLoadInflation()));
        meets = meets || ABBoxInFrustum(m_box, grown.back());
    }
    if (meets)
        level->PreLoad(grown.data(), count, all);
}

void Region::PreLoad(bool all)
{
    const Frustum whole = GetBoxFrustum(m_box);
    PreLoad(&whole, 1, all);
}

void Region::AddToScene(GraphicsSceneRenderer& renderer, const Coords&, const Frustum& frustum,
                        const WorldFrustum* worldFrustum)
{
    if (IsLoadUnderWay() && m_loadingThread) {
        m_loadingThread->SetPriority(Thread::PRIORITY_ABOVE_NORMAL);
        return;
    }
    LoadLevelNow(true);
    ResetFramesNotUpdated();
    if (Level* level = GetLevelPtr())
        level->AddToScene(renderer, frustum, worldFrustum);
}

void Region::ReloadGenerationDependentData()
{
    if (Level* level = IsLoading() ? nullptr : GetLevelPtr())
        level->ReloadGenerationDependentData();
}

void Region::GeometryBusStop(const ABBox& box, std::vector<GeometryBus::SimpleFace>& faces) const
{
    CriticalSectionLock lock(m_levelLock);
    const Level* level = IsLoading() ? nullptr : GetLevelPtr();
    if (level && level->GetGridRegion())
        level->GetGridRegion()->GeometryBusStop(box, faces);
}

void Region::PreDeviceReset()
{
    CriticalSectionLock lock(m_levelLock);
    ReleaseMinimapImage();
    if (Level* level = GetLevelPtr())
        level->PreDeviceReset();
    ReleaseTexture(m_iconTexture);
    if (m_fog)
        m_fog->PreDeviceReset();
    if (m_temporaryFog)
        m_temporaryFog->PreDeviceReset();
}

void Region::PostDeviceReset()
{
    CriticalSectionLock lock(m_levelLock);
    Level* level = GetLevelPtr();
    if (level) {
        level->PostDeviceReset();
        GetMinimapImage(true);
    }
    if (m_fog)
        m_fog->PostDeviceReset();
    if (m_temporaryFog)
        m_temporaryFog->PostDeviceReset();
    if (!m_iconData.empty() && !m_iconTexture)
        m_iconTexture = DecodeTexture(m_iconData.data(), static_cast<unsigned>(m_iconData.size()));
}

// ---- Minimap and icon ---------------------------------------------------------------------------

RenderTexture* Region::DecodeTexture(const void* bytes, unsigned size)
{
    RenderDevice* device = WorldServices::Device();
    if (!device || !bytes || size == 0)
        return nullptr;
    // The device keeps a DDS file's own levels and compression.
    if (size >= 4 && std::memcmp(bytes, "DDS ", 4) == 0)
        return device->CreateTextureFromFile(bytes, size, 0);
    Image image;
    if (!MapImage::Decode(bytes, size, image)) {
        LogPrintf(1, "Region: an image of %u bytes could not be decoded", size);
        return nullptr;
    }
    // The device takes blue, green, red and alpha.
    uint8_t* pixel = image.GetBuffer();
    for (uint64_t i = 0; i < uint64_t(image.GetWidth()) * image.GetHeight(); ++i, pixel += 4)
        std::swap(pixel[0], pixel[2]);
    return device->CreateTextureFromImage(static_cast<int>(image.GetWidth()),
                                          static_cast<int>(image.GetHeight()), image.GetBuffer(), 0, 0);
}

void Region::ReleaseTexture(RenderTexture*& texture)
{
    if (!texture)
        return;
    if (RenderDevice* device = WorldServices::Device())
        device->DestroyTexture(&texture);
    texture = nullptr;
}

void Region::SetMinimapData(unsigned offset, unsigned size)
{
    CriticalSectionLock lock(m_minimapLock);
    m_minimapOffset = offset;
    m_minimapSize = size;
}

RenderTexture* Region::GetMinimapImage(bool load)
{
    CriticalSectionLock lock(m_minimapLock);
    if (m_minimapTexture || !load || m_minimapSize == 0 || !m_world)
        return m_minimapTexture;
    if (File* file = m_world->LockMapFile()) {
        if (const void* bytes = file->Lock(m_minimapOffset, m_minimapSize)) {
            RenderTexture* texture = DecodeTexture(bytes, m_minimapSize);
            file->Unlock();
            ReleaseTexture(m_minimapTexture);
            m_minimapTexture = texture;
        }
        m_world->UnlockMapFile();
    }
    return m_minimapTexture;
}

void Region::ReleaseMinimapImage()
{
    CriticalSectionLock lock(m_minimapLock);
    ReleaseTexture(m_minimapTexture);
}

bool Region::LoadRegionIcon(BinaryReader& reader)
{
    m_iconData.clear();
    ReleaseTexture(m_iconTexture);
    m_iconValue = reader.ReadUInt32();
    m_iconWidth = reader.ReadUInt32();
    m_iconHeight = reader.ReadUInt32();
    const int32_t size = reader.ReadInt32();
    if (size > 0 && reader.CheckCount(static_cast<uint32_t>(size), 1, "icon bytes")) {
        m_iconData.resize(static_cast<size_t>(size));
        reader.ReadBytes(m_iconData.data(), static_cast<unsigned>(size));
    }
    if (reader.Failed()) {
        m_iconData.clear();
        LogPrintf(1, "Region %s: its icon record is truncated", m_name.c_str());
        return false;
    }
    if (!m_iconData.empty())
        m_iconTexture = DecodeTexture(m_iconData.data(), static_cast<unsigned>(m_iconData.size()));
    return true;
}

void Region::SaveRegionIcon(ChunkedBinaryWriter& writer) const
{
    writer.WriteUInt32(m_iconValue);
    writer.WriteUInt32(m_iconWidth);
    writer.WriteUInt32(m_iconHeight);
    writer.WriteInt32(static_cast<int32_t>(m_iconData.size()));
    if (!m_iconData.empty())
        writer.WriteBytes(m_iconData.data(), static_cast<unsigned>(m_iconData.size()));
}

void Region::SetIcon(unsigned value, unsigned width, unsigned height, const std::vector<uint8_t>& data)
{
    m_iconValue = value;
    m_iconWidth = width;
    m_iconHeight = height;
    m_iconData = data;
    ReleaseTexture(m_iconTexture);
    if (!m_iconData.empty())
        m_iconTexture = DecodeTexture(m_iconData.data(), static_cast<unsigned>(m_iconData.size()));
}

// ---- Map data -----------------------------------------------------------------------------------

namespace {

// The texture reduction while the top views are drawn.
constexpr int kMapTextureReduction = 2;
constexpr float kIconPixelsPerUnit = 0.5f;
constexpr float kMinimapPixelsPerUnit = 2.0f;
constexpr float kUndergroundMinimapPixelsPerUnit = 4.0f;
// Regions whose boxes come this close are drawn into the views too.
constexpr float kNeighbourMargin = 1.0f;
// How long the views wait for the resource loader to serve what the regions draw.
constexpr int kResourceWaitSteps = 1000;
constexpr uint32_t kResourceWaitStepMs = 10;

// Asks the regions' levels for everything they draw and waits until the resource loader has
// served those requests (without its thread, by serving them here), so that the views show loaded
// textures and meshes rather than none.
void WaitForMapResources(const std::vector<Region*>& regions)
{
    ResourceLoader* loader = WorldServices::Loader();
    if (!loader)
        return;
    for (Region* region : regions)
        region->PreLoad(true);
    const unsigned marker = loader->CreateMarker();
    for (int step = 0; !loader->GetHasMarkerPast(marker); ++step) {
        if (!loader->IsThreadRunning()) {
            if (!loader->ProcessNextRequest())
                break;
            continue;
        }
        if (step >= kResourceWaitSteps) {
            LogPrintf(1, "Map data: the resources of the views are not all loaded; drawing without them");
            break;
        }
        Platform::SleepMilliseconds(kResourceWaitStepMs);
    }
}

} // namespace

std::string Region::GetMinimapFileName() const
{
    if (m_name.size() <= 4)
        return std::string();
    return m_name.substr(0, m_name.size() - 4) + ".tga";
}

bool Region::RebuildMapData()
{
    GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
    if (!graphics) {
        LogPrintf(1, "Region %s: no graphics engine to draw its map data", m_name.c_str());
        return false;
    }
    const int reduction = graphics->GetTextureReduction();
    graphics->SetTextureReduction(kMapTextureReduction);

    bool rebuilt = LoadLevel(true);
    if (rebuilt) {
        PostLoadLevel(false);
        if (Level* level = GetLevel())
            level->RebuildMapData();
    } else {
        LogPrintf(1, "Region %s: its level could not be loaded to draw its map data", m_name.c_str());
    }

    // A neighbour loaded only for the views goes again afterwards, with the state it had kept.
    struct Borrowed
    {
        Region* region;
        bool keptState;
    };
    std::vector<Region*> neighbours;
    std::vector<Borrowed> borrowed;
    if (rebuilt && m_world) {
        std::vector<Region*> near;
        const Vec3 margin(kNeighbourMargin, kNeighbourMargin, kNeighbourMargin);
        m_world->GetRegionsInBox(near, this, ABBox(m_box.center, m_box.extents + margin));
        for (Region* other : near) {
            if (other == this)
                continue;
            const bool wasIn = other->GetLevelPtr() != nullptr || other->IsLoadUnderWay();
            const bool keptState = other->HasKeptState();
            if (other->LoadLevel(true)) {
                if (Level* level = other->GetLevel())
                    level->RebuildMapData();
                neighbours.push_back(other);
            }
            if (!wasIn)
                borrowed.push_back({other, keptState});
        }
    }

    if (rebuilt) {
        std::vector<Region*> drawn = neighbours;
        drawn.insert(drawn.begin(), this);
        WaitForMapResources(drawn);

        const Vec3 minimum = m_box.center - m_box.extents;
        const Vec3 maximum = m_box.center + m_box.extents;
        MapImage image;
        if (image.Render(this, minimum, maximum, kIconPixelsPerUnit, neighbours)) {
            unsigned width = 0, height = 0;
            std::vector<uint8_t> bytes;
            image.TakeBuffer(width, height, bytes);
            SetIcon(m_iconValue, width, height, bytes);
        } else {
            rebuilt = false;
        }

        const float scale = IsUnderground() ? kUndergroundMinimapPixelsPerUnit : kMinimapPixelsPerUnit;
        const std::string fileName = GetMinimapFileName();
        FileSystem* files = EngineDataServices::Files();
        if (!image.Render(this, minimum, maximum, scale, neighbours)) {
            rebuilt = false;
        } else if (fileName.empty() || !files) {
            LogPrintf(1, "Region %s: no file to write its minimap to", m_name.c_str());
            rebuilt = false;
        } else if (File* file = files->OpenFile(fileName.c_str(), FILE_MODE_WRITE)) {
            bool written = file->Write(0, image.GetData(), image.GetSize());
            written = files->CloseFile(file) && written;
            if (!written) {
                LogPrintf(2, "Could not write %s", fileName.c_str());
                rebuilt = false;
            }
        } else {
            // The file system gives no reason: for a file that is there, the file as it is named
            // on disk and the platform's own answer to a save of it.
            std::string path;
            std::string why = "the file system could not make it";
            if (files->FindFullFilePath(fileName, path)) {
                Platform::PlatformFile probe;
                why = probe.Open(path, Platform::FileOpenMode::Write) || probe.GetError().empty()
                          ? "the file system could not open it"
                          : probe.GetError();
                probe.Discard();
            } else {
                path = fileName;
            }
            LogPrintf(2, "Could not open TGA file %s: %s", path.c_str(), why.c_str());
            Platform::ShowErrorMessage("Error", "Could not open TGA file");
            rebuilt = false;
        }
    }

    for (const Borrowed& entry : borrowed)
        entry.region->UnloadLevel(entry.keptState);
    graphics->ReloadAllResources();
    graphics->SetTextureReduction(reduction);
    return rebuilt;
}

void Region::Save(ChunkedBinaryWriter& writer) const
{
    writer.WriteString(m_name);
    writer.WriteVec3(m_box.center);
    writer.WriteVec3(m_box.extents);
    writer.WriteInt32(m_offset.x);
    writer.WriteInt32(m_offset.y);
    writer.WriteInt32(m_offset.z);
    m_id.Write(writer);
    writer.WriteString(m_zoneRecord);
}

// ---- Fog of war ---------------------------------------------------------------------------------

std::string Region::GetFogFileName() const
{
    const std::string savePath = WorldServices::SavePath();
    if (savePath.empty())
        return std::string();
    const size_t keep = m_name.size() >= 4 ? m_name.size() - 4 : 0;
    return savePath + "fow/" + m_name.substr(0, keep) + ".fow";
}

Vec3 Region::GetFogPosition(const Vec3& position) const
{
    return position - (m_box.center - m_box.extents);
}

FogOfWar* Region::GetFogOfWar(bool temporary)
{
    if (temporary) {
        if (!m_temporaryFog) {
            m_temporaryFog = new FogOfWar();
            m_temporaryFog->Initialize(ExtentUnits(m_box.extents.x), ExtentUnits(m_box.extents.z));
        }
        return m_temporaryFog;
    }
    if (!m_fog) {
        // The last save must be on disk before the file is read back.
        if (m_fogThread)
            m_fogThread->Wait();
        CriticalSectionLock lock(m_fogLock);
        FogOfWar* fog = new FogOfWar();
        fog->Initialize(ExtentUnits(m_box.extents.x), ExtentUnits(m_box.extents.z));
        const std::string fileName = GetFogFileName();
        if (!fileName.empty())
            fog->Read(fileName);
        m_fog = fog;
    }
    return m_fog;
}

bool Region::IsInFog(const WorldVec3& position)
{
    FogOfWar* fog = GetFogOfWar(false);
    if (!fog)
        return false;
    return fog->IsInFog(GetFogPosition(GetRelativePosition(position)));
}

void Region::AddFOWVisibility(const Vec3& position, int radius)
{
    const Vec3 onGrid = GetFogPosition(position);
    GetFogOfWar(true)->AddVisibility(onGrid, radius);
    GetFogOfWar(false)->AddVisibility(onGrid, radius);
}

void Region::UnloadFOW()
{
    if (!m_fog)
        return;
    const std::string fileName = GetFogFileName();
    // Without a save path the fog has nowhere to go: it stays in memory.
    if (fileName.empty())
        return;
    if (!m_fogThread)
        m_fogThread = new FogSavingThread(*this);
    m_fogThread->Wait();
    FogOfWar* fog;
    {
        CriticalSectionLock lock(m_fogLock);
        fog = m_fog;
        m_fog = nullptr;
    }
    // From here the saving thread owns the fog; the main thread makes a new one when it asks.
    m_fogThread->fog = fog;
    m_fogThread->fileName = fileName;
    m_fogSaving.store(true, std::memory_order_release);
    if (m_fogThread->Start()) {
        m_fogThread->SetPriority(Thread::PRIORITY_LOWEST);
        return;
    }
    m_fogThread->fog = nullptr;
    fog->Write(fileName);
    delete fog;
    m_fogSaving.store(false, std::memory_order_release);
}

// ---- Space and neighbours -----------------------------------------------------------------------

void Region::BuildRegionConnectivity(const std::vector<Region*>& regions)
{
    const ABBox grown(m_box.center, m_box.extents + Vec3(2.0f, 2.0f, 2.0f));
    for (Region* other : regions) {
        if (!other || other == this)
            continue;
        const ABBox moved(other->m_box.center + GetOffsetDifference(other, this), other->m_box.extents);
        if (ABBoxesOverlap(grown, moved))
            m_connectedRegions.push_back(other);
    }
}

bool Region::IsNeighbor(const Region* region) const
{
    return region == this ||
           std::find(m_connectedRegions.begin(), m_connectedRegions.end(), region) != m_connectedRegions.end();
}

Vec3 Region::GetOffsetDifference(const Region* from, const Region* to)
{
    const IntVec3 a = from ? from->m_offset : IntVec3();
    const IntVec3 b = to ? to->m_offset : IntVec3();
    // 64-bit: offsets of opposite sign near the 32-bit limits must not wrap.
    return Vec3(static_cast<float>(static_cast<int64_t>(a.x) - b.x),
                static_cast<float>(static_cast<int64_t>(a.y) - b.y),
                static_cast<float>(static_cast<int64_t>(a.z) - b.z));
}

Coords Region::GetRelativeTransformation(const Region* other) const
{
    return RegionServices::RelativeTransformation(this, other);
}

Vec3 Region::GetRelativePosition(const WorldVec3& position) const
{
    return RegionServices::RelativePosition(this, position);
}

// ---- Entities -----------------------------------------------------------------------------------

bool Region::AddEntity(Entity* entity, const WorldCoords& coords, bool quiet)
{
    if (!entity || coords.GetRegion() != this)
        return false;
    const Level* present = GetLevelPtr();
    const bool ready = present && (!m_world || !IsLoading()) && present->GetPostLoadCalled();
    bool destroyed = false;
    if (!ready && entity->DeleteOnEnteringUnloadedLevel()) {
        LogPrintf(1, "Entity (%s, id: %d) could not be added to the world because it's level is not loaded.",
                  entity->GetObjectName().c_str(), static_cast<int>(entity->GetObjectId()));
        // Destruction is late: the entity stays readable until the object manager's next sweep.
        ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        destroyed = true;
    }
    bool added = false;
    if (!destroyed) {
        if (Level* level = GetLevelUnlessBroken(false)) {
            added = level->AddEntity(entity, coords.GetRegionCoords());
            entity->Update(0);
        }
    }
    if (destroyed || !entity->IsInWorld()) {
        LogPrintf(2, "Entity (%s, id: %d) not in world after World::AddEntity() processing.",
                  entity->GetObjectName().c_str(), static_cast<int>(entity->GetObjectId()));
        return false;
    }
    if (!quiet)
        if (NetworkControllerBase* controller = WorldServices::NetworkController())
            controller->OnEntityAdded(entity, added);
    return added;
}

void Region::RemoveEntity(Entity* entity)
{
    if (!entity)
        return;
    WorldServices::RemoveEntityFromAllClients(entity);
    Level* level = GetLevelPtr();
    if (level && (!m_world || !IsLoading()) && level->GetPostLoadCalled()) {
        ResetFramesNotUpdated();
        level->RemoveEntity(entity);
    } else {
        entity->SetCoords(WorldCoords());
    }
    if (PhysicsEngine* physics = WorldServices::Physics())
        physics->RemoveEntityFromSimulation(entity);
}

bool Region::RequestLevelForMove()
{
    if (IsLevelLoaded())
        return true;
    ResetFramesNotUpdated();
    NoteLoadFailure();
    if (IsLevelBroken()) {
        SayMoveRefused();
        return false;
    }
    // On a server what moves is the clients' doing (a load under way keeps whose it was).
    StartBackgroundLoad(false, false, WorldServices::NetworkServer());
    return false;
}

Level* Region::GetLevelForMove()
{
    Level* level = GetLevelUnlessBroken(false);
    if (!level && IsLevelBroken())
        SayMoveRefused();
    return level;
}

void Region::SayMoveRefused()
{
    // A client's character pressing against the border moves every frame: one line until the
    // host asks for the level again, not one a move.
    if (m_brokenReported)
        return;
    LogPrintf(1,
              "Region %s: entities may not move in until the host loads its level again: %s could not be "
              "loaded (%s)",
              m_name.c_str(), m_brokenFile.c_str(), m_brokenReason.c_str());
    m_brokenReported = true;
}

void Region::GetRegionsInFrustum(std::vector<Region*>& out, const Frustum& frustum)
{
    if (m_world)
        m_world->GetRegionsInFrustum(out, this, frustum, false);
    else if (ABBoxInFrustum(m_box, frustum))
        out.push_back(this);
}

void Region::GetEntitiesInSphere(std::vector<Entity*>& out, const Sphere& sphere, bool alternate,
                                 EntityListType type)
{
    if (m_world) {
        m_world->GetEntitiesInSphere(out, this, sphere, alternate, type);
        return;
    }
    Level* level = GetLevelPtr();
    if (level && level->GetPostLoadCalled() && ABBoxIntersectsSphere(m_box, sphere))
        level->GetEntitiesInSphere(out, sphere, alternate, type);
}

void Region::GetEntitiesInFrustum(std::vector<Entity*>& out, const Frustum& frustum, bool alternate,
                                  Region* from, EntityListType type, bool exact, bool throughPortals)
{
    std::vector<const Region*> visited;
    CollectEntitiesInFrustum(out, frustum, alternate, from, type, exact, throughPortals, visited);
}

void Region::CollectEntitiesInFrustum(std::vector<Entity*>& out, const Frustum& frustum, bool alternate,
                                      Region* from, EntityListType type, bool exact, bool throughPortals,
                                      std::vector<const Region*>& visited)
{
    visited.push_back(this);
    if (!IsLoadUnderWay()) {
        if (Level* level = GetLevelPtr()) {
            ResetFramesNotUpdated();
            level->GetEntitiesInFrustum(out, &frustum, 1, alternate, type, exact);
        }
    }
    if (!throughPortals)
        return;
    for (Portal* portal : m_portals) {
        Region* other = portal->GetConnectedRegion();
        if (!other || (static_cast<int>(type) == 1 && !other->IsLevelLoaded()))
            continue;
        if (!portal->TestIntersection(frustum))
            continue;
        Coords toOther;
        Region* behind = nullptr;
        if (!portal->GetFrontToBackCoords(toOther, behind) || behind == from)
            continue;
        // A ring of portals leads back to a region already collected: each region is asked once.
        if (std::find(visited.begin(), visited.end(), behind) != visited.end())
            continue;
        Frustum moved = frustum;
        moved.Transform(toOther);
        behind->CollectEntitiesInFrustum(out, moved, alternate, this, type, exact, true, visited);
    }
}

// ---- Portals ------------------------------------------------------------------------------------

Portal* Region::CreatePortal()
{
    Portal* portal = new Portal();
    portal->SetRegion(this);
    m_portals.push_back(portal);
    return portal;
}

void Region::DestroyPortal(Portal* portal)
{
    auto it = std::find(m_portals.begin(), m_portals.end(), portal);
    if (it == m_portals.end())
        return;
    m_portals.erase(it);
    delete portal;
}

Portal* Region::GetPortal(const UniqueId& id) const
{
    for (Portal* portal : m_portals)
        if (portal->GetId() == id)
            return portal;
    return nullptr;
}

Portal* Region::GetPortal(int index) const
{
    if (index < 0 || index >= GetNumPortals())
        return nullptr;
    return m_portals[static_cast<size_t>(index)];
}

Portal* Region::TraceSegmentAgainstPortals(const Ray& ray, float& distance, bool bothSides) const
{
    Portal* nearest = nullptr;
    for (Portal* portal : m_portals) {
        const float t = portal->GetIntersection(ray, bothSides);
        if (t < distance) {
            distance = t;
            nearest = portal;
        }
    }
    return nearest;
}

} // namespace GAME
