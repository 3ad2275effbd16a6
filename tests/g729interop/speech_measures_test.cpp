// The measures every threshold of this suite rests on, on signals whose
// answers are known.
#include "support/speech_measures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace aurivane::test {
namespace {

std::vector<int16_t> Noise(std::size_t n, double amplitude, uint32_t seed) {
    std::vector<int16_t> x(n);
    for (auto& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<int16_t>(amplitude * (static_cast<double>(seed >> 8) / (1 << 24) * 2 - 1));
    }
    return x;
}

TEST(SpeechMeasures, FindsDelayAndAlignsBothWays) {
    const std::vector<int16_t> ref = Noise(4000, 8000, 1);
    std::vector<int16_t> late(37, 0);
    late.insert(late.end(), ref.begin(), ref.end());
    double corr = 0;
    EXPECT_EQ(BestLag(ref, late, 100, &corr), 37);
    EXPECT_NEAR(corr, 1.0, 1e-9);
    EXPECT_EQ(BestLag(late, ref, 100), -37);
    const Aligned a = AlignByLag(ref, late, 37);
    ASSERT_EQ(a.ref.size(), ref.size());
    EXPECT_EQ(SnrDb(a.ref, a.test), 100.0);
    EXPECT_TRUE(AlignByLag(ref, late, 5000).ref.empty());
}

TEST(SpeechMeasures, SnrAndLevelOfKnownErrors) {
    const std::vector<int16_t> ref = Noise(8000, 10000, 2);
    std::vector<int16_t> half(ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i) half[i] = static_cast<int16_t>(ref[i] / 2);
    // Error = half the signal: 6.02 dB, and the level drops by 6.02 dB.
    EXPECT_NEAR(SnrDb(ref, half), 6.02, 0.05);
    EXPECT_NEAR(SegmentalSnrDb(ref, half), 6.02, 0.1);
    EXPECT_NEAR(LevelDifferenceDb(ref, half), -6.02, 0.05);
    // A full-scale sine is at -3.01 dBFS.
    std::vector<int16_t> sine(8000);
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<int16_t>(32767 * std::sin(2 * std::numbers::pi * 1000 * i / 8000.0));
    }
    EXPECT_NEAR(LevelDbfs(sine), -3.01, 0.01);
    EXPECT_EQ(LevelDbfs(std::vector<int16_t>(100, 0)), -200.0);
}

TEST(SpeechMeasures, SegmentalSnrSkipsSilenceAndClampsFrames) {
    std::vector<int16_t> ref(1600, 0), test(1600, 0);
    const std::vector<int16_t> loud = Noise(800, 10000, 3);
    std::copy(loud.begin(), loud.end(), ref.begin() + 800);
    // Silent frames do not count; an inverted copy has twice the signal as
    // error, 20 log10(1/2) = -6 dB per frame, inside the clamp.
    for (std::size_t i = 800; i < 1600; ++i) test[i] = static_cast<int16_t>(-ref[i]);
    EXPECT_NEAR(SegmentalSnrDb(ref, test), -6.02, 0.05);
    // Identical frames clamp at 35 dB.
    EXPECT_EQ(SegmentalSnrDb(ref, ref), 35.0);
    EXPECT_EQ(SegmentalSnrDb(std::vector<int16_t>(800, 0), test), 0.0);
}

TEST(SpeechMeasures, LogSpectralDistanceSeesGainAndColour) {
    const std::vector<int16_t> ref = Noise(8000, 8000, 4);
    EXPECT_NEAR(LogSpectralDistanceDb(ref, ref), 0.0, 1e-9);
    std::vector<int16_t> half(ref.size()), smoothed(ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i) {
        half[i] = static_cast<int16_t>(ref[i] / 2);
        smoothed[i] = static_cast<int16_t>((ref[i] + (i ? ref[i - 1] : 0)) / 2);  // low-pass
    }
    EXPECT_NEAR(LogSpectralDistanceDb(ref, half), 6.02, 0.1);
    // A low-pass removes the top of the band: far more than a gain change.
    EXPECT_GT(LogSpectralDistanceDb(ref, smoothed), 8.0);
}

}  // namespace
}  // namespace aurivane::test
