// A named token that triggers share, with the files that use it. A plain owned object of its
// TriggerTokenList. Main thread.
#pragma once

#include <string>
#include <vector>

namespace GAME {

class IOStream;

class TriggerToken
{
public:
    // Most file references a stream may make one token read.
    static constexpr int maxStreamedReferences = 4096;

    TriggerToken() = default;
    explicit TriggerToken(const std::string& name) : m_name(name) {}
    virtual ~TriggerToken() = default;

    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    // Duplicates allowed.
    void AddFileReference(const char* fileName);
    int GetFileReferenceCount() const { return static_cast<int>(m_fileReferences.size()); }
    // Empty outside the list.
    std::string GetFileReference(int index) const;
    bool operator==(const TriggerToken& other) const { return m_name == other.m_name; }
    // A block: "name", "fileReferenceCount", that many "fileReference" (read ones are appended).
    void StreamProperties(IOStream* stream);

private:
    std::string m_name;
    std::vector<std::string> m_fileReferences;
};

} // namespace GAME
