#include "data/LocalizationManager.h"

#include "core/CriticalSection.h"
#include "core/Log.h"
#include "core/TextConversion.h"
#include "data/BasicTextParser.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "data/InternalParamAgreement.h"
#include "data/InternalParamFloat.h"
#include "data/InternalParamInt.h"
#include "data/InternalParamString.h"
#include "data/InternalParamText.h"

#include <algorithm>
#include <cstring>

namespace GAME {

namespace {

// Made on first use and never destroyed, so the manager may be used during static destruction.
CriticalSection& GlobalLock()
{
    static CriticalSection* const lock = new CriticalSection;
    return *lock;
}

LocalizationManager* g_instance = nullptr;

struct LanguageInfo
{
    const char* name;
    const char* code;
    const char* specialFont;
    bool hasDialog;
};

constexpr LanguageInfo kLanguages[LocalizationManager::maxLanguages] = {
    {"English", "EN", "", true},
    {"French", "FR", "", true},
    {"Spanish", "ES", "", false},
    {"Italian", "IT", "", false},
    {"German", "DE", "", false},
    {"Chinese", "CH", "", false},
    {"Japanese", "JA", "", false},
    {"Korean", "KO", "", false},
    {"Russian", "RU", "Fonts/Arial_Russian.fnt", true},
    {"Czechoslovakian", "CZ", "Fonts/Albertus_CZ.fnt", false},
    {"Polish", "PL", "Fonts/Times_EE.fnt", false},
};

constexpr const char* kCategories[LocalizationManager::numCategories] = {
    "Dialog",          "UI",     "Help",  "Encyclopedia", "Monsters", "Menu",     "CommonEquipment",
    "UniqueEquipment", "Skills", "Quest", "Npc",          "Install",  "Tutorial",
};

constexpr const char* kLanguageTags[19] = {
    "tagLanguage01", "tagLanguage02", "tagLanguage03", "tagLanguage04", "tagLanguage05",
    "tagLanguage06", "tagLanguage07", "tagLanguage08", "tagLanguage09", "tagLanguage10",
    "tagLanguage11", "tagLanguage12", "tagLanguage13", "tagLanguage14", "tagLanguage15",
    "tagLanguage16", "tagLanguage17", "tagLanguage18", "tagLanguage19",
};

// The system's code for a conversion given an invalid parameter (an unsupported code page).
constexpr int kInvalidParameterError = 87;

template <typename Ch, typename Handler> void ForEachLine(const Ch* text, size_t length, Handler handler)
{
    BasicTextParser<Ch> parser(text, length);
    // Every line read moves the cursor, so the text's length bounds the loop.
    for (size_t guard = 0; guard <= length && !parser.AtEnd(); ++guard) {
        std::basic_string<Ch> line = parser.ReadLine();
        if (!line.empty())
            handler(line);
    }
}

} // namespace

LocalizationManager::LocalizationManager()
{
    auto addPool = [this](char16_t kind, auto make) {
        Pool& pool = m_markerKinds[kind];
        for (int i = 0; i < maxMarkers; ++i)
            pool.objects.emplace_back(make());
    };
    addPool(u's', [] { return new InternalParamString; });
    addPool(u'f', [] { return new InternalParamFloat; });
    addPool(u'd', [] { return new InternalParamInt; });
    addPool(u'a', [this] { return new InternalParamAgreement(this, false); });
    addPool(u'A', [this] { return new InternalParamAgreement(this, true); });
    addPool(u't', [] { return new InternalParamText; });
    m_markers.reserve(maxMarkers);
}

LocalizationManager::~LocalizationManager() = default;

LocalizationManager* LocalizationManager::Instance()
{
    CriticalSectionLock lock(GlobalLock());
    if (!g_instance)
        g_instance = new LocalizationManager;
    return g_instance;
}

void LocalizationManager::Destroy()
{
    CriticalSectionLock lock(GlobalLock());
    delete g_instance;
    g_instance = nullptr;
}

// ---- languages ----

void LocalizationManager::InitializeLanguages()
{
    m_numLanguages = maxLanguages;
}

int LocalizationManager::GetNumLanguages() const
{
    CriticalSectionLock lock(GlobalLock());
    return m_numLanguages;
}

const char* LocalizationManager::GetLanguageString(int index) const
{
    return index >= 0 && index < maxLanguages ? kLanguages[index].name : "";
}

int LocalizationManager::GetLanguageNumber(const char* name) const
{
    if (!name)
        return 0;
    for (int i = 0; i < maxLanguages; ++i)
        if (std::strcmp(kLanguages[i].name, name) == 0)
            return i;
    return 0;
}

const char* LocalizationManager::GetLanguageTag(int index)
{
    return index >= 0 && index < 19 ? kLanguageTags[index] : nullptr;
}

const char* LocalizationManager::GetSpecialFont() const
{
    CriticalSectionLock lock(GlobalLock());
    return kLanguages[m_currentLanguage].specialFont;
}

bool LocalizationManager::IsEnglish() const
{
    CriticalSectionLock lock(GlobalLock());
    return m_languageName == "English";
}

bool LocalizationManager::HasDialogForLanguage() const
{
    CriticalSectionLock lock(GlobalLock());
    return kLanguages[m_currentLanguage].hasDialog;
}

int LocalizationManager::GetCurrentLanguage() const
{
    CriticalSectionLock lock(GlobalLock());
    return m_currentLanguage;
}

std::string LocalizationManager::GetLanguageName() const
{
    CriticalSectionLock lock(GlobalLock());
    return m_languageName;
}

std::string LocalizationManager::GetCategoryPath(int language, int category) const
{
    return std::string("Text_") + kLanguages[language].code + "/" + kCategories[category] + ".txt";
}

bool LocalizationManager::IsLanguageSupported(int index) const
{
    CriticalSectionLock lock(GlobalLock());
    if (index < 0 || index >= m_numLanguages)
        return false;
    FileSystem* files = EngineDataServices::Files();
    if (!files)
        return false;
    File* file = files->OpenFile(GetCategoryPath(index, 0).c_str(), FILE_MODE_READ);
    if (!file)
        return false;
    files->CloseFile(file);
    return true;
}

const char* LocalizationManager::GetLanguageString(const std::u16string& displayName)
{
    CriticalSectionLock lock(GlobalLock());
    for (int i = 0; i < m_numLanguages; ++i)
        if (IsLanguageSupported(i) && Localize("SimpleStringFormat", GetLanguageTag(i)) == displayName)
            return kLanguages[i].name;
    return kLanguages[0].name;
}

// ---- loading ----

void LocalizationManager::Load(const char* language)
{
    CriticalSectionLock lock(GlobalLock());
    m_languageName = language ? language : "";
    m_tagMap.clear();
    m_modTagMap.clear();
    InitializeLanguages();
    m_currentLanguage = GetLanguageNumber(language);
    if (!IsLanguageSupported(m_currentLanguage)) {
        for (int i = 0; i < m_numLanguages; ++i) {
            if (IsLanguageSupported(i)) {
                m_currentLanguage = i;
                m_languageName = kLanguages[i].name;
                break;
            }
        }
    }
    for (int category = 0; category < numCategories; ++category)
        ReadTextFile(GetCategoryPath(m_currentLanguage, category).c_str(), false,
                     "LocalizationManager::Load");
}

void LocalizationManager::LoadModStrings()
{
    CriticalSectionLock lock(GlobalLock());
    m_modTagMap.clear();
    ReadTextFile("Text\\modStrings.txt", true, "LocalizationManager::LoadModStrings");
}

void LocalizationManager::ReadTextFile(const char* path, bool toModMap, const char* caller)
{
    FileSystem* files = EngineDataServices::Files();
    File* file = files ? files->OpenFile(path, FILE_MODE_READ) : nullptr;
    if (!file) {
        LogPrintf(1, "%s could not open file - %s.", caller, path);
        return;
    }
    const unsigned int length = file->GetLength();
    const void* data = length > 0 ? file->Lock(0, length) : nullptr;
    if (!data || length <= 2)
        LogPrintf(1, "%s failed to read file - %s.", caller, path);
    else
        LoadTextBuffer(data, length, path, toModMap);
    if (data)
        file->Unlock();
    files->CloseFile(file);
}

void LocalizationManager::LoadTextBuffer(const void* data, size_t size, const char* fileName, bool toModMap)
{
    CriticalSectionLock lock(GlobalLock());
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!bytes)
        return;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::u16string text((size - 2) / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        ForEachLine(text.data(), text.size(),
                    [&](const std::u16string& line) { AddTagToMap(line, fileName, toModMap); });
    } else {
        ForEachLine(reinterpret_cast<const char*>(bytes), size,
                    [&](const std::string& line) { AddTagToMap(line.c_str(), fileName, toModMap); });
    }
}

