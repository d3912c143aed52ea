#include "world/TriggerTokenList.h"

#include "data/IOStream.h"
#include "world/TriggerToken.h"

#include <algorithm>

namespace GAME {

TriggerTokenList::~TriggerTokenList()
{
    for (TriggerToken* token : m_tokens)
        delete token;
    m_tokens.clear();
}

void TriggerTokenList::AddNewToken(const char* name)
{
    const std::string text = name ? name : "";
    for (const TriggerToken* token : m_tokens)
        if (token->GetName() == text)
            return;
    m_tokens.push_back(new TriggerToken(text));
}

void TriggerTokenList::RemoveToken(const char* name)
{
    const std::string text = name ? name : "";
    for (auto it = m_tokens.begin(); it != m_tokens.end(); ++it) {
        if ((*it)->GetName() == text) {
            delete *it;
            m_tokens.erase(it);
            return;
        }
    }
}

std::string TriggerTokenList::GetTokenName(int index) const
{
    const TriggerToken* token = GetToken(index);
    return token ? token->GetName() : std::string();
}

TriggerToken* TriggerTokenList::GetToken(int index) const
{
    return index >= 0 && index < GetTokenCount() ? m_tokens[static_cast<size_t>(index)] : nullptr;
}

void TriggerTokenList::StreamProperties(IOStream* s)
{
    if (!s)
        return;
    s->BeginBlock();
    int count = GetTokenCount();
    s->StreamPropertyEx("numberOfTokens", count);
    if (s->IsReading()) {
        count = std::clamp(count, 0, maxStreamedTokens);
        for (int i = 0; i < count; ++i) {
            TriggerToken* token = new TriggerToken;
            token->StreamProperties(s);
            m_tokens.push_back(token);
        }
    } else {
        for (TriggerToken* token : m_tokens)
            token->StreamProperties(s);
    }
    s->EndBlock();
}

} // namespace GAME
