// The program's audio reading as the tests and commands see it: exact 16-bit
// round trips, streamed sizes accepted, damage refused with a reason.
#include "wav_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(WavFile, RoundTripsAnyChannelCountAndRate) {
    for (uint16_t ch : {1, 2, 6}) {
        for (uint32_t rate : {8000u, 22050u, 96000u}) {
            const WavData in = Sample(ch, rate);
            const std::vector<uint8_t> bytes = SerialiseWav(in);
            WavData out;
            std::string error;
            ASSERT_TRUE(ParseWav(bytes.data(), bytes.size(), &out, &error)) << error;
            EXPECT_EQ(out.channels, ch);
            EXPECT_EQ(out.sampleRate, rate);
            EXPECT_EQ(out.samples, in.samples);
        }
    }
}

TEST(WavFile, StreamedSizesAreReadAndCutDataIsRefused) {
    WavData out;
    std::string error;
    // A WAV written to a pipe declares 0xFFFFFFFF for RIFF and data: all that is there is read.
    std::vector<uint8_t> streamed = SerialiseWav(Sample(2, 8000));
    ASSERT_EQ(std::memcmp(streamed.data() + 36, "data", 4), 0);
    Put32(streamed, 4, 0xFFFFFFFFu);
    Put32(streamed, 40, 0xFFFFFFFFu);
    ASSERT_TRUE(ParseWav(streamed.data(), streamed.size(), &out, &error)) << error;
    EXPECT_EQ(out.samples, Sample(2, 8000).samples);

    // A file that ends before its data chunk does is damaged, not short.
    const std::vector<uint8_t> good = SerialiseWav(Sample(1, 8000));
    EXPECT_FALSE(ParseWav(good.data(), good.size() - 6, &out, &error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
    for (std::size_t n = 0; n < 40; ++n) EXPECT_FALSE(ParseWav(good.data(), n, &out, &error)) << n;
    // Cut inside the data chunk's size field: refused, or read as no audio at all.
    for (std::size_t n = 40; n < 44; ++n) {
        out.samples.assign(1, 0);
        EXPECT_TRUE(!ParseWav(good.data(), n, &out, &error) || out.samples.empty()) << n;
    }
    const char text[] = "sample,value\n0,12\n1,-4\n";
    EXPECT_FALSE(ParseWav(reinterpret_cast<const uint8_t*>(text), sizeof text - 1, &out, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace

namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
    }
    return bytes;
}

TEST(WavFile, StreamedWriterMatchesTheWholeFileWriter) {
    // Over two blocks, written in uneven pieces both ways; the file must be
    // byte for byte what the whole-image writer produces.
    WavData in;
    in.channels = 2;
    in.sampleRate = 44100;
    const std::size_t count = aurivane::WavWriter::kBlockBytes + 12346;
    for (std::size_t i = 0; i < count; ++i) in.samples.push_back(static_cast<int16_t>(i * 7919 % 65536 - 32768));
    const std::string streamed = ::testing::TempDir() + "/wav_writer_streamed.wav";
    const std::string whole = ::testing::TempDir() + "/wav_writer_whole.wav";
    aurivane::WavWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(streamed, &error)) << error;
    std::size_t at = 0;
    for (std::size_t piece = 1; at < count; piece = piece * 3 + 1) {
        const std::size_t n = std::min({piece, count - at, aurivane::WavWriter::kBlockBytes / 2});
        if (piece % 2) {
            ASSERT_TRUE(writer.Write(in.samples.data() + at, n));
        } else {
            std::memcpy(writer.Reserve(n), in.samples.data() + at, 2 * n);
            writer.Commit(n);
        }
        at += n;
    }
    EXPECT_EQ(writer.Reserve(aurivane::WavWriter::kBlockBytes / 2 + 1), nullptr);
    EXPECT_EQ(writer.SamplesWritten(), count);
    ASSERT_TRUE(writer.Finish(in.sampleRate, in.channels, &error)) << error;
    ASSERT_TRUE(aurivane::WriteWav(whole, in, &error)) << error;
    const std::vector<uint8_t> a = FileBytes(streamed);
    ASSERT_EQ(a.size(), 44 + 2 * count);
    EXPECT_TRUE(a == FileBytes(whole));
    WavData out;
    ASSERT_TRUE(aurivane::ReadWav(streamed, &out, &error)) << error;
    EXPECT_EQ(out.samples, in.samples);
    std::remove(streamed.c_str());
    std::remove(whole.c_str());
}

}  // namespace
