#include "datakit/SampleGameData.h"

#include "datakit/CharacterGenerator.h"
#include "datakit/EffectShaders.h"
#include "datakit/MeshShaders.h"
#include "datakit/OverlayShaders.h"
#include "datakit/ParticleShaders.h"
#include "datakit/SampleEffects.h"
#include "datakit/SampleGridKit.h"
#include "datakit/ShaderWriter.h"
#include "datakit/SoundWriter.h"
#include "datakit/TerrainShaders.h"
#include "datakit/TerrainWriter.h"
#include "datakit/TextureWriter.h"
#include "datakit/WaterShaders.h"
#include "datakit/WaterWriter.h"
#include "terrain/Terrain.h"

#include "FontFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace DataKit {

namespace {

bool WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// White, its alpha 0 about the centre of the view, rising to 1 from a quarter of the way to the
// edges: where the view sees through to a region behind a portal.
std::vector<uint8_t> InverseTransparencyMask()
{
    constexpr uint32_t size = 64;
    std::vector<uint32_t> texels(size * size);
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const float dx = (static_cast<float>(x) + 0.5f) / size - 0.5f;
            const float dy = (static_cast<float>(y) + 0.5f) / size - 0.5f;
            const float r = std::sqrt(dx * dx + dy * dy);
            const float t = std::clamp((r - 0.15f) / 0.2f, 0.0f, 1.0f);
            const auto alpha = static_cast<uint32_t>(std::lround(t * t * (3.0f - 2.0f * t) * 255.0f));
            texels[y * size + x] = alpha << 24 | 0x00FFFFFFu;
        }
    return TextureWriter::Dds(size, size, texels);
}

// Depth 0 to 1 across 256 texels, as grey.
std::vector<uint8_t> DepthLookupRamp()
{
    std::vector<uint32_t> texels(256);
    for (uint32_t i = 0; i < 256; ++i)
        texels[i] = 0xFF000000u | i << 16 | i << 8 | i;
    return TextureWriter::Dds(256, 1, texels);
}

} // namespace

std::string SampleGameData::FindFreeFontFile()
{
    const std::string file = GAME::DeviceCommon::FindFontFile("Liberation Sans:style=Regular");
    // fontconfig answers with its nearest face; only the free one is shipped.
    if (file.find("LiberationSans-Regular") == std::string::npos)
        return {};
    return file;
}

const std::vector<std::string>& SampleGameData::Categories()
{
    static const std::vector<std::string> categories = {
        "Dialog",          "UI",     "Help",  "Encyclopedia", "Monsters", "Menu",    "CommonEquipment",
        "UniqueEquipment", "Skills", "Quest", "Npc",          "Install",  "Tutorial"};
    return categories;
}

SampleGameData::SampleGameData()
{
    m_database.SetFooter(true);
    m_database.AddRecord(NormalizeRecordName(utilityFontStyleRecord))
        .String("Class", "FontStyle")
        .String("fontName", "Fonts/Arial.fnt")
        .Int("fontSize", 12)
        .Bool("fontDropShadow", true);
    WaterWriter::AddSampleRecords(m_database);

    SetDefault("resolution", "1024 768");
    SetDefault("fullscreen", "false");
    SetDefault("antiAliasing", "false");
    SetDefault("syncToRefresh", "false");
    SetDefault("tripleBuffer", "false");
    SetDefault("textureQuality", "medium");
    SetDefault("shadowQuality", "medium");
    SetDefault("reflectionQuality", "medium");
    SetDefault("detailLevel", "medium");
    SetDefault("language", "English");
    SetDefault("forceSingleProcessorMode", "false");
    SetDefault("skipCompatibilityChecks", "false");

    AddText("Menu", "tagMenuError33", deviceErrorText);
    AddText("Install", "tagInstallerText35", "This graphics hardware is not supported.");
    AddText("UI", "tagLanguage01", "English");

    SoundWriter::AddSampleSounds(*this);
    TerrainWriter::AddSampleTextures(*this);
    TerrainShaders::AddSampleShaders(*this);
    WaterShaders::AddSampleFiles(*this);
}

