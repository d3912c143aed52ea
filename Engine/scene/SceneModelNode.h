// The model-building interface that exporters and converters share: a model is a list of nodes
// (meshes, dummies, hit boxes, collision geometry) with their materials, read and written as a
// binary stream. The library itself makes no node. Every node starts its stream with three strings:
// its name, its parent's name and user data; each kind adds its own fields (see the node classes).
//
// Streams are read within their bytes: a count that the bytes left cannot hold, a string that runs
// past the end or over 0x100000 bytes, or any read past the end makes Read answer false. Plain
// values; one thread at a time.
#pragma once

#include <cstdint>
#include <string>

namespace GAME {

class BinaryReader;
class BinaryWriter;

class SceneModelNode
{
public:
    enum Type : uint32_t
    {
        TYPE_HIT_BOX = 0,
        TYPE_MESH = 1,
        TYPE_PHYSICS = 2,
        TYPE_DUMMY = 4,
    };

    SceneModelNode() = default;
    virtual ~SceneModelNode() = default;

    virtual Type GetType() const = 0;
    // False when the stream is short or bad; the node then holds what was read so far.
    virtual bool Read(BinaryReader& reader);
    virtual void Write(BinaryWriter& writer) const;

    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetName() const { return m_name; }
    void SetParentName(const std::string& name) { m_parentName = name; }
    const std::string& GetParentName() const { return m_parentName; }
    void SetUserData(const std::string& data) { m_userData = data; }
    const std::string& GetUserData() const { return m_userData; }

protected:
    SceneModelNode(const SceneModelNode&) = default;
    SceneModelNode& operator=(const SceneModelNode&) = default;

private:
    std::string m_name;
    std::string m_parentName;
    std::string m_userData;
};

} // namespace GAME
