// All G.729 encoder objects of a process continue one codec history, and
// all decoder objects another; creation after the first and destruction
// never reset it. Kept in its own executable so that the history starts
// fresh here whatever order the tests run in.
#include "g729/g729_codec.h"
#include "g729_test_io.h"
#include "recording_sink.h"

#include <aurivane/aurivane.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace aurivane::test {
namespace {

std::vector<uint8_t> Bytes(const int16_t* pcm, std::size_t samples) {
    std::vector<uint8_t> out(2 * samples);
    for (std::size_t i = 0; i < samples; ++i) {
        out[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]));
        out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
    }
    return out;
}

// Runs data through a new object of the class, then destroys the object.
std::vector<uint8_t> ThroughNewObject(const ClassId* id, const std::vector<uint8_t>& data) {
    auto* filter = static_cast<AudioFilter*>(CreateObject(id));
    EXPECT_NE(filter, nullptr);
    if (filter == nullptr) return {};
    RecordingSink sink;
    filter->AddSink(&sink);
    EXPECT_EQ(filter->Process(data.data(), static_cast<uint32_t>(data.size())), 1);
    DestroyObject(id, filter);
    EXPECT_EQ(sink.deliveries.size(), 1u);
    return sink.deliveries.empty() ? std::vector<uint8_t>() : sink.deliveries[0].bytes;
}

TEST(G729SharedState, EncoderObjectsContinueOneHistory) {
    const std::vector<int16_t> speech = LoadSpeechItem("us_male");
    const std::vector<uint8_t> piece = Bytes(&speech[6000], 80);

    // What a single codec state makes of the same 80 samples three times.
    auto single = std::make_unique<G729EncoderState>();
    std::vector<uint8_t> expected(30);
    for (int k = 0; k < 3; ++k) single->EncodeFrame(&speech[6000], &expected[10 * k]);
    ASSERT_NE(std::vector<uint8_t>(expected.begin(), expected.begin() + 10),
              std::vector<uint8_t>(expected.begin() + 10, expected.begin() + 20))
        << "the coder has memory: repeated input must give a different frame";

    auto* first = static_cast<AudioFilter*>(CreateObject(&kG729EncoderId));
    ASSERT_NE(first, nullptr);
    RecordingSink sink;
    first->AddSink(&sink);
    first->Process(piece.data(), 160);
    // A second object made while the first lives continues its history...
    const std::vector<uint8_t> second = ThroughNewObject(&kG729EncoderId, piece);
    DestroyObject(&kG729EncoderId, first);
    // ...and so does one made after both are gone.
    const std::vector<uint8_t> third = ThroughNewObject(&kG729EncoderId, piece);

    ASSERT_EQ(sink.deliveries.size(), 1u);
    EXPECT_EQ(sink.deliveries[0].bytes, std::vector<uint8_t>(expected.begin(), expected.begin() + 10));
    EXPECT_EQ(second, std::vector<uint8_t>(expected.begin() + 10, expected.begin() + 20));
    EXPECT_EQ(third, std::vector<uint8_t>(expected.begin() + 20, expected.begin() + 30));
}

TEST(G729SharedState, DecoderObjectsContinueOneHistory) {
    const std::vector<int16_t> speech = LoadSpeechItem("gb_female");
    const std::vector<uint8_t> frames = OursEncodeAll(std::vector<int16_t>(speech.begin(), speech.begin() + 8000));

    auto single = std::make_unique<G729DecoderState>();
    std::vector<int16_t> expected(3 * 800);
    for (std::size_t f = 0; f < 30; ++f) single->DecodeFrame(&frames[10 * (f % 10) + 400], &expected[80 * f]);
    const std::vector<uint8_t> piece(frames.begin() + 400, frames.begin() + 500);
    ASSERT_NE(std::vector<int16_t>(expected.begin(), expected.begin() + 800),
              std::vector<int16_t>(expected.begin() + 800, expected.begin() + 1600))
        << "the decoder has memory: repeated frames must decode differently";

    std::vector<uint8_t> got;
    for (int k = 0; k < 3; ++k) {
        const std::vector<uint8_t> out = ThroughNewObject(&kG729DecoderId, piece);
        got.insert(got.end(), out.begin(), out.end());
    }
    EXPECT_EQ(got, Bytes(expected.data(), expected.size()));
}

}  // namespace
}  // namespace aurivane::test
