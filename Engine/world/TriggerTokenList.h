// The list of trigger tokens of a map: names unique within the list. Owns its tokens. Main thread.
#pragma once

#include <string>
#include <vector>

namespace GAME {

class IOStream;
class TriggerToken;

class TriggerTokenList
{
public:
    // Most tokens a stream may make the list read.
    static constexpr int maxStreamedTokens = 4096;

    TriggerTokenList() = default;
    ~TriggerTokenList();
    TriggerTokenList(const TriggerTokenList&) = delete;
    TriggerTokenList& operator=(const TriggerTokenList&) = delete;

    // Appends a new token unless one of exactly that name exists.
    void AddNewToken(const char* name);
    // Deletes the first token of that name.
    void RemoveToken(const char* name);
    int GetTokenCount() const { return static_cast<int>(m_tokens.size()); }
    // Empty outside the list.
    std::string GetTokenName(int index) const;
    // Null outside the list.
    TriggerToken* GetToken(int index) const;
    // A block: "numberOfTokens", then each token's block; reading appends the tokens read.
    void StreamProperties(IOStream* stream);

private:
    std::vector<TriggerToken*> m_tokens;
};

} // namespace GAME
