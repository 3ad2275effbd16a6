// The SBR encoder's frame loop: header repetition, payload framing with and
// without CRC, and the core samples of a silent block.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sbrenc/sbr_encoder.h"
#include "sbrenc/sbr_encoder_config.h"
#include "support/sbr_payload_gen.h"

namespace aurivane {
namespace {

SbrEncoderSettings Settings(int32_t headerRepeatTimeMs, int32_t crc) {
    SbrEncoderSettings s = {};
    SbrDefaultSettings(&s);
    s.usePs = 1;
    SbrAdjustSettings(&s, 32000, 1, 22050, 8, 24000);
    s.headerRepeatTimeMs = headerRepeatTimeMs;
    s.crcFlag = crc;
    return s;
}

// Interleaved stereo frame f of a tone pair with a little noise.
std::vector<float> Frame(int f) {
    std::vector<float> x(4096);
    uint32_t seed = 99 + f;
    for (int n = 0; n < 2048; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double t = (2048.0 * f + n) / 44100.0;
        const double noise = (static_cast<int>(seed >> 16) - 32768) * 0.05;
        x[2 * n] = static_cast<float>(6000 * std::sin(2 * M_PI * 700 * t) + noise);
        x[2 * n + 1] = static_cast<float>(3000 * std::sin(2 * M_PI * 9000 * t) + noise);
    }
    return x;
}

struct Payload {
    std::vector<uint8_t> bytes;
    int Bit(int i) const { return (bytes[i >> 3] >> (7 - (i & 7))) & 1; }
};

std::vector<Payload> Encode(const SbrEncoderSettings& s, int frames, bool skipFirstPayload = false) {
    static SbrEncoder encoder;
    SbrEncoder* handle = nullptr;
    int32_t bandwidth = 0;
    EXPECT_EQ(SbrEncoderOpen(&encoder, &handle, &s, &bandwidth), 0);
    std::vector<Payload> out;
    std::vector<float> core(1024);
    for (int f = 0; f < frames; ++f) {
        uint8_t buffer[kSbrMaxPayloadBytes];
        int32_t length = -1;
        const bool skip = skipFirstPayload && f == 0;
        SbrEncoderEncodeFrame(handle, Frame(f).data(), core.data(), 1, skip ? nullptr : &length,
                              skip ? nullptr : buffer);
        if (skip) continue;
        EXPECT_GT(length, 0);
        out.push_back({std::vector<uint8_t>(buffer, buffer + length)});
    }
    SbrEncoderClose(handle);
    return out;
}

TEST(SbrEncoderFrame, HeaderEveryTenthFrameOrOnlyTheFirst) {
    const std::vector<Payload> period10 = Encode(Settings(500, 0), 25);
    for (int f = 0; f < 25; ++f) EXPECT_EQ(period10[f].Bit(4), f % 10 == 0 ? 1 : 0) << "frame " << f;
    const std::vector<Payload> once = Encode(Settings(0, 0), 25);
    for (int f = 0; f < 25; ++f) EXPECT_EQ(once[f].Bit(4), f == 0 ? 1 : 0) << "frame " << f;
    // A frame without a payload buffer still counts.
    const std::vector<Payload> skipped = Encode(Settings(500, 0), 12, true);
    for (int f = 1; f < 12; ++f) EXPECT_EQ(skipped[f - 1].Bit(4), f % 10 == 0 ? 1 : 0) << "frame " << f;
}

// Extension type 13 without and 14 with the CRC, which covers every bit
// after it including the fill; the coded data is the same either way.
TEST(SbrEncoderFrame, CrcAndExtensionType) {
    const std::vector<Payload> plain = Encode(Settings(500, 0), 12);
    const std::vector<Payload> crc = Encode(Settings(500, 1), 12);
    for (int f = 0; f < 12; ++f) {
        SCOPED_TRACE(f);
        EXPECT_EQ(plain[f].bytes[0] >> 4, kSbrExtensionData);
        EXPECT_EQ(crc[f].bytes[0] >> 4, kSbrExtensionDataCrc);
        const size_t bits = crc[f].bytes.size() * 8;
        const uint32_t field = static_cast<uint32_t>(((crc[f].bytes[0] & 0x0F) << 6) | (crc[f].bytes[1] >> 2));
        EXPECT_EQ(field, test::SbrCrc10(crc[f].bytes, 14, bits - 14));
        // The data bits follow the reserved fields unchanged; only the fill
        // up to the byte boundary may differ.
        const int dataBits = static_cast<int>(plain[f].bytes.size() * 8) - 4;
        EXPECT_LT(std::abs(static_cast<int>(bits) - 14 - dataBits), 8);
        for (int i = 0; i < std::min(dataBits, static_cast<int>(bits) - 14); ++i)
            ASSERT_EQ(plain[f].Bit(4 + i), crc[f].Bit(14 + i)) << "bit " << i;
    }
}

TEST(SbrEncoderFrame, SilentBlockGivesZeroCoreSamples) {
    static SbrEncoder encoder;
    SbrEncoder* handle = nullptr;
    const SbrEncoderSettings s = Settings(500, 0);
    int32_t bandwidth = 0;
    ASSERT_EQ(SbrEncoderOpen(&encoder, &handle, &s, &bandwidth), 0);
    EXPECT_EQ(bandwidth, (encoder.BandTables().low[0] * 44100 / 64 + 1) / 2);
    std::vector<float> silence(4096, 0.0f), core(1024, 1.0f);
    for (int f = 0; f < 3; ++f) {
        uint8_t buffer[kSbrMaxPayloadBytes];
        int32_t length = 0;
        SbrEncoderEncodeFrame(handle, silence.data(), core.data(), 1, &length, buffer);
        EXPECT_GT(length, 0);
        for (float v : core) ASSERT_EQ(v, 0.0f);
    }
    SbrEncoderClose(handle);
}

}  // namespace
}  // namespace aurivane
