// Frame concealment seen from outside: a steady tone whose records are
// replaced by damaged ones. Levels per output frame, not samples, are
// checked: a single loss is interpolated, a burst fades out and mutes, and
// recovery waits and fades back in.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "aac_peers.h"
#include "aacdec/aac_core_decoder.h"
#include "packet_stream.h"
#include "support/speech_measures.h"

namespace aurivane::aactest {
namespace {

enum class Damage { kCoupling, kEndOnly, kCutShort };

void PrintTo(Damage d, std::ostream* os) { *os << static_cast<int>(d); }

// A record that fails: a coupling channel element (status 9), a block with
// only the end element (status 1), or the record cut to two bytes, which
// runs out inside the element (status 0, yet the frame is lost).
std::vector<uint8_t> Damaged(const std::vector<uint8_t>& good, Damage d) {
    switch (d) {
        case Damage::kCoupling: return {0x40, 0x00, 0x00, 0x00};
        case Damage::kEndOnly: return {0xE0};
        default: return {good[0], good.size() > 1 ? good[1] : uint8_t{0}};
    }
}

struct Decoded {
    std::vector<std::vector<float>> frames;  // per call, 1024 samples
    std::vector<int> statuses;
};

Decoded DecodeBlocks(const std::vector<std::vector<uint8_t>>& blocks) {
    auto decoder = std::make_unique<AacCoreDecoder>();
    std::vector<uint8_t> storage(8192);
    std::vector<float> time(4096);
    BitBuffer bits;
    SbrPayloadList sbr{};
    BitBufferCreate(&bits, storage.data(), 8192);
    AacCoreDecoderOpen(decoder.get(), &bits, &sbr, time.data());
    AacCoreDecoderConfigure(decoder.get(), 22050, 0);
    Decoded out;
    for (const auto& b : blocks) {
        BitBufferCreate(&bits, storage.data(), 8192);
        for (uint8_t byte : b) BitBufferWrite(&bits, byte, 8);
        sbr.count = 0;
        int size = 0, rate = 0, channels = 0, mode = 0;
        out.statuses.push_back(AacCoreDecodeFrame(decoder.get(), &size, &rate, &channels, &mode, 1));
        out.frames.emplace_back(time.begin(), time.begin() + 1024);
    }
    return out;
}

double LevelDb(const std::vector<float>& f) {
    const double e = Energy(f.data(), f.size());
    return e > 0 ? 10.0 * std::log10(e) : -300.0;
}

class Concealment : public ::testing::TestWithParam<Damage> {
protected:
    void SetUp() override {
        std::vector<uint8_t> adts;
        ASSERT_TRUE(ReadBytes(DataDir() + "/tone_mono.aac", &adts));
        clean_ = AdtsBlocks(adts);
        ASSERT_GE(clean_.size(), 60u);
        const Decoded d = DecodeBlocks(clean_);
        // Steady level, away from the start-up frames.
        double sum = 0;
        for (std::size_t i = 10; i < 20; ++i) sum += LevelDb(d.frames[i]);
        steady_ = sum / 10;
        reference_ = d;
    }

    // Decodes with the blocks in [first, first + count) damaged; returns
    // the level of each output frame relative to the steady level.
    std::vector<double> RelativeLevels(std::size_t first, std::size_t count, Decoded* d) {
        std::vector<std::vector<uint8_t>> blocks = clean_;
        for (std::size_t i = first; i < first + count; ++i) blocks[i] = Damaged(clean_[i], GetParam());
        *d = DecodeBlocks(blocks);
        std::vector<double> levels;
        for (const auto& f : d->frames) levels.push_back(LevelDb(f) - steady_);
        return levels;
    }

