#include "scene/GraphicsAnim.h"

#include "core/Log.h"
#include "core/NumberParsing.h"
#include "data/BaseResourceManager.h"
#include "data/BasicTextParser.h"
#include "data/BinaryReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

constexpr unsigned version1NameSize = 32;
constexpr unsigned version1FrameSize = 28;
constexpr unsigned version2FrameSize = 56;
// Frames beyond this are sampled as this one: far past any animation, and the index stays exact.
constexpr double maxSampleFrame = 1.0e9;
// The largest magnitude a key frame's number may have: far beyond any skeleton, and small enough
// that a looping track, moved on by a cycle's translation for each of up to maxSampleFrame cycles,
// and the interpolations stay finite.
constexpr float maxKeyValue = 1.0e6f;

bool Usable(float value)
{
    return value >= -maxKeyValue && value <= maxKeyValue; // false for not-a-number too
}

bool Usable(const SkeletalPose::AffineParts& frame)
{
    for (float value : {frame.t.x, frame.t.y, frame.t.z, frame.q.x, frame.q.y, frame.q.z, frame.q.w, frame.k.x,
                        frame.k.y, frame.k.z, frame.u.x, frame.u.y, frame.u.z, frame.u.w})
        if (!Usable(value))
            return false;
    return true;
}

Quat ReadConjugate(BinaryReader& reader)
{
    Quat q;
    q.x = -reader.ReadFloat();
    q.y = -reader.ReadFloat();
    q.z = -reader.ReadFloat();
    q.w = reader.ReadFloat();
    return q;
}

// A string value: the token with its double quotes removed.
std::string Unquote(const std::string& token)
{
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"')
        return token.substr(1, token.size() - 2);
    if (!token.empty() && token.front() == '"')
        return token.substr(1);
    return token;
}

} // namespace

// ---- Bone tracks ---------------------------------------------------------------------------------

bool GraphicsAnim::BoneTrack::Read(BinaryReader& reader, int version, uint32_t frameCount)
{
    m_frames.reset();
    m_numFrames = 0;
    if (version == 1) {
        char name[version1NameSize];
        reader.ReadBytes(name, version1NameSize);
        size_t length = 0;
        while (length < version1NameSize && name[length] != '\0')
            ++length;
        m_nameText.assign(name, length);
    } else if (!reader.ReadString(m_nameText)) {
        return false;
    }
    m_name = Name::Create(m_nameText.c_str());
    const unsigned frameSize = version == 1 ? version1FrameSize : version2FrameSize;
    if (reader.Failed() || !reader.CheckCount(frameCount, frameSize, "key frames") || frameCount > INT32_MAX)
        return false;
    m_frames.reset(new SkeletalPose::AffineParts[frameCount]);
    m_numFrames = static_cast<int32_t>(frameCount);
    for (uint32_t i = 0; i < frameCount; ++i) {
        SkeletalPose::AffineParts& frame = m_frames[i];
        frame.t = reader.ReadVec3();
        frame.q = ReadConjugate(reader);
        if (version == 1) {
            frame.k = Vec3(1.0f, 1.0f, 1.0f);
            frame.u = Quat();
        } else {
            frame.k = reader.ReadVec3();
            frame.u = ReadConjugate(reader);
        }
        if (!reader.Failed() && !Usable(frame)) {
            LogPrintf(1, "Animation bone '%s': key frame %u holds a value that is not a number or beyond %g",
                      m_nameText.c_str(), i, static_cast<double>(maxKeyValue));
            return false;
        }
    }
    return !reader.Failed();
}

Vec3 GraphicsAnim::BoneTrack::GetTotalTranslation() const
{
    if (m_numFrames == 0)
        return Vec3();
    return m_frames[m_numFrames - 1].t - m_frames[0].t;
}

