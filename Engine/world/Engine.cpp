#include "world/Engine.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/Profile.h"
#include "core/SingletonManager.h"
#include "core/Thread.h"
#include "core/Time.h"
#include "core/UniqueIdMap.h"
#include "core/WorldVec3.h"
#include "data/DatabaseArchive.h"
#include "data/EffectResource.h"
#include "data/FileSystem.h"
#include "data/LocalizationManager.h"
#include "data/Options.h"
#include "data/ResourceLoader.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/EditorFilter.h"
#include "graphics/FontStyle.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsNoiseGen.h"
#include "graphics/HeadlessInputDevice.h"
#include "graphics/InputDevice.h"
#include "graphics/RenderDebugger.h"
#include "graphics/ResetObject.h"
#include "graphics/StyleManager.h"
#include "navigation/PathFinder.h"
#include "navigation/PhysicsEngine.h"
#include "network/ClientConnectionManager.h"
#include "network/ClientNetworkShim.h"
#include "network/NetworkEntityList.h"
#include "network/NetworkPacketCreatorBase.h"
#include "network/ServerConnectionManager.h"
#include "network/ServerNetworkShim.h"
#include "network/StubConnectionManager.h"
#include "network/StubNetworkShim.h"
#include "platform/FatalError.h"
#include "platform/PlatformFile.h"
#include "platform/SystemInfo.h"
#include "sound/AmbianceManager.h"
#include "sound/Jukebox.h"
#include "sound/SoundManager.h"
#include "terrain/WaterTypeManager.h"
#include "network/NetworkControllerBase.h"
#include "world/EngineHooks.h"
#include "world/Entity.h"
#include "world/ProfilerWidget.h"
#include "world/Region.h"
#include "world/StatisticsWidget.h"
#include "world/World.h"
#include "world/ZoneManager.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <utility>