void SampleGameData::AddFile(const std::string& name, std::vector<uint8_t> bytes)
{
    m_files.emplace_back(name, std::move(bytes));
}

void SampleGameData::SetDefault(const std::string& key, const std::string& value)
{
    for (auto& entry : m_defaults) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    m_defaults.emplace_back(key, value);
}

void SampleGameData::AddText(const std::string& category, const std::string& tag, const std::string& text)
{
    m_texts.push_back({category, {tag, text}});
}

bool SampleGameData::Write(const std::string& folder) const
{
    const std::filesystem::path root(folder);
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (!m_database.Save((root / databaseName).string()) || !SampleEffects::Write(folder))
        return false;

    std::string defaults;
    for (const auto& [key, value] : m_defaults) {
        char line[256];
        std::snprintf(line, sizeof(line), "%-25s = %s\n", key.c_str(), value.c_str());
        defaults += line;
    }
    if (!WriteText(root / defaultSettingsName, defaults))
        return false;
    // The sample models and animations, and the pieces of the sample grid system.
    if (!CharacterGenerator::WriteSampleContent(folder) || !SampleGridKit::WriteSampleContent(folder))
        return false;

    for (const std::string& category : Categories()) {
        // Every file starts with a comment line, so none is too short to be read.
        std::string text = "// " + category + " texts of the sample game\n";
        for (const auto& [fileCategory, entry] : m_texts)
            if (fileCategory == category)
                text += entry.first + "=" + entry.second + "\n";
        if (!WriteText(root / ("Text_" + m_languageCode) / (category + ".txt"), text))
            return false;
    }
    for (const auto& [name, bytes] : m_files)
        if (!WriteText(root / name, std::string(bytes.begin(), bytes.end())))
            return false;

    // The shaders the graphics engine loads at start-up, the sample mesh shaders, and the white
    // texture their texture parameters fall back to.
    if (!ShaderWriter::SampleBasic().Save((root / basicShaderName).string()) ||
        !ShaderWriter::SampleOverlay().Save((root / overlayShaderName).string()) ||
        !ShaderWriter::SampleLit().Save((root / litShaderName).string()) ||
        !ShaderWriter::SampleUnlit().Save((root / unlitShaderName).string()) ||
        !ShaderWriter::SampleFilter().Save((root / filterShaderName).string()) ||
        !ShaderWriter::SampleNoiseTextureGen().Save((root / noiseShaderName).string()) ||
        !MeshShaders::SampleSkinned().Save((root / MeshShaders::skinnedShaderName).string()) ||
        // The editable terrain draws its impassable cells as debug primitives.
        !ShaderWriter::SampleBasic().Save((root / GAME::Terrain::impassableShaderName).string()) ||
        !OverlayShaders::Save(folder) ||
        !TextureWriter::Save((root / ShaderWriter::whiteTextureName).string(),
                             TextureWriter::SolidDds(1, 1, 0xFFFFFFFFu)))
        return false;
    // The shaders and textures of decals, line effects, weapon trails and particle emitters.
    if (!EffectShaders::Write(folder) || !ParticleShaders::Write(folder))
        return false;

    // What the scene renderers load by name.
    if (!ShaderWriter::SampleLitTransparent().Save((root / litTransparentShaderName).string()) ||
        !ShaderWriter::SamplePortalMask().Save((root / portalMaskShaderName).string()) ||
        !TextureWriter::Save((root / inverseTransparencyMaskName).string(), InverseTransparencyMask()) ||
        !TextureWriter::Save((root / depthLookupTextureName).string(), DepthLookupRamp()))
        return false;

    // The device owns the font format: the file is the TrueType face itself.
    const std::string font = FindFreeFontFile();
    if (!font.empty()) {
        std::filesystem::create_directories((root / defaultFontName).parent_path(), error);
        std::filesystem::copy_file(font, root / defaultFontName,
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error)
            return false;
    }
    return true;
}

} // namespace DataKit
