// The concealment delay line and state machine: a single loss is
// interpolated, bursts fade out and mute, recovery fades back in.
#include "aacdec/aac_concealment.h"
#include "aacdec/aac_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace aurivane {
namespace {

const BandTable& Bands() { return kBandTables[4]; }  // 22050 Hz

struct Frame {
    std::vector<float> spectrum = std::vector<float>(1024, 0.0f);
    uint8_t shape = 0;
    uint8_t sequence = kOnlyLong;
};

Frame Flat(float level, uint8_t sequence = kOnlyLong) {
    Frame f;
    for (int i = 0; i < 1024; ++i) f.spectrum[i] = level * ((i % 3) ? 1.0f : -0.5f);
    f.sequence = sequence;
    f.shape = sequence == kEightShort ? 1 : 0;
    return f;
}

// Feeds one frame (valid or lost) and returns what comes out.
Frame Step(ConcealmentState* s, Frame in, bool valid) {
    ConcealmentApply(s, in.spectrum.data(), &in.shape, &in.sequence, valid ? 1 : 0, Bands());
    return in;
}

double Energy(const std::vector<float>& v, int start, int end) {
    double e = 0.0;
    for (int i = start; i < end; ++i) e += static_cast<double>(v[i]) * v[i];
    return e;
}

// Ratio of each output line's magnitude to the reference frame's.
float Gain(const Frame& out, const Frame& ref) {
    return std::fabs(out.spectrum[1]) / std::fabs(ref.spectrum[1]);
}

TEST(AacConcealment, OneFrameDelayAndFirstFrameSilent) {
    ConcealmentState s;
    ConcealmentReset(&s);
    const Frame a = Flat(100.0f), b = Flat(200.0f, kEightShort);
    const Frame out0 = Step(&s, a, true);
    EXPECT_EQ(Energy(out0.spectrum, 0, 1024), 0.0);
    const Frame out1 = Step(&s, b, true);
    EXPECT_EQ(out1.spectrum, a.spectrum);
    const Frame out2 = Step(&s, Flat(1.0f), true);
    EXPECT_EQ(out2.spectrum, b.spectrum);
    EXPECT_EQ(out2.sequence, kEightShort);
    EXPECT_EQ(out2.shape, 1);
}

TEST(AacConcealment, SingleLossIsInterpolatedWithoutFade) {
    for (uint8_t afterSeq : {uint8_t{kOnlyLong}, uint8_t{kEightShort}}) {
        ConcealmentState s;
        ConcealmentReset(&s);
        const Frame before = Flat(100.0f), after = Flat(400.0f, afterSeq);
        Step(&s, before, true);
        Step(&s, Frame{}, false);                         // outputs `before`
        const Frame rebuilt = Step(&s, after, true);      // outputs the lost frame
        EXPECT_EQ(s.state, kConcealNormal);
        EXPECT_EQ(rebuilt.sequence, afterSeq == kEightShort ? kLongStart : kOnlyLong);
        // Band energies: geometric mean of the neighbours (the +1 of the
        // energy sums is negligible here), signs scrambled.
        const uint16_t* off = Bands().longOffsets;
        for (int b = 0; b < Bands().numLong; b += 7) {
            const double eb = Energy(before.spectrum, off[b], off[b + 1]);
            double ea = 0.0;
            for (int j = off[b]; j < off[b + 1]; ++j) {
                const float v = after.spectrum[afterSeq == kEightShort ? j / 8 : j];
                ea += static_cast<double>(v) * v;
            }
            EXPECT_NEAR(Energy(rebuilt.spectrum, off[b], off[b + 1]) / std::sqrt(ea * eb), 1.0, 0.02) << b;
        }
        int flipped = 0;
        for (int i = 0; i < 1024; ++i) flipped += (rebuilt.spectrum[i] < 0) != (before.spectrum[i] < 0);
        EXPECT_GT(flipped, 300);
        EXPECT_LT(flipped, 724);
        // The next frame is the valid one, untouched.
        const Frame next = Step(&s, Flat(1.0f), true);
        EXPECT_EQ(next.spectrum, after.spectrum);
    }
}

TEST(AacConcealment, BurstFadesOutMutesAndFadesBackIn) {
    ConcealmentState s;
    ConcealmentReset(&s);
    const Frame ref = Flat(100.0f);
    Step(&s, ref, true);
    Step(&s, Frame{}, false);  // still the valid frame
    const float fadeOut[] = {0.70710677f, 0.5f, 0.35355335f, 0.25f, 0.17677668f};
    for (float g : fadeOut) {
        const Frame out = Step(&s, Frame{}, false);
        EXPECT_EQ(s.state, kConcealFadeOut);
        EXPECT_NEAR(Gain(out, ref), g, 1e-6);
    }
    for (int i = 0; i < 3; ++i) {
        const Frame out = Step(&s, Frame{}, false);
        EXPECT_EQ(s.state, kConcealMuted);
        EXPECT_EQ(Energy(out.spectrum, 0, 1024), 0.0);
    }
    // Recovery: the first valid frame after the burst does not count yet
    // (the frame it releases was lost); five more are muted, then fade-in.
    for (int i = 0; i < 5; ++i) {
        const Frame out = Step(&s, ref, true);
        EXPECT_EQ(Energy(out.spectrum, 0, 1024), 0.0) << i;
    }
    const float fadeIn[] = {0.17677668f, 0.25f, 0.35355335f, 0.5f, 0.70710677f};
    for (float g : fadeIn) {
        const Frame out = Step(&s, ref, true);
        EXPECT_EQ(s.state, kConcealFadeIn);
        EXPECT_NEAR(Gain(out, ref), g, 1e-6);
    }
    const Frame out = Step(&s, ref, true);
    EXPECT_EQ(s.state, kConcealNormal);
    EXPECT_EQ(out.spectrum, ref.spectrum);
}

TEST(AacConcealment, LossDuringFadeInReturnsToFadeOut) {
    ConcealmentState s;
    ConcealmentReset(&s);
    const Frame ref = Flat(100.0f);
    Step(&s, ref, true);
    for (int i = 0; i < 8; ++i) Step(&s, Frame{}, false);
    ASSERT_EQ(s.state, kConcealMuted);
    for (int i = 0; i < 7; ++i) Step(&s, ref, true);
    ASSERT_EQ(s.state, kConcealFadeIn);
    Step(&s, Frame{}, false);
    const Frame out = Step(&s, Frame{}, false);
    EXPECT_EQ(s.state, kConcealFadeOut);
    EXPECT_EQ(s.counter, 0);
    EXPECT_NEAR(Gain(out, ref), 0.70710677f, 1e-6);
}

}  // namespace
}  // namespace aurivane
