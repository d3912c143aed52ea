// The one process-wide engine object: it creates, owns and destroys every subsystem of the library.
// The host constructs it (as a rule its own class derived from it), stores it in gEngine, sets the
// paths, calls Initialize once, then Update and Render (and PresentSurface) every frame, and at the
// end Shutdown and the destructor; the library never calls these itself. The host's overrides of
// the two Log operations are where every log line of the library goes.
//
// While it lives the engine answers the lower layers' calls upwards (the data layer's services,
// the table depot's database, the object manager's network host id, load tables' resources, the
// network shims' access to actions and commands, the world's sector data and map chunk callbacks,
// the game timer's reset after a pause, the current world) and routes every library log line to
// gEngine.
//
// Threads: Initialize, the frame, Shutdown and the destructor run on the host's main thread, which
// Initialize names "Main Thread". Any thread may log, add statistics text and graphs, and register
// forced updates; everything else is main-thread only.
#pragma once

#include "core/CriticalSection.h"
#include "core/ThreadMonitor.h"
#include "core/Timer.h"
#include "core/WorldFrustum.h"
#include "graphics/Display.h"
#include "graphics/OverlayActivityManager.h"
#include "graphics/OverlayActivityWidget.h"
#include "network/NetPacket.h"
#include "platform/Threading.h"
#include "world/GameInfo.h"
#include "world/MapChunkCallback.h"
#include "world/SectorDataManager.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace GAME {

class AmbianceManager;
class Color;
class ConnectionManager;
class DatabaseArchive;
class DisplayWidget;
class EffectResource;
class EngineHooks;
class Entity;
class FileSystem;
class FontStyle;
class GraphicsEngine;
class GraphicsEngineSettings;
class InputDevice;
class NetworkControllerBase;
class NetworkEntityList;
class NetworkPacketCreatorBase;
class NetworkShim;
class Options;
class PathMeshErrorBuffer;
class PhysicsEngine;
class ProfilerWidget;
class RenderDebugger;
class ResetObject;
class ResourceLoader;
class SingletonManager;
class SoundManager;
class StatisticsWidget;
class World;
template <class T> class FilterFunction;
template <class T> class ResourceManager;

enum LogPriority : int
{
    LOG_PRIORITY_INFO = 0,      // progress, success, dumps and traces
    LOG_PRIORITY_WARNING = 1,   // a failure the engine runs on after
    LOG_PRIORITY_IMPORTANT = 2, // what the host must always see
};

class Engine : private StatisticGraphSink
{
public:
    // The log file's version text and GetVersion.
    static constexpr const char* versionText = "1.11";
    static constexpr const char* defaultUtilityFontStyle = "Records/UI/FontStyles/WhiteArial.dbr";
    static constexpr const char* mainDatabaseName = "database.arz";
    // Pending object destructions carried out per frame.
    static constexpr unsigned int destroyPerFrame = 20;

    // Sets the defaults and installs the engine's answers to the lower layers; opens nothing.
    Engine();
    // Shuts down (again, if the host did) and then deletes the options and the ambiance manager.
    virtual ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Start-up (see Engine.cpp for the order). window is passed on untouched; flag is not read.
    // A failed graphics device is fatal: the error goes to Platform::FatalError, and when a hook
    // returns from it Initialize returns at once (Shutdown and the destructor stay safe).
    virtual void Initialize(void* window, const GraphicsEngineSettings& settings, bool editorMode, bool flag,
                            FileSystem* fileSystem);
    virtual bool IsEditorMode() const { return m_editorMode; }
    virtual bool IsPSEditorMode() const { return m_psEditorMode; }
    // The library's bodies are empty: the host's overrides are the log sink (an override puts its
    // lines in the HTML log file through WriteLogFileLine, below). They are called from
    // the engine's threads until Shutdown, so an override that uses members of its own class has
    // that class's destructor call Shutdown (~Engine runs after those members are gone).
    virtual void Log(LogPriority priority, unsigned int category, const char* format, ...) const
        __attribute__((format(printf, 4, 5)));
    virtual void Log(LogPriority priority, const char* format, ...) const
        __attribute__((format(printf, 3, 4)));

