#include "sbrenc/sbr_tonality.h"

#include <cstring>

namespace aurivane {

namespace {

constexpr int kEstimateSlots = kSbrQmfSlots / 2;

// Covariances phi(i, j) = sum x[n - i] conj(x[n - j]) of every band, and the
// predictor's coefficients. Laid out per band so the loops over bands run
// on contiguous rows of the QMF slots and vectorise.
struct Covariance {
    float p00[kSbrQmfBands], p11[kSbrQmfBands], p22[kSbrQmfBands];
    float p01r[kSbrQmfBands], p01i[kSbrQmfBands], p02r[kSbrQmfBands], p02i[kSbrQmfBands];
    float p12r[kSbrQmfBands], p12i[kSbrQmfBands];
    float a0r[kSbrQmfBands], a0i[kSbrQmfBands], a1r[kSbrQmfBands], a1i[kSbrQmfBands];
    float residual[kSbrQmfBands];
};

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
    const int top = topBand_;
    Covariance c;
    for (int e = 0; e < 2; ++e) {
        const int row = kSbrTonalityNewRow + e;
        const int first = e * kEstimateSlots;
        // Slot s of the estimate, s = -2 and -1 reaching back into the last frame.
        auto re = [&](int s) { return first + s < 0 ? histRe_[first + s + 2] : qmf.re[first + s]; };
        auto im = [&](int s) { return first + s < 0 ? histIm_[first + s + 2] : qmf.im[first + s]; };
        std::memset(&c, 0, sizeof(c));
        // All 64 bands: a fixed trip count vectorises without an epilogue.
        for (int n = 0; n < kEstimateSlots; ++n) {
            const float* __restrict ar = re(n);
            const float* __restrict ai = im(n);
            const float* __restrict br = re(n - 1);
            const float* __restrict bi = im(n - 1);
            const float* __restrict cr = re(n - 2);
            const float* __restrict ci = im(n - 2);
            for (int k = 0; k < kSbrQmfBands; ++k) {
                c.p00[k] += ar[k] * ar[k] + ai[k] * ai[k];
                c.p11[k] += br[k] * br[k] + bi[k] * bi[k];
                c.p22[k] += cr[k] * cr[k] + ci[k] * ci[k];
                c.p01r[k] += ar[k] * br[k] + ai[k] * bi[k];
                c.p01i[k] += ai[k] * br[k] - ar[k] * bi[k];
                c.p02r[k] += ar[k] * cr[k] + ai[k] * ci[k];
                c.p02i[k] += ai[k] * cr[k] - ar[k] * ci[k];
                c.p12r[k] += br[k] * cr[k] + bi[k] * ci[k];
                c.p12i[k] += bi[k] * cr[k] - br[k] * ci[k];
            }
        }
        // alpha1 = (phi01 phi12 - phi02 phi11) / d, d = phi22 phi11 - |phi12|^2 / (1 + 1e-6)
        // alpha0 = -(phi01 + alpha1 conj(phi12)) / phi11, as in the HF generator.
        for (int k = 0; k < top; ++k) {
            float a0r = 0.0f, a0i = 0.0f, a1r = 0.0f, a1i = 0.0f;
            const float det = c.p22[k] * c.p11[k] - (c.p12r[k] * c.p12r[k] + c.p12i[k] * c.p12i[k]) * (1.0f / (1.0f + 1e-6f));
            if (det != 0.0f) {
                a1r = (c.p01r[k] * c.p12r[k] - c.p01i[k] * c.p12i[k] - c.p02r[k] * c.p11[k]) / det;
                a1i = (c.p01i[k] * c.p12r[k] + c.p01r[k] * c.p12i[k] - c.p02i[k] * c.p11[k]) / det;
            }
            if (c.p11[k] != 0.0f) {
                a0r = -(c.p01r[k] + a1r * c.p12r[k] + a1i * c.p12i[k]) / c.p11[k];
                a0i = -(c.p01i[k] + a1i * c.p12r[k] - a1r * c.p12i[k]) / c.p11[k];
            }
            if (a0r * a0r + a0i * a0i >= 16.0f || a1r * a1r + a1i * a1i >= 16.0f) a0r = a0i = a1r = a1i = 0.0f;
            c.a0r[k] = a0r;
            c.a0i[k] = a0i;
            c.a1r[k] = a1r;
            c.a1i[k] = a1i;
        }
        // Residual of the inverse filter x[n] + alpha0 x[n-1] + alpha1 x[n-2],
        // summed directly so rounding can never make it negative.
        for (int n = 0; n < kEstimateSlots; ++n) {
            const float* __restrict ar = re(n);
            const float* __restrict ai = im(n);
            const float* __restrict br = re(n - 1);
            const float* __restrict bi = im(n - 1);
            const float* __restrict cr = re(n - 2);
            const float* __restrict ci = im(n - 2);
            for (int k = 0; k < kSbrQmfBands; ++k) {
                const float er = ar[k] + c.a0r[k] * br[k] - c.a0i[k] * bi[k] + c.a1r[k] * cr[k] - c.a1i[k] * ci[k];
                const float ei = ai[k] + c.a0r[k] * bi[k] + c.a0i[k] * br[k] + c.a1r[k] * ci[k] + c.a1i[k] * cr[k];
                c.residual[k] += er * er + ei * ei;
            }
        }
        float energy = 0.0f;
        for (int k = 0; k < top; ++k) {
            const float p00 = c.p00[k];
            float quota = 0.0f;
            if (p00 != 0.0f) {
                const float m = 1.0f - c.residual[k] / p00;
                quota = m / (1.0f - m + 1e-6f);
            }
            quota_[row][k] = quota;
            energy += p00;
        }
        energy_[row] = energy;
    }
    std::memcpy(histRe_[0], qmf.re[kSbrQmfSlots - 2], sizeof(histRe_));
    std::memcpy(histIm_[0], qmf.im[kSbrQmfSlots - 2], sizeof(histIm_));
}

}  // namespace aurivane
