// A writhing beam of several strands between a start and an end point, rebuilt every update from
// its clock and each strand's own timer: five points a unit (at most 500 a strand), bent together
// and each strand shaken on its own, pinched to the start and flared at the end. A beam may be
// linked to an effect entity, which then emits its particles along the strands; the link is held
// by object id, so an effect destroyed elsewhere is simply forgotten. Liberate takes the beam out
// of the world and destroys it. Registered as "ChaosBeam" under "LineEffect".
//
// Randomness (the strand timers) comes from one generator shared by all beams, in the range 0 to
// 32767 (SeedRandom makes it repeatable). Main thread.
#pragma once

#include "world/LineEffect.h"

#include <vector>

namespace GAME {

class EffectEntity;

class ChaosBeam : public LineEffect
{
    GAME_DECLARE_CLASS(ChaosBeam)

public:
    static constexpr int numStrandsDefault = 3;
    // Points a unit of beam length, and a strand's points at most.
    static constexpr float pointsPerUnit = 5.0f;
    static constexpr int maxStrandPoints = 500;

    ChaosBeam();

    // Colour (1, 1, 1, 1); "TextureStretch" (0), "Texture" and "Shader" (empty: the current one
    // stays).
    void Load(const LoadTable& table) override;

    // Bounds (-20, -20, -20) to (20, 20, 20) around the entity, then the box.
    void SetEndPoints(const WorldVec3& start, const WorldVec3& end);
    // Out of the world (when in it) and queued for destruction.
    void Liberate();
    bool IsLiberated() const { return m_liberated; }

    // The effect entity that emits along the strands; null unlinks. Kept by object id (found again
    // after a renumbering, ObjectManager::GetRenumberedId).
    void SetLinkedEffect(EffectEntity* effect);
    // Null once the linked effect is gone.
    EffectEntity* GetLinkedEffect() const;
    int GetBeamClock() const { return m_beamClock; }
    const std::vector<int>& GetStrandTimers() const { return m_strandTimers; }
    int GetTimer() const { return m_timer; }

    static void SeedRandom(unsigned long seed);

protected:
    // The linked effect, when alive, stops emitting and removes itself once done.
    ~ChaosBeam() override;
    // While the start point has a region: the clock advances and the strands are rebuilt between
    // the two points; the linked effect gets their segments.
    void UpdateSelf(int elapsed) override;

private:
    bool m_liberated = false;
    unsigned int m_linkedEffectId = 0;
    unsigned int m_linkedAtRenumbering = 0; // the object manager's renumberings when it was linked
    std::vector<int> m_strandTimers;
    int m_numStrands = numStrandsDefault;
    int m_beamClock = 0;
};

} // namespace GAME