void LocalizationManager::AddTagToMap(const std::u16string& line, const char* fileName, bool toModMap)
{
    CriticalSectionLock lock(GlobalLock());
    const char* file = fileName ? fileName : "";
    const size_t equals = line.find(u'=');
    if (equals == std::u16string::npos) {
        LogPrintf(1, "LocalizationManager::Load encountered a line (%s) without an '=' sign in file %s.",
                  FromUtf16(line).c_str(), file);
        return;
    }
    const std::string tag = FromUtf16(std::u16string_view(line).substr(0, equals));
    auto& map = toModMap ? m_modTagMap : m_tagMap;
    if (!map.emplace(tag, line.substr(equals + 1)).second)
        LogPrintf(1, "LocalizationManager::Load encountered a duplicate tag: (%s) in file %s.", tag.c_str(),
                  file);
}

void LocalizationManager::AddTagToMap(const char* line, const char* fileName, bool toModMap)
{
    if (!line)
        return;
    CriticalSectionLock lock(GlobalLock());
    const char* file = fileName ? fileName : "";
    const char* equals = std::strchr(line, '=');
    if (!equals) {
        LogPrintf(1, "LocalizationManager::Load encountered a line (%s) without an '=' sign in file %s.",
                  line, file);
        return;
    }
    std::u16string text;
    if (!CodePageToUtf16(equals + 1, text)) {
        LogPrintf(1, "LocalizationManager::AddTagToMap(): MultiByteToWideChar() failed with error code: %d",
                  kInvalidParameterError);
        return;
    }
    std::string tag(line, static_cast<size_t>(equals - line));
    auto& map = toModMap ? m_modTagMap : m_tagMap;
    if (!map.emplace(tag, std::move(text)).second)
        LogPrintf(2, "LocalizationManager::Load encountered a duplicate tag: (%s) in file %s.", tag.c_str(),
                  file);
}

