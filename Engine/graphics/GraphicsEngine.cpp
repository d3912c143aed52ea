#include "graphics/GraphicsEngine.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/Profile.h"
#include "core/Time.h"
#include "data/BinaryWriter.h"
#include "data/EffectResource.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "data/LocalizationManager.h"
#include "graphics/Display.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsFont.h"
#include "graphics/GraphicsNoiseGen.h"
#include "graphics/GraphicsSceneFactory.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/GraphicsWorldServices.h"
#include "graphics/Image.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderSurface.h"
#include "graphics/ResourceEvictor.h"
#include "platform/FatalError.h"
#include "platform/SystemInfo.h"
#include "platform/Threading.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace GAME {

namespace {

// Adapters whose qualities are fixed whatever their generation says.
struct AdapterQualities
{
    uint32_t adapterId;
    Options::Quality detailLevel;
    Options::Quality reflectionQuality;
    Options::Quality textureQuality;
    Options::Quality shadowQuality;
};

const AdapterQualities g_adapterQualities[] = {
    {2090, Options::QUALITY_MEDIUM, Options::QUALITY_MEDIUM, Options::QUALITY_MEDIUM,
     Options::QUALITY_MEDIUM},
    {2089, Options::QUALITY_MEDIUM, Options::QUALITY_MEDIUM, Options::QUALITY_MEDIUM,
     Options::QUALITY_MEDIUM},
};

// The basic vertex: position, normal, texture coordinate and a packed colour (36 bytes).
const VertexElement g_basicElements[] = {
    {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
    {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3},
    {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
    {0, VERTEX_USAGE_COLOR, VERTEX_TYPE_COLOR},
};

const char* QualityName(Options::Quality quality)
{
    switch (quality) {
    case Options::QUALITY_LOW:
        return "Low";
    case Options::QUALITY_MEDIUM:
        return "Medium";
    default:
        return "High";
    }
}

const char* TrueFalse(bool value)
{
    return value ? "true" : "false";
}

constexpr float bytesPerMegabyte = 1048576.0f;

} // namespace

GraphicsEngine::GraphicsEngine(Options* options, const std::string& settingsPath, bool editorMode)
    : m_options(options), m_settingsPath(settingsPath), m_editorMode(editorMode)
{
    Options::SetDefaultsProvider(this);
}

GraphicsEngine::~GraphicsEngine()
{
    if (Options::GetDefaultsProvider() == this)
        Options::SetDefaultsProvider(nullptr);
    ReleaseAll();
}

void GraphicsEngine::ReleaseAll()
{
    delete m_evictor;
    m_evictor = nullptr;
    DestroySceneResources();
    UnloadFont(m_defaultFont);
    m_defaultFont = nullptr;
    UnloadShader2(m_basicShader);
    m_basicShader = nullptr;
    UnloadShader2(m_overlayShader);
    m_overlayShader = nullptr;
    // The canvas gives its filter shader back while the shader manager is still there.
    delete m_canvas;
    m_canvas = nullptr;
    // Meshes hold shaders and textures, shaders hold textures: the meshes' manager goes first, the
    // shaders' next, the textures' last. The managers of scene's kinds go through their base: their
    // classes are made in scene, where the resource classes are known.
    delete static_cast<BaseResourceManager*>(m_meshManager);
    m_meshManager = nullptr;
    delete m_shaderManager;
    m_shaderManager = nullptr;
    delete static_cast<BaseResourceManager*>(m_animationManager);
    m_animationManager = nullptr;
    delete m_fontManager;
    m_fontManager = nullptr;
    delete m_textureManager;
    m_textureManager = nullptr;
    if (m_device) {
        if (m_basicDeclaration)
            m_device->DestroyVertexDeclaration(&m_basicDeclaration);
        DestroyEngineTextures();
        if (m_primarySurface)
            m_device->DestroySurface(&m_primarySurface);
    }
    m_basicDeclaration = nullptr;
    m_primarySurface = nullptr;
    RenderDevice::Destroy(m_device);
    std::lock_guard<std::mutex> lock(m_directoryReductionsLock);
    m_directoryReductions.clear();
}

// ---------------------------------------------------------------------------------------------
// Device creation

RenderDeviceSettings GraphicsEngine::MakeDeviceSettings(const GraphicsEngineSettings& settings,
                                                        SizeSource* source) const
{
    SizeSource from = SizeSource::Host;
    RenderDeviceSettings result;
    result.width = settings.width;
    result.height = settings.height;
    result.colorFormat = RENDER_FORMAT_RGBA;
    result.depthFormat = RENDER_FORMAT_D24;
    result.flags = (settings.fullScreen ? RenderDeviceSettings::FLAG_FULL_SCREEN : 0u) |
                   (settings.syncToRefresh ? RenderDeviceSettings::FLAG_SYNC_TO_REFRESH : 0u) |
                   (settings.tripleBuffer ? RenderDeviceSettings::FLAG_TRIPLE_BUFFER : 0u);
    if (m_options) {
        result.antiAliasing = m_options->GetBool(Options::BOOL_ANTI_ALIASING) ? 1 : 0;
        result.flags = 0;
        if (!m_editorMode) {
            if (m_options->GetBool(Options::BOOL_FULLSCREEN))
                result.flags |= RenderDeviceSettings::FLAG_FULL_SCREEN;
            const Options::Int2 resolution = m_options->GetInt2(Options::INT2_RESOLUTION);
            result.width = resolution.x;
            result.height = resolution.y;
            from = SizeSource::Option;
        }
        if (m_options->GetBool(Options::BOOL_SYNC_TO_REFRESH))
            result.flags |= RenderDeviceSettings::FLAG_SYNC_TO_REFRESH;
        if (m_options->GetBool(Options::BOOL_TRIPLE_BUFFER))
            result.flags |= RenderDeviceSettings::FLAG_TRIPLE_BUFFER;
    }
    // A size nobody chose (no options, or options that hold none) would make every surface
    // attempt fail: the machine default stands in.
    if (result.width <= 0 || result.height <= 0) {
        result.width = defaultWidth;
        result.height = defaultHeight;
        from = SizeSource::Default;
    }
    if (source)
        *source = from;
    return result;
}

void GraphicsEngine::SaveOptions() const
{
    if (m_options && !m_settingsPath.empty() && !m_options->Save(m_settingsPath))
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: couldn't save the settings to '%s'",
                          m_settingsPath.c_str());
}

bool GraphicsEngine::CreateDevice(void* window, const GraphicsEngineSettings& settings)
{
    if (m_device) {
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: the rendering device exists already");
        return false;
    }
    m_window = window;
    m_settings = settings;
    const char* name =
        settings.deviceName.empty() ? RenderDevice::defaultDeviceName : settings.deviceName.c_str();
    m_device = RenderDevice::Create(name);
    if (!m_device)
        return false;
    if (!m_device->Initialize()) {
        LogPrintfCategory(1, m_logCategory, "Couldn't initialize the rendering device");
        ReleaseAll();
        return false;
    }

    if ((settings.width == 0 || settings.height == 0) && m_options) {
        SetOptionsToDefaults(*m_options);
        SaveOptions();
    }

    for (int attempt = 0; attempt < maxSurfaceAttempts && !m_primarySurface; ++attempt) {
        m_deviceSettings = MakeDeviceSettings(settings);
        m_primarySurface = m_device->CreatePrimarySurface(window, &m_deviceSettings);
        if (!m_primarySurface && m_options) {
            // The user's options may ask for what the device cannot do: the machine's defaults
            // are tried at once, and kept in the user's file when they work.
            SetOptionsToDefaults(*m_options);
            m_deviceSettings = MakeDeviceSettings(settings);
            m_primarySurface = m_device->CreatePrimarySurface(window, &m_deviceSettings);
            if (m_primarySurface)
                SaveOptions();
        }
        if (!m_primarySurface) {
            if (m_surfaceRetryDelay > 0)
                Platform::SleepMilliseconds(m_surfaceRetryDelay);
            m_device->Initialize();
        }
    }
    if (!m_primarySurface) {
        LogPrintfCategory(2, m_logCategory, "Couldn't create the primary rendering surface");
        ReleaseAll();
        return false;
    }
    LogSizeTaken(settings);
    m_generation.store(m_device->GetGenerationId(), std::memory_order_relaxed);
    if (!PassesCompatibilityCheck()) {
        const std::string text =
            LocalizationManager::ToChar(LocalizationManager::Instance()->GetText("tagInstallerText35"));
        LogPrintfCategory(2, m_logCategory, "Fatal Error: %s", text.c_str());
        Platform::FatalError("Fatal Error", text);
        // Only a fatal-error hook (tests) returns here.
        ReleaseAll();
        return false;
    }
    return true;
}

void GraphicsEngine::LogSizeTaken(const GraphicsEngineSettings& settings) const
{
    SizeSource source = SizeSource::Host;
    const RenderDeviceSettings taken = MakeDeviceSettings(settings, &source);
    // Settings left as they come hold the record's own default size, which no host asked for: a
    // host is named only for a size it set.
    const GraphicsEngineSettings untouched;
    const bool hostAsked = settings.width > 0 && settings.height > 0 &&
                           (settings.width != untouched.width || settings.height != untouched.height);
    switch (source) {
    case SizeSource::Option:
        // A host asking for another size is to learn where to ask.
        if (hostAsked && (settings.width != taken.width || settings.height != taken.height))
            LogPrintfCategory(0, m_logCategory,
                              "GraphicsEngine: %d x %d from the \"resolution\" option; the host's %d x %d is taken "
                              "in editor mode only",
                              taken.width, taken.height, settings.width, settings.height);
        else
            LogPrintfCategory(0, m_logCategory, "GraphicsEngine: %d x %d from the \"resolution\" option",
                              taken.width, taken.height);
        break;
    case SizeSource::Host:
        if (hostAsked)
            LogPrintfCategory(0, m_logCategory, "GraphicsEngine: %d x %d from the host's settings",
                              taken.width, taken.height);
        else
            LogPrintfCategory(0, m_logCategory,
                              "GraphicsEngine: %d x %d, the settings' default: the host set no size",
                              taken.width, taken.height);
        break;
    case SizeSource::Default:
        LogPrintfCategory(0, m_logCategory, "GraphicsEngine: %d x %d, the default: no size was given",
                          taken.width, taken.height);
        break;
    }
}

bool GraphicsEngine::PassesCompatibilityCheck() const
{
    if (m_options && m_options->GetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS))
        return true;
    return m_device->GetGenerationId() != RENDER_GENERATION_UNKNOWN &&
           m_device->GetTotalVideoMemory() >= minimumVideoMemory;
}

