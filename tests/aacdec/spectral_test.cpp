// Stereo and noise tools on hand-set channel streams: intensity, M/S,
// correlated noise, the generator's progression and TNS ranges.
#include "aac_block_writer.h"
#include "aacdec/aac_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

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
        ch->scalefactor[5] = 20 - 100;  // noise energy 20, stored like a scalefactor
        ch->usesNoise = 1;
    }
    ch1->scalefactor[5] = 24 - 100;  // 6 dB louder
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

// One noise band through the parser and the tools: the first noise energy is
// global_gain - 90 + (9-bit value - 256), and every window's band carries
// the energy 2^(energy/2) at the inverse quantiser's scale (2^-9 long,
// 2^-6 short, as a scalefactor of 100 and q = 1 would give per line).
TEST(AacNoiseSubstitution, BandEnergyFromTheCodedNoiseEnergy) {
    aactest::CoreHarness h(22050);
    for (int windowSequence : {0, 2}) {
        for (const auto& [gain, value] : {std::pair{120, 256}, std::pair{100, 230}, std::pair{150, 300}}) {
            aactest::BitWriter w;
            w.Put(0, 3);  // SCE
            w.Put(0, 4);
            w.Put(static_cast<uint32_t>(gain), 8);
            aactest::IcsSpec s;
            s.windowSequence = windowSequence;
            s.maxSfb = 3;
            aactest::WriteIcsInfo(w, s);
            const bool isShort = windowSequence == 2;
            // Sections: zero band, noise band, zero band (one group).
            for (int cb : {0, 13, 0}) {
                w.Put(static_cast<uint32_t>(cb), 4);
                w.Put(1, isShort ? 3 : 5);
            }
            w.Put(static_cast<uint32_t>(value), 9);
            w.Put(0, 3);  // no pulse, TNS or gain control data
            aactest::WriteEnd(w);
            ASSERT_EQ(h.Decode(w.bytes), 0);
            const std::vector<int>& off = isShort ? aactest::ShortOffsets22050() : aactest::LongOffsets22050();
            const int energy = gain - 90 + value - 256;
            const double expected = std::pow(2.0, 0.5 * energy - 2.0 * (isShort ? 6 : 9));
            const float* x = h.Core().concealment[0].storedSpectrum;
            for (int win = 0; win < (isShort ? 8 : 1); ++win) {
                double band = 0.0, outside = 0.0;
                for (int k = 0; k < (isShort ? 128 : 1024); ++k) {
                    const double e = static_cast<double>(x[win * 128 + k]) * x[win * 128 + k];
                    (k >= off[1] && k < off[2] ? band : outside) += e;
                }
                EXPECT_NEAR(band / expected, 1.0, 1e-5) << "window " << win << ", energy " << energy;
                EXPECT_EQ(outside, 0.0);
            }
        }
    }
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
