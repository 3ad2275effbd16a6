// Tonality, inverse filtering and missing-harmonics detection on QMF frames
// built directly in the QMF domain: tones are rotating phasors, noise is
// complex Gaussian.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "sbrenc/sbr_encoder_config.h"
#include "sbrenc/sbr_inverse_filtering.h"
#include "sbrenc/sbr_missing_harmonics.h"
#include "sbrenc/sbr_patch_map.h"
#include "sbrenc/sbr_tonality.h"

namespace aurivane {

// The open's band tables for the default settings with these start and stop
// frequencies, with the patch map.
bool MakeEncoderTables(int startFreq, int stopFreq, int fs, SbrHeaderValues* h, SbrEncoderBandTables* t) {
    SbrEncoderSettings s{};
    SbrDefaultSettings(&s);
    s.startFrequency = startFreq;
    s.stopFrequency = stopFreq;
    *h = SbrHeaderFromSettings(s);
    int32_t bandwidth = 0;
    return SbrBuildEncoderBandTables(fs, true, h, t, &bandwidth) && SbrBuildPatchMap(*h, t);
}

// One frame: tones (rotating phasors) in the bands where `tonal` says so,
// complex noise elsewhere, amplitude `amp`; `slot` keeps the phase running.
void FillQmf(SbrQmfFrame* f, std::mt19937& rng, bool (*tonal)(int), float amp, int* slot) {
    std::normal_distribution<float> noise(0.0f, amp);
    for (int n = 0; n < kSbrQmfSlots; ++n, ++*slot) {
        for (int k = 0; k < kSbrQmfBands; ++k) {
            if (tonal(k)) {
                const double phase = (0.4 + 0.01 * k) * *slot;
                f->re[n][k] = amp * static_cast<float>(std::cos(phase));
                f->im[n][k] = amp * static_cast<float>(std::sin(phase));
            } else {
                f->re[n][k] = noise(rng);
                f->im[n][k] = noise(rng);
            }
        }
    }
}

namespace {

SbrFrameInfo OneEnvelope() {
    SbrFrameInfo info{};
    info.numEnvelopes = info.numNoiseEnvelopes = 1;
    info.borders[1] = info.noiseBorders[1] = 16;
    info.freqRes[0] = 1;
    return info;
}

TEST(SbrInverseFiltering, WhitensWhereThePatchIsMoreTonalThanTheOriginal) {
    SbrHeaderValues h;
    SbrEncoderBandTables t;
    ASSERT_TRUE(MakeEncoderTables(11, 9, 44100, &h, &t));
    static int kx;
    kx = t.high[0];
    SbrTransientInfo none{0, 0};
    const SbrFrameInfo info = OneEnvelope();
    static SbrQmfFrame f;
    struct Case {
        bool (*tonal)(int);
        int mode;
        int expected;
    } cases[] = {
        {[](int k) { return k < kx; }, 4, 3},   // tonal source, noisy original
        {[](int k) { return k >= kx; }, 4, 0},  // tonal original
        {[](int k) { return k < kx; }, 2, 2},   // fixed level
    };
    for (const Case& c : cases) {
        SbrTonality ton;
        ton.Init(t.k2);
        SbrInverseFiltering invf;
        invf.Init(t, 0, c.mode);
        std::mt19937 rng(2);
        int slot = 0;
        int32_t level[kSbrMaxNoiseBands] = {};
        for (int frame = 0; frame < 4; ++frame) {
            FillQmf(&f, rng, c.tonal, 1000.0f, &slot);
            ton.Estimate(f);
            invf.Detect(ton, none, info, level);
        }
        for (int q = 0; q < t.nNoise; ++q) EXPECT_EQ(level[q], c.expected) << "mode " << c.mode << " band " << q;
    }
}

// A steady tone in the high band over a noise-like low band is missing from
// the patch: flagged from its first frame on, in its own band only.
TEST(SbrMissingHarmonics, SteadyToneIsFlaggedAndStaysFlagged) {
    SbrHeaderValues h;
    SbrEncoderBandTables t;
    ASSERT_TRUE(MakeEncoderTables(11, 9, 44100, &h, &t));
    constexpr int kTone = 40;
    int toneBand = 0;
    while (t.high[toneBand + 1] <= kTone) ++toneBand;
    // Every high band is patched from below the crossover.
    for (int k = 0; k < kSbrQmfBands; ++k)
        EXPECT_EQ(t.patchSource[k] < t.high[0], k >= t.high[0] && k < t.high[t.nHigh]) << k;
    SbrTonality ton;
    ton.Init(t.k2);
    SbrMissingHarmonics mh;
    mh.Init(t, 2);
    static SbrQmfFrame f;
    std::mt19937 rng(3);
    int slot = 0;
    const SbrFrameInfo info = OneEnvelope();
    for (int frame = 0; frame < 12; ++frame) {
        FillQmf(&f, rng, [](int k) { return k == kTone; }, 1000.0f, &slot);
        ton.Estimate(f);
        // The tone predicts itself; noise does not. (The first estimate of the
        // first frame predicts from the zero slots before it.)
        EXPECT_GT(ton.Quota(kSbrTonalityNewRow + 1, kTone), 1000.0f);
        EXPECT_LT(ton.Quota(kSbrTonalityNewRow + 1, kTone - 1), 1.0f);
        SbrHarmonicsInfo out;
        mh.Detect(ton, SbrTransientInfo{0, 0}, info, &out);
        ASSERT_EQ(out.frameFlag, 1) << "frame " << frame;
        for (int i = 0; i < t.nHigh; ++i) EXPECT_EQ(out.detected[i], i == toneBand ? 1 : 0) << frame << " " << i;
        SbrFrameValues v{};
        SbrMissingHarmonics::Signal(out, t.nHigh, &v);
        EXPECT_EQ(v.addHarmonicFlag, 1);
        EXPECT_EQ(v.addHarmonic[toneBand], 1);
    }
    // The tone stops: the detection ends.
    FillQmf(&f, rng, [](int) { return false; }, 1000.0f, &slot);
    ton.Estimate(f);
    SbrHarmonicsInfo out;
    mh.Detect(ton, SbrTransientInfo{0, 0}, info, &out);
    EXPECT_EQ(out.frameFlag, 0);
}

}  // namespace
}  // namespace aurivane