// ---------------------------------------------------------------------------------------------
// Start-up

bool GraphicsEngine::Initialize(void* window, const GraphicsEngineSettings& settings,
                                ResourceLoader* resourceLoader)
{
    if (!m_device || !m_primarySurface) {
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: Initialize needs a device from CreateDevice");
        return false;
    }
    if (m_canvas) {
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: initialized already");
        return false;
    }
    m_window = window;
    m_settings = settings;
    m_resourceLoader = resourceLoader;

    m_device->SetClearColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
    m_device->Clear(RENDER_CLEAR_COLOR);

    m_textureManager = new TextureResourceManager(resourceLoader, this, "GraphicsTexture");
    m_fontManager = new FontResourceManager(resourceLoader, this, "GraphicsFont");
    m_shaderManager = new ShaderResourceManager(resourceLoader, this, "GraphicsShader2");
    if (GraphicsSceneFactory* scene = GraphicsSceneFactory::Get()) {
        m_meshManager = scene->CreateMeshManager(resourceLoader, this);
        m_animationManager = scene->CreateAnimationManager(resourceLoader, this);
    }
    // Old textures, fonts, shaders and meshes go when video memory runs short.
    m_evictor = new ResourceEvictor(m_device);
    m_evictor->Add(m_textureManager);
    m_evictor->Add(m_fontManager);
    m_evictor->Add(m_shaderManager);
    m_evictor->Add(m_meshManager);

    LogPrintfCategory(0, m_logCategory, "%s", m_device->GetStatusText());

    m_canvas = new GraphicsCanvas(m_device, m_primarySurface, this);
    CreateSceneResources();

    m_defaultFont = LoadFont(defaultFontName);

    m_stats = false;
    m_showLights = false;
    m_showBoundingBoxes = false;
    m_shadows = m_lighting = m_rendering = m_reflections = true;
    m_terrain = m_grass = m_gridTiles = m_meshes = m_effects = m_decals = m_water = true;
    m_fog = false;

    CreateEngineTextures();
    LogPrintfCategory(0, m_logCategory, "Graphics engine initialized successfully");

    m_basicShader = LoadShader2(basicShaderName);
    m_overlayShader = LoadShader2(overlayShaderName);
    m_basicDeclaration = m_device->CreateVertexDeclaration(g_basicElements, 4);

    m_sampleStartTime = GetSystemTime();
    UpdateFromOptions();
    return true;
}

