// Stereo and noise tools on hand-set channel streams: intensity, M/S,
// correlated noise, the generator's progression and TNS ranges.
#include "aacdec/aac_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace aurivane {
namespace {

std::unique_ptr<ChannelStream> LongChannel(int maxSfb) {
    auto ch = std::make_unique<ChannelStream>();
    std::memset(ch.get(), 0, sizeof(ChannelStream));
    const BandTable& t = kBandTables[4];  // 22050 Hz
    ch->ics.windowSequence = kOnlyLong;
    ch->ics.maxSfb = static_cast<uint8_t>(maxSfb);
    ch->ics.numGroups = 1;
    ch->ics.groupLength[0] = 1;
    ch->ics.numBands = static_cast<uint8_t>(t.numLong);
    ch->ics.rateIndex = 4;
    ch->ics.offsets = t.longOffsets;
    for (int k = 0; k < 1024; ++k) ch->spectrum[k] = static_cast<float>((k % 7) - 3) * 10.0f;
    return ch;
}

TEST(AacStereoTools, IntensityPositionZeroCopiesChannel0) {
    auto ch0 = LongChannel(4);
    auto ch1 = LongChannel(4);
    ch1->sectionCodebook[2] = 15;
    ch1->scalefactor[2] = -100;  // position 0
    ch1->sectionCodebook[3] = 14;
    ch1->scalefactor[3] = -96;  // position 4: scale 0.5, inverted
    ApplyIntensity(ch0.get(), ch1.get());
    const uint16_t* off = ch0->ics.offsets;
    for (int k = off[2]; k < off[3]; ++k) EXPECT_EQ(ch1->spectrum[k], ch0->spectrum[k]);
    for (int k = off[3]; k < off[4]; ++k) EXPECT_EQ(ch1->spectrum[k], -0.5f * ch0->spectrum[k]);
    // With common window and the M/S bit set the sign flips.
    ch1->commonWindow = 1;
    ch0->msMask[2] = 1;
    ApplyIntensity(ch0.get(), ch1.get());
    for (int k = off[2]; k < off[3]; ++k) EXPECT_EQ(ch1->spectrum[k], -ch0->spectrum[k]);
}

TEST(AacStereoTools, MidSideOnlyWhereMarked) {
    auto ch0 = LongChannel(3);
    auto ch1 = LongChannel(3);
    for (int k = 0; k < 1024; ++k) ch1->spectrum[k] = 1.0f;
    const std::vector<float> l(ch0->spectrum, ch0->spectrum + 1024);
    ch0->msMask[1] = 1;
    ApplyMidSide(ch0.get(), ch1.get());
    const uint16_t* off = ch0->ics.offsets;
    for (int k = 0; k < 1024; ++k) {
        const bool marked = k >= off[1] && k < off[2];
        EXPECT_EQ(ch0->spectrum[k], marked ? l[k] + 1.0f : l[k]);
        EXPECT_EQ(ch1->spectrum[k], marked ? l[k] - 1.0f : 1.0f);
    }
}

TEST(AacNoiseSubstitution, CorrelatedNoiseInBothChannelsSkipsMidSide) {
    auto ch0 = LongChannel(6);
    auto ch1 = LongChannel(6);
    for (ChannelStream* ch : {ch0.get(), ch1.get()}) {
        ch->sectionCodebook[5] = 13;
        ch->pnsFlag[5] = 1;
        ch->scalefactor[5] = 20;
        ch->usesNoise = 1;
    }
    ch1->scalefactor[5] = 24;  // 6 dB louder
    ch0->msMask[5] = 1;
    NoiseGenerator noise{123, 7};
    ApplyNoiseCorrelationCheck(ch0.get(), ch1.get());
    EXPECT_EQ(ch0->msMask[5], 0);
    EXPECT_EQ(ch0->correlated[5], 1);
    ApplyMidSide(ch0.get(), ch1.get());
    ApplyNoiseSubstitution(ch0.get(), 0, ch0.get(), &noise);
    ApplyNoiseSubstitution(ch1.get(), 1, ch0.get(), &noise);
    const uint16_t* off = ch0->ics.offsets;
    double energy = 0.0;
    for (int k = off[5]; k < off[6]; ++k) {
        EXPECT_FLOAT_EQ(ch1->spectrum[k], 2.0f * ch0->spectrum[k]);
        energy += static_cast<double>(ch0->spectrum[k]) * ch0->spectrum[k];
    }
    // Band energy is the square of 2^(0.25 * 20 - 9).
    EXPECT_NEAR(std::sqrt(energy), std::pow(2.0, 5.0 - 9.0), 1e-6);
}

TEST(AacNoiseSubstitution, GeneratorAdvancesBetweenFrames) {
    NoiseGenerator noise{0, 0};
    std::vector<float> frames[2];
    for (int f = 0; f < 2; ++f) {
        auto ch = LongChannel(2);
        ch->pnsFlag[1] = 1;
        ch->scalefactor[1] = 40;
        ch->usesNoise = 1;
        ApplyNoiseSubstitution(ch.get(), 0, ch.get(), &noise);
        ++noise.increment;  // after channel 0 of every element
        frames[f].assign(ch->spectrum + ch->ics.offsets[1], ch->spectrum + ch->ics.offsets[2]);
    }
    EXPECT_NE(frames[0], frames[1]);
    EXPECT_EQ(noise.increment, 2);
}

TEST(AacTns, EmptyRangeDoesNothingAndFilterChangesTheBand) {
    auto ch = LongChannel(20);
    const std::vector<float> before(ch->spectrum, ch->spectrum + 1024);
    ch->tns.present = 1;
    ch->tns.numFilters[0] = 2;
    // Filter 0: top 47, length 30 -> bands 17..47, clipped to max_sfb 20.
    // Filter 1: bottom = top = 17 - 0: empty.
    TnsFilter& f0 = ch->tns.filters[0][0];
    f0.length = 30;
    f0.order = 2;
    f0.coefRes = 1;
    f0.coef[0] = 5;
    f0.coef[1] = -3;
    TnsFilter& f1 = ch->tns.filters[0][1];
    f1.length = 0;
    f1.order = 3;
    f1.coef[0] = 3;
    ApplyTns(ch.get());
    const uint16_t* off = ch->ics.offsets;
    for (int k = 0; k < 1024; ++k) {
        if (k >= off[17] && k < off[20]) continue;
        EXPECT_EQ(ch->spectrum[k], before[k]) << k;
    }
    int changed = 0;
    for (int k = off[17]; k < off[20]; ++k) changed += ch->spectrum[k] != before[k];
    EXPECT_GT(changed, (off[20] - off[17]) / 2);
    // First line of the range: no history yet.
    EXPECT_EQ(ch->spectrum[off[17]], before[off[17]]);
}

}  // namespace
}  // namespace aurivane
