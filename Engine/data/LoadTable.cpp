#include "data/LoadTable.h"

#include "core/NumberParsing.h"
#include "core/Object.h"
#include "core/ObjectManager.h"
#include "data/LoadTableResources.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<LoadTableResources*> g_resources{nullptr};

std::string Element(LoadTable& table, const char* name, unsigned int index)
{
    const char* value = table.GetArrayValue(name, index, "");
    return value ? std::string(value) : std::string();
}
bool ScanValue(const char* text, int& value) { return ScanInt(text, value); }
bool ScanValue(const char* text, float& value) { return ScanFloat(text, value); }

// The element at the index (the last one past the end), scanned; the default when there is none.
template <typename T>
T ScanElement(const std::vector<std::string>* elements, unsigned int index, T defaultValue)
{
    if (!elements || elements->empty())
        return defaultValue;
    const std::string& element = index < elements->size() ? (*elements)[index] : elements->back();
    T result = defaultValue;
    ScanValue(element.c_str(), result);
    return result;
}

// Every element that scans, in order; a single 0 stands for no values.
template <typename T>
void ScanElements(const std::vector<std::string>* elements, std::vector<T>& values)
{
    values.clear();
    if (!elements)
        return;
    for (const auto& element : *elements) {
        T v{};
        if (ScanValue(element.c_str(), v))
            values.push_back(v);
    }
    if (values.size() == 1 && values[0] == T(0))
        values.clear();
}
} // namespace

void LoadTableResources::Install(LoadTableResources* resources) { g_resources.store(resources); }

LoadTableResources* LoadTableResources::Get() { return g_resources.load(); }

GraphicsMesh* LoadTable::LoadMesh(const char* name, unsigned int index)
{
    std::string file = Element(*this, name, index);
    LoadTableResources* resources = g_resources.load();
    return file.empty() || !resources ? nullptr : resources->LoadMesh(file);
}

GraphicsTexture* LoadTable::LoadTexture(const char* name, unsigned int index)
{
    std::string file = Element(*this, name, index);
    LoadTableResources* resources = g_resources.load();
    return file.empty() || !resources ? nullptr : resources->LoadTexture(file);
}

GraphicsShader2* LoadTable::LoadShader2(const char* name, unsigned int index)
{
    std::string file = Element(*this, name, index);
    LoadTableResources* resources = g_resources.load();
    return file.empty() || !resources ? nullptr : resources->LoadShader2(file);
}

EffectResource* LoadTable::LoadResourceEffect(const char* name, unsigned int index)
{
    std::string file = Element(*this, name, index);
    LoadTableResources* resources = g_resources.load();
    return file.empty() || !resources ? nullptr : resources->LoadResourceEffect(file);
}

GraphicsAnim* LoadTable::LoadAnimation(const char* name, unsigned int index)
{
    return LoadAnimationFromFile(Element(*this, name, index));
}

GraphicsAnim* LoadTable::LoadAnimationFromFile(const std::string& fileName)
{
    LoadTableResources* resources = g_resources.load();
    return fileName.empty() || !resources ? nullptr : resources->LoadAnimation(fileName);
}

Object* LoadTable::CreateObjectFromFile(const std::string& recordFile)
{
    ObjectManager* manager = Singleton<ObjectManager>::Get();
    if (!manager)
        return nullptr;
    Object* object = manager->CreateObjectFromFile(recordFile, 0, true);
    if (object && !object->GetClassInfo().IsA(Object::classInfo)) {
        manager->DestroyObjectEx(object, "..\\Engine/ObjectManager.inl", 25);
        return nullptr;
    }
    return object;
}

Object* LoadTable::CreateObjectFromProperty(const char* name)
{
    std::string file = GetValue(name, "");
    return file.empty() ? nullptr : CreateObjectFromFile(file);
}