SkeletalPose::AffineParts GraphicsAnim::BoneTrack::Sample(float frame, bool loop) const
{
    using Parts = SkeletalPose::AffineParts;
    const int64_t count = m_numFrames;
    if (count == 0 || !(frame >= 0.0f))
        return Parts::Identity();
    const double f = std::min(static_cast<double>(frame), maxSampleFrame);
    int64_t i0 = static_cast<int64_t>(std::floor(f));
    int64_t i1 = static_cast<int64_t>(std::ceil(f));
    const float s = static_cast<float>(f - static_cast<double>(i0));

    if (!loop) {
        if (i0 >= count)
            return m_frames[count - 1];
        if (i1 >= count)
            i1 = count - 1;
        const Parts& a = m_frames[i0];
        const Parts& b = m_frames[i1];
        Parts result;
        result.t = a.t * (1.0f - s) + b.t * s;
        result.q = SkeletalPose::Slerp(a.q, b.q, s);
        result.k = a.k * (1.0f - s) + b.k * s;
        result.u = SkeletalPose::Slerp(a.u, b.u, s);
        return result;
    }

    const int64_t cycle = count - 1;
    if (cycle == 0)
        return m_frames[0];
    const Vec3 perCycle = m_frames[cycle].t - m_frames[0].t;
    auto locate = [&](int64_t i, int64_t& j, Vec3& translation) {
        if (i < cycle) {
            j = i;
            translation = m_frames[i].t;
            return;
        }
        const int64_t n = i / cycle;
        j = i - n * cycle;
        translation = m_frames[j].t + perCycle * static_cast<float>(n);
    };
    int64_t j0 = 0, j1 = 0;
    Vec3 t0, t1;
    locate(i0, j0, t0);
    locate(i1, j1, t1);
    const Parts& a = m_frames[j0];
    const Parts& b = m_frames[j1];
    Parts result;
    result.t = t0 * (1.0f - s) + t1 * s;
    result.q = SkeletalPose::Slerp(a.q, b.q, s);
    result.k = a.k * (1.0f - s) + b.k * s;
    result.u = SkeletalPose::Slerp(a.u, b.u, s);
    return result;
}

// ---- The animation -------------------------------------------------------------------------------

GraphicsAnim::GraphicsAnim(BaseResourceManager* manager, const std::string& fileName)
    : Resource(manager, fileName)
{
}

GraphicsAnim::~GraphicsAnim()
{
    Destroy();
}

void GraphicsAnim::Touch() const
{
    const_cast<GraphicsAnim*>(this)->EnsureAvailable();
}

void GraphicsAnim::Clear()
{
    m_tracks.clear();
    m_numFrames = 0;
    m_frameRate = 0;
    m_callbackPoints.clear();
    m_createEntities.clear();
}

void GraphicsAnim::Destroy()
{
    if (m_memorySize > 0 && GetResourceManager())
        GetResourceManager()->DecrementMemoryUsage(m_memorySize);
    m_memorySize = 0;
    Clear();
}

Resource::InitResult GraphicsAnim::Initialize(const void* data, int size)
{
    Destroy();
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    const unsigned total = bytes && size > 0 ? static_cast<unsigned>(size) : 0u;
    int version = 1;
    const uint8_t* body = bytes;
    unsigned bodySize = total;
    if (total >= 3 && std::memcmp(bytes, "ANM", 3) == 0) {
        if (total < 4 || bytes[3] != 2) {
            LogPrintf(1, "Animation '%s' has a header of another version", GetFileName());
            return INIT_INVALID_DATA;
        }
        version = 2;
        body = bytes + 4;
        bodySize = total - 4;
    }
    if (!LoadANMData(body, static_cast<int>(bodySize), version)) {
        LogPrintf(1, "Animation '%s' holds bad data", GetFileName());
        Clear();
        return INIT_INVALID_DATA;
    }
    m_memorySize = total;
    if (GetResourceManager())
        GetResourceManager()->IncrementMemoryUsage(m_memorySize);
    return INIT_SUCCESS;
}

bool GraphicsAnim::LoadANMData(const void* data, int size, int version)
{
    Clear();
    BinaryReader reader(data, data && size > 0 ? static_cast<unsigned>(size) : 0u);
    const uint32_t boneCount = reader.ReadUInt32();
    m_numFrames = reader.ReadUInt32();
    m_frameRate = reader.ReadInt32();
    // Each track takes at least its name's bytes.
    if (reader.Failed() || !reader.CheckCount(boneCount, version == 1 ? version1NameSize : 4, "bone tracks"))
        return false;
    m_tracks.reserve(boneCount);
    for (uint32_t i = 0; i < boneCount; ++i) {
        std::unique_ptr<BoneTrack> track(new BoneTrack);
        if (!track->Read(reader, version, m_numFrames))
            return false;
        m_tracks.push_back(std::move(track));
    }
    if (reader.AtEnd())
        return true;
    return ReadText(reinterpret_cast<const char*>(reader.GetCursor()), reader.GetRemaining());
}

