// Writes the small set of game data a headless engine start reads, into a folder that a file
// system then mounts: the record database "database.arz" (the utility font style record and the
// records a caller adds), the options defaults file, the localized texts of one language
// ("Text_<code>/<category>.txt", one file per category, lines of tag=text),
// and the sample content the other datakit writers make: shaders and their textures, sounds with
// their records, effects, models, terrain types with their textures, water shaders, textures and
// records, the sample grid system's pieces (SampleGridKit), any other file added, and the default
// font "Fonts/Arial.fnt" (a free TrueType face of the system's, Liberation Sans from
// fonts-liberation, found through fontconfig; left out when the system has none). The sample host
// and the engine's tests make their data here. One thread at a time.
#pragma once

#include "datakit/ArzWriter.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace DataKit {

class SampleGameData
{
public:
    // Names inside the folder.
    static constexpr const char* databaseName = "database.arz";
    static constexpr const char* defaultSettingsName = "Settings/defaults.txt";
    static constexpr const char* userSettingsName = "Settings/options.txt";
    static constexpr const char* utilityFontStyleRecord = "Records/UI/FontStyles/WhiteArial.dbr";
    static constexpr const char* basicShaderName = "Shaders/Basic.ssh";
    static constexpr const char* overlayShaderName = "Shaders/Overlay.ssh";
    static constexpr const char* litShaderName = "Shaders/Lit.ssh";
    static constexpr const char* unlitShaderName = "Shaders/Unlit.ssh";
    static constexpr const char* filterShaderName = "Shaders/Filter.ssh";
    static constexpr const char* noiseShaderName = "Shaders/NoiseTextureGen.ssh";
    static constexpr const char* defaultFontName = "Fonts/Arial.fnt";
    // The text start-up shows when the graphics device cannot be made.
    static constexpr const char* deviceErrorText = "The graphics device could not be started.";
    // The scene renderers' files: the see-through form of the lit shader (meshes take the file
    // with "T" before the extension for their see-through sections), the portal mask, the inverse
    // transparency mask (white, its alpha 0 at the centre of the view rising to 1 at the edges) and
    // the depth lookup ramp.
    static constexpr const char* litTransparentShaderName = "Shaders/LitT.ssh";
    static constexpr const char* portalMaskShaderName = "Shaders/PortalMask.ssh";
    static constexpr const char* inverseTransparencyMaskName = "System/Textures/InvTransparencyMask.tex";
    static constexpr const char* depthLookupTextureName = "System/Textures/DepthMapLookup.tex";

    SampleGameData();

    // The records beyond the font style; written as given.
    ArzWriter& Database() { return m_database; }
    // "key = value" lines of the defaults file, written in this order ("%-25s = %s").
    void SetDefault(const std::string& key, const std::string& value);
    // An extra tag for the category's file ("Menu", "UI", ...).
    void AddText(const std::string& category, const std::string& tag, const std::string& text);
    // A file written as given under its name (sounds, ...).
    void AddFile(const std::string& name, std::vector<uint8_t> bytes);
    // The language code of the text folder (EN by default).
    void SetLanguageCode(const std::string& code) { m_languageCode = code; }

    // Writes everything under folder (made when missing); false when a file could not be written.
    bool Write(const std::string& folder) const;

    // The category file names, in the localization manager's order.
    static const std::vector<std::string>& Categories();
    // The TrueType file written as the default font; empty when fontconfig finds none.
    static std::string FindFreeFontFile();

private:
    ArzWriter m_database;
    std::vector<std::pair<std::string, std::string>> m_defaults;
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> m_texts;
    std::string m_languageCode = "EN";
    std::vector<std::pair<std::string, std::vector<uint8_t>>> m_files;
};

} // namespace DataKit
