// Every text the game shows, keyed by tag ("tagMenuError33"), in the user's language: one text
// file per category under "Text_" + language code, a second map of texts that a mod adds or
// overrides, conversions between 8-bit and 16-bit text, and Localize, which fills the parameter
// markers of a text with the caller's values. A process-wide singleton made on first use.
//
// Threads: every operation takes one global lock (re-entrant) for its whole run, so the loader,
// the interface and any other thread may call at any time. Texts are returned by value.
#pragma once

#include "data/LocalizeArgument.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class InternalParam;

class LocalizationManager
{
public:
    static constexpr int maxMarkers = 32;
    static constexpr int numCategories = 13;
    static constexpr int maxLanguages = 11;

    // The game uses the singleton; a manager of its own serves tests and tools.
    LocalizationManager();
    virtual ~LocalizationManager();
    LocalizationManager(const LocalizationManager&) = delete;
    LocalizationManager& operator=(const LocalizationManager&) = delete;

    static LocalizationManager* Instance();
    static void Destroy();

    // Replaces all texts with those of the language (falling back to the first language whose
    // files exist).
    virtual void Load(const char* language);
    // Replaces the mod's texts with "Text\modStrings.txt".
    virtual void LoadModStrings();
    // The text of the tag with its markers filled from the arguments: argument i goes to the
    // markers of index i. A marker whose argument is missing or of another kind stays empty.
    virtual std::u16string LocalizeList(const char* tag, const LocalizeArgument* arguments, size_t count);
    virtual void AddTagToMap(const std::u16string& line, const char* fileName, bool toModMap);
    virtual void AddTagToMap(const char* line, const char* fileName, bool toModMap);

    // Localize("tagFormat", 3, 2.5, "tagSword", u"literal"): the variadic form for callers.
    template <typename... Args>
    requires(std::is_constructible_v<LocalizeArgument, const Args&>&&...) std::u16string
        Localize(const char* tag, const Args&... args)
    {
        if constexpr (sizeof...(Args) == 0) {
            return LocalizeList(tag, nullptr, 0);
        } else {
            const LocalizeArgument arguments[] = {LocalizeArgument(args)...};
            return LocalizeList(tag, arguments, sizeof...(Args));
        }
    }

    // Reads one text file's bytes: UTF-16 little-endian after the bytes FF FE, otherwise 8-bit
    // text in the system code page. Comments and conditional directives are dropped.
    void LoadTextBuffer(const void* data, size_t size, const char* fileName, bool toModMap);

    int GetNumLanguages() const;
    const char* GetLanguageString(int index) const;
    // 0 when the name is not in the table.
    int GetLanguageNumber(const char* name) const;
    // "tagLanguage01" ... "tagLanguage19" for 0 to 18, otherwise null.
    static const char* GetLanguageTag(int index);
    const char* GetSpecialFont() const;
    bool IsEnglish() const;
    bool HasDialogForLanguage() const;
    // Whether the language's first category file can be opened.
    bool IsLanguageSupported(int index) const;
    // The language whose localized name (through "SimpleStringFormat") is the display name.
    const char* GetLanguageString(const std::u16string& displayName);
    int GetCurrentLanguage() const;
    std::string GetLanguageName() const;

    // The text of the tag, the mod's first; a missing tag gives the tag itself, preceded by
    // "Tag not found: " while tag errors are shown. A null tag gives an empty text.
    std::u16string GetText(const char* tag) const;
    void ShowTagErrors(bool show);

    // System code page. The buffer forms write at most size units, always end with a 0 and
    // answer whether the whole text fitted.
    static bool ToChar(const char16_t* text, char* out, size_t size);
    static bool ToWChar(const char* text, char16_t* out, size_t size);
    static std::string ToChar(const std::u16string& text);
    static std::u16string ToWChar(const std::string& text);

    // The marker that received the string or literal value of a parameter index during the
    // current Localize; null for none and for indices above 31.
    InternalParam* GetInternalParam(int index) const;
    void ClearTagMap();
    static int GetNumFilePaths() { return numCategories; }

private:
    struct Pool
    {
        std::vector<std::unique_ptr<InternalParam>> objects;
        unsigned int used = 0;
    };

    void InitializeLanguages();
    std::string GetCategoryPath(int language, int category) const;
    void ReadTextFile(const char* path, bool toModMap, const char* caller);
    // Returns the largest index found, -1 without markers.
    long long FindParamTypes(const std::u16string& text);
    void AssignArgument(InternalParam* marker, unsigned int index, const LocalizeArgument& argument,
                        const char* tag);
    void BuildFinalString(const std::u16string& text, long long maxIndex);

    std::string m_languageName;
    int m_currentLanguage = 0;
    int m_numLanguages = 0;
    std::map<std::string, std::u16string> m_tagMap;
    std::map<std::string, std::u16string> m_modTagMap;
    bool m_showTagErrors = true;
    std::u16string m_result;
    std::vector<InternalParam*> m_markers;
    InternalParam* m_valuedMarkers[maxMarkers] = {};
    std::map<char16_t, Pool> m_markerKinds;
};

} // namespace GAME
