// The engine's answers to the layers below it, which may not include the engine: the data layer's
// services (frame count, file system, statistics text, log category, graphics statistics), the
// table depot's record database, the object manager's network host id, load tables' resources
// (meshes, textures, shaders and animations of the graphics engine, effects of the effect
// resource manager), the network shims' access to actions and commands, the world's sector data
// manager, map chunk callbacks, save path, render device and resource loader, graphics' engine
// in use, update time, character processing, utility font style, sound for videos and effect
// resources, and the scene's input device, ambiance tint and world region count. The engine owns one and
// installs it when it is constructed (the resource loads only while it has a graphics engine); each piece is
// removed again when the engine goes away, unless another engine took its place. What the lower layers need
// of the world's own objects comes from WorldHooks.
//
// Threads: the getters of the data services and the table depot are called from loader threads
// too; they read the engine's atomics or pointers that only change while no loader runs. The
// object manager asks for the host id on whichever thread makes an object: it reads the engine's
// role and the client's host ids, atomics that the frame changes while loaders run.
#pragma once

#include "core/LocalHostIdProvider.h"
#include "data/EngineDataServices.h"
#include "data/LoadTableResources.h"
#include "data/TableDepot.h"
#include "graphics/GraphicsServices.h"
#include "network/NetworkCommandAccess.h"
#include "scene/SceneServices.h"
#include "world/WorldServices.h"

namespace GAME {

class Engine;

class EngineHooks : public EngineDataServices,
                    public TableDepotServices,
                    public LocalHostIdProvider,
                    public LoadTableResources,
                    public NetworkCommandAccess,
                    public WorldServices,
                    public GraphicsServices,
                    public SceneServices
{
public:
    explicit EngineHooks(Engine& engine) : m_engine(engine) {}
    ~EngineHooks() override;
    EngineHooks(const EngineHooks&) = delete;
    EngineHooks& operator=(const EngineHooks&) = delete;

    // The data services, the depot's services, the host-id provider, the command access, the
    // world's services, the graphics services and the scene services.
    void Install();
    void Remove();
    // The load tables' resources, while the graphics engine exists.
    void InstallResources();
    void RemoveResources();

    // EngineDataServices and TableDepotServices
    unsigned int GetFrameCount() override;
    FileSystem* GetFileSystem() override;
    void AddStatisticText(const char* text) override;
    unsigned int GetEngineLogCategory() override;
    bool AreGraphicsStatsEnabled() override;
    bool IsLoadingDbFromArchive() override;
    DatabaseArchive* GetDatabaseArchive() override;

    // LocalHostIdProvider
    int GetLocalHostID() override;
    bool IdsMayBeTaken() override;

    // LoadTableResources
    GraphicsMesh* LoadMesh(const std::string& fileName) override;
    GraphicsTexture* LoadTexture(const std::string& fileName) override;
    GraphicsShader2* LoadShader2(const std::string& fileName) override;
    GraphicsAnim* LoadAnimation(const std::string& fileName) override;
    EffectResource* LoadResourceEffect(const std::string& fileName) override;

    // NetworkCommandAccess: the action's and the command's own operations; DeleteCommand deletes.
    NetPacket* GetActionPacket(CharacterAction* action) override;
    unsigned int GetActionCharacterId(CharacterAction* action) override;
    bool SupportsNetwork(ActorConfigCommand* command) override;
    NetPacket* GetCommandPacket(ActorConfigCommand* command) override;
    unsigned int GetCommandParentId(ActorConfigCommand* command) override;
    void DeleteCommand(ActorConfigCommand* command) override;

    // WorldServices
    SectorDataManager* GetSectorDataManager() override;
    bool InstallMapChunkCallback(MapChunkCallback* callback) override;
    const MapChunkCallbackMap& GetChunkCallbackMap() override;
    bool IsEditorMode() override;
    bool IsNetworkServer() override;
    bool IsNetworkClient() override;
    float GetEntityUpdateInflation() override;
    const FilterFunction<Entity>* GetEntityRenderFilter() override;
    PhysicsEngine* GetPhysicsEngine() override;
    NetworkControllerBase* GetNetworkController() override;
    NetworkEntityList* GetNetworkEntityList() override;
    std::string GetSavePath() override;
    bool IsSingleProcessorMode() override;
    RenderDevice* GetRenderDevice() override;
    ResourceLoader* GetResourceLoader() override;

    // GraphicsServices
    GraphicsEngine* GetGraphicsEngine() override;
    unsigned int GetGraphicsLogCategory() override;
    int GetUpdateTime() override;
    bool DoCharacterProcessing() override;
    std::string GetUtilityFontStyle() override;
    SoundManager* GetSoundManager() override;
    BaseResourceManager* GetEffectResourceManager() override;

    // SceneServices
    InputDevice* GetInputDevice() override;
    bool GetAmbianceTint(int environment, Color& light, Color& skyAmbient, Color& groundAmbient) override;
    int GetWorldRegionCount() override;

private:
    // The host id of the client's last session, -1 when it never joined one.
    int ClientSessionHostID() const;

    Engine& m_engine;
    bool m_installed = false;
    bool m_resourcesInstalled = false;
};

} // namespace GAME
