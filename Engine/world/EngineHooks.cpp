#include "world/EngineHooks.h"

#include "core/ObjectManager.h"
#include "data/EffectResource.h"
#include "graphics/GraphicsEngine.h"
#include "network/ClientConnectionManager.h"
#include "network/ConnectionManager.h"
#include "network/NetworkShim.h"
#include "sound/AmbianceManager.h"
#include "world/ActorConfigCommand.h"
#include "world/CharacterAction.h"
#include "world/EffectData.h"
#include "world/Engine.h"
#include "world/World.h"

#include <string_view>

namespace GAME {

// Graphics stands in for a missing engine with the engine's own default.
static_assert(std::string_view(GraphicsServices::defaultUtilityFontStyle) == Engine::defaultUtilityFontStyle);

EngineHooks::~EngineHooks()
{
    RemoveResources();
    Remove();
}

void EngineHooks::Install()
{
    EngineDataServices::Install(this);
    TableDepot::SetServices(this);
    ObjectManager::SetLocalHostIdProvider(this);
    NetworkShim::SetCommandAccess(this);
    WorldServices::Install(this);
    GraphicsServices::Install(this);
    SceneServices::Install(this);
    EffectResource::SetEffectDataFactory(EffectData::GetResourceFactory());
    m_installed = true;
}

void EngineHooks::Remove()
{
    if (!m_installed)
        return;
    m_installed = false;
    // A later engine may have put its own in place: leave those alone.
    if (EngineDataServices::Get() == this)
        EngineDataServices::Install(nullptr);
    if (TableDepot::GetServices() == this)
        TableDepot::SetServices(nullptr);
    if (NetworkShim::GetCommandAccess() == this)
        NetworkShim::SetCommandAccess(nullptr);
    if (WorldServices::Get() == this)
        WorldServices::Install(nullptr);
    if (GraphicsServices::Get() == this)
        GraphicsServices::Install(nullptr);
    if (SceneServices::Get() == this)
        SceneServices::Install(nullptr);
    if (ObjectManager::GetLocalHostIdProvider() == this)
        ObjectManager::SetLocalHostIdProvider(nullptr);
    if (EffectResource::GetEffectDataFactory() == EffectData::GetResourceFactory())
        EffectResource::SetEffectDataFactory(nullptr);
}

void EngineHooks::InstallResources()
{
    LoadTableResources::Install(this);
    m_resourcesInstalled = true;
}

void EngineHooks::RemoveResources()
{
    if (!m_resourcesInstalled)
        return;
    m_resourcesInstalled = false;
    if (LoadTableResources::Get() == this)
        LoadTableResources::Install(nullptr);
}

unsigned int EngineHooks::GetFrameCount()
{
    return m_engine.GetFrameCount();
}

FileSystem* EngineHooks::GetFileSystem()
{
    return m_engine.GetFileSystem();
}

void EngineHooks::AddStatisticText(const char* text)
{
    m_engine.AddStatisticText("%s", text ? text : "");
}

unsigned int EngineHooks::GetEngineLogCategory()
{
    return gLogEngine;
}

bool EngineHooks::AreGraphicsStatsEnabled()
{
    GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    return graphics && graphics->IsStatsEnabled();
}

bool EngineHooks::IsLoadingDbFromArchive()
{
    return m_engine.IsLoadingDbFromArchive();
}

DatabaseArchive* EngineHooks::GetDatabaseArchive()
{
    return m_engine.GetDatabaseArchive();
}

int EngineHooks::GetLocalHostID()
{
    // The role is one read: while the stub is current the network is off, whatever the flag said
    // a moment before.
    ConnectionManager* manager = m_engine.GetNetworkConnectionManager();
    if (manager && manager != m_engine.m_stubConnectionManager && m_engine.IsNetworkEnabled())
        return manager->GetLocalHostID();
    // Without network: 0, or the host id that a client session, now over, gave this game. Its
    // server numbered its objects under host 0 and every other client under its own host id, so
    // what of theirs reached this game carries other bits than this game's own, which its
    // counter goes on from: under host 0 that counter would run into the server's objects, which
    // are numbered from 1 as well. Only a client that held the same host id before this one
    // joined may have left objects here under it: IdsMayBeTaken has new ids skip those.
    const int left = ClientSessionHostID();
    return left >= 0 ? left : 0;
}

bool EngineHooks::IdsMayBeTaken()
{
    // Alone after a session, or in a later one: what an earlier session sent here may carry the
    // host id this game numbers under now.
    const auto* client = static_cast<const ClientConnectionManager*>(m_engine.m_clientConnectionManager);
    return ClientSessionHostID() >= 0 && (!client->IsConnected() || client->GetNumSessionsEnded() > 0);
}

int EngineHooks::ClientSessionHostID() const
{
    const auto* client = static_cast<const ClientConnectionManager*>(m_engine.m_clientConnectionManager);
    return client ? client->GetSessionHostID() : -1;
}

GraphicsMesh* EngineHooks::LoadMesh(const std::string& fileName)
{
    GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    return graphics ? graphics->LoadMesh(fileName) : nullptr;
}

GraphicsTexture* EngineHooks::LoadTexture(const std::string& fileName)
{
    GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    return graphics ? graphics->LoadTexture(fileName) : nullptr;
}

GraphicsShader2* EngineHooks::LoadShader2(const std::string& fileName)
{
    GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    return graphics ? graphics->LoadShader2(fileName) : nullptr;
}

GraphicsAnim* EngineHooks::LoadAnimation(const std::string& fileName)
{
    GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    return graphics ? graphics->LoadAnimation(fileName) : nullptr;
}

EffectResource* EngineHooks::LoadResourceEffect(const std::string& fileName)
{
    EffectResourceManager* effects = m_engine.GetEffectResourceManager();
    return effects ? effects->LoadTypedResource(fileName) : nullptr;
}

NetPacket* EngineHooks::GetActionPacket(CharacterAction* action)
{
    return action ? action->GetNetPacket() : nullptr;
}

unsigned int EngineHooks::GetActionCharacterId(CharacterAction* action)
{
    return action ? action->GetCharacterId() : 0;
}

bool EngineHooks::SupportsNetwork(ActorConfigCommand* command)
{
    return command && command->SupportsNetwork();
}

NetPacket* EngineHooks::GetCommandPacket(ActorConfigCommand* command)
{
    return command ? command->GetNetPacket() : nullptr;
}

unsigned int EngineHooks::GetCommandParentId(ActorConfigCommand* command)
{
    return command ? command->GetParentId() : 0;
}

void EngineHooks::DeleteCommand(ActorConfigCommand* command)
{
    delete command;
}

SectorDataManager* EngineHooks::GetSectorDataManager()
{
    return m_engine.GetSectorDataManager();
}

bool EngineHooks::InstallMapChunkCallback(MapChunkCallback* callback)
{
    return m_engine.InstallMapChunkCallback(callback);
}

const MapChunkCallbackMap& EngineHooks::GetChunkCallbackMap()
{
    return m_engine.GetChunkCallbackMap();
}

bool EngineHooks::IsEditorMode()
{
    return m_engine.IsEditorMode();
}

bool EngineHooks::IsNetworkServer()
{
    return m_engine.IsNetworkServer();
}

bool EngineHooks::IsNetworkClient()
{
    return m_engine.IsNetworkClient();
}

float EngineHooks::GetEntityUpdateInflation()
{
    return Engine::GetEntityUpdateInflation();
}

const FilterFunction<Entity>* EngineHooks::GetEntityRenderFilter()
{
    return m_engine.GetEntityRenderFilter();
}

PhysicsEngine* EngineHooks::GetPhysicsEngine()
{
    return m_engine.GetPhysicsEngine();
}

NetworkControllerBase* EngineHooks::GetNetworkController()
{
    return m_engine.GetNetworkController();
}

NetworkEntityList* EngineHooks::GetNetworkEntityList()
{
    return m_engine.GetNetworkEntityList();
}

std::string EngineHooks::GetSavePath()
{
    return m_engine.GetSavePath();
}

bool EngineHooks::IsSingleProcessorMode()
{
    return m_engine.GetIsSingleProcessorModeEnabled();
}

RenderDevice* EngineHooks::GetRenderDevice()
{
    GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    return graphics ? graphics->GetRenderDevice() : nullptr;
}

ResourceLoader* EngineHooks::GetResourceLoader()
{
    return m_engine.GetResourceLoader();
}

GraphicsEngine* EngineHooks::GetGraphicsEngine()
{
    return m_engine.GetGraphicsEngine();
}

unsigned int EngineHooks::GetGraphicsLogCategory()
{
    return gLogGraphics;
}

int EngineHooks::GetUpdateTime()
{
    return m_engine.GetUpdateTime();
}

bool EngineHooks::DoCharacterProcessing()
{
    return m_engine.DoCharacterProcessing();
}

std::string EngineHooks::GetUtilityFontStyle()
{
    return m_engine.GetUtilityFontStyle();
}

SoundManager* EngineHooks::GetSoundManager()
{
    return m_engine.GetSoundManager();
}

BaseResourceManager* EngineHooks::GetEffectResourceManager()
{
    return m_engine.GetEffectResourceManager();
}

InputDevice* EngineHooks::GetInputDevice()
{
    return m_engine.GetInputDevice();
}

bool EngineHooks::GetAmbianceTint(int environment, Color& light, Color& skyAmbient, Color& groundAmbient)
{
    const AmbianceManager* ambiance = m_engine.GetAmbianceManager();
    if (!ambiance)
        return false;
    light = ambiance->GetLightColor(environment);
    skyAmbient = ambiance->GetSkyAmbientColor(environment);
    groundAmbient = ambiance->GetGroundAmbientColor(environment);
    return true;
}

int EngineHooks::GetWorldRegionCount()
{
    const World* world = m_engine.GetWorld();
    return world ? world->GetNumRegions() : 0;
}

} // namespace GAME
