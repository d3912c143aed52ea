#include "core/UniqueId.h"

namespace GAME {

namespace {

uint32_t PackBigEndian(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

} // namespace

UniqueId UniqueId::FromGuid(const Platform::Guid& guid)
{
    return UniqueId(guid.data1, static_cast<uint32_t>(guid.data2) << 16 | guid.data3,
                    PackBigEndian(guid.data4), PackBigEndian(guid.data4 + 4));
}

UniqueId UniqueId::CreateUnique()
{
    return FromGuid(Platform::CreateGuid());
}

} // namespace GAME
