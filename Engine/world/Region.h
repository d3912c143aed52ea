// One area of the world with its own coordinate space: an integer offset from the world origin, a
// bounding box in region space, its portals, and a level that is loaded only while the region is
// near a view. The region owns the level's whole life: it loads it on a "Level Loading Thread" of
// its own (or, when it is needed at once, on the calling thread), completes it on the main thread
// (PostLoadLevel), counts the frames in which nobody used it and unloads it after about 600 of
// them, keeping the level's state in memory for the next load. It keeps the region's two fog-of-war
// grids and saves the persistent one on a "FOW Saving Thread", and it holds the minimap and icon
// textures (decoded from DDS or TGA files) and, for the editor, draws both
// pictures anew from above (RebuildMapData). Owns its portals, level, saved state, fog and threads,
// and the level's ground as navigation reads it (RegionGround).
//
// Threads: the level loading thread runs the load under the level lock and touches nothing else of
// the region but the loading flags, the idle counter and a failure mark (all atomic) and the
// failure's file and reason (under the failure lock, written before the mark); the level is handed
// to the main thread by storing the pointer under the lock at the end of the load. The box, the
// world's loaded-regions list and everything else change on the main thread only (a load's new box
// is taken when the main thread completes the level). The fog saving thread writes a fog that the
// main thread has handed over and no longer touches. Lock order: level lock, minimap lock, then
// the world's map file lock; the failure lock is taken last and alone. Every public operation is a
// main-thread call.
//
// Views: only the local view (the first frustum of the walk) has a level loaded at once on the
// main thread; a level that clients' views alone reach comes in on the loading thread, and the
// walk passes no portal into a level that is not in for them. What the loads, completions and
// unloads of such a level write goes through the server's cap on the lines peers cause
// (NetworkEntityList::GetViewLineGate): the loading thread keeps its lines for the main thread,
// which writes them through the cap when it completes the level.
//
// A level that failed to load stays failed until the host asks for it again (LoadLevel,
// GuaranteedGetLevel, BackgroundLoadLevel or SetLevel): a move into the region is refused, on a
// server and off one (one line naming the file and the reason, however many moves follow), and
// neither the views' walk (the local view's too), the scene, nor the engine's own asks for the
// level (GetLevelUnlessBroken, IsUnderground, portals, entities entering it, the path meshes of
// levels beside it) read it again, so that a broken file is read and parsed once, not at every
// move or frame.
#pragma once

#include "core/ABBox.h"
#include "core/Color.h"
#include "core/Coords.h"
#include "core/CriticalSection.h"
#include "core/Event.h"
#include "core/GeometryBus.h"
#include "core/IntVec3.h"
#include "data/RegionId.h"
#include "world/EntityListType.h"
#include "world/RegionGround.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class ChunkedBinaryWriter;
class Entity;
class FogOfWar;
class Frustum;
class GraphicsSceneRenderer;
class Level;
class LogGate;
class Portal;
class Ray;
class RenderTexture;
class Sphere;
class UniqueId;
class World;
class WorldCoords;
class WorldFrustum;
class WorldVec3;

class Region
{
public:
    // Frames without use after which a level unloads (plus the region's stagger, 0 to 22).
    static constexpr unsigned unloadFrames = 600;

    // An all-zero id is replaced by a new unique one.
    Region(World* world, int index, const std::string& name, const ABBox& box, const IntVec3& offset,
           const RegionId& id, unsigned levelOffset, unsigned levelSize);
    // A free-standing region (no world, index 0, zero offset, new id) with an empty, completed level
    // of the box's x and z half-extents.
    explicit Region(const ABBox& box);
    // Waits for its threads, unloads and deletes the level, saves the persistent fog.
    virtual ~Region();
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;

    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    const RegionId& GetId() const { return m_id; }
    RegionId& GetId() { return m_id; }
    void SetId(const RegionId& id) { m_id = id; }
    void CreateUniqueId() { m_id.CreateUnique(); }
    World* GetWorld() const { return m_world; }
    int GetRegionIndex() const { return m_index; }
    void SetRegionIndex(int index) { m_index = index; }

    const IntVec3& GetOffsetFromWorld() const { return m_offset; }
    void SetOffsetFromWorld(const IntVec3& offset) { m_offset = offset; }
    const ABBox& GetBoundingBox() const { return m_box; }
    // The box becomes the level's bounding box when a level is present.
    void UpdateBoundingBox();
    // Where the level data lies in the world's map file (both 0 outside compiled maps).
    unsigned GetLevelOffset() const { return m_levelOffset; }
    unsigned GetLevelSize() const { return m_levelSize; }

