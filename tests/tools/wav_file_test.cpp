#include "wav_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using aurivane::ParseWav;
using aurivane::SerialiseWav;
using aurivane::WavData;

WavData Sample(uint16_t channels, uint32_t rate) {
    WavData w;
    w.channels = channels;
    w.sampleRate = rate;
    for (int i = 0; i < 10 * channels; ++i) w.samples.push_back(static_cast<int16_t>(i * 1000 - 32768));
    return w;
}

TEST(WavFile, RoundTripMonoAndStereoAnyRate) {
    for (uint16_t ch : {1, 2}) {
        for (uint32_t rate : {8000u, 22050u, 44100u, 96000u}) {
            const WavData in = Sample(ch, rate);
            const std::vector<uint8_t> bytes = SerialiseWav(in);
            ASSERT_EQ(bytes.size(), 44 + in.samples.size() * 2);
            WavData out;
            std::string error;
            ASSERT_TRUE(ParseWav(bytes.data(), bytes.size(), &out, &error)) << error;
            EXPECT_EQ(out.channels, ch);
            EXPECT_EQ(out.sampleRate, rate);
            EXPECT_EQ(out.samples, in.samples);
        }
    }
}

TEST(WavFile, SkipsUnknownChunksAndClipsLyingSizes) {
    std::vector<uint8_t> bytes = SerialiseWav(Sample(1, 8000));
    // Insert an odd-sized LIST chunk (padded) before 'fmt '.
    const uint8_t list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    bytes.insert(bytes.begin() + 12, list, list + sizeof list);
    WavData out;
    std::string error;
    ASSERT_TRUE(ParseWav(bytes.data(), bytes.size(), &out, &error)) << error;
    EXPECT_EQ(out.samples.size(), 10u);

    // A data size larger than the file: what is there is read.
    std::vector<uint8_t> lying = SerialiseWav(Sample(2, 8000));
    lying[40] = 0xFF;
    lying[41] = 0xFF;
    lying[42] = 0xFF;
    lying[43] = 0x7F;
    lying.resize(lying.size() - 3);  // also cut mid-frame
    ASSERT_TRUE(ParseWav(lying.data(), lying.size(), &out, &error)) << error;
    EXPECT_EQ(out.samples.size(), 18u);  // nine whole stereo frames
}

TEST(WavFile, RejectsWhatItCannotRead) {
    std::string error;
    WavData out;
    const std::vector<uint8_t> good = SerialiseWav(Sample(1, 8000));
    // Every truncation of the header fails cleanly or yields whole frames.
    for (std::size_t n = 0; n < 44; ++n) {
        EXPECT_FALSE(ParseWav(good.data(), n, &out, &error)) << n;
    }
    auto with = [&](std::size_t offset, uint8_t value) {
        std::vector<uint8_t> b = good;
        b[offset] = value;
        return b;
    };
    std::vector<uint8_t> b = with(34, 8);  // 8-bit samples
    EXPECT_FALSE(ParseWav(b.data(), b.size(), &out, &error));
    EXPECT_NE(error.find("16-bit"), std::string::npos);
    b = with(22, 3);  // three channels
    EXPECT_FALSE(ParseWav(b.data(), b.size(), &out, &error));
    b = with(20, 3);  // not PCM
    EXPECT_FALSE(ParseWav(b.data(), b.size(), &out, &error));
    b = with(0, 'X');
    EXPECT_FALSE(ParseWav(b.data(), b.size(), &out, &error));
    // A chunk size that runs past the end before any 'data' chunk.
    b = with(16, 0xFF);
    b[17] = 0xFF;
    b[18] = 0xFF;
    b[19] = 0xFF;
    EXPECT_FALSE(ParseWav(b.data(), b.size(), &out, &error));
}

}  // namespace
