#include "dsp/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

using namespace aurivane;
using cd = std::complex<double>;

std::vector<cd> DirectDft(const std::vector<cd>& x, int sign) {
    const int n = static_cast<int>(x.size());
    std::vector<cd> y(n);
    for (int j = 0; j < n; ++j) {
        cd sum = 0.0;
        for (int k = 0; k < n; ++k) {
            const double a = sign * 2.0 * M_PI * (static_cast<long long>(j) * k % n) / n;
            sum += x[k] * cd(std::cos(a), std::sin(a));
        }
        y[j] = sum;
    }
    return y;
}

std::vector<cd> RandomSignal(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<cd> x(n);
    for (cd& v : x) v = cd(static_cast<float>(u(rng)), static_cast<float>(u(rng)));
    return x;
}

// Relative RMS error of a float result against the double reference.
double RelativeError(const std::vector<cd>& ref, const float* re, const float* im, int stride) {
    double err = 0.0, energy = 0.0;
    for (std::size_t k = 0; k < ref.size(); ++k) {
        const cd got(re[k * stride], im[k * stride]);
        err += std::norm(got - ref[k]);
        energy += std::norm(ref[k]);
    }
    return std::sqrt(err / energy);
}

class FftLengths : public ::testing::TestWithParam<int> {};

TEST_P(FftLengths, MatchesDirectDftInBothLayoutsAndDirections) {
    const int n = GetParam();
    const std::vector<cd> x = RandomSignal(n, static_cast<unsigned>(n));
    // Float accumulates about log2(n) roundings; this stays far below any
    // real fault (a wrong twiddle gives errors of order 1).
    const double tolerance = 2e-6 * std::log2(static_cast<double>(n) + 1.0);
    for (int sign : {-1, 1}) {
        const std::vector<cd> ref = DirectDft(x, sign);

        std::vector<float> interleaved(2 * n);
        for (int k = 0; k < n; ++k) {
            interleaved[2 * k] = static_cast<float>(x[k].real());
            interleaved[2 * k + 1] = static_cast<float>(x[k].imag());
        }
        ASSERT_EQ(FftInterleaved(interleaved.data(), n, sign), 1);
        EXPECT_LT(RelativeError(ref, interleaved.data(), interleaved.data() + 1, 2), tolerance)
            << "interleaved n=" << n << " sign=" << sign;

        std::vector<float> re(n), im(n), re2(n), im2(n);
        for (int k = 0; k < n; ++k) {
            re[k] = static_cast<float>(x[k].real());
            im[k] = static_cast<float>(x[k].imag());
        }
        ASSERT_EQ(FftSplitCopy(re.data(), im.data(), re2.data(), im2.data(), n, sign), 1);
        EXPECT_LT(RelativeError(ref, re2.data(), im2.data(), 1), tolerance) << "split n=" << n;
        ASSERT_EQ(FftSplit(re.data(), im.data(), n, sign), 1);
        EXPECT_LT(RelativeError(ref, re.data(), im.data(), 1), tolerance);
    }
}

TEST_P(FftLengths, InverseOfForwardIsNTimesInput) {
    const int n = GetParam();
    const std::vector<cd> x = RandomSignal(n, 99u + static_cast<unsigned>(n));
    std::vector<float> data(2 * n);
    for (int k = 0; k < n; ++k) {
        data[2 * k] = static_cast<float>(x[k].real());
        data[2 * k + 1] = static_cast<float>(x[k].imag());
    }
    ASSERT_EQ(FftInterleaved(data.data(), n, -1), 1);
    ASSERT_EQ(FftInterleaved(data.data(), n, +1), 1);
    std::vector<cd> scaled(n);
    for (int k = 0; k < n; ++k) scaled[k] = x[k] * static_cast<double>(n);
    EXPECT_LT(RelativeError(scaled, data.data(), data.data() + 1, 2), 4e-6 * std::log2(n + 1.0));
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftLengths,
                         ::testing::Values(2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096));
INSTANTIATE_TEST_SUITE_P(OtherLengths, FftLengths, ::testing::Values(3, 5, 6, 7, 12, 15, 30, 60, 97, 120, 240, 1000));

