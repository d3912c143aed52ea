#include "world/ChaosBeam.h"

#include "core/ObjectManager.h"
#include "core/RandomUniformLocked.h"
#include "data/LoadTable.h"
#include "world/EffectEntity.h"
#include "world/Region.h"
#include "world/SimpleSeg.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(ChaosBeam, LineEffect)

namespace {

RandomUniformLocked g_random;

// 500 to 1500, from a draw of 0 to 32767.
int RandomTimer()
{
    return static_cast<int>(static_cast<float>(g_random.IGenerate(0, 32767)) * (1.0f / 32767.0f) * 1000.0f +
                            500.0f);
}

} // namespace

void ChaosBeam::SeedRandom(unsigned long seed)
{
    g_random.Seed(seed);
}

ChaosBeam::ChaosBeam()
{
    m_width = 0.5f;
    m_textureStretch = 6.0f;
    m_taperPoints = 5;
    m_timer = RandomTimer();
    SetTexture("Effects/MonsterFX/Mordrin_Chaos_Bolt_Line01.tex");
    SetShader("Shaders/Effects/Chaos.ssh");
    m_strands.assign(4, std::vector<Vec3>());
    m_strandTimers.resize(static_cast<size_t>(m_numStrands));
    for (int& timer : m_strandTimers)
        timer = RandomTimer();
    m_topPercent = 1.0f;
    m_bottomPercent = 0.0f;
}

ChaosBeam::~ChaosBeam()
{
    if (EffectEntity* effect = GetLinkedEffect()) {
        effect->StopEmitting();
        effect->SetSelfRemove(true);
    }
}

void ChaosBeam::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    m_color = Color(1.0f, 1.0f, 1.0f, 1.0f);
    m_textureStretch = table.GetFloat("TextureStretch", 0.0f);
    m_textureName = table.GetValue("Texture", "");
    m_shaderName = table.GetValue("Shader", "");
    if (!m_shaderName.empty())
        SetShader(m_shaderName.c_str());
    if (!m_textureName.empty())
        SetTexture(m_textureName.c_str());
}

void ChaosBeam::SetEndPoints(const WorldVec3& start, const WorldVec3& end)
{
    m_start = start;
    m_end = end;
    m_boundsMin = Vec3(-20.0f, -20.0f, -20.0f);
    m_boundsMax = Vec3(20.0f, 20.0f, 20.0f);
    UpdateBoundingBox();
}

void ChaosBeam::Liberate()
{
    m_liberated = true;
    LeaveWorld();
}

void ChaosBeam::SetLinkedEffect(EffectEntity* effect)
{
    m_linkedEffectId = effect ? effect->GetObjectId() : 0;
    m_linkedAtRenumbering = ObjectManager::Get()->GetRenumberCount();
}

EffectEntity* ChaosBeam::GetLinkedEffect() const
{
    if (m_linkedEffectId == 0)
        return nullptr;
    ObjectManager* objects = ObjectManager::Get();
    Object* object = objects->GetObject(objects->GetRenumberedId(m_linkedEffectId, m_linkedAtRenumbering));
    return object && object->GetClassInfo().IsA(EffectEntity::GetStaticClassInfo())
               ? static_cast<EffectEntity*>(object)
               : nullptr;
}

void ChaosBeam::UpdateSelf(int elapsed)
{
    Region* region = m_start.GetRegion();
    if (!region)
        return;
    LineEffect::UpdateSelf(elapsed);
    if (elapsed > 0)
        m_beamClock = elapsed > INT_MAX - m_beamClock ? INT_MAX : m_beamClock + elapsed;
    const float t = static_cast<float>(m_beamClock) * 0.001f;

    // An end point without a region gives a beam of no length.
    WorldVec3 end = m_end;
    end.MakeRelative(region);
    const Vec3 span = end.GetRegion() ? end.GetRegionPosition() - m_start.GetRegionPosition() : Vec3();
    const float length = span.Length();
    int n = 0;
    if (std::isfinite(length) && length > 0.0f)
        n = static_cast<int>(
            std::min(std::trunc(pointsPerUnit * length), static_cast<float>(maxStrandPoints)));

    if (m_strands.size() < static_cast<size_t>(m_numStrands))
        m_strands.resize(static_cast<size_t>(m_numStrands));
    for (int s = 0; s < m_numStrands; ++s)
        m_strands[static_cast<size_t>(s)].clear();

    if (n > 0) {
        const Vec3 direction = span / length;
        const Vec3 side1 = direction.GetPerpendicular();
        const Vec3 side2 = Vec3::Cross(direction, side1);
        const Vec3 step = span / static_cast<float>(n);
        const float spacing = length / static_cast<float>(n);

        // The bend all strands share, growing by 0.05 a point from either end.
        std::vector<Vec3> bend(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            const float fi = static_cast<float>(i);
            const float amplitude = std::min({fi * 0.05f, static_cast<float>(n - i) * 0.05f, 1.0f});
            bend[static_cast<size_t>(i)] =
                side1 *
                (2.0f * amplitude * (std::sin(fi / 23.0f - t / 3.0f) + std::cos(fi / 31.0f + 2.0f * t)));
        }

        for (int s = 0; s < m_numStrands; ++s) {
            const float k = static_cast<float>(m_strandTimers[static_cast<size_t>(s)]) * 0.001f;
            std::vector<Vec3>& strand = m_strands[static_cast<size_t>(s)];
            strand.reserve(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                const float fi = static_cast<float>(i);
                const Vec3 line = step * fi;
                const float a = std::sin(0.25f * fi + 2.0f * t) *
                                std::cos((k > 0.0f ? fi / (10.0f * k) : 0.0f) + t / 3.0f);
                const float b = std::cos(0.1f * fi + 2.0f * t) * std::sin(fi * k / 2.0f + t / 2.0f);
                const float toStart = fi * spacing;
                const float toEnd = static_cast<float>(n - i) * spacing;
                float f = 1.0f;
                if (toStart < 1.0f)
                    f = toStart;
                if (toEnd < 1.0f)
                    f = 1.0f + 1.5f * (1.0f - toEnd);
                strand.push_back(line + bend[static_cast<size_t>(i)] + (side1 * a + side2 * b) * (0.3f * f));
            }
        }
    }

    // The linked effect emits along every pair of consecutive points, given in the space of the
    // effect's region (where its emitters draw them); the start's while it has none.
    if (EffectEntity* effect = GetLinkedEffect()) {
        Region* effectRegion = effect->GetRegion();
        const Vec3 origin =
            effectRegion ? effectRegion->GetRelativePosition(m_start) : m_start.GetRegionPosition();
        std::vector<SimpleSeg> segments;
        for (int s = 0; s < m_numStrands; ++s) {
            const std::vector<Vec3>& strand = m_strands[static_cast<size_t>(s)];
            for (size_t i = 1; i < strand.size(); ++i)
                segments.emplace_back(origin + strand[i - 1], origin + strand[i]);
        }
        effect->SetDynamicLines(segments, std::vector<bool>(segments.size(), true));
    }
}

} // namespace GAME
