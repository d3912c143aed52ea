// One shader parameter of a model-building material (SceneModelMaterial): its name, type and value.
// The value's field follows the type: 0 the integer, 1 the bool, 2 and 7 the text (7 names a
// texture file), 3 twelve floats, 4 sixteen, 8 two, 9 three, 10 one, 11 four; 5, 6 and 14 and above
// carry no value. Types 12 and 13 (three and four floats) are read back as 9 and 11. A plain value.
#pragma once

#include <cstdint>
#include <string>

namespace GAME {

struct ShaderParam
{
    enum Type : uint32_t
    {
        TYPE_INT = 0,
        TYPE_BOOL = 1,
        TYPE_STRING = 2,
        TYPE_FLOAT4X3 = 3,
        TYPE_FLOAT4X4 = 4,
        TYPE_VERTEX_SHADER = 5,
        TYPE_PIXEL_SHADER = 6,
        TYPE_TEXTURE = 7,
        TYPE_FLOAT2 = 8,
        TYPE_FLOAT3 = 9,
        TYPE_FLOAT = 10,
        TYPE_FLOAT4 = 11,
        TYPE_FLOAT3_ALT = 12,
        TYPE_FLOAT4_ALT = 13,
    };

    std::string name;
    uint32_t type = TYPE_INT;
    std::string textValue;
    bool boolValue = false;
    uint32_t intValue = 0;
    float floatValues[16] = {};

    // Floats the stream holds for a type (0 for the types without floats).
    static constexpr unsigned GetNumFloats(uint32_t type)
    {
        switch (type) {
        case TYPE_FLOAT4X3:
            return 12;
        case TYPE_FLOAT4X4:
            return 16;
        case TYPE_FLOAT2:
            return 2;
        case TYPE_FLOAT3:
        case TYPE_FLOAT3_ALT:
            return 3;
        case TYPE_FLOAT:
            return 1;
        case TYPE_FLOAT4:
        case TYPE_FLOAT4_ALT:
            return 4;
        default:
            return 0;
        }
    }
};

} // namespace GAME
