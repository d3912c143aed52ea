// The graphics core the engine creates at start-up. It loads the render device module named by
// the host's settings and owns the device, its primary surface, the canvas (made with the engine,
// so it loads its filter shader through it), the five graphics resource managers (textures, fonts,
// shaders, meshes, animations), the basic and overlay shaders, the default font, the basic vertex
// declaration and the default and empty textures. It turns the
// user's options into device settings, quality levels and the render generation every frame,
// draws the display's widgets and the statistics lines, presents the frame, carries its device
// objects through a device reset and writes screenshots. While it lives it is the options' source
// of machine defaults (Options::SetDefaultsProvider).
//
// The engine's order: construct, CreateDevice (false is fatal), Initialize with the resource
// loader (false is fatal), then per frame UnloadUnreferencedResources, Update(renderDisplay) and
// PresentSurface; delete at shut-down, which releases everything and destroys the device. The
// graphics engine calls the device's ResetDevice itself (a settings change, ForceDeviceReset);
// PreDeviceReset and PostDeviceReset are called around a reset by whoever detects it (the
// engine's pair of the same names).
//
// Threads: main thread, except LoadTexture, LoadShader2 (and the other loads), the unloads,
// GetTextureReduction, GetRenderDevice, GetGenerationName and the default and empty textures,
// which the resource loader thread uses while it loads shaders and textures.
//
// The scene renderers' shared resources (the portal mask shader, the depth lookup texture) and the
// normal renderer's render targets are made in Initialize, remade on a generation or shadow-size
// change and around a device reset, and released with the engine.
#pragma once

#include "core/Rect.h"
#include "data/Options.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/GraphicsResourceManagers.h"
#include "graphics/RenderDeviceSettings.h"
#include "graphics/RenderTypes.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace GAME {

class Display;
class GraphicsCanvas;
class RenderDevice;
class RenderSurface;
class RenderTexture;
class RenderVertexDeclaration;
class ResourceEvictor;
class ResourceLoader;

// A frame's figures (GraphicsEngine::GetStats).
struct GraphicsStats
{
    float physicalMemoryUsedMB = 0.0f; // of this process
    float videoMemoryFreeMB = 0.0f;
    float framesPerSecond = 0.0f;
    int facesDrawn = 0; // this frame
    float facesPerSecond = 0.0f;
    int drawCalls = 0; // this frame
    int reflections = 0;
};

class GraphicsEngine : public OptionsDefaultsProvider
{
public:
    // Total video memory (57 MiB) below which the hardware is refused.
    static constexpr unsigned int minimumVideoMemory = 59768832u;
    static constexpr int maxSurfaceAttempts = 100;
    static constexpr unsigned int surfaceRetryDelay = 100; // milliseconds
    static constexpr int defaultWidth = 1024;
    static constexpr int defaultHeight = 768;
    static constexpr int defaultTextureSize = 64;
    static constexpr int emptyTextureSize = 16;
    static constexpr unsigned int statisticsSampleFrames = 15;
    static constexpr const char* basicShaderName = "Shaders/Basic.ssh";
    static constexpr const char* overlayShaderName = "Shaders/Overlay.ssh";
    static constexpr const char* defaultFontName = "Fonts/Arial.fnt";

    // options: the engine's options (not owned; may be null), read for the device settings and the
    // qualities; settingsPath: the user's settings file, where machine defaults are saved when
    // they had to be chosen; editorMode keeps the host's window size.
    explicit GraphicsEngine(Options* options = nullptr, const std::string& settingsPath = std::string(),
                            bool editorMode = false);
    ~GraphicsEngine() override;
    GraphicsEngine(const GraphicsEngine&) = delete;
    GraphicsEngine& operator=(const GraphicsEngine&) = delete;

    // Loads the device module of settings.deviceName, initialises the device and makes the primary
    // surface on the window, retrying up to maxSurfaceAttempts times and falling back to the
    // machine's defaults; false (with the device released) when it cannot. Hardware that fails the
    // compatibility check (generation 0, or less than minimumVideoMemory) is a fatal error unless
    // the option "skipCompatibilityChecks" is set. The size taken, and where it came from (the
    // "resolution" option, the host's settings in editor mode, or the default), is logged.
    bool CreateDevice(void* window, const GraphicsEngineSettings& settings);
    // Makes the managers, the canvas, the default and empty textures, loads the basic and overlay
    // shaders and the default font, and reads the options; false without a device.
    bool Initialize(void* window, const GraphicsEngineSettings& settings, ResourceLoader* resourceLoader);
    // One frame: eviction, options, the canvas's frame, the display's widgets and the statistics
    // lines when renderDisplay (and the device is not lost). Present it with PresentSurface.
    void Update(bool renderDisplay);
    void PresentSurface();
    // Qualities, texture reduction, shadow-map sizes and render generation from the options; a
    // change of the device settings resets the device once.
    void UpdateFromOptions();