namespace GAME {

Engine* gEngine = nullptr;
unsigned int gLogEngine = 0;
unsigned int gLogGraphics = 0;

namespace {

// Engines alive: the log router and the game timer hook stay installed while there is one.
std::atomic<int> g_liveEngines{0};

// The host's assertion handler, kept for it.
Engine::AssertHandler g_assertHandler = nullptr;
bool g_assertFlag1 = false;
bool g_assertFlag2 = false;
std::string g_assertLogPath;

// The main thread keeps to one processor: the first the process may use, which is processor 0
// only when the process was started on it (taskset, a container's set may leave it out). Best
// effort: when it cannot be pinned it runs where the system puts it, said once a process.
void PinMainThread()
{
    const uint64_t processors = Platform::GetProcessAffinity();
    const uint64_t first = processors & (~processors + 1);
    if (first != 0 && Platform::SetCurrentThreadAffinity(first))
        return;
    static std::atomic<bool> s_said{false};
    if (s_said.exchange(true))
        return;
    if (first == 0)
        LogPrintf(1, "Engine: the process may use none of the first 64 processors; the main thread is not "
                     "pinned to one");
    else
        LogPrintf(1,
                  "Engine: the main thread cannot be pinned to processor %d, the first the process may use; "
                  "it runs unpinned",
                  __builtin_ctzll(first));
}

bool RouteLogToEngine(int priority, unsigned int category, const char* text)
{
    Engine* engine = gEngine;
    if (!engine)
        return false;
    if (category)
        engine->Log(static_cast<LogPriority>(priority), category, "%s", text);
    else
        engine->Log(static_cast<LogPriority>(priority), "%s", text);
    return true;
}

void ResetEngineGameTimer()
{
    if (Engine* engine = gEngine)
        engine->ResetGameTimer();
}

} // namespace

unsigned int GetNumberOfProcessorCores()
{
    static const unsigned int cores = std::max(1u, Platform::GetPhysicalCoreCount());
    return cores;
}

// ---------------------------------------------------------------------------
// Construction and destruction
// ---------------------------------------------------------------------------

Engine::Engine() : m_threadMonitor(this)
{
    m_singletonManager = new SingletonManager;
    m_hooks = new EngineHooks(*this);
    m_hooks->Install();
    if (g_liveEngines.fetch_add(1) == 0) {
        SetEngineLogRouter(RouteLogToEngine);
        SetGameTimerResetHook(ResetEngineGameTimer);
    }
}

Engine::~Engine()
{
    // Shut down first: unloading the world resets the ambiance manager, and the graphics engine
    // reads the options until it is deleted.
    Shutdown();
    delete m_options;
    m_options = nullptr;
    delete m_ambianceManager;
    m_ambianceManager = nullptr;
    delete m_singletonManager;
    m_singletonManager = nullptr;
    delete m_hooks;
    m_hooks = nullptr;
    if (g_liveEngines.fetch_sub(1) == 1) {
        SetEngineLogRouter(nullptr);
        SetGameTimerResetHook(nullptr);
    }
    if (gEngine == this)
        gEngine = nullptr;
}

void Engine::Log(LogPriority, unsigned int, const char*, ...) const {}

void Engine::Log(LogPriority, const char*, ...) const {}

// ---------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------

void Engine::Initialize(void* window, const GraphicsEngineSettings& settings, bool editorMode, bool,
                        FileSystem* fileSystem)
{
    if (m_graphicsEngine) {
        // A second start-up would make every subsystem again over the running ones.
        Log(LOG_PRIORITY_WARNING, "Engine::Initialize: the engine is running already; shut it down first");
        return;
    }
    if (gEngine != this) {
        // The library logs through gEngine: without it every line goes to standard error (the
        // process-wide sink), with another engine there, to that engine.
        LogPrintf(2, gEngine ? "Engine::Initialize: gEngine points to another engine; this engine's log lines "
                               "go to that engine's Log"
                             : "Engine::Initialize: gEngine is not set; the library's log lines go to standard "
                               "error instead of the engine's Log (set gEngine to the engine before Initialize)");
    }
    m_editorMode = editorMode;
    SetFileSystem(fileSystem);
    if (!m_singletonManager) // gone with an earlier shut-down
        m_singletonManager = new SingletonManager;

    // What unloaded levels free is given back as it is freed, not by a walk of the heap that
    // would hold up the frames (see World.h).
    Platform::LimitKeptHeapMemory();
    m_mainThread = Platform::CurrentThreadId();
    Platform::SetCurrentThreadPriority(Platform::ThreadPriority::Highest);
    SetThreadName("Main Thread");
    PinMainThread();

    if (!std::exchange(m_logFileOpenedEarly, false))
        OpenLogFileNow();

    Options* options = GetOptions();
    LocalizationManager::Instance()->Load(options->GetString(Options::STRING_LANGUAGE).c_str());

    m_graphicsEngine = new GraphicsEngine(options, m_normalSettingsPath, m_editorMode);
    if (!m_graphicsEngine->CreateDevice(window, settings)) {
        FatalError();
        return;
    }

    gLogEngine = CreateLogCategory("Engine");
    gLogGraphics = CreateLogCategory("Graphics");
    m_graphicsEngine->SetLogCategory(gLogGraphics);

    InitializeTimeSystem();
    LoadMainDatabase();

    m_singleProcessorMode =
        options->GetBool(Options::BOOL_FORCE_SINGLE_PROCESSOR_MODE) || GetNumberOfProcessorCores() == 1;

    m_resourceLoader = new ResourceLoader;
    m_resourceLoader->EnableSingleProcessorMode(m_singleProcessorMode);
    m_resourceLoader->StartThread();

    m_effectResourceManager = new EffectResourceManager(m_resourceLoader);

    if (!m_graphicsEngine->Initialize(window, settings, m_resourceLoader)) {
        FatalError();
        return;
    }
    m_hooks->InstallResources();

    m_physicsEngine = new PhysicsEngine;
    if (!m_physicsEngine->Initialize())
        Log(LOG_PRIORITY_WARNING, "Couldn't initialize physics engine.");

    if (!m_editorMode) {
        // Without a window (headless runs) nothing is read from the system; the host may still
        // hand the headless device its own events.
        if (m_inputDeviceFactory)
            m_inputDevice = m_inputDeviceFactory();
        else
            m_inputDevice = window ? InputDevice::Create() : new HeadlessInputDevice;
        if (m_inputDevice && m_inputDevice->Initialize(window, 256, 256))
            Log(LOG_PRIORITY_INFO, "Input Device initialized successfully.");
        else
            Log(LOG_PRIORITY_WARNING, "Couldn't initialize Input Device.");
    }

    m_soundManager = new SoundManager(m_resourceLoader);
    delete m_ambianceManager; // one left by an earlier run of this engine
    m_ambianceManager = new AmbianceManager;
    if (m_soundManager->Initialize(1))
        Log(LOG_PRIORITY_INFO, "MILES Sound Device initialized successfully.");
    else
        Log(LOG_PRIORITY_WARNING, "Couldn't initialize MILES Sound Device.");

    const FontStyle* style = StyleManager::Get()->GetStyle(m_utilityFontStyleName);
    if (!m_editorMode) {
        m_renderDebugger = new RenderDebugger(style, m_inputDevice);
        m_display.AddWidget(m_renderDebugger);
    }
    m_profilerWidget = new ProfilerWidget(style, m_inputDevice);
    m_display.AddWidget(m_profilerWidget);
    m_statisticsWidget = new StatisticsWidget(style);
    m_display.AddWidget(m_statisticsWidget);
    // Behind the engine's own widgets: over the world and whatever the host adds from now on.
    m_display.AddWidget(&m_overlayWidget);

    m_clientConnectionManager = new ClientConnectionManager;
    auto* server = new ServerConnectionManager;
    // Views reported by clients update the entity list and what each client is sent.
    server->SetViewHandler([this](int host, const WorldFrustum& view) { UpdateFrustum(host, view); });
    m_serverConnectionManager = server;
    m_stubConnectionManager = new StubConnectionManager;
    m_clientNetworkShim = new ClientNetworkShim;
    m_serverNetworkShim = new ServerNetworkShim;
    m_stubNetworkShim = new StubNetworkShim;
    m_clientNetworkShim->SetConnectionManager(m_clientConnectionManager);
    m_serverNetworkShim->SetConnectionManager(m_serverConnectionManager);
    m_stubNetworkShim->SetConnectionManager(m_stubConnectionManager);
    SetNetworkController(m_networkController);
    SetNetPacketCreator(m_packetCreator);
    SetAsNetworkStub();

    if (m_graphicsEngine) {
        m_graphicsEngine->SetDisplay(&m_display);
        m_utilityFontStyle = StyleManager::Get()->GetStyle(m_utilityFontStyleName);
        DebugRenderManager::Get()->SetFont(m_utilityFontStyle ? m_utilityFontStyle->font : nullptr);
    }

    m_world = new World;
    World::SetCurrent(m_world);

    UnpauseGameTime();
}

void Engine::OpenLogFile()
{
    if (m_logFileOpenedEarly)
        return;
    OpenLogFileNow();
    m_logFileOpenedEarly = true;
}

void Engine::OpenLogFileNow()
{
    CriticalSectionLock lock(m_logFileLock);
    m_logFileTried = true;
    std::vector<std::pair<LogPriority, std::string>> kept;
    kept.swap(m_keptLogFileLines);
    if (m_logPath.empty())
        return;
    // A log left read-only by an earlier run must not stop this one: the file at the log path,
    // wherever the host put it, not one of that name in the current folder.
    Platform::SetFileReadOnly(m_logPath, false);
    m_logFile = std::fopen(m_logPath.c_str(), "w");
    if (!m_logFile) {
        // Said to the other sinks (the file is tried once: this line is not kept for it); the
        // host learns it from IsLogFileOpen.
        const int error = errno;
        LogPrintf(1, "Engine: cannot write the log file %s (%s); the log goes on without it", m_logPath.c_str(),
                  std::strerror(error));
        return;
    }
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    char date[32] = "";
    char clock[32] = "";
    if (local) {
        std::strftime(date, sizeof(date), "%m/%d/%y", local);
        std::strftime(clock, sizeof(clock), "%H:%M:%S", local);
    }
    std::fputs("<html>\n", m_logFile);
    std::fputs("<font size=1 face=\"Arial, Helvetica\">\n", m_logFile);
    std::fputs("<b>Marrow Deep Log</b><br>\n", m_logFile);
    std::fprintf(m_logFile, "Date: %s<br>\n", date);
    std::fprintf(m_logFile, "Time: %s<br>\n", clock);
    std::fprintf(m_logFile, "Version: %s<br>\n",
                 LocalizationManager::ToChar(std::u16string(GetVersion())).c_str());
    std::fputs("<hr><p>\n", m_logFile);
    for (const auto& [priority, line] : kept)
        WriteLogFileRow(priority, line);
    std::fflush(m_logFile);
}

void Engine::WriteLogFileLine(LogPriority priority, const std::string& line) const
{
    CriticalSectionLock lock(m_logFileLock);
    if (m_logFile) {
        WriteLogFileRow(priority, line);
        std::fflush(m_logFile);
    } else if (!m_logFileTried && m_keptLogFileLines.size() < maxKeptLogFileLines) {
        m_keptLogFileLines.emplace_back(priority, line);
    }
}

void Engine::WriteLogFileRow(LogPriority priority, const std::string& line) const
{
    if (!m_logFileBlock) {
        std::fputs("<pre>\n", m_logFile);
        m_logFileBlock = true;
    }
    std::fputs(FormatLogFileRow(priority, line).c_str(), m_logFile);
}

std::string Engine::FormatLogFileRow(LogPriority priority, const std::string& line)
{
    std::string row;
    row.reserve(line.size() + 32);
    if (priority == LOG_PRIORITY_WARNING)
        row += "<font color=\"#c05000\">";
    else if (priority == LOG_PRIORITY_IMPORTANT)
        row += "<b>";
    for (const char c : line) {
        switch (c) {
        case '&':
            row += "&amp;";
            break;
        case '<':
            row += "&lt;";
            break;
        case '>':
            row += "&gt;";
            break;
        case '"':
            row += "&quot;";
            break;
        default:
            row += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c;
        }
    }
    if (priority == LOG_PRIORITY_WARNING)
        row += "</font>";
    else if (priority == LOG_PRIORITY_IMPORTANT)
        row += "</b>";
    row += '\n';
    return row;
}

void Engine::FatalError()
{
    const std::string text =
        LocalizationManager::ToChar(LocalizationManager::Instance()->GetText("tagMenuError33"));
    Log(LOG_PRIORITY_IMPORTANT, "Fatal Error: %s", text.c_str());
    Platform::FatalError("Fatal Error", text);
}

// ---------------------------------------------------------------------------
// Shut-down
// ---------------------------------------------------------------------------

void Engine::Shutdown()
{
    // The loader thread goes first: nothing it might use is gone yet.
    if (m_resourceLoader)
        m_resourceLoader->StopThread();

    UnloadWorld();
    m_utilityFontStyle = nullptr;

    if (m_profilerWidget) {
        m_profilerWidget->Enable(false); // profiling is process-wide: it ends with its widget
        m_display.RemoveWidget(m_profilerWidget);
        delete m_profilerWidget;
        m_profilerWidget = nullptr;
    }
    if (m_renderDebugger) {
        m_display.RemoveWidget(m_renderDebugger);
        delete m_renderDebugger;
        m_renderDebugger = nullptr;
    }
    if (StatisticsWidget* statistics = m_statisticsWidget.exchange(nullptr)) {
        m_display.RemoveWidget(statistics);
        delete statistics;
    }
    m_display.RemoveWidget(&m_overlayWidget);

    ShutdownNetwork();
    m_connectionManager = nullptr;
    delete m_clientConnectionManager;
    m_clientConnectionManager = nullptr;
    delete m_serverConnectionManager;
    m_serverConnectionManager = nullptr;
    delete m_stubConnectionManager;
    m_stubConnectionManager = nullptr;
    m_networkShim = nullptr;
    delete m_clientNetworkShim;
    m_clientNetworkShim = nullptr;
    delete m_serverNetworkShim;
    m_serverNetworkShim = nullptr;
    delete m_stubNetworkShim;
    m_stubNetworkShim = nullptr;
    m_networkEnabled = false;

    if (m_world) {
        if (World::GetCurrent() == m_world)
            World::SetCurrent(nullptr);
        delete m_world;
        m_world = nullptr;
    }

    DestroySingletons();

    // Pending objects go before the unique-id map: an entity's destructor takes itself out of it.
    if (ObjectManager::HasInstantiated()) {
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        ObjectManager::Get()->LogLeakedObjects();
        ObjectManager::Destroy();
    }
    UniqueIdMap::Destroy();

    if (m_hooks)
        m_hooks->RemoveResources();
    delete m_effectResourceManager;
    m_effectResourceManager = nullptr;
    delete m_soundManager;
    m_soundManager = nullptr;
    delete m_physicsEngine;
    m_physicsEngine = nullptr;
    delete m_graphicsEngine;
    m_graphicsEngine = nullptr;
    delete m_resourceLoader;
    m_resourceLoader = nullptr;
    delete m_singletonManager;
    m_singletonManager = nullptr;
    delete m_database;
    m_database = nullptr;

    {
        CriticalSectionLock lock(m_logFileLock);
        if (m_logFile) {
            if (m_logFileBlock)
                std::fputs("</pre>\n</font>\n</html>\n", m_logFile);
            std::fclose(m_logFile);
            m_logFile = nullptr;
        }
        m_logFileBlock = false;
        m_logFileOpenedEarly = false;
    }
    m_mapChunkCallbacks.Clear();
}

void Engine::DestroySingletons()
{
    StyleManager::Destroy();
    Jukebox::Destroy();
    PathFinder::Destroy();
    ZoneManager::Destroy();
    InputDevice::Destroy(m_inputDevice);
    DebugRenderManager::Destroy();
    EditorFilter::Destroy();
    WaterTypeManager::Destroy();
    GraphicsNoiseGen::Destroy();
}

void Engine::UnloadWorld()
{
    if (m_soundManager)
        m_soundManager->SetEarsPosition(WorldVec3());
    if (m_world)
        m_world->Unload();
    if (Jukebox::HasInstantiated())
        Jukebox::Get()->Clean();
    if (m_ambianceManager)
        m_ambianceManager->Reset();
    m_overlayActivityManager.Clear();
}

// ---------------------------------------------------------------------------
// The frame
// ---------------------------------------------------------------------------

void Engine::Update(const WorldFrustum* frustum, bool updateWorld)
{
    UpdateTime();
    if (m_profilerWidget)
        m_profilerWidget->UpdateFrame(GetFrameCount());
    m_frameCount.fetch_add(1, std::memory_order_acq_rel);
    if (m_showThreadMonitor) {
        m_threadMonitor.Update();
        m_threadMonitor.Display();
    }
    m_gameTimer.Update(m_timeSmoothing);
    const int elapsed = m_gameTimer.GetElapsedTime();
    // The frame's blocks start after the profiler has taken the last frame's.
    Profile frameBlock("Engine update");

    ObjectManager::Get()->DestroyPendingObjects(destroyPerFrame);
    UnloadUnreferencedResources();

    if (m_singletonManager)
        m_singletonManager->Update(elapsed);
    if (m_soundManager)
        m_soundManager->Update();
    if (m_ambianceManager)
        m_ambianceManager->Update(elapsed);
    m_overlayActivityManager.Update(elapsed);
    if (!IsGameTimePaused())
        Jukebox::Get()->Update();

    if (m_world) {
        Profile block("World: levels completed");
        m_world->PostLoadPass();
    }

    Region* region = frustum ? frustum->GetRegion() : nullptr;
    // A view whose region is unknown cannot be placed: the world waits for the next frame.
    if (m_world && updateWorld && (!frustum || region)) {
        Profile block("World update");
        std::vector<WorldFrustum> frusta;
        if (frustum) {
            if (m_physicsEngine) {
                Profile physics("World: physics step");
                m_physicsEngine->Update(WorldVec3(region, Vec3(0.0f, 0.0f, 0.0f)));
            }
            frusta.push_back(*frustum);
        } else if (m_world->GetNumRegions() > 0) {
            frusta.push_back(WorldFrustum(m_world->GetRegion(0), Frustum()));
        }
        if (NetworkEntityList* list = GetNetworkEntityList())
            list->GetClientFrustumList(frusta);
        m_world->Update(frusta);
    }
    if (frustum)
        m_priorFrameFrustum = *frustum;

    UpdateForcedEntities();
    if (ConnectionManager* manager = GetNetworkConnectionManager()) {
        Profile block("Network pump");
        if (frustum)
            manager->SetLocalView(*frustum); // a client reports its view
        manager->Update(elapsed);
        GoOnAloneAfterClientSession();
    }
    if (m_networkFrustumStats)
        if (NetworkEntityList* list = GetNetworkEntityList())
            list->DebugRender();
    ProcessUserInput();
}

void Engine::Render()
{
    Profile block("Render (widgets and scene)");
    if (!m_deviceLost && !m_idle)
        m_display.Update();
    if (m_graphicsEngine)
        m_graphicsEngine->Update(!m_idle);
}

void Engine::PresentSurface()
{
    if (m_resourceLoader) {
        Profile block("Resource loader: main-thread work");
        m_resourceLoader->Update();
    }
    if (m_graphicsEngine)
        m_graphicsEngine->PresentSurface();
}

void Engine::SetIdle(bool idle)
{
    if (IsNetworkServer() || idle == m_idle)
        return;
    m_idle = idle;
    if (m_mainThread != 0 && Platform::CurrentThreadId() == m_mainThread)
        Platform::SetCurrentThreadPriority(idle ? Platform::ThreadPriority::Normal
                                                : Platform::ThreadPriority::Highest);
}

void Engine::FollowRenumberings()
{
    // A join that renumbered the game's own objects (ObjectManager::RenumberHost): the ids kept
    // here were all made before it.
    ObjectManager* objects = ObjectManager::Get();
    const unsigned int renumberings = objects->GetRenumberCount();
    if (renumberings == m_forcedUpdateRenumberings)
        return;
    for (unsigned int& id : m_forcedUpdateIds)
        id = objects->GetRenumberedId(id, m_forcedUpdateRenumberings);
    m_forcedUpdateRenumberings = renumberings;
}

void Engine::RegisterForForcedUpdates(unsigned int objectId)
{
    CriticalSectionLock lock(m_forcedUpdateLock);
    FollowRenumberings();
    if (std::find(m_forcedUpdateIds.begin(), m_forcedUpdateIds.end(), objectId) == m_forcedUpdateIds.end())
        m_forcedUpdateIds.push_back(objectId);
}

void Engine::UnregisterForForcedUpdates(unsigned int objectId)
{
    CriticalSectionLock lock(m_forcedUpdateLock);
    FollowRenumberings();
    auto it = std::find(m_forcedUpdateIds.begin(), m_forcedUpdateIds.end(), objectId);
    if (it != m_forcedUpdateIds.end())
        m_forcedUpdateIds.erase(it);
}

std::vector<unsigned int> Engine::GetForcedUpdateIds()
{
    CriticalSectionLock lock(m_forcedUpdateLock);
    FollowRenumberings();
    return m_forcedUpdateIds;
}

void Engine::UpdateForcedEntities()
{
    CriticalSectionLock lock(m_forcedUpdateLock);
    FollowRenumberings();
    if (IsGameTimePaused())
        return;
    const int elapsed = m_gameTimer.GetElapsedTime();
    const unsigned int frame = GetFrameCount();
    // A copy: an entity's update may register or unregister ids (the lock is re-entrant).
    const std::vector<unsigned int> ids = m_forcedUpdateIds;
    for (unsigned int id : ids) {
        Object* object = ObjectManager::Get()->GetObject(id);
        if (!object || !Entity::IsEntity(object))
            continue;
        Entity* entity = static_cast<Entity*>(object);
        // The world's walk may have updated it this frame already.
        if (entity->GetLastFrameUpdated() >= frame)
            continue;
        const Region* region = entity->GetRegion();
        if (region && region->IsLevelLoaded())
            entity->Update(elapsed);
    }
}

void Engine::ProcessUserInput()
{
    if (!m_inputDevice)
        return;
    m_inputDevice->Update();
    // The counts are read again after every event: a widget may change what the device holds.
    for (int i = 0; i < m_inputDevice->GetNumButtonEvents(); ++i)
        m_display.HandleKeyEvent(m_inputDevice->GetButtonEvent(i));
    for (int i = 0; i < m_inputDevice->GetNumMouseEvents(); ++i)
        m_display.HandleMouseEvent(m_inputDevice->GetMouseEvent(i));
}

void Engine::UpdateFrustum(int host, const WorldFrustum& frustum)
{
    if (!IsNetworkServer())
        return;
    NetworkEntityList* list = GetNetworkEntityList();
    if (!list)
        return;
    list->UpdateFrustum(host, frustum);
    UpdateClientEntities(host);
}

void Engine::UpdateClientEntities(int host)
{
    NetworkEntityList* list = GetNetworkEntityList();
    NetworkEntityList::Client* client = list ? list->GetClient(host) : nullptr;
    if (!client || !client->frustumKnown || !m_world)
        return;
    const WorldFrustum view(client->frustum.GetRegion(),
                            client->frustum.GetRegionFrustum().GetExpanded(GetClientEntityInflation()));
    std::vector<Entity*> entities;
    m_world->GetEntitiesInFrustum(entities, view, false, ENTITY_LIST_ALL, false);
    NetworkControllerBase* controller = m_networkController;
    if (!controller)
        return;

    std::vector<unsigned int> inView;
    inView.reserve(entities.size());
    for (const Entity* entity : entities)
        inView.push_back(entity->GetObjectId());
    std::sort(inView.begin(), inView.end());
    std::vector<unsigned int> gone;
    for (const auto& [id, mark] : client->entities)
        if (mark == NetworkEntityList::entityPresent && !std::binary_search(inView.begin(), inView.end(), id))
            gone.push_back(id);
    // Through the library's log, not straight to Log: these lines follow a client's view, and the
    // server limits what its clients make it log (ServerConnectionManager.h).
    if (!gone.empty()) {
        LogPrintf(LOG_PRIORITY_INFO, "Calling RemoveEntities from Engine::UpdateClientEntities (host %d).",
                  host);
        controller->RemoveEntitiesFromClient(host, gone);
        LogPrintf(LOG_PRIORITY_INFO, "RemoveEntity call complete.");
    }
    for (Entity* entity : entities) {
        // The controller may change the client's table: look it up again for each entity.
        NetworkEntityList::Client* current = list->GetClient(host);
        if (!current || !entity->ShouldServerSpawn() || current->entities.count(entity->GetObjectId()))
            continue;
        controller->AddEntityToClient(host, entity);
        LogPrintf(LOG_PRIORITY_INFO, "Server added %s (id %d) to client %d", entity->GetObjectName().c_str(),
                  static_cast<int>(entity->GetObjectId()), host);
    }
}

void Engine::ResetGameTimer()
{
    m_gameTimer.Update(false);
    m_gameTimer.Update(false);
}

void Engine::UnloadUnreferencedResources()
{
    if (m_graphicsEngine)
        m_graphicsEngine->UnloadUnreferencedResources();
    if (m_effectResourceManager)
        m_effectResourceManager->UnloadUnreferencedResources();
    if (m_soundManager)
        m_soundManager->UnloadUnreferencedResources();
}

bool Engine::GetEntitiesInPriorFrameFrustum(std::vector<Entity*>& entities)
{
    if (!m_world)
        return false;
    m_world->GetEntitiesInFrustum(entities, m_priorFrameFrustum, false, ENTITY_LIST_ALL, false);
    return true;
}

// ---------------------------------------------------------------------------
// Services
// ---------------------------------------------------------------------------

void Engine::SetFileSystem(FileSystem* fileSystem)
{
    m_fileSystem.store(fileSystem, std::memory_order_release);
    if (m_options)
        m_options->SetFileSystem(fileSystem);
}

unsigned int Engine::CreateLogCategory(const char* name)
{
    if (!name)
        return 0;
    CriticalSectionLock lock(m_logCategoryLock);
    for (size_t i = 0; i < m_logCategoryNames.size(); ++i)
        if (m_logCategoryNames[i] == name)
            return static_cast<unsigned int>(i + 1);
    m_logCategoryNames.push_back(name);
    return static_cast<unsigned int>(m_logCategoryNames.size());
}

void Engine::RemoveLogCategory(unsigned int& category)
{
    category = 0;
}

Options* Engine::GetOptions()
{
    if (!m_options) {
        m_options = new Options(GetFileSystem());
        m_options->LoadDefaults(m_defaultSettingsPath);
        m_options->Load(m_normalSettingsPath);
    }
    return m_options;
}

bool Engine::LoadMainDatabase()
{
    delete m_database;
    m_database = new DatabaseArchive;
    const bool loaded = LoadDatabase(mainDatabaseName);
    m_databaseChecksum = m_database->GetChecksum(0);
    return loaded;
}

bool Engine::LoadDatabase(const char* name)
{
    if (!name || !m_database)
        return false;
    FileSystem* files = GetFileSystem();
    File* file = files ? files->OpenFile(name, FILE_MODE_READ) : nullptr;
    if (!file) {
        char text[256];
        std::snprintf(text, sizeof(text), "Unable to open database archive: %s", name);
        Log(LOG_PRIORITY_IMPORTANT, "%s", text);
        return false;
    }
    const unsigned int length = file->GetLength();
    const void* bytes = length ? file->Lock(0, length) : nullptr;
    // A bad image is reported by the archive itself and leaves it as it was.
    const bool loaded = bytes && m_database->Load(bytes, length, m_database->IsLoaded());
    if (bytes)
        file->Unlock();
    files->CloseFile(file);
    if (!bytes)
        Log(LOG_PRIORITY_IMPORTANT, "Unable to read database archive: %s", name);
    if (!loaded)
        return false;
    Log(LOG_PRIORITY_INFO, "Loaded database archive: %s", name);
    return true;
}

void Engine::LoadCustomMapDatabase(const char* name)
{
    ObjectManager::Get()->ClearCache();
    LoadMainDatabase();
    LoadDatabase(name);
}

bool Engine::InitializeMod(const std::string& modName)
{
    const std::string base = Platform::GetUserDocumentsFolder() + "/My Games/Marrow Deep/";
    const std::string resources = base + "CustomMaps/" + modName + "/Resources";
    const std::string databaseFolder = base + "CustomMaps/" + modName + "/Database";
    if (FileSystem* files = GetFileSystem()) {
        files->RemoveSourcesFromPartition(FileSystem::PARTITION_0);
        files->AddSource(FileSystem::PARTITION_0, resources.c_str(), true, true, false);
        files->AddSource(FileSystem::PARTITION_0, databaseFolder.c_str(), true, false, false);
    }
    ObjectManager::Get()->ClearCache();
    LoadMainDatabase();
    const bool loaded = LoadDatabase((modName + ".arz").c_str());
    LocalizationManager::Instance()->LoadModStrings();
    return loaded;
}

void Engine::SetAsNetworkClient()
{
    // Only the sessions that end from now on make this game go on alone.
    if (m_clientConnectionManager)
        m_clientSessionsEnded =
            static_cast<ClientConnectionManager*>(m_clientConnectionManager)->GetNumSessionsEnded();
    m_connectionManager = m_clientConnectionManager;
    m_networkShim = m_clientNetworkShim;
    m_networkEnabled = true;
}

void Engine::SetAsNetworkServer()
{
    m_connectionManager = m_serverConnectionManager;
    m_networkShim = m_serverNetworkShim;
    m_networkEnabled = true;
}

void Engine::SetAsNetworkStub()
{
    m_networkEnabled = false;
    m_connectionManager = m_stubConnectionManager;
    m_networkShim = m_stubNetworkShim;
}

void Engine::GoOnAloneAfterClientSession()
{
    if (!IsNetworkClient())
        return;
    auto* client = static_cast<ClientConnectionManager*>(m_clientConnectionManager);
    if (client->GetNumSessionsEnded() == m_clientSessionsEnded)
        return;
    m_clientSessionsEnded = client->GetNumSessionsEnded();
    if (client->GetState() != ClientConnectionManager::STATE_IDLE)
        return; // a new join (Connect) took the ended session's place
    SetAsNetworkStub();
    const int host = client->GetSessionHostID();
    if (host >= 0)
        LogPrintf(LOG_PRIORITY_INFO, "Network: the game goes on alone; its new objects carry host id %d",
                  host);
    else
        LogPrintf(LOG_PRIORITY_INFO, "Network: the game goes on alone");
}

bool Engine::IsNetworkClient() const
{
    const ConnectionManager* manager = GetNetworkConnectionManager();
    return manager && manager == m_clientConnectionManager;
}

bool Engine::IsNetworkServer() const
{
    const ConnectionManager* manager = GetNetworkConnectionManager();
    return manager && manager == m_serverConnectionManager;
}

void Engine::ShutdownNetwork()
{
    if (m_clientConnectionManager)
        m_clientConnectionManager->Shutdown();
    if (m_serverConnectionManager)
        m_serverConnectionManager->Shutdown();
    if (m_stubConnectionManager)
        m_stubConnectionManager->Shutdown();
    SetAsNetworkStub();
}

NetworkEntityList* Engine::GetNetworkEntityList() const
{
    ConnectionManager* manager = GetNetworkConnectionManager();
    return manager ? manager->GetNetworkEntityList() : nullptr;
}

void Engine::SetNetworkController(NetworkControllerBase* controller)
{
    m_networkController = controller;
    for (ConnectionManager* manager :
         {m_clientConnectionManager, m_serverConnectionManager, m_stubConnectionManager})
        if (manager)
            manager->SetNetworkController(controller);
}

void Engine::SetNetPacketCreator(NetworkPacketCreatorBase* creator)
{
    m_packetCreator = creator;
    for (ConnectionManager* manager :
         {m_clientConnectionManager, m_serverConnectionManager, m_stubConnectionManager})
        if (manager)
            manager->SetNetPacketCreator(creator);
}

NetPacket* Engine::CreateNetPacket(PACKET_TYPE type)
{
    return m_packetCreator ? m_packetCreator->CreatePacket(type) : nullptr;
}

void Engine::DumpHostTable()
{
    if (ConnectionManager* manager = GetNetworkConnectionManager())
        manager->DumpHostTable();
}

void Engine::DumpNetworkStats()
{
    if (ConnectionManager* manager = GetNetworkConnectionManager())
        manager->DumpStats();
}

void Engine::SetNetworkLogging(bool enable)
{
    if (ConnectionManager* manager = GetNetworkConnectionManager())
        manager->SetNetworkLogging(enable);
}

void Engine::SetNetworkStats(bool enable)
{
    if (ConnectionManager* manager = GetNetworkConnectionManager())
        manager->SetNetworkStatisticsGathering(enable);
    if (m_networkShim)
        m_networkShim->SetNetworkStats(enable);
}

void Engine::DumpCharacterStatsToFile(const char* fileName)
{
    if (m_networkShim)
        m_networkShim->DumpPacketStatsToFile(fileName);
}

void Engine::AddStatisticText(const char* format, ...)
{
    StatisticsWidget* statistics = m_statisticsWidget.load(std::memory_order_acquire);
    if (!statistics || !format)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    statistics->AddText(text);
}

void Engine::AddStatisticGraph(const char* name, float value, const Color& color)
{
    if (StatisticsWidget* statistics = m_statisticsWidget.load(std::memory_order_acquire))
        statistics->AddGraph(name, value, color);
}

void Engine::RegisterResetObject(ResetObject* object)
{
    m_resetObjects.push_back(object);
}

void Engine::UnregisterResetObject(ResetObject* object)
{
    m_resetObjects.erase(std::remove(m_resetObjects.begin(), m_resetObjects.end(), object),
                         m_resetObjects.end());
}

void Engine::PreDeviceReset()
{
    Log(LOG_PRIORITY_INFO, "PreDeviceReset");
    m_deviceLost = true;
    if (m_graphicsEngine)
        m_graphicsEngine->PreDeviceReset();
    if (m_world)
        m_world->PreDeviceReset();
    // By index: an object may unregister itself (or others) while it is called.
    for (size_t i = 0; i < m_resetObjects.size(); ++i)
        m_resetObjects[i]->PreDeviceReset();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

void Engine::PostDeviceReset()
{
    for (size_t i = 0; i < m_resetObjects.size(); ++i)
        m_resetObjects[i]->PostDeviceReset();
    if (m_world)
        m_world->PostDeviceReset();
    if (m_graphicsEngine)
        m_graphicsEngine->PostDeviceReset();
    Log(LOG_PRIORITY_INFO, "PostDeviceReset");
    m_deviceLost = false;
    // The reset took time that no frame should count.
    ResetGameTimer();
}

bool Engine::InstallMapChunkCallback(MapChunkCallback* callback)
{
    return m_mapChunkCallbacks.Install(callback);
}

void Engine::WriteResourceLog(const char* fileName)
{
    if (!fileName)
        return;
    std::FILE* file = std::fopen(fileName, "wb");
    if (!file)
        return;
    if (m_graphicsEngine)
        m_graphicsEngine->WriteResourceLog(file);
    if (m_soundManager)
        m_soundManager->WriteResourceLog(file);
    std::fclose(file);
}

bool Engine::SaveScreenShot(const char* fileName)
{
    return m_graphicsEngine && m_graphicsEngine->SaveScreenShot(fileName);
}

void Engine::ShowProfiler(bool show)
{
    if (m_profilerWidget)
        m_profilerWidget->Enable(show);
}

void Engine::ShowRenderDebugger(bool show)
{
    if (m_renderDebugger)
        m_renderDebugger->Show(show);
}

void Engine::SetCinematicText(const std::string& text, float alpha)
{
    m_cinematicText = text;
    m_cinematicTextAlpha = alpha;
}

void Engine::InitializeAssertHandler(AssertHandler handler, bool flag1, bool flag2)
{
    g_assertHandler = handler;
    g_assertFlag1 = flag1;
    g_assertFlag2 = flag2;
}

void Engine::SetAssertHandlerLogPath(const std::string& path)
{
    g_assertLogPath = path;
}

} // namespace GAME