TEST(Fft, LengthsAboveTheTwiddleTables) {
    // A tone at bin f lands in bin f alone; inverse of forward gives n * x.
    for (int n : {8192, 16384}) {
        for (int f : {3, n / 2 - 5}) {
            std::vector<float> data(2 * n);
            for (int k = 0; k < n; ++k) {
                const double a = 2.0 * M_PI * (static_cast<long long>(f) * k % n) / n;
                data[2 * k] = static_cast<float>(std::cos(a));
                data[2 * k + 1] = static_cast<float>(std::sin(a));
            }
            const std::vector<float> x = data;
            ASSERT_EQ(FftInterleaved(data.data(), n, -1), 1);
            double leak = 0.0;
            for (int k = 0; k < n; ++k) {
                if (k != f) leak = std::max(leak, std::hypot(double{data[2 * k]}, double{data[2 * k + 1]}));
            }
            EXPECT_NEAR(data[2 * f], n, 1e-3 * n) << "n=" << n << " f=" << f;
            EXPECT_LT(leak, 1e-3 * n) << "n=" << n << " f=" << f;
            ASSERT_EQ(FftInterleaved(data.data(), n, +1), 1);
            double err = 0.0;
            for (int k = 0; k < 2 * n; ++k) err = std::max(err, std::fabs(double{data[k]} - n * double{x[k]}));
            EXPECT_LT(err, 1e-3 * n) << "n=" << n;
        }
    }
}

TEST(Fft, BitReversedInputMatchesNaturalOrder) {
    for (int n : {2, 4, 8, 64, 512, 4096}) {
        const std::vector<cd> x = RandomSignal(n, 7u + static_cast<unsigned>(n));
        std::vector<float> re(n), im(n), rr(n), ri(n);
        for (int k = 0; k < n; ++k) {
            re[k] = static_cast<float>(x[k].real());
            im[k] = static_cast<float>(x[k].imag());
            rr[FftBitReverse(k, n)] = re[k];
            ri[FftBitReverse(k, n)] = im[k];
        }
        ASSERT_EQ(FftSplit(re.data(), im.data(), n, -1), 1);
        ASSERT_EQ(FftForwardBitReversed(rr.data(), ri.data(), n), 1);
        EXPECT_EQ(re, rr) << n;
        EXPECT_EQ(im, ri) << n;
    }
    float one[2] = {1.0f, 2.0f};
    EXPECT_EQ(FftForwardBitReversed(one, one + 1, 3), 0);
    EXPECT_EQ(FftForwardBitReversed(one, one + 1, 8192), 0);
}

TEST(Fft, ImpulseAndRejectedLengths) {
    for (int sign : {-1, 1}) {
        float data[16] = {1.0f};
        ASSERT_EQ(FftInterleaved(data, 8, sign), 1);
        for (int k = 0; k < 8; ++k) {
            EXPECT_FLOAT_EQ(data[2 * k], 1.0f);
            EXPECT_FLOAT_EQ(data[2 * k + 1], 0.0f);
        }
    }
    float one[2] = {3.0f, 4.0f};
    EXPECT_EQ(FftInterleaved(one, 1, -1), 0);
    EXPECT_FLOAT_EQ(one[0], 3.0f);
    EXPECT_FLOAT_EQ(one[1], 4.0f);
    EXPECT_EQ(FftInterleaved(one, 0, -1), 0);
    EXPECT_EQ(FftMixedRadix(one, one + 1, 4, 2, 2, 2), 0);  // batched transforms are not offered
}

TEST(Fft, SignIsTheSignOfTheExponent) {
    // x[k] = e^(+2*pi*i*k/n): the negative exponent concentrates it in bin 1.
    const int n = 16;
    float data[2 * n];
    for (int k = 0; k < n; ++k) {
        data[2 * k] = static_cast<float>(std::cos(2 * M_PI * k / n));
        data[2 * k + 1] = static_cast<float>(std::sin(2 * M_PI * k / n));
    }
    FftInterleaved(data, n, -1);
    EXPECT_NEAR(data[2], n, 1e-4);
    EXPECT_NEAR(data[2 * (n - 1)], 0.0, 1e-4);
}

TEST(Fft, RotationAndLogarithmTables) {
    EXPECT_FLOAT_EQ(kRotationTable[0], 0.0f);
    EXPECT_FLOAT_EQ(kRotationTable[512], 1.0f);
    for (int n = 0; n <= 512; n += 37) {
        EXPECT_NEAR(kRotationTable[n], std::sin(2 * M_PI * n / 2048), 1e-7);
    }
    // 256-sample blocks step by 8: sine of step n and cosine from the mirror.
    EXPECT_NEAR(kRotationTable[512 - 8 * 3], std::cos(2 * M_PI * 3 / 256), 1e-7);

    Log2Init();
    EXPECT_FLOAT_EQ(Log2(0), -1.0f);
    EXPECT_FLOAT_EQ(Log2(1), 0.0f);
    EXPECT_FLOAT_EQ(Log2(64), 6.0f);
    EXPECT_NEAR(Log2(48), std::log2(48.0), 1e-6);
    EXPECT_FLOAT_EQ(Log2Difference(2, 64), 5.0f);
    EXPECT_FLOAT_EQ(Log2Difference(3, 3), 0.0f);
}

}  // namespace
