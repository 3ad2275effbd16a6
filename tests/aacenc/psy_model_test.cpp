// Block switching decisions, band layout invariants and threshold bounds of
// the encoder's psychoacoustic model.
#include "aacenc/aac_psy_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace aurivane {
namespace {

struct Decisions {
    std::vector<int> sequence;
    std::vector<PsyOutput> frames;
};

// Frames of silence with a click at the given sample offsets.
Decisions Analyse(int sampleRate, int bitRate, int bandwidth, int frames, std::vector<int> clicks) {
    std::vector<float> input(frames * kAacFrameLength, 0.0f);
    for (int c : clicks) input[c] = 20000.0f;
    auto model = std::make_unique<AacPsyModel>();
    EXPECT_EQ(model->Open(sampleRate, bitRate, 1, bandwidth, 3), 0);
    Decisions run;
    run.frames.resize(frames);
    for (int f = 0; f < frames; ++f) {
        model->Analyse(input.data() + f * kAacFrameLength, 1, &run.frames[f]);
        run.sequence.push_back(run.frames[f].windowSequence);
    }
    return run;
}

TEST(AacBlockSwitch, ClickStartsShortRunGroupedByItsWindow) {
    for (int window = 0; window < 7; ++window) {
        const Decisions r = Analyse(22050, 32000, 11025, 7, {3 * kAacFrameLength + 128 * window + 60});
        EXPECT_EQ(r.sequence, (std::vector<int>{0, 0, 0, 1, 2, 3, 0})) << window;
        const PsyOutput& s = r.frames[4];
        EXPECT_EQ(r.frames[3].windowShape, 0);
        EXPECT_EQ(r.frames[5].windowShape, 1);
        ASSERT_EQ(s.noOfGroups, 4);
        const int rows[7][4] = {{1, 3, 3, 1}, {1, 1, 3, 3}, {2, 1, 3, 2}, {3, 1, 3, 1},
                                {3, 1, 1, 3}, {3, 2, 1, 2}, {3, 3, 1, 1}};
        int mask = 0;
        for (int g = 0; g < 4; ++g) {
            EXPECT_EQ(s.groupLen[g], rows[window][g]);
            for (int w = 0; w < rows[window][g]; ++w) mask = (mask << 1) | (w > 0);
        }
        EXPECT_EQ(s.groupingMask, mask);
        EXPECT_EQ(s.sfbCnt, 4 * s.sfbPerGroup);
    }
}

TEST(AacBlockSwitch, CarryOverAndStopMeetingAttack) {
    // A click in the eighth window keeps the following frame short too.
    const Decisions carry = Analyse(22050, 32000, 11025, 8, {3 * kAacFrameLength + 128 * 7 + 60});
    EXPECT_EQ(carry.sequence, (std::vector<int>{0, 0, 0, 1, 2, 2, 3, 0}));
    // A second click when the stop frame is due: one more short frame, 3+3+2.
    const Decisions stop = Analyse(22050, 32000, 11025, 8, {2 * kAacFrameLength + 300, 4 * kAacFrameLength + 300});
    EXPECT_EQ(stop.sequence, (std::vector<int>{0, 0, 1, 2, 2, 2, 3, 0}));
    const PsyOutput& s = stop.frames[4];
    EXPECT_EQ(s.noOfGroups, 3);
    EXPECT_EQ((std::vector<int>{s.groupLen[0], s.groupLen[1], s.groupLen[2]}), (std::vector<int>{3, 3, 2}));
    EXPECT_EQ(s.groupingMask, 0x6d);
}

TEST(AacBlockSwitch, SilenceAndSteadyNoiseStayLong) {
    const Decisions silence = Analyse(24000, 32000, 12000, 20, {});
    for (const PsyOutput& f : silence.frames) {
        EXPECT_EQ(f.windowSequence, kAacLongWindow);
        EXPECT_EQ(f.maxSfb, 0);
    }
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 3000.0f);
    std::vector<float> input(40 * kAacFrameLength);
    for (float& v : input) v = noise(rng);
    AacPsyModel model;
    ASSERT_EQ(model.Open(22050, 32000, 1, 11025, 3), 0);
    auto out = std::make_unique<PsyOutput>();
    for (int f = 0; f < 40; ++f) {
        // Stride 2 reads every other sample of the same buffer.
        model.Analyse(input.data() + (f / 2) * 2 * kAacFrameLength, 2, out.get());
        if (f >= 3) {  // after the onset
            EXPECT_EQ(out->windowSequence, kAacLongWindow) << f;
        }
    }
}

