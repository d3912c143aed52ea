// A configuration file of "key = value" lines with // and /* */ comments and conditional
// directives, read through the virtual file system into a map with typed getters. The first
// occurrence of a key wins. Initialize and every lookup hold the file's lock.
#pragma once

#include "core/CriticalSection.h"

#include <string>
#include <unordered_map>

namespace GAME {

class FileSystem;

class ConfigFile
{
public:
    using Map = std::unordered_map<std::string, std::string>;

    ConfigFile();
    virtual ~ConfigFile() = default;
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

    // False only when the file cannot be opened; malformed lines are skipped.
    bool Initialize(const char* fileName, FileSystem& fileSystem);
    // Parses text already in memory (what Initialize does with the file's contents).
    void ParseText(const char* text, size_t length);

    // Null when the key is absent. The pointer stays valid while the file lives.
    const char* GetValue(const char* key);
    // Each getter answers false, leaving the output alone, when the key is absent.
    bool GetValueAsInt(const char* key, int& value);
    bool GetValueAsReal(const char* key, float& value);
    // True only when the value holds two integers.
    bool GetValueAsInt2(const char* key, int& first, int& second);
    // The output is true exactly when the value is "true".
    bool GetValueAsBool(const char* key, bool& value);
    bool GetValueAsStr(const char* key, std::string& value);

    Map::const_iterator Begin() const { return m_values.begin(); }
    Map::const_iterator End() const { return m_values.end(); }

private:
    Map m_values;
    CriticalSection m_lock;
};

} // namespace GAME