void GraphicsEngine::CreateEngineTextures()
{
    if (!m_device)
        return;
    if (!m_defaultTexture) {
        // A magenta and black checkerboard: a texture that failed to load shows at once.
        std::vector<uint8_t> pixels(size_t(defaultTextureSize) * defaultTextureSize * 4);
        for (int y = 0; y < defaultTextureSize; ++y)
            for (int x = 0; x < defaultTextureSize; ++x) {
                uint8_t* p = &pixels[(size_t(y) * defaultTextureSize + x) * 4];
                const bool lit = ((x / 8) + (y / 8)) % 2 == 0;
                p[0] = lit ? 255 : 0; // blue
                p[1] = 0;             // green
                p[2] = lit ? 255 : 0; // red
                p[3] = 255;           // alpha
            }
        m_defaultTexture =
            m_device->CreateTextureFromImage(defaultTextureSize, defaultTextureSize, pixels.data(), 0, 0);
    }
    if (!m_emptyTexture) {
        // Fully transparent: a texture still waiting for the device draws nothing.
        const std::vector<uint8_t> pixels(size_t(emptyTextureSize) * emptyTextureSize * 4, 0);
        m_emptyTexture =
            m_device->CreateTextureFromImage(emptyTextureSize, emptyTextureSize, pixels.data(), 0, 0);
    }
    if (!m_defaultTexture || !m_emptyTexture)
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: couldn't create the default textures");
}