void LoadTable::MakeTokens(const std::string& value, std::vector<std::string>& tokens)
{
    tokens.clear();
    std::string current;
    for (char c : value) {
        if (c == ';') {
            tokens.push_back(current); // an element may be empty
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        tokens.push_back(current);
}

const std::string* LoadTable::Find(const char* name) const
{
    if (!name)
        return nullptr;
    auto it = m_fields.find(name);
    return it == m_fields.end() ? nullptr : &it->second;
}

const std::vector<std::string>* LoadTable::Elements(const char* name)
{
    const std::string* value = Find(name);
    if (!value)
        return nullptr;
    auto it = m_elements.find(name);
    if (it == m_elements.end()) {
        it = m_elements.emplace(name, std::vector<std::string>()).first;
        MakeTokens(*value, it->second);
    }
    return &it->second;
}

bool LoadTable::AddField(const std::string& name, const std::string& value)
{
    CriticalSectionLock lock(m_lock);
    return m_fields.emplace(name, value).second;
}

size_t LoadTable::GetNumFields()
{
    CriticalSectionLock lock(m_lock);
    return m_fields.size();
}

void LoadTable::Deserialize(BinaryReader&) {}

void LoadTable::Deserialize(BasicTextParser<char>& parser)
{
    CriticalSectionLock lock(m_lock);
    while (!parser.AtEnd()) {
        size_t before = parser.GetCursor();
        std::string key = parser.ReadToken();
        std::string value;
        parser.ReadDelimitedToken(value, ',', ',', true);
        if (!key.empty())
            m_fields.emplace(key, value);
        if (parser.GetCursor() == before)
            break; // nothing consumed: stop rather than spin
    }
}

void LoadTable::Serialize(FILE* file)
{
    if (!file)
        return;
    CriticalSectionLock lock(m_lock);
    for (const auto& [name, value] : m_fields)
        std::fprintf(file, "%s,%s,\n", name.c_str(), value.c_str());
}

const char* LoadTable::GetValue(const std::string& name, const char* defaultValue)
{
    return GetValue(name.c_str(), defaultValue);
}

const char* LoadTable::GetValue(const char* name, const char* defaultValue)
{
    CriticalSectionLock lock(m_lock);
    const std::string* value = Find(name);
    if (!value || value->empty())
        return defaultValue;
    return value->c_str();
}

int LoadTable::GetInt(const std::string& name, int defaultValue) { return GetInt(name.c_str(), defaultValue); }

int LoadTable::GetInt(const char* name, int defaultValue)
{
    CriticalSectionLock lock(m_lock);
    const std::string* value = Find(name);
    int result = defaultValue;
    if (value)
        ScanValue(value->c_str(), result);
    return result;
}

float LoadTable::GetFloat(const std::string& name, float defaultValue) { return GetFloat(name.c_str(), defaultValue); }

float LoadTable::GetFloat(const char* name, float defaultValue)
{
    CriticalSectionLock lock(m_lock);
    const std::string* value = Find(name);
    float result = defaultValue;
    if (value)
        ScanFloat(value->c_str(), result);
    return result;
}

bool LoadTable::GetBool(const std::string& name, bool defaultValue) { return GetBool(name.c_str(), defaultValue); }

bool LoadTable::GetBool(const char* name, bool defaultValue)
{
    CriticalSectionLock lock(m_lock);
    const std::string* value = Find(name);
    int result = 0;
    if (!value || !ScanInt(value->c_str(), result))
        return defaultValue;
    return result != 0;
}

int LoadTable::GetArrayInt(const std::string& name, unsigned int index, int defaultValue)
{
    return GetArrayInt(name.c_str(), index, defaultValue);
}

int LoadTable::GetArrayInt(const char* name, unsigned int index, int defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return ScanElement(Elements(name), index, defaultValue);
}

void LoadTable::GetArrayInt(const std::string& name, std::vector<int>& values) { GetArrayInt(name.c_str(), values); }

void LoadTable::GetArrayInt(const char* name, std::vector<int>& values)
{
    CriticalSectionLock lock(m_lock);
    ScanElements(Elements(name), values);
}

float LoadTable::GetArrayReal(const std::string& name, unsigned int index, float defaultValue)
{
    return GetArrayReal(name.c_str(), index, defaultValue);
}

float LoadTable::GetArrayReal(const char* name, unsigned int index, float defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return ScanElement(Elements(name), index, defaultValue);
}

void LoadTable::GetArrayReal(const std::string& name, std::vector<float>& values)
{
    GetArrayReal(name.c_str(), values);
}

void LoadTable::GetArrayReal(const char* name, std::vector<float>& values)
{
    CriticalSectionLock lock(m_lock);
    ScanElements(Elements(name), values);
}

const char* LoadTable::GetArrayValue(const std::string& name, unsigned int index, const char* defaultValue)
{
    return GetArrayValue(name.c_str(), index, defaultValue);
}

const char* LoadTable::GetArrayValue(const char* name, unsigned int index, const char* defaultValue)
{
    CriticalSectionLock lock(m_lock);
    const std::vector<std::string>* elements = Elements(name);
    if (!elements || elements->empty())
        return defaultValue;
    return (index < elements->size() ? (*elements)[index] : elements->back()).c_str();
}

void LoadTable::GetArrayValue(const std::string& name, std::vector<std::string>& values)
{
    GetArrayValue(name.c_str(), values);
}

void LoadTable::GetArrayValue(const char* name, std::vector<std::string>& values)
{
    CriticalSectionLock lock(m_lock);
    values.clear();
    if (const std::vector<std::string>* elements = Elements(name))
        values = *elements;
}

Name LoadTable::CreateName(const char* name) { return Name::Create(GetValue(name, "")); }

int LoadTable::GetNumElementsForField(const std::string& name) { return GetNumElementsForField(name.c_str()); }

int LoadTable::GetNumElementsForField(const char* name)
{
    CriticalSectionLock lock(m_lock);
    const std::string* value = Find(name);
    if (!value)
        return 0;
    int count = 1;
    for (char c : *value)
        if (c == ';')
            ++count;
    return count;
}

} // namespace GAME
