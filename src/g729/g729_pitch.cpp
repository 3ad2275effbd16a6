#include "g729/g729_pitch.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "g729/g729_filters.h"
#include "g729/g729_tables.h"

namespace aurivane::g729 {

void AdaptiveVector(double* exc, int t0, int frac, int n) {
    // u(n) interpolated with b30 at phase t: taps b30[t + 3i] on the past
    // side and b30[3 - t + 3i] on the future side.
    const double* x0 = exc - t0;
    int f = -frac;
    if (f < 0) {
        f += kUpSamp;
        --x0;
    }
    // The phase is fixed for the whole vector: gather its taps once.
    double past[kInterpHalf], future[kInterpHalf];
    for (int i = 0, k = 0; i < kInterpHalf; ++i, k += kUpSamp) {
        past[i] = kInterp3[f + k];
        future[i] = kInterp3[kUpSamp - f + k];
    }
    // Output-parallel in chunks: v[j] reads the excitation up to j - t0 +
    // kInterpHalf, so a chunk of t0 - kInterpHalf outputs (at least 9) never
    // reads its own results and its loop over j vectorises; each v[j] still
    // sums its taps in increasing i.
    const int chunk = t0 > kInterpHalf ? t0 - kInterpHalf : 1;
    for (int j0 = 0; j0 < n; j0 += chunk) {
        const int len = n - j0 < chunk ? n - j0 : chunk;
        double v[kMaxFilterLength];
        for (int j = 0; j < len; ++j) v[j] = 0.0;
        const double* x = x0 + j0;
        for (int i = 0; i < kInterpHalf; ++i) {
            const double p = past[i], q = future[i];
            const double* x1 = x - i;
            const double* x2 = x + 1 + i;
            for (int j = 0; j < len; ++j) v[j] += x1[j] * p + x2[j] * q;
        }
        for (int j = 0; j < len; ++j) exc[j0 + j] = v[j];
    }
}

namespace {

double NormalisedMax(const double* wsp, int t, double corr) {
    double e = 0.01;
    for (int j = 0; j < kFrame; j += 2) e += wsp[j - t] * wsp[j - t];
    return corr / std::sqrt(e);
}

}  // namespace

int OpenLoopPitch(const double* wsp) {
    // All decimated correlations for delays 20..143 at once: lag-parallel
    // accumulation vectorises, and each lag keeps its own summation order.
    constexpr int kLo = 20, kHi = kPitchMax, kLags = kHi - kLo + 1;
    double corr[kLags] = {};  // corr[m] is the correlation at delay kHi - m
    for (int j = 0; j < kFrame; j += 2) {
        const double w = wsp[j];
        const double* past = wsp + j - kHi;
        for (int m = 0; m < kLags; ++m) corr[m] += w * past[m];
    }
    auto at = [&](int t) { return corr[kHi - t]; };
    auto search = [&](int lo, int hi, int step, int* best) {
        double max = -DBL_MAX;
        for (int t = lo; t <= hi; t += step) {
            const double c = at(t);
            if (c > max) {
                max = c;
                *best = t;
            }
        }
        return max;
    };
    int t1 = 20, t2 = 40, t3 = 80;
    const double c1 = search(20, 39, 1, &t1);
    const double c2 = search(40, 79, 1, &t2);
    double c3 = search(80, 142, 2, &t3);
    const int even = t3;
    for (int t = even - 1; t <= even + 1; t += 2) {
        const double c = at(t);
        if (c > c3) {
            c3 = c;
            t3 = t;
        }
    }
    double m1 = NormalisedMax(wsp, t1, c1);
    double m2 = NormalisedMax(wsp, t2, c2);
    const double m3 = NormalisedMax(wsp, t3, c3);
    if (std::abs(2 * t2 - t3) < 5) m2 += 0.25 * m3;
    if (std::abs(3 * t2 - t3) < 7) m2 += 0.25 * m3;
    if (std::abs(2 * t1 - t2) < 5) m1 += 0.2 * m2;
    if (std::abs(3 * t1 - t2) < 7) m1 += 0.2 * m2;
    int t = t1;
    double m = m1;
    if (m2 > m) {
        m = m2;
        t = t2;
    }
    if (m3 > m) t = t3;
    return t;
}

int ClosedLoopPitch(double* exc, const double* target, const double* h, int tmin, int tmax,
                    bool firstSubframe, int* frac) {
    // Backward-filtered target: correlation with the filtered past
    // excitation becomes a plain dot product with the excitation.
    double dn[kSubframe];
    BackwardFilter(target, h, dn);
    double max = 0.1;
    int t0 = tmin;
    for (int t = tmin; t <= tmax; ++t) {
        const double c = Dot(dn, exc - t, kSubframe);
        if (c > max) {
            max = c;
            t0 = t;
        }
    }
    *frac = 0;
    AdaptiveVector(exc, t0, 0, kSubframe);
    if (firstSubframe && t0 > 84) return t0;
    max = Dot(dn, exc, kSubframe);
    double best[kSubframe];
    for (int i = 0; i < kSubframe; ++i) best[i] = exc[i];
    for (int f = -1; f <= 1; f += 2) {
        AdaptiveVector(exc, t0, f, kSubframe);
        const double c = Dot(dn, exc, kSubframe);
        if (c > max) {
            max = c;
            *frac = f;
            for (int i = 0; i < kSubframe; ++i) best[i] = exc[i];
        }
    }
    for (int i = 0; i < kSubframe; ++i) exc[i] = best[i];
    return t0;
}

}  // namespace aurivane::g729
