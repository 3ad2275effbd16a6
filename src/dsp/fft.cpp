#include "dsp/fft.h"

#include <cmath>
#include <cstddef>

namespace aurivane {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

bool IsPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

// Lengths up to 2^kFastLog2 run out of place on contiguous split arrays, so
// that every butterfly pass from the third on is a unit-stride loop over
// per-pass twiddles that the compiler vectorises.
constexpr int kFastLog2 = 12;
constexpr int kFast = 1 << kFastLog2;

struct FastTables {
    // Pass with butterfly distance h (4 <= h < kFast) reads its twiddles
    // e^(-2*pi*i*k/(2h)), k < h, at [h, 2h).
    float cosine[kFast];
    float minusSine[kFast];
    uint16_t reverse[kFast];  // bit reversal over kFastLog2 bits
    FastTables() {
        for (int h = 1; h < kFast; h <<= 1) {
            for (int k = 0; k < h; ++k) {
                const double a = kTwoPi * k / (2.0 * h);
                cosine[h + k] = static_cast<float>(std::cos(a));
                minusSine[h + k] = static_cast<float>(-std::sin(a));
            }
        }
        cosine[0] = 1.0f;
        minusSine[0] = 0.0f;
        for (int i = 0; i < kFast; ++i) {
            int r = 0;
            for (int b = 0; b < kFastLog2; ++b) r |= ((i >> b) & 1) << (kFastLog2 - 1 - b);
            reverse[i] = static_cast<uint16_t>(r);
        }
    }
};

const FastTables& Fast() {
    static const FastTables tables;  // thread-safe one-time initialisation
    return tables;
}

// One radix-2 decimation-in-time pass over a block: a (h values) and b
// (the next h) become a + W^k b and a - W^k b. Restrict-qualified
// parameters let the compiler vectorise without run-time alias checks.
inline void Radix2(float* __restrict ar, float* __restrict ai, float* __restrict br, float* __restrict bi,
                   const float* __restrict wr, const float* __restrict wi, int h) {
    for (int k = 0; k < h; ++k) {
        const float tr = br[k] * wr[k] - bi[k] * wi[k];
        const float ti = br[k] * wi[k] + bi[k] * wr[k];
        br[k] = ar[k] - tr;
        bi[k] = ai[k] - ti;
        ar[k] += tr;
        ai[k] += ti;
    }
}

// Two radix-2 passes (distances h, then 2h) over a block of 4h values in
// one sweep. The second pass's twiddle for the upper quarter is W^k times
// -i, applied as a swap: the same products the table value would give.
inline void Radix2Squared(float* __restrict r0, float* __restrict i0, float* __restrict r1, float* __restrict i1,
                          float* __restrict r2, float* __restrict i2, float* __restrict r3, float* __restrict i3,
                          const float* __restrict w1r, const float* __restrict w1i, const float* __restrict w2r,
                          const float* __restrict w2i, int h) {
    for (int k = 0; k < h; ++k) {
        float tr = r1[k] * w1r[k] - i1[k] * w1i[k];
        float ti = r1[k] * w1i[k] + i1[k] * w1r[k];
        const float b0r = r0[k] + tr, b0i = i0[k] + ti;
        const float b1r = r0[k] - tr, b1i = i0[k] - ti;
        tr = r3[k] * w1r[k] - i3[k] * w1i[k];
        ti = r3[k] * w1i[k] + i3[k] * w1r[k];
        const float b2r = r2[k] + tr, b2i = i2[k] + ti;
        const float b3r = r2[k] - tr, b3i = i2[k] - ti;
        tr = b2r * w2r[k] - b2i * w2i[k];
        ti = b2r * w2i[k] + b2i * w2r[k];
        r0[k] = b0r + tr;
        i0[k] = b0i + ti;
        r2[k] = b0r - tr;
        i2[k] = b0i - ti;
        tr = b3r * w2i[k] + b3i * w2r[k];
        ti = b3i * w2i[k] - b3r * w2r[k];
        r1[k] = b1r + tr;
        i1[k] = b1i + ti;
        r3[k] = b1r - tr;
        i3[k] = b1i - ti;
    }
}

// Forward (negative exponent) transform of re + i*im, both contiguous and in
// bit-reversed order on entry, natural order on exit. n >= 2.
void ForwardReversed(float* __restrict re, float* __restrict im, int n, const FastTables& t) {
    if (n == 2) {
        const float r = re[0] - re[1];
        const float i = im[0] - im[1];
        re[0] += re[1];
        im[0] += im[1];
        re[1] = r;
        im[1] = i;
        return;
    }
    // The first two passes as one radix-4 pass: twiddles 1 and -i only.
    for (int b = 0; b < n; b += 4) {
        const float r0 = re[b] + re[b + 1], i0 = im[b] + im[b + 1];
        const float r1 = re[b] - re[b + 1], i1 = im[b] - im[b + 1];
        const float r2 = re[b + 2] + re[b + 3], i2 = im[b + 2] + im[b + 3];
        const float r3 = re[b + 2] - re[b + 3], i3 = im[b + 2] - im[b + 3];
        re[b] = r0 + r2;
        im[b] = i0 + i2;
        re[b + 2] = r0 - r2;
        im[b + 2] = i0 - i2;
        re[b + 1] = r1 + i3;
        im[b + 1] = i1 - r3;
        re[b + 3] = r1 - i3;
        im[b + 3] = i1 + r3;
    }
    int h = 4;
    // An odd count of the remaining passes: one radix-2 pass first.
    if (h < n && ((n / h) & 0x2AAAAAAA) != 0) {
        for (int base = 0; base < n; base += 2 * h) {
            Radix2(re + base, im + base, re + base + h, im + base + h, t.cosine + h, t.minusSine + h, h);
        }
        h <<= 1;
    }
    // Two radix-2 passes (distances h and 2h) per sweep over the data.
    for (; h < n; h <<= 2) {
        for (int base = 0; base < n; base += 4 * h) {
            float* r = re + base;
            float* i = im + base;
            Radix2Squared(r, i, r + h, i + h, r + 2 * h, i + 2 * h, r + 3 * h, i + 3 * h, t.cosine + h,
                          t.minusSine + h, t.cosine + 2 * h, t.minusSine + 2 * h, h);
        }
    }
}

// Power-of-two length up to kFast on strided data. A positive exponent is
// the forward transform of the swapped pair (im, re).
void PowerOfTwoFast(float* re, float* im, std::ptrdiff_t stride, int n, int sign) {
    const FastTables& t = Fast();
    alignas(16) float sr[kFast];
    alignas(16) float si[kFast];
    int shift = 0;
    while ((n << shift) < kFast) ++shift;
    float* const xr = sign < 0 ? sr : si;
    float* const xi = sign < 0 ? si : sr;
    for (int k = 0; k < n; ++k) {
        const int j = t.reverse[k] >> shift;
        xr[j] = re[k * stride];
        xi[j] = im[k * stride];
    }
    ForwardReversed(sr, si, n, t);
    for (int k = 0; k < n; ++k) {
        re[k * stride] = xr[k];
        im[k * stride] = xi[k];
    }
}

// In-place radix-2 decimation in time on strided data, for lengths above
// kFast: element k is at
// re[k*stride], im[k*stride]. sign is the sign of the exponent.
void PowerOfTwo(float* re, float* im, std::ptrdiff_t stride, int n, int sign) {
    // Bit-reversal permutation.
    for (int i = 0, j = 0; i < n - 1; ++i) {
        if (i < j) {
            float* a = re + i * stride;
            float* b = re + j * stride;
            float t = *a;
            *a = *b;
            *b = t;
            a = im + i * stride;
            b = im + j * stride;
            t = *a;
            *a = *b;
            *b = t;
        }
        int bit = n >> 1;
        while (j & bit) {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
    }

    // Lengths above the fast path's tables are rare: twiddles on the fly.
    const double dir = sign < 0 ? -1.0 : 1.0;
    for (int half = 1; half < n; half <<= 1) {
        const int span = half << 1;
        for (int k = 0; k < half; ++k) {
            const double a = kTwoPi * k / span;
            const float wr = static_cast<float>(std::cos(a));
            const float wi = static_cast<float>(dir * std::sin(a));
            for (int i = k; i < n; i += span) {
                float* ar = re + i * stride;
                float* ai = im + i * stride;
                float* br = re + (i + half) * stride;
                float* bi = im + (i + half) * stride;
                const float tr = *br * wr - *bi * wi;
                const float ti = *br * wi + *bi * wr;
                *br = *ar - tr;
                *bi = *ai - ti;
                *ar += tr;
                *ai += ti;
            }
        }
    }
}

// Lengths that are not powers of two: self-sorting (Stockham) decimation in
// frequency over the prime factors, in double precision, with a scratch
// area on the stack.
constexpr int kMaxGeneralLength = 4096;

struct Complex {
    double re;
    double im;
};

int SmallestFactor(int n) {
    if (n % 4 == 0) return 4;
    if (n % 2 == 0) return 2;
    for (int p = 3; p * p <= n; p += 2) {
        if (n % p == 0) return p;
    }
    return n;
}

void GeneralLength(float* re, float* im, std::ptrdiff_t stride, int n, int sign) {
    Complex bufferA[kMaxGeneralLength];
    Complex bufferB[kMaxGeneralLength];
    Complex roots[kMaxGeneralLength];  // e^(sign*2*pi*i*k/r) of the current radix
    for (int k = 0; k < n; ++k) bufferA[k] = {re[k * stride], im[k * stride]};

    Complex* x = bufferA;
    Complex* y = bufferB;
    const double dir = sign < 0 ? -1.0 : 1.0;
    int length = n;  // length of the sub-transforms at this stage
    int s = 1;       // number of interleaved sub-transforms
    while (length > 1) {
        const int r = SmallestFactor(length);
        const int m = length / r;
        for (int k = 0; k < r; ++k) {
            const double a = dir * kTwoPi * k / r;
            roots[k] = {std::cos(a), std::sin(a)};
        }
        for (int p = 0; p < m; ++p) {
            const double a = dir * kTwoPi * p / length;
            const Complex wp = {std::cos(a), std::sin(a)};
            for (int q = 0; q < s; ++q) {
                Complex w = {1.0, 0.0};  // wp^u
                for (int u = 0; u < r; ++u) {
                    double sr = 0.0;
                    double si = 0.0;
                    int idx = 0;  // t*u mod r
                    for (int t = 0; t < r; ++t) {
                        const Complex& v = x[q + s * (p + t * m)];
                        const Complex& c = roots[idx];
                        sr += v.re * c.re - v.im * c.im;
                        si += v.re * c.im + v.im * c.re;
                        idx += u;
                        if (idx >= r) idx -= r;
                    }
                    y[q + s * (r * p + u)] = {sr * w.re - si * w.im, sr * w.im + si * w.re};
                    const double nr = w.re * wp.re - w.im * wp.im;
                    w.im = w.re * wp.im + w.im * wp.re;
                    w.re = nr;
                }
            }
        }
        Complex* t = x;
        x = y;
        y = t;
        length = m;
        s *= r;
    }
    for (int k = 0; k < n; ++k) {
        re[k * stride] = static_cast<float>(x[k].re);
        im[k * stride] = static_cast<float>(x[k].im);
    }
}

}  // namespace

int FftMixedRadix(float* re, float* im, int ntot, int n, int nspan, int isn) {
    // Only single one-dimensional transforms are supported (ntot == n == nspan).
    if (re == nullptr || im == nullptr || n < 2 || isn == 0) return 0;
    if (ntot != n || nspan != n) return 0;
    const std::ptrdiff_t stride = isn < 0 ? -static_cast<std::ptrdiff_t>(isn) : isn;
    const int sign = isn < 0 ? -1 : 1;
    if (IsPowerOfTwo(n)) {
        if (n <= kFast) {
            PowerOfTwoFast(re, im, stride, n, sign);
        } else {
            PowerOfTwo(re, im, stride, n, sign);
        }
        return 1;
    }
    if (n > kMaxGeneralLength) return 0;
    GeneralLength(re, im, stride, n, sign);
    return 1;
}

int FftBitReverse(int j, int n) {
    if (n < 2 || n > kFast || !IsPowerOfTwo(n) || j < 0 || j >= n) return 0;
    int shift = 0;
    while ((n << shift) < kFast) ++shift;
    return Fast().reverse[j] >> shift;
}

int FftForwardBitReversed(float* re, float* im, int n) {
    if (re == nullptr || im == nullptr || n < 2 || n > kFast || !IsPowerOfTwo(n)) return 0;
    ForwardReversed(re, im, n, Fast());
    return 1;
}

int FftInterleaved(float* data, int n, int sign) {
    if (data == nullptr) return 0;
    return FftMixedRadix(data, data + 1, n, n, n, 2 * sign);
}

int FftSplit(float* re, float* im, int n, int isn) { return FftMixedRadix(re, im, n, n, n, isn); }

int FftSplitCopy(const float* reIn, const float* imIn, float* reOut, float* imOut, int n, int isn) {
    if (reIn == nullptr || imIn == nullptr || reOut == nullptr || imOut == nullptr || n < 0) return 0;
    for (int k = 0; k < n; ++k) {
        reOut[k] = reIn[k];
        imOut[k] = imIn[k];
    }
    return FftMixedRadix(reOut, imOut, n, n, n, isn);
}

namespace {

struct Log2Table {
    float entry[65];
    Log2Table() {
        entry[0] = -1.0f;
        for (int i = 1; i <= 64; ++i) entry[i] = static_cast<float>(std::log(double(i)) / std::log(2.0));
    }
};

const Log2Table& Log2Entries() {
    static const Log2Table table;
    return table;
}

}  // namespace

void Log2Init() { (void)Log2Entries(); }

float Log2(int i) {
    if (i < 0 || i > 64) return 0.0f;
    return Log2Entries().entry[i];
}

float Log2Difference(int a, int b) { return Log2(b) - Log2(a); }

}  // namespace aurivane