    // The machine's graphics defaults: resolution 1024 x 768, qualities from the adapter, the
    // device's generation and video memory, no triple buffering.
    void SetOptionsToDefaults(Options& options) override;

    // Releases the device objects before a reset (resources are reloaded afterwards);
    // PostDeviceReset makes them again on the reset device.
    void PreDeviceReset();
    void PostDeviceReset();
    // Resets the device with the current settings.
    void ForceDeviceReset();
    void EnableVerticalSync(bool enable);
    void UnregisterVertexDeclaration(RenderVertexDeclaration* declaration);
    void GetSupportedDisplayModes(std::vector<RenderDisplayMode>& modes);

    // Resources by file name through their managers (null without the manager). A new resource is
    // queued on the resource loader.
    GraphicsTexture* LoadTexture(const std::string& fileName);
    void UnloadTexture(const GraphicsTexture* texture);
    GraphicsFont* LoadFont(const std::string& fileName);
    void UnloadFont(const GraphicsFont* font);
    GraphicsShader2* LoadShader2(const std::string& fileName);
    void UnloadShader2(const GraphicsShader2* shader);
    GraphicsMesh* LoadMesh(const std::string& fileName);
    void UnloadMesh(const GraphicsMesh* mesh);
    GraphicsAnim* LoadAnimation(const std::string& fileName);
    void UnloadAnimation(const GraphicsAnim* animation);
    // The engine's effects and the five managers reload on next use; the canvas's default state.
    void ReloadAllResources();
    void UnloadUnreferencedResources();
    // Unloads textures, fonts, shaders and meshes not used for more than the frames.
    void EvictOldResources(int frames);
    // "Loaded Resources" and each manager's list, into the log.
    void ListLoadedResources();
    // Each manager's resource log under its heading, into an open stream.
    void WriteResourceLog(std::FILE* file) const;

    TextureResourceManager* GetTextureManager() const { return m_textureManager; }
    FontResourceManager* GetFontManager() const { return m_fontManager; }
    ShaderResourceManager* GetShaderManager() const { return m_shaderManager; }
    MeshResourceManager* GetMeshManager() const { return m_meshManager; }
    AnimationResourceManager* GetAnimationManager() const { return m_animationManager; }

    // For layouts made for 1024 x 768: x and width scaled by device width / 1024, y and height by
    // device height / 768, width and height rounded.
    void GetResAdjRect(Rect& rect) const;
    // Scales each float of a list ended by a null pointer in place.
    void GetResAdjValuesX(float* const* values) const;
    void GetResAdjValuesY(float* const* values) const;
    bool IsDownsizing() const;

    const char* GetGenerationName() const;
    RenderGenerationId GetGenerationId() const { return m_generation.load(std::memory_order_relaxed); }
    // A different generation reloads shaders, meshes, the world's generation-dependent data and
    // textures.
    void SetGeneration(RenderGenerationId generation);
    void SetGeneration(const char* name);
    int GetPixelShaderVersion() const;
    int GetMaxNumBones() const;

    GraphicsShader2* GetBasicShader() const { return m_basicShader; }
    // The overlay shader, or the basic shader when the overlay's load came to nothing.
    GraphicsShader2* GetOverlayShader() const;
    GraphicsFont* GetDefaultFont() const { return m_defaultFont; }
    RenderVertexDeclaration* GetBasicVertexDeclaration() const { return m_basicDeclaration; }
    RenderTexture* GetDefaultTexture() const { return m_defaultTexture; }
    RenderTexture* GetEmptyTexture() const { return m_emptyTexture; }

    // Texture levels dropped on load for the file: the engine's reduction plus the first matching
    // directory entry's, never below 0. Names are compared in the file system's normal form.
    int GetTextureReduction(const std::string& fileName) const;
    // The engine's own reduction: high texture quality -2, medium 0, low 1.
    int GetTextureReduction() const { return m_textureReduction.load(std::memory_order_relaxed); }
    // Sets the engine's own reduction until the options next change it (map rendering lowers it
    // for its loads and puts the old value back); textures already loaded keep theirs.
    void SetTextureReduction(int reduction)
    {
        m_textureReduction.store(reduction, std::memory_order_relaxed);
    }
    // Adds a directory prefix, or replaces the reduction of one already set.
    void SetDirectoryTextureReduction(const std::string& directory, int reduction);

