// Writes and reads an object's registered variables as a compact property stream, leaving out
// every variable whose value equals the object's database record. The fast form names each
// property by its registration index (u16) and ends with 0xDEAD; the verbose form names it by
// name with its size, so readers with other registrations skip what they do not know, and ends
// with "XXDoneXX". The variables must outlive the serializer; copies share the registered
// properties. One thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class LoadTable;
class Property;

class Serializer
{
public:
    static constexpr uint16_t kFastTerminator = 0xDEAD;
    static constexpr const char* kVerboseTerminator = "XXDoneXX";

    Serializer() = default;
    virtual ~Serializer() = default;
    Serializer(const Serializer&) = default;
    Serializer& operator=(const Serializer&) = default;

    // False, with a log line, once 0xDEAD properties are registered (the fast form cannot name
    // more).
    bool Register(const std::string& name, std::string& variable);
    bool Register(const std::string& name, int& variable);
    bool Register(const std::string& name, unsigned& variable);
    bool Register(const std::string& name, float& variable);
    bool Register(const std::string& name, bool& variable);

    // Every property whose value differs from the record, in registration order, then the end
    // mark. The writer stays set (and the reader is cleared) so that operator<< can add values.
    void Serialize(LoadTable& record, BinaryWriter* writer, bool fast);
    // Reads properties until the end mark, an unknown fast index or the end of the data. The
    // reader stays set (and the writer is cleared) so that operator<< can read further values.
    void Deserialize(BinaryReader* reader, bool fast);

    // Reads the value when a reader is set, else writes it to the writer (if any).
    Serializer& operator<<(int& value);
    Serializer& operator<<(unsigned& value);
    Serializer& operator<<(float& value);
    Serializer& operator<<(bool& value);
    Serializer& operator<<(std::string& value);
    bool IsReading() const { return m_reader != nullptr; }

    void WritePropertyID(bool fast, unsigned index, const std::string& name, unsigned size);
    void WriteTerminator(bool fast);
    void FastWritePropertyID(unsigned index);
    void FastWriteTerminator();
    void VerboseWritePropertyID(const std::string& name, unsigned size);
    void VerboseWriteTerminator();
    // The next property of the stream, or null with done set at the end mark (or the end of the
    // data, or an unknown fast index). Null with done clear: a verbose property nobody registered,
    // already skipped. For a verbose property, valueSize (when given) receives its stated size.
    Property* GetProperty(bool fast, bool& done, uint32_t* valueSize = nullptr);
    Property* FastGetProperty(bool& done);
    Property* VerboseGetProperty(bool& done, uint32_t* valueSize = nullptr);

    size_t GetNumProperties() const { return m_properties.size(); }

private:
    bool Add(std::shared_ptr<Property> property);

    std::vector<std::shared_ptr<Property>> m_properties;
    std::map<std::string, Property*> m_byName;
    BinaryWriter* m_writer = nullptr;
    BinaryReader* m_reader = nullptr;
};

} // namespace GAME
