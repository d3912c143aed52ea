// A sector data record: the properties of one sector, painted onto the ground through the sector
// layers. This base holds what every kind shares (name, id, the two colours the editor draws the
// sector in); FogSectorData, NameSectorData, AmbientSectorData and BossSectorData add their own
// fields. Owned by the SectorDataManager. A plain value, main thread.
#pragma once

#include "core/Color.h"
#include "core/UniqueId.h"

#include <string>

namespace GAME {

class BinaryReader;
class BinaryWriter;

class SectorData
{
public:
    // Named "New Sector Style", a fresh id, two random half-transparent colours.
    SectorData();
    virtual ~SectorData() = default;
    SectorData(const SectorData&) = default;
    SectorData& operator=(const SectorData&) = default;

    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    const UniqueId& GetId() const { return m_id; }
    void SetId(const UniqueId& id) { m_id = id; }
    const Color& GetRenderColorAlpha() const { return m_renderColorAlpha; }
    void SetRenderColorAlpha(const Color& color) { m_renderColorAlpha = color; }
    const Color& GetRenderColorOmega() const { return m_renderColorOmega; }
    void SetRenderColorOmega(const Color& color) { m_renderColorOmega = color; }

    // The part every record of the sector data file begins with: version, name, id (last word
    // first), both colours. Reading answers false when the reader ran out or the name was bad.
    bool ReadCommon(BinaryReader& reader);
    void WriteCommon(BinaryWriter& writer) const;

    // The common part's smallest size in a file (empty name).
    static constexpr unsigned kMinCommonSize = 4 + 4 + 16 + 16 + 16;

private:
    std::string m_name;
    UniqueId m_id;
    Color m_renderColorAlpha;
    Color m_renderColorOmega;
};

} // namespace GAME