    // May be called more than once; each step skips what is gone already.
    void Shutdown();

    // ---- paths (set by the host before Initialize) ----
    void SetBaseUserPath(const std::string& path) { m_baseUserPath = path; }
    void SetLogPath(const std::string& path) { m_logPath = path; }
    void SetDumpPath(const std::string& path) { m_dumpPath = path; }
    void SetDefaultSettingsPath(const std::string& path) { m_defaultSettingsPath = path; }
    void SetNormalSettingsPath(const std::string& path) { m_normalSettingsPath = path; }
    void SetKeymapPath(const std::string& path) { m_keymapPath = path; }
    void SetSavePath(const std::string& path) { m_savePath = path; }
    const std::string& GetBaseUserPath() const { return m_baseUserPath; }
    const std::string& GetLogPath() const { return m_logPath; }
    const std::string& GetDumpPath() const { return m_dumpPath; }
    const std::string& GetDefaultSettingsPath() const { return m_defaultSettingsPath; }
    const std::string& GetNormalSettingsPath() const { return m_normalSettingsPath; }
    const std::string& GetKeymapPath() const { return m_keymapPath; }
    const std::string& GetSavePath() const { return m_savePath; }
    void SetFileSystem(FileSystem* fileSystem);
    FileSystem* GetFileSystem() const { return m_fileSystem.load(std::memory_order_acquire); }

    // ---- logging ----
    // Numbered from 1 in creation order; a known name gives its number. 0 means no category.
    unsigned int CreateLogCategory(const char* name);
    // Sets the caller's variable to 0; the name stays known.
    void RemoveLogCategory(unsigned int& category);
    void EnableLog() { m_logEnabled = true; }
    void DisableLog() { m_logEnabled = false; }
    bool IsLogEnabled() const { return m_logEnabled; }
    bool IsLogFileOpen() const { return m_logFile != nullptr; }

    // ---- the HTML log file ----
    // Initialize opens it at the log path and writes its header; the library writes nothing more
    // of its own, for where lines go is the host's choice. An override of Log that wants its lines
    // in the file hands each line it prints to WriteLogFileLine: it becomes a row of the file's
    // preformatted block (FormatLogFileRow), written and flushed at once. Lines handed in before
    // Initialize opened the file (the options read before start-up, say) are kept, up to
    // maxKeptLogFileLines, and go in first; without a file, and after Shutdown, a line goes
    // nowhere. Shutdown ends the block and the document before it closes the file, once a row
    // was written. Any thread.
    static constexpr size_t maxKeptLogFileLines = 1000;
    void WriteLogFileLine(LogPriority priority, const std::string& line) const;
    // Opens the log file now, as Initialize does first: for a host whose file must hold the lines
    // of its own start-up too, should the process end before Initialize returns (Ctrl-C twice, a
    // crash). Initialize then keeps the file so opened; a second call before it does nothing.
    // Main thread, the log path set.
    void OpenLogFile();
    // A line as a row of the log file: &, <, > and " as entities, control characters but tabs as
    // '?', a warning in colour and an important line in bold; the row ends in a line feed.
    static std::string FormatLogFileRow(LogPriority priority, const std::string& line);

    // ---- options and databases ----
    // Made on the first call: the defaults file, then the user's settings file.
    Options* GetOptions();
    // Clears the record-table cache, reloads the main database and loads the named one on top.
    void LoadCustomMapDatabase(const char* name);
    DatabaseArchive* GetDatabaseArchive() const { return m_database; }
    unsigned int GetDatabaseArchiveChecksum() const { return m_databaseChecksum; }
    bool IsLoadingDbFromArchive() const { return true; }
    // Mounts the mod's resource and database folders (under the user's documents folder) as
    // partition 0, reloads the main database and the mod's on top, and loads the mod's texts.
    // Answers whether the mod's database loaded.
    bool InitializeMod(const std::string& modName);

