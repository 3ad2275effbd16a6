// Noise-floor estimation: the fixed floor for silence, and more noise
// for a noise-like band than for a tonal one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "sbrenc/sbr_noise_floor.h"
#include "sbrenc/sbr_patch_map.h"
#include "sbrenc/sbr_tonality.h"

namespace aurivane {
bool MakeEncoderTables(int startFreq, int stopFreq, int fs, SbrHeaderValues* header, SbrEncoderBandTables* tables);
void FillQmf(SbrQmfFrame* f, std::mt19937& rng, bool (*tonal)(int), float amp, int* slot);

namespace {

TEST(SbrNoiseFloor, SilenceTonalAndNoisyBands) {
    SbrHeaderValues h;
    SbrEncoderBandTables t;
    ASSERT_TRUE(MakeEncoderTables(11, 9, 44100, &h, &t));
    ASSERT_GE(t.nNoise, 2);
    SbrEncoderSettings settings{};
    settings.maxLevelDb = 6;
    static int split;
    split = t.noise[1];  // tonal up to the end of noise band 0, noise above
    static SbrQmfFrame f;
    std::mt19937 rng(5);
    const int32_t invf[kSbrMaxNoiseBands] = {3, 3, 3, 3, 3};
    for (bool silence : {true, false}) {
        SbrTonality ton;
        ton.Init(t.k2);
        SbrNoiseFloor nf;
        nf.Init(t, settings);
        SbrFrameInfo info{};
        info.numEnvelopes = info.numNoiseEnvelopes = silence ? 2 : 1;
        float v[2][kSbrMaxNoiseBands] = {};
        int slot = 0;
        for (int frame = 0; frame < 4; ++frame) {  // fills the four-value history
            if (silence) std::memset(&f, 0, sizeof(f));
            else FillQmf(&f, rng, [](int k) { return k < split; }, 1000.0f, &slot);
            ton.Estimate(f);
            nf.Estimate(ton, info, invf, 0, v);
        }
        if (silence) {
            const float expected = 6.0f - std::log2(1.0f / 101.593666f);  // min(4, 1 / 101.59...)
            for (int q = 0; q < t.nNoise; ++q) EXPECT_NEAR(v[1][q], expected, 1e-4f) << q;
            continue;
        }
        // A lower value is a higher noise floor (Q = 2^(6 - value)). A noisy
        // original over a tonal source gets the most, capped at maxLevelDb.
        for (int q = 1; q < t.nNoise; ++q) {
            EXPECT_GT(v[0][0], v[0][q] + 6.0f) << q;
            EXPECT_NEAR(v[0][q], 6.0f - 2.0f, 0.01f) << q;
        }
    }
}

}  // namespace
}  // namespace aurivane