    // The database record of the region's zone, kept in the file system's normalised form.
    const std::string& GetZoneRecord() const { return m_zoneRecord; }
    void SetZoneRecord(const std::string& record);
    // The zone's tint with alpha 1; (0, 0, 0, 1) for a zone the zone manager does not know.
    Color GetTintColor() const;

    // ---- Level ------------------------------------------------------------------------------
    // Null while a load is under way; otherwise the level (under the level lock), resetting the
    // idle counter unless keepIdle.
    Level* GetLevel(bool keepIdle = false) const;
    // The host's ask: LoadLevel, then the level (null when it could not be loaded).
    Level* GuaranteedGetLevel(bool renderData) const;
    // The engine's own ask: GuaranteedGetLevel without forgetting a failed load, null at once for a
    // broken level (see the banner).
    Level* GetLevelUnlessBroken(bool renderData) const;
    // The raw pointer: no lock, no counter.
    Level* GetLevelPtr() const { return m_level.load(std::memory_order_acquire); }
    // The level is present, not loading and completed (for a region without world: completed).
    bool IsLevelLoaded() const;
    // A level is present and the loading flag is clear.
    bool IsLoadingFinished() const;
    bool IsLoading() const { return m_loading.load(std::memory_order_acquire); }
    bool IsRenderLoading() const { return m_renderLoading.load(std::memory_order_acquire); }
    // Either load is under way.
    bool IsLoadUnderWay() const { return IsLoading() || IsRenderLoading(); }
    // Loads the level first unless it is broken; false while loading or without a level.
    bool IsUnderground() const;
    // Starts the loading thread for the level (or only its render data when the level is present)
    // unless a load is under way. urgent raises its priority in single-processor mode. Forgets a
    // failed load (see the banner).
    void BackgroundLoadLevel(bool renderData, bool urgent);
    // Loads the level (or its render data) at once on this thread, waiting for a background load
    // under way instead, and completes it. Whether a level is present afterwards. Forgets a failed
    // load first (see the banner).
    bool LoadLevel(bool renderData);
    // Loads of the level or its render data this thread did or waited for (LoadLevel and every ask
    // that loads at once): each a frame's stall on the main thread. Counted for the tests.
    unsigned GetLoadsOnMainThread() const { return m_loadsOnMainThread; }
    // The last load of the level failed and the host has not asked for it again since: moves into
    // the region are refused and clients' views do not load it (see the banner). As the main
    // thread last took note (each frame's PostLoadLevel, each move into the region): right after
    // RequestLevelForMove answered false, it tells a refused move from one that waits for a load.
    bool IsLevelBroken() const;
    // For a broken level: its file and why it could not be loaded ("file (reason)"); empty
    // otherwise.
    std::string GetLoadFailure() const;
    // Completes a level whose load finished (one step a call when incremental); the region then
    // enters the world's loaded-regions list. Also takes the result of a failed background load.
    void PostLoadLevel(bool incremental);
    // Blocks until the loading thread (if any) has ended.
    void WaitForLoadingToFinish();
    // Unloads the level (keeping its state for the next load when asked) and saves the fog.
    void UnloadLevel(bool keepState);
    // Unloads and deletes the current level and owns the new one (null for none); the region gets
    // a new unique id and the new level's box.
    void SetLevel(Level* level);
    // Once per world update: counts a frame without use and, unless mayUnload is false, unloads
    // after the region's limit; whether it unloaded the level.
    bool UpdateUsage(bool mayUnload = true);
    // Frames without use past the region's limit: 0 while within it, or without a completed level.
    unsigned GetFramesOverdue() const;
    // Unloads the level, keeping its state, when it is past the limit; whether it did.
    bool UnloadIfOverdue();
    // The level unloads within the next 2 to 24 frames without use.
    void PrepareUnload();
    void DestroyLevelEntities();
    unsigned GetFramesNotUpdated() const { return m_framesNotUpdated.load(std::memory_order_relaxed); }
    // Marks the level as used this frame.
    void ResetFramesNotUpdated() const { m_framesNotUpdated.store(0, std::memory_order_relaxed); }
    // The frame count above which UpdateUsage unloads: 600 + (7 * index) mod 23.
    unsigned GetUnloadThreshold() const;
    // The level's state was kept at its last unload and waits for the next load.
    bool HasKeptState() const;
    bool IsLoadedFromMap() const { return m_loadedFromMap; }
    unsigned GetLastUpdateFrame() const { return m_lastUpdateFrame; }
    // The level's height-field ground as navigation reads it; one object for the region's life.
    const RegionGround& GetGround() const { return m_ground; }