    // ---- network role ----
    // The role changes on the main thread; the role's getters and the host id the object manager
    // asks for (EngineHooks) may be read from any thread.
    //
    // A client whose session ends (the server's goodbye, a lost or timed-out link, a join that
    // fails, its own Shutdown), at any moment, goes on as a game of its own: the frame that sees
    // the end makes the stub pair current, as ShutdownNetwork does, so that the levels read from
    // then on keep every entity a client leaves to the server, and actor commands run here. What
    // the session made stays. New objects carry the host id the session gave this game, and skip
    // ids already in the table (EngineHooks::GetLocalHostID says why). A new Connect before that
    // frame keeps the engine a client.
    //
    // Objects and joins, for a game that loads levels around a join:
    // - A level loaded while the client is still joining (Connect made, the server's answer not
    //   in yet) gets none of its objects: no object id can be made before the session gives this
    //   game its host id, so each of its entities is refused ("Unable to spawn object") and the
    //   level stays empty of them, even when the join then fails and the game goes on alone. Load
    //   levels once the join is over (IsConnected, or the client's "GameEvent_NetworkConnectAbort"
    //   for a join that failed).
    // - A game that goes on alone after a session keeps numbering its objects under that
    //   session's host id. When it joins another session, whose server may have given that id to
    //   another client, the objects numbered under it move under the host id the new session gives
    //   (ObjectManager::RenumberHost, as the join's answer arrives), so that they never meet that
    //   client's objects. Entities' attachments and the forced updates follow; an id the game kept
    //   of its own objects is found again through ObjectManager::GetRenumberedId. A game's objects
    //   made before its first session carry host 0, the server's own: they are not moved, so a
    //   game that played alone loads its world anew after its first join.
    void SetAsNetworkClient();
    void SetAsNetworkServer();
    void SetAsNetworkStub();
    bool IsNetworkClient() const;
    bool IsNetworkServer() const;
    bool IsNetworkEnabled() const { return m_networkEnabled.load(std::memory_order_acquire); }
    // Every connection manager shuts down; the stub pair becomes current.
    void ShutdownNetwork();
    ConnectionManager* GetNetworkConnectionManager() const
    {
        return m_connectionManager.load(std::memory_order_acquire);
    }
    NetworkShim* GetNetworkShim() const { return m_networkShim; }
    NetworkEntityList* GetNetworkEntityList() const;
    // Both are handed on to the connection managers, which make and deliver received packets.
    void SetNetworkController(NetworkControllerBase* controller);
    NetworkControllerBase* GetNetworkController() const { return m_networkController; }
    void SetNetPacketCreator(NetworkPacketCreatorBase* creator);
    // A new packet of the host's class; null without a packet creator.
    NetPacket* CreateNetPacket(PACKET_TYPE type);
    void DumpHostTable();
    void DumpNetworkStats();
    void SetNetworkLogging(bool enable);
    void SetNetworkStats(bool enable);
    void DumpCharacterStatsToFile(const char* fileName);
    void NetworkFrustumStats(bool enable) { m_networkFrustumStats = enable; }
    void CharacterCommandLogEnable(bool enable) { m_characterCommandLog = enable; }
    bool IsCharacterCommandLogEnabled() const { return m_characterCommandLog; }
    void CharacterDataLogEnable(bool enable) { m_characterDataLog = enable; }
    bool IsCharacterDataLogEnabled() const { return m_characterDataLog; }

