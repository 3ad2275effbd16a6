// The encoder's 64-band analysis bank against the decoder's synthesis bank
// (reconstruction) and against tones (band selectivity, energy scale).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "aacdec/qmf_bank.h"
#include "sbrenc/sbr_qmf_analysis.h"

namespace aurivane {
namespace {

constexpr int kFrame = SbrQmfAnalysis::kFrameSamples;

// Encoder analysis followed by the decoder's synthesis: the aliasing of
// adjacent bands cancels only when the two modulations are partners.
TEST(SbrEncoderQmf, DecoderSynthesisGivesBackTheDelayedInput) {
    const int frames = 4;
    std::vector<float> input(kFrame * frames), output(kFrame * frames);
    uint32_t seed = 7;
    for (float& v : input) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<float>(static_cast<int>((seed >> 8) & 0xffff) - 32768);
    }
    SbrQmfAnalysis analysis;
    QmfSynthesis64 synthesis;
    synthesis.Reset();
    static SbrQmfFrame frame;
    for (int f = 0; f < frames; ++f) {
        analysis.Process(input.data() + kFrame * f, 1, &frame);
        for (int s = 0; s < kSbrQmfSlots; ++s)
            synthesis.Process(frame.re[s], frame.im[s], output.data() + kFrame * f + 64 * s);
    }
    constexpr int kDelay = 577;
    double signal = 0.0, error = 0.0;
    for (int n = 0; n + kDelay < kFrame * frames; ++n) {
        signal += double(input[n]) * input[n];
        const double d = output[n + kDelay] - input[n];
        error += d * d;
    }
    EXPECT_GT(10.0 * std::log10(signal / error), 50.0);
}

// A tone at the centre of band k, read from every second sample of an
// interleaved buffer: its power lands in band k at the scale the envelope
// quantiser assumes: |X| = 64 A / sqrt(2) for a sine of amplitude A, the
// inverse of the synthesis bank's 1/64.
TEST(SbrEncoderQmf, ToneAtBandCentreStaysInItsBand) {
    for (int band : {0, 5, 31, 47, 63}) {
        const double amplitude = 8000.0;
        std::vector<float> interleaved(2 * kFrame * 2, 0.0f);
        for (int n = 0; n < kFrame * 2; ++n)
            interleaved[2 * n + 1] = static_cast<float>(amplitude * std::cos(M_PI * (band + 0.5) * n / 64.0 + 0.3));
        SbrQmfAnalysis analysis;
        static SbrQmfFrame frame;
        static float energy[kSbrQmfSlots][kSbrQmfBands];
        for (int f = 0; f < 2; ++f) {
            analysis.Process(interleaved.data() + 2 * kFrame * f + 1, 2, &frame);
            SbrQmfEnergies(frame, energy);
        }
        double total = 0.0;
        std::vector<double> perBand(kSbrQmfBands, 0.0);
        for (int r = 16; r < 32; ++r)
            for (int k = 0; k < kSbrQmfBands; ++k) perBand[k] += energy[r][k] / 16.0;
        for (double e : perBand) total += e;
        SCOPED_TRACE(band);
        EXPECT_NEAR(perBand[band] / (64.0 * 64.0 * amplitude * amplitude / 2.0), 1.0, 0.05);
        EXPECT_GT(perBand[band] / total, 0.99);
        for (int k = 0; k < kSbrQmfBands; ++k) {
            if (std::abs(k - band) > 1) {
                EXPECT_LT(perBand[k], 1e-6 * perBand[band]) << "band " << k;
            }
        }
    }
}

}  // namespace
}  // namespace aurivane