void LocalizationManager::ClearTagMap()
{
    CriticalSectionLock lock(GlobalLock());
    m_tagMap.clear();
}

// ---- texts ----

std::u16string LocalizationManager::GetText(const char* tag) const
{
    if (!tag)
        return std::u16string();
    CriticalSectionLock lock(GlobalLock());
    auto mod = m_modTagMap.find(tag);
    if (mod != m_modTagMap.end())
        return mod->second;
    auto found = m_tagMap.find(tag);
    if (found != m_tagMap.end())
        return found->second;
    std::u16string name = ToUtf16(tag);
    return m_showTagErrors ? u"Tag not found: " + name : name;
}

void LocalizationManager::ShowTagErrors(bool show)
{
    CriticalSectionLock lock(GlobalLock());
    m_showTagErrors = show;
}

bool LocalizationManager::ToChar(const char16_t* text, char* out, size_t size)
{
    if (!out || size == 0)
        return false;
    std::string converted = ToChar(std::u16string(text ? text : u""));
    const bool fits = converted.size() < size;
    const size_t count = fits ? converted.size() : size - 1;
    std::memcpy(out, converted.data(), count);
    out[count] = '\0';
    return fits;
}

bool LocalizationManager::ToWChar(const char* text, char16_t* out, size_t size)
{
    if (!out || size == 0)
        return false;
    std::u16string converted = ToWChar(std::string(text ? text : ""));
    const bool fits = converted.size() < size;
    const size_t count = fits ? converted.size() : size - 1;
    std::copy_n(converted.begin(), count, out);
    out[count] = u'\0';
    return fits;
}

std::string LocalizationManager::ToChar(const std::u16string& text)
{
    return FromUtf16(text);
}

std::u16string LocalizationManager::ToWChar(const std::string& text)
{
    return ToUtf16(text);
}

InternalParam* LocalizationManager::GetInternalParam(int index) const
{
    CriticalSectionLock lock(GlobalLock());
    return index >= 0 && index < maxMarkers ? m_valuedMarkers[index] : nullptr;
}

// ---- Localize ----

std::u16string LocalizationManager::LocalizeList(const char* tag, const LocalizeArgument* arguments,
                                                 size_t count)
{
    CriticalSectionLock lock(GlobalLock());
    if (!arguments)
        count = 0;
    const std::u16string text = GetText(tag);
    for (auto& [kind, pool] : m_markerKinds)
        pool.used = 0;
    std::fill(std::begin(m_valuedMarkers), std::end(m_valuedMarkers), nullptr);
    const long long maxIndex = FindParamTypes(text);

    // Only the arguments the caller passed are read: argument i goes to the first marker of
    // index i among those that are filled in; markers without an argument stay empty.
    const size_t considered = std::min<size_t>(m_markers.size(), static_cast<size_t>(maxIndex + 1));
    const long long lastIndex = std::min<long long>(maxIndex, static_cast<long long>(count) - 1);
    for (long long i = 0; i <= lastIndex; ++i) {
        for (size_t m = 0; m < considered; ++m) {
            if (m_markers[m]->GetIndex() == static_cast<unsigned long long>(i)) {
                AssignArgument(m_markers[m], static_cast<unsigned int>(i), arguments[i], tag);
                break;
            }
        }
    }
    BuildFinalString(text, maxIndex);
    return m_result;
}