    // ---- statistics (any thread) ----
    // One line of at most 1023 characters; nothing without the statistics widget.
    void AddStatisticText(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AddStatisticGraph(const char* name, float value, const Color& color) override;
    StatisticsWidget* GetStatisticsWidget() const
    {
        return m_statisticsWidget.load(std::memory_order_acquire);
    }
    ProfilerWidget* GetProfilerWidget() const { return m_profilerWidget; }
    RenderDebugger* GetRenderDebugger() const { return m_renderDebugger; }

    // ---- device reset ----
    // Duplicates are kept and called twice; Unregister removes every entry.
    void RegisterResetObject(ResetObject* object);
    void UnregisterResetObject(ResetObject* object);
    void PreDeviceReset();
    void PostDeviceReset();
    void SetDeviceLost() { m_deviceLost = true; }
    bool IsInDeviceReset() const { return m_deviceLost; }

    // ---- map chunk callbacks ----
    // Takes ownership (deleted at shut-down); false for null and, with a notice, for a chunk id
    // that has a callback already (the new one then stays the caller's).
    bool InstallMapChunkCallback(MapChunkCallback* callback);
    const MapChunkCallbackMap& GetChunkCallbackMap() const { return m_mapChunkCallbacks; }
    SectorDataManager* GetSectorDataManager() { return &m_sectorDataManager; }

    // Writes the graphics engine's and the sound manager's resource lists into the file.
    void WriteResourceLog(const char* fileName);

    // ---- the frame (main thread) ----
    // One frame; frustum is the camera's view (may be null); updateWorld false skips physics and
    // the world's update.
    void Update(const WorldFrustum* frustum, bool updateWorld);
    void Render();
    // The resource loader's main-thread work, then the frame goes to the screen.
    void PresentSurface();
    // Idle lowers the main thread to normal priority and stops drawing; a server never idles.
    void SetIdle(bool idle);
    bool GetIdle() const { return m_idle; }
    void RegisterForForcedUpdates(unsigned int objectId);
    void UnregisterForForcedUpdates(unsigned int objectId);
    std::vector<unsigned int> GetForcedUpdateIds();
    void ProcessUserInput();
    // Server only: stores the client's view and brings its entities up to date.
    void UpdateFrustum(int host, const WorldFrustum& frustum);
    int GetUpdateTime() const { return m_gameTimer.GetElapsedTime(); }
    // The next frame's delta counts from now.
    void ResetGameTimer();
    void EnableTimeSmoothing(bool enable) { m_timeSmoothing = enable; }
    void ShowThreadMonitor(bool show) { m_showThreadMonitor = show; }
    unsigned int GetFrameCount() const { return m_frameCount.load(std::memory_order_acquire); }
    void UnloadUnreferencedResources();
    // Sound at the origin, the world unloaded, music and ambiance reset, overlays cleared.
    void UnloadWorld();
    static float GetClientEntityInflation() { return 30.0f; }
    static float GetEntityUpdateInflation() { return 15.0f; }
    static float GetEntityPreLoadInflation() { return 35.0f; }
    static float GetLevelLoadInflation() { return 55.0f; }

    // ---- accessors ----
    static const char16_t* GetVersion() { return u"1.11"; }
    GraphicsEngine* GetGraphicsEngine() const { return m_graphicsEngine; }
    InputDevice* GetInputDevice() const { return m_inputDevice; }
    PhysicsEngine* GetPhysicsEngine() const { return m_physicsEngine; }
    ResourceLoader* GetResourceLoader() const { return m_resourceLoader; }
    ResourceManager<EffectResource>* GetEffectResourceManager() const { return m_effectResourceManager; }
    SoundManager* GetSoundManager() const { return m_soundManager; }
    AmbianceManager* GetAmbianceManager() const { return m_ambianceManager; }
    SingletonManager* GetSingletonManager() const { return m_singletonManager; }
    World* GetWorld() const { return m_world; }
    Display& GetDisplay() { return m_display; }
    OverlayActivityManager& GetOverlayActivityManager() { return m_overlayActivityManager; }
    // The display widget that draws the overlay activities.
    const DisplayWidget* GetOverlayActivityWidget() const { return &m_overlayWidget; }
    GameInfo* GetGameInfo() { return &m_gameInfo; }
    // The utility font style's record name.
    const std::string& GetUtilityFontStyle() const { return m_utilityFontStyleName; }
    // The primary surface as a PNG (".png") or TGA (".tga") file; other names are refused, logged.
    bool SaveScreenShot(const char* fileName);
    void ShowProfiler(bool show);
    void ShowRenderDebugger(bool show);
    bool GetIsSingleProcessorModeEnabled() const { return m_singleProcessorMode; }
    void SetPSEditorMode() { m_psEditorMode = true; }
    void SetMapRendering(bool on) { m_mapRendering = on; }
    bool IsMapRendering() const { return m_mapRendering; }
    void SetTeleportMode(bool on) { m_teleportMode = on; }
    bool IsInTeleportMode() const { return m_teleportMode; }
    void SetTextCinematic(bool on) { m_textCinematic = on; }
    bool IsTextCinematic() const { return m_textCinematic; }
    void SetCinematicText(const std::string& text, float alpha);
    std::string GetCinematicText() const { return m_cinematicText; }
    float GetCinematicTextAlpha() const { return m_cinematicTextAlpha; }
    void EnableCharacterProcessing() { m_characterProcessing = true; }
    void DisableCharacterProcessing() { m_characterProcessing = false; }
    bool DoCharacterProcessing() const { return m_characterProcessing; }
    void IncrementPathingCounter() { ++m_pathingCounter; }
    void DecrementPathingCounter() { --m_pathingCounter; }
    int GetPathingCounter() const { return m_pathingCounter; }
    void SetPathMeshErrorBuffer(PathMeshErrorBuffer* buffer) { m_pathMeshErrorBuffer = buffer; }
    PathMeshErrorBuffer* GetPathMeshErrorBuffer() const { return m_pathMeshErrorBuffer; }
    void SetEntityRenderFilter(FilterFunction<Entity>* filter) { m_entityRenderFilter = filter; }
    FilterFunction<Entity>* GetEntityRenderFilter() const { return m_entityRenderFilter; }
    void SetPatchFilename(const std::string& name) { m_patchFileName = name; }
    std::string GetPatchFilename() const { return m_patchFileName; }
    // The last frame's view (set by Update when it is given one).
    const WorldFrustum& GetPriorFrameFrustum() const { return m_priorFrameFrustum; }
    // False without a world; otherwise the world's entities in the prior frame's view.
    bool GetEntitiesInPriorFrameFrustum(std::vector<Entity*>& entities);
    void AddWidget(DisplayWidget* widget) { m_display.AddWidget(widget); }
    void RemoveWidget(DisplayWidget* widget) { m_display.RemoveWidget(widget); }
    // Kept for the host in process-wide variables; the library does not read them.
    using AssertHandler = void (*)(const char* expression, const char* file, int line);
    void InitializeAssertHandler(AssertHandler handler, bool flag1, bool flag2);
    void SetAssertHandlerLogPath(const std::string& path);
    // No memory viewer or tables on this platform: these do nothing.
    void ShowMemViewer(bool) {}
    void WriteMemLog(const char*) {}
    void WriteMemTable(const char*) {}
    void AddLog(const char*) {}
    void RemoveLog(const char*) {}

    // The input device Initialize makes outside editor mode; a host with its own input backend (or
    // a test) supplies a factory before Initialize. Null restores InputDevice::Create.
    using InputDeviceFactory = InputDevice* (*)();
    void SetInputDeviceFactory(InputDeviceFactory factory) { m_inputDeviceFactory = factory; }

private:
    friend class EngineHooks;

    void FatalError();
    bool LoadMainDatabase();
    bool LoadDatabase(const char* name);
    // Opens the log file, writes its header and the lines kept for it.
    void OpenLogFileNow();
    // Under m_logFileLock, with the file open: the row, after the block's start if it is the first.
    void WriteLogFileRow(LogPriority priority, const std::string& line) const;
    void UpdateForcedEntities();
    // Under m_forcedUpdateLock: the forced updates' ids after the object manager's renumberings.
    void FollowRenumberings();
    void UpdateClientEntities(int host);
    // After the network pump: a client whose session ended goes on as a game of its own.
    void GoOnAloneAfterClientSession();
    void DestroySingletons();

    SectorDataManager m_sectorDataManager;
    OverlayActivityManager m_overlayActivityManager;
    // Draws the overlays in the frame (in the display from start-up to shut-down).
    OverlayActivityWidget m_overlayWidget{m_overlayActivityManager};
    AmbianceManager* m_ambianceManager = nullptr;
    World* m_world = nullptr;
    SoundManager* m_soundManager = nullptr;
    SingletonManager* m_singletonManager = nullptr;
    Platform::ThreadId m_mainThread = 0;
    std::string m_logPath;
    std::string m_dumpPath;
    std::string m_defaultSettingsPath;
    std::string m_normalSettingsPath;
    std::string m_keymapPath;
    std::string m_baseUserPath;
    bool m_singleProcessorMode = false;
    std::string m_utilityFontStyleName = defaultUtilityFontStyle;
    bool m_deviceLost = false;
    std::vector<ResetObject*> m_resetObjects;
    int m_pathingCounter = 0;
    ResourceManager<EffectResource>* m_effectResourceManager = nullptr;
    PhysicsEngine* m_physicsEngine = nullptr;
    GraphicsEngine* m_graphicsEngine = nullptr;
    InputDevice* m_inputDevice = nullptr;
    PathMeshErrorBuffer* m_pathMeshErrorBuffer = nullptr;
    ResourceLoader* m_resourceLoader = nullptr;
    std::FILE* m_logFile = nullptr;
    // Rows of the host's lines: the lock, whether the block is open, the lines kept until the file
    // opens and whether Initialize has tried to open it.
    mutable CriticalSection m_logFileLock;
    mutable bool m_logFileBlock = false;
    mutable std::vector<std::pair<LogPriority, std::string>> m_keptLogFileLines;
    bool m_logFileTried = false;
    bool m_logFileOpenedEarly = false; // by the host's OpenLogFile, for the next Initialize
    std::string m_savePath;
    std::vector<std::string> m_logCategoryNames;
    CriticalSection m_logCategoryLock;
    bool m_characterCommandLog = false;
    bool m_characterDataLog = false;
    bool m_editorMode = false;
    bool m_psEditorMode = false;
    bool m_showThreadMonitor = false;
    ThreadMonitor m_threadMonitor;
    bool m_timeSmoothing = true;
    GameTimer m_gameTimer;
    std::atomic<FileSystem*> m_fileSystem{nullptr};
    DatabaseArchive* m_database = nullptr;
    FontStyle* m_utilityFontStyle = nullptr; // the style manager's, not owned
    Options* m_options = nullptr;
    Display m_display;
    // Read by any thread that adds statistics.
    std::atomic<StatisticsWidget*> m_statisticsWidget{nullptr};
    ProfilerWidget* m_profilerWidget = nullptr;
    RenderDebugger* m_renderDebugger = nullptr;
    GameInfo m_gameInfo;
    std::atomic<unsigned int> m_frameCount{0};
    bool m_logEnabled = true;
    std::atomic<ConnectionManager*> m_connectionManager{nullptr};
    ConnectionManager* m_clientConnectionManager = nullptr;
    ConnectionManager* m_serverConnectionManager = nullptr;
    ConnectionManager* m_stubConnectionManager = nullptr;
    NetworkShim* m_networkShim = nullptr;
    NetworkShim* m_clientNetworkShim = nullptr;
    NetworkShim* m_serverNetworkShim = nullptr;
    NetworkShim* m_stubNetworkShim = nullptr;
    std::atomic<bool> m_networkEnabled{false};
    // The client's ended sessions that the frame has seen (GoOnAloneAfterClientSession).
    unsigned m_clientSessionsEnded = 0;
    bool m_networkFrustumStats = false;
    std::string m_patchFileName;
    NetworkControllerBase* m_networkController = nullptr;
    NetworkPacketCreatorBase* m_packetCreator = nullptr;
    std::vector<unsigned int> m_forcedUpdateIds;
    unsigned int m_forcedUpdateRenumberings = 0; // the object manager's renumberings they follow
    WorldFrustum m_priorFrameFrustum;
    MapChunkCallbackMap m_mapChunkCallbacks;
    FilterFunction<Entity>* m_entityRenderFilter = nullptr;
    bool m_mapRendering = false;
    CriticalSection m_forcedUpdateLock;
    std::string m_cinematicText;
    float m_cinematicTextAlpha = 0.0f;
    bool m_textCinematic = false;
    bool m_teleportMode = false;
    bool m_idle = false;
    bool m_characterProcessing = true;
    unsigned int m_databaseChecksum = 0;
    InputDeviceFactory m_inputDeviceFactory = nullptr;
    EngineHooks* m_hooks = nullptr;
};

// The host's engine, set before Initialize; the library reaches the engine only through it.
extern Engine* gEngine;
// The numbers of the log categories "Engine" and "Graphics" once start-up made them.
extern unsigned int gLogEngine;
extern unsigned int gLogGraphics;

// Physical processor cores from the operating system's topology (logical siblings of one core
// count once); at least 1. Computed once.
unsigned int GetNumberOfProcessorCores();

} // namespace GAME
