// The codec's vectorised kernels sum every output's terms in the order of
// the textbook direct form, so they must agree with it bit for bit: any
// index slip in the reorganised loops shows as an exact mismatch.
#include <gtest/gtest.h>

#include <random>

#include "g729/g729_filters.h"
#include "g729/g729_lpc.h"
#include "g729/g729_pitch.h"
#include "g729/g729_tables.h"

namespace aurivane::g729 {
namespace {

constexpr int L = kSubframe;

// Signal-like values: noise at a speech level, an exponentially decaying
// impulse response, and exact zeros in places.
void Fill(std::mt19937& rng, double* x, int n, double scale) {
    std::normal_distribution<double> g(0.0, scale);
    for (int i = 0; i < n; ++i) x[i] = (rng() % 7 == 0) ? 0.0 : g(rng);
}

TEST(G729Kernels, BackwardFilterAndConvolutionEqualTheDirectForm) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 50; ++trial) {
        double x[L], h[L];
        Fill(rng, x, L, 3000.0);
        Fill(rng, h, L, 0.5);
        h[0] = 1.0;
        double d[L], y[L];
        BackwardFilter(x, h, d);
        Convolve(x, h, y, L);
        for (int i = 0; i < L; ++i) {
            double s = 0.0;
            for (int j = i; j < L; ++j) s += x[j] * h[j - i];
            ASSERT_EQ(d[i], s) << "backward filter, trial " << trial << ", i " << i;
            double c = 0.0;
            for (int k = 0; k <= i; ++k) c += x[k] * h[i - k];
            ASSERT_EQ(y[i], c) << "convolution, trial " << trial << ", n " << i;
        }
    }
}

TEST(G729Kernels, WindowedAutocorrelationEqualsTheDirectForm) {
    std::mt19937 rng(12);
    for (int trial = 0; trial < 20; ++trial) {
        double s[kWindow];
        Fill(rng, s, kWindow, trial % 2 ? 8000.0 : 3.0);
        double r[11];
        WindowedAutocorrelation(s, r);
        double w[kWindow];
        for (int i = 0; i < kWindow; ++i) w[i] = s[i] * kLpWindow[i];
        for (int k = 0; k <= kOrder; ++k) {
            double acc = 0.0;
            for (int i = k; i < kWindow; ++i) acc += w[i] * w[i - k];
            if (k == 0 && acc < 1.0) acc = 1.0;
            ASSERT_EQ(r[k], acc * kLagWindow[k]) << "trial " << trial << ", lag " << k;
        }
    }
}

// Every delay the decoder can be handed (19 to 143, all three fractions),
// in place: for delays under 40 the vector reads its own first samples.
TEST(G729Kernels, AdaptiveVectorInPlaceEqualsSampleBySampleInterpolation) {
    std::mt19937 rng(13);
    for (int t0 = 19; t0 <= kPitchMax; ++t0)
        for (int frac = -1; frac <= 1; ++frac) {
            double buf[kExcHistory + L], ref[kExcHistory + L];
            Fill(rng, buf, kExcHistory + L, 2000.0);
            for (int i = 0; i < kExcHistory + L; ++i) ref[i] = buf[i];
            AdaptiveVector(buf + kExcHistory, t0, frac, L);
            double* e = ref + kExcHistory;
            const int f = frac > 0 ? kUpSamp - frac : -frac;  // phase of the past-side taps
            const double* x0 = frac > 0 ? e - t0 - 1 : e - t0;
            for (int j = 0; j < L; ++j) {
                double s = 0.0;
                for (int i = 0; i < kInterpHalf; ++i)
                    s += x0[j - i] * kInterp3[f + kUpSamp * i] + x0[j + 1 + i] * kInterp3[kUpSamp - f + kUpSamp * i];
                e[j] = s;
            }
            for (int j = 0; j < L; ++j)
                ASSERT_EQ(buf[kExcHistory + j], e[j]) << "delay " << t0 << " fraction " << frac << " sample " << j;
        }
}

}  // namespace
}  // namespace aurivane::g729
