// A short straight bolt: one strand of ten points, 1.4 units long along the third axis of the
// entity's frame from its position, drawn as a ribbon that faces the camera across its whole length
// and tapers over two points at either end. Rebuilt every update. Registered as "FlyingBolt" under
// "LineEffect". Main thread.
#pragma once

#include "world/LineEffect.h"

namespace GAME {

class FlyingBolt : public LineEffect
{
    GAME_DECLARE_CLASS(FlyingBolt)

public:
    static constexpr float boltLength = 1.4f;
    static constexpr int boltPoints = 10;

    FlyingBolt();

    // Reads no fields: the ribbon faces along the strand and takes the bolt texture.
    void Load(const LoadTable& table) override;
    float GetLength() const { return m_length; }

protected:
    ~FlyingBolt() override = default;
    // The strand from the entity's position along the unit third axis of its frame.
    void UpdateSelf(int elapsed) override;

private:
    // Kept for the record; the bolt is always boltLength long.
    float m_length = 1.0f;
};

} // namespace GAME
