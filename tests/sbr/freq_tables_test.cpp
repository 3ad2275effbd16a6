// Frequency band tables: hand-worked headers and the structural rules of
// ISO/IEC 14496-3 4.6.18.3 and 4.6.18.6.3 over every header field value.
#include <gtest/gtest.h>

#include <vector>

#include "dsp/sbr_freq_tables.h"

namespace aurivane {
namespace {

std::vector<int> Table(const int* v, int n) { return std::vector<int>(v, v + n + 1); }

TEST(SbrFreqTables, DefaultHeaderAt44100) {
    // k0 = startMin 12 + offset 2, k2 = stopMin 23; k2/k0 < 2.2449, so one
    // region of 2 * round(12 * log2(23/14) / 2) = 8 bands.
    SbrFreqTables t;
    ASSERT_TRUE(SbrBuildFreqTables(kSbrDefaultHeader, 44100, &t));
    EXPECT_EQ(Table(t.fMaster, t.nMaster), (std::vector<int>{14, 15, 16, 17, 18, 19, 20, 21, 23}));
    EXPECT_EQ(Table(t.fHigh, t.n[1]), Table(t.fMaster, t.nMaster));
    EXPECT_EQ(Table(t.fLow, t.n[0]), (std::vector<int>{14, 16, 18, 20, 23}));
    EXPECT_EQ(Table(t.fNoise, t.nQ), (std::vector<int>{14, 23}));
    EXPECT_EQ(t.kx, 14);
    EXPECT_EQ(t.m, 9);
    // One patch: the nine bands 4..12 moved up by an even number of bands.
    ASSERT_EQ(t.numPatches, 1);
    EXPECT_EQ(t.patchStartSubband[0], 4);
    EXPECT_EQ(t.patchNumSubbands[0], 9);
    // Two limiter bands per octave: 16 and 20 are closer than 0.49 / 2
    // octaves to their lower neighbours and are dropped.
    EXPECT_EQ(Table(t.fLim, t.nLim), (std::vector<int>{14, 18, 23}));
}

TEST(SbrFreqTables, CrossoverAndLinearScale) {
    SbrHeader h = kSbrDefaultHeader;
    h.xoverBand = 2;
    SbrFreqTables t;
    ASSERT_TRUE(SbrBuildFreqTables(h, 44100, &t));
    EXPECT_EQ(t.kx, 16);
    EXPECT_EQ(t.m, 7);
    EXPECT_EQ(Table(t.fHigh, t.n[1]), (std::vector<int>{16, 17, 18, 19, 20, 21, 23}));
    // Odd N_high: the low table skips the first high border after f[0].
    EXPECT_EQ(Table(t.fLow, t.n[0]), (std::vector<int>{16, 18, 20, 23}));

    // bs_freq_scale 0 with bs_alter_scale 0: bands of one subband; 9 does not
    // split into an even count, so the widths are corrected to end at k2.
    h = kSbrDefaultHeader;
    h.freqScale = 0;
    h.alterScale = 0;
    ASSERT_TRUE(SbrBuildFreqTables(h, 44100, &t));
    EXPECT_EQ(t.nMaster, 8);
    EXPECT_EQ(t.fMaster[0], 14);
    EXPECT_EQ(t.fMaster[t.nMaster], 23);
}

TEST(SbrFreqTables, RejectsUnusableHeaders) {
    SbrFreqTables t;
    SbrHeader wide = kSbrDefaultHeader;
    wide.startFreq = 0;
    wide.stopFreq = 13;  // k2 = 64: 56 bands, above the 35 allowed at 44100 Hz
    EXPECT_FALSE(SbrBuildFreqTables(wide, 44100, &t));
    SbrHeader crossover = kSbrDefaultHeader;
    crossover.xoverBand = 7;
    crossover.freqScale = 3;  // 6 master bands: the crossover is beyond them
    EXPECT_FALSE(SbrBuildFreqTables(crossover, 44100, &t));
    EXPECT_FALSE(SbrBuildFreqTables(kSbrDefaultHeader, 8000, &t));
}

// Every combination of the table-defining fields at the rates a 22.05 and
// 24 kHz core (and the other supported cores) produce.
TEST(SbrFreqTables, StructuralRulesHoldForEveryHeader) {
    int valid = 0;
    for (int fs : {16000, 22050, 24000, 32000, 44100, 48000}) {
        for (int code = 0; code < 16 * 16 * 8 * 4 * 2 * 4 * 4; ++code) {
            SbrHeader h = kSbrDefaultHeader;
            int c = code;
            h.startFreq = c % 16, c /= 16;
            h.stopFreq = c % 16, c /= 16;
            h.xoverBand = c % 8, c /= 8;
            h.freqScale = c % 4, c /= 4;
            h.alterScale = c % 2, c /= 2;
            h.noiseBands = c % 4, c /= 4;
            h.limiterBands = c % 4;
            SbrFreqTables t;
            if (!SbrBuildFreqTables(h, fs, &t)) continue;
            ++valid;
            SCOPED_TRACE(testing::Message() << "fs " << fs << " header code " << code);
            for (int i = 1; i <= t.nMaster; ++i) ASSERT_GT(t.fMaster[i], t.fMaster[i - 1]);
            ASSERT_LE(t.kx, 32);
            ASSERT_LE(t.kx + t.m, 64);
            ASSERT_EQ(t.fLow[0], t.kx);
            ASSERT_EQ(t.fLow[t.n[0]], t.kx + t.m);
            ASSERT_EQ(t.fHigh[t.n[1]], t.kx + t.m);
            ASSERT_EQ(t.fNoise[0], t.kx);
            ASSERT_EQ(t.fNoise[t.nQ], t.kx + t.m);
            ASSERT_LE(t.nQ, 5);
            // Patches tile [kx, kx + M) upwards from sources below k0, each
            // moved by an even number of bands; a last patch of fewer than 3
            // bands is dropped, leaving its bands unregenerated.
            int k = t.kx;
            for (int p = 0; p < t.numPatches; ++p) {
                ASSERT_GT(t.patchNumSubbands[p], 0);
                ASSERT_GE(t.patchStartSubband[p], 0);
                ASSERT_LE(t.patchStartSubband[p] + t.patchNumSubbands[p], t.k0);
                ASSERT_EQ((k - t.patchStartSubband[p]) % 2, 0);
                k += t.patchNumSubbands[p];
            }
            ASSERT_LE(k, t.kx + t.m);
            ASSERT_LT(t.kx + t.m - k, 3);
            // Limiter bands start at kx and end at kx + M when the last patch
            // ends there. After a dropped patch kx + M ends no patch and may be
            // merged away, with the top patched bands above every limiter band.
            ASSERT_EQ(t.fLim[0], t.kx);
            ASSERT_LE(t.fLim[t.nLim], t.kx + t.m);
            if (k == t.kx + t.m) {
                ASSERT_EQ(t.fLim[t.nLim], k);
            }
            for (int i = 1; i <= t.nLim; ++i) ASSERT_GT(t.fLim[i], t.fLim[i - 1]);
        }
    }
    EXPECT_GT(valid, 100000);
}

}  // namespace
}  // namespace aurivane