    std::vector<std::vector<uint8_t>> clean_;
    Decoded reference_;
    double steady_ = 0;
};

TEST_P(Concealment, SingleLossIsInterpolatedWithoutFading) {
    Decoded d;
    const std::size_t k = 30;
    const std::vector<double> lv = RelativeLevels(k, 1, &d);
    const int expected = GetParam() == Damage::kCoupling ? 9 : (GetParam() == Damage::kEndOnly ? 1 : 0);
    EXPECT_EQ(d.statuses[k], expected);
    // Call k still outputs block k - 1; call k + 1 outputs the rebuilt block k.
    for (std::size_t n = k; n <= k + 3; ++n) EXPECT_NEAR(lv[n], 0.0, 3.0) << "frame " << n;
    const double snr = test::SnrDb(reference_.frames[k + 1], d.frames[k + 1]);
    EXPECT_LT(snr, 10.0) << "the lost frame should carry random signs, not a copy";
    EXPECT_GT(test::SnrDb(reference_.frames[k], d.frames[k]), 100.0);
    for (std::size_t n = k + 3; n < lv.size(); ++n) {
        EXPECT_GT(test::SnrDb(reference_.frames[n], d.frames[n]), 100.0) << n;
    }
}

// Output frame n overlaps the second half of spectrum n - 1 with the first
// half of spectrum n, and repeated spectra carry random signs, so a gain
// shows fully one frame after it is applied and levels are approximate.
TEST_P(Concealment, ShortBurstFadesAndRecoversAtOnce) {
    Decoded d;
    const std::size_t k = 30;
    const std::vector<double> lv = RelativeLevels(k, 2, &d);
    EXPECT_NEAR(lv[k], 0.0, 1.0);
    EXPECT_LT(lv[k + 1], 1.5);
    // Gains 0.707 and 0.5: attenuated but not muted.
    EXPECT_LT(lv[k + 2], -1.5);
    EXPECT_GT(lv[k + 2], -9.0);
    for (std::size_t n = k + 4; n < k + 10; ++n) EXPECT_NEAR(lv[n], 0.0, 1.0) << "frame " << n;
}

TEST_P(Concealment, LongBurstFadesOutMutesAndFadesBackIn) {
    Decoded d;
    const std::size_t k = 25;
    const std::size_t burst = 10;
    const std::vector<double> lv = RelativeLevels(k, burst, &d);
    EXPECT_NEAR(lv[k], 0.0, 1.0);
    EXPECT_LT(lv[k + 1], 1.5);
    // Fade-out in steps of 3 dB, then down to nothing.
    EXPECT_LT(lv[k + 2], lv[k + 1] - 2.0);
    for (std::size_t n = k + 3; n <= k + 5; ++n) EXPECT_NEAR(lv[n - 1] - lv[n], 3.0, 1.0) << "frame " << n;
    EXPECT_LT(lv[k + 6], lv[k + 5] - 3.0);
    // Muted through the rest of the burst and the first five valid frames.
    for (std::size_t n = k + 7; n <= k + burst + 4; ++n) {
        for (float v : d.frames[n]) ASSERT_EQ(v, 0.0f) << "frame " << n;
    }
    // Fade-in over five frames, then the tone is back.
    EXPECT_LT(lv[k + burst + 5], -12.0);
    for (std::size_t n = k + burst + 6; n <= k + burst + 9; ++n) {
        EXPECT_NEAR(lv[n] - lv[n - 1], 3.0, 1.0) << "frame " << n;
    }
    EXPECT_GT(lv[k + burst + 10], lv[k + burst + 9]);
    for (std::size_t n = k + burst + 11; n < k + burst + 16; ++n) EXPECT_NEAR(lv[n], 0.0, 1.0) << "frame " << n;
}

// A loss during fade-in is seen one call later and puts the state back to
// fade-out with counter 0, whose gain (0.707) is above the fade-in gains: the
// level jumps up instead of continuing the 3 dB ramp, and is back to normal
// two frames after the losses.
TEST_P(Concealment, LossDuringFadeInReturnsToFadeOut) {
    std::vector<std::vector<uint8_t>> blocks = clean_;
    const std::size_t k = 20;
    for (std::size_t i = k; i < k + 8; ++i) blocks[i] = Damaged(clean_[i], GetParam());
    // Fade-in starts at call k + 13; lose two more records in it.
    blocks[k + 14] = Damaged(clean_[k + 14], GetParam());
    blocks[k + 15] = Damaged(clean_[k + 15], GetParam());
    const Decoded d = DecodeBlocks(blocks);
    std::vector<double> lv;
    for (const auto& f : d.frames) lv.push_back(LevelDb(f) - steady_);
    EXPECT_LT(lv[k + 13], -12.0);
    EXPECT_LT(lv[k + 14], -9.0);           // fade-in gains 0.177 and 0.25
    EXPECT_GT(lv[k + 15], lv[k + 14] + 3.0);  // 0.25 then 0.707 (uninterrupted: 0.354)
    for (std::size_t n = k + 18; n < k + 24; ++n) EXPECT_NEAR(lv[n], 0.0, 1.0) << "frame " << n;
}

INSTANTIATE_TEST_SUITE_P(Damages, Concealment,
                         ::testing::Values(Damage::kCoupling, Damage::kEndOnly, Damage::kCutShort),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Damage::kCoupling: return std::string("coupling_element");
                                 case Damage::kEndOnly: return std::string("end_only");
                                 default: return std::string("cut_short");
                             }
                         });

}  // namespace
}  // namespace aurivane::aactest
