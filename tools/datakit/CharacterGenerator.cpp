#include "datakit/CharacterGenerator.h"

#include "core/MathUtil.h"
#include "datakit/TextureWriter.h"
#include "navigation/PhysicsTypes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace DataKit {

namespace {

using GAME::Coords;
using GAME::Quat;
using GAME::Vec3;

constexpr float pi = 3.14159265f;

Quat AxisAngle(const Vec3& axis, float angle)
{
    const float s = std::sin(angle * 0.5f);
    return Quat(axis.x * s, axis.y * s, axis.z * s, std::cos(angle * 0.5f));
}

Quat Multiply(const Quat& a, const Quat& b)
{
    return Quat(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
                a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z);
}

// The 24 corners and 12 faces of a box, each face with its own normal, added to the writer.
void AddBox(MeshWriter& mesh, const Vec3& center, const Vec3& extents, uint8_t paletteIndex, Vec3& lo,
            Vec3& hi)
{
    const Vec3 axes[3] = {Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1)};
    const float e[3] = {extents.x, extents.y, extents.z};
    for (int axis = 0; axis < 3; ++axis) {
        for (int sign = -1; sign <= 1; sign += 2) {
            const Vec3 n = axes[axis] * static_cast<float>(sign);
            // Two tangents with u x v = n, so the corners run counter-clockwise seen from outside.
            Vec3 u = axes[(axis + 1) % 3] * e[(axis + 1) % 3];
            Vec3 v = axes[(axis + 2) % 3] * e[(axis + 2) % 3];
            if (sign < 0)
                std::swap(u, v);
            const Vec3 faceCenter = center + n * e[axis];
            const Vec3 corners[4] = {faceCenter - u - v, faceCenter + u - v, faceCenter + u + v,
                                     faceCenter - u + v};
            const float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
            uint32_t first = 0;
            for (int c = 0; c < 4; ++c) {
                MeshWriter::Vertex vertex;
                vertex.position = corners[c];
                vertex.normal = n;
                vertex.texCoord[0] = uv[c][0];
                vertex.texCoord[1] = uv[c][1];
                vertex.bones[0] = paletteIndex;
                const uint32_t index = mesh.AddVertex(vertex);
                if (c == 0)
                    first = index;
                lo = Vec3::Min(lo, corners[c]);
                hi = Vec3::Max(hi, corners[c]);
            }
            mesh.AddFace(first, first + 1, first + 2);
            mesh.AddFace(first, first + 2, first + 3);
        }
    }
}

std::string Vector(const Vec3& v)
{
    char text[96];
    std::snprintf(text, sizeof(text), "(%g, %g, %g)", static_cast<double>(v.x), static_cast<double>(v.y),
                  static_cast<double>(v.z));
    return text;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int BoneIndex(const std::string& name)
{
    const auto& bones = CharacterGenerator::Skeleton();
    for (size_t i = 0; i < bones.size(); ++i)
        if (bones[i].name == name)
            return static_cast<int>(i);
    return -1;
}

// The bind position of a bone (bind frames are translations).
Vec3 BindPosition(int bone)
{
    const auto& bones = CharacterGenerator::Skeleton();
    Vec3 position;
    for (int i = bone; i >= 0; i = bones[static_cast<size_t>(i)].parent)
        position += bones[static_cast<size_t>(i)].offset;
    return position;
}

} // namespace