bool GraphicsAnim::ReadText(const char* text, size_t length)
{
    enum class Block
    {
        None,
        Callback,
        Create,
        RagDoll
    };
    TextParser parser(text, length);
    while (!parser.AtEnd()) {
        const std::string keyword = parser.ReadToken();
        Block block = Block::None;
        if (keyword == "CallbackPoint")
            block = Block::Callback;
        else if (keyword == "CreateEntity")
            block = Block::Create;
        else if (keyword == "RagDollData")
            block = Block::RagDoll;
        if (block == Block::None)
            continue;
        if (parser.ReadToken() != "{")
            return false;

        CallbackPoint callback;
        bool named = false;
        CreateEntity create;
        while (!parser.AtEnd()) {
            const std::string key = parser.ReadToken();
            if (key == "}")
                break;
            if (parser.ReadToken() != "=")
                return false;
            auto stringValue = [&] { return Unquote(parser.ReadToken()); };
            auto intValue = [&] { return AtoI(parser.ReadToken().c_str()); };
            auto check = [&](const std::string& value, const char* a, const char* b, const char* what) {
                if (value != a && value != b)
                    LogPrintf(2, "animation - %s - illegal %s - %s", GetFileName(), what, value.c_str());
            };
            switch (block) {
            case Block::Callback:
                if (key == "name") {
                    callback.nameText = stringValue();
                    named = true;
                } else if (key == "frame") {
                    callback.frame = intValue();
                }
                break;
            case Block::Create:
                if (key == "frame")
                    create.frame = intValue();
                else if (key == "entity")
                    create.entity = stringValue();
                else if (key == "attach")
                    create.attach = stringValue();
                break;
            case Block::RagDoll:
                if (key == "effectType") {
                    m_ragDollEffectType = stringValue();
                } else if (key == "direction") {
                    m_ragDollDirection = stringValue();
                    check(m_ragDollDirection, "Push", "Pull", "ragDollDirection");
                } else if (key == "elevation") {
                    m_ragDollElevation = stringValue();
                    check(m_ragDollElevation, "Upward", "Downward", "ragDollElevation");
                } else if (key == "push") {
                    m_ragDollPush = stringValue();
                    check(m_ragDollPush, "Left", "Right", "ragDollPush");
                }
                break;
            case Block::None:
                break;
            }
        }
        if (block == Block::Callback && named) {
            callback.name = Name::Create(callback.nameText.c_str());
            m_callbackPoints.push_back(std::move(callback));
        } else if (block == Block::Create && create.frame != -1) {
            m_createEntities.push_back(std::move(create));
        }
    }
    return true;
}

unsigned GraphicsAnim::GetLength() const
{
    Touch();
    return m_numFrames;
}

int GraphicsAnim::GetFrameRate() const
{
    Touch();
    return m_frameRate;
}

float GraphicsAnim::GetAnimSpeed() const
{
    Touch();
    return m_frameRate == 0 ? 0.0f : static_cast<float>(m_numFrames) / static_cast<float>(m_frameRate);
}

unsigned GraphicsAnim::GetNumBones() const
{
    Touch();
    return static_cast<unsigned>(m_tracks.size());
}

const std::string& GraphicsAnim::GetBoneName(unsigned index) const
{
    Touch();
    return m_tracks[index]->GetNameText();
}

const GraphicsAnim::BoneTrack& GraphicsAnim::GetBoneTrack(unsigned index) const
{
    Touch();
    return *m_tracks[index];
}

unsigned GraphicsAnim::GetNumCallbackPoints() const
{
    Touch();
    return static_cast<unsigned>(m_callbackPoints.size());
}

const GraphicsAnim::CallbackPoint& GraphicsAnim::GetCallbackPoint(unsigned index) const
{
    Touch();
    return m_callbackPoints[index];
}

unsigned GraphicsAnim::GetNumCreateEntity() const
{
    Touch();
    return static_cast<unsigned>(m_createEntities.size());
}

const GraphicsAnim::CreateEntity& GraphicsAnim::GetCreateEntity(unsigned index) const
{
    Touch();
    return m_createEntities[index];
}

void GraphicsAnim::GetFramePose(SkeletalPose& pose, float frame, bool loop) const
{
    Touch();
    for (const auto& track : m_tracks)
        pose.SetBone(track->GetName(), track->Sample(frame, loop));
}

void GraphicsAnim::GetPose(SkeletalPose& pose, float timeMs, bool loop) const
{
    Touch();
    GetFramePose(pose, static_cast<float>(m_frameRate) * (timeMs * 0.001f), loop);
}

void GraphicsAnim::GetPose(SkeletalPose& pose, float timeMs, bool loop, const Name& bone) const
{
    Touch();
    const float frame = static_cast<float>(m_frameRate) * (timeMs * 0.001f);
    for (const auto& track : m_tracks)
        if (track->GetName() == bone)
            pose.SetBone(bone, track->Sample(frame, loop));
}

} // namespace GAME