void GraphicsEngine::DestroyEngineTextures()
{
    if (m_device) {
        if (m_defaultTexture)
            m_device->DestroyTexture(&m_defaultTexture);
        if (m_emptyTexture)
            m_device->DestroyTexture(&m_emptyTexture);
    }
    m_defaultTexture = nullptr;
    m_emptyTexture = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Options

void GraphicsEngine::UpdateFromOptions()
{
    if (!m_options)
        return;
    m_reflections = m_options->GetQuality(Options::QUALITY_REFLECTION) == Options::QUALITY_HIGH;

    int shadowSize = m_shadowMapSize;
    int shadowSizeSmall = m_shadowMapSizeSmall;
    switch (m_options->GetQuality(Options::QUALITY_SHADOW)) {
    case Options::QUALITY_LOW:
        shadowSize = 512;
        shadowSizeSmall = 256;
        break;
    case Options::QUALITY_MEDIUM:
        shadowSize = 1024;
        shadowSizeSmall = 512;
        break;
    case Options::QUALITY_HIGH:
        shadowSize = 2048;
        shadowSizeSmall = 1024;
        break;
    }
    const bool shadowSizeChanged = shadowSize != m_shadowMapSize || shadowSizeSmall != m_shadowMapSizeSmall;
    m_shadowMapSize = shadowSize;
    m_shadowMapSizeSmall = shadowSizeSmall;

    int reduction = GetTextureReduction();
    switch (m_options->GetQuality(Options::QUALITY_TEXTURE)) {
    case Options::QUALITY_HIGH:
        reduction = -2;
        break;
    case Options::QUALITY_MEDIUM:
        reduction = 0;
        break;
    case Options::QUALITY_LOW:
        reduction = 1;
        break;
    }
    if (reduction != GetTextureReduction()) {
        m_textureReduction.store(reduction, std::memory_order_relaxed);
        if (m_textureManager)
            m_textureManager->ReloadAllResources();
    }

    const Options::Quality detail = m_options->GetQuality(Options::QUALITY_DETAIL_LEVEL);
    if (m_device) {
        RenderGenerationId generation = m_device->GetGenerationId();
        if (detail != Options::QUALITY_HIGH) {
            // Below high detail the newer classes run the programs of an older one.
            if (generation == RENDER_GENERATION_GEFORCE5 || generation == RENDER_GENERATION_GEFORCE6)
                generation = RENDER_GENERATION_GEFORCE3;
            else if (generation == RENDER_GENERATION_RADEON9000)
                generation = RENDER_GENERATION_R200;
        }
        if (generation != GetGenerationId()) {
            SetGeneration(generation);
        } else if (shadowSizeChanged) {
            RecreateSceneRenderTargets();
        }
    }
    m_lowQualityLighting = detail == Options::QUALITY_LOW;
    m_lowQualityTerrain = detail == Options::QUALITY_LOW;

    if (!m_device || !m_primarySurface)
        return;
    const RenderDeviceSettings wanted = MakeDeviceSettings(m_settings);
    if (wanted != m_deviceSettings) {
        LogPrintfCategory(2, m_logCategory, "Resetting device due to settings change.");
        m_deviceSettings = wanted;
        if (!m_device->ResetDevice(m_deviceSettings))
            LogPrintfCategory(1, m_logCategory, "GraphicsEngine: the device did not take the new settings");
    }
}

void GraphicsEngine::SetOptionsToDefaults(Options& options)
{
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{defaultWidth, defaultHeight});

    const uint32_t adapterId = m_device ? m_device->GetAdapterId() : 0;
    const AdapterQualities* fixed = nullptr;
    for (const AdapterQualities& row : g_adapterQualities)
        if (row.adapterId == adapterId)
            fixed = &row;
    if (fixed) {
        options.SetQuality(Options::QUALITY_DETAIL_LEVEL, fixed->detailLevel);
        options.SetQuality(Options::QUALITY_REFLECTION, fixed->reflectionQuality);
        options.SetQuality(Options::QUALITY_TEXTURE, fixed->textureQuality);
        options.SetQuality(Options::QUALITY_SHADOW, fixed->shadowQuality);
    } else {
        Options::Quality detail = Options::QUALITY_MEDIUM;
        switch (m_device ? m_device->GetGenerationId() : RENDER_GENERATION_UNKNOWN) {
        case RENDER_GENERATION_GEFORCE3:
        case RENDER_GENERATION_GEFORCE4:
        case RENDER_GENERATION_R200:
            detail = Options::QUALITY_LOW;
            break;
        case RENDER_GENERATION_GEFORCE5:
        case RENDER_GENERATION_RADEON9000:
            detail = Options::QUALITY_MEDIUM;
            break;
        case RENDER_GENERATION_GEFORCE6:
            detail = Options::QUALITY_HIGH;
            break;
        default:
            break;
        }
        options.SetQuality(Options::QUALITY_DETAIL_LEVEL, detail);
        options.SetQuality(Options::QUALITY_REFLECTION, detail);
        const unsigned int megabytes = m_device ? m_device->GetTotalVideoMemory() / (1024u * 1024u) : 0u;
        if (megabytes < 96) {
            options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_LOW);
            options.SetQuality(Options::QUALITY_SHADOW, Options::QUALITY_LOW);
        } else if (megabytes < 192) {
            options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_MEDIUM);
            options.SetQuality(Options::QUALITY_SHADOW, Options::QUALITY_MEDIUM);
        } else {
            options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_HIGH);
            options.SetQuality(Options::QUALITY_SHADOW, detail);
        }
    }
    options.SetBool(Options::BOOL_TRIPLE_BUFFER, false);
}

// ---------------------------------------------------------------------------------------------
// The frame