const std::vector<CharacterGenerator::SkeletonBone>& CharacterGenerator::Skeleton()
{
    static const std::vector<SkeletonBone> skeleton = [] {
        struct Definition
        {
            std::string name;
            std::string parent;
            Vec3 offset;
            Vec3 center;
            Vec3 extents;
        };
        // Facing +Z, arms out along X; the right side mirrors the left.
        std::vector<Definition> definitions = {
            {"Root", "", Vec3(0, 0, 0), Vec3(), Vec3()},
            {"Pelvis", "Root", Vec3(0, 1.0f, 0), Vec3(0, 0, 0), Vec3(0.16f, 0.08f, 0.1f)},
            {"Spine1", "Pelvis", Vec3(0, 0.1f, 0), Vec3(0, 0.07f, 0), Vec3(0.14f, 0.07f, 0.09f)},
            {"Spine2", "Spine1", Vec3(0, 0.15f, 0), Vec3(0, 0.07f, 0), Vec3(0.16f, 0.07f, 0.1f)},
            {"Spine3", "Spine2", Vec3(0, 0.15f, 0), Vec3(0, 0.07f, 0), Vec3(0.18f, 0.07f, 0.1f)},
            {"Neck", "Spine3", Vec3(0, 0.15f, 0), Vec3(0, 0.05f, 0), Vec3(0.04f, 0.05f, 0.04f)},
            {"Head", "Neck", Vec3(0, 0.1f, 0), Vec3(0, 0.1f, 0.01f), Vec3(0.09f, 0.11f, 0.1f)},
            {"HeadTop", "Head", Vec3(0, 0.22f, 0), Vec3(0, 0.01f, 0), Vec3(0.03f, 0.01f, 0.03f)},
        };
        struct Limb
        {
            const char* part;
            const char* parent; // a part of the same side; empty: the trunk bone given
            Vec3 offset;        // for the left side
            Vec3 center;
            Vec3 extents;
        };
        const Limb arm[] = {
            {"Clavicle", "", Vec3(0.06f, 0.1f, 0), Vec3(0.03f, 0, 0), Vec3(0.03f, 0.03f, 0.03f)},
            {"UpperArm", "Clavicle", Vec3(0.12f, 0, 0), Vec3(0.14f, 0, 0), Vec3(0.14f, 0.05f, 0.05f)},
            {"Forearm", "UpperArm", Vec3(0.28f, 0, 0), Vec3(0.12f, 0, 0), Vec3(0.12f, 0.04f, 0.04f)},
            {"Hand", "Forearm", Vec3(0.25f, 0, 0), Vec3(0.04f, 0, 0), Vec3(0.04f, 0.02f, 0.04f)},
            {"Thumb", "Hand", Vec3(0.03f, 0, 0.04f), Vec3(0.02f, 0, 0), Vec3(0.02f, 0.01f, 0.01f)},
            {"ThumbTip", "Thumb", Vec3(0.04f, 0, 0), Vec3(0.01f, 0, 0), Vec3(0.01f, 0.01f, 0.01f)},
            {"Fingers", "Hand", Vec3(0.08f, 0, 0), Vec3(0.025f, 0, 0), Vec3(0.025f, 0.01f, 0.035f)},
            {"FingerTips", "Fingers", Vec3(0.05f, 0, 0), Vec3(0.01f, 0, 0), Vec3(0.01f, 0.01f, 0.03f)},
        };
        const Limb leg[] = {
            {"Thigh", "", Vec3(0.09f, -0.04f, 0), Vec3(0, -0.22f, 0), Vec3(0.07f, 0.22f, 0.07f)},
            {"Calf", "Thigh", Vec3(0, -0.45f, 0), Vec3(0, -0.22f, 0), Vec3(0.055f, 0.22f, 0.055f)},
            {"Foot", "Calf", Vec3(0, -0.45f, 0), Vec3(0, -0.02f, 0.05f), Vec3(0.05f, 0.03f, 0.08f)},
            {"Toe", "Foot", Vec3(0, -0.04f, 0.12f), Vec3(0, -0.01f, 0.03f), Vec3(0.05f, 0.015f, 0.03f)},
        };
        for (int side = 0; side < 2; ++side) {
            const std::string prefix = side == 0 ? "Left" : "Right";
            const float s = side == 0 ? 1.0f : -1.0f;
            auto mirror = [s](const Vec3& v) { return Vec3(v.x * s, v.y, v.z); };
            auto add = [&](const Limb& limb, const char* trunk) {
                const std::string parent = limb.parent[0] ? prefix + limb.parent : std::string(trunk);
                definitions.push_back(
                    {prefix + limb.part, parent, mirror(limb.offset), mirror(limb.center), limb.extents});
            };
            for (const Limb& limb : arm)
                add(limb, "Spine3");
            for (const Limb& limb : leg)
                add(limb, "Pelvis");
        }
        // File order: breadth first from the root, so each bone's children are consecutive.
        std::vector<SkeletonBone> ordered;
        ordered.push_back(
            {definitions[0].name, -1, definitions[0].offset, definitions[0].center, definitions[0].extents});
        for (size_t next = 0; next < ordered.size(); ++next) {
            for (size_t d = 0; d < definitions.size(); ++d) {
                if (ordered[next].name != definitions[d].parent)
                    continue;
                ordered.push_back({definitions[d].name, static_cast<int>(next), definitions[d].offset,
                                   definitions[d].center, definitions[d].extents});
            }
        }
        return ordered;
    }();
    return skeleton;
}

