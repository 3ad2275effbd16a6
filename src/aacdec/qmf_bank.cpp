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
    // Complex analysis as an odd-frequency DFT of the 64 real u(n), paired
    // into one 32-point FFT: exp(i*pi*m/32) before; after, the even and odd
    // halves (Z(k) +- conj Z(31-k)) weighted by P(k) = exp(-i*pi*(k+0.5)/128)
    // and Q(k) = -i exp(i*pi*(2k+1)/64) P(k).
    float anaPre[32][2];
    float anaP[32][2];
    float anaQ[32][2];
    // Real-valued (low-power) bank, an alias-cancelling pair: analysis
    // 2 cos(pi*(k+0.5)*(n-48)/32), synthesis cos(pi*(k+0.5)*(n-32)/64)/32, as a
    // DCT-III (32) and a DCT-II (64) through same-length
    // complex FFTs of real data (Makhoul reordering).
    float dct3Pre[32][2];   // exp(i*pi*m/64)
    float dct2Post[64][2];  // exp(-i*pi*m/128)
    // Complex synthesis as a 64-point DCT-IV of Re X and a DST-IV of Im X,
    // each through a 32-point FFT: exp(-i*pi*(4m+1)/256) before and
    // exp(-i*pi*p/64)/64 after.
    float dct4Pre[32][2];
    float dct4Post[32][2];
    // The 32-band analysis takes every other coefficient of the prototype.
    float anaWindow[320];
    // Where the FFT wants element j of its input (bit-reversed order), so
    // the rotations write straight into place.
    int rev32[32];
    int rev64[64];
    QmfTwiddles() {
        for (int i = 0; i < 320; ++i) anaWindow[i] = kSbrQmfWindow[2 * i];
        for (int j = 0; j < 32; ++j) rev32[j] = FftBitReverse(j, 32);
        for (int j = 0; j < 64; ++j) rev64[j] = FftBitReverse(j, 64);
        for (int m = 0; m < 32; ++m) {
            dct4Pre[m][0] = static_cast<float>(std::cos(kPi * (4 * m + 1) / 256));
            dct4Pre[m][1] = static_cast<float>(-std::sin(kPi * (4 * m + 1) / 256));
            dct4Post[m][0] = static_cast<float>(std::cos(kPi * m / 64) / 64);
            dct4Post[m][1] = static_cast<float>(-std::sin(kPi * m / 64) / 64);
        }
        for (int m = 0; m < 32; ++m) {
            dct3Pre[m][0] = static_cast<float>(std::cos(kPi * m / 64));
            dct3Pre[m][1] = static_cast<float>(std::sin(kPi * m / 64));
        }
        for (int m = 0; m < 64; ++m) {
            dct2Post[m][0] = static_cast<float>(std::cos(kPi * m / 128));
            dct2Post[m][1] = static_cast<float>(-std::sin(kPi * m / 128));
        }
        for (int m = 0; m < 32; ++m) {
            anaPre[m][0] = static_cast<float>(std::cos(kPi * m / 32));
            anaPre[m][1] = static_cast<float>(std::sin(kPi * m / 32));
        }
        for (int k = 0; k < 32; ++k) {
            const double p = -kPi * (k + 0.5) / 128, q = p + kPi * (2 * k + 1) / 64 - kPi / 2;
            anaP[k][0] = static_cast<float>(std::cos(p));
            anaP[k][1] = static_cast<float>(std::sin(p));
            anaQ[k][0] = static_cast<float>(std::cos(q));
            anaQ[k][1] = static_cast<float>(std::sin(q));
        }
    }
};

const QmfTwiddles& Twiddles() {
    static const QmfTwiddles t;
    return t;
}

