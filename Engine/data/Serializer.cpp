#include "data/Serializer.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/Property.h"

namespace GAME {

bool Serializer::Add(std::shared_ptr<Property> property)
{
    if (m_properties.size() >= kFastTerminator) {
        LogPrintf(1, "Serializer: cannot register %s; at most %u properties fit the stream",
                  property->GetName().c_str(), static_cast<unsigned>(kFastTerminator));
        return false;
    }
    // A name registered twice keeps its first property for verbose reading.
    m_byName.emplace(property->GetName(), property.get());
    m_properties.push_back(std::move(property));
    return true;
}

bool Serializer::Register(const std::string& name, std::string& variable)
{
    return Add(std::make_shared<StringProperty>(name, variable));
}

bool Serializer::Register(const std::string& name, int& variable)
{
    return Add(std::make_shared<IntProperty>(name, variable));
}

bool Serializer::Register(const std::string& name, unsigned& variable)
{
    return Add(std::make_shared<IntProperty>(name, variable));
}

bool Serializer::Register(const std::string& name, float& variable)
{
    return Add(std::make_shared<FloatProperty>(name, variable));
}

bool Serializer::Register(const std::string& name, bool& variable)
{
    return Add(std::make_shared<BoolProperty>(name, variable));
}

void Serializer::Serialize(LoadTable& record, BinaryWriter* writer, bool fast)
{
    m_writer = writer;
    m_reader = nullptr;
    if (!writer)
        return;
    for (size_t i = 0; i < m_properties.size(); ++i) {
        const Property& property = *m_properties[i];
        if (property.EqualsRecord(record))
            continue;
        WritePropertyID(fast, static_cast<unsigned>(i), property.GetName(), property.GetSize());
        property.Write(*writer);
    }
    WriteTerminator(fast);
}

void Serializer::Deserialize(BinaryReader* reader, bool fast)
{
    m_reader = reader;
    m_writer = nullptr;
    if (!reader)
        return;
    for (;;) {
        bool done = false;
        uint32_t size = 0;
        Property* property = GetProperty(fast, done, &size);
        if (done)
            return;
        if (!property)
            continue;
        if (fast) {
            property->Read(*reader);
            continue;
        }
        // A verbose value is read within its stated size, and the stream goes on after it, so a
        // property registered with another type here cannot throw the rest out of step.
        if (!reader->CheckCount(size, 1, "serialized property bytes"))
            return;
        BinaryReader content(reader->GetCursor(), size);
        reader->Skip(size);
        property->Read(content);
    }
}

void Serializer::WritePropertyID(bool fast, unsigned index, const std::string& name, unsigned size)
{
    if (fast)
        FastWritePropertyID(index);
    else
        VerboseWritePropertyID(name, size);
}

void Serializer::WriteTerminator(bool fast)
{
    if (fast)
        FastWriteTerminator();
    else
        VerboseWriteTerminator();
}

void Serializer::FastWritePropertyID(unsigned index)
{
    if (m_writer)
        m_writer->WriteUInt16(static_cast<uint16_t>(index));
}

void Serializer::FastWriteTerminator()
{
    if (m_writer)
        m_writer->WriteUInt16(kFastTerminator);
}

void Serializer::VerboseWritePropertyID(const std::string& name, unsigned size)
{
    if (!m_writer)
        return;
    m_writer->WriteString(name);
    m_writer->WriteUInt32(size);
}

void Serializer::VerboseWriteTerminator()
{
    if (m_writer)
        m_writer->WriteString(kVerboseTerminator);
}

Property* Serializer::GetProperty(bool fast, bool& done, uint32_t* valueSize)
{
    return fast ? FastGetProperty(done) : VerboseGetProperty(done, valueSize);
}

Property* Serializer::FastGetProperty(bool& done)
{
    done = true;
    if (!m_reader)
        return nullptr;
    const uint16_t index = m_reader->ReadUInt16();
    // A stream that runs out ends here too: a failed reader yields zeros, which is index 0.
    if (m_reader->Failed() || index == kFastTerminator || index >= m_properties.size())
        return nullptr;
    done = false;
    return m_properties[index].get();
}

Property* Serializer::VerboseGetProperty(bool& done, uint32_t* valueSize)
{
    done = true;
    if (!m_reader)
        return nullptr;
    std::string name;
    if (!m_reader->ReadString(name) || name == kVerboseTerminator)
        return nullptr;
    const uint32_t size = m_reader->ReadUInt32();
    if (m_reader->Failed())
        return nullptr;
    done = false;
    if (valueSize)
        *valueSize = size;
    auto it = m_byName.find(name);
    if (it == m_byName.end()) {
        m_reader->Skip(size);
        done = m_reader->Failed();
        return nullptr;
    }
    return it->second;
}

Serializer& Serializer::operator<<(int& value)
{
    if (m_reader) {
        const int v = m_reader->ReadInt32();
        if (!m_reader->Failed())
            value = v;
    } else if (m_writer) {
        m_writer->WriteInt32(value);
    }
    return *this;
}

Serializer& Serializer::operator<<(unsigned& value)
{
    if (m_reader) {
        const unsigned v = m_reader->ReadUInt32();
        if (!m_reader->Failed())
            value = v;
    } else if (m_writer) {
        m_writer->WriteUInt32(value);
    }
    return *this;
}

Serializer& Serializer::operator<<(float& value)
{
    if (m_reader) {
        const float v = m_reader->ReadFloat();
        if (!m_reader->Failed())
            value = v;
    } else if (m_writer) {
        m_writer->WriteFloat(value);
    }
    return *this;
}

Serializer& Serializer::operator<<(bool& value)
{
    if (m_reader) {
        const bool v = m_reader->ReadBool();
        if (!m_reader->Failed())
            value = v;
    } else if (m_writer) {
        m_writer->WriteBool(value);
    }
    return *this;
}

Serializer& Serializer::operator<<(std::string& value)
{
    if (m_reader) {
        std::string text;
        if (m_reader->ReadString(text))
            value = std::move(text);
    } else if (m_writer) {
        m_writer->WriteString(value);
    }
    return *this;
}

} // namespace GAME
