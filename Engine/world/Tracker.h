// Named values in categories: integers, reals and strings and lists of each, set, counted,
// appended to and read from any thread. The category "FrameStats" holds per-frame counters: Update
// resets them and DisplayFrameStats shows them in the engine's statistics text (the host calls
// both each frame). Everything stays in memory. A lazily made singleton.
//
// Threads: every operation holds the tracker's lock for its whole run; DisplayFrameStats calls into
// the engine's statistics widget while holding it.
#pragma once

#include "core/CriticalSection.h"
#include "core/Singleton.h"

#include <map>
#include <string>
#include <vector>

namespace GAME {

// One value of a kind fixed when it is made.
class TrackerProperty
{
public:
    enum Kind
    {
        KIND_INT,
        KIND_INT_LIST,
        KIND_REAL,
        KIND_REAL_LIST,
        KIND_STRING,
        KIND_STRING_LIST,
    };

    explicit TrackerProperty(Kind kind) : m_kind(kind) {}
    Kind GetKind() const { return m_kind; }
    // A scalar to 0 or empty, a list to empty.
    void Reset();
    // Decimal integers, reals as a stream writes a float (6 significant digits), strings as they
    // are; list elements joined by "," without spaces.
    std::string ToString() const;

    int intValue = 0;
    float realValue = 0.0f;
    std::string stringValue;
    std::vector<int> intList;
    std::vector<float> realList;
    std::vector<std::string> stringList;

private:
    Kind m_kind;
};

class Tracker : public Singleton<Tracker>
{
public:
    static constexpr const char* frameStatsCategory = "FrameStats";

    Tracker() = default;
    ~Tracker() override;

    // A missing property is made with the value; one of another kind is left (logged).
    void SetInt(const char* category, const char* name, int value);
    void SetReal(const char* category, const char* name, float value);
    void SetString(const char* category, const char* name, const std::string& value);
    // A missing property starts at 1 (Increment) or -1 (Decrement).
    void IncrementInt(const char* category, const char* name);
    void DecrementInt(const char* category, const char* name);
    // Appends to the list, made empty first when missing.
    void PushInt(const char* category, const char* name, int value);
    void PushReal(const char* category, const char* name, float value);
    void PushString(const char* category, const char* name, const std::string& value);

    // 0 or empty for a missing property (silently) and for one of another kind (logged).
    int GetInt(const char* category, const char* name);
    float GetReal(const char* category, const char* name);
    const std::string& GetString(const char* category, const char* name);
    // The list's element; the index must be below the list's length.
    int GetInt(const char* category, const char* name, unsigned int index);
    float GetReal(const char* category, const char* name, unsigned int index);
    const std::string& GetString(const char* category, const char* name, unsigned int index);

    // The property's text (TrackerProperty::ToString), empty when missing.
    std::string GetText(const char* category, const char* name);

    // Resets every property of "FrameStats".
    void Update(int elapsedMs);
    // "<name> - <value>" for every property of "FrameStats", in name order, into the engine's
    // statistics text.
    void DisplayFrameStats();
    void Clear();
    // The tracker has no file: nothing is written.
    bool Save(const std::string& fileName);

private:
    // The property, made as `kind` when missing; null (logged for `operation`) when it is of
    // another kind.
    TrackerProperty* Obtain(const char* category, const char* name, TrackerProperty::Kind kind,
                            const char* operation);
    // The property of that kind; null when missing (silently) or of another kind (logged).
    TrackerProperty* Find(const char* category, const char* name, TrackerProperty::Kind kind,
                          const char* operation);

    CriticalSection m_lock;
    std::map<std::string, std::map<std::string, TrackerProperty*>> m_properties;
    const std::string m_emptyString;
};

} // namespace GAME
