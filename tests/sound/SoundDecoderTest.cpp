#include "sound/SoundDecoder.h"
#include "datakit/SoundWriter.h"

#include <cstring>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using DataKit::SoundWriter;

std::vector<uint8_t> Encoded(int channels, SoundWriter::Format format, float seconds = 0.25f,
                             int rate = 22050)
{
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(SoundWriter::Encode(SoundWriter::Tone(440.0f, seconds, rate, channels, 0.5f), channels, rate,
                                    format, bytes));
    return bytes;
}

TEST(SoundDecoderTest, DecodesWaveFlacAndVorbisAndMixesDownToMono)
{
    for (SoundWriter::Format format :
         {SoundWriter::FORMAT_WAV, SoundWriter::FORMAT_FLAC, SoundWriter::FORMAT_OGG}) {
        const std::vector<uint8_t> stereo = Encoded(2, format);
        SoundSamples out;
        std::string error;
        ASSERT_TRUE(SoundDecoder::Decode(stereo.data(), stereo.size(), false, out, error)) << format << error;
        EXPECT_EQ(out.channels, 2);
        EXPECT_EQ(out.rate, 22050);
        EXPECT_NEAR(static_cast<double>(out.GetFrames()), 0.25 * 22050, 2.0) << format;
        ASSERT_TRUE(SoundDecoder::Decode(stereo.data(), stereo.size(), true, out, error));
        EXPECT_EQ(out.channels, 1);
        EXPECT_NEAR(static_cast<double>(out.samples.size()), 0.25 * 22050, 2.0);
        int peak = 0;
        for (int16_t s : out.samples)
            peak = std::max(peak, std::abs(static_cast<int>(s)));
        EXPECT_NEAR(peak, 0.5 * 32767, 0.1 * 32767) << "mixing down keeps the level of equal channels";
    }
}

TEST(SoundDecoderTest, RefusesWhatItCannotOrShouldNotDecode)
{
    SoundSamples out;
    std::string error;
    // Not one of the three containers, though libsndfile would read it.
    std::vector<int16_t> tone = SoundWriter::Tone(440.0f, 0.1f, 22050, 1, 0.5f);
    EXPECT_FALSE(SoundDecoder::Decode(tone.data(), tone.size() * 2, false, out, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(out.samples.empty());

    // Three channels.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SoundWriter::Encode(SoundWriter::Tone(440.0f, 0.1f, 22050, 3, 0.5f), 3, 22050,
                                    SoundWriter::FORMAT_WAV, bytes));
    EXPECT_FALSE(SoundDecoder::Decode(bytes.data(), bytes.size(), false, out, error));
    EXPECT_EQ(error, "unsupported channel count");

    // A rate outside 4 to 192 kHz.
    ASSERT_TRUE(SoundWriter::Encode(tone, 1, 2000, SoundWriter::FORMAT_WAV, bytes));
    EXPECT_FALSE(SoundDecoder::Decode(bytes.data(), bytes.size(), false, out, error));
    EXPECT_EQ(error, "unsupported sample rate");

    // Every cut of each format either fails or yields no more than the whole holds.
    for (SoundWriter::Format format :
         {SoundWriter::FORMAT_WAV, SoundWriter::FORMAT_FLAC, SoundWriter::FORMAT_OGG}) {
        const std::vector<uint8_t> whole = Encoded(1, format, 0.1f);
        for (size_t cut = 0; cut < whole.size(); cut += std::max<size_t>(1, whole.size() / 40)) {
            if (SoundDecoder::Decode(whole.data(), cut, false, out, error))
                EXPECT_LE(out.GetFrames(), static_cast<size_t>(0.1 * 22050 + 2)) << format << " cut " << cut;
            else
                EXPECT_TRUE(out.samples.empty());
        }
    }
}

TEST(SoundDecoderTest, HeaderClaimingMoreFramesThanItHoldsStopsAtTheData)
{
    std::vector<uint8_t> bytes = Encoded(1, SoundWriter::FORMAT_WAV, 0.1f);
    // The data chunk's size (at byte 40 of a plain 44-byte header) claims nearly 4 GiB.
    ASSERT_EQ(std::memcmp(bytes.data() + 36, "data", 4), 0);
    const uint32_t huge = 0xFFFFFFF0u;
    std::memcpy(bytes.data() + 40, &huge, 4);
    SoundSamples out;
    std::string error;
    if (SoundDecoder::Decode(bytes.data(), bytes.size(), false, out, error))
        EXPECT_LE(out.GetFrames(), static_cast<size_t>(0.1 * 22050 + 2));
    else
        EXPECT_TRUE(out.samples.empty());
}

} // namespace
} // namespace GAME
