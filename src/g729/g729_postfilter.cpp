#include "g729/g729_postfilter.h"

#include <cmath>

#include "g729/g729_filters.h"
#include "g729/g729_lpc.h"
#include "g729/g729_tables.h"

namespace aurivane::g729 {

void PostFilter::Reset() {
    for (double& v : res_) v = 0.0;
    resAt_ = kHist;
    for (double& v : synMem_) v = 0.0;
}

void PostFilter::ResetAll() {
    Reset();
    tiltMem_ = 0.0;
    gain_ = 1.0;
}

void PostFilter::Process(const double* syn, const double a[11], int t0, double* out) {
    constexpr int L = kSubframe;
    int tmax = t0 + 3;
    if (tmax > kPitchMax) tmax = kPitchMax;
    const int tmin = tmax - 6;

    double num[11], den[11];
    WeightLpc(a, kGammaNum, num);
    WeightLpc(a, kGammaDen, den);

    if (resAt_ + L > kHist + kRoom) {
        for (int i = 0; i < kHist; ++i) res_[i] = res_[resAt_ - kHist + i];
        resAt_ = kHist;
    }
    double* res = res_ + resAt_;
    Residual(num, syn, res, L);

    // Long-term post-filter, integer delays only.
    // The seven correlations accumulate side by side (cor[m] at delay
    // tmax - m), each in its own order.
    double cor[7] = {};
    for (int j = 0; j < L; ++j) {
        const double r = res[j];
        const double* past = res + j - tmax;
        for (int m = 0; m < 7; ++m) cor[m] += r * past[m];
    }
    double corMax = -INFINITY;
    int t = tmin;
    for (int i = tmin; i <= tmax; ++i) {
        const double c = cor[tmax - i];
        if (c > corMax) {
            corMax = c;
            t = i;
        }
    }
    double en = 0.5, en0 = 0.5;
    for (int j = 0; j < L; ++j) {
        en += res[j - t] * res[j - t];
        en0 += res[j] * res[j];
    }
    if (corMax < 0.0) corMax = 0.0;
    double x[L];
    if (corMax * corMax < 0.5 * en * en0) {
        for (int j = 0; j < L; ++j) x[j] = res[j];
    } else {
        double g0, g1;
        if (en < corMax) {
            g0 = 1.0 / (1.0 + kGammaP);
            g1 = kGammaP / (1.0 + kGammaP);
        } else {
            const double c = kGammaP * corMax;
            g1 = c / (en + c);
            g0 = 1.0 - g1;
        }
        for (int j = 0; j < L; ++j) x[j] = g0 * res[j] + g1 * res[j - t];
    }

    // Tilt compensation from the truncated impulse response of num/den.
    double h[kPostImpulse];
    for (int i = 0; i < kPostImpulse; ++i) h[i] = i <= kOrder ? num[i] : 0.0;
    double zero[10] = {};
    Synthesis(den, h, h, kPostImpulse, zero, false);
    double rh0 = 0.0, rh1 = 0.0;
    for (int i = 0; i < kPostImpulse; ++i) rh0 += h[i] * h[i];
    for (int i = 0; i < kPostImpulse - 1; ++i) rh1 += h[i] * h[i + 1];
    const double mu = rh1 > 0.0 ? kTiltMu * rh1 / rh0 : 0.0;
    for (int j = 0; j < L; ++j) {
        const double v = x[j];
        x[j] = v - mu * tiltMem_;
        tiltMem_ = v;
    }

    Synthesis(den, x, out, L, synMem_, true);

    // Adaptive gain control towards the energy of the synthesized speech.
    double outEn = 0.0;
    for (int j = 0; j < L; ++j) outEn += out[j] * out[j];
    if (outEn == 0.0) {
        gain_ = 0.0;
    } else {
        double inEn = 0.0;
        for (int j = 0; j < L; ++j) inEn += syn[j] * syn[j];
        const double g0 = inEn == 0.0 ? 0.0 : 0.1 * std::sqrt(inEn / outEn);
        for (int j = 0; j < L; ++j) {
            gain_ = kAgcFactor * gain_ + g0;
            out[j] *= gain_;
        }
    }

    resAt_ += L;
}

}  // namespace aurivane::g729