void GraphicsEngine::Update(bool renderDisplay)
{
    if (!m_canvas)
        return;
    m_evictor->Update();
    UpdateFromOptions();
    if (!m_canvas->BeginFrame())
        return;
    m_canvas->EnableWireframe(false);

    if (m_frameCount % statisticsSampleFrames == 0) {
        const int now = GetSystemTime();
        const int elapsed = now - m_sampleStartTime;
        // A clock that stood still leaves the last figures as they were.
        if (elapsed > 0) {
            m_framesPerSecond =
                static_cast<float>(statisticsSampleFrames) * 1000.0f / static_cast<float>(elapsed);
            m_facesPerSecond =
                std::round(static_cast<float>(m_facesCounted) * 1000.0f / static_cast<float>(elapsed));
        }
        m_sampleStartTime = now;
        m_facesCounted = 0;
        m_reflectionCount = 0;
    }
    ++m_frameCount;

    if (m_display && !m_device->DeviceLost() && renderDisplay) {
        if (GraphicsNoiseGen::HasInstantiated())
            GraphicsNoiseGen::Get()->Update(*m_canvas);
        m_display->Render(*m_canvas);
        if (m_stats)
            AddStatisticsLines();
    }
    m_facesCounted += m_device->GetNumFacesRendered();
    m_canvas->EndFrame();
    m_reflectionCount = 0;
}

void GraphicsEngine::AddStatisticsLines()
{
    GraphicsStats stats;
    GetStats(stats);
    auto line = [](const std::string& text) { EngineDataServices::StatisticText(text.c_str()); };
    line(m_device->GetStatusText());
    line(FormatString("%0.2f MB physical memory used", stats.physicalMemoryUsedMB));
    line(FormatString("%0.2f MB video memory free", stats.videoMemoryFreeMB));
    line(FormatString("%0.2f FPS, %d faces, %02fM faces per second", stats.framesPerSecond, stats.facesDrawn,
                      stats.facesPerSecond / 1000000.0f));
    line(FormatString("%d draw calls, %d reflections", stats.drawCalls, stats.reflections));
    const bool objects = ObjectManager::HasInstantiated();
    line(FormatString("%d objects, %d objects pending delete",
                      objects ? int(ObjectManager::Get()->GetNumObjects()) : 0,
                      objects ? int(ObjectManager::Get()->GetNumDeletedObjects()) : 0));
    const std::pair<bool, const char*> switches[] = {
        {m_shadows, "Shadows disabled"},
        {m_lighting, "Lighting disabled"},
        {m_rendering, "Rendering disabled"},
        {m_reflections, "Reflections disabled"},
        {m_fog, "Fog disabled"},
        {m_terrain, "Terrain disabled"},
        {m_grass, "Grass disabled"},
        {m_gridTiles, "Grid tiles disabled"},
        {m_meshes, "Meshes disabled"},
        {m_effects, "Effects disabled"},
        {m_decals, "Decals disabled"},
        {m_water, "Water disabled"},
    };
    for (const auto& [on, text] : switches)
        if (!on)
            line(text);
    if (m_options) {
        line(FormatString("Reflection Quality   = %s",
                          QualityName(m_options->GetQuality(Options::QUALITY_REFLECTION))));
        line(FormatString("Shadow Quality       = %s",
                          QualityName(m_options->GetQuality(Options::QUALITY_SHADOW))));
        line(FormatString("Texture Quality      = %s",
                          QualityName(m_options->GetQuality(Options::QUALITY_TEXTURE))));
        line(FormatString("Detail Levelty       = %s",
                          QualityName(m_options->GetQuality(Options::QUALITY_DETAIL_LEVEL))));
        line(FormatString("Antialiasing         = %s",
                          TrueFalse(m_options->GetBool(Options::BOOL_ANTI_ALIASING))));
        line(FormatString("Sync to Refresh      = %s",
                          TrueFalse(m_options->GetBool(Options::BOOL_SYNC_TO_REFRESH))));
        line(FormatString("Triple Buffer        = %s",
                          TrueFalse(m_options->GetBool(Options::BOOL_TRIPLE_BUFFER))));
    }
}

void GraphicsEngine::GetStats(GraphicsStats& stats) const
{
    stats.physicalMemoryUsedMB = static_cast<float>(Platform::GetProcessWorkingSetBytes()) / bytesPerMegabyte;
    stats.videoMemoryFreeMB =
        m_device ? static_cast<float>(m_device->GetFreeVideoMemory()) / bytesPerMegabyte : 0.0f;
    stats.framesPerSecond = m_framesPerSecond;
    stats.facesDrawn = m_device ? m_device->GetNumFacesRendered() : 0;
    stats.facesPerSecond = m_facesPerSecond;
    stats.drawCalls = m_device ? m_device->GetNumDrawCalls() : 0;
    stats.reflections = m_reflectionCount;
}

void GraphicsEngine::PresentSurface()
{
    if (!m_canvas || m_device->DeviceLost() || !m_primarySurface)
        return;
    Profile block("Present");
    m_canvas->PresentSurface(m_primarySurface);
}

// ---------------------------------------------------------------------------------------------
// Device reset

void GraphicsEngine::PreDeviceReset()
{
    if (!m_device)
        return;
    ReloadAllResources();
    if (GraphicsSceneFactory* scene = GraphicsSceneFactory::Get())
        scene->DestroyRenderTargets(*this);
    if (GraphicsNoiseGen::HasInstantiated())
        GraphicsNoiseGen::Get()->PreDeviceReset();
    if (m_canvas)
        m_canvas->PreDeviceReset();
    DestroyEngineTextures();
    if (m_primarySurface)
        m_device->DestroySurface(&m_primarySurface);
    m_primarySurface = nullptr;
}

