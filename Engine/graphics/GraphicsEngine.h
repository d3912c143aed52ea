// The graphics core the engine creates at start-up: it loads the render device module named by the
// host's settings and owns the device, its primary surface and the canvas; it turns the user's
// options into device settings and rendering switches, draws the display's widgets each frame and
// presents the frame, and carries its device objects through a device reset. While it lives it is
// the options' source of machine defaults (Options::SetDefaultsProvider).
//
// The engine's order: construct, CreateDevice (false is fatal), Initialize (false is fatal), then
// per frame UnloadUnreferencedResources (Update), Update(renderScene) (Render) and PresentSurface;
// delete at shut-down, which destroys the device. Main thread only.
//
// TODO(stand-in): the texture, font, shader, mesh and animation resource managers with the
// resource evictor, the default and overlay shaders, the default font and textures, render
// generations and the detail levels' generation switch, the scene and shadow-map renderers'
// shared resources, the frame statistics lines and screenshots (through the image writer). Until
// they exist the resource loading operations answer null and the frame draws the display's
// widgets only.
#pragma once

#include "data/Options.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/RenderDeviceSettings.h"

#include <cstdio>
#include <string>

namespace GAME {

class Display;
class GraphicsCanvas;
class GraphicsTexture;
class GraphicsShader2;
class GraphicsMesh;
class GraphicsAnim;
class RenderDevice;
class RenderSurface;
class ResourceEvictor;
class ResourceLoader;

class GraphicsEngine : public OptionsDefaultsProvider
{
public:
    // Free video memory (57 MiB) below which the hardware is refused.
    static constexpr unsigned int minimumVideoMemory = 59768832u;
    static constexpr int maxSurfaceAttempts = 100;
    static constexpr int defaultWidth = 1024;
    static constexpr int defaultHeight = 768;

    // options: the engine's options (not owned; may be null), read for the device settings and
    // the quality switches; settingsPath: the user's settings file, where machine defaults are
    // saved when they had to be chosen; editorMode keeps the host's window size.
    explicit GraphicsEngine(Options* options = nullptr, const std::string& settingsPath = std::string(),
                            bool editorMode = false);
    ~GraphicsEngine() override;
    GraphicsEngine(const GraphicsEngine&) = delete;
    GraphicsEngine& operator=(const GraphicsEngine&) = delete;

    // Loads the device module of settings.deviceName, initialises the device and makes the primary
    // surface on the window; false (with the device released) when any of it fails.
    bool CreateDevice(void* window, const GraphicsEngineSettings& settings);
    // Makes the canvas and sets the switches; false without a device from CreateDevice.
    bool Initialize(void* window, const GraphicsEngineSettings& settings, ResourceLoader* resourceLoader);
    // One frame: options, canvas frame, the display's widgets when renderScene (and the device is
    // not lost). Present it with PresentSurface.
    void Update(bool renderScene);
    void PresentSurface();
    void UpdateFromOptions();

    // The machine's graphics defaults: resolution 1024 x 768, qualities from the device's
    // generation and video memory, no triple buffering.
    void SetOptionsToDefaults(Options& options) override;

    // Releases the device objects (canvas buffers and surfaces, the primary surface) before a
    // reset; PostDeviceReset makes them again on the reset device.
    void PreDeviceReset();
    void PostDeviceReset();

    void SetDisplay(Display* display) { m_display = display; }
    Display* GetDisplay() const { return m_display; }
    RenderDevice* GetRenderDevice() const { return m_device; }
    GraphicsCanvas* GetCanvas() const { return m_canvas; }
    RenderSurface* GetPrimarySurface() const { return m_primarySurface; }
    const RenderDeviceSettings& GetDeviceSettings() const { return m_deviceSettings; }
    // The log category of graphics lines (the engine's "Graphics"); 0 until the engine sets it.
    void SetLogCategory(unsigned int category) { m_logCategory = category; }

    // Texture levels dropped on load: high quality -2, medium 0, low 1.
    int GetTextureReduction() const { return m_textureReduction; }
    void SetTextureReduction(int reduction) { m_textureReduction = reduction; }
    bool AreReflectionsEnabled() const { return m_reflections; }
    void EnableReflections(bool enable) { m_reflections = enable; }
    bool AreStatsEnabled() const { return m_statistics; }
    void EnableStats(bool enable) { m_statistics = enable; }
    bool UseLowQualityLighting() const { return m_lowQualityLighting; }
    bool UseLowQualityTerrain() const { return m_lowQualityTerrain; }
    int GetShadowMapSize() const { return m_shadowMapSize; }
    int GetShadowMapSizeSmall() const { return m_shadowMapSizeSmall; }
    // Frames and faces per second of the last 15-frame sample.
    float GetFramesPerSecond() const { return m_framesPerSecond; }
    float GetFacesPerSecond() const { return m_facesPerSecond; }

    GraphicsShader2* GetOverlayShader() const;
    GraphicsTexture* LoadTexture(const std::string& fileName);
    void UnloadTexture(GraphicsTexture* texture);
    GraphicsShader2* LoadShader2(const std::string& fileName);
    void UnloadShader2(GraphicsShader2* shader);
    GraphicsMesh* LoadMesh(const std::string& fileName);
    GraphicsAnim* LoadAnimation(const std::string& fileName);
    void ReloadAllResources();
    void UnloadUnreferencedResources();
    // Resources not used for more than that many frames are unloaded (textures, fonts, shaders,
    // meshes: the managers registered with the evictor).
    void EvictOldResources(int frames);
    // Made by Initialize; each frame's Update runs it first.
    ResourceEvictor* GetResourceEvictor() const { return m_evictor; }
    // The resource lists under their headings, into an open stream.
    void WriteResourceLog(std::FILE* file) const;
    bool SaveScreenShot(const char* fileName);

private:
    // The device settings the host's settings and the options ask for.
    RenderDeviceSettings MakeDeviceSettings(const GraphicsEngineSettings& settings) const;
    void SaveOptions() const;
    bool PassesCompatibilityCheck() const;
    void ReleaseDevice();

    Options* m_options;
    std::string m_settingsPath;
    bool m_editorMode;
    unsigned int m_logCategory = 0;

    void* m_window = nullptr;
    GraphicsEngineSettings m_settings;
    RenderDevice* m_device = nullptr;
    RenderDeviceSettings m_deviceSettings;
    RenderSurface* m_primarySurface = nullptr;
    GraphicsCanvas* m_canvas = nullptr;
    Display* m_display = nullptr;
    ResourceLoader* m_resourceLoader = nullptr;
    ResourceEvictor* m_evictor = nullptr;

    int m_textureReduction = 0;
    int m_shadowMapSize = 1024;
    int m_shadowMapSizeSmall = 512;
    bool m_statistics = false;
    bool m_reflections = true;
    bool m_lowQualityLighting = false;
    bool m_lowQualityTerrain = false;

    unsigned int m_frameCount = 0;
    int m_sampleStartTime = 0; // system time of the last statistics sample
    long long m_facesCounted = 0;
    float m_framesPerSecond = 0.0f;
    float m_facesPerSecond = 0.0f;
};

} // namespace GAME