    // ---- Frame --------------------------------------------------------------------------------
    // The world's walk (see World::Update): loads what the frusta reach, walks through portals up
    // to two deep and updates the level. A region within reach but not in view walks no further,
    // but once its level is in, the regions behind its portals within reach start loading too:
    // a doorway can come into view in the frame its region does.
    void Update(const WorldFrustum* frusta, unsigned count, int elapsed, bool walk, Region* from, int depth);
    // The region alone, with its own box as the frustum (the level loads at once if needed).
    void Update(int elapsed);
    // Pre-loads the level's resources for the frusta grown by the entity pre-load distance.
    void PreLoad(const Frustum* frusta, unsigned count, bool all);
    // The same with the whole box.
    void PreLoad(bool all);
    // Draws nothing while a load is under way (raising the loading thread's priority instead).
    void AddToScene(GraphicsSceneRenderer& renderer, const Coords& coords, const Frustum& frustum,
                    const WorldFrustum* worldFrustum);
    void ReloadGenerationDependentData();
    // Appends the grid region's faces inside the box (region space), under the level lock.
    void GeometryBusStop(const ABBox& box, std::vector<GeometryBus::SimpleFace>& faces) const;
    void PreDeviceReset();
    void PostDeviceReset();
    // Six planes facing into the box.
    static Frustum GetBoxFrustum(const ABBox& box);

    // ---- Minimap and icon ---------------------------------------------------------------------
    // Where the minimap image lies in the world's map file (both 0 when there is none).
    void SetMinimapData(unsigned offset, unsigned size);
    unsigned GetMinimapOffset() const { return m_minimapOffset; }
    unsigned GetMinimapSize() const { return m_minimapSize; }
    // The minimap texture; when absent and load is set, decoded from the map file first. Null
    // without a render device or image.
    RenderTexture* GetMinimapImage(bool load);
    void ReleaseMinimapImage();
    // The icon record of the source world file: a value carried unchanged, the image's width and
    // height and the image file's bytes, decoded into the icon texture when a device exists.
    // Reading frees the old icon first; false (icon left empty) when the record runs past the data.
    bool LoadRegionIcon(BinaryReader& reader);
    void SaveRegionIcon(ChunkedBinaryWriter& writer) const;
    // What map rendering makes of the region's icon.
    void SetIcon(unsigned value, unsigned width, unsigned height, const std::vector<uint8_t>& data);
    RenderTexture* GetIcon() const { return m_iconTexture; }
    unsigned GetIconValue() const { return m_iconValue; }
    unsigned GetIconWidth() const { return m_iconWidth; }
    unsigned GetIconHeight() const { return m_iconHeight; }
    const std::vector<uint8_t>& GetIconData() const { return m_iconData; }
    // The region record of the source world file: name, box, offset, id and zone record.
    void Save(ChunkedBinaryWriter& writer) const;
    // Editor: draws the region from above into its icon (0.5 pixels a unit, see MapImage) and into
    // its minimap (2 pixels a unit, 4 underground), which goes through the file system to
    // GetMinimapFileName(). The level is loaded with its render data for it, and so are the levels
    // of the regions within 1 unit of the box, which are drawn too; a neighbour whose level was not
    // in before is unloaded again afterwards (keeping the state it had kept), the others stay. The
    // texture reduction is 2 while it runs; all graphics resources reload afterwards. False when
    // the level cannot be loaded, there is no graphics engine, a picture cannot be made (the old
    // icon then stays) or the minimap file cannot be written (the icon is replaced all the same).
    bool RebuildMapData();
    // The region name with its last four characters (the extension) replaced by ".tga"; empty for
    // a name too short to have them.
    std::string GetMinimapFileName() const;

    // ---- Fog of war ---------------------------------------------------------------------------
    // The persistent fog (read from the fog file on first use) or the temporary one (never
    // saved), each a grid over the box's x and z.
    FogOfWar* GetFogOfWar(bool temporary);
    // Whether the position is in the persistent fog.
    bool IsInFog(const WorldVec3& position);
    // Adds visibility at a position of this region's space to both fogs.
    void AddFOWVisibility(const Vec3& position, int radius);
    // Hands the persistent fog to the saving thread, which writes and frees it.
    void UnloadFOW();
    bool IsSavingFog() const { return m_fogSaving.load(std::memory_order_acquire); }
    // The save path, "fow/", the name less its last four characters, ".fow"; empty without a
    // save path.
    std::string GetFogFileName() const;
    // Where a region-space position lies on the fog grids.
    Vec3 GetFogPosition(const Vec3& position) const;