    // Reads the surface back and writes it to the file in the format its name asks for: ".tga" an
    // RGBA TGA, ".png" an RGB PNG (either in any case); any other name is refused with a log line.
    // False when the name, the read-back or the file fails. The surface is bound for the read and
    // the previous target restored.
    bool SaveRenderSurface(const char* fileName, RenderSurface* surface);
    // The primary surface.
    bool SaveScreenShot(const char* fileName);
    void GetStats(GraphicsStats& stats) const;

    void SetDisplay(Display* display) { m_display = display; }
    Display* GetDisplay() const { return m_display; }
    RenderDevice* GetRenderDevice() const { return m_device; }
    GraphicsCanvas* GetCanvas() const { return m_canvas; }
    RenderSurface* GetPrimarySurface() const { return m_primarySurface; }
    const RenderDeviceSettings& GetDeviceSettings() const { return m_deviceSettings; }
    // The log category of graphics lines (the engine's "Graphics"); 0 until the engine sets it.
    void SetLogCategory(unsigned int category) { m_logCategory = category; }
    // Milliseconds between primary-surface attempts (for tools and tests that cannot wait).
    void SetSurfaceRetryDelay(unsigned int milliseconds) { m_surfaceRetryDelay = milliseconds; }

    // Rendering switches.
    void EnableStats(bool enable) { m_stats = enable; }
    bool IsStatsEnabled() const { return m_stats; }
    void EnableShadows(bool enable) { m_shadows = enable; }
    bool IsShadowsEnabled() const { return m_shadows; }
    void EnableLighting(bool enable) { m_lighting = enable; }
    bool IsLightingEnabled() const { return m_lighting; }
    void EnableRendering(bool enable) { m_rendering = enable; }
    bool IsRenderingEnabled() const { return m_rendering; }
    void EnableReflections(bool enable) { m_reflections = enable; }
    bool IsReflectionsEnabled() const { return m_reflections; }
    void EnableFog(bool enable) { m_fog = enable; }
    bool IsFogEnabled() const { return m_fog; }
    void EnableTerrain(bool enable) { m_terrain = enable; }
    bool IsTerrainEnabled() const { return m_terrain; }
    void EnableGrass(bool enable) { m_grass = enable; }
    bool IsGrassEnabled() const { return m_grass; }
    void EnableGridTiles(bool enable) { m_gridTiles = enable; }
    bool IsGridTilesEnabled() const { return m_gridTiles; }
    void EnableMeshes(bool enable) { m_meshes = enable; }
    bool IsMeshesEnabled() const { return m_meshes; }
    void EnableEffects(bool enable) { m_effects = enable; }
    bool IsEffectsEnabled() const { return m_effects; }
    void EnableDecals(bool enable) { m_decals = enable; }
    bool IsDecalsEnabled() const { return m_decals; }
    void EnableWater(bool enable) { m_water = enable; }
    bool IsWaterEnabled() const { return m_water; }
    void EnableShowLights(bool enable) { m_showLights = enable; }
    bool IsShowLightsEnabled() const { return m_showLights; }
    void EnableShowBoundingBoxes(bool enable) { m_showBoundingBoxes = enable; }
    bool IsShowBoundingBoxesEnabled() const { return m_showBoundingBoxes; }
    void EnableRegionList(bool enable) { m_regionList = enable; }
    bool IsRegionListEnabled() const { return m_regionList; }
    void EnableTransparency(bool enable) { m_transparency = enable; }
    bool IsTransparencyEnabled() const { return m_transparency; }
    void EnableLowQualityLighting(bool enable) { m_lowQualityLighting = enable; }
    bool IsLowQualityLightingEnabled() const { return m_lowQualityLighting; }
    void EnableLowQualityTerrain(bool enable) { m_lowQualityTerrain = enable; }
    bool IsLowQualityTerrainEnabled() const { return m_lowQualityTerrain; }
    // The names the scene code asks by.
    bool UseLowQualityLighting() const { return m_lowQualityLighting; }
    bool UseLowQualityTerrain() const { return m_lowQualityTerrain; }
    void EnableShadowDebugging(bool enable) { m_shadowDebugging = enable; }
    bool IsShadowDebuggingEnabled() const { return m_shadowDebugging; }
    void EnableOptimizationTest(bool enable) { m_optimizationTest = enable; }
    bool IsOptimizationTestEnabled() const { return m_optimizationTest; }

    void SetFogColor(float r, float g, float b);
    const float* GetFogColor() const { return m_fogColor; }
    void SetDepthFog(float a, float b, float c);
    const float* GetDepthFog() const { return m_depthFog; }
    void SetHeightFog(float a, float b, float c);
    const float* GetHeightFog() const { return m_heightFog; }
    // Counted by whoever renders a reflection; restarts every frame.
    void AddReflection() { ++m_reflectionCount; }
    int GetReflectionCount() const { return m_reflectionCount; }

