#include "graphics/InterfaceSkin.h"

#include "core/Log.h"
#include "core/NumberParsing.h"
#include "data/BasicTextParser.h"
#include "data/EngineDataServices.h"
#include "data/File.h"
#include "data/FileSystem.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"

#include <cmath>

namespace GAME {
namespace {

GraphicsEngine* EngineGraphics()
{
    return GraphicsServices::Graphics();
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A decimal number: sign, digits with at most one point (at least one digit), exponent.
bool IsDecimalNumber(const std::string& text)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            digits = true;
        else if (text[i] == '.' && !point)
            point = true;
        else
            break;
    }
    if (!digits)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
    }
    return i == text.size();
}

// " ( %f , %f , %f , %f ) ": four finite numbers after the parenthesis, separated by commas; what
// follows the fourth is not looked at.
bool ParseRegion(const std::string& text, float region[4])
{
    size_t at = 0;
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    if (at >= text.size() || text[at] != '(')
        return false;
    ++at;
    float values[4];
    for (int i = 0; i < 4; ++i) {
        const size_t end = i < 3 ? text.find(',', at) : text.find_first_of(",)", at);
        if (end == std::string::npos && i < 3)
            return false;
        std::string field = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        while (!field.empty() && IsSpace(field.back()))
            field.pop_back();
        size_t first = 0;
        while (first < field.size() && IsSpace(field[first]))
            ++first;
        field.erase(0, first);
        if (!IsDecimalNumber(field) || !ScanFloat(field.c_str(), values[i]) || !std::isfinite(values[i]))
            return false;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    for (int i = 0; i < 4; ++i)
        region[i] = values[i];
    return true;
}

} // namespace

InterfaceSkin::InterfaceSkin(const char* fileName) : InterfaceSkin(fileName, EngineGraphics()) {}

InterfaceSkin::InterfaceSkin(const char* fileName, GraphicsEngine* graphics)
    : m_areas(initialBuckets), m_graphics(graphics)
{
    m_loaded = LoadUIS(fileName);
}

InterfaceSkin::~InterfaceSkin()
{
    for (auto& [name, area] : m_areas)
        ReleaseArea(*area);
}

const InterfaceSkin::Area* InterfaceSkin::GetArea(const char* name) const
{
    if (!name)
        return nullptr;
    auto it = m_areas.find(name);
    return it == m_areas.end() ? nullptr : it->second.get();
}

void InterfaceSkin::ReleaseArea(Area& area)
{
    if (area.texture && m_graphics)
        m_graphics->UnloadTexture(area.texture);
    area.texture = nullptr;
}

bool InterfaceSkin::LoadUIS(const char* fileName)
{
    if (!fileName || !*fileName)
        return false;
    FileSystem* files = EngineDataServices::Files();
    File* file = files ? files->OpenFile(fileName, FILE_MODE_READ) : nullptr;
    if (!file) {
        LogPrintf(1, "InterfaceSkin: couldn't open '%s'", fileName);
        return false;
    }
    const unsigned length = file->GetLength();
    const char* text = length > 0 ? static_cast<const char*>(file->Lock(0, length)) : "";
    bool loaded = false;
    if (text) {
        loaded = ParseUIS(fileName, text, length);
        if (length > 0)
            file->Unlock();
    } else {
        LogPrintf(1, "InterfaceSkin: couldn't read '%s'", fileName);
    }
    files->CloseFile(file);
    return loaded;
}

bool InterfaceSkin::ParseUIS(const char* fileName, const char* text, size_t length)
{
    TextParser parser(text, length);
    // Every token takes at least one character, so the loops below end with the text.
    while (!parser.AtEnd()) {
        if (parser.ReadToken() != "Area")
            continue;
        if (parser.ReadToken() != "{") {
            LogPrintf(1, "InterfaceSkin: '%s' line %u: \"Area\" without \"{\"", fileName,
                      parser.GetTokenLine());
            return false;
        }
        std::string name, bitmap;
        float region[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        bool closed = false;
        while (!parser.AtEnd()) {
            const std::string key = parser.ReadToken();
            if (key == "}") {
                closed = true;
                break;
            }
            parser.ReadToken(); // the separator
            if (key == "name") {
                parser.ReadDelimitedToken(name, '"', '"', true);
            } else if (key == "bitmap") {
                parser.ReadDelimitedToken(bitmap, '"', '"', true);
            } else if (key == "region") {
                std::string value;
                parser.ReadDelimitedToken(value, '(', ')', false);
                if (!ParseRegion(value, region)) {
                    LogPrintf(1, "InterfaceSkin: '%s' line %u: region '%s' is not four numbers; it is zero",
                              fileName, parser.GetTokenLine(), value.c_str());
                    region[0] = region[1] = region[2] = region[3] = 0.0f;
                }
            }
        }
        if (!closed) {
            LogPrintf(1, "InterfaceSkin: '%s' ends inside an \"Area\" block", fileName);
            return false;
        }
        if (!name.empty())
            EnterArea(name, bitmap, region);
    }
    return true;
}

void InterfaceSkin::EnterArea(const std::string& name, const std::string& bitmap, const float region[4])
{
    auto area = std::make_unique<Area>();
    if (m_graphics && !bitmap.empty())
        area->texture = m_graphics->LoadTexture(bitmap);
    for (int i = 0; i < 4; ++i)
        area->region[i] = region[i];
    std::unique_ptr<Area>& slot = m_areas[name];
    if (slot)
        ReleaseArea(*slot); // a later area of the same name replaces the earlier one
    slot = std::move(area);
}

} // namespace GAME