    // ---- Space and neighbours -----------------------------------------------------------------
    // Appends every other region whose box meets this one's grown by 2 units on each axis (the
    // list is not cleared first).
    void BuildRegionConnectivity(const std::vector<Region*>& regions);
    const std::list<Region*>& GetConnectedRegions() const { return m_connectedRegions; }
    void RemoveConnectedRegion(const Region* region) { m_connectedRegions.remove(const_cast<Region*>(region)); }
    // The region itself or one of its connected regions.
    bool IsNeighbor(const Region* region) const;
    // A translation by (this offset - other offset): positions in this region's space into the
    // other's. Identity for a null region.
    Coords GetRelativeTransformation(const Region* other) const;
    // The position in this region's space; (0, 0, 0) when it has no region.
    Vec3 GetRelativePosition(const WorldVec3& position) const;
    // (from's offset - to's offset) as floats, subtracted in 64-bit integers first so that
    // distant offsets neither wrap nor lose precision. A null region counts as the world origin.
    static Vec3 GetOffsetDifference(const Region* from, const Region* to);

    // ---- Entities -----------------------------------------------------------------------------
    // Places the entity in the level at coords (which must name this region). False when the
    // entity or the level cannot take it; an entity that asks to be deleted on entering an
    // unloaded level is destroyed then. Updates the entity once; unless quiet, the host's network
    // controller hears of it.
    bool AddEntity(Entity* entity, const WorldCoords& coords, bool quiet);
    // Out of the clients' tables, the level (or only region-less coords when the level is not
    // ready) and the physics simulation.
    void RemoveEntity(Entity* entity);
    // A move into the region wants its level without waiting for it: whether the level is in and
    // completed; if not, the region is kept in use and its level loads on the loading thread (its
    // lines, on a server, under the cap on what peers cause), unless a load is under way or the
    // level is broken (IsLevelBroken: the move is refused, said in one line until the host asks
    // for the level again).
    bool RequestLevelForMove();
    // A move into the region on a host that loads levels for moves (not a server): the level,
    // loaded at once if need be; null for a broken level, the move refused and said in the same
    // one line as RequestLevelForMove's until the host asks for the level again.
    Level* GetLevelForMove();
    // The world's region query from this region; without a world, this region when its box meets
    // the frustum.
    void GetRegionsInFrustum(std::vector<Region*>& out, const Frustum& frustum);
    // The world's sphere query from this region; without a world, this region's completed level.
    void GetEntitiesInSphere(std::vector<Entity*>& out, const Sphere& sphere, bool alternate,
                             EntityListType type);
    // The level's entities in the frustum (nothing while a load is under way); throughPortals also
    // collects behind the portals the frustum meets, each region once.
    void GetEntitiesInFrustum(std::vector<Entity*>& out, const Frustum& frustum, bool alternate, Region* from,
                              EntityListType type, bool exact, bool throughPortals);

    // ---- Portals ------------------------------------------------------------------------------
    Portal* CreatePortal();
    void DestroyPortal(Portal* portal);
    Portal* GetPortal(const UniqueId& id) const;
    int GetNumPortals() const { return static_cast<int>(m_portals.size()); }
    // Null outside [0, GetNumPortals()).
    Portal* GetPortal(int index) const;
    // The portal the ray meets nearest, lowering distance to its hit; null when none lies closer
    // than the distance passed in. bothSides also accepts rays from behind a portal.
    Portal* TraceSegmentAgainstPortals(const Ray& ray, float& distance, bool bothSides) const;

private:
    class LoadingThread;
    class FogSavingThread;
    class KeptLines;

