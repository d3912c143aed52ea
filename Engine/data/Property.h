// One variable registered with a Serializer: its name and the address of the caller's variable
// (not owned; it must outlive the property). Encodes, decodes and sizes the value and compares it
// with the object's database record. Same thread as its serializer.
#pragma once

#include <cstdint>
#include <string>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class LoadTable;

class Property
{
public:
    explicit Property(const std::string& name) : m_name(name) {}
    virtual ~Property() = default;
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;

    virtual void Write(BinaryWriter& writer) const = 0;
    // The variable changes only when a whole value was read.
    virtual bool Read(BinaryReader& reader) = 0;
    // Bytes Write produces.
    virtual unsigned GetSize() const = 0;
    // The value equals the record's field of the same name (the record's default when absent).
    virtual bool EqualsRecord(LoadTable& record) const = 0;

    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
};

class StringProperty : public Property
{
public:
    StringProperty(const std::string& name, std::string& variable) : Property(name), m_variable(variable) {}
    void Write(BinaryWriter& writer) const override;
    bool Read(BinaryReader& reader) override;
    unsigned GetSize() const override;
    bool EqualsRecord(LoadTable& record) const override;

private:
    std::string& m_variable;
};

// int and unsigned share the 32-bit encoding and the record's integer field.
class IntProperty : public Property
{
public:
    IntProperty(const std::string& name, int& variable) : Property(name), m_variable(&variable) {}
    IntProperty(const std::string& name, unsigned& variable) : Property(name), m_variable(&variable) {}
    void Write(BinaryWriter& writer) const override;
    bool Read(BinaryReader& reader) override;
    unsigned GetSize() const override { return 4; }
    bool EqualsRecord(LoadTable& record) const override;

private:
    void* m_variable; // an int or an unsigned: same size and representation
};

class FloatProperty : public Property
{
public:
    FloatProperty(const std::string& name, float& variable) : Property(name), m_variable(variable) {}
    void Write(BinaryWriter& writer) const override;
    bool Read(BinaryReader& reader) override;
    unsigned GetSize() const override { return 4; }
    bool EqualsRecord(LoadTable& record) const override;

private:
    float& m_variable;
};

class BoolProperty : public Property
{
public:
    BoolProperty(const std::string& name, bool& variable) : Property(name), m_variable(variable) {}
    void Write(BinaryWriter& writer) const override;
    bool Read(BinaryReader& reader) override;
    unsigned GetSize() const override { return 4; }
    bool EqualsRecord(LoadTable& record) const override;

private:
    bool& m_variable;
};

} // namespace GAME