MeshWriter CharacterGenerator::MakeProp()
{
    MeshWriter mesh;
    mesh.SetAttributes(
        {MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL, MeshWriter::ATTRIBUTE_TEXCOORD0});
    Vec3 lo(GAME::gInfinity, GAME::gInfinity, GAME::gInfinity), hi = -lo;
    const Vec3 center(0, 0.5f, 0), extents(0.5f, 0.5f, 0.5f);
    AddBox(mesh, center, extents, 0, lo, hi);
    MeshWriter::FaceSet set;
    set.numFaces = static_cast<uint32_t>(mesh.indices.size() / 3);
    set.boxCenter = center;
    set.boxExtents = extents;
    mesh.faceSets.push_back(set);
    MeshWriter::Material material;
    material.shader = staticShader;
    material.parameters.push_back({"specularPower", 10, 0, "", {8.0f}});
    material.parameters.push_back({"baseTexture", 7, 0, propTexture, {}});
    mesh.materials.push_back(material);
    mesh.hitBoxes.push_back({"Crate", extents, Coords::Translation(center), 0xFFFFFFFFu});
    mesh.hasBoundingBox = true;
    mesh.boundsMin = lo;
    mesh.boundsMax = hi;
    mesh.sections = {"Crate"};
    mesh.text = "Sample crate";
    mesh.contours.push_back({{Vec3(-0.5f, 0, -0.5f), Vec3(0, 1, 0)},
                             {Vec3(0.5f, 0, -0.5f), Vec3(0, 1, 0)},
                             {Vec3(0.5f, 0, 0.5f), Vec3(0, 1, 0)},
                             {Vec3(-0.5f, 0, 0.5f), Vec3(0, 1, 0)}});
    mesh.modelText = "AttachPoint\n{\n    name = \"Top\"\n    origin = (0, 1, 0)\n}\n";
    // The collision mesh: the box's 8 corners and 12 triangles, of wood.
    std::vector<Vec3> corners;
    for (int i = 0; i < 8; ++i)
        corners.push_back(center + Vec3(i & 1 ? 0.5f : -0.5f, i & 2 ? 0.5f : -0.5f, i & 4 ? 0.5f : -0.5f));
    const uint32_t quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                  {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::vector<MeshWriter::Triangle> triangles;
    for (const auto& q : quads) {
        triangles.push_back({{q[0], q[1], q[2]}, GAME::PHYSICS_SURFACE_WOOD});
        triangles.push_back({{q[0], q[2], q[3]}, GAME::PHYSICS_SURFACE_WOOD});
    }
    mesh.physicsMesh = MeshWriter::PhysicsMeshBytes(corners, triangles);
    return mesh;
}

std::vector<uint8_t> CharacterGenerator::MakePropTexture()
{
    // Planks across each face, every other one a little lighter, with grain along them and a dark
    // seam between them; the middle of a face is the middle of a plank.
    constexpr uint32_t size = 32, plank = size / 4;
    std::vector<uint32_t> texels(size * size);
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const uint32_t board = (y + plank / 2) / plank;
            const uint32_t grain = ((x * 7u + y * 13u + board * 29u) * 2654435761u) >> 29; // 0 to 7
            const int shade = static_cast<int>(board % 2 == 0 ? 12 : 0) + static_cast<int>(grain) * 3 -
                              (y % plank == plank / 2 ? 70 : 0);
            const auto channel = [&](int base) {
                return static_cast<uint32_t>(std::clamp(base + shade, 0, 255));
            };
            texels[y * size + x] = 0xFF000000u | (channel(176) << 16) | (channel(122) << 8) | channel(66);
        }
    return TextureWriter::Dds(size, size, texels, true);
}