void GraphicsEngine::PostDeviceReset()
{
    if (!m_device)
        return;
    if (!m_primarySurface)
        m_primarySurface = m_device->CreatePrimarySurface(m_window, &m_deviceSettings);
    if (!m_primarySurface)
        LogPrintfCategory(2, m_logCategory, "Couldn't create the primary rendering surface");
    if (m_canvas) {
        m_canvas->SetPrimarySurface(m_primarySurface);
        m_canvas->CreateDynamicBuffers();
    }
    if (m_canvas)
        CreateEngineTextures();
    RecreateSceneRenderTargets();
    if (GraphicsNoiseGen::HasInstantiated())
        GraphicsNoiseGen::Get()->PostDeviceReset();
}

void GraphicsEngine::ForceDeviceReset()
{
    if (m_device && !m_device->ResetDevice(m_deviceSettings))
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: the device could not be reset");
}

void GraphicsEngine::EnableVerticalSync(bool enable)
{
    if (m_device)
        m_device->EnableVerticalSync(enable);
}

void GraphicsEngine::UnregisterVertexDeclaration(RenderVertexDeclaration* declaration)
{
    if (m_device)
        m_device->UnregisterVertexDeclaration(declaration);
}

void GraphicsEngine::GetSupportedDisplayModes(std::vector<RenderDisplayMode>& modes)
{
    if (m_device)
        m_device->GetSupportedDisplayModes(modes);
}

// ---------------------------------------------------------------------------------------------
// Resources

GraphicsTexture* GraphicsEngine::LoadTexture(const std::string& fileName)
{
    if (!m_textureManager)
        return nullptr;
    GraphicsTexture* texture = m_textureManager->LoadTypedResource(fileName);
    m_textureManager->PreLoadResource(texture);
    return texture;
}

void GraphicsEngine::UnloadTexture(const GraphicsTexture* texture)
{
    if (m_textureManager)
        m_textureManager->UnloadTypedResource(texture);
}

GraphicsFont* GraphicsEngine::LoadFont(const std::string& fileName)
{
    if (!m_fontManager)
        return nullptr;
    GraphicsFont* font = m_fontManager->LoadTypedResource(fileName);
    m_fontManager->PreLoadResource(font);
    return font;
}

void GraphicsEngine::UnloadFont(const GraphicsFont* font)
{
    if (m_fontManager)
        m_fontManager->UnloadTypedResource(font);
}

GraphicsShader2* GraphicsEngine::LoadShader2(const std::string& fileName)
{
    if (!m_shaderManager)
        return nullptr;
    GraphicsShader2* shader = m_shaderManager->LoadTypedResource(fileName);
    m_shaderManager->PreLoadResource(shader);
    return shader;
}

void GraphicsEngine::UnloadShader2(const GraphicsShader2* shader)
{
    if (m_shaderManager)
        m_shaderManager->UnloadTypedResource(shader);
}

GraphicsMesh* GraphicsEngine::LoadMesh(const std::string& fileName)
{
    GraphicsSceneFactory* scene = GraphicsSceneFactory::Get();
    return m_meshManager && scene ? scene->LoadMesh(*m_meshManager, fileName) : nullptr;
}

void GraphicsEngine::UnloadMesh(const GraphicsMesh* mesh)
{
    if (GraphicsSceneFactory* scene = GraphicsSceneFactory::Get(); scene && m_meshManager)
        scene->UnloadMesh(*m_meshManager, mesh);
}

GraphicsAnim* GraphicsEngine::LoadAnimation(const std::string& fileName)
{
    GraphicsSceneFactory* scene = GraphicsSceneFactory::Get();
    return m_animationManager && scene ? scene->LoadAnimation(*m_animationManager, fileName) : nullptr;
}

void GraphicsEngine::UnloadAnimation(const GraphicsAnim* animation)
{
    if (GraphicsSceneFactory* scene = GraphicsSceneFactory::Get(); scene && m_animationManager)
        scene->UnloadAnimation(*m_animationManager, animation);
}

void GraphicsEngine::ReloadAllResources()
{
    if (BaseResourceManager* effects = GraphicsServices::EffectResources())
        effects->ReloadAllResources();
    BaseResourceManager* managers[] = {m_textureManager, m_fontManager, m_shaderManager, m_meshManager,
                                       m_animationManager};
    for (BaseResourceManager* manager : managers)
        if (manager)
            manager->ReloadAllResources();
    if (m_canvas && m_device && !m_device->DeviceLost())
        m_canvas->SetDefaultState();
}

void GraphicsEngine::UnloadUnreferencedResources()
{
    // Shaders and meshes first: what they release can go in the same sweep.
    BaseResourceManager* managers[] = {m_shaderManager, m_meshManager, m_animationManager, m_fontManager,
                                       m_textureManager};
    for (BaseResourceManager* manager : managers)
        if (manager)
            manager->UnloadUnreferencedResources();
}

