// The encoder's downsampler: 64-band analysis, then the 32-band synthesis of
// the lower half at half the rate.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sbrenc/qmf_synthesis32.h"
#include "sbrenc/sbr_qmf_analysis.h"
#include "support/speech_measures.h"

namespace aurivane {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kFrames = 8;

// Returns the 16-bit half-rate output for a sum of sines (Hz at 44100).
std::vector<int16_t> Downsample(const std::vector<double>& freqs, std::vector<int16_t>* oddInput) {
    std::vector<float> x(SbrQmfAnalysis::kFrameSamples * kFrames);
    for (size_t n = 0; n < x.size(); ++n)
        for (double f : freqs) x[n] += static_cast<float>(9000.0 * std::sin(2.0 * kPi * f / 44100.0 * n));
    SbrQmfAnalysis analysis;
    QmfSynthesis32 synthesis;
    static SbrQmfFrame frame;
    std::vector<float> y(QmfSynthesis32::kFrameSamples * kFrames);
    for (int f = 0; f < kFrames; ++f) {
        analysis.Process(&x[SbrQmfAnalysis::kFrameSamples * f], 1, &frame);
        synthesis.Process(frame, &y[QmfSynthesis32::kFrameSamples * f]);
    }
    std::vector<int16_t> out(y.begin(), y.end());
    // The chain delays by 577 input samples: odd input samples line up.
    oddInput->clear();
    for (size_t n = 1; n < x.size(); n += 2) oddInput->push_back(static_cast<int16_t>(x[n]));
    return out;
}

TEST(QmfSynthesis32, GivesTheLowBandAtHalfTheRateWithoutAliases) {
    std::vector<int16_t> ref;
    const std::vector<int16_t> out = Downsample({440.0, 2900.0, 7100.0}, &ref);
    const test::Pcm r(ref), o(out);
    const int lag = test::BestLag(r.subspan(1024), o.subspan(1024), 600);
    EXPECT_EQ(lag, 289);
    const test::Aligned a = test::AlignByLag(r.subspan(1024), o.subspan(1024), lag);
    EXPECT_GT(test::SnrDb(a.ref, a.test), 55.0);

    // 15 kHz lies above the 32 bands: folded to 7050 Hz it would be heard.
    const std::vector<int16_t> high = Downsample({15000.0}, &ref);
    const test::Pcm h = test::Pcm(high).subspan(1024);
    EXPECT_LT(test::LevelDbfs(h), test::LevelDbfs(test::Pcm(ref).subspan(1024)) - 60.0);
}

}  // namespace
}  // namespace aurivane