MeshWriter CharacterGenerator::MakeCharacter()
{
    const std::vector<SkeletonBone>& skeleton = Skeleton();
    MeshWriter mesh;
    mesh.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL,
                        MeshWriter::ATTRIBUTE_TEXCOORD0, MeshWriter::ATTRIBUTE_BONE_WEIGHTS,
                        MeshWriter::ATTRIBUTE_BONE_INDICES});
    for (size_t i = 0; i < skeleton.size(); ++i) {
        MeshWriter::Bone bone;
        bone.name = skeleton[i].name;
        bone.relative = Coords::Translation(skeleton[i].offset);
        for (size_t c = 0; c < skeleton.size(); ++c) {
            if (skeleton[c].parent != static_cast<int>(i))
                continue;
            if (bone.numChildren == 0)
                bone.firstChild = static_cast<uint32_t>(c);
            ++bone.numChildren;
        }
        mesh.bones.push_back(bone);
    }

    // Two face sets: the legs with the pelvis, and everything above.
    Vec3 lo(GAME::gInfinity, GAME::gInfinity, GAME::gInfinity), hi = -lo;
    auto isLower = [&](size_t bone) {
        const std::string& name = skeleton[bone].name;
        return name == "Pelvis" || name.find("Thigh") != std::string::npos ||
               name.find("Calf") != std::string::npos || name.find("Foot") != std::string::npos ||
               name.find("Toe") != std::string::npos;
    };
    for (int part = 0; part < 2; ++part) {
        MeshWriter::FaceSet set;
        set.section = static_cast<uint32_t>(part);
        set.firstFace = static_cast<uint32_t>(mesh.indices.size() / 3);
        Vec3 setLo = lo, setHi = hi;
        setLo = Vec3(GAME::gInfinity, GAME::gInfinity, GAME::gInfinity);
        setHi = -setLo;
        for (size_t b = 0; b < skeleton.size(); ++b) {
            if (skeleton[b].extents == Vec3() || isLower(b) != (part == 0))
                continue;
            const uint8_t paletteIndex = static_cast<uint8_t>(set.bones.size());
            set.bones.push_back(static_cast<uint32_t>(b));
            AddBox(mesh, BindPosition(static_cast<int>(b)) + skeleton[b].center, skeleton[b].extents,
                   paletteIndex, setLo, setHi);
        }
        set.numFaces = static_cast<uint32_t>(mesh.indices.size() / 3) - set.firstFace;
        set.boxCenter = (setLo + setHi) * 0.5f;
        set.boxExtents = (setHi - setLo) * 0.5f;
        lo = Vec3::Min(lo, setLo);
        hi = Vec3::Max(hi, setHi);
        mesh.faceSets.push_back(set);
    }
    mesh.sections = {"Legs", "Body"};
    mesh.hasBoundingBox = true;
    mesh.boundsMin = lo;
    mesh.boundsMax = hi;

    MeshWriter::Material material;
    material.shader = skinnedShader;
    material.parameters.push_back({"specularPower", 10, 0, "", {16.0f}});
    mesh.materials.push_back(material);

    for (const char* name : {"Pelvis", "Spine2", "Head", "LeftUpperArm", "LeftForearm", "RightUpperArm",
                             "RightForearm", "LeftThigh", "LeftCalf", "RightThigh", "RightCalf"}) {
        const int bone = BoneIndex(name);
        const SkeletonBone& b = skeleton[static_cast<size_t>(bone)];
        mesh.hitBoxes.push_back(
            {name, b.extents, Coords::Translation(b.center), static_cast<uint32_t>(bone)});
    }

    std::string text;
    auto attach = [&](const char* name, const char* parent, const Vec3& origin) {
        text += std::string("AttachPoint\n{\n    name = \"") + name + "\"\n    parent = \"" + parent +
                "\"\n    origin = " + Vector(origin) +
                "\n    xAxis = (1, 0, 0)\n    yAxis = (0, 1, 0)\n    zAxis = (0, 0, 1)\n}\n";
    };
    attach("RightHand", "RightHand", Vec3(-0.05f, 0, 0));
    attach("LeftHand", "LeftHand", Vec3(0.05f, 0, 0));
    attach("Head", "HeadTop", Vec3());
    attach("Chest", "Spine3", Vec3(0, 0.05f, 0.12f));
    text += "SkeletonEmitterBones\n{\n    Head LeftHand RightHand\n}\n";
    auto body = [&](const char* parent, const char* child, const Vec3& extents) {
        text += std::string("RigidBodyDescription\n{\n    parentName = \"") + parent +
                "\"\n    childName = \"" + child + "\"\n    extents = " + Vector(extents) +
                "\n    collides = true\n    density = 100\n    playFallSound = true\n}\n";
    };
    body("Pelvis", "Spine2", Vec3(0.16f, 0.15f, 0.1f));
    body("Spine2", "Head", Vec3(0.18f, 0.2f, 0.1f));
    body("LeftThigh", "LeftCalf", Vec3(0.07f, 0.22f, 0.07f));
    body("RightThigh", "RightCalf", Vec3(0.07f, 0.22f, 0.07f));
    auto joint = [&](int a, int b, const char* type) {
        text += "JointDescription\n{\n    rigidBody0 = " + std::to_string(a) +
                "\n    rigidBody1 = " + std::to_string(b) + "\n    jointType = " + type +
                "\n    jointAxis0 = x\n    loStop0 = -0.5\n    hiStop0 = 0.5\n    breakable = false\n}\n";
    };
    joint(0, 1, "ball");
    joint(0, 2, "hinge");
    joint(0, 3, "hinge");
    mesh.modelText = text;
    mesh.text = "Sample character";
    return mesh;
}

