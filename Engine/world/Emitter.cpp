#include "world/Emitter.h"

#include "core/Frustum.h"
#include "core/Log.h"
#include "core/Mat4.h"
#include "core/MathUtil.h"
#include "core/RandomUniformLocked.h"
#include "core/Sphere.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "platform/Clock.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "sound/AmbianceManager.h"
#include "world/EffectEntity.h"
#include "world/EmitterData.h"
#include "world/EmitterGraphics.h"
#include "world/Engine.h"
#include "world/Light.h"
#include "world/Region.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

constexpr float kPi = 3.14159265358979f;
// Texture frames beyond this are not believed.
constexpr unsigned int kMaxFrames = 65536;

RandomUniformLocked g_random;

// rand(): 0 to 32767.
int Rand()
{
    return g_random.IGenerate(0, 32767);
}

// U: 0 to 1.
float Uniform()
{
    return static_cast<float>(Rand()) / 32767.0f;
}

float Finite(float value, float fallback = 0.0f)
{
    return std::isfinite(value) ? value : fallback;
}

bool IsFiniteVec(const Vec3& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// rand() mod trunc(length × 1000), × 0.001: a random distance of at most the length, 0 for a
// length too short to hold a millimetre.
float RandomDistance(float length)
{
    const double scaled = static_cast<double>(length) * 1000.0;
    if (!(scaled >= 1.0))
        return 0.0f;
    const long long modulus = scaled < 2147483647.0 ? static_cast<long long>(scaled) : 2147483647LL;
    return static_cast<float>(Rand() % modulus) * 0.001f;
}

// A velocity of random direction and the given speed, as anchored and bone particles start.
Vec3 RandomVelocity(float speed)
{
    Vec3 direction(static_cast<float>(Rand() % 1000) * 0.001f - 0.5f,
                   static_cast<float>(Rand() % 1000) * 0.001f - 0.5f,
                   static_cast<float>(Rand() % 1000) * 0.001f - 0.5f);
    const float length = direction.Length();
    Vec3 velocity = length > 0.0f ? direction * (speed / length) : Vec3();
    if (!(velocity.LengthSquared() >= 0.001f))
        velocity = Vec3(0.0f, 0.001f, 0.0f);
    return velocity;
}

// A point in [-r, r]^3 within the radius (x, y, z drawn in that order; with flat, y stays 0);
// the origin after more than 10 draws.
Vec3 RandomPointInBall(float r, bool flat)
{
    for (int draws = 0; draws <= 10; ++draws) {
        Vec3 p;
        p.x = Uniform() * 2.0f * r - r;
        p.y = flat ? 0.0f : Uniform() * 2.0f * r - r;
        p.z = Uniform() * 2.0f * r - r;
        if (p.Length() <= r)
            return p;
    }
    return Vec3();
}

// The emitter's own light: placed by the emitter, culled by its radius, casting shadows when its
// flag is set and lighting is not low-quality.
class EmitterLight : public Light
{
public:
    EmitterLight() { Disable(); }
    ~EmitterLight() override = default;

    void SetPlace(const WorldCoords& place) { m_place = place; }
    const WorldCoords& GetPlace() const { return m_place; }

    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override
    {
        const GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
        const bool lowQuality = graphics && graphics->UseLowQualityLighting();
        GraphicsLight light;
        if (!BuildGraphicsLightAt(m_place, frustum, GetShadowCasting() && !lowQuality, light))
            return;
        renderer.AddLight(light);
        if (renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_BOUNDING_BOXES))
            if (DebugRenderManager* debug = DebugRenderManager::Get())
                debug->RenderSphere(m_place.GetRegion(),
                                    Sphere(m_place.GetOrigin().GetRegionPosition(), 0.25f), light.GetColor());
    }

private:
    WorldCoords m_place;
};

const VertexElement kVertexElements[5] = {
    {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},  {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
    {0, VERTEX_USAGE_TEXCOORD1, VERTEX_TYPE_FLOAT4}, {0, VERTEX_USAGE_TEXCOORD2, VERTEX_TYPE_FLOAT4},
    {0, VERTEX_USAGE_COLOR, VERTEX_TYPE_FLOAT4},
};

bool IsPSEditor()
{
    return gEngine && gEngine->IsPSEditorMode();
}

} // namespace

void Emitter::SeedRandom(unsigned long seed)
{
    g_random.Seed(seed);
}

Emitter::Emitter(const EmitterData* definition)
{
    Reset(definition);
    m_device = WorldServices::Device();
    if (m_device)
        m_declaration = m_device->CreateVertexDeclaration(kVertexElements, 5);
}

Emitter::~Emitter()
{
    delete static_cast<EmitterLight*>(m_light);
    m_light = nullptr;
    if (m_declaration && m_device)
        m_device->DestroyVertexDeclaration(&m_declaration);
    EmitterGraphics* graphics = EmitterGraphics::Get();
    if (m_texture)
        graphics->UnloadTexture(m_texture);
    if (m_shader)
        graphics->UnloadShader(m_shader);
}

