// Envelope estimation: known QMF energies give the scalefactors the decoder
// turns back into the same energies (E = 64 * 2^(sf / steps)), over the
// envelope's own slots and bands only.
#include <gtest/gtest.h>

#include <cmath>

#include "sbrenc/sbr_envelope_estimation.h"

namespace aurivane {
namespace {

// Eight high-resolution bands from QMF band 16; even N_high, so the four
// low-resolution bands take every second border.
SbrEncoderBandTables Tables() {
    SbrEncoderBandTables t = {};
    t.fsSbr = 44100;
    t.nHigh = 8;
    t.nLow = 4;
    const uint8_t high[] = {16, 18, 20, 22, 25, 28, 32, 36, 40};
    const uint8_t low[] = {16, 20, 25, 32, 40};
    for (int i = 0; i <= 8; ++i) t.high[i] = high[i];
    for (int i = 0; i <= 4; ++i) t.low[i] = low[i];
    return t;
}

struct Fixture {
    float energy[32][kSbrQmfBands] = {};
    SbrHarmonicsInfo harmonics = {};
    SbrFrameValues values = {};
    SbrFrameInfo info = {};
    // Every QMF band of high-resolution band j at 64 * 2^(base + j) over rows [r0, r1).
    void Fill(const SbrEncoderBandTables& t, int r0, int r1, int base) {
        for (int r = r0; r < r1; ++r)
            for (int j = 0; j < t.nHigh; ++j)
                for (int k = t.high[j]; k < t.high[j + 1]; ++k) energy[r][k] = 64.0f * std::exp2(float(base + j));
    }
};

TEST(SbrEnvelopeEstimation, KnownEnergiesQuantiseToTheirScalefactors) {
    const SbrEncoderBandTables t = Tables();
    for (int ampRes : {0, 1}) {
        Fixture f;
        f.Fill(t, 0, 8, 3);
        f.Fill(t, 8, 16, 10);
        f.Fill(t, 16, 32, 30);  // the next frame's rows must not leak in
        f.energy[5][16] = 64.0f * std::exp2(40.0f);  // band 0's lowest QMF band is left out
        f.info = {2, {0, 8, 16}, {1, 0}, -1, 2, {0, 8, 16}};
        SbrEnvelopeEstimator est;
        est.Init(t, ampRes, 1);
        est.Estimate(f.energy, f.info, f.harmonics, &f.values);
        const int steps = 2 - ampRes;
        for (int j = 0; j < t.nHigh; ++j) EXPECT_EQ(f.values.envelope[0][j], steps * (3 + j)) << "band " << j;
        // Low resolution: the mean of two high bands 2^(10+2i) and 2^(11+2i)
        // (band 0 without its lowest QMF band: only the band at 2^11 and 2^10 once).
        const double mean0 = (1.0 * 1024 + 2.0 * 2048) / 3.0;
        EXPECT_EQ(f.values.envelope[1][0], int(steps * std::log2(mean0) + 0.5));
        for (int i = 1; i < t.nLow; ++i) {
            const int a = t.low[i], b = t.low[i + 1], mid = t.high[2 * i + 1];
            const double mean = ((mid - a) * std::exp2(10.0 + 2 * i) + (b - mid) * std::exp2(11.0 + 2 * i)) / (b - a);
            EXPECT_EQ(f.values.envelope[1][i], int(steps * std::log2(mean) + 0.5)) << "low band " << i;
        }
        // With the second envelope short, the first stops a row early: the
        // onset smeared into row 7 stays out of it.
        f.Fill(t, 7, 8, 20);
        f.info.shortEnvelope = 1;
        est.Estimate(f.energy, f.info, f.harmonics, &f.values);
        for (int j = 0; j < t.nHigh; ++j) EXPECT_EQ(f.values.envelope[0][j], steps * (3 + j)) << "band " << j;
    }
}

TEST(SbrEnvelopeEstimation, SinusoidBandsTakeTheirPeakAndNeighboursAreCompensated) {
    const SbrEncoderBandTables t = Tables();
    Fixture f;
    for (int r = 0; r < 16; ++r) {
        for (int k = 16; k < 40; ++k) f.energy[r][k] = 64.0f * 256.0f;
        f.energy[r][29] = 64.0f * 1024.0f;  // a tone inside band 5 (QMF 28..31)
    }
    f.harmonics.frameFlag = 1;
    f.harmonics.detected[5] = 1;
    f.harmonics.compensation[4] = -2;
    f.info = {2, {0, 8, 16}, {1, 0}, -1, 2, {0, 8, 16}};
    SbrEnvelopeEstimator est;
    est.Init(t, 1, 1);
    est.Estimate(f.energy, f.info, f.harmonics, &f.values);
    // Peak less 4 dB: log2(1024 * 0.398) = 8.67; the band mean would give 8.
    EXPECT_EQ(f.values.envelope[0][5], 9);
    EXPECT_EQ(f.values.envelope[0][4], 8 - 2);
    EXPECT_EQ(f.values.envelope[0][3], 8);
    // Low resolution: band 2 (QMF 25..31) covers the tone's band; no compensation there.
    EXPECT_EQ(f.values.envelope[1][2], 9);
    EXPECT_EQ(f.values.envelope[1][1], 8);
    est.Init(t, 1, 0);
    est.Estimate(f.energy, f.info, f.harmonics, &f.values);
    EXPECT_EQ(f.values.envelope[0][4], 8);
}

}  // namespace
}  // namespace aurivane
