// The parametric stereo encoder against the decoder's ps_data parser and
// against what the down-mix must keep: level and delay.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "aacdec/ps_decoder.h"
#include "sbrenc/ps_encoder.h"
#include "sbrenc/sbr_encoder_config.h"
#include "sbrenc/sbr_qmf_analysis.h"

namespace aurivane {
namespace {

constexpr int kFrame = SbrQmfAnalysis::kFrameSamples;
constexpr double kPi = 3.14159265358979323846;

// Sample n of the left and right channel.
using Stereo = std::function<void(long n, float* l, float* r)>;

float Noise(uint32_t* seed) {
    *seed = *seed * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<int32_t>(*seed) >> 17);  // about +-16384
}

struct PsChain {
    SbrQmfAnalysis analysis[2];
    std::unique_ptr<SbrQmfFrame> in[2] = {std::make_unique<SbrQmfFrame>(), std::make_unique<SbrQmfFrame>()};
    SbrQmfFrame left{}, prevLeft{};  // channel 0 before the down-mix
    PsEncoder encoder;
    PsDecoder decoder;
    long sample = 0;

    explicit PsChain(int psMode) {
        EXPECT_EQ(encoder.Open(psMode), 0);
        decoder.Reset();
    }
    // One frame through the encoder; the decoder must take every PS bit.
    void Frame(const Stereo& signal, bool sbrHeader) {
        std::vector<float> l(kFrame), r(kFrame);
        for (int n = 0; n < kFrame; ++n) signal(sample++, &l[n], &r[n]);
        analysis[0].Process(l.data(), 1, in[0].get());
        analysis[1].Process(r.data(), 1, in[1].get());
        prevLeft = left;
        left = *in[0];
        encoder.EncodeFrame(in[0].get(), in[1].get(), sbrHeader);
        SbrBitReader br;
        br.Init(encoder.Bits(), encoder.BitCount());
        ASSERT_EQ(decoder.Parse(br, encoder.BitCount()), encoder.BitCount());
        for (int b = 0; b < encoder.NumBands(); ++b) {
            EXPECT_EQ(decoder.IidBands() ? decoder.Iid(0, b) : 0, encoder.IidIndex(b)) << "band " << b;
            EXPECT_EQ(decoder.IccBands() ? decoder.Icc(0, b) : 0, encoder.IccIndex(b)) << "band " << b;
        }
    }
    static double EnergyDb(const SbrQmfFrame& f) {
        double e = 1e-30;
        for (int n = 0; n < kSbrQmfSlots; ++n)
            for (int k = 0; k < kSbrQmfBands; ++k) e += double(f.re[n][k]) * f.re[n][k] + double(f.im[n][k]) * f.im[n][k];
        return 10.0 * std::log10(e);
    }
};

TEST(PsEncoder, IdenticalChannelsCarryNoParametersAndPassThroughSixSlotsLate) {
    PsChain chain(0);
    uint32_t seed = 1;
    for (int f = 0; f < 4; ++f) {
        chain.Frame([&](long, float* l, float* r) { *l = *r = Noise(&seed); }, f == 0);
        for (int b = 0; b < 20; ++b) ASSERT_TRUE(chain.encoder.IidIndex(b) == 0 && chain.encoder.IccIndex(b) == 0);
        // After the first frame: header flag 0, frame class 0, num_env_idx 0.
        if (f > 0) {
            EXPECT_EQ(chain.encoder.BitCount(), 4);
            EXPECT_EQ(chain.encoder.Bits()[0] >> 4, 0);
        }
        if (f < 2) continue;
        double signal = 0.0, error = 0.0;
        for (int n = 0; n < kSbrQmfSlots; ++n)
            for (int k = 0; k < kSbrQmfBands; ++k) {
                const bool prev = n < 6;
                const SbrQmfFrame& src = prev ? chain.prevLeft : chain.left;
                const int m = prev ? n + 26 : n - 6;
                const double dr = chain.in[0]->re[n][k] - src.re[m][k], di = chain.in[0]->im[n][k] - src.im[m][k];
                signal += double(src.re[m][k]) * src.re[m][k] + double(src.im[m][k]) * src.im[m][k];
                error += dr * dr + di * di;
            }
        EXPECT_GT(10.0 * std::log10(signal / error), 90.0);
    }
}

TEST(PsEncoder, LevelDifferencesAndDownmixLevel) {
    uint32_t seed = 5;
    // Left only, right only, and left 6 dB above right.
    for (int pan : {1, -1, 0}) {
        PsChain chain(0);
        for (int f = 0; f < 3; ++f)
            chain.Frame([&](long, float* l, float* r) {
                const float s = Noise(&seed);
                *l = pan < 0 ? 0.0f : s;
                *r = pan > 0 ? 0.0f : (pan == 0 ? 0.5f * s : s);
            }, f == 0);
        for (int b = 0; b < 20; ++b) EXPECT_EQ(chain.encoder.IidIndex(b), pan == 0 ? 3 : 7 * pan) << "band " << b;
        if (pan == 0) {
            EXPECT_EQ(chain.encoder.IccIndex(5), 0);
        } else {
            // The down-mix keeps the mean power of the two channels.
            const double loudDb = PsChain::EnergyDb(pan > 0 ? chain.left : *chain.in[1]);
            EXPECT_NEAR(PsChain::EnergyDb(*chain.in[0]), loudDb - 3.01, 0.3);
        }
    }
    // Opposite phase: the down-mix keeps the level (the plain sum would
    // cancel) and the coherence says anti-correlated where it is measured
    // from the real cross power.
    PsChain chain(0);
    for (int f = 0; f < 4; ++f)
        chain.Frame([&](long, float* l, float* r) {
            *l = Noise(&seed);
            *r = -*l;
        }, f == 0);
    EXPECT_NEAR(PsChain::EnergyDb(*chain.in[0]), PsChain::EnergyDb(chain.left), 0.5);
    for (int b = 0; b < 12; ++b) EXPECT_EQ(chain.encoder.IccIndex(b), 7) << "band " << b;
    // Tones in neighbouring parameter bands, one per side: 129 Hz (band 1)
    // and 431 Hz (band 4, lower half of QMF band 1) left, 215 Hz (band 2) and
    // 603 Hz (band 5) right.
    PsChain tones(0);
    for (int f = 0; f < 3; ++f)
        tones.Frame([&](long n, float* l, float* r) {
            const double w = 2.0 * kPi / 44100.0 * n;
            *l = static_cast<float>(8000.0 * (std::sin(129.0 * w) + std::sin(431.0 * w)));
            *r = static_cast<float>(8000.0 * (std::sin(215.0 * w) + std::sin(603.0 * w)));
        }, f == 0);
    // The short hybrid filters separate neighbours by 12 dB or more.
    EXPECT_GE(tones.encoder.IidIndex(1), 5);
    EXPECT_LE(tones.encoder.IidIndex(2), -5);
    EXPECT_GE(tones.encoder.IidIndex(4), 5);
    EXPECT_LE(tones.encoder.IidIndex(5), -5);
}

TEST(PsEncoder, BandModeFollowsTheBitrateAndParsesAsSent) {
    for (int bitrate : {20999, 21000}) {
        SbrEncoderSettings s{};
        SbrDefaultSettings(&s);
        s.usePs = 1;
        ASSERT_EQ(SbrAdjustSettings(&s, bitrate, 1, 22050, 8, 24000), 1);
        PsChain chain(s.psMode);
        const int bands = bitrate < 21000 ? 10 : 20;
        EXPECT_EQ(chain.encoder.NumBands(), bands);
        uint32_t seed = 9;
        // A pan and a decorrelation that drift from frame to frame, with an
        // SBR header every fifth frame: time- and frequency-delta frames. A
        // decoder joining at a header frame gets the same indices.
        for (int f = 0; f < 14; ++f) {
            const float pan = 0.5f + 0.04f * f, mix = 0.1f * (f % 7);
            if (f == 10) chain.decoder.Reset();
            chain.Frame([&](long, float* l, float* r) {
                const float a = Noise(&seed), b = Noise(&seed);
                *l = pan * a;
                *r = (1.0f - pan) * a + mix * b;
            }, f % 5 == 0);
            if (chain.decoder.IidBands()) {
                EXPECT_EQ(chain.decoder.IidBands(), bands);
            }
        }
    }
}

}  // namespace
}  // namespace aurivane
