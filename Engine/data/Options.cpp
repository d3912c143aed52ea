#include "data/Options.h"

#include "core/Log.h"
#include "core/SystemUtils.h"
#include "data/ConfigFile.h"
#include "data/FileUtilities.h"
#include "platform/PlatformFile.h"

#include <atomic>
#include <cstring>

namespace GAME {

namespace {

constexpr Options::Key kKeys[Options::numKeys] = {
    {"networkSpeed", Options::QUALITY_NETWORK_SPEED, Options::TYPE_QUALITY, Options::GROUP_GAME},
    {"displayDamage", Options::BOOL_DISPLAY_DAMAGE, Options::TYPE_BOOL, Options::GROUP_GAME},
    {"quickBuy", Options::BOOL_QUICK_BUY, Options::TYPE_BOOL, Options::GROUP_GAME},
    {"itemComparison", Options::BOOL_ITEM_COMPARISON, Options::TYPE_BOOL, Options::GROUP_GAME},
    {"extraRollovers", Options::BOOL_EXTRA_ROLLOVERS, Options::TYPE_BOOL, Options::GROUP_GAME},
    {"showMonsterLevelOnRollover", Options::BOOL_SHOW_MONSTER_LEVEL_ON_ROLLOVER, Options::TYPE_BOOL,
     Options::GROUP_GAME},
    {"textureQuality", Options::QUALITY_TEXTURE, Options::TYPE_QUALITY, Options::GROUP_GRAPHICS},
    {"shadowQuality", Options::QUALITY_SHADOW, Options::TYPE_QUALITY, Options::GROUP_GRAPHICS},
    {"reflectionQuality", Options::QUALITY_REFLECTION, Options::TYPE_QUALITY, Options::GROUP_GRAPHICS},
    {"detailLevel", Options::QUALITY_DETAIL_LEVEL, Options::TYPE_QUALITY, Options::GROUP_GRAPHICS},
    {"resolution", Options::INT2_RESOLUTION, Options::TYPE_INT2, Options::GROUP_GRAPHICS},
    {"antiAliasing", Options::BOOL_ANTI_ALIASING, Options::TYPE_BOOL, Options::GROUP_GRAPHICS},
    {"fullscreen", Options::BOOL_FULLSCREEN, Options::TYPE_BOOL, Options::GROUP_GRAPHICS},
    {"syncToRefresh", Options::BOOL_SYNC_TO_REFRESH, Options::TYPE_BOOL, Options::GROUP_GRAPHICS},
    {"tripleBuffer", Options::BOOL_TRIPLE_BUFFER, Options::TYPE_BOOL, Options::GROUP_GRAPHICS},
    {"masterVolume", Options::FLOAT_MASTER_VOLUME, Options::TYPE_FLOAT, Options::GROUP_SOUND},
    {"musicVolume", Options::FLOAT_MUSIC_VOLUME, Options::TYPE_FLOAT, Options::GROUP_SOUND},
    {"effectsVolume", Options::FLOAT_EFFECTS_VOLUME, Options::TYPE_FLOAT, Options::GROUP_SOUND},
    {"dialogVolume", Options::FLOAT_DIALOG_VOLUME, Options::TYPE_FLOAT, Options::GROUP_SOUND},
    {"ambientFrequency", Options::QUALITY_AMBIENT_FREQUENCY, Options::TYPE_QUALITY, Options::GROUP_SOUND},
    {"rockOn", Options::BOOL_ROCK_ON, Options::TYPE_BOOL, Options::GROUP_SOUND},
    {"device", 0, Options::TYPE_DEVICE, Options::GROUP_SYSTEM},
    {"language", Options::STRING_LANGUAGE, Options::TYPE_STRING, Options::GROUP_SYSTEM},
    {"developer", Options::BOOL_DEVELOPER, Options::TYPE_BOOL, Options::GROUP_SYSTEM},
    {"forceSingleProcessorMode", Options::BOOL_FORCE_SINGLE_PROCESSOR_MODE, Options::TYPE_BOOL,
     Options::GROUP_SYSTEM},
    {"skipCompatibilityChecks", Options::BOOL_SKIP_COMPATIBILITY_CHECKS, Options::TYPE_BOOL, Options::GROUP_SYSTEM},
    {"useArchives", Options::BOOL_USE_ARCHIVES, Options::TYPE_BOOL, Options::GROUP_SYSTEM},
};

std::atomic<OptionsDefaultsProvider*> g_defaultsProvider{nullptr};

Options::Quality QualityFromText(const std::string& text)
{
    if (text == "high")
        return Options::QUALITY_HIGH;
    if (text == "low")
        return Options::QUALITY_LOW;
    return Options::QUALITY_MEDIUM;
}

const char* QualityText(Options::Quality quality)
{
    if (quality == Options::QUALITY_LOW)
        return "low";
    if (quality == Options::QUALITY_HIGH)
        return "high";
    return "medium";
}

} // namespace

const Options::Key* Options::GetKeys() { return kKeys; }

void Options::SetDefaultsProvider(OptionsDefaultsProvider* provider) { g_defaultsProvider.store(provider); }

OptionsDefaultsProvider* Options::GetDefaultsProvider() { return g_defaultsProvider.load(); }

Options::Options(FileSystem* fileSystem) : m_fileSystem(fileSystem)
{
    for (int i = 0; i < NUM_FLOATS; ++i)
        m_floats[i] = m_defaultFloats[i] = 0.5f;
    for (int i = 0; i < NUM_INT2S; ++i)
        m_int2s[i] = m_defaultInt2s[i] = Int2{};
    for (int i = 0; i < NUM_QUALITIES; ++i)
        m_qualities[i] = m_defaultQualities[i] = QUALITY_MEDIUM;
    for (int i = 0; i < NUM_BOOLS; ++i)
        m_bools[i] = m_defaultBools[i] = true;
    m_bools[BOOL_ROCK_ON] = false;
    m_bools[BOOL_SKIP_COMPATIBILITY_CHECKS] = false;
    m_bools[BOOL_USE_ARCHIVES] = true;
}

void Options::ReadPass(const std::string& path, bool intoDefaults)
{
    if (!m_fileSystem)
        return;
    ConfigFile file;
    if (!file.Initialize(path.c_str(), *m_fileSystem))
        return;

    float* floats = intoDefaults ? m_defaultFloats : m_floats;
    Int2* int2s = intoDefaults ? m_defaultInt2s : m_int2s;
    Quality* qualities = intoDefaults ? m_defaultQualities : m_qualities;
    bool* bools = intoDefaults ? m_defaultBools : m_bools;
    std::string* strings = intoDefaults ? m_defaultStrings : m_strings;

    for (const Key& key : kKeys) {
        switch (key.type) {
        case TYPE_FLOAT: {
            float value = 0.0f;
            if (file.GetValueAsReal(key.name, value))
                floats[key.index] = value;
            break;
        }
        case TYPE_INT: {
            int value = 0;
            file.GetValueAsInt(key.name, value); // no key has this type
            break;
        }
        case TYPE_INT2: {
            int x = 0, y = 0;
            if (file.GetValueAsInt2(key.name, x, y))
                int2s[key.index] = Int2{x, y};
            break;
        }
        case TYPE_BOOL: {
            bool value = false;
            if (file.GetValueAsBool(key.name, value)) {
                bools[key.index] = value;
            } else if (key.index == BOOL_DEVELOPER) {
                // Saving leaves a false developer out, so an absent line means false.
                m_bools[BOOL_DEVELOPER] = false;
                m_defaultBools[BOOL_DEVELOPER] = false;
            }
            break;
        }
        case TYPE_QUALITY: {
            std::string text;
            if (file.GetValueAsStr(key.name, text))
                qualities[key.index] = QualityFromText(text);
            break;
        }
        case TYPE_DEVICE:
            m_device = DEVICE_DEFAULT;
            break;
        case TYPE_STRING: {
            std::string text;
            if (file.GetValueAsStr(key.name, text))
                strings[key.index] = text;
            break;
        }
        }
    }
}

void Options::SetLanguageFromUser()
{
    std::string language = GetUserLanguageName();
    size_t cut = language.find(" (");
    if (cut != std::string::npos)
        language.erase(cut);
    m_strings[STRING_LANGUAGE] = language;
}

void Options::LoadDefaults(const std::string& path)
{
    ReadPass(path, true);
    ReadPass(path, false);
    SetLanguageFromUser();
    if (OptionsDefaultsProvider* provider = g_defaultsProvider.load())
        provider->SetOptionsToDefaults(*this);
}

void Options::Load(const std::string& path) { ReadPass(path, false); }

bool Options::Save(const std::string& path) const
{
    std::string reason;
    return Save(path, reason);
}

bool Options::Save(const std::string& path, std::string& reason) const
{
    std::string text;
    for (const Key& key : kKeys) {
        if (key.type == TYPE_BOOL && key.index == BOOL_DEVELOPER && !m_bools[BOOL_DEVELOPER])
            continue;
        std::string value;
        switch (key.type) {
        case TYPE_FLOAT:
            value = FloatToString(m_floats[key.index]); // %g in the C locale
            break;
        case TYPE_INT:
            value = "0";
            break;
        case TYPE_INT2:
            value = std::to_string(m_int2s[key.index].x) + " " + std::to_string(m_int2s[key.index].y);
            break;
        case TYPE_BOOL:
            value = m_bools[key.index] ? "true" : "false";
            break;
        case TYPE_QUALITY:
            value = QualityText(m_qualities[key.index]);
            break;
        case TYPE_DEVICE:
            value = "Direct3D";
            break;
        case TYPE_STRING:
            value = m_strings[key.index];
            break;
        }
        text += FormatString("%-25s = %s\n", key.name, value.c_str());
    }
    CreateDirectoryPath(path.c_str());
    SetFileReadOnly(path.c_str(), false);
    // Whole or not at all: a save that fails leaves the settings that were there.
    if (!Platform::WriteWholeFile(path, text.data(), text.size(), &reason)) {
        LogPrintf(1, "Options: could not save %s (%s); the file there is as it was", path.c_str(),
                  reason.c_str());
        return false;
    }
    reason.clear();
    return true;
}

void Options::SetToDefaults(GroupName group)
{
    for (const Key& key : kKeys) {
        if (key.group != group)
            continue;
        switch (key.type) {
        case TYPE_FLOAT:
            m_floats[key.index] = m_defaultFloats[key.index];
            break;
        case TYPE_INT2:
            m_int2s[key.index] = m_defaultInt2s[key.index];
            break;
        case TYPE_BOOL:
            m_bools[key.index] = m_defaultBools[key.index];
            break;
        case TYPE_QUALITY:
            m_qualities[key.index] = m_defaultQualities[key.index];
            break;
        default:
            break;
        }
    }
    if (group == GROUP_GAME)
        SetLanguageFromUser();
    else if (group == GROUP_GRAPHICS)
        if (OptionsDefaultsProvider* provider = g_defaultsProvider.load())
            provider->SetOptionsToDefaults(*this);
}

} // namespace GAME
