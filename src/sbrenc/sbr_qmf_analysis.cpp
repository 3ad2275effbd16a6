#include "sbrenc/sbr_qmf_analysis.h"

#include <cmath>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The analysis modulation exp(i*pi*(k+0.5)*(2n-1)/128): its half-sample
// phase makes it the exact partner of the 64-band synthesis bank; without it
// the aliasing of adjacent bands does not cancel. Computed
// as the phase-free X0(k) = sum_n u(n) exp(i*pi*(k+0.5)*n/64), rotated.
// Both halves of X0 are the transform T(y)(k) = sum_j y(j)
// cos(pi*(k+0.5)*j/64): the real part of the antisymmetric fold, the
// imaginary part (odd outputs negated) of the reversed symmetric fold.
// T is linear over the complex numbers, so one 64-point complex FFT computes
// both folds at once (the inverse of Makhoul's DCT-II reordering).
struct AnalysisTwiddles {
    float pre[64][2];   // 0.5 * exp(i*pi*j/128)
    float post[64][2];  // exp(-i*pi*(k+0.5)/128)
    AnalysisTwiddles() {
        for (int j = 0; j < 64; ++j) {
            pre[j][0] = static_cast<float>(0.5 * std::cos(kPi * j / 128));
            pre[j][1] = static_cast<float>(0.5 * std::sin(kPi * j / 128));
            post[j][0] = static_cast<float>(std::cos(kPi * (j + 0.5) / 128));
            post[j][1] = static_cast<float>(-std::sin(kPi * (j + 0.5) / 128));
        }
    }
};

const AnalysisTwiddles& Twiddles() {
    static const AnalysisTwiddles t;
    return t;
}

}  // namespace

void SbrQmfAnalysis::Reset() { std::memset(history_, 0, sizeof(history_)); }

void SbrQmfAnalysis::Process(const float* input, int stride, SbrQmfFrame* frame) {
    const AnalysisTwiddles& tw = Twiddles();
    std::memmove(history_ + kFrameSamples, history_, 640 * sizeof(float));
    for (int n = 0; n < kFrameSamples; ++n) history_[kFrameSamples - 1 - n] = input[n * stride];

    for (int slot = 0; slot < kSbrQmfSlots; ++slot) {
        // x(n), newest first, is history_[base + n] after the slot's 64 samples.
        const float* x = history_ + (kFrameSamples - 64) - 64 * slot;
        float u[128];
        for (int n = 0; n < 128; ++n) {
            u[n] = kSbrQmfWindow[n] * x[n] + kSbrQmfWindow[n + 128] * x[n + 128] +
                   kSbrQmfWindow[n + 256] * x[n + 256] + kSbrQmfWindow[n + 384] * x[n + 384] +
                   kSbrQmfWindow[n + 512] * x[n + 512];
        }
        // y(j) = a(j) + i r(j): a the antisymmetric fold u(j) - u(128 - j),
        // r the symmetric fold read backwards, u(64 - j) + u(64 + j).
        float yr[65], yi[65];
        yr[0] = u[0];
        yi[0] = u[64];
        for (int j = 1; j < 64; ++j) {
            yr[j] = u[j] - u[128 - j];
            yi[j] = u[64 - j] + u[64 + j];
        }
        yr[64] = 0.0f;
        yi[64] = 0.0f;
        // V(j) = exp(i*pi*j/128) (y(j) - i y(64 - j)), halved.
        float b[128];
        for (int j = 0; j < 64; ++j) {
            const float wr = yr[j] + yi[64 - j];
            const float wi = yi[j] - yr[64 - j];
            b[2 * j] = wr * tw.pre[j][0] - wi * tw.pre[j][1];
            b[2 * j + 1] = wr * tw.pre[j][1] + wi * tw.pre[j][0];
        }
        FftInterleaved(b, 64, 1);
        const float hr = 0.5f * yr[0], hi = 0.5f * yi[0];
        float zr[64], zi[64];
        for (int k = 0; k < 32; ++k) {
            zr[2 * k] = b[2 * k] + hr;
            zi[2 * k] = b[2 * k + 1] + hi;
            zr[2 * k + 1] = b[2 * (63 - k)] + hr;
            zi[2 * k + 1] = -(b[2 * (63 - k) + 1] + hi);
        }
        float* re = frame->re[slot];
        float* im = frame->im[slot];
        for (int k = 0; k < 64; ++k) {
            re[k] = zr[k] * tw.post[k][0] - zi[k] * tw.post[k][1];
            im[k] = zr[k] * tw.post[k][1] + zi[k] * tw.post[k][0];
        }
    }
}

void SbrQmfEnergies(const SbrQmfFrame& frame, float (*energy)[kSbrQmfBands]) {
    for (int r = 0; r < kSbrQmfSlots / 2; ++r) {
        const float* re0 = frame.re[2 * r];
        const float* im0 = frame.im[2 * r];
        const float* re1 = frame.re[2 * r + 1];
        const float* im1 = frame.im[2 * r + 1];
        float* e = energy[kSbrQmfSlots / 2 + r];
        for (int k = 0; k < kSbrQmfBands; ++k)
            e[k] = 0.5f * (re0[k] * re0[k] + im0[k] * im0[k] + re1[k] * re1[k] + im1[k] * im1[k]);
    }
}

void SbrSwapEnergyHalves(float (*energy)[kSbrQmfBands]) {
    constexpr int kHalf = kSbrQmfSlots / 2;
    for (int r = 0; r < kHalf; ++r) {
        for (int k = 0; k < kSbrQmfBands; ++k) {
            const float t = energy[r][k];
            energy[r][k] = energy[kHalf + r][k];
            energy[kHalf + r][k] = t;
        }
    }
}

}  // namespace aurivane
