#include "world/Tracker.h"

#include "core/Log.h"
#include "world/Engine.h"

#include <locale>
#include <sstream>

namespace GAME {

namespace {

std::string RealText(float value)
{
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << value;
    return stream.str();
}

template <class T, class Format> std::string JoinList(const std::vector<T>& values, Format format)
{
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            text += ',';
        text += format(values[i]);
    }
    return text;
}

} // namespace

void TrackerProperty::Reset()
{
    intValue = 0;
    realValue = 0.0f;
    stringValue.clear();
    intList.clear();
    realList.clear();
    stringList.clear();
}

std::string TrackerProperty::ToString() const
{
    switch (m_kind) {
    case KIND_INT:
        return std::to_string(intValue);
    case KIND_INT_LIST:
        return JoinList(intList, [](int v) { return std::to_string(v); });
    case KIND_REAL:
        return RealText(realValue);
    case KIND_REAL_LIST:
        return JoinList(realList, RealText);
    case KIND_STRING:
        return stringValue;
    case KIND_STRING_LIST:
        return JoinList(stringList, [](const std::string& v) { return v; });
    }
    return std::string();
}

Tracker::~Tracker()
{
    Clear();
}

TrackerProperty* Tracker::Obtain(const char* category, const char* name, TrackerProperty::Kind kind,
                                 const char* operation)
{
    TrackerProperty*& slot = m_properties[category ? category : ""][name ? name : ""];
    if (!slot)
        slot = new TrackerProperty(kind);
    if (slot->GetKind() != kind) {
        LogPrintf(1, "Tracker::%s has encountered an invalid type for property (%s, %s)", operation,
                  category ? category : "", name ? name : "");
        return nullptr;
    }
    return slot;
}

TrackerProperty* Tracker::Find(const char* category, const char* name, TrackerProperty::Kind kind,
                               const char* operation)
{
    auto group = m_properties.find(category ? category : "");
    if (group == m_properties.end())
        return nullptr;
    auto it = group->second.find(name ? name : "");
    if (it == group->second.end())
        return nullptr;
    if (it->second->GetKind() != kind) {
        LogPrintf(1, "Tracker::%s has encountered an invalid type for property (%s, %s)", operation,
                  category ? category : "", name ? name : "");
        return nullptr;
    }
    return it->second;
}

void Tracker::SetInt(const char* category, const char* name, int value)
{
    CriticalSectionLock lock(m_lock);
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_INT, "SetInt"))
        p->intValue = value;
}

void Tracker::SetReal(const char* category, const char* name, float value)
{
    CriticalSectionLock lock(m_lock);
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_REAL, "SetReal"))
        p->realValue = value;
}

void Tracker::SetString(const char* category, const char* name, const std::string& value)
{
    CriticalSectionLock lock(m_lock);
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_STRING, "SetString"))
        p->stringValue = value;
}

void Tracker::IncrementInt(const char* category, const char* name)
{
    CriticalSectionLock lock(m_lock);
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_INT, "IncrementInt"))
        ++p->intValue;
}

void Tracker::DecrementInt(const char* category, const char* name)
{
    CriticalSectionLock lock(m_lock);
    // The misspelt operation name is the line hosts have always filtered on.
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_INT, "DevrementInt"))
        --p->intValue;
}

void Tracker::PushInt(const char* category, const char* name, int value)
{
    CriticalSectionLock lock(m_lock);
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_INT_LIST, "PushInt"))
        p->intList.push_back(value);
}

void Tracker::PushReal(const char* category, const char* name, float value)
{
    CriticalSectionLock lock(m_lock);
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_REAL_LIST, "PushReal"))
        p->realList.push_back(value);
}

void Tracker::PushString(const char* category, const char* name, const std::string& value)
{
    CriticalSectionLock lock(m_lock);
    if (TrackerProperty* p = Obtain(category, name, TrackerProperty::KIND_STRING_LIST, "PushString"))
        p->stringList.push_back(value);
}

int Tracker::GetInt(const char* category, const char* name)
{
    CriticalSectionLock lock(m_lock);
    TrackerProperty* p = Find(category, name, TrackerProperty::KIND_INT, "GetInt");
    return p ? p->intValue : 0;
}

float Tracker::GetReal(const char* category, const char* name)
{
    CriticalSectionLock lock(m_lock);
    TrackerProperty* p = Find(category, name, TrackerProperty::KIND_REAL, "GetReal");
    return p ? p->realValue : 0.0f;
}

const std::string& Tracker::GetString(const char* category, const char* name)
{
    CriticalSectionLock lock(m_lock);
    TrackerProperty* p = Find(category, name, TrackerProperty::KIND_STRING, "GetString");
    return p ? p->stringValue : m_emptyString;
}

// An index past the list gives the empty result rather than reading outside it.
int Tracker::GetInt(const char* category, const char* name, unsigned int index)
{
    CriticalSectionLock lock(m_lock);
    TrackerProperty* p = Find(category, name, TrackerProperty::KIND_INT_LIST, "GetInt");
    return p && index < p->intList.size() ? p->intList[index] : 0;
}

float Tracker::GetReal(const char* category, const char* name, unsigned int index)
{
    CriticalSectionLock lock(m_lock);
    TrackerProperty* p = Find(category, name, TrackerProperty::KIND_REAL_LIST, "GetReal");
    return p && index < p->realList.size() ? p->realList[index] : 0.0f;
}

const std::string& Tracker::GetString(const char* category, const char* name, unsigned int index)
{
    CriticalSectionLock lock(m_lock);
    TrackerProperty* p = Find(category, name, TrackerProperty::KIND_STRING_LIST, "GetString");
    return p && index < p->stringList.size() ? p->stringList[index] : m_emptyString;
}

std::string Tracker::GetText(const char* category, const char* name)
{
    CriticalSectionLock lock(m_lock);
    auto group = m_properties.find(category ? category : "");
    if (group == m_properties.end())
        return std::string();
    auto it = group->second.find(name ? name : "");
    return it == group->second.end() ? std::string() : it->second->ToString();
}

void Tracker::Update(int)
{
    CriticalSectionLock lock(m_lock);
    auto group = m_properties.find(frameStatsCategory);
    if (group == m_properties.end())
        return;
    for (auto& [name, property] : group->second)
        property->Reset();
}

void Tracker::DisplayFrameStats()
{
    CriticalSectionLock lock(m_lock);
    auto group = m_properties.find(frameStatsCategory);
    if (group == m_properties.end() || !gEngine)
        return;
    for (const auto& [name, property] : group->second)
        gEngine->AddStatisticText("%s - %s", name.c_str(), property->ToString().c_str());
}

void Tracker::Clear()
{
    CriticalSectionLock lock(m_lock);
    for (auto& [category, properties] : m_properties)
        for (auto& [name, property] : properties)
            delete property;
    m_properties.clear();
}

bool Tracker::Save(const std::string&)
{
    return false;
}

} // namespace GAME
