// Name sector record (kind 1): the text tag whose localized name is shown when the view enters the
// sector, whether only on the first visit, and whether as a cinematic text. A plain value, main
// thread.
#pragma once

#include "world/SectorData.h"

#include <string>

namespace GAME {

class NameSectorData : public SectorData
{
public:
    // Tag "tagNothing", first visit only, not cinematic.
    NameSectorData();

    const std::string& GetTextTag() const { return m_textTag; }
    void SetTextTag(const std::string& tag) { m_textTag = tag; }
    bool GetFirstVisitOnly() const { return m_firstVisitOnly; }
    void SetFirstVisitOnly(bool firstVisitOnly) { m_firstVisitOnly = firstVisitOnly; }
    bool GetCinematic() const { return m_cinematic; }
    void SetCinematic(bool cinematic) { m_cinematic = cinematic; }

    // Kind version 1 has no first-visit flag (it keeps its default).
    bool Read(BinaryReader& reader, unsigned kindVersion);
    // The kind version 2 layout.
    void Write(BinaryWriter& writer) const;

private:
    std::string m_textTag;
    bool m_firstVisitOnly;
    bool m_cinematic;
};

} // namespace GAME