void LocalizationManager::AssignArgument(InternalParam* marker, unsigned int index,
                                         const LocalizeArgument& argument, const char* tag)
{
    const LocalizeArgument::Kind kind = argument.GetKind();
    bool suits = true;
    switch (marker->GetType()) {
    case InternalParam::TYPE_STRING:
    case InternalParam::TYPE_AGREEMENT:
    case InternalParam::TYPE_AGREEMENT_UPPER:
        suits = kind == LocalizeArgument::KIND_TAG;
        if (suits && *argument.GetTag())
            marker->Set(GetText(argument.GetTag()));
        if (suits && marker->GetType() == InternalParam::TYPE_STRING && index < maxMarkers)
            m_valuedMarkers[index] = marker;
        break;
    case InternalParam::TYPE_FLOAT:
        suits = argument.IsNumber();
        if (suits)
            marker->Set(static_cast<float>(argument.GetDouble()));
        break;
    case InternalParam::TYPE_INT:
        suits = argument.IsNumber();
        if (suits)
            marker->Set(argument.GetInt());
        break;
    case InternalParam::TYPE_TEXT:
        suits = kind == LocalizeArgument::KIND_TEXT;
        if (suits) {
            marker->Set(std::u16string(argument.GetText()));
            if (index < maxMarkers)
                m_valuedMarkers[index] = marker;
        }
        break;
    default:
        suits = false;
        break;
    }
    if (!suits)
        LogPrintf(1, "LocalizationManager::Localize argument %u of tag %s does not suit its marker", index,
                  tag ? tag : "");
}

long long LocalizationManager::FindParamTypes(const std::u16string& text)
{
    m_markers.clear();
    long long maxIndex = -1;
    size_t position = 0;
    while ((position = text.find(u'%', position)) != std::u16string::npos) {
        size_t kindAt = position + 1;
        while (kindAt < text.size() && (text[kindAt] == u'+' || text[kindAt] == u'.' ||
                                        (text[kindAt] >= u'0' && text[kindAt] <= u'9')))
            ++kindAt;
        auto kind = kindAt < text.size() ? m_markerKinds.find(text[kindAt]) : m_markerKinds.end();
        // No marker, or one past the pools and the list, which stays in the text as written.
        if (kind == m_markerKinds.end() || m_markers.size() >= static_cast<size_t>(maxMarkers) ||
            kind->second.used >= kind->second.objects.size()) {
            ++position;
            continue;
        }
        InternalParam* marker = kind->second.objects[kind->second.used++].get();
        marker->Init();
        marker->SetStartPos(static_cast<unsigned int>(position));
        if (!marker->Parse(text, static_cast<unsigned int>(position + 1))) {
            LogPrintf(1, "LocalizationManager::FindParamTypes encountered a bad token.");
            break;
        }
        unsigned int end = marker->GetEndPos();
        const int index = InternalParam::ReadInt(text.c_str(), end);
        marker->SetIndex(static_cast<unsigned int>(index));
        marker->SetEndPos(end);
        m_markers.push_back(marker);
        maxIndex = std::max<long long>(maxIndex, index);
        position = end;
    }
    return maxIndex;
}

void LocalizationManager::BuildFinalString(const std::u16string& text, long long maxIndex)
{
    std::u16string joined;
    joined.reserve(text.size());
    size_t last = 0;
    const size_t considered = std::min<size_t>(m_markers.size(), static_cast<size_t>(maxIndex + 1));
    for (size_t m = 0; m < considered; ++m) {
        InternalParam* marker = m_markers[m];
        joined.append(text, last, marker->GetStartPos() - last);
        joined += marker->Format();
        last = marker->GetEndPos();
    }
    joined.append(text, last, std::u16string::npos);

    // A parameter that came out empty leaves neither "()" nor a double blank behind.
    m_result.clear();
    m_result.reserve(joined.size());
    for (size_t i = 0; i < joined.size(); ++i) {
        if (joined[i] == u'(' && i + 1 < joined.size() && joined[i + 1] == u')') {
            ++i;
            continue;
        }
        if (joined[i] == u' ' && !m_result.empty() && m_result.back() == u' ')
            continue;
        m_result.push_back(joined[i]);
    }
}

} // namespace GAME