Light* Emitter::GetLight() const
{
    return m_light;
}

void Emitter::Reset(const EmitterData* definition)
{
    m_finished = false;
    m_firstUpdate = true;
    m_emitterTime = 0.0f;
    m_timer.Update(false);
    UpdateTexture(definition);
    UpdateShader(definition);
    m_bones.clear();
    m_spin = Coords();
    if (definition) {
        const Vec3 axes[3] = {Vec3(1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(0.0f, 0.0f, 1.0f)};
        for (int i = 0; i < 3; ++i) {
            const float angle = Finite(definition->GetFloat(EmitterData::FLOAT_TURN_X + i)) * kPi / 180.0f;
            m_spin = Coords::Rotation(axes[i], angle) * m_spin;
        }
    }
}

void Emitter::StartEmitting()
{
    m_firstUpdate = true;
    m_stopped = false;
}

void Emitter::SetAnchored(bool anchored)
{
    m_anchored = anchored;
    m_local = anchored;
}

void Emitter::AddAnchor(std::vector<WorldVec3>& history, Vec3 (&points)[4], Region*& region,
                        const WorldVec3& position)
{
    history.push_back(position);
    if (history.size() <= 4) {
        region = history.front().GetRegion();
        for (Vec3& p : points)
            p = history.front().GetRegionPosition();
        return;
    }
    history.erase(history.begin(), history.begin() + static_cast<std::ptrdiff_t>(history.size() - 4));
    region = history.back().GetRegion();
    for (int i = 0; i < 4; ++i) {
        WorldVec3 p = history[static_cast<size_t>(i)];
        p.MakeRelative(region);
        points[i] = p.GetRegionPosition();
    }
}

void Emitter::SetAnchor1(const WorldVec3& position)
{
    AddAnchor(m_anchor1History, m_anchor1Points, m_anchor1Region, position);
}

void Emitter::SetAnchor2(const WorldVec3& position)
{
    AddAnchor(m_anchor2History, m_anchor2Points, m_anchor2Region, position);
}

WorldVec3 Emitter::PickAnchor(const Vec3 (&p)[4], Region* region, float f)
{
    const float f2 = f * f;
    const float f3 = f2 * f;
    const Vec3 point =
        (p[1] * 2.0f + (p[2] - p[0]) * f + (p[0] * 2.0f - p[1] * 5.0f + p[2] * 4.0f - p[3]) * f2 +
         (p[1] * 3.0f - p[0] - p[2] * 3.0f + p[3]) * f3) *
        0.5f;
    return WorldVec3(region, point);
}

void Emitter::PreLoad(bool preload)
{
    if (preload)
        EmitterGraphics::Get()->PreLoad(m_texture, m_shader);
}

void Emitter::UpdateTexture(const EmitterData* definition)
{
    if (!definition || definition->GetTextureName() == m_textureName)
        return;
    EmitterGraphics* graphics = EmitterGraphics::Get();
    if (m_texture) {
        graphics->UnloadTexture(m_texture);
        m_texture = nullptr;
        m_textureName.clear();
    }
    const std::string& name = definition->GetTextureName();
    if (!name.empty() && (m_texture = graphics->LoadTexture(name)) != nullptr)
        m_textureName = name;
}

void Emitter::UpdateShader(const EmitterData* definition)
{
    if (!definition || definition->GetShaderName() == m_shaderName)
        return;
    EmitterGraphics* graphics = EmitterGraphics::Get();
    if (m_shader) {
        graphics->UnloadShader(m_shader);
        m_shader = nullptr;
        m_shaderName.clear();
    }
    const std::string& name = definition->GetShaderName();
    if (!name.empty() && (m_shader = graphics->LoadShader(name)) != nullptr)
        m_shaderName = name;
}

unsigned int Emitter::GetTextureFrames() const
{
    if (!m_texture)
        return 0;
    return std::min(EmitterGraphics::Get()->GetNumFrames(m_texture), kMaxFrames);
}

float Emitter::CurveE(const EmitterData& definition, int slot) const
{
    return definition.GetCurve(slot)->GetYFast(m_emitterTime);
}

// ---------------------------------------------------------------------------------------------
// Update
// ---------------------------------------------------------------------------------------------

void Emitter::Update(const WorldCoords& frame, ABBox& box, const EmitterData* definition,
                     const std::vector<EmitterBone>* bones)
{
    const uint64_t startCycles = Platform::CycleCounter();
    m_boundingBox = ABBox(Vec3(), Vec3(1.0f, 1.0f, 1.0f));
    if (definition) {
        const EmitterData& def = *definition;
        m_enabled = def.GetEnabled();
        m_nightLight = def.GetBoolean(EmitterData::BOOL_NIGHT_LIGHT);

        m_timer.Update(false);
        const int elapsed = std::max(0, m_timer.GetElapsedTime());
        m_accumulatedTime += static_cast<float>(elapsed) * 0.001f;
        m_step = std::min(m_accumulatedTime, maxStep);

        const bool loop = def.GetLoop();
        if (!m_stopped && !(m_finished && !loop)) {
            const float cycle = def.GetCurve(EmitterData::CURVE_EMISSION_SIZE)->GetDomain();
            m_emitterTime += m_step;
            if (loop) {
                // A cycle of no length keeps the emitter at its start.
                m_emitterTime =
                    cycle > 0.0f ? m_emitterTime - std::trunc(m_emitterTime / cycle) * cycle : 0.0f;
            } else if (!(m_emitterTime < cycle)) {
                m_emitterTime = std::max(cycle, 0.0f);
                m_finished = true;
            }
        }

        if (m_drawn) {
            m_drawn = false;
            m_alignWithVelocity = def.GetBoolean(EmitterData::BOOL_ALIGN_WITH_VELOCITY);
            if (m_paused) {
                m_accumulatedTime = 0.0f;
                m_step = 0.0f;
            }
            Allocate(def);
            UpdateTexture(&def);
            UpdateShader(&def);
            if (IsPSEditor() && def.GetDebugLines())
                DrawDebugLines(def);

            m_position = frame.GetOrigin();
            m_frame = frame;
            if (m_firstUpdate) {
                m_previousPosition = m_position;
                m_firstUpdate = false;
            }
            m_emissionOffset = Vec3(CurveE(def, EmitterData::CURVE_OFFSET_X) -
                                        def.GetCurve(EmitterData::CURVE_OFFSET_X)->GetRange() * 0.5f,
                                    CurveE(def, EmitterData::CURVE_OFFSET_Y) -
                                        def.GetCurve(EmitterData::CURVE_OFFSET_Y)->GetRange() * 0.5f,
                                    CurveE(def, EmitterData::CURVE_OFFSET_Z) -
                                        def.GetCurve(EmitterData::CURVE_OFFSET_Z)->GetRange() * 0.5f);
            if (m_position.GetRegion()) {
                const Vec3 moved = m_position - m_previousPosition;
                m_displacement = IsFiniteVec(moved) ? moved : Vec3();
                m_previousPosition = m_position;
            }

            UpdateLight(def, m_step);
            UpdateBoneList(bones);
            if (IsDrawable()) {
                EmitParticles(def);
                if (m_liveCount > 0)
                    UpdateParticles(def);
            } else {
                // Nothing would ever draw them, so nothing would ever age them.
                m_liveCount = 0;
            }
            m_accumulatedTime = 0.0f;
        } else if (!IsDrawable()) {
            m_liveCount = 0;
            m_accumulatedTime = 0.0f;
        } else {
            ExpireUndrawnParticles(def);
        }
    }

    float r = 1.0f;
    if (m_light)
        r = std::max(1.0f, Finite(m_light->GetRadius(), 1.0f));
    m_boundingBox.extents = Vec3(std::max(m_boundingBox.extents.x, r), std::max(m_boundingBox.extents.y, r),
                                 std::max(m_boundingBox.extents.z, r));
    box = m_boundingBox;
    m_cost = Platform::CycleCounter() - startCycles;
}

void Emitter::ExpireUndrawnParticles(const EmitterData& definition)
{
    if (m_liveCount == 0 || m_accumulatedTime < definition.GetFloat(EmitterData::FLOAT_LIFE))
        return;
    for (int i = 0; i < m_liveCount; ++i) {
        const Particle& p = m_particles[static_cast<size_t>(i)];
        if (p.age + m_accumulatedTime < p.life)
            return;
    }
    m_liveCount = 0;
}

void Emitter::Allocate(const EmitterData& definition)
{
    const double demand =
        static_cast<double>(definition.GetCurve(EmitterData::CURVE_EMISSION_RATE)->GetMaxY()) *
        static_cast<double>(definition.GetFloat(EmitterData::FLOAT_LIFE)) * 1.25;
    double wanted = std::isfinite(demand) ? demand : 0.0;
    wanted = std::max(wanted, static_cast<double>(m_liveCount));
    wanted = std::max(wanted, 10.0);
    if (wanted > static_cast<double>(maxParticles)) {
        if (!m_overCapacityLogged) {
            const unsigned int asked =
                wanted < 4294967295.0 ? static_cast<unsigned int>(wanted) : 4294967295u;
            LogPrintf(2, "Emitter has requested %u particles which is more than the maximum of %u.", asked,
                      static_cast<unsigned int>(maxParticles));
            m_overCapacityLogged = true;
        }
        wanted = maxParticles;
        m_liveCount = std::min(m_liveCount, maxParticles);
    } else {
        m_overCapacityLogged = false;
    }
    const int count = static_cast<int>(wanted);
    if (count > m_capacity || m_capacity > count + 200) {
        m_capacity = count + 100;
        m_particles.resize(static_cast<size_t>(m_capacity));
    }
}

void Emitter::UpdateLight(const EmitterData& definition, float step)
{
    const bool wantsLight = definition.GetBoolean(EmitterData::BOOL_LIGHT);
    if (wantsLight && !m_light)
        m_light = new EmitterLight;
    if (!m_light)
        return;
    EmitterLight* light = static_cast<EmitterLight*>(m_light);
    WorldCoords place = m_frame;
    WorldVec3 origin = m_position;
    origin.TranslateInRegion(m_spin.TransformVector(m_emissionOffset));
    place.SetOrigin(origin);
    light->SetPlace(place);
    if (!wantsLight) {
        light->Disable();
        return;
    }
    light->Enable();
    light->SetShadowCasting(definition.GetBoolean(EmitterData::BOOL_LIGHT_SHADOWS));
    m_lightLevel = std::min(m_lightLevel + step * 0.5f, 1.0f);
    light->SetColor(Color(CurveE(definition, EmitterData::CURVE_LIGHT_RED) * m_lightLevel,
                          CurveE(definition, EmitterData::CURVE_LIGHT_GREEN) * m_lightLevel,
                          CurveE(definition, EmitterData::CURVE_LIGHT_BLUE) * m_lightLevel, 1.0f));
    light->SetRadius(CurveE(definition, EmitterData::CURVE_LIGHT_RADIUS));
}

void Emitter::UpdateBoneList(const std::vector<EmitterBone>* bones)
{
    if (!bones) {
        m_bones.clear();
        return;
    }
    const size_t kept = std::min(m_bones.size(), bones->size());
    m_bones.resize(bones->size());
    for (size_t i = 0; i < bones->size(); ++i) {
        const EmitterBone& given = (*bones)[i];
        if (i < kept) {
            m_bones[i].end = given.end;
            m_bones[i].start = given.start;
            m_bones[i].lengthWeight = given.lengthWeight;
        } else {
            m_bones[i] = given;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Emission
// ---------------------------------------------------------------------------------------------

void Emitter::EmitParticles(const EmitterData& definition)
{
    if (m_stopped || (m_finished && !definition.GetLoop()))
        return;
    const float rate = CurveE(definition, EmitterData::CURVE_EMISSION_RATE);
    const bool anchoredEmission = m_anchored && !IsPSEditor() && !m_anchor1History.empty();
    if (anchoredEmission && !m_anchor2History.empty()) {
        const float distance = (m_anchor1History.back() - m_anchor2History.back()).Length();
        m_emissionAccumulator += rate * m_step * (std::isfinite(distance) ? std::max(distance, 0.1f) : 0.1f);
    } else if (anchoredEmission) {
        m_emissionAccumulator += rate * m_step * 0.1f;
    } else {
        m_emissionAccumulator += rate * m_step;
    }
    if (!std::isfinite(m_emissionAccumulator))
        m_emissionAccumulator = static_cast<float>(m_emittedCount);

    const double owed =
        std::trunc(static_cast<double>(m_emissionAccumulator)) - static_cast<double>(m_emittedCount);
    // Beyond the room the particles would not be made anyway.
    const int n = owed > 0.0 ? static_cast<int>(std::min(owed, 1000000.0)) : 0;

    const Vec3 axes[3] = {Vec3(1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(0.0f, 0.0f, 1.0f)};
    for (int i = 0; i < 3; ++i) {
        const CurveData* curve = definition.GetCurve(EmitterData::CURVE_SPIN_X + i);
        const float increment = (curve->GetYFast(m_emitterTime) - curve->GetRange() * 0.5f) * m_step;
        if (std::fabs(increment) > 0.0001f)
            m_spin = Coords::Rotation(axes[i], increment) * m_spin;
    }

    if (n <= 0)
        return;
    if (!m_bones.empty()) {
        EmitBoneParticles(n, definition);
        m_emittedCount += n;
        return;
    }
    const int room = m_capacity - m_liveCount;
    const int made = std::min(n, std::max(room, 0));
    for (int i = 0; i < made; ++i) {
        const float f = static_cast<float>(i) / static_cast<float>(n);
        if (anchoredEmission && !m_anchor2History.empty()) {
            EmitAnchoredParticle(PickAnchor(m_anchor1Points, m_anchor1Region, f),
                                 PickAnchor(m_anchor2Points, m_anchor2Region, f), definition);
        } else {
            const Coords spawn(m_frame.GetXAxis(), m_frame.GetYAxis(), m_frame.GetZAxis(),
                               m_displacement * f);
            EmitParticle(spawn, definition);
        }
    }
    m_emittedCount += n;
}

void Emitter::EmitParticle(const Coords& spawn, const EmitterData& definition)
{
    if (m_liveCount >= m_capacity)
        return;
    const float s = Finite(CurveE(definition, EmitterData::CURVE_SPREAD)) * kPi / 180.0f;
    const float elevation = s != 0.0f ? kPi * 0.5f + Uniform() * s - s * 0.5f : kPi * 0.5f;
    const float azimuth = Uniform() * 2.0f * kPi - s * 0.5f;
    Vec3 direction(std::cos(azimuth) * std::cos(elevation), std::sin(elevation),
                   std::sin(azimuth) * std::cos(elevation));
    if (definition.GetBoolean(EmitterData::BOOL_FLAT))
        direction.y = 0.0f;
    const float length = direction.Length();
    Vec3 velocity =
        length > 0.0f ? direction * (CurveE(definition, EmitterData::CURVE_SPEED) / length) : Vec3();

    Vec3 offset = m_emissionOffset;
    const float r = std::max(Finite(CurveE(definition, EmitterData::CURVE_EMISSION_SIZE)), 0.01f);
    if (m_anchored) {
        offset.z = 0.0f;
    } else {
        switch (definition.GetInteger(EmitterData::INT_SHAPE)) {
        case EmitterData::SHAPE_BALL:
            offset += RandomPointInBall(r, false);
            break;
        case EmitterData::SHAPE_DISC:
            offset += RandomPointInBall(r, true);
            break;
        case EmitterData::SHAPE_RING: {
            const float angle = Uniform() * 2.0f * kPi;
            offset.x += std::cos(angle) * r;
            offset.z += std::sin(angle) * r;
            break;
        }
        case EmitterData::SHAPE_LINE:
            offset.y += Uniform() * r;
            break;
        case EmitterData::SHAPE_SPHERE: {
            const Vec3 p = RandomPointInBall(r, false);
            const float l = p.Length();
            if (l != 0.0f)
                offset += p * (r / l);
            break;
        }
        default:
            break;
        }
    }

    velocity = spawn.TransformVector(m_spin.TransformVector(velocity));
    if (velocity.x == 0.0f && velocity.y == 0.0f && velocity.z == 0.0f)
        velocity = Vec3(0.001f, 0.001f, 0.001f);
    const Vec3 position = spawn.TransformPoint(m_spin.TransformVector(offset));
    const Vec3 center = spawn.TransformPoint(m_spin.TransformVector(m_emissionOffset));
    StartParticle(position, velocity, center, definition.GetFloat(EmitterData::FLOAT_LIFE), definition);
}

void Emitter::EmitAnchoredParticle(WorldVec3 a, WorldVec3 b, const EmitterData& definition)
{
    Region* region = m_position.GetRegion();
    a.MakeRelative(region);
    b.MakeRelative(region);
    Vec3 start = a.GetRegionPosition();
    Vec3 end = b.GetRegionPosition();
    if (start == end)
        end.z += 0.01f;
    if (m_liveCount >= m_capacity || !IsFiniteVec(start) || !IsFiniteVec(end))
        return;
    const Vec3 along = end - start;
    const float length = along.Length();
    const Vec3 position = length > 0.0f ? start + along * (RandomDistance(length) / length) : start;
    const Vec3 velocity = RandomVelocity(CurveE(definition, EmitterData::CURVE_SPEED));
    StartParticle(position, velocity, m_emissionOffset, definition.GetFloat(EmitterData::FLOAT_LIFE),
                  definition);
}

void Emitter::EmitBoneParticles(int count, const EmitterData& definition)
{
    m_local = true;
    for (EmitterBone& bone : m_bones) {
        bone.shouldHaveEmitted += static_cast<float>(count) * Finite(bone.lengthWeight);
        if (!std::isfinite(bone.shouldHaveEmitted))
            bone.shouldHaveEmitted = static_cast<float>(bone.emitted);
    }
    const float speed = CurveE(definition, EmitterData::CURVE_SPEED);
    for (EmitterBone& bone : m_bones) {
        const double owed =
            std::trunc(static_cast<double>(bone.shouldHaveEmitted) - static_cast<double>(bone.emitted));
        const int m = owed > 0.0 ? static_cast<int>(std::min(owed, 1000000.0)) : 0;
        if (!bone.emitting) {
            bone.emitted += m;
            continue;
        }
        const Vec3 along = bone.end - bone.start;
        const float length = along.Length();
        for (int i = 0; i < m && m_liveCount < m_capacity; ++i) {
            const float d = RandomDistance(Finite(bone.lengthWeight));
            // A bone of no length emits from its start.
            const Vec3 position = length > 0.0f ? bone.start + along * (d / length) : bone.start;
            StartParticle(position, RandomVelocity(speed), m_emissionOffset,
                          definition.GetFloat(EmitterData::FLOAT_LIFE), definition);
            ++bone.emitted;
        }
    }
}

void Emitter::StartParticle(const Vec3& position, const Vec3& velocity, const Vec3& center, float life,
                            const EmitterData& definition)
{
    if (m_liveCount >= m_capacity)
        return;
    Particle& p = m_particles[static_cast<size_t>(m_liveCount)];
    p = Particle();
    p.life = std::isfinite(life) ? std::max(life, 0.0f) : 0.0f;
    p.age = 0.0f;
    p.rotation = 1.0f;
    p.position = position;
    p.velocity = velocity;
    if (definition.GetBoolean(EmitterData::BOOL_IMPLODE)) {
        const float speed = velocity.Length();
        const Vec3 toCenter = center - position;
        const float distance = toCenter.Length();
        if (distance != 0.0f) {
            p.velocity = toCenter * (speed / distance);
            if (speed > 0.0f)
                p.life = std::min(p.life, distance / speed);
        } else {
            p.velocity = Vec3();
            p.life = 0.0f;
        }
    }
    if (definition.GetBoolean(EmitterData::BOOL_RANDOM_ROTATION))
        p.rotation = static_cast<float>(Rand() % 360);
    ++m_liveCount;
}

// ---------------------------------------------------------------------------------------------
// Simulation
// ---------------------------------------------------------------------------------------------

void Emitter::UpdateParticles(const EmitterData& definition)
{
    if (!m_texture)
        return;
    const bool implode = definition.GetBoolean(EmitterData::BOOL_IMPLODE);
    const float t = m_accumulatedTime;
    const float g = implode ? 0.0f : m_step;
    const float k = implode ? 0.0f : 1.0f;
    const bool still = definition.GetBoolean(EmitterData::BOOL_MOVE_WITH_EMITTER) || m_local;
    const Vec3 shift = still ? Vec3() : -m_displacement;
    const unsigned int frames = GetTextureFrames();
    const int rate = definition.GetInteger(EmitterData::INT_FRAME_RATE);

    const CurveData& opacity = *definition.GetCurve(EmitterData::CURVE_OPACITY);
    const CurveData& red = *definition.GetCurve(EmitterData::CURVE_RED);
    const CurveData& green = *definition.GetCurve(EmitterData::CURVE_GREEN);
    const CurveData& blue = *definition.GetCurve(EmitterData::CURVE_BLUE);
    const CurveData& rotation = *definition.GetCurve(EmitterData::CURVE_ROTATION_SPEED);
    const CurveData& size = *definition.GetCurve(EmitterData::CURVE_SIZE);
    const CurveData& gravity = *definition.GetCurve(EmitterData::CURVE_GRAVITY);
    const CurveData& stretch = *definition.GetCurve(EmitterData::CURVE_STRETCH);
    const CurveData& drag = *definition.GetCurve(EmitterData::CURVE_DRAG);
    const float rotationCentre = rotation.GetRange() * 0.5f;
    const float gravityCentre = gravity.GetRange() * 0.5f;

    Vec3 lo;
    Vec3 hi;
    bool first = true;
    int i = 0;
    while (i < m_liveCount) {
        Particle& p = m_particles[static_cast<size_t>(i)];
        p.age += t;
        if (!(p.age < p.life)) {
            if (i != m_liveCount - 1)
                p = m_particles[static_cast<size_t>(m_liveCount - 1)];
            --m_liveCount;
            continue;
        }
        const float age = p.age;
        p.size = size.GetYFast(age);
        p.stretch = stretch.GetYFast(age);
        p.position += p.velocity * t + shift;
        p.rotation += (rotation.GetYFast(age) - rotationCentre) * t;
        p.velocity.y -= (gravity.GetYFast(age) - gravityCentre) * g;
        p.velocity *= 1.0f - drag.GetYFast(age) * k;
        p.color[0] = red.GetYFast(age);
        p.color[1] = green.GetYFast(age);
        p.color[2] = blue.GetYFast(age);
        p.color[3] = opacity.GetYFast(age);
        uint32_t frame = 0;
        if (frames > 0) {
            double f = rate != 0 ? std::trunc(static_cast<double>(rate) * age)
                                 : std::trunc(static_cast<double>(age) / p.life * frames);
            if (!std::isfinite(f))
                f = 0.0;
            f = std::fmod(f, static_cast<double>(frames));
            if (f < 0.0)
                f += frames;
            frame = static_cast<uint32_t>(f);
        }
        p.frame = frame;
        if (first) {
            lo = hi = p.position;
            first = false;
        } else {
            lo = Vec3::Min(lo, p.position);
            hi = Vec3::Max(hi, p.position);
        }
        ++i;
    }
    if (!first) {
        const float m = size.GetMaxY();
        lo -= Vec3(m, m, m);
        hi += Vec3(m, m, m);
        m_boundingBox = ABBox((lo + hi) * 0.5f, (hi - lo) * 0.5f);
    }
}

void Emitter::DrawDebugLines(const EmitterData& definition)
{
    DebugRenderManager* debug = DebugRenderManager::Get();
    Region* region = m_editorRegion ? m_editorRegion : m_frame.GetRegion();
    const Vec3 origin = m_frame.GetOrigin().GetRegionPosition();
    const Vec3 centre = origin + m_frame.TransformVector(m_spin.TransformVector(m_emissionOffset));
    const float r = std::max(Finite(CurveE(definition, EmitterData::CURVE_EMISSION_SIZE)), 0.01f);
    const Color color(1.0f, 1.0f, 0.0f, 1.0f);
    debug->RenderSphere(region, Sphere(centre, r), color);
    const Vec3 up = m_frame.TransformVector(m_spin.TransformVector(Vec3(0.0f, 1.0f, 0.0f)));
    const float speed = std::max(Finite(CurveE(definition, EmitterData::CURVE_SPEED)), 1.0f);
    const float spread = Finite(CurveE(definition, EmitterData::CURVE_SPREAD)) * kPi / 180.0f;
    debug->RenderCone(region, centre, up * speed, spread * 0.5f, color);
}

// ---------------------------------------------------------------------------------------------
// Rendering
// ---------------------------------------------------------------------------------------------

int Emitter::GetNumRenderPasses(const Name& style, RenderGenerationId) const
{
    if (!m_shader)
        return 0;
    return EmitterGraphics::Get()->FindStyleByName(m_shader, style) >= 0 ? 1 : 0;
}

ABBox Emitter::GetRenderPassBoundingBox() const
{
    ABBox box = m_boundingBox;
    if (!m_local)
        box.center += m_position.GetRegionPosition();
    return box;
}

int Emitter::GetRenderPassSortOrder(int, const Name& style, RenderGenerationId) const
{
    if (!m_shader)
        return 0;
    EmitterGraphics* graphics = EmitterGraphics::Get();
    const int index = graphics->FindStyleByName(m_shader, style);
    return index >= 0 ? graphics->GetSortOrder(m_shader, index) : 0;
}

const GraphicsShader2* Emitter::GetShader2(int, const Name&) const
{
    return m_shader;
}

const Name& Emitter::GetShaderStyle(int, const Name& style, RenderGenerationId) const
{
    return style;
}

const GraphicsTexture* Emitter::GetTexture(int, const Name&) const
{
    return m_texture;
}

int Emitter::GetFaceGroupCount(int frame) const
{
    return frame >= 0 && frame < GetNumFaceGroups()
               ? static_cast<int>(m_faceGroups[static_cast<size_t>(frame)].size())
               : 0;
}

bool Emitter::BuildGeometry(const Vec3& regionOffset, unsigned int frameCount)
{
    const size_t groups = std::max(std::min(frameCount, kMaxFrames), 1u);
    if (m_faceGroups.size() != groups)
        m_faceGroups.assign(groups, std::vector<uint32_t>());
    for (std::vector<uint32_t>& group : m_faceGroups) {
        group.clear();
        group.reserve(static_cast<size_t>(m_capacity));
    }
    const size_t live = static_cast<size_t>(m_liveCount);
    m_vertices.resize(live * 4);
    bool invalidFrameLogged = false;
    static const float corners[4][2] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};
    for (size_t i = 0; i < live; ++i) {
        const Particle& p = m_particles[i];
        uint32_t frame = p.frame;
        if (frame >= groups) {
            if (!invalidFrameLogged) {
                LogPrintf(1, "Particle using invalid frame %u of %u frames.", frame, frameCount);
                invalidFrameLogged = true;
            }
            frame = 0;
        }
        m_faceGroups[frame].push_back(static_cast<uint32_t>(i));
        const bool dying = !(p.age + m_accumulatedTime < p.life);
        const float speed = p.stretch > 0.01f ? p.velocity.Length() : 0.0f;
        const Vec3 axis = m_alignWithVelocity ? p.velocity : Vec3(0.0f, 1.0f, 0.0f);
        for (int c = 0; c < 4; ++c) {
            EmitterVertex& v = m_vertices[i * 4 + static_cast<size_t>(c)];
            v.position = p.position + regionOffset;
            v.corner[0] = corners[c][0];
            v.corner[1] = corners[c][1];
            v.axisStretch[0] = axis.x;
            v.axisStretch[1] = axis.y;
            v.axisStretch[2] = axis.z;
            v.axisStretch[3] = p.stretch;
            v.rotationSize[0] = m_alignWithVelocity ? 0.0f : p.rotation * kPi / 180.0f;
            v.rotationSize[1] = p.size;
            v.rotationSize[2] = speed;
            v.rotationSize[3] = 0.0f;
            for (int k = 0; k < 4; ++k)
                v.color[k] = dying ? 0.0f : p.color[k];
        }
    }
    size_t grouped = 0;
    for (const std::vector<uint32_t>& group : m_faceGroups)
        grouped += group.size();
    m_indices.clear();
    if (grouped != live)
        return false;
    m_indices.reserve(live * 6);
    for (const std::vector<uint32_t>& group : m_faceGroups) {
        for (uint32_t particle : group) {
            const uint32_t v = particle * 4;
            const uint32_t quad[6] = {v + 2, v + 1, v, v, v + 3, v + 2};
            m_indices.insert(m_indices.end(), quad, quad + 6);
        }
    }
    return true;
}

void Emitter::RenderPass(const RenderablePass& pass, const Name&, GraphicsCanvas& canvas,
                         const GraphicsSceneRenderer& renderer)
{
    if (!m_shader || !m_texture)
        return;
    m_drawn = true;
    if (m_liveCount == 0)
        return;
    const Vec3 regionOffset =
        m_local ? Vec3() : pass.regionToScene.TransformPoint(m_position.GetRegionPosition());
    if (!BuildGeometry(regionOffset, GetTextureFrames()))
        return;

    RenderDynamicVertexBuffer* vertexBuffer = canvas.GetDynamicVertexBuffer();
    RenderDynamicIndexBuffer* indexBuffer = canvas.GetDynamicIndexBuffer();
    RenderDevice* device = canvas.GetRenderDevice();
    if (!vertexBuffer || !indexBuffer || !device)
        return;
    const unsigned int vertexBytes = static_cast<unsigned int>(m_vertices.size() * sizeof(EmitterVertex));
    void* vertices = vertexBuffer->Lock(vertexBytes);
    if (!vertices)
        return;
    std::memcpy(vertices, m_vertices.data(), vertexBytes);
    vertexBuffer->Unlock();
    const unsigned int indexCount = static_cast<unsigned int>(m_indices.size());
    uint32_t* indices = indexBuffer->Lock(indexCount);
    if (!indices)
        return;
    std::memcpy(indices, m_indices.data(), indexCount * sizeof(uint32_t));
    indexBuffer->Unlock();

    vertexBuffer->SetAsStream(0, sizeof(EmitterVertex));
    indexBuffer->SetAsIndices();
    device->SetVertexDeclaration(m_declaration);
    const RenderDrawRange all =
        indexBuffer->GetDrawRange(indexCount, static_cast<unsigned int>(m_liveCount) * 2, 0, 0);
    EmitterGraphics* graphics = EmitterGraphics::Get();
    // Vertices of a local emitter are in its region's space; the others were carried into scene
    // space above.
    const Mat4& worldToScreen = renderer.GetWorldToScreenMatrix();
    const Mat4 objectToScreen = m_local ? worldToScreen * Mat4(pass.regionToScene) : worldToScreen;
    uint32_t firstIndex = 0;
    for (size_t frame = 0; frame < m_faceGroups.size(); ++frame) {
        const uint32_t count = static_cast<uint32_t>(m_faceGroups[frame].size());
        if (count == 0)
            continue;
        graphics->ApplyPass(m_shader, m_texture, static_cast<unsigned int>(frame), objectToScreen);
        RenderDrawRange range = all;
        range.numVertices = static_cast<uint32_t>(m_vertices.size());
        range.startIndex = all.startIndex + firstIndex;
        range.primitiveCount = count * 2;
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
        firstIndex += count * 6;
    }
}

// ---------------------------------------------------------------------------------------------
// Scene and queries
// ---------------------------------------------------------------------------------------------

void Emitter::PrepareLightForScene()
{
    if (!m_light)
        return;
    float intensity = m_lightMultiplier;
    const bool editor = WorldServices::EditorMode() || IsPSEditor();
    if (m_nightLight && !editor) {
        const AmbianceManager* ambiance = gEngine ? gEngine->GetAmbianceManager() : nullptr;
        if (ambiance)
            intensity *= ambiance->GetNightLightScale();
    }
    m_light->SetIntensity(intensity);
}

void Emitter::AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    if (!renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_EFFECTS))
        return;
    if (m_enabled) {
        Region* region = IsPSEditor() ? m_editorRegion : (m_parent ? m_parent->GetRegion() : nullptr);
        if (region)
            renderer.AddRenderable(this, region);
    }
    PrepareLightForScene();
    if (m_light)
        m_light->AddToScene(renderer, frustum);
}

float Emitter::GetProgress(const EmitterData* definition) const
{
    if (!definition || definition->GetLoop())
        return 0.0f;
    const float domain = definition->GetCurve(EmitterData::CURVE_EMISSION_RATE)->GetDomain();
    return domain > 0.0f ? m_emitterTime / domain : 1.0f;
}

float Emitter::GetFrameScore()
{
    m_frameScore = (static_cast<float>(m_cost / 1000) * 0.01f - m_frameScore) * 0.1f;
    return m_frameScore;
}

void Emitter::LogInfo() const
{
    const ABBox box = m_boundingBox;
    LogPrintf(0, "Emitter:");
    LogPrintf(0, "   bounds origin: (%f, %f, %f)", box.center.x, box.center.y, box.center.z);
    LogPrintf(0, "   bounds extents: (%f, %f, %f)", box.extents.x, box.extents.y, box.extents.z);
    LogPrintf(0, "   offset: (%f, %f, %f)", m_emissionOffset.x, m_emissionOffset.y, m_emissionOffset.z);
    LogPrintf(0, "   numParticles: %u", static_cast<unsigned int>(m_liveCount));
    LogPrintf(0, "   parent: %p", static_cast<const void*>(m_parent));
    LogPrintf(0, "   light: %p", static_cast<const void*>(m_light));
    if (Region* region = m_frame.GetRegion())
        LogPrintf(0, "   region: %s(%u)", region->GetName().c_str(), region->GetId().GetWord(0));
    else
        LogPrintf(0, "   region: NULL");
    const Vec3 c = m_frame.GetOrigin().GetRegionPosition();
    LogPrintf(0, "   coords position: (%f, %f, %f)", c.x, c.y, c.z);
    const Vec3 p = m_position.GetRegionPosition();
    LogPrintf(0, "   location: [%p](%f, %f, %f)", static_cast<const void*>(m_position.GetRegion()), p.x, p.y,
              p.z);
    const Vec3 q = m_previousPosition.GetRegionPosition();
    LogPrintf(0, "   old location: [%p](%f, %f, %f)",
              static_cast<const void*>(m_previousPosition.GetRegion()), q.x, q.y, q.z);
}

} // namespace GAME
