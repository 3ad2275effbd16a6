// Transient detection on real QMF energies: silence settles the thresholds at
// their floor and gives one FIXFIX envelope of zero scalefactors; a level
// step is found where it happens and opens a variable-class run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/sbr_freq_tables.h"
#include "sbrenc/sbr_envelope_estimation.h"
#include "sbrenc/sbr_frame_generator.h"
#include "sbrenc/sbr_qmf_analysis.h"
#include "sbrenc/sbr_transient.h"

namespace aurivane {
namespace {

constexpr int kFrame = SbrQmfAnalysis::kFrameSamples;

// 44.1 kHz, bs_start_freq 5, bs_stop_freq 9, by the shared frequency-band rules.
SbrEncoderBandTables Tables() {
    SbrHeader h = kSbrDefaultHeader;
    h.stopFreq = 9;
    SbrFreqTables f;
    EXPECT_TRUE(SbrBuildFreqTables(h, 44100, &f));
    SbrEncoderBandTables t = {};
    t.fsSbr = 44100;
    t.k0 = f.k0;
    t.k2 = f.k2;
    t.nHigh = f.n[1];
    t.nLow = f.n[0];
    for (int i = 0; i <= t.nHigh; ++i) t.high[i] = static_cast<uint8_t>(f.fHigh[i]);
    for (int i = 0; i <= t.nLow; ++i) t.low[i] = static_cast<uint8_t>(f.fLow[i]);
    return t;
}

SbrEncoderSettings Settings() {
    SbrEncoderSettings s = {};
    s.bitrate = 32000;
    s.channels = 1;
    s.standardBitrate = 24000;
    s.transientThreshold = 13000;
    s.transientDetectMode = 1;
    s.frameSpread = 1;
    s.maxEnvelopesLog2 = 1;
    s.ampResolution = 1;
    s.flagB = 1;
    return s;
}

// One channel through analysis, energies, detector and grid, frame by frame.
struct Chain {
    SbrEncoderBandTables tables = Tables();
    SbrQmfAnalysis qmf;
    SbrTransientDetector detector;
    SbrFrameGenerator generator;
    SbrQmfFrame frame;
    float energy[kSbrQmfSlots][kSbrQmfBands] = {};
    SbrTransientInfo transient;
    SbrGridFields fields;
    SbrFrameInfo info;
    Chain() {
        detector.Init(Settings(), tables);
        generator.Init(Settings());
    }
    void Frame(const float* pcm) {
        qmf.Process(pcm, 1, &frame);
        SbrQmfEnergies(frame, energy);
        transient = detector.Process(energy);
        generator.Generate(transient, &fields, &info);
    }
};

TEST(SbrTransient, SilenceSettlesAtTheFloorWithOneEnvelopeOfZeroScalefactors) {
    static Chain c;
    const std::vector<float> zeros(kFrame, 0.0f);
    SbrEnvelopeEstimator est;
    est.Init(c.tables, 1, 1);
    for (int f = 0; f < 3; ++f) {
        c.Frame(zeros.data());
        for (int k = 0; k < kSbrQmfBands; ++k) ASSERT_EQ(c.detector.Threshold(k), 128000.0f);
        EXPECT_EQ(c.transient.flag, 0);
        EXPECT_EQ(c.transient.position, 0) << "split";
        EXPECT_EQ(c.fields.frameClass, kFixFix);
        EXPECT_EQ(c.info.numEnvelopes, 1);
        SbrFrameValues v = {};
        v.envelope[0][0] = -1;
        est.Estimate(c.energy, c.info, SbrHarmonicsInfo{}, &v);
        for (int j = 0; j < c.tables.nHigh; ++j) EXPECT_EQ(v.envelope[0][j], 0);
        SbrSwapEnergyHalves(c.energy);
    }
}

TEST(SbrTransient, LevelStepIsFoundAtItsOnset) {
    for (int onset : {3 * kFrame + 300, 3 * kFrame + 1000, 4 * kFrame - 200}) {
        std::vector<float> pcm(24 * kFrame);
        uint32_t seed = 5;
        for (size_t n = 0; n < pcm.size(); ++n) {
            seed = seed * 1664525u + 1013904223u;
            const float white = static_cast<float>(static_cast<int32_t>(seed) >> 16) / 32768.0f;
            pcm[n] = white * (static_cast<int>(n) < onset ? 30.0f : 12000.0f);
        }
        static Chain c;
        c = Chain();
        int found = -1, foundRow = -1, classAfter = -1;
        for (int f = 0; f < 24; ++f) {
            c.Frame(pcm.data() + f * kFrame);
            if (f == found + 1 && found >= 0) classAfter = c.fields.frameClass;
            if (c.transient.flag && found < 0) {
                found = f;
                foundRow = c.transient.position + 4;
                EXPECT_EQ(c.fields.frameClass, kFixVar);
            } else if (found >= 0 && f > found + 4) {
                // The thresholds climb from the quiet level by 0.34 of the
                // distance per frame; the first frames of the loud part may
                // still trigger, the settled ones must not.
                EXPECT_EQ(c.transient.flag, 0) << "steady loud noise after the step, frame " << f;
            }
            SbrSwapEnergyHalves(c.energy);
        }
        ASSERT_GE(found, 0) << "onset " << onset;
        EXPECT_TRUE(classAfter == kVarFix || classAfter == kVarVar);
        // The grid axis of frame f starts at QMF slot 32 (f - 1), two slots
        // per row; the analysis bank delays by about 288 samples.
        const double onsetRow = ((onset + 288) / 64.0 - 32.0 * (found - 1)) / 2.0;
        EXPECT_NEAR(foundRow, onsetRow, 1.0) << "onset " << onset;
    }
}

}  // namespace
}  // namespace aurivane
