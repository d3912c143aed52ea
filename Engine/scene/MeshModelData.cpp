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

// Reads the "key separator value" entries of a block up to its closing "}" (the opening "{"
// already read). readBlock(key, ok) answers true for the key of a nested block, which it reads
// (ok false when the text ended inside it); readValue(key) reads the value after the separator
// and answers false when the text ended. Keys that neither knows are left alone: their value is
// read as the next key.
struct NoBlocks
{
    bool operator()(const std::string&, bool&) const { return false; }
};

template <class ReadValue, class ReadBlock = NoBlocks>
bool ReadEntries(ModelTextReader& reader, ReadValue readValue, ReadBlock readBlock = {})
{
    std::string key, separator;
    for (;;) {
        if (!reader.Token(key))
            return false;
        if (key == "}")
            return true;
        bool ok = true;
        if (readBlock(key, ok)) {
            if (!ok)
                return false;
            continue;
        }
        if (!reader.Token(separator) || !readValue(key))
            return false;
    }
}

// A text value and the name made of it.
bool ReadName(ModelTextReader& reader, std::string& text, Name& name)
{
    const bool ok = reader.Text(text);
    name = Name::Create(text.c_str());
    return ok;
}

// Reads the value of a frame key shared by attach points and fused bones; any other key is left
// alone.
bool ReadFrameKey(ModelTextReader& reader, const std::string& key, Coords& coords)
{
    if (key == "origin")
        return reader.Vector(coords.origin);
    if (key == "xAxis")
        return reader.Vector(coords.xAxis);
    if (key == "yAxis")
        return reader.Vector(coords.yAxis);
    if (key == "zAxis")
        return reader.Vector(coords.zAxis);
    return true;
}

bool ReadAttachPoint(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    AttachPoint point;
    bool named = false;
    const bool read = ReadEntries(reader, [&](const std::string& key) {
        if (key == "name") {
            named = true;
            return ReadName(reader, point.nameText, point.name);
        }
        if (key == "parent")
            return ReadName(reader, point.parentText, point.parent);
        return ReadFrameKey(reader, key, point.coords);
    });
    if (!read)
        return false;
    if (named)
        data.attachPoints.Insert(point.name, point);
    return true;
}

bool ReadFusedBone(ModelTextReader& reader, RigidBodyDescription& body)
{
    std::string opening;
    if (!reader.Token(opening)) // the "{" after the block name, not checked
        return false;
    FusedBone bone;
    const bool read = ReadEntries(reader, [&](const std::string& key) {
        if (key == "name")
            return ReadName(reader, bone.nameText, bone.name);
        return ReadFrameKey(reader, key, bone.coords);
    });
    if (!read)
        return false;
    body.fusedBones.push_back(std::move(bone));
    return true;
}

bool ReadRigidBody(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    RigidBodyDescription body;
    const auto readValue = [&](const std::string& key) {
        if (key == "parentName")
            return ReadName(reader, body.parentName, body.parentNameKey);
        if (key == "childName")
            return ReadName(reader, body.childName, body.childNameKey);
        if (key == "parentOrigin")
            return reader.Vector(body.parentCoords.origin);
        if (key == "parentXAxis")
            return reader.Vector(body.parentCoords.xAxis);
        if (key == "parentYAxis")
            return reader.Vector(body.parentCoords.yAxis);
        if (key == "parentZAxis")
            return reader.Vector(body.parentCoords.zAxis);
        if (key == "childOrigin")
            return reader.Vector(body.childCoords.origin);
        if (key == "childXAxis")
            return reader.Vector(body.childCoords.xAxis);
        if (key == "childYAxis")
            return reader.Vector(body.childCoords.yAxis);
        if (key == "childZAxis")
            return reader.Vector(body.childCoords.zAxis);
        if (key == "extents")
            return reader.Vector(body.extents);
        if (key == "collides")
            return reader.Bool(body.collides);
        if (key == "density")
            return reader.Float(body.density);
        if (key == "playFallSound")
            return reader.Bool(body.playFallSound);
        return true;
    };
    const auto readBlock = [&](const std::string& key, bool& ok) {
        if (key != "FusedBone")
            return false;
        ok = ReadFusedBone(reader, body);
        return true;
    };
    if (!ReadEntries(reader, readValue, readBlock))
        return false;
    data.rigidBodies.push_back(std::move(body));
    return true;
}

bool ReadJoint(ModelTextReader& reader, MeshModelData& data)
{
    if (!reader.Open())
        return false;
    JointDescription joint; // every field 0, not the physics defaults
    std::string value;
    const bool read = ReadEntries(reader, [&](const std::string& key) {
        if (key == "rigidBody0")
            return reader.Int(joint.rigidBody0);
        if (key == "rigidBody1")
            return reader.Int(joint.rigidBody1);
        if (key == "jointType") {
            const bool ok = reader.Text(value);
            joint.jointType = PhysicsRagDoll::ToJointType(value.c_str());
            return ok;
        }
        if (key == "jointConnection")
            return reader.Int(joint.jointConnection);
        if (key == "jointAxis0") {
            const bool ok = reader.Text(value);
            joint.jointAxis0 = PhysicsRagDoll::ToJointAxis(value.c_str());
            return ok;
        }
        if (key == "loStop0")
            return reader.Float(joint.loStop0);
        if (key == "hiStop0")
            return reader.Float(joint.hiStop0);
        if (key == "jointAxis1") {
            const bool ok = reader.Text(value);
            joint.jointAxis1 = PhysicsRagDoll::ToJointAxis(value.c_str());
            return ok;
        }
        if (key == "loStop1")
            return reader.Float(joint.loStop1);
        if (key == "hiStop1")
            return reader.Float(joint.hiStop1);
        if (key == "breakable") {
            bool breakable = false;
            const bool ok = reader.Bool(breakable);
            joint.breakable = breakable ? 1 : 0;
            return ok;
        }
        if (key == "breakChance")
            return reader.Int(joint.breakChance);
        return true;
    });
    if (!read)
        return false;
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