    // The shadow maps' sizes: 512 / 256 at low shadow quality, 1024 / 512 medium, 2048 / 1024 high.
    int GetShadowMapSize() const { return m_shadowMapSize; }
    int GetShadowMapSizeSmall() const { return m_shadowMapSizeSmall; }
    // Frames and faces per second of the last 15-frame sample.
    float GetFramesPerSecond() const { return m_framesPerSecond; }
    float GetFacesPerSecond() const { return m_facesPerSecond; }

    // Made by Initialize with the texture, font, shader and mesh managers; each frame's Update runs it
    // first.
    ResourceEvictor* GetResourceEvictor() const { return m_evictor; }

private:
    // Where the size of the device settings comes from.
    enum class SizeSource
    {
        Host,    // the host's settings (editor mode, or no options)
        Option,  // the "resolution" option
        Default, // nobody chose one
    };
    // The device settings the host's settings and the options ask for; source, when given, says
    // where the size came from.
    RenderDeviceSettings MakeDeviceSettings(const GraphicsEngineSettings& settings,
                                            SizeSource* source = nullptr) const;
    // One line at start-up: the size taken and where it came from.
    void LogSizeTaken(const GraphicsEngineSettings& settings) const;
    void SaveOptions() const;
    bool PassesCompatibilityCheck() const;
    void CreateEngineTextures();
    void DestroyEngineTextures();
    void AddStatisticsLines();
    void ReleaseAll();
    void CreateSceneResources();
    void DestroySceneResources();
    void RecreateSceneRenderTargets();

    Options* m_options;
    std::string m_settingsPath;
    bool m_editorMode;
    unsigned int m_logCategory = 0;
    unsigned int m_surfaceRetryDelay = surfaceRetryDelay;

    void* m_window = nullptr;
    GraphicsEngineSettings m_settings;
    RenderDevice* m_device = nullptr;
    RenderDeviceSettings m_deviceSettings;
    RenderSurface* m_primarySurface = nullptr;
    GraphicsCanvas* m_canvas = nullptr;
    Display* m_display = nullptr;
    ResourceLoader* m_resourceLoader = nullptr;
    ResourceEvictor* m_evictor = nullptr;

    TextureResourceManager* m_textureManager = nullptr;
    FontResourceManager* m_fontManager = nullptr;
    ShaderResourceManager* m_shaderManager = nullptr;
    MeshResourceManager* m_meshManager = nullptr;
    AnimationResourceManager* m_animationManager = nullptr;

    GraphicsShader2* m_basicShader = nullptr;
    GraphicsShader2* m_overlayShader = nullptr;
    GraphicsFont* m_defaultFont = nullptr;
    RenderVertexDeclaration* m_basicDeclaration = nullptr;
    RenderTexture* m_defaultTexture = nullptr;
    RenderTexture* m_emptyTexture = nullptr;

    // Read by the loader thread while it picks a shader file's section.
    std::atomic<RenderGenerationId> m_generation{RENDER_GENERATION_UNKNOWN};
    // Read by the loader thread while it sizes texture reads.
    std::atomic<int> m_textureReduction{0};
    // Directory prefixes in normal form and their reductions, in the order they were set.
    std::vector<std::pair<std::string, int>> m_directoryReductions;
    mutable std::mutex m_directoryReductionsLock;
    int m_shadowMapSize = 1024;
    int m_shadowMapSizeSmall = 512;

    bool m_stats = false;
    bool m_shadows = true;
    bool m_lighting = true;
    bool m_rendering = true;
    bool m_reflections = true;
    bool m_fog = false;
    bool m_terrain = true;
    bool m_grass = true;
    bool m_gridTiles = true;
    bool m_meshes = true;
    bool m_effects = true;
    bool m_decals = true;
    bool m_water = true;
    bool m_showLights = false;
    bool m_showBoundingBoxes = false;
    bool m_regionList = false;
    bool m_transparency = true;
    bool m_lowQualityLighting = false;
    bool m_lowQualityTerrain = false;
    bool m_shadowDebugging = false;
    bool m_optimizationTest = false;
    float m_fogColor[3] = {0.0f, 0.0f, 0.0f};
    float m_depthFog[3] = {0.0f, 0.0f, 0.0f};
    float m_heightFog[3] = {0.0f, 0.0f, 0.0f};
    int m_reflectionCount = 0;

    unsigned int m_frameCount = 0;
    int m_sampleStartTime = 0; // system time of the last statistics sample
    long long m_facesCounted = 0;
    float m_framesPerSecond = 0.0f;
    float m_facesPerSecond = 0.0f;
};

} // namespace GAME