AnimWriter CharacterGenerator::MakeWalk()
{
    const std::vector<SkeletonBone>& skeleton = Skeleton();
    AnimWriter anim;
    anim.frameRate = frameRate;
    const Vec3 xAxis(1, 0, 0), yAxis(0, 1, 0), zAxis(0, 0, 1);
    for (const SkeletonBone& bone : skeleton) {
        AnimWriter::Track track;
        track.bone = bone.name;
        for (int f = 0; f < walkFrames; ++f) {
            const float phase = 2.0f * pi * static_cast<float>(f) / static_cast<float>(walkFrames - 1);
            const float swing = std::sin(phase);
            AnimWriter::Key key;
            const std::string& n = bone.name;
            if (n == "Root")
                key.t = Vec3(0, 0, walkStride * static_cast<float>(f) / static_cast<float>(walkFrames - 1));
            else if (n == "Pelvis")
                key.t = Vec3(0, 0.03f * std::fabs(std::cos(phase)), 0);
            else if (n == "LeftThigh")
                key.q = AxisAngle(xAxis, -0.5f * swing);
            else if (n == "RightThigh")
                key.q = AxisAngle(xAxis, 0.5f * swing);
            else if (n == "LeftCalf")
                key.q = AxisAngle(xAxis, 0.6f * std::max(0.0f, swing));
            else if (n == "RightCalf")
                key.q = AxisAngle(xAxis, 0.6f * std::max(0.0f, -swing));
            else if (n == "LeftUpperArm")
                key.q = Multiply(AxisAngle(xAxis, 0.4f * swing), AxisAngle(zAxis, -1.25f));
            else if (n == "RightUpperArm")
                key.q = Multiply(AxisAngle(xAxis, -0.4f * swing), AxisAngle(zAxis, 1.25f));
            else if (n == "Spine2")
                key.q = AxisAngle(yAxis, 0.08f * swing);
            track.keys.push_back(key);
        }
        anim.tracks.push_back(track);
    }
    anim.text = "// Footsteps of the sample walk\n" + AnimWriter::CallbackPointText("FootstepLeft", 0) +
                AnimWriter::CallbackPointText("FootstepRight", (walkFrames - 1) / 2);
    return anim;
}

AnimWriter CharacterGenerator::MakeIdle()
{
    const std::vector<SkeletonBone>& skeleton = Skeleton();
    AnimWriter anim;
    anim.frameRate = frameRate;
    const Vec3 xAxis(1, 0, 0), zAxis(0, 0, 1);
    for (const SkeletonBone& bone : skeleton) {
        AnimWriter::Track track;
        track.bone = bone.name;
        for (int f = 0; f < idleFrames; ++f) {
            const float breath =
                std::sin(2.0f * pi * static_cast<float>(f) / static_cast<float>(idleFrames - 1));
            AnimWriter::Key key;
            const std::string& n = bone.name;
            if (n == "Spine1")
                key.q = AxisAngle(xAxis, 0.03f * breath);
            else if (n == "Neck")
                key.q = AxisAngle(xAxis, -0.02f * breath);
            else if (n == "LeftUpperArm")
                key.q = AxisAngle(zAxis, -1.3f + 0.03f * breath);
            else if (n == "RightUpperArm")
                key.q = AxisAngle(zAxis, 1.3f - 0.03f * breath);
            track.keys.push_back(key);
        }
        anim.tracks.push_back(track);
    }
    return anim;
}

bool CharacterGenerator::WriteSampleContent(const std::string& folder)
{
    const std::filesystem::path root(folder);
    return WriteFile(root / propMesh, MakeProp().Write(11)) &&
           WriteFile(root / propTexture, MakePropTexture()) &&
           WriteFile(root / characterMesh, MakeCharacter().Write(11)) &&
           WriteFile(root / walkAnimation, MakeWalk().Write(2)) &&
           WriteFile(root / idleAnimation, MakeIdle().Write(1));
}

} // namespace DataKit
