// The AacDecoder engine object: record loop, one delivery per call, the
// failure rule, PCM conversion and the bounds on its buffers.
#include "aac_block_writer.h"
#include "engine/aac_decoder_filter.h"
#include "engine/class_constructors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace aurivane {
namespace {

using aactest::IcsSpec;
using aactest::SceWithLine;
using aactest::SilentSce;

class RecordingSink final : public AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        calls.emplace_back(p, p + byteCount);
        return 1;
    }
    std::vector<std::vector<uint8_t>> calls;
};

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return s;
}

std::vector<uint8_t> Records(const std::vector<std::vector<uint8_t>>& blocks) {
    std::vector<uint8_t> out;
    for (const auto& b : blocks) {
        out.push_back(static_cast<uint8_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<uint8_t> EndOnly() {
    aactest::BitWriter w;
    aactest::WriteEnd(w);
    return w.bytes;
}

class AacDecoderFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        decoder = static_cast<AacDecoderFilter*>(NewAacDecoder());
        ASSERT_NE(decoder, nullptr);
        decoder->AddSink(&sink);
    }
    void TearDown() override { DeleteAacDecoder(decoder); }
    int32_t Feed(const std::vector<uint8_t>& bytes) { return decoder->Process(bytes.data(), static_cast<uint32_t>(bytes.size())); }

    AacDecoderFilter* decoder = nullptr;
    RecordingSink sink;
};

TEST_F(AacDecoderFilterTest, ProcessBeforeOpenFails) {
    EXPECT_EQ(Feed(Records({SilentSce()})), 0);
    EXPECT_TRUE(sink.calls.empty());
}

TEST_F(AacDecoderFilterTest, EmptyBufferDeliversOnceWithZeroBytes) {
    ASSERT_EQ(decoder->Open(7), 1);
    EXPECT_EQ(decoder->Process(nullptr, 0), 1);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_TRUE(sink.calls[0].empty());
}

TEST_F(AacDecoderFilterTest, ThreeRecordsOneDeliveryFirstSilentMonoDuplicated) {
    ASSERT_EQ(decoder->Open(0), 1);
    ASSERT_EQ(Feed(Records({SceWithLine(500, 140), SceWithLine(-300, 140), SilentSce()})), 1);
    ASSERT_EQ(sink.calls.size(), 1u);
    ASSERT_EQ(sink.calls[0].size(), 3u * 4096u);
    const std::vector<int16_t> s = Samples(sink.calls[0]);
    double first = 0.0, later = 0.0;
    for (int i = 0; i < 2048; ++i) first += std::abs(s[i]);
    for (int i = 2048; i < 3 * 2048; ++i) later += std::abs(s[i]);
    EXPECT_EQ(first, 0.0);  // one frame of delay
    EXPECT_GT(later, 1000.0);
    for (std::size_t i = 0; i < s.size(); i += 2) ASSERT_EQ(s[i], s[i + 1]) << i;
}

TEST_F(AacDecoderFilterTest, SecondOfThreeFailingDeliversNothing) {
    ASSERT_EQ(decoder->Open(0), 1);
    EXPECT_EQ(Feed(Records({SilentSce(), EndOnly(), SilentSce()})), 0);
    EXPECT_TRUE(sink.calls.empty());
    // A record of length 0 fails too.
    EXPECT_EQ(Feed(Records({SilentSce(), {}})), 0);
    EXPECT_TRUE(sink.calls.empty());
    // The decoder carries on afterwards.
    EXPECT_EQ(Feed(Records({SilentSce()})), 1);
    EXPECT_EQ(sink.calls.size(), 1u);
}

TEST_F(AacDecoderFilterTest, RecordPastTheBufferEndIsRejected) {
    ASSERT_EQ(decoder->Open(0), 1);
    std::vector<uint8_t> bytes = Records({SilentSce(), SilentSce()});
    bytes.pop_back();
    EXPECT_EQ(Feed(bytes), 0);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_EQ(Feed({200, 1, 2, 3}), 0);
}

TEST_F(AacDecoderFilterTest, TrailingBytesOfARecordDoNotShiftTheNext) {
    ASSERT_EQ(decoder->Open(0), 1);
    std::vector<uint8_t> padded = SilentSce();
    padded.push_back(0xFF);  // junk after the end element
    padded.push_back(0xFF);
    ASSERT_EQ(Feed(Records({padded, SceWithLine(500, 140), SilentSce()})), 1);
    ASSERT_EQ(sink.calls.size(), 1u);
    ASSERT_EQ(sink.calls[0].size(), 3u * 4096u);
    const std::vector<int16_t> s = Samples(sink.calls[0]);
    double third = 0.0;
    for (int i = 2 * 2048; i < 3 * 2048; ++i) third += std::abs(s[i]);
    EXPECT_GT(third, 1000.0);
}

TEST_F(AacDecoderFilterTest, OutputAreaBound) {
    ASSERT_EQ(decoder->Open(0), 1);
    const std::vector<uint8_t> one = Records({SilentSce()});
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 430; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
    ASSERT_EQ(Feed(bytes), 1);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].size(), 430u * 4096u);
    bytes.insert(bytes.end(), one.begin(), one.end());
    EXPECT_EQ(Feed(bytes), 0);
    EXPECT_EQ(sink.calls.size(), 1u);
}

TEST_F(AacDecoderFilterTest, StereoPairInterleavesLeftFirst) {
    ASSERT_EQ(decoder->Open(0), 1);
    aactest::BitWriter w;
    IcsSpec left;
    left.maxSfb = 1;
    left.globalGain = 140;
    left.codebook = {11};
    left.scalefactor = {140};
    left.quant[2] = 400;
    IcsSpec right = IcsSpec{};
    w.Put(1, 3);
    w.Put(0, 4);
    w.Put(0, 1);
    aactest::WriteIcs(w, left, true);
    aactest::WriteIcs(w, right, true);
    aactest::WriteEnd(w);
    ASSERT_EQ(Feed(Records({w.bytes, w.bytes})), 1);
    const std::vector<int16_t> s = Samples(sink.calls.at(0));
    double l = 0.0, r = 0.0;
    for (std::size_t i = 2048; i < s.size(); i += 2) {
        l += std::abs(s[i]);
        r += std::abs(s[i + 1]);
    }
    EXPECT_GT(l, 1000.0);
    EXPECT_EQ(r, 0.0);
}

TEST(AacPcmConversion, ClampsAndTruncates) {
    EXPECT_EQ(AacPcmFromFloat(40000.0f), 32767);
    EXPECT_EQ(AacPcmFromFloat(-40000.0f), -32768);
    EXPECT_EQ(AacPcmFromFloat(1.9f), 1);
    EXPECT_EQ(AacPcmFromFloat(-1.9f), -1);
    EXPECT_EQ(AacPcmFromFloat(32767.5f), 32767);
    EXPECT_EQ(AacPcmFromFloat(-32768.0f), -32768);
    EXPECT_EQ(AacPcmFromFloat(std::nanf("")), 0);
    EXPECT_EQ(AacPcmFromFloat(-INFINITY), -32768);
}

}  // namespace
}  // namespace aurivane
