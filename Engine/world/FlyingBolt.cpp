#include "world/FlyingBolt.h"

#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(FlyingBolt, LineEffect)

FlyingBolt::FlyingBolt()
{
    m_strands.assign(1, std::vector<Vec3>());
    m_topPercent = 1.0f;
    m_bottomPercent = 0.0f;
    m_taperPoints = 2;
    m_width = 0.7f;
}

void FlyingBolt::Load(const LoadTable&)
{
    m_faceAlongStrand = true;
    SetTexture("SandBox/Varnel/illegal_lightning.tex");
}

void FlyingBolt::UpdateSelf(int elapsed)
{
    LineEffect::UpdateSelf(elapsed);
    m_textureStretch = boltLength;
    m_boundsMin = Vec3(-1.0f, -1.0f, -1.0f);
    m_boundsMax = Vec3(1.0f, 1.0f, 1.0f);
    if (m_strands.empty())
        m_strands.resize(1);
    std::vector<Vec3>& strand = m_strands.front();
    strand.clear();

    const WorldCoords coords = GetCoords();
    // A frame whose third axis has no length points the bolt along +Z.
    Vec3 axis = coords.GetZAxis();
    const float length = axis.Length();
    axis = length > 1e-6f && std::isfinite(length) ? axis / length : Vec3(0.0f, 0.0f, 1.0f);
    m_start = coords.GetOrigin();
    m_end = m_start;
    m_end.TranslateInRegion(axis * boltLength);
    const float spacing = boltLength / static_cast<float>(boltPoints);
    for (int k = 0; k < boltPoints; ++k)
        strand.push_back(axis * (static_cast<float>(k) * spacing));
    UpdateBoundingBox();
}

} // namespace GAME
