// The G.729 engine filters through the exported factory: how byte counts
// are cut into frames, what the sinks receive, and hostile arguments.
#include "g729_test_io.h"
#include "recording_sink.h"

#include <aurivane/aurivane.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace aurivane::test {
namespace {

template <const ClassId* Id>
class FilterHandle {
public:
    FilterHandle() : object_(static_cast<AudioFilter*>(CreateObject(Id))) {}
    ~FilterHandle() { DestroyObject(Id, object_); }
    AudioFilter* operator->() const { return object_; }
    AudioFilter* get() const { return object_; }

private:
    AudioFilter* object_;
};

using Encoder = FilterHandle<&kG729EncoderId>;
using Decoder = FilterHandle<&kG729DecoderId>;

std::vector<uint8_t> SpeechBytes(std::size_t bytes, std::size_t offset = 0) {
    const std::vector<int16_t> speech = LoadSpeechItem("us_male");
    std::vector<uint8_t> out(bytes + offset);
    for (std::size_t i = 0; i < bytes / 2; ++i) {
        const auto v = static_cast<uint16_t>(speech[(4000 + i) % speech.size()]);
        out[offset + 2 * i] = static_cast<uint8_t>(v);
        out[offset + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    return out;
}

TEST(G729EncoderFilter, CutsInputIntoWholeFrames) {
    Encoder enc;
    ASSERT_NE(enc.get(), nullptr);
    RecordingSink a, b;
    EXPECT_EQ(enc->AddSink(&a), 1);
    EXPECT_EQ(enc->AddSink(&b), 1);
    const std::vector<uint8_t> pcm = SpeechBytes(330);

    for (uint32_t count : {320u, 330u}) {
        EXPECT_EQ(enc->Process(pcm.data(), count), 1);
    }
    EXPECT_EQ(enc->Process(pcm.data(), 159), 1);
    EXPECT_EQ(enc->Process(pcm.data(), 0), 1);
    for (RecordingSink* s : {&a, &b}) {
        ASSERT_EQ(s->deliveries.size(), 4u);
        EXPECT_EQ(s->deliveries[0].bytes.size(), 20u);
        EXPECT_EQ(s->deliveries[1].bytes.size(), 20u);
        // Too short for a frame: still one zero-length delivery per call.
        EXPECT_EQ(s->deliveries[2].bytes.size(), 0u);
        EXPECT_EQ(s->deliveries[3].bytes.size(), 0u);
        EXPECT_FALSE(s->deliveries[2].nullData);
    }
    // Both sinks see the same frames.
    EXPECT_EQ(a.deliveries[1].bytes, b.deliveries[1].bytes);
    for (std::size_t f = 0; f < 2; ++f) {
        const FrameParameters p = UnpackFrame(&a.deliveries[1].bytes[10 * f]);
        EXPECT_TRUE(ParityMatches(p));
    }
}

TEST(G729EncoderFilter, AcceptsUnalignedInput) {
    Encoder enc;
    RecordingSink sink;
    enc->AddSink(&sink);
    const std::vector<uint8_t> pcm = SpeechBytes(1600, 1);
    EXPECT_EQ(enc->Process(pcm.data() + 1, 1600), 1);
    ASSERT_EQ(sink.deliveries.size(), 1u);
    EXPECT_EQ(sink.deliveries[0].bytes.size(), 100u);
}

TEST(G729EncoderFilter, SinkListFollowsInsertionOrderAndFirstMatchRemoval) {
    Encoder enc;
    RecordingSink a, b;
    EXPECT_EQ(enc->RemoveSink(&a), 0);
    enc->AddSink(&a);
    enc->AddSink(&b);
    enc->AddSink(&a);
    EXPECT_EQ(enc->RemoveSink(&a), 1);
    enc->Process(SpeechBytes(160).data(), 160);
    EXPECT_EQ(a.deliveries.size(), 1u);
    EXPECT_EQ(b.deliveries.size(), 1u);
    EXPECT_EQ(enc->RemoveSink(&a), 1);
    EXPECT_EQ(enc->RemoveSink(&a), 0);
    enc->Process(SpeechBytes(160).data(), 160);
    EXPECT_EQ(a.deliveries.size(), 1u);
    EXPECT_EQ(b.deliveries.size(), 2u);
}

TEST(G729DecoderFilter, CutsInputIntoWholeFrames) {
    Decoder dec;
    ASSERT_NE(dec.get(), nullptr);
    RecordingSink a, b;
    dec->AddSink(&a);
    dec->AddSink(&b);
    std::vector<uint8_t> frames(25);
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<uint8_t>(37 * i + 11);
    EXPECT_EQ(dec->Process(frames.data(), 25), 1);
    EXPECT_EQ(dec->Process(frames.data(), 9), 1);
    // A frame whose parity bit (bit 26) is inverted still decodes to 160
    // bytes; given at an odd address as well.
    std::vector<uint8_t> badParity(11);
    std::copy(frames.begin(), frames.begin() + 10, badParity.begin() + 1);
    const bool parityBefore = ParityMatches(UnpackFrame(badParity.data() + 1));
    badParity[1 + 3] ^= 0x20;
    ASSERT_NE(ParityMatches(UnpackFrame(badParity.data() + 1)), parityBefore);
    EXPECT_EQ(dec->Process(badParity.data() + 1, 10), 1);
    for (RecordingSink* s : {&a, &b}) {
        ASSERT_EQ(s->deliveries.size(), 3u);
        EXPECT_EQ(s->deliveries[0].bytes.size(), 320u);
        EXPECT_EQ(s->deliveries[1].bytes.size(), 0u);
        EXPECT_FALSE(s->deliveries[1].nullData);
        EXPECT_EQ(s->deliveries[2].bytes.size(), 160u);
    }
}

TEST(G729Filters, NullBufferIsRefusedWithoutDelivery) {
    Encoder enc;
    Decoder dec;
    RecordingSink sink;
    enc->AddSink(&sink);
    dec->AddSink(&sink);
    EXPECT_EQ(enc->Process(nullptr, 160), 0);
    EXPECT_EQ(dec->Process(nullptr, 15), 0);  // a null count of whole frames conceals them
    EXPECT_TRUE(sink.deliveries.empty());
    // Null with a zero count is just an empty buffer.
    EXPECT_EQ(enc->Process(nullptr, 0), 1);
    EXPECT_EQ(dec->Process(nullptr, 0), 1);
    EXPECT_EQ(sink.deliveries.size(), 2u);
}

}  // namespace
}  // namespace aurivane::test
