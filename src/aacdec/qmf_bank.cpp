#include "aacdec/qmf_bank.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr int kLanes = 4;

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
    // The shared FFT's twiddles for 32 points, e^(-2*pi*i*k/(2h)) at [h + k],
    // computed as it computes them, so four transforms side by side give
    // its values exactly.
    float fftCos[32], fftSin[32];
    // The same, each repeated for the lanes of Fft32Lanes.
    float laneCos4[4 * kLanes], laneSin4[4 * kLanes];
    float laneCos8[8 * kLanes], laneSin8[8 * kLanes];
    float laneCos16[8 * kLanes], laneSin16[8 * kLanes];
    QmfTwiddles() {
        for (int h = 1; h < 32; h <<= 1)
            for (int k = 0; k < h; ++k) {
                const double a = kTwoPi * k / (2.0 * h);
                fftCos[h + k] = static_cast<float>(std::cos(a));
                fftSin[h + k] = static_cast<float>(-std::sin(a));
            }
        for (int e = 0; e < 8 * kLanes; ++e) {
            if (e < 4 * kLanes) laneCos4[e] = fftCos[4 + e / kLanes], laneSin4[e] = fftSin[4 + e / kLanes];
            laneCos8[e] = fftCos[8 + e / kLanes], laneSin8[e] = fftSin[8 + e / kLanes];
            laneCos16[e] = fftCos[16 + e / kLanes], laneSin16[e] = fftSin[16 + e / kLanes];
        }
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

// Four forward 32-point FFTs side by side, element j of transform q at
// [j][q], bit-reversed in, natural out: the shared FFT's passes (a radix-4
// pass, a radix-2 pass at distance 4, two radix-2 passes at 8 and 16 in
// one sweep) with every operation across the four lanes.
void Fft32Lanes(float (*__restrict re)[kLanes], float (*__restrict im)[kLanes], const QmfTwiddles& tw) {
    for (int b = 0; b < 32; b += 4) {
        for (int q = 0; q < kLanes; ++q) {
            const float r0 = re[b][q] + re[b + 1][q], i0 = im[b][q] + im[b + 1][q];
            const float r1 = re[b][q] - re[b + 1][q], i1 = im[b][q] - im[b + 1][q];
            const float r2 = re[b + 2][q] + re[b + 3][q], i2 = im[b + 2][q] + im[b + 3][q];
            const float r3 = re[b + 2][q] - re[b + 3][q], i3 = im[b + 2][q] - im[b + 3][q];
            re[b][q] = r0 + r2;
            im[b][q] = i0 + i2;
            re[b + 2][q] = r0 - r2;
            im[b + 2][q] = i0 - i2;
            re[b + 1][q] = r1 + i3;
            im[b + 1][q] = i1 - r3;
            re[b + 3][q] = r1 - i3;
            im[b + 3][q] = i1 + r3;
        }
    }
    // The remaining passes over flat runs of (element, lane) pairs with the
    // twiddles repeated per lane: unit-stride loops without shuffles.
    float* __restrict xr = re[0];
    float* __restrict xi = im[0];
    for (int base = 0; base < 32 * kLanes; base += 8 * kLanes) {
        for (int e = 0; e < 4 * kLanes; ++e) {
            const float wr = tw.laneCos4[e], wi = tw.laneSin4[e];
            const int a = base + e, b = base + 4 * kLanes + e;
            const float ar = xr[a], ai = xi[a], br = xr[b], bi = xi[b];
            const float tr = br * wr - bi * wi;
            const float ti = br * wi + bi * wr;
            xr[b] = ar - tr;
            xi[b] = ai - ti;
            xr[a] = ar + tr;
            xi[a] = ai + ti;
        }
    }
    constexpr int kQ = 8 * kLanes;  // distance 8 in flat units
    for (int e = 0; e < kQ; ++e) {
        const float w1r = tw.laneCos8[e], w1i = tw.laneSin8[e];
        const float w2r = tw.laneCos16[e], w2i = tw.laneSin16[e];
        const float r0 = xr[e], i0 = xi[e], r1 = xr[kQ + e], i1 = xi[kQ + e];
        const float r2 = xr[2 * kQ + e], i2 = xi[2 * kQ + e], r3 = xr[3 * kQ + e], i3 = xi[3 * kQ + e];
        float tr = r1 * w1r - i1 * w1i;
        float ti = r1 * w1i + i1 * w1r;
        const float b0r = r0 + tr, b0i = i0 + ti;
        const float b1r = r0 - tr, b1i = i0 - ti;
        tr = r3 * w1r - i3 * w1i;
        ti = r3 * w1i + i3 * w1r;
        const float b2r = r2 + tr, b2i = i2 + ti;
        const float b3r = r2 - tr, b3i = i2 - ti;
        tr = b2r * w2r - b2i * w2i;
        ti = b2r * w2i + b2i * w2r;
        xr[e] = b0r + tr;
        xi[e] = b0i + ti;
        xr[2 * kQ + e] = b0r - tr;
        xi[2 * kQ + e] = b0i - ti;
        tr = b3r * w2i + b3i * w2r;
        ti = b3i * w2i - b3r * w2r;
        xr[kQ + e] = b1r + tr;
        xi[kQ + e] = b1i + ti;
        xr[3 * kQ + e] = b1r - tr;
        xi[3 * kQ + e] = b1i - ti;
    }
}

// The complex analysis from the windowed u(n) of four slots: rotation into
// the lanes of the FFT input, and back out (see QmfAnalysis32::Process).
void AnalysisPre(const float (*u)[64], const QmfTwiddles& tw, float (*__restrict fr)[kLanes],
                 float (*__restrict fi)[kLanes]) {
    for (int m = 0; m < 32; ++m) {
        float a[kLanes], b[kLanes];
        for (int q = 0; q < kLanes; ++q) a[q] = u[q][2 * m], b[q] = u[q][2 * m + 1];
        const int j = tw.rev32[m];
        const float c = tw.anaPre[m][0], s = tw.anaPre[m][1];
        for (int q = 0; q < kLanes; ++q) {
            fr[j][q] = a[q] * c - b[q] * s;
            fi[j][q] = a[q] * s + b[q] * c;
        }
    }
}

void AnalysisPost(const float (*__restrict fr)[kLanes], const float (*__restrict fi)[kLanes], const QmfTwiddles& tw,
                  float (*__restrict re)[kLanes], float (*__restrict im)[kLanes]) {
    for (int k = 0; k < 32; ++k) {
        const float pr = tw.anaP[k][0], pi = tw.anaP[k][1], qr = tw.anaQ[k][0], qi = tw.anaQ[k][1];
        for (int q = 0; q < kLanes; ++q) {
            const float ar = fr[k][q], ai = fi[k][q], br = fr[31 - k][q], bi = -fi[31 - k][q];
            const float sr = ar + br, si = ai + bi, dr = ar - br, di = ai - bi;
            re[k][q] = sr * pr - si * pi + dr * qr - di * qi;
            im[k][q] = sr * pi + si * pr + dr * qi + di * qr;
        }
    }
}

// The synthesis DCT-IVs (see Dct4) split around the FFT, for two slots:
// lanes 2s and 2s + 1 take Re X and Im X reversed of slot s.
void Dct4Pre(const float* __restrict re0, const float* __restrict im0, const float* __restrict re1,
             const float* __restrict im1, const QmfTwiddles& tw, float (*__restrict br)[kLanes],
             float (*__restrict bi)[kLanes]) {
    for (int m = 0; m < 32; ++m) {
        const int e = 2 * m, o = 63 - 2 * m;
        const float a[kLanes] = {re0[e], im0[o], re1[e], im1[o]};
        const float c[kLanes] = {re0[o], im0[e], re1[o], im1[e]};
        const int j = tw.rev32[m];
        const float p0 = tw.dct4Pre[m][0], p1 = tw.dct4Pre[m][1];
        for (int q = 0; q < kLanes; ++q) {
            br[j][q] = a[q] * p0 - c[q] * p1;
            bi[j][q] = a[q] * p1 + c[q] * p0;
        }
    }
}

void Dct4Post(const float (*__restrict br)[kLanes], const float (*__restrict bi)[kLanes], const QmfTwiddles& tw,
              float (*__restrict out)[kLanes]) {
    for (int p = 0; p < 32; ++p) {
        const float c = tw.dct4Post[p][0], s = tw.dct4Post[p][1];
        for (int q = 0; q < kLanes; ++q) {
            const float yr = br[p][q] * c - bi[p][q] * s;
            const float yi = br[p][q] * s + bi[p][q] * c;
            out[2 * p][q] = yr;
            out[63 - 2 * p][q] = -yi;
        }
    }
}

// v(n) of the complex synthesis from C = DCT-IV(Re X) and S = DST-IV(Im X)
// (see QmfSynthesis64::Process).
void ComplexV(const float* c, const float* d, float* v) {
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
void SynthesisWindow(const float* __restrict v, float* __restrict out) {
    const float* __restrict w = kSbrQmfWindow;
    for (int k = 0; k < 64; ++k) {
        float acc = v[k] * w[k];
        acc += v[192 + k] * w[64 + k];
        for (int j = 1; j < 5; ++j) {
            acc += v[256 * j + k] * w[128 * j + k];
            acc += v[256 * j + 192 + k] * w[128 * j + 64 + k];
        }
        out[k] = acc;
    }
}

}  // namespace

void QmfAnalysis32::Reset() {
    std::memset(x_, 0, sizeof(x_));
    pos_ = 32 * kRingSlots;
}

float* QmfAnalysis32::Advance(const float* input) {
    if (pos_ == 0) {
        std::memmove(x_ + 32 * kRingSlots + 32, x_, 288 * sizeof(float));
        pos_ = 32 * kRingSlots + 32;
    }
    pos_ -= 32;
    float* const x = x_ + pos_;
    for (int n = 0; n < 32; ++n) x[n] = input[31 - n];
    return x;
}

namespace {

// u(n) sums its five windowed taps in a register, vectorised over n.
void AnalysisWindow(const float* __restrict x, const float* __restrict window, float* __restrict u) {
    for (int n = 0; n < 64; ++n) {
        float acc = x[n] * window[n];
        for (int j = 1; j < 5; ++j) acc += x[64 * j + n] * window[64 * j + n];
        u[n] = acc;
    }
}

}  // namespace

void QmfAnalysis32::ProcessSlots(const float* input, int slots, float (*re)[32], float (*im)[32]) {
    const QmfTwiddles& tw = Twiddles();
    for (int l = 0; l < slots; l += kLanes) {
        const int count = std::min(kLanes, slots - l);
        float u[kLanes][64] = {};
        for (int q = 0; q < count; ++q) AnalysisWindow(Advance(input + 32 * (l + q)), tw.anaWindow, u[q]);
        alignas(16) float fr[32][kLanes];
        alignas(16) float fi[32][kLanes];
        AnalysisPre(u, tw, fr, fi);
        // Positive exponent: the forward transform of (imaginary, real).
        Fft32Lanes(fi, fr, tw);
        alignas(16) float xr[32][kLanes];
        alignas(16) float xi[32][kLanes];
        AnalysisPost(fr, fi, tw, xr, xi);
        for (int q = 0; q < count; ++q)
            for (int k = 0; k < 32; ++k) {
                re[l + q][k] = xr[k][q];
                im[l + q][k] = xi[k][q];
            }
    }
}

void QmfAnalysis32::Process(const float* input, float* re, float* im) {
    const QmfTwiddles& tw = Twiddles();
    float* const x = Advance(input);
    float u[64];
    AnalysisWindow(x, tw.anaWindow, u);
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

float* QmfSynthesis64::Advance() {
    if (pos_ == 0) {
        std::memmove(v_ + 128 * kRingSlots + 128, v_, (1280 - 128) * sizeof(float));
        pos_ = 128 * kRingSlots + 128;
    }
    pos_ -= 128;
    return v_ + pos_;
}

void QmfSynthesis64::ProcessSlots(const float (*re)[64], const float (*im)[64], int slots, float* output) {
    if (!im) {
        for (int l = 0; l < slots; ++l) Process(re[l], nullptr, output + 64 * l);
        return;
    }
    const QmfTwiddles& tw = Twiddles();
    // Lanes 2s and 2s + 1: DCT-IV of Re X and of Im X reversed, slot l + s.
    static const float kSilence[64] = {};
    for (int l = 0; l < slots; l += kLanes / 2) {
        const int count = std::min(kLanes / 2, slots - l);
        alignas(16) float br[32][kLanes];
        alignas(16) float bi[32][kLanes];
        Dct4Pre(re[l], im[l], count > 1 ? re[l + 1] : kSilence, count > 1 ? im[l + 1] : kSilence, tw, br, bi);
        Fft32Lanes(br, bi, tw);
        alignas(16) float y[64][kLanes];
        Dct4Post(br, bi, tw, y);
        for (int s = 0; s < count; ++s) {
            float* const v = Advance();
            // ComplexV with C and S read from their lanes.
            const int c = 2 * s, d = 2 * s + 1;
            for (int n = 0; n < 64; n += 2) {
                v[n] = y[n][d] - y[n][c];
                v[n + 1] = -y[n + 1][d] - y[n + 1][c];
            }
            for (int j = 0; j < 64; j += 2) {
                v[127 - j] = y[j][c] + y[j][d];
                v[126 - j] = y[j + 1][c] - y[j + 1][d];
            }
            SynthesisWindow(v, output + 64 * (l + s));
        }
    }
}

void QmfSynthesis64::Process(const float* re, const float* im, float* output) {
    const QmfTwiddles& tw = Twiddles();
    float* const v = Advance();
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
        ComplexV(c, d, v);
    }
    SynthesisWindow(v, output);
}

}  // namespace aurivane
