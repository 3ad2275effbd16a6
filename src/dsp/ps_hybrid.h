// Hybrid filterbank of the parametric stereo tool (ISO/IEC 14496-3, 8.6.4.3):
// the 13-tap prototypes modulated into Q complex sub-band filters
// g(j) exp(i 2 pi (q + 0.5)(j - 6) / Q) that split the lowest QMF bands. Every
// sub-band lags its QMF band by 6 slots, and the sub-bands of a band sum back
// to that band 6 slots late. Stateless: callers keep the slot history.
#ifndef AURIVANE_DSP_PS_HYBRID_H
#define AURIVANE_DSP_PS_HYBRID_H

namespace aurivane {

inline constexpr int kPsHybridTaps = 13;
inline constexpr int kPsHybridDelay = 6;  // QMF slots

// Modulated filters {re, im} per sub-band and tap, built once.
struct PsHybridFilters {
    float h8_20[8][kPsHybridTaps][2];    // QMF band 0, 10/20-band configuration
    float h12_34[12][kPsHybridTaps][2];  // QMF band 0, 34-band configuration
    float h8_34[8][kPsHybridTaps][2];    // QMF band 1, 34-band configuration
    float h4_34[4][kPsHybridTaps][2];    // 4-band split
};

const PsHybridFilters& PsHybridFilterBank();

// One sub-band: sum_j h(j) x(n + 6 - j). re/im point at x(n + 6); older
// samples lie `stride` floats before it.
inline void PsHybridFilter(const float (*h)[2], const float* re, const float* im, int stride, float* outRe,
                           float* outIm) {
    float r = 0.0f, i = 0.0f;
    for (int j = 0; j < kPsHybridTaps; ++j) {
        const float xr = re[-j * stride], xi = im[-j * stride];
        r += h[j][0] * xr - h[j][1] * xi;
        i += h[j][0] * xi + h[j][1] * xr;
    }
    *outRe = r;
    *outIm = i;
}

// One sub-band over `count` consecutive slots, for a band whose samples lie
// contiguous in time: out[n] = sum_j h(j) x[n + 12 - j]. The taps run in the
// same order as PsHybridFilter's, so both give the same values.
inline void PsHybridFilterSlots(const float (*h)[2], const float* __restrict re, const float* __restrict im,
                                int count, float* __restrict outRe, float* __restrict outIm) {
    for (int n = 0; n < count; ++n) outRe[n] = outIm[n] = 0.0f;
    for (int j = 0; j < kPsHybridTaps; ++j) {
        const float hr = h[j][0], hi = h[j][1];
        const float* xr = re + 2 * kPsHybridDelay - j;
        const float* xi = im + 2 * kPsHybridDelay - j;
        for (int n = 0; n < count; ++n) {
            outRe[n] += hr * xr[n] - hi * xi[n];
            outIm[n] += hr * xi[n] + hi * xr[n];
        }
    }
}

// All `bands` sub-bands of one QMF band at once.
inline void PsHybridSplit(const float (*h)[kPsHybridTaps][2], int bands, const float* re, const float* im, int stride,
                          float* outRe, float* outIm) {
    for (int q = 0; q < bands; ++q) PsHybridFilter(h[q], re, im, stride, &outRe[q], &outIm[q]);
}

}  // namespace aurivane

#endif
