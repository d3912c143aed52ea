// A named frame of a model (a model-building node, see SceneModelNode). Stream: the node's three
// strings, then the frame as 12 floats (X axis, Y axis, Z axis, origin). A plain value.
#pragma once

#include "core/Coords.h"
#include "scene/SceneModelNode.h"

namespace GAME {

class SceneDummyNode : public SceneModelNode
{
public:
    SceneDummyNode() = default;
    SceneDummyNode(const SceneDummyNode&) = default;
    SceneDummyNode& operator=(const SceneDummyNode&) = default;

    Type GetType() const override { return TYPE_DUMMY; }
    bool Read(BinaryReader& reader) override;
    void Write(BinaryWriter& writer) const override;

    void SetCoords(const Coords& coords) { m_coords = coords; }
    const Coords& GetCoords() const { return m_coords; }

private:
    Coords m_coords;
};

} // namespace GAME