TEST(AacPsyModel, BandsAndThresholdsHoldTheirInvariants) {
    // Clicks over noise through a 6 kHz lowpass at 24 kHz: long and short
    // frames, TNS on and off.
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 500.0f);
    std::vector<float> input(24 * kAacFrameLength);
    for (size_t n = 0; n < input.size(); ++n) input[n] = noise(rng) + (n % 5000 == 2500 ? 25000.0f : 0.0f);
    AacPsyModel model;
    ASSERT_EQ(model.Open(24000, 24000, 1, 6000, 3), 0);
    EXPECT_EQ(model.LongConfig().lowpassLine, 512);
    auto out = std::make_unique<PsyOutput>();
    int shortFrames = 0, tnsFrames = 0;
    for (int f = 0; f < 24; ++f) {
        model.Analyse(input.data() + f * kAacFrameLength, 1, out.get());
        const bool isShort = out->windowSequence == kAacShortWindow;
        shortFrames += isShort;
        tnsFrames += out->tnsPresent;
        EXPECT_EQ(out->sfbOffset[out->sfbCnt], kAacFrameLength);
        for (int b = 0; b < out->sfbCnt; ++b) {
            // The energy of every (grouped) band is that of the lines the
            // offsets point at, after TNS filtering and interleaving.
            double e = 0.0;
            for (int l = out->sfbOffset[b]; l < out->sfbOffset[b + 1]; ++l) e += double(out->spectrum[l]) * out->spectrum[l];
            EXPECT_NEAR(e, out->sfbEnergy[b], 1e-4 * e + 1e-3) << f << " " << b;
            EXPECT_GT(out->sfbThreshold[b], 0.0f);
            EXPECT_GE(out->sfbSpreadEnergy[b], out->sfbEnergy[b]);
            EXPECT_GE(out->sfbMinSnr[b], 0.003f);
            EXPECT_LE(out->sfbMinSnr[b], 0.8f);
        }
        if (!isShort) {
            for (int l = 512; l < kAacFrameLength; ++l) ASSERT_EQ(out->spectrum[l], 0.0f) << f << " " << l;
            EXPECT_LE(out->maxSfb, model.LongConfig().sfbActive);
        }
    }
    EXPECT_GT(shortFrames, 0);
    EXPECT_GT(tnsFrames, 0);
}

TEST(AacPsyModel, OpenRefusesAndReopenForgets) {
    AacPsyModel model;
    EXPECT_EQ(model.Open(44100, 32000, 1, 15000, 3), 1);
    EXPECT_EQ(model.Open(8000, 16000, 1, 4000, 3), 1);
    EXPECT_EQ(model.Open(22050, 3999, 1, 8000, 3), 1);
    EXPECT_EQ(model.Open(22050, 44002, 1, 8000, 3), 1);
    EXPECT_EQ(model.Open(22050, 44001, 1, 8000, 3), 0);
    EXPECT_EQ(model.Open(11025, 4000, 1, 4000, 3), 0);

    // A reopened model must behave like a fresh one on the same input.
    std::vector<float> input(6 * kAacFrameLength, 0.0f);
    input[2 * kAacFrameLength + 900] = 30000.0f;
    for (int n = 0; n < 3000; ++n) input[n] += 4000.0f * std::sin(0.05f * n);
    auto a = std::make_unique<PsyOutput>();
    auto b = std::make_unique<PsyOutput>();
    AacPsyModel fresh;
    ASSERT_EQ(model.Open(16000, 20000, 1, 7000, 3), 0);
    for (int f = 0; f < 3; ++f) model.Analyse(input.data() + f * kAacFrameLength, 1, a.get());
    ASSERT_EQ(model.Open(16000, 20000, 1, 7000, 3), 0);
    ASSERT_EQ(fresh.Open(16000, 20000, 1, 7000, 3), 0);
    for (int f = 0; f < 6; ++f) {
        model.Analyse(input.data() + f * kAacFrameLength, 1, a.get());
        fresh.Analyse(input.data() + f * kAacFrameLength, 1, b.get());
        ASSERT_EQ(a->windowSequence, b->windowSequence) << f;
        ASSERT_EQ(std::memcmp(a->spectrum, b->spectrum, sizeof(a->spectrum)), 0) << f;
        ASSERT_EQ(std::memcmp(a->sfbThreshold, b->sfbThreshold, sizeof(float) * a->sfbCnt), 0) << f;
    }
}

}  // namespace
}  // namespace aurivane
