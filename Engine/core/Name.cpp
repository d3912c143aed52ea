#include "core/Name.h"

// The low-level one-shot MD5 is deprecated in OpenSSL 3 but still the fastest route for the short
// texts names are made from: the EVP path allocates a provider context on every init, which costs
// about a third more per name even with a prefetched digest and a reused context.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <cstring>

namespace GAME {

Name Name::Create(const char* text)
{
    if (!text)
        text = "";
    unsigned char bytes[MD5_DIGEST_LENGTH];
    // A stack digest and output buffer keep this safe on the loader threads.
    MD5(reinterpret_cast<const unsigned char*>(text), std::strlen(text), bytes);

    Name name;
    for (int i = 0; i < 4; ++i) {
        const unsigned char* b = bytes + 4 * i;
        name.m_digest[i] = static_cast<unsigned int>(b[0]) | static_cast<unsigned int>(b[1]) << 8 |
                           static_cast<unsigned int>(b[2]) << 16 | static_cast<unsigned int>(b[3]) << 24;
    }
    return name;
}

void Name::SetDigest(const unsigned int digest[4])
{
    if (!digest)
        return;
    for (int i = 0; i < 4; ++i)
        m_digest[i] = digest[i];
}

std::vector<unsigned int> Name::GetMD5() const
{
    return std::vector<unsigned int>(m_digest, m_digest + 4);
}

void Name::SetMD5(const std::vector<unsigned int>& words)
{
    for (size_t i = 0; i < words.size() && i < 4; ++i)
        m_digest[i] = words[i];
}

} // namespace GAME