// out(k) = 1/64 sum_n x(n) cos(pi/64 (n+0.5)(k+0.5)), n, k = 0..63, with x(n)
// read at x[stride * n]; folded onto a 32-point complex FFT.
void Dct4(const float* x, int stride, const QmfTwiddles& tw, float* out) {
    alignas(16) float br[32];
    alignas(16) float bi[32];
    for (int m = 0; m < 32; ++m) {
        const float a = x[stride * 2 * m], c = x[stride * (63 - 2 * m)];
        const int j = tw.rev32[m];
        br[j] = a * tw.dct4Pre[m][0] - c * tw.dct4Pre[m][1];
        bi[j] = a * tw.dct4Pre[m][1] + c * tw.dct4Pre[m][0];
    }
    FftForwardBitReversed(br, bi, 32);
    for (int p = 0; p < 32; ++p) {
        const float yr = br[p] * tw.dct4Post[p][0] - bi[p] * tw.dct4Post[p][1];
        const float yi = br[p] * tw.dct4Post[p][1] + bi[p] * tw.dct4Post[p][0];
        out[2 * p] = yr;
        out[63 - 2 * p] = -yi;
    }
}

}  // namespace

void QmfAnalysis32::Reset() {
    std::memset(x_, 0, sizeof(x_));
    pos_ = 32 * kRingSlots;
}

void QmfAnalysis32::Process(const float* input, float* re, float* im) {
    const QmfTwiddles& tw = Twiddles();
    if (pos_ == 0) {
        std::memmove(x_ + 32 * kRingSlots + 32, x_, 288 * sizeof(float));
        pos_ = 32 * kRingSlots + 32;
    }
    pos_ -= 32;
    float* const x = x_ + pos_;
    for (int n = 0; n < 32; ++n) x[n] = input[31 - n];
    float u[64] = {};
    for (int j = 0; j < 5; ++j) {
        const float* xj = x + 64 * j;
        const float* w = tw.anaWindow + 64 * j;
        for (int n = 0; n < 64; ++n) u[n] += xj[n] * w[n];
    }
    // The modulations below run a forward FFT; the positive exponent they
    // need is its transform of the swapped pair (imaginary, real).
    alignas(16) float fr[32];
    alignas(16) float fi[32];
    if (!im) {
        // re(k) = 2 sum_n u(n) cos(pi*(k+0.5)*(n-48)/32): fold the 64 taps onto
        // a 32-point DCT-III (n = 16 has a zero coefficient).
        float y[32];
        y[0] = 2.0f * u[48];
        for (int j = 1; j < 16; ++j) y[j] = 2.0f * (u[48 + j] + u[48 - j]);
        for (int j = 16; j < 32; ++j) y[j] = 2.0f * (u[48 - j] - u[j - 16]);
        // Inverse Makhoul: V(m) = exp(i*pi*m/64) (y(m) - i y(32-m)), y(32) = 0.
        for (int m = 0; m < 32; ++m) {
            float a = y[m], c = m ? -y[32 - m] : 0.0f;
            const int j = tw.rev32[m];
            fr[j] = a * tw.dct3Pre[m][0] - c * tw.dct3Pre[m][1];
            fi[j] = a * tw.dct3Pre[m][1] + c * tw.dct3Pre[m][0];
        }
        FftForwardBitReversed(fi, fr, 32);
        const float h = 0.5f * y[0];
        for (int k = 0; k < 16; ++k) {
            re[2 * k] = 0.5f * fr[k] + h;
            re[2 * k + 1] = 0.5f * fr[31 - k] + h;
        }
        return;
    }
    // X(k) = 2 sum_n u(n) exp(i*pi*(k+0.5)*(2n-0.5)/64)
    //      = 2 P(k) (E(k) + exp(i*pi*(2k+1)/64) O(k)), E and O the odd-frequency
    // DFTs of the even and odd u (each conjugate-symmetric in k <-> 31-k).
    for (int m = 0; m < 32; ++m) {
        const float a = u[2 * m], b = u[2 * m + 1];
        const int j = tw.rev32[m];
        fr[j] = a * tw.anaPre[m][0] - b * tw.anaPre[m][1];
        fi[j] = a * tw.anaPre[m][1] + b * tw.anaPre[m][0];
    }
    FftForwardBitReversed(fi, fr, 32);
    for (int k = 0; k < 32; ++k) {
        const float ar = fr[k], ai = fi[k], br = fr[31 - k], bi = -fi[31 - k];
        const float sr = ar + br, si = ai + bi, dr = ar - br, di = ai - bi;
        re[k] = sr * tw.anaP[k][0] - si * tw.anaP[k][1] + dr * tw.anaQ[k][0] - di * tw.anaQ[k][1];
        im[k] = sr * tw.anaP[k][1] + si * tw.anaP[k][0] + dr * tw.anaQ[k][1] + di * tw.anaQ[k][0];
    }
}

