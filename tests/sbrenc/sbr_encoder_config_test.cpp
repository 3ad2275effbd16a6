// Tuning and the band tables the SBR encoder fixes at open (availability is
// judged through the AacEncoder's Open).
#include <gtest/gtest.h>

#include "dsp/sbr_freq_tables.h"
#include "sbrenc/sbr_encoder_config.h"

namespace aurivane {
namespace {

TEST(SbrEncoderConfig, SpeechTuningAndPsModeSwitchAt20000And21000) {
    SbrEncoderSettings s{};
    SbrDefaultSettings(&s);
    s.usePs = 1;
    ASSERT_EQ(SbrAdjustSettings(&s, 20000, 1, 22050, 8, 24000), 1);
    EXPECT_EQ(s.flagB, 0);
    EXPECT_EQ(s.speechMode, 1);
    EXPECT_EQ(s.psMode, 0x20000);
    EXPECT_EQ(s.startFrequency, 3);  // row 5
    SbrDefaultSettings(&s);
    s.usePs = 1;
    ASSERT_EQ(SbrAdjustSettings(&s, 21000, 1, 22050, 8, 24000), 1);
    EXPECT_EQ(s.flagB, 1);
    EXPECT_EQ(s.speechMode, 0);
    EXPECT_EQ(s.psMode, 0);
    EXPECT_EQ(SbrAdjustSettings(&s, 44001, 1, 22050, 8, 24000), 0);
}

// Every accepted configuration opens with tables the decoder derives from
// the same header, and hands the core a bandwidth below its Nyquist rate.
TEST(SbrEncoderConfig, BandTablesMatchTheDecoderForEveryTuningRow) {
    for (const SbrTuningRow& row : kSbrTuningTable) {
        if (row.channels != 1) continue;
        for (int bitrate : {row.bitrateFrom, row.bitrateTo - 1}) {
            SbrEncoderSettings s{};
            SbrDefaultSettings(&s);
            ASSERT_EQ(SbrAdjustSettings(&s, bitrate, 1, row.coreSampleRate, 8, 24000), 1);
            SbrHeaderValues h = SbrHeaderFromSettings(s);
            SbrEncoderBandTables t;
            int32_t bandwidth = 0;
            const int fs = 2 * row.coreSampleRate;
            ASSERT_TRUE(SbrBuildEncoderBandTables(fs, true, &h, &t, &bandwidth)) << fs << " " << bitrate;
            SbrHeader dh = {h.ampResolution, h.startFrequency, h.stopFrequency, h.xoverBand, h.freqScale,
                            h.alterScale, h.noiseBands, h.limiterBands, h.limiterGains, h.interpolFreq,
                            h.smoothingMode};
            SbrFreqTables d;
            ASSERT_TRUE(SbrBuildFreqTables(dh, fs, &d));
            ASSERT_EQ(t.nHigh, d.n[1]);
            ASSERT_EQ(t.nLow, d.n[0]);
            ASSERT_EQ(t.nNoise, d.nQ);
            for (int i = 0; i <= t.nHigh; ++i) EXPECT_EQ(t.high[i], d.fHigh[i]);
            for (int i = 0; i <= t.nLow; ++i) EXPECT_EQ(t.low[i], d.fLow[i]);
            for (int i = 0; i <= t.nNoise; ++i) EXPECT_EQ(t.noise[i], d.fNoise[i]);
            EXPECT_LE(t.low[0], 32);
            EXPECT_EQ(bandwidth, (t.low[0] * fs / 64 + 1) / 2);
            EXPECT_LT(bandwidth, row.coreSampleRate / 2);
        }
    }
}

}  // namespace
}  // namespace aurivane
