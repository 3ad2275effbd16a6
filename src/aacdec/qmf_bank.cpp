#include "aacdec/qmf_bank.h"

#include <cmath>
#include <cstring>

#include "aacdec/fft.h"
#include "aacdec/sbr_tables.h"

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Rotations of the two modulations, built once (read-only afterwards).
struct QmfTwiddles {
    float anaPre[64][2];    // exp(i*pi*n/64)
    float anaPost[32][2];   // exp(-i*pi*(k+0.5)/128)
    float synPre[64][2];    // exp(-i*pi*255*(k+0.5)/128) / 64
    float synPost[128][2];  // exp(i*pi*n/128)
    // Real-valued (low-power) bank: 2 cos(pi*(k+0.5)*(2n-96)/64) analysis and
    // cos(pi*(k+0.5)*(2n-64)/128)/32 synthesis, an alias-cancelling pair.
    float anaPostReal[32][2];  // exp(-i*pi*96*(k+0.5)/64)
    float synPreReal[64][2];   // exp(-i*pi*64*(k+0.5)/128) / 32
    QmfTwiddles() {
        for (int n = 0; n < 64; ++n) {
            anaPre[n][0] = static_cast<float>(std::cos(kPi * n / 64));
            anaPre[n][1] = static_cast<float>(std::sin(kPi * n / 64));
        }
        for (int k = 0; k < 32; ++k) {
            anaPost[k][0] = static_cast<float>(std::cos(-kPi * (k + 0.5) / 128));
            anaPost[k][1] = static_cast<float>(std::sin(-kPi * (k + 0.5) / 128));
        }
        for (int k = 0; k < 32; ++k) {
            anaPostReal[k][0] = static_cast<float>(std::cos(-kPi * 96.0 * (k + 0.5) / 64));
            anaPostReal[k][1] = static_cast<float>(std::sin(-kPi * 96.0 * (k + 0.5) / 64));
        }
        for (int k = 0; k < 64; ++k) {
            double r = -kPi * 64.0 * (k + 0.5) / 128;
            synPreReal[k][0] = static_cast<float>(std::cos(r) / 32);
            synPreReal[k][1] = static_cast<float>(std::sin(r) / 32);
            double a = -kPi * 255.0 * (k + 0.5) / 128;
            synPre[k][0] = static_cast<float>(std::cos(a) / 64);
            synPre[k][1] = static_cast<float>(std::sin(a) / 64);
        }
        for (int n = 0; n < 128; ++n) {
            synPost[n][0] = static_cast<float>(std::cos(kPi * n / 128));
            synPost[n][1] = static_cast<float>(std::sin(kPi * n / 128));
        }
    }
};

const QmfTwiddles& Twiddles() {
    static const QmfTwiddles t;
    return t;
}

}  // namespace

void QmfAnalysis32::Reset() { std::memset(x_, 0, sizeof(x_)); }

void QmfAnalysis32::Process(const float* input, float* re, float* im) {
    const QmfTwiddles& tw = Twiddles();
    std::memmove(x_ + 32, x_, 288 * sizeof(float));
    for (int n = 0; n < 32; ++n) x_[n] = input[31 - n];
    float u[64];
    for (int n = 0; n < 64; ++n) {
        float s = 0.0f;
        for (int j = 0; j < 5; ++j) s += x_[n + 64 * j] * kSbrQmfWindow[2 * (n + 64 * j)];
        u[n] = s;
    }
    // X(k) = 2 sum_n u(n) exp(i*pi*(k+0.5)*(2n-0.5)/64)
    float buf[128];
    for (int n = 0; n < 64; ++n) {
        buf[2 * n] = 2.0f * u[n] * tw.anaPre[n][0];
        buf[2 * n + 1] = 2.0f * u[n] * tw.anaPre[n][1];
    }
    FftInterleaved(buf, 64, 1);
    if (im) {
        for (int k = 0; k < 32; ++k) {
            float a = buf[2 * k], b = buf[2 * k + 1];
            re[k] = a * tw.anaPost[k][0] - b * tw.anaPost[k][1];
            im[k] = a * tw.anaPost[k][1] + b * tw.anaPost[k][0];
        }
    } else {
        for (int k = 0; k < 32; ++k) re[k] = buf[2 * k] * tw.anaPostReal[k][0] - buf[2 * k + 1] * tw.anaPostReal[k][1];
    }
}

void QmfSynthesis64::Reset() { std::memset(v_, 0, sizeof(v_)); }

void QmfSynthesis64::Process(const float* re, const float* im, float* output) {
    const QmfTwiddles& tw = Twiddles();
    std::memmove(v_ + 128, v_, (1280 - 128) * sizeof(float));
    // v(n) = Re sum_k X(k)/64 exp(i*pi*(k+0.5)*(2n-255)/128), n = 0..127
    float buf[256];
    if (im) {
        for (int k = 0; k < 64; ++k) {
            float a = re[k], b = im[k];
            buf[2 * k] = a * tw.synPre[k][0] - b * tw.synPre[k][1];
            buf[2 * k + 1] = a * tw.synPre[k][1] + b * tw.synPre[k][0];
        }
    } else {
        for (int k = 0; k < 64; ++k) {
            buf[2 * k] = re[k] * tw.synPreReal[k][0];
            buf[2 * k + 1] = re[k] * tw.synPreReal[k][1];
        }
    }
    std::memset(buf + 128, 0, 128 * sizeof(float));
    FftInterleaved(buf, 128, 1);
    for (int n = 0; n < 128; ++n) v_[n] = buf[2 * n] * tw.synPost[n][0] - buf[2 * n + 1] * tw.synPost[n][1];
    for (int k = 0; k < 64; ++k) {
        float s = 0.0f;
        for (int j = 0; j < 5; ++j) {
            s += v_[256 * j + k] * kSbrQmfWindow[128 * j + k];
            s += v_[256 * j + 192 + k] * kSbrQmfWindow[128 * j + 64 + k];
        }
        output[k] = s;
    }
}

}  // namespace aurivane
