#include "data/ConfigFile.h"

#include "core/NumberParsing.h"
#include "data/BasicTextParser.h"
#include "data/File.h"
#include "data/FileSystem.h"

#include <vector>

namespace GAME {

ConfigFile::ConfigFile() : m_values(100) {}

void ConfigFile::ParseText(const char* text, size_t length)
{
    CriticalSectionLock lock(m_lock);
    TextParser lines(text, length);
    while (!lines.AtEnd()) {
        std::string line = lines.ReadLine();
        TextParser tokens(line.data(), line.size());
        tokens.SetStripQuotes(true);
        std::vector<std::string> read;
        for (int i = 0; i < 4 && !tokens.AtEnd(); ++i)
            read.push_back(tokens.ReadToken());
        if (read.size() < 3 || read[1].empty() || read[1][0] != '=')
            continue;
        std::string value = read[2];
        if (read.size() == 4)
            value += " " + read[3];
        m_values.emplace(read[0], value); // the first occurrence wins
    }
}

bool ConfigFile::Initialize(const char* fileName, FileSystem& fileSystem)
{
    CriticalSectionLock lock(m_lock);
    File* file = fileSystem.OpenFile(fileName, FILE_MODE_READ);
    if (!file)
        return false;
    unsigned length = file->GetLength();
    if (length > 0) {
        if (const void* data = file->Lock(0, length)) {
            ParseText(static_cast<const char*>(data), length);
            file->Unlock();
        }
    }
    fileSystem.CloseFile(file);
    return true;
}

const char* ConfigFile::GetValue(const char* key)
{
    if (!key)
        return nullptr;
    CriticalSectionLock lock(m_lock);
    auto it = m_values.find(key);
    return it == m_values.end() ? nullptr : it->second.c_str();
}

bool ConfigFile::GetValueAsInt(const char* key, int& value)
{
    const char* text = GetValue(key);
    if (!text)
        return false;
    value = AtoI(text);
    return true;
}

bool ConfigFile::GetValueAsReal(const char* key, float& value)
{
    const char* text = GetValue(key);
    if (!text)
        return false;
    value = AtoF(text);
    return true;
}

bool ConfigFile::GetValueAsInt2(const char* key, int& first, int& second)
{
    const char* text = GetValue(key);
    return text && ScanInt2(text, first, second);
}

bool ConfigFile::GetValueAsBool(const char* key, bool& value)
{
    const char* text = GetValue(key);
    if (!text)
        return false;
    value = std::string(text) == "true";
    return true;
}

bool ConfigFile::GetValueAsStr(const char* key, std::string& value)
{
    const char* text = GetValue(key);
    if (!text)
        return false;
    value = text;
    return true;
}

} // namespace GAME
