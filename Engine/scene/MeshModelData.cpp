#include "scene/MeshModelData.h"

#include "core/NumberParsing.h"
#include "data/BasicTextParser.h"
#include "navigation/PhysicsRagDoll.h"

namespace GAME {

void MeshModelData::Clear()
{
    attachPoints.Reset();
    creationAttachNames.clear();
    creationEntityNames.clear();
    rigidBodies.clear();
    joints.clear();
    skeletonEmitterBones.clear();
    text.clear();
}

namespace {

// The tokens of one model text; every read reports whether the text ended before it.
class ModelTextReader
{
public:
    ModelTextReader(const char* text, size_t length) : m_parser(text, length)
    {
        m_parser.SetStripQuotes(true);
    }

    bool AtEnd() const { return m_parser.AtEnd(); }

    // False when the text is used up.
    bool Token(std::string& token)
    {
        if (m_parser.AtEnd()) {
            token.clear();
            return false;
        }
        token = m_parser.ReadToken();
        return true;
    }
    // A text value: the text between double quotes, else one punctuation character or a word.
    bool Text(std::string& value)
    {
        if (m_parser.AtEnd())
            return false;
        m_parser.ReadDelimitedToken(value, '"', '"', true);
        return true;
    }
    // A vector value " ( x , y , z ) "; fields that do not parse keep their values.
    bool Vector(Vec3& value)
    {
        if (m_parser.AtEnd())
            return false;
        std::string token;
        m_parser.ReadDelimitedToken(token, '(', ')', false);
        value.Parse(token.c_str());
        return true;
    }
    bool Float(float& value)
    {
        std::string token;
        if (!Text(token))
            return false;
        float parsed;
        if (ScanFloat(token.c_str(), parsed))
            value = parsed;
        return true;
    }
    bool Int(int32_t& value)
    {
        std::string token;
        if (!Text(token))
            return false;
        value = AtoI(token.c_str());
        return true;
    }
    bool Bool(bool& value)
    {
        std::string token;
        if (!Text(token))
            return false;
        value = token == "true";
        return true;
    }
    // The opening "{" of a block.
    bool Open()
    {
        std::string token;
        return Token(token) && token == "{";
    }

private:
    TextParser m_parser;
};

bool ReadCreateEntity(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    std::string key, separator, value;
    for (;;) {
        if (!reader.Token(key))
            return false;
        if (key == "}")
            return true;
        if (key != "entity" && key != "attach")
            continue; // skipped alone
        if (!reader.Token(separator) || separator != "=" || !reader.Text(value))
            return false;
        (key == "entity" ? data.creationEntityNames : data.creationAttachNames).push_back(value);
    }
}

bool ReadSkeletonEmitterBones(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    std::vector<std::string> bones;
    std::string token;
    for (;;) {
        if (!reader.Token(token))
            return false;
        if (token == "}")
            break;
        bones.push_back(token);
    }
    data.skeletonEmitterBones = std::move(bones);
    return true;
}

// Reads the frame keys shared by attach points and fused bones; false for any other key.
bool ReadFrameKey(ModelTextReader& reader, const std::string& key, Coords& coords, bool& ok)
{
    Vec3* field = nullptr;
    if (key == "origin")
        field = &coords.origin;
    else if (key == "xAxis")
        field = &coords.xAxis;
    else if (key == "yAxis")
        field = &coords.yAxis;
    else if (key == "zAxis")
        field = &coords.zAxis;
    if (!field)
        return false;
    ok = reader.Vector(*field);
    return true;
}

bool ReadAttachPoint(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    AttachPoint point;
    bool named = false;
    std::string key, separator;
    for (;;) {
        if (!reader.Token(key))
            return false;
        if (key == "}")
            break;
        if (!reader.Token(separator))
            return false;
        bool ok = true;
        if (key == "name") {
            ok = reader.Text(point.nameText);
            point.name = Name::Create(point.nameText.c_str());
            named = true;
        } else if (key == "parent") {
            ok = reader.Text(point.parentText);
            point.parent = Name::Create(point.parentText.c_str());
        } else {
            ReadFrameKey(reader, key, point.coords, ok);
        }
        if (!ok)
            return false;
    }
    if (named)
        data.attachPoints.Insert(point.name, point);
    return true;
}

bool ReadFusedBone(ModelTextReader& reader, RigidBodyDescription& body)
{
    std::string key, separator;
    if (!reader.Token(separator)) // the "{" after the block name, not checked
        return false;
    FusedBone bone;
    for (;;) {
        if (!reader.Token(key))
            return false;
        if (key == "}")
            break;
        if (!reader.Token(separator))
            return false;
        bool ok = true;
        if (key == "name") {
            ok = reader.Text(bone.nameText);
            bone.name = Name::Create(bone.nameText.c_str());
        } else {
            ReadFrameKey(reader, key, bone.coords, ok);
        }
        if (!ok)
            return false;
    }
    body.fusedBones.push_back(std::move(bone));
    return true;
}

bool ReadRigidBody(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    RigidBodyDescription body;
    std::string key, separator;
    for (;;) {
        if (!reader.Token(key))
            return false;
        if (key == "}")
            break;
        if (key == "FusedBone") {
            if (!ReadFusedBone(reader, body))
                return false;
            continue;
        }
        if (!reader.Token(separator))
            return false;
        bool ok = true;
        if (key == "parentName") {
            ok = reader.Text(body.parentName);
            body.parentNameKey = Name::Create(body.parentName.c_str());
        } else if (key == "childName") {
            ok = reader.Text(body.childName);
            body.childNameKey = Name::Create(body.childName.c_str());
        } else if (key == "parentOrigin") {
            ok = reader.Vector(body.parentCoords.origin);
        } else if (key == "parentXAxis") {
            ok = reader.Vector(body.parentCoords.xAxis);
        } else if (key == "parentYAxis") {
            ok = reader.Vector(body.parentCoords.yAxis);
        } else if (key == "parentZAxis") {
            ok = reader.Vector(body.parentCoords.zAxis);
        } else if (key == "childOrigin") {
            ok = reader.Vector(body.childCoords.origin);
        } else if (key == "childXAxis") {
            ok = reader.Vector(body.childCoords.xAxis);
        } else if (key == "childYAxis") {
            ok = reader.Vector(body.childCoords.yAxis);
        } else if (key == "childZAxis") {
            ok = reader.Vector(body.childCoords.zAxis);
        } else if (key == "extents") {
            ok = reader.Vector(body.extents);
        } else if (key == "collides") {
            ok = reader.Bool(body.collides);
        } else if (key == "density") {
            ok = reader.Float(body.density);
        } else if (key == "playFallSound") {
            ok = reader.Bool(body.playFallSound);
        }
        if (!ok)
            return false;
    }
    data.rigidBodies.push_back(std::move(body));
    return true;
}

bool ReadJoint(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    JointDescription joint; // every field 0, not the physics defaults
    std::string key, separator, value;
    for (;;) {
        if (!reader.Token(key))
            return false;
        if (key == "}")
            break;
        if (!reader.Token(separator))
            return false;
        bool ok = true;
        if (key == "rigidBody0") {
            ok = reader.Int(joint.rigidBody0);
        } else if (key == "rigidBody1") {
            ok = reader.Int(joint.rigidBody1);
        } else if (key == "jointType") {
            ok = reader.Text(value);
            joint.jointType = PhysicsRagDoll::ToJointType(value.c_str());
        } else if (key == "jointConnection") {
            ok = reader.Int(joint.jointConnection);
        } else if (key == "jointAxis0") {
            ok = reader.Text(value);
            joint.jointAxis0 = PhysicsRagDoll::ToJointAxis(value.c_str());
        } else if (key == "loStop0") {
            ok = reader.Float(joint.loStop0);
        } else if (key == "hiStop0") {
            ok = reader.Float(joint.hiStop0);
        } else if (key == "jointAxis1") {
            ok = reader.Text(value);
            joint.jointAxis1 = PhysicsRagDoll::ToJointAxis(value.c_str());
        } else if (key == "loStop1") {
            ok = reader.Float(joint.loStop1);
        } else if (key == "hiStop1") {
            ok = reader.Float(joint.hiStop1);
        } else if (key == "breakable") {
            bool breakable = false;
            ok = reader.Bool(breakable);
            joint.breakable = breakable ? 1 : 0;
        } else if (key == "breakChance") {
            ok = reader.Int(joint.breakChance);
        }
        if (!ok)
            return false;
    }
    data.joints.push_back(joint);
    return true;
}

} // namespace

bool MeshModelData::ParseText(const char* textData, size_t length)
{
    rigidBodies.clear();
    joints.clear();
    if (!textData || length == 0)
        return true;
    ModelTextReader reader(textData, length);
    std::string token;
    while (reader.Token(token)) {
        bool ok = true;
        if (token == "CreateEntity")
            ok = ReadCreateEntity(reader, *this);
        else if (token == "SkeletonEmitterBones")
            ok = ReadSkeletonEmitterBones(reader, *this);
        else if (token == "AttachPoint")
            ok = ReadAttachPoint(reader, *this);
        else if (token == "RigidBodyDescription")
            ok = ReadRigidBody(reader, *this);
        else if (token == "JointDescription")
            ok = ReadJoint(reader, *this);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace GAME