    // The load itself, on the loading thread or the caller's, under the level lock.
    bool InternalLoadLevel(bool renderData);
    // LoadLevel without forgetting a failed load: the engine's own (the local view's walk, the
    // scene); false at once for a broken level.
    bool LoadLevelNow(bool renderData);
    // Takes note of a load that failed on the loading thread: the region leaves the world's
    // loaded list and the level is broken. Main thread.
    void NoteLoadFailure();
    // The host asks for the level again: a failed load is forgotten.
    void ForgetLoadFailure();
    // Starts the loading thread; the caller has checked that no load is under way.
    void StartLoadingThread(bool renderData);
    // BackgroundLoadLevel without forgetting a failed load (a broken level is not loaded), for
    // clients' views alone when forClients (a new load's lines are theirs).
    void StartBackgroundLoad(bool renderData, bool urgent, bool forClients);
    // A view of the walk wants the level in the background: the local view's claim (not
    // forClients) makes the level no longer the clients' alone.
    void LoadForViews(bool renderData, bool forClients);
    // Says once, until the host asks for the level again, that moves into the broken region are
    // refused, naming the file and why.
    void SayMoveRefused();
    // The server's gate for lines about a level that only clients' views brought in; null for
    // other levels, on a client and without a network.
    LogGate* GetClientLineGate() const;
    // For a region the frusta (region space) near but do not see yet: the regions behind its
    // portals within the distance of a frustum start loading (render data too when the first
    // frustum is the near one) and are kept in use. from is skipped.
    void PrefetchBehindPortals(const Frustum* frusta, unsigned count, float distance, const Region* from);
    // Polls every 50 ms, with the loading thread raised, until neither loading flag is set.
    void WaitForLoad();
    // State may be kept across unloads: not a network client and not in editor mode.
    static bool MayRestoreState();
    std::string GetTempLevelFileName() const;
    // Deletes the level (unloaded first) and leaves the loaded-regions list; main thread.
    void DeleteLevel();
    // Decodes image file bytes into a texture through the render device: a DDS file goes to the
    // device whole, a TGA file is decoded here first (MapImage::Decode). Null without a device or
    // for bytes that are neither (logged).
    static RenderTexture* DecodeTexture(const void* bytes, unsigned size);
    void ReleaseTexture(RenderTexture*& texture);
    void CollectEntitiesInFrustum(std::vector<Entity*>& out, const Frustum& frustum, bool alternate,
                                  Region* from, EntityListType type, bool exact, bool throughPortals,
                                  std::vector<const Region*>& visited);

    mutable CriticalSection m_levelLock;
    LoadingThread* m_loadingThread = nullptr;
    RegionId m_id;
    World* m_world;
    int m_index;
    IntVec3 m_offset;
    std::string m_name;
    std::atomic<Level*> m_level{nullptr};
    ABBox m_box;
    mutable std::atomic<unsigned> m_framesNotUpdated{0};
    unsigned m_lastUpdateFrame = 0;
    std::atomic<bool> m_loading{false};
    std::atomic<bool> m_renderLoading{false};
    // A load failed; the main thread takes note (NoteLoadFailure) of it and its file and reason,
    // which the loading thread writes under the failure lock before it sets the mark.
    std::atomic<bool> m_loadFailed{false};
    CriticalSection m_failureLock;
    std::pair<std::string, std::string> m_loadFailure;
    // The level is broken (see the banner), its file and why, and whether a refused move said so.
    // Main thread.
    bool m_levelBroken = false;
    bool m_brokenReported = false;
    unsigned m_loadsOnMainThread = 0;
    std::string m_brokenFile;
    std::string m_brokenReason;
    // The level (or its load under way) was brought in for clients' views alone and the local
    // view has not reached it since. Main thread.
    bool m_forClients = false;
    // What loads for clients' views wrote on the loading thread; made on the main thread before
    // the first such load.
    KeptLines* m_keptLines = nullptr;
    // Under the level lock.
    bool m_restore = false;
    bool m_loadedFromMap = false;
    // A level the loading thread finished; its box is taken on the main thread.
    bool m_boxPending = false;
    unsigned m_levelOffset;
    unsigned m_levelSize;
    unsigned m_minimapOffset = 0;
    unsigned m_minimapSize = 0;
    std::vector<Portal*> m_portals;
    std::string m_zoneRecord;
    std::list<Region*> m_connectedRegions;
    BinaryWriter* m_savedState = nullptr;  // under the level lock
    unsigned m_savedStateRenumberings = 0; // the object manager's renumberings when it was saved
    CriticalSection m_fogLock;
    FogSavingThread* m_fogThread = nullptr;
    FogOfWar* m_fog = nullptr;
    FogOfWar* m_temporaryFog = nullptr;
    std::atomic<bool> m_fogSaving{false};
    unsigned m_iconValue = 0;
    std::vector<uint8_t> m_iconData;
    unsigned m_iconWidth = 0;
    unsigned m_iconHeight = 0;
    RenderTexture* m_iconTexture = nullptr;
    CriticalSection m_minimapLock;
    RenderTexture* m_minimapTexture = nullptr; // under the minimap lock
    // Signalled as a load finishes, so that a waiting main thread wakes at once.
    Event m_loadDone;
    RegionGround m_ground{*this};
};

} // namespace GAME
