#include "graphics/GraphicsEngine.h"

#include "core/Log.h"
#include "core/Time.h"
#include "data/LocalizationManager.h"
#include "graphics/Display.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsNoiseGen.h"
#include "graphics/RenderDevice.h"
#include "graphics/ResourceEvictor.h"
#include "platform/FatalError.h"
#include "platform/Threading.h"

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

constexpr unsigned int statisticsSampleFrames = 15;

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
    ReleaseDevice();
}

void GraphicsEngine::ReleaseDevice()
{
    delete m_evictor;
    m_evictor = nullptr;
    delete m_canvas;
    m_canvas = nullptr;
    if (m_device && m_primarySurface)
        m_device->DestroySurface(&m_primarySurface);
    m_primarySurface = nullptr;
    RenderDevice::Destroy(m_device);
}

RenderDeviceSettings GraphicsEngine::MakeDeviceSettings(const GraphicsEngineSettings& settings) const
{
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
    }
    return result;
}

void GraphicsEngine::SaveOptions() const
{
    if (m_options && !m_settingsPath.empty() && !m_options->Save(m_settingsPath))
        LogPrintf(1, "GraphicsEngine: couldn't save the settings to '%s'", m_settingsPath.c_str());
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
        ReleaseDevice();
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
            // The user's options may ask for what the device cannot do: try the machine's
            // defaults at once, and keep them in the user's file when they work.
            SetOptionsToDefaults(*m_options);
            m_deviceSettings = MakeDeviceSettings(settings);
            m_primarySurface = m_device->CreatePrimarySurface(window, &m_deviceSettings);
            if (m_primarySurface)
                SaveOptions();
        }
        if (!m_primarySurface) {
            Platform::SleepMilliseconds(100);
            m_device->Initialize();
        }
    }
    if (!m_primarySurface) {
        LogPrintfCategory(2, m_logCategory, "Couldn't create the primary rendering surface");
        ReleaseDevice();
        return false;
    }
    if (!PassesCompatibilityCheck()) {
        LogPrintfCategory(2, m_logCategory, "GraphicsEngine: this graphics hardware is not supported");
        Platform::FatalError(
            "Fatal Error",
            LocalizationManager::ToChar(LocalizationManager::Instance()->GetText("tagInstallerText35")));
        ReleaseDevice();
        return false;
    }
    return true;
}

bool GraphicsEngine::PassesCompatibilityCheck() const
{
    if (m_options && m_options->GetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS))
        return true;
    return m_device->GetGenerationId() != RENDER_GENERATION_UNKNOWN &&
           m_device->GetTotalVideoMemory() >= minimumVideoMemory;
}

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
    LogPrintfCategory(0, m_logCategory, "%s", m_device->GetStatusText());

    m_canvas = new GraphicsCanvas(m_device, m_primarySurface);
    m_evictor = new ResourceEvictor(m_device);

    m_statistics = false;
    m_reflections = true;
    m_sampleStartTime = GetSystemTime();
    LogPrintfCategory(0, m_logCategory, "Graphics engine initialized successfully");
    UpdateFromOptions();
    return true;
}

