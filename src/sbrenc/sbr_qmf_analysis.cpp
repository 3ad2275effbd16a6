#include "sbrenc/sbr_qmf_analysis.h"

#include <cmath>
#include <cstdint>
#include <cstring>

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
// T is linear over the complex numbers, so one 64-point complex DFT computes
// both folds at once (the inverse of Makhoul's DCT-II reordering).
struct AnalysisTwiddles {
    float pre[64][2];   // 0.5 * exp(i*pi*j/128)
    float post[64][2];  // exp(-i*pi*(k+0.5)/128)
    // Radix-2 stages of the 64-point transform: entry half + k holds
    // exp(i*pi*k/half) for the stage whose butterflies span 2 * half.
    float stageRe[64], stageIm[64];
    uint8_t bitReverse[64];
    AnalysisTwiddles() {
        for (int j = 0; j < 64; ++j) {
            pre[j][0] = static_cast<float>(0.5 * std::cos(kPi * j / 128));
            pre[j][1] = static_cast<float>(0.5 * std::sin(kPi * j / 128));
            post[j][0] = static_cast<float>(std::cos(kPi * (j + 0.5) / 128));
            post[j][1] = static_cast<float>(-std::sin(kPi * (j + 0.5) / 128));
            int r = 0;
            for (int b = 0; b < 6; ++b) r |= ((j >> b) & 1) << (5 - b);
            bitReverse[j] = static_cast<uint8_t>(r);
        }
        stageRe[0] = 1.0f;
        stageIm[0] = 0.0f;
        for (int half = 1; half < 64; half *= 2) {
            for (int k = 0; k < half; ++k) {
                stageRe[half + k] = static_cast<float>(std::cos(kPi * k / half));
                stageIm[half + k] = static_cast<float>(std::sin(kPi * k / half));
            }
        }
    }
};

// One radix-2 stage of the 64-point transform: butterflies spanning
// 2 * kHalf. A compile-time span gives loops of fixed length that the
// compiler vectorises.
template <int kHalf>
inline void Fft64Stage(float* re, float* im, const AnalysisTwiddles& tw) {
    const float* wr = tw.stageRe + kHalf;
    const float* wi = tw.stageIm + kHalf;
    for (int start = 0; start < 64; start += 2 * kHalf) {
        float* ar = re + start;
        float* ai = im + start;
        float* br = ar + kHalf;
        float* bi = ai + kHalf;
        for (int k = 0; k < kHalf; ++k) {
            const float tr = br[k] * wr[k] - bi[k] * wi[k];
            const float ti = br[k] * wi[k] + bi[k] * wr[k];
            br[k] = ar[k] - tr;
            bi[k] = ai[k] - ti;
            ar[k] += tr;
            ai[k] += ti;
        }
    }
}

// In-place 64-point DFT with the positive exponent, input in bit-reversed
// order: a fixed size with tabled twiddles, several times faster than the
// general mixed-radix transform for the 32 transforms of every frame.
void Fft64(float* re, float* im, const AnalysisTwiddles& tw) {
    // The first two stages together: 4-point DFTs with twiddles 1 and i.
    for (int s = 0; s < 64; s += 4) {
        const float r0 = re[s] + re[s + 1], i0 = im[s] + im[s + 1];
        const float r1 = re[s] - re[s + 1], i1 = im[s] - im[s + 1];
        const float r2 = re[s + 2] + re[s + 3], i2 = im[s + 2] + im[s + 3];
        const float r3 = re[s + 2] - re[s + 3], i3 = im[s + 2] - im[s + 3];
        re[s] = r0 + r2;
        im[s] = i0 + i2;
        re[s + 2] = r0 - r2;
        im[s + 2] = i0 - i2;
        // i * (r3 + i i3) = -i3 + i r3
        re[s + 1] = r1 - i3;
        im[s + 1] = i1 + r3;
        re[s + 3] = r1 + i3;
        im[s + 3] = i1 - r3;
    }
    Fft64Stage<4>(re, im, tw);
    Fft64Stage<8>(re, im, tw);
    Fft64Stage<16>(re, im, tw);
    Fft64Stage<32>(re, im, tw);
}

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
        float vr[64], vi[64];
        for (int j = 0; j < 64; ++j) {
            const float wr = yr[j] + yi[64 - j];
            const float wi = yi[j] - yr[64 - j];
            vr[tw.bitReverse[j]] = wr * tw.pre[j][0] - wi * tw.pre[j][1];
            vi[tw.bitReverse[j]] = wr * tw.pre[j][1] + wi * tw.pre[j][0];
        }
        Fft64(vr, vi, tw);
        const float hr = 0.5f * yr[0], hi = 0.5f * yi[0];
        float zr[64], zi[64];
        for (int k = 0; k < 32; ++k) {
            zr[2 * k] = vr[k] + hr;
            zi[2 * k] = vi[k] + hi;
            zr[2 * k + 1] = vr[63 - k] + hr;
            zi[2 * k + 1] = -(vi[63 - k] + hi);
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