void QmfSynthesis64::Reset() {
    std::memset(v_, 0, sizeof(v_));
    pos_ = 128 * kRingSlots;
}

void QmfSynthesis64::Process(const float* re, const float* im, float* output) {
    const QmfTwiddles& tw = Twiddles();
    if (pos_ == 0) {
        std::memmove(v_ + 128 * kRingSlots + 128, v_, (1280 - 128) * sizeof(float));
        pos_ = 128 * kRingSlots + 128;
    }
    pos_ -= 128;
    float* const v = v_ + pos_;
    if (!im) {
        // v(n) = 1/32 sum_k X(k) cos(pi*(k+0.5)*(n-32)/64): a 64-point DCT-II
        // z(m), mirrored for n < 32, zero at n = 96, negated beyond.
        alignas(16) float br[64];
        alignas(16) float bi[64];
        for (int k = 0; k < 32; ++k) {
            br[tw.rev64[k]] = re[2 * k];
            br[tw.rev64[63 - k]] = re[2 * k + 1];
        }
        for (int k = 0; k < 64; ++k) bi[k] = 0.0f;
        FftForwardBitReversed(br, bi, 64);
        float z[64];
        for (int m = 0; m < 64; ++m)
            z[m] = (br[m] * tw.dct2Post[m][0] - bi[m] * tw.dct2Post[m][1]) * (1.0f / 32);
        for (int n = 0; n < 32; ++n) v[n] = z[32 - n];
        for (int n = 32; n < 96; ++n) v[n] = z[n - 32];
        v[96] = 0.0f;
        for (int n = 97; n < 128; ++n) v[n] = -z[160 - n];
    } else {
        // v(n) = Re sum_k X(k)/64 exp(i*pi*(k+0.5)*(2n-255)/128), n = 0..127.
        // With C = DCT-IV(Re X) and S = DST-IV(Im X) (length 64):
        // v(n) = (S(n) - C(n))/64 for n < 64, (C(127-n) + S(127-n))/64 above.
        // DST-IV(b)(j) = (-1)^j DCT-IV(b reversed)(j).
        float c[64], d[64];
        Dct4(re, 1, tw, c);
        Dct4(im + 63, -1, tw, d);
        for (int n = 0; n < 64; n += 2) {
            v[n] = d[n] - c[n];
            v[n + 1] = -d[n + 1] - c[n + 1];
        }
        for (int j = 0; j < 64; j += 2) {
            v[127 - j] = c[j] + d[j];
            v[126 - j] = c[j + 1] - d[j + 1];
        }
    }
    // Output k sums the ten windowed taps in a register, vectorised over k.
    const float* __restrict w = kSbrQmfWindow;
    const float* __restrict vv = v;
    float* __restrict out = output;
    for (int k = 0; k < 64; ++k) {
        float acc = vv[k] * w[k];
        acc += vv[192 + k] * w[64 + k];
        for (int j = 1; j < 5; ++j) {
            acc += vv[256 * j + k] * w[128 * j + k];
            acc += vv[256 * j + 192 + k] * w[128 * j + 64 + k];
        }
        out[k] = acc;
    }
}

}  // namespace aurivane
