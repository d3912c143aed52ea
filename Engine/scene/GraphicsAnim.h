// A skeletal animation loaded from an animation file: one track of key frames per bone, sampled into
// a SkeletalPose at a time or a fractional frame, plus what the file's text part declares: callback
// points (named frames the playing entity is told about), create-entity points (entity records
// created and attached at a frame) and four rag-doll strings the host reads. A Resource: the
// graphics engine's animation manager makes it by file name, the resource loader calls Initialize
// with the file's bytes, the per-frame sweep calls Destroy. Owns its tracks.
//
// File layout (little-endian): an optional header "ANM" and a version byte, which must be 2;
// without it the whole file is version 1. Then u32 bone count B, u32 frame count F, u32 frame rate,
// and B tracks: the bone's name (version 1: 32 bytes holding a zero-terminated text; version 2: a
// u32 length and the text) followed by F key frames (version 1: translation and rotation x, y, z,
// w, 7 floats; version 2: translation, rotation, scale and stretch rotation, 14 floats). The
// rotations are stored conjugated (the reader negates x, y and z). Every byte after the tracks is
// the text part: blocks "CallbackPoint { name = <text> frame = <int> }", "CreateEntity { frame =
// <int> entity = <record> attach = <point> }" and "RagDollData { effectType = ... direction = Push|Pull
// elevation = Upward|Downward push = Left|Right }"; any other token outside a block is skipped.
//
// The binary part is read within the data: counts are checked against the bytes before anything is
// allocated, and a name or key frame past the end refuses the file, as does a key frame holding a
// value that is not a number or beyond a million (its poses would not be numbers either).
//
// Threads: Initialize and Destroy run under the resource's lock; the getters and the sampling run on
// the main thread and load the animation first when it is not loaded (the rag-doll getters do not).
// A loaded animation is read-only, so any number of channels sample it at once.
#pragma once

#include "core/Name.h"
#include "data/Resource.h"
#include "scene/SkeletalPose.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class BaseResourceManager;
class BinaryReader;

class GraphicsAnim : public Resource
{
public:
    class BoneTrack
    {
    public:
        BoneTrack() = default;
        virtual ~BoneTrack() = default;
        BoneTrack(const BoneTrack&) = delete;
        BoneTrack& operator=(const BoneTrack&) = delete;

        // Reads the name and frameCount key frames in the form of the version (1 or 2), dropping
        // any key frames held before; false when the reader runs out.
        bool Read(BinaryReader& reader, int version, uint32_t frameCount);

        const Name& GetName() const { return m_name; }
        const std::string& GetNameText() const { return m_nameText; }
        int32_t GetNumFrames() const { return m_numFrames; }
        const SkeletalPose::AffineParts& GetFrame(int32_t index) const { return m_frames[index]; }
        // The last key frame's translation minus the first's (zero without key frames).
        Vec3 GetTotalTranslation() const;

        // The track at a fractional frame. Negative (or not a number), or a track without key
        // frames: identity parts. Without looping, the last key frame from F - 1 on. With looping
        // one cycle is F - 1 frames (the last key frame stands for the next cycle's first) and the
        // translation moves on by one cycle's translation per cycle; a single key frame is that
        // frame.
        SkeletalPose::AffineParts Sample(float frame, bool loop) const;

    private:
        Name m_name;
        std::string m_nameText;
        int32_t m_numFrames = 0;
        std::unique_ptr<SkeletalPose::AffineParts[]> m_frames;
    };

    struct CallbackPoint
    {
        Name name;
        std::string nameText;
        int32_t frame = 0;
    };

    struct CreateEntity
    {
        int32_t frame = -1;
        std::string entity; // database record of the entity to create
        std::string attach; // attach point on the playing entity
    };

    GraphicsAnim(BaseResourceManager* manager, const std::string& fileName);
    ~GraphicsAnim() override;

    // 0 loaded; 4 bad data (a header with another version, a binary part past the data, a text
    // part that breaks its syntax), nothing kept.
    InitResult Initialize(const void* data, int size) override;
    // The binary and text parts of the data after any header; false on bad data.
    bool LoadANMData(const void* data, int size, int version);
    // Frees the tracks and points and gives the memory count back; the rag-doll strings stay.
    void Destroy() override;

    unsigned GetLength() const;
    int GetFrameRate() const;
    // The length in seconds (frame count over frame rate); 0 for a frame rate of 0.
    float GetAnimSpeed() const;
    unsigned GetNumBones() const;
    const std::string& GetBoneName(unsigned index) const;
    const BoneTrack& GetBoneTrack(unsigned index) const;
    unsigned GetNumCallbackPoints() const;
    const CallbackPoint& GetCallbackPoint(unsigned index) const;
    unsigned GetNumCreateEntity() const;
    const CreateEntity& GetCreateEntity(unsigned index) const;
    const std::string& GetRagDollEffectType() const { return m_ragDollEffectType; }
    const std::string& GetRagDollDirection() const { return m_ragDollDirection; }
    const std::string& GetRagDollElevation() const { return m_ragDollElevation; }
    const std::string& GetRagDollPush() const { return m_ragDollPush; }
    unsigned GetMemorySize() const { return m_memorySize; }

    // Every track sampled at the frame and stored into the pose under its bone.
    void GetFramePose(SkeletalPose& pose, float frame, bool loop) const;
    // At frame = frame rate * time (milliseconds) / 1000.
    void GetPose(SkeletalPose& pose, float timeMs, bool loop) const;
    // Only the tracks of the bone; the pose's other bones are left alone.
    void GetPose(SkeletalPose& pose, float timeMs, bool loop, const Name& bone) const;

    static const char* GetDefaultName() { return "?DefaultAnim"; }

private:
    void Touch() const;
    void Clear();
    bool ReadText(const char* text, size_t length);

    unsigned m_memorySize = 0;
    std::vector<std::unique_ptr<BoneTrack>> m_tracks;
    uint32_t m_numFrames = 0;
    int32_t m_frameRate = 0;
    std::vector<CallbackPoint> m_callbackPoints;
    std::vector<CreateEntity> m_createEntities;
    std::string m_ragDollEffectType;
    std::string m_ragDollDirection;
    std::string m_ragDollElevation;
    std::string m_ragDollPush;
};

} // namespace GAME
