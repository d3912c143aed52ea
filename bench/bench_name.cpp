// Name::Create against OpenSSL's one-shot MD5 of the same zero-terminated texts (its natural
// limit), against EVP_Digest with an implicit fetch of the digest on every call, and against an EVP
// context reused with a digest fetched once.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "common/BenchReport.h"
#include "core/Name.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kNames = 100000;
constexpr int kRounds = 15;

std::vector<std::string> MakeNames()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_/.";
    std::mt19937 random(20240601u);
    std::uniform_int_distribution<int> length(8, 64);
    std::uniform_int_distribution<int> letter(0, static_cast<int>(sizeof(alphabet)) - 2);
    std::vector<std::string> names(kNames);
    for (auto& name : names) {
        name.resize(static_cast<size_t>(length(random)));
        for (auto& c : name)
            c = alphabet[letter(random)];
    }
    return names;
}

unsigned int Word0(const unsigned char* digest)
{
    return static_cast<unsigned int>(digest[0]) | static_cast<unsigned int>(digest[1]) << 8 |
           static_cast<unsigned int>(digest[2]) << 16 | static_cast<unsigned int>(digest[3]) << 24;
}

volatile unsigned int g_sink;

} // namespace

const char* const kHelp = R"(bench_name: GAME::Name::Create (an MD5 of the text) against OpenSSL.

Measures, with no render device: Name::Create over 100,000 zero-terminated texts, best of 15 rounds.
References, in the same run: OpenSSL's one-shot MD5 of the same texts (the natural limit),
EVP_Digest fetching the digest on every call, and an EVP context reused with a digest fetched once.

Figures (last lines of the output); lower is better for each:
  value name_create_time                     ns a name
  value md5_one_shot_time                    ns a one-shot MD5
  ratio name_create_vs_evp_reused_context    Name::Create / reused EVP context
  ratio name_create_vs_evp_digest            Name::Create / EVP_Digest
  ratio name_create_vs_md5                   Name::Create / one-shot MD5 (1 is the floor)
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    const std::vector<std::string> names = MakeNames();
    std::vector<const char*> texts;
    for (const auto& name : names)
        texts.push_back(name.c_str());

    EVP_MD* md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!md5 || !context) {
        std::fprintf(stderr, "bench_name: OpenSSL has no MD5\n");
        return 1;
    }

    // Every digest must agree before any is timed.
    for (const char* text : texts) {
        unsigned char digest[MD5_DIGEST_LENGTH];
        MD5(reinterpret_cast<const unsigned char*>(text), std::strlen(text), digest);
        if (std::memcmp(GAME::Name::Create(text).GetDigest(), digest, sizeof(digest)) != 0) {
            std::fprintf(stderr, "bench_name: Name::Create disagrees with MD5 for \"%s\"\n", text);
            return 1;
        }
    }

    auto name = [&] {
        unsigned int sum = 0;
        for (const char* text : texts)
            sum += GAME::Name::Create(text).Hash();
        g_sink = sum;
    };
    auto md5OneShot = [&] {
        unsigned int sum = 0;
        unsigned char digest[MD5_DIGEST_LENGTH];
        for (const char* text : texts) {
            MD5(reinterpret_cast<const unsigned char*>(text), std::strlen(text), digest);
            sum += Word0(digest);
        }
        g_sink = sum;
    };
    auto evpImplicit = [&] {
        unsigned int sum = 0;
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        for (const char* text : texts) {
            EVP_Digest(text, std::strlen(text), digest, &size, EVP_md5(), nullptr);
            sum += Word0(digest);
        }
        g_sink = sum;
    };
    auto evpReused = [&] {
        unsigned int sum = 0;
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        for (const char* text : texts) {
            EVP_DigestInit_ex2(context, md5, nullptr);
            EVP_DigestUpdate(context, text, std::strlen(text));
            EVP_DigestFinal_ex(context, digest, &size);
            sum += Word0(digest);
        }
        g_sink = sum;
    };

    // Rounds interleave the candidates so that a disturbed stretch of time hits all of them.
    double best[4];
    std::fill(best, best + 4, std::numeric_limits<double>::infinity());
    for (int round = 0; round < kRounds; ++round) {
        best[0] = std::min(best[0], BestOf(1, name));
        best[1] = std::min(best[1], BestOf(1, md5OneShot));
        best[2] = std::min(best[2], BestOf(1, evpImplicit));
        best[3] = std::min(best[3], BestOf(1, evpReused));
    }
    EVP_MD_CTX_free(context);
    EVP_MD_free(md5);

    BenchReport report;
    report.Value("name_create_time", best[0] * 1e9 / kNames, "ns");
    report.Value("md5_one_shot_time", best[1] * 1e9 / kNames, "ns");
    report.Ratio("name_create_vs_evp_reused_context", best[0] / best[3]);
    report.Ratio("name_create_vs_evp_digest", best[0] / best[2]);
    report.Ratio("name_create_vs_md5", best[0] / best[1]);
    report.Print();
    return 0;
}