void GraphicsEngine::ListLoadedResources()
{
    const std::string equals(49, '=');
    const std::string dashes(49, '-');
    LogPrintfCategory(0, m_logCategory, "Loaded Resources");
    LogPrintfCategory(0, m_logCategory, "%s", equals.c_str());
    LogPrintfCategory(0, m_logCategory, "%s", "");
    const std::pair<const char*, BaseResourceManager*> lists[] = {{"Fonts", m_fontManager},
                                                                  {"Meshes", m_meshManager},
                                                                  {"Shaders", m_shaderManager},
                                                                  {"Textures", m_textureManager},
                                                                  {"Animations", m_animationManager}};
    for (const auto& [heading, manager] : lists) {
        LogPrintfCategory(0, m_logCategory, "%s", heading);
        LogPrintfCategory(0, m_logCategory, "%s", dashes.c_str());
        if (manager)
            manager->ListLoadedResources();
        LogPrintfCategory(0, m_logCategory, "%s", "");
    }
}

void GraphicsEngine::EvictOldResources(int frames)
{
    if (m_evictor)
        m_evictor->Evict(frames);
}

void GraphicsEngine::WriteResourceLog(std::FILE* file) const
{
    if (!file)
        return;
    const std::pair<const char*, BaseResourceManager*> lists[] = {{"Fonts", m_fontManager},
                                                                  {"Meshes", m_meshManager},
                                                                  {"Shaders", m_shaderManager},
                                                                  {"Textures", m_textureManager},
                                                                  {"Animations", m_animationManager}};
    for (const auto& [heading, manager] : lists)
        if (manager)
            manager->WriteResourceLog(heading, file);
}

GraphicsShader2* GraphicsEngine::GetOverlayShader() const
{
    // An overlay shader whose load came to nothing (a missing or bad file) leaves the basic one.
    if (m_overlayShader && (m_overlayShader->GetLoadedState() != Resource::LOAD_STATE_LOADED ||
                            m_overlayShader->GetNumStyles() > 0))
        return m_overlayShader;
    return m_basicShader;
}

// ---------------------------------------------------------------------------------------------
// Resolution adjustment, generations, reductions

void GraphicsEngine::GetResAdjRect(Rect& rect) const
{
    const float sx = m_device ? static_cast<float>(m_device->GetWidth()) / 1024.0f : 1.0f;
    const float sy = m_device ? static_cast<float>(m_device->GetHeight()) / 768.0f : 1.0f;
    rect.x *= sx;
    rect.width = std::floor(rect.width * sx + 0.5f);
    rect.y *= sy;
    rect.height = std::floor(rect.height * sy + 0.5f);
}

void GraphicsEngine::GetResAdjValuesX(float* const* values) const
{
    const float sx = m_device ? static_cast<float>(m_device->GetWidth()) / 1024.0f : 1.0f;
    for (; values && *values; ++values)
        **values *= sx;
}

void GraphicsEngine::GetResAdjValuesY(float* const* values) const
{
    const float sy = m_device ? static_cast<float>(m_device->GetHeight()) / 768.0f : 1.0f;
    for (; values && *values; ++values)
        **values *= sy;
}

bool GraphicsEngine::IsDownsizing() const
{
    return m_device && (m_device->GetWidth() < 1024 || m_device->GetHeight() < 768);
}

const char* GraphicsEngine::GetGenerationName() const
{
    return RenderDevice::GetNameForGeneration(GetGenerationId());
}

void GraphicsEngine::SetGeneration(RenderGenerationId generation)
{
    if (generation == GetGenerationId())
        return;
    m_generation.store(generation, std::memory_order_relaxed);
    if (m_shaderManager)
        m_shaderManager->ReloadAllResources();
    if (m_meshManager)
        m_meshManager->ReloadAllResources();
    if (GraphicsWorldServices* world = GraphicsWorldServices::Get())
        world->ReloadWorldGenerationData();
    if (m_textureManager)
        m_textureManager->ReloadAllResources();
    if (m_canvas && m_device && !m_device->DeviceLost())
        m_canvas->SetDefaultState();
    RecreateSceneRenderTargets();
}

// ---------------------------------------------------------------------------------------------
// The scene renderers' shared resources

void GraphicsEngine::CreateSceneResources()
{
    if (GraphicsSceneFactory* scene = GraphicsSceneFactory::Get())
        scene->CreateSceneResources(*this);
    RecreateSceneRenderTargets();
}

void GraphicsEngine::DestroySceneResources()
{
    if (GraphicsSceneFactory* scene = GraphicsSceneFactory::Get()) {
        scene->DestroyRenderTargets(*this);
        scene->DestroySceneResources(*this);
    }
}

void GraphicsEngine::RecreateSceneRenderTargets()
{
    GraphicsSceneFactory* scene = GraphicsSceneFactory::Get();
    if (!scene || !m_canvas || !m_device || m_device->DeviceLost())
        return;
    scene->CreateRenderTargets(*this, static_cast<unsigned int>(m_shadowMapSize),
                               static_cast<unsigned int>(m_shadowMapSizeSmall));
}

void GraphicsEngine::SetGeneration(const char* name)
{
    SetGeneration(RenderDevice::GetGenerationForName(name ? name : ""));
}

