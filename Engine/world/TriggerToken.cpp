#include "world/TriggerToken.h"

#include "data/IOStream.h"

#include <algorithm>

namespace GAME {

void TriggerToken::AddFileReference(const char* fileName)
{
    m_fileReferences.push_back(fileName ? fileName : "");
}

std::string TriggerToken::GetFileReference(int index) const
{
    return index >= 0 && index < GetFileReferenceCount() ? m_fileReferences[static_cast<size_t>(index)]
                                                         : std::string();
}

void TriggerToken::StreamProperties(IOStream* s)
{
    if (!s)
        return;
    s->BeginBlock();
    s->StreamPropertyEx("name", m_name);
    int count = GetFileReferenceCount();
    s->StreamPropertyEx("fileReferenceCount", count);
    if (s->IsReading()) {
        count = std::clamp(count, 0, maxStreamedReferences);
        for (int i = 0; i < count; ++i) {
            std::string reference;
            s->StreamPropertyEx("fileReference", reference);
            m_fileReferences.push_back(reference);
        }
    } else {
        for (std::string& reference : m_fileReferences)
            s->StreamPropertyEx("fileReference", reference);
    }
    s->EndBlock();
}

} // namespace GAME