void GraphicsEngine::UpdateFromOptions()
{
    if (!m_options)
        return;
    m_reflections = m_options->GetQuality(Options::QUALITY_REFLECTION) == Options::QUALITY_HIGH;
    switch (m_options->GetQuality(Options::QUALITY_SHADOW)) {
    case Options::QUALITY_LOW:
        m_shadowMapSize = 512;
        m_shadowMapSizeSmall = 256;
        break;
    case Options::QUALITY_MEDIUM:
        m_shadowMapSize = 1024;
        m_shadowMapSizeSmall = 512;
        break;
    case Options::QUALITY_HIGH:
        m_shadowMapSize = 2048;
        m_shadowMapSizeSmall = 1024;
        break;
    }
    // TODO(stand-in): a changed reduction reloads every texture once textures exist.
    switch (m_options->GetQuality(Options::QUALITY_TEXTURE)) {
    case Options::QUALITY_HIGH:
        m_textureReduction = -2;
        break;
    case Options::QUALITY_MEDIUM:
        m_textureReduction = 0;
        break;
    case Options::QUALITY_LOW:
        m_textureReduction = 1;
        break;
    }
    const bool lowDetail = m_options->GetQuality(Options::QUALITY_DETAIL_LEVEL) == Options::QUALITY_LOW;
    m_lowQualityLighting = lowDetail;
    m_lowQualityTerrain = lowDetail;

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

void GraphicsEngine::Update(bool renderScene)
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
        if (elapsed > 0) {
            m_framesPerSecond =
                static_cast<float>(statisticsSampleFrames) * 1000.0f / static_cast<float>(elapsed);
            m_facesPerSecond =
                std::round(static_cast<float>(m_facesCounted) * 1000.0f / static_cast<float>(elapsed));
        }
        m_sampleStartTime = now;
        m_facesCounted = 0;
    }
    ++m_frameCount;

    if (m_display && !m_device->DeviceLost() && renderScene) {
        if (GraphicsNoiseGen::HasInstantiated())
            GraphicsNoiseGen::Get()->Update(*m_canvas);
        m_display->Render(*m_canvas);
        // TODO(stand-in): the statistics lines through the engine's statistics text.
    }
    m_facesCounted += m_device->GetNumFacesRendered();
    m_canvas->EndFrame();
}

void GraphicsEngine::PresentSurface()
{
    if (!m_canvas || m_device->DeviceLost() || !m_primarySurface)
        return;
    m_canvas->PresentSurface(m_primarySurface);
}

void GraphicsEngine::PreDeviceReset()
{
    if (!m_device)
        return;
    ReloadAllResources();
    if (GraphicsNoiseGen::HasInstantiated())
        GraphicsNoiseGen::Get()->PreDeviceReset();
    if (m_canvas)
        m_canvas->PreDeviceReset();
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
    if (GraphicsNoiseGen::HasInstantiated())
        GraphicsNoiseGen::Get()->PostDeviceReset();
}

GraphicsShader2* GraphicsEngine::GetOverlayShader() const
{
    return nullptr; // TODO(stand-in): "Shaders/Overlay.ssh", else "Shaders/Basic.ssh"
}

GraphicsTexture* GraphicsEngine::LoadTexture(const std::string&)
{
    return nullptr; // TODO(stand-in): the texture manager
}

void GraphicsEngine::UnloadTexture(GraphicsTexture*) {}

GraphicsShader2* GraphicsEngine::LoadShader2(const std::string&)
{
    return nullptr; // TODO(stand-in): the shader manager
}

void GraphicsEngine::UnloadShader2(GraphicsShader2*) {}

GraphicsMesh* GraphicsEngine::LoadMesh(const std::string&)
{
    return nullptr; // TODO(stand-in): the mesh manager
}

GraphicsAnim* GraphicsEngine::LoadAnimation(const std::string&)
{
    return nullptr; // TODO(stand-in): the animation manager
}

void GraphicsEngine::ReloadAllResources()
{
    // TODO(stand-in): reload the five managers' resources (and the engine's effects) first.
    if (m_canvas && m_device && !m_device->DeviceLost())
        m_canvas->SetDefaultState();
}

void GraphicsEngine::UnloadUnreferencedResources()
{
    // TODO(stand-in): the five managers unload what nothing uses; nothing is loaded yet.
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
    // No manager holds anything yet, so every list is empty.
    static const char* const headings[] = {"Fonts", "Meshes", "Shaders", "Textures", "Animations"};
    for (const char* heading : headings)
        std::fprintf(file, "%s\n-------------------------------------------------\n\n", heading);
}

bool GraphicsEngine::SaveScreenShot(const char* fileName)
{
    // TODO(stand-in): read the primary surface back and write it as TGA through GAME::Image.
    LogPrintfCategory(1, m_logCategory, "GraphicsEngine: screenshots need the image writer; '%s' not saved",
                      fileName ? fileName : "");
    return false;
}

} // namespace GAME
