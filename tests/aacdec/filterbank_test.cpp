// IMDCT against the direct formula, and perfect reconstruction through
// windowing and overlap-add for every window sequence and shape change.
#include "aacdec/aac_filterbank.h"
#include "aacdec/aac_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace aurivane {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(AacImdct, MatchesDirectFormula) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
    for (int count : {1024, 128}) {
        std::vector<float> x(count);
        for (float& v : x) v = dist(rng);
        std::vector<float> out(2 * count), work(2 * count);
        Imdct(x.data(), count, out.data(), work.data());
        const int n = 2 * count;
        const double n0 = (n / 2.0 + 1.0) / 2.0;
        double maxError = 0.0, maxValue = 0.0;
        for (int i = 0; i < n; ++i) {
            double sum = 0.0;
            for (int k = 0; k < count; ++k) sum += x[k] * std::cos(2.0 * kPi / n * (i + n0) * (k + 0.5));
            sum *= 0.5;
            maxError = std::fmax(maxError, std::fabs(sum - out[i]));
            maxValue = std::fmax(maxValue, std::fabs(sum));
        }
        EXPECT_LT(maxError, maxValue * 2e-6) << count;
    }
}

TEST(AacWindows, PowerComplementaryAndKnownValues) {
    const AacWindows& w = AacWindowTables();
    for (int shape = 0; shape < 2; ++shape) {
        for (int i = 0; i < 1024; ++i) {
            const double a = w.longWindow[shape][i], b = w.longWindow[shape][1023 - i];
            EXPECT_NEAR(a * a + b * b, 1.0, 1e-6);
        }
        for (int i = 0; i < 128; ++i) {
            const double a = w.shortWindow[shape][i], b = w.shortWindow[shape][127 - i];
            EXPECT_NEAR(a * a + b * b, 1.0, 1e-6);
        }
    }
    EXPECT_NEAR(w.longWindow[0][0], std::sin(kPi / 4096.0), 1e-9);
    // KBD windows start far lower than the sine window and rise slower.
    EXPECT_LT(w.longWindow[1][0], 1e-3);
    EXPECT_LT(w.shortWindow[1][0], 1e-3);
    EXPECT_LT(w.longWindow[1][200], w.longWindow[0][200]);
}

// The forward MDCT of ISO/IEC 14496-3 (factor 2) of N = 2 * count windowed
// samples, with the 2/N of the standard's IMDCT moved here because the
// decoder's IMDCT carries only 0.5 (the rest is in the dequantiser).
std::vector<float> Mdct(const double* z, int count) {
    const int n = 2 * count;
    const double n0 = (n / 2.0 + 1.0) / 2.0;
    std::vector<float> x(count);
    for (int k = 0; k < count; ++k) {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) sum += z[i] * std::cos(2.0 * kPi / n * (i + n0) * (k + 0.5));
        x[k] = static_cast<float>(sum * 8.0 / n);
    }
    return x;
}

// The 2048-sample window of a sequence, as the decoder applies it.
std::vector<double> Window(int sequence, int prevShape, int shape) {
    const AacWindows& w = AacWindowTables();
    std::vector<double> win(2048, 0.0);
    const float* longPrev = w.longWindow[prevShape];
    const float* longCur = w.longWindow[shape];
    const float* shortPrev = w.shortWindow[prevShape];
    const float* shortCur = w.shortWindow[shape];
    for (int i = 0; i < 1024; ++i) {
        win[i] = (sequence == kLongStop) ? (i < 448 ? 0.0 : i < 576 ? shortPrev[i - 448] : 1.0) : longPrev[i];
        win[1024 + i] = (sequence == kLongStart) ? (i < 448 ? 1.0 : i < 576 ? shortCur[575 - i] : 0.0)
                                                 : longCur[1023 - i];
    }
    return win;
}

std::vector<float> EncodeFrame(const std::vector<double>& x, int start, int sequence, int prevShape, int shape) {
    std::vector<float> spectrum(1024, 0.0f);
    const AacWindows& w = AacWindowTables();
    if (sequence == kEightShort) {
        for (int b = 0; b < 8; ++b) {
            double z[256];
            const float* left = w.shortWindow[b == 0 ? prevShape : shape];
            for (int i = 0; i < 256; ++i) {
                const double win = i < 128 ? left[i] : w.shortWindow[shape][255 - i];
                z[i] = x[start + 448 + 128 * b + i] * win;
            }
            const std::vector<float> s = Mdct(z, 128);
            std::copy(s.begin(), s.end(), spectrum.begin() + 128 * b);
        }
        return spectrum;
    }
    const std::vector<double> win = Window(sequence, prevShape, shape);
    std::vector<double> z(2048);
    for (int i = 0; i < 2048; ++i) z[i] = x[start + i] * win[i];
    return Mdct(z.data(), 1024);
}

TEST(AacFilterbank, PerfectReconstructionAcrossSequencesAndShapes) {
    // Every legal transition, with shape changes between frames.
    const int sequences[] = {kOnlyLong, kOnlyLong, kLongStart, kEightShort, kEightShort, kLongStop, kOnlyLong,
                             kLongStart, kEightShort, kLongStop, kLongStart, kLongStop, kOnlyLong};
    const int shapes[] = {0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1};
    const int frames = sizeof(sequences) / sizeof(sequences[0]);
    std::vector<double> x(1024 * (frames + 1));
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = 8000.0 * std::sin(2.0 * kPi * 0.0123 * i) + 3000.0 * std::sin(2.0 * kPi * 0.21 * i + 1.0);
    OverlapState state;
    OverlapReset(&state);
    int prevShape = 0;
    double maxError = 0.0;
    for (int f = 0; f < frames; ++f) {
        const std::vector<float> spectrum = EncodeFrame(x, 1024 * f, sequences[f], prevShape, shapes[f]);
        float out[1024];
        InverseFilterbank(&state, spectrum.data(), static_cast<uint8_t>(sequences[f]), static_cast<uint8_t>(shapes[f]),
                          out);
        if (f > 0) {
            for (int i = 0; i < 1024; ++i) maxError = std::fmax(maxError, std::fabs(out[i] - x[1024 * f + i]));
        }
        prevShape = shapes[f];
    }
    EXPECT_LT(maxError, 0.05);  // of an 11000 peak: above 100 dB
}

TEST(AacFilterbank, IllegalPairsAreAddedWithoutFault) {
    // only-long after long-start (as concealment produces): each frame uses
    // its own halves; the result is finite and the overlap is the start
    // window's flat part.
    OverlapState state;
    OverlapReset(&state);
    std::vector<float> spectrum(1024, 0.0f);
    spectrum[10] = 100.0f;
    float out[1024];
    InverseFilterbank(&state, spectrum.data(), kLongStart, 0, out);
    for (int i = 576; i < 1024; ++i) EXPECT_EQ(state.overlap[i], 0.0f);
    InverseFilterbank(&state, spectrum.data(), kOnlyLong, 0, out);
    InverseFilterbank(&state, spectrum.data(), kLongStop, 1, out);
    InverseFilterbank(&state, spectrum.data(), kEightShort, 0, out);
    InverseFilterbank(&state, spectrum.data(), kOnlyLong, 1, out);
    for (float v : out) EXPECT_TRUE(std::isfinite(v));
}

}  // namespace
}  // namespace aurivane
