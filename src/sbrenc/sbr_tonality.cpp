#include "sbrenc/sbr_tonality.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr int kEstimateSlots = kSbrQmfSlots / 2;

struct Complex {
    float re, im;
};

// Quota of one band over kEstimateSlots samples; x[0], x[1] are the two lag
// samples, x[2 ..] the estimate's own slots. Returns the zero-lag energy.
float BandQuota(const Complex* x, float* quota) {
    // phi(i, j) = sum x[n - i] conj(x[n - j]) over the estimate's slots.
    float p00 = 0.0f, p11 = 0.0f, p22 = 0.0f;
    float p01r = 0.0f, p01i = 0.0f, p02r = 0.0f, p02i = 0.0f, p12r = 0.0f, p12i = 0.0f;
    for (int n = 2; n < kEstimateSlots + 2; ++n) {
        const Complex a = x[n], b = x[n - 1], c = x[n - 2];
        p00 += a.re * a.re + a.im * a.im;
        p11 += b.re * b.re + b.im * b.im;
        p22 += c.re * c.re + c.im * c.im;
        p01r += a.re * b.re + a.im * b.im;
        p01i += a.im * b.re - a.re * b.im;
        p02r += a.re * c.re + a.im * c.im;
        p02i += a.im * c.re - a.re * c.im;
        p12r += b.re * c.re + b.im * c.im;
        p12i += b.im * c.re - b.re * c.im;
    }
    if (p00 == 0.0f) {
        *quota = 0.0f;
        return 0.0f;
    }
    // alpha1 = (phi01 phi12 - phi02 phi11) / d, d = phi22 phi11 - |phi12|^2 / (1 + 1e-6)
    // alpha0 = -(phi01 + alpha1 conj(phi12)) / phi11, as in the HF generator.
    float a0r = 0.0f, a0i = 0.0f, a1r = 0.0f, a1i = 0.0f;
    const float det = p22 * p11 - (p12r * p12r + p12i * p12i) * (1.0f / (1.0f + 1e-6f));
    if (det != 0.0f) {
        a1r = (p01r * p12r - p01i * p12i - p02r * p11) / det;
        a1i = (p01i * p12r + p01r * p12i - p02i * p11) / det;
    }
    if (p11 != 0.0f) {
        a0r = -(p01r + a1r * p12r + a1i * p12i) / p11;
        a0i = -(p01i + a1i * p12r - a1r * p12i) / p11;
    }
    if (a0r * a0r + a0i * a0i >= 16.0f || a1r * a1r + a1i * a1i >= 16.0f) a0r = a0i = a1r = a1i = 0.0f;
    // Residual of the inverse filter x[n] + alpha0 x[n-1] + alpha1 x[n-2],
    // summed directly so rounding can never make it negative.
    float residual = 0.0f;
    for (int n = 2; n < kEstimateSlots + 2; ++n) {
        const Complex a = x[n], b = x[n - 1], c = x[n - 2];
        const float er = a.re + a0r * b.re - a0i * b.im + a1r * c.re - a1i * c.im;
        const float ei = a.im + a0r * b.im + a0i * b.re + a1r * c.im + a1i * c.re;
        residual += er * er + ei * ei;
    }
    const float m = 1.0f - residual / p00;
    *quota = m / (1.0f - m + 1e-6f);
    return p00;
}

}  // namespace

void SbrTonality::Init(int topBand) {
    std::memset(quota_, 0, sizeof(quota_));
    std::memset(energy_, 0, sizeof(energy_));
    std::memset(histRe_, 0, sizeof(histRe_));
    std::memset(histIm_, 0, sizeof(histIm_));
    topBand_ = topBand < 0 ? 0 : (topBand > kSbrQmfBands ? kSbrQmfBands : topBand);
}

void SbrTonality::Estimate(const SbrQmfFrame& qmf) {
    std::memcpy(quota_[0], quota_[2], sizeof(quota_[0]) * 2);
    energy_[0] = energy_[2];
    energy_[1] = energy_[3];
    Complex x[kEstimateSlots + 2];
    for (int e = 0; e < 2; ++e) {
        const int row = kSbrTonalityNewRow + e;
        const int first = e * kEstimateSlots;
        float energy = 0.0f;
        for (int k = 0; k < topBand_; ++k) {
            for (int n = 0; n < kEstimateSlots + 2; ++n) {
                const int slot = first + n - 2;
                if (slot < 0) {
                    x[n] = {histRe_[slot + 2][k], histIm_[slot + 2][k]};
                } else {
                    x[n] = {qmf.re[slot][k], qmf.im[slot][k]};
                }
            }
            energy += BandQuota(x, &quota_[row][k]);
        }
        energy_[row] = energy;
    }
    std::memcpy(histRe_[0], qmf.re[kSbrQmfSlots - 2], sizeof(histRe_));
    std::memcpy(histIm_[0], qmf.im[kSbrQmfSlots - 2], sizeof(histIm_));
}

}  // namespace aurivane
