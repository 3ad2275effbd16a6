// The encoder's TNS analysis filter undone by the decoder's TNS synthesis
// filter, for a long frame and a short window; a steady tone never uses TNS.
#include "aacdec/aac_channel.h"
#include "aacenc/aac_psy_config.h"
#include "aacenc/aac_psy_model.h"
#include "aacenc/aac_tns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

namespace aurivane {
namespace {

TEST(AacTns, DecoderUndoesTheEncoderFilter) {
    constexpr int kRateIndex22050 = 4;
    for (bool shortBlock : {false, true}) {
        SCOPED_TRACE(shortBlock ? "short" : "long");
        PsyConfig config;
        ASSERT_EQ(PsyConfigInit(&config, 22050, 32000, 11025, shortBlock, 1), 0);
        const int lines = shortBlock ? 128 : 1024;
        // A click inside the block: its spectrum is a sinusoid over frequency,
        // as predictable as a spectrum gets.
        auto ch = std::make_unique<ChannelStream>();
        float* x = ch->spectrum + (shortBlock ? 3 * 128 : 0);
        std::mt19937 rng(9);
        std::normal_distribution<float> noise(0.0f, 30.0f);
        for (int l = 0; l < lines; ++l) x[l] = 3000.0f * std::cos(2.4f * l + 0.3f) + noise(rng);
        float energy[kPsyMaxLongBands];
        for (int b = 0; b < config.sfbCnt; ++b) {
            energy[b] = 0.0f;
            for (int l = config.sfbOffset[b]; l < config.sfbOffset[b + 1]; ++l) energy[b] += x[l] * x[l];
        }
        float original[1024];
        std::copy(x, x + lines, original);
        float weights[1024];
        TnsWindowData data;
        TnsDetect(config.tns, x, config.sfbOffset, energy, weights, &data);
        ASSERT_TRUE(data.active);
        EXPECT_GT(data.predictionGain, 5.0f);
        TnsInfo info{};
        const int window = shortBlock ? 3 : 0;
        TnsEncode(config.tns, shortBlock, window, &data, x, &info);
        ASSERT_EQ(info.active[window], 1);
        double residual = 0.0, signal = 0.0;
        for (int l = config.tns.startLine; l < config.tns.stopLine; ++l) {
            residual += double(x[l]) * x[l];
            signal += double(original[l]) * original[l];
        }
        EXPECT_LT(residual, 0.2 * signal);

        ch->ics.windowSequence = shortBlock ? kEightShort : kOnlyLong;
        ch->ics.numBands = static_cast<uint8_t>(config.sfbCnt);
        ch->ics.maxSfb = static_cast<uint8_t>(config.sfbCnt);
        ch->ics.rateIndex = kRateIndex22050;
        ch->ics.offsets = shortBlock ? kBandTables[kRateIndex22050].shortOffsets : kBandTables[kRateIndex22050].longOffsets;
        ch->tns = TnsData{};
        ch->tns.present = 1;
        ch->tns.numFilters[window] = 1;
        TnsFilter& f = ch->tns.filters[window][0];
        f.length = info.length[window];
        f.order = info.order[window];
        f.direction = 0;
        f.coefRes = info.coefRes[window] == 4 ? 1 : 0;
        for (int m = 0; m < f.order; ++m) f.coef[m] = info.coef[window][m];
        ApplyTns(ch.get());
        double err = 0.0;
        for (int l = 0; l < lines; ++l) err = std::fmax(err, std::fabs(x[l] - original[l]));
        EXPECT_LT(err, 3000.0 * 1e-4);
    }
    float zero[kAacMaxTnsOrder + 1] = {};
    float parcor[kAacMaxTnsOrder];
    EXPECT_EQ(TnsLevinson(zero, kAacMaxTnsOrder, parcor), 1.0f);
    for (float k : parcor) EXPECT_EQ(k, 0.0f);
}

TEST(AacTns, SteadyToneLeavesTnsOff) {
    AacPsyModel model;
    ASSERT_EQ(model.Open(22050, 32000, 1, 11025, 3), 0);
    float frame[1024];
    auto out = std::make_unique<PsyOutput>();
    for (int f = 0; f < 20; ++f) {
        // 16-bit PCM: its rounding noise, not the window's deterministic
        // leakage, fills the spectrum far from the tone.
        for (int n = 0; n < 1024; ++n) frame[n] = std::nearbyint(10000.0f * std::sin(0.2849f * (f * 1024 + n)));
        model.Analyse(frame, 1, out.get());
        if (f >= 3) {  // after the onset
            EXPECT_EQ(out->windowSequence, kAacLongWindow) << f;
            EXPECT_EQ(out->tnsPresent, 0) << f;
        }
    }
}

}  // namespace
}  // namespace aurivane
