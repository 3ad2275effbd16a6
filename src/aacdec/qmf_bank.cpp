#include "aacdec/qmf_bank.h"

#include <cmath>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Rotations of the two modulations, built once (read-only afterwards).
struct QmfTwiddles {
    float anaPre[64][2];    // exp(i*pi*n/64)
    float anaPost[32][2];   // exp(-i*pi*(k+0.5)/128)
    float synPre[64][2];    // exp(-i*pi*255*(k+0.5)/128) / 64
    float synPost[128][2];  // exp(i*pi*n/128)
    // Real-valued (low-power) bank, an alias-cancelling pair: analysis
    // 2 cos(pi*(k+0.5)*(n-48)/32), synthesis cos(pi*(k+0.5)*(n-32)/64)/32, as a
    // DCT-III (32) and a DCT-II (64) through same-length
    // complex FFTs of real data (Makhoul reordering).
    float dct3Pre[32][2];   // exp(i*pi*m/64)
    float dct2Post[64][2];  // exp(-i*pi*m/128)
    QmfTwiddles() {
        for (int m = 0; m < 32; ++m) {
            dct3Pre[m][0] = static_cast<float>(std::cos(kPi * m / 64));
            dct3Pre[m][1] = static_cast<float>(std::sin(kPi * m / 64));
        }
        for (int m = 0; m < 64; ++m) {
            dct2Post[m][0] = static_cast<float>(std::cos(kPi * m / 128));
            dct2Post[m][1] = static_cast<float>(-std::sin(kPi * m / 128));
        }
        for (int n = 0; n < 64; ++n) {
            anaPre[n][0] = static_cast<float>(std::cos(kPi * n / 64));
            anaPre[n][1] = static_cast<float>(std::sin(kPi * n / 64));
        }
        for (int k = 0; k < 32; ++k) {
            anaPost[k][0] = static_cast<float>(std::cos(-kPi * (k + 0.5) / 128));
            anaPost[k][1] = static_cast<float>(std::sin(-kPi * (k + 0.5) / 128));
        }
        for (int k = 0; k < 64; ++k) {
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
    if (!im) {
        // re(k) = 2 sum_n u(n) cos(pi*(k+0.5)*(n-48)/32): fold the 64 taps onto
        // a 32-point DCT-III (n = 16 has a zero coefficient).
        float y[32];
        y[0] = 2.0f * u[48];
        for (int j = 1; j < 16; ++j) y[j] = 2.0f * (u[48 + j] + u[48 - j]);
        for (int j = 16; j < 32; ++j) y[j] = 2.0f * (u[48 - j] - u[j - 16]);
        // Inverse Makhoul: V(m) = exp(i*pi*m/64) (y(m) - i y(32-m)), y(32) = 0.
        float b[64];
        for (int m = 0; m < 32; ++m) {
            float a = y[m], c = m ? -y[32 - m] : 0.0f;
            b[2 * m] = a * tw.dct3Pre[m][0] - c * tw.dct3Pre[m][1];
            b[2 * m + 1] = a * tw.dct3Pre[m][1] + c * tw.dct3Pre[m][0];
        }
        FftInterleaved(b, 32, 1);
        const float h = 0.5f * y[0];
        for (int k = 0; k < 16; ++k) {
            re[2 * k] = 0.5f * b[2 * k] + h;
            re[2 * k + 1] = 0.5f * b[2 * (31 - k)] + h;
        }
        return;
    }
    // X(k) = 2 sum_n u(n) exp(i*pi*(k+0.5)*(2n-0.5)/64)
    float buf[128];
    for (int n = 0; n < 64; ++n) {
        buf[2 * n] = 2.0f * u[n] * tw.anaPre[n][0];
        buf[2 * n + 1] = 2.0f * u[n] * tw.anaPre[n][1];
    }
    FftInterleaved(buf, 64, 1);
    for (int k = 0; k < 32; ++k) {
        float a = buf[2 * k], b = buf[2 * k + 1];
        re[k] = a * tw.anaPost[k][0] - b * tw.anaPost[k][1];
        im[k] = a * tw.anaPost[k][1] + b * tw.anaPost[k][0];
    }
}

void QmfSynthesis64::Reset() { std::memset(v_, 0, sizeof(v_)); }

void QmfSynthesis64::Process(const float* re, const float* im, float* output) {
    const QmfTwiddles& tw = Twiddles();
    std::memmove(v_ + 128, v_, (1280 - 128) * sizeof(float));
    if (!im) {
        // v(n) = 1/32 sum_k X(k) cos(pi*(k+0.5)*(n-32)/64): a 64-point DCT-II
        // z(m), mirrored for n < 32, zero at n = 96, negated beyond.
        float b[128];
        for (int k = 0; k < 32; ++k) {
            b[2 * k] = re[2 * k];
            b[2 * (63 - k)] = re[2 * k + 1];
        }
        for (int k = 0; k < 64; ++k) b[2 * k + 1] = 0.0f;
        FftInterleaved(b, 64, -1);
        float z[64];
        for (int m = 0; m < 64; ++m)
            z[m] = (b[2 * m] * tw.dct2Post[m][0] - b[2 * m + 1] * tw.dct2Post[m][1]) * (1.0f / 32);
        for (int n = 0; n < 32; ++n) v_[n] = z[32 - n];
        for (int n = 32; n < 96; ++n) v_[n] = z[n - 32];
        v_[96] = 0.0f;
        for (int n = 97; n < 128; ++n) v_[n] = -z[160 - n];
    } else {
    // v(n) = Re sum_k X(k)/64 exp(i*pi*(k+0.5)*(2n-255)/128), n = 0..127
    float buf[256];
    for (int k = 0; k < 64; ++k) {
        float a = re[k], b = im[k];
        buf[2 * k] = a * tw.synPre[k][0] - b * tw.synPre[k][1];
        buf[2 * k + 1] = a * tw.synPre[k][1] + b * tw.synPre[k][0];
    }
    std::memset(buf + 128, 0, 128 * sizeof(float));
    FftInterleaved(buf, 128, 1);
    for (int n = 0; n < 128; ++n) v_[n] = buf[2 * n] * tw.synPost[n][0] - buf[2 * n + 1] * tw.synPost[n][1];
    }
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