int GraphicsEngine::GetPixelShaderVersion() const
{
    switch (GetGenerationId()) {
    case RENDER_GENERATION_GEFORCE3:
        return 1;
    case RENDER_GENERATION_GEFORCE4:
        return 3;
    case RENDER_GENERATION_GEFORCE5:
    case RENDER_GENERATION_RADEON9000:
        return 5;
    case RENDER_GENERATION_GEFORCE6:
        return 6;
    case RENDER_GENERATION_R200:
        return 4;
    default:
        return 0;
    }
}

int GraphicsEngine::GetMaxNumBones() const
{
    const RenderGenerationId generation = GetGenerationId();
    return generation == RENDER_GENERATION_GEFORCE3 || generation == RENDER_GENERATION_GEFORCE4 ? 24 : 27;
}

int GraphicsEngine::GetTextureReduction(const std::string& fileName) const
{
    std::string name = fileName;
    FileSystem::ConvertFileName(name);
    int directory = 0;
    {
        std::lock_guard<std::mutex> lock(m_directoryReductionsLock);
        for (const auto& [prefix, reduction] : m_directoryReductions)
            if (name.compare(0, prefix.size(), prefix) == 0) {
                directory = reduction;
                break;
            }
    }
    return std::max(0, GetTextureReduction() + directory);
}

void GraphicsEngine::SetDirectoryTextureReduction(const std::string& directory, int reduction)
{
    std::string prefix = directory;
    FileSystem::ConvertFileName(prefix);
    std::lock_guard<std::mutex> lock(m_directoryReductionsLock);
    for (auto& entry : m_directoryReductions)
        if (entry.first == prefix) {
            entry.second = reduction;
            return;
        }
    m_directoryReductions.emplace_back(prefix, reduction);
}

void GraphicsEngine::SetFogColor(float r, float g, float b)
{
    m_fogColor[0] = r;
    m_fogColor[1] = g;
    m_fogColor[2] = b;
}

void GraphicsEngine::SetDepthFog(float a, float b, float c)
{
    m_depthFog[0] = a;
    m_depthFog[1] = b;
    m_depthFog[2] = c;
}

void GraphicsEngine::SetHeightFog(float a, float b, float c)
{
    m_heightFog[0] = a;
    m_heightFog[1] = b;
    m_heightFog[2] = c;
}

// ---------------------------------------------------------------------------------------------
// Screenshots

namespace {

enum class PictureFile
{
    Tga,
    Png,
    Other,
};

// By the name's extension, whatever its case.
PictureFile PictureFileOf(const std::string& name)
{
    const size_t dot = name.find_last_of('.');
    const size_t slash = name.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return PictureFile::Other;
    std::string extension = name.substr(dot);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".tga" ? PictureFile::Tga : extension == ".png" ? PictureFile::Png : PictureFile::Other;
}

} // namespace

bool GraphicsEngine::SaveRenderSurface(const char* fileName, RenderSurface* surface)
{
    if (!m_device || !surface || !fileName || !*fileName)
        return false;
    const PictureFile kind = PictureFileOf(fileName);
    if (kind == PictureFile::Other) {
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: can't save '%s': a picture is written as .png or .tga",
                          fileName);
        return false;
    }
    const int width = surface->GetWidth();
    const int height = surface->GetHeight();
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) * 4 > Image::maxBufferBytes) {
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: a %d x %d surface cannot be saved", width,
                          height);
        return false;
    }
    std::vector<Pixel> pixels(size_t(width) * size_t(height));
    // The device reads its render target 0: the surface is bound for the read, and whatever was
    // bound before is bound again afterwards.
    RenderSurface* previous = m_canvas ? m_canvas->GetTargetSurface() : nullptr;
    if (m_canvas)
        m_canvas->SetTargetSurface(surface);
    else
        m_device->SetTargetSurface(0, surface);
    const bool read = m_device->ReadFrameBuffer(pixels.data(), width, height);
    if (m_canvas)
        m_canvas->SetTargetSurface(previous);
    else
        m_device->SetTargetSurface(0, nullptr);
    if (!read) {
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: couldn't read the surface back for '%s'",
                          fileName);
        return false;
    }

    Image image;
    if (!image.Create(uint32_t(width), uint32_t(height), Image::FORMAT_RGBA, pixels.data()))
        return false;
    BinaryWriter picture(static_cast<unsigned>(image.GetBufferSize() + 1024));
    bool made = false;
    if (kind == PictureFile::Tga)
        made = image.WriteTGA(picture);
    else // the target's alpha is the renderers' own (masks): a PNG of the picture is opaque
        made = image.ChangeFormat(Image::FORMAT_RGB) && image.WritePNG(picture);
    if (!made || picture.Failed()) {
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: couldn't make the image of '%s'", fileName);
        return false;
    }
    BinaryWriter file;
    bool written = file.OpenFile(fileName);
    written = written && file.WriteBytes(picture.GetBuffer(), picture.GetSize());
    written = file.CloseStream() && written && !file.Failed();
    if (!written)
        LogPrintfCategory(1, m_logCategory, "GraphicsEngine: couldn't write '%s'", fileName);
    return written;
}

bool GraphicsEngine::SaveScreenShot(const char* fileName)
{
    return SaveRenderSurface(fileName, m_primarySurface);
}

} // namespace GAME
