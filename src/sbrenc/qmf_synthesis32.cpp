#include "sbrenc/qmf_synthesis32.h"

#include <cmath>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// v(n) = -1/64 Re sum_k X(k) exp(i*pi*(k+0.5)*(2n+0.5)/64), n = 0..63, is
// the partner of the encoder's 64-band analysis in its lower half at half the
// rate (the sign and the quarter-sample phase follow that analysis'
// modulation). Its kernel is that of a 64-point DCT-IV at the outputs 2n of
// the real sequence x = (Re X(0..31), -Im X(31..0)); outputs past 63 mirror
// with a sign. The DCT-IV runs as a 32-point complex FFT of
// c(j) = x(2j) + i x(63 - 2j) between two rotations: even outputs are the
// real parts, the mirrored odd ones the imaginary parts.
struct Synthesis32Tables {
    float pre[32][2];   // exp(-i*pi*j/64) / 64
    float post[32][2];  // exp(-i*pi*(4p+1)/256)
    // -c(64 d + 2 k): the prototype's even coefficients in overlap-add order,
    // with the output negation folded in.
    float window[10 * 32];
    Synthesis32Tables() {
        for (int j = 0; j < 32; ++j) {
            pre[j][0] = static_cast<float>(std::cos(kPi * j / 64) / 64);
            pre[j][1] = static_cast<float>(-std::sin(kPi * j / 64) / 64);
            post[j][0] = static_cast<float>(std::cos(kPi * (4 * j + 1) / 256));
            post[j][1] = static_cast<float>(-std::sin(kPi * (4 * j + 1) / 256));
        }
        for (int d = 0; d < 10; ++d)
            for (int k = 0; k < 32; ++k) window[32 * d + k] = -kSbrQmfWindow[64 * d + 2 * k];
    }
};

const Synthesis32Tables& Tables() {
    static const Synthesis32Tables t;
    return t;
}

}  // namespace

void QmfSynthesis32::Reset() { std::memset(acc_, 0, sizeof(acc_)); }

void QmfSynthesis32::ProcessSlot(const float* re, const float* im, float* output) {
    const Synthesis32Tables& t = Tables();
    // c(j) = conj X(2j) for j < 16, i X(63 - 2j) above.
    float buf[64];
    for (int j = 0; j < 16; ++j) {
        const float cr = re[2 * j], ci = -im[2 * j];
        buf[2 * j] = cr * t.pre[j][0] - ci * t.pre[j][1];
        buf[2 * j + 1] = cr * t.pre[j][1] + ci * t.pre[j][0];
    }
    for (int j = 16; j < 32; ++j) {
        const float cr = -im[63 - 2 * j], ci = re[63 - 2 * j];
        buf[2 * j] = cr * t.pre[j][0] - ci * t.pre[j][1];
        buf[2 * j + 1] = cr * t.pre[j][1] + ci * t.pre[j][0];
    }
    FftInterleaved(buf, 32, -1);
    // v[0..31] feeds the even delays, v[32..63] the odd ones.
    float v[64];
    for (int p = 0; p < 32; ++p) {
        const float a = buf[2 * p], b = buf[2 * p + 1];
        v[p] = a * t.post[p][0] - b * t.post[p][1];
        v[p + 32] = a * t.post[p][1] + b * t.post[p][0];
    }
    for (int d = 0; d < 10; ++d) {
        const float* w = t.window + 32 * d;
        const float* src = v + 32 * (d & 1);
        float* a = acc_ + 32 * d;
        for (int k = 0; k < 32; ++k) a[k] += w[k] * src[k];
    }
    std::memcpy(output, acc_, 32 * sizeof(float));
    std::memmove(acc_, acc_ + 32, 9 * 32 * sizeof(float));
    std::memset(acc_ + 9 * 32, 0, 32 * sizeof(float));
}

void QmfSynthesis32::Process(const SbrQmfFrame& frame, float* output) {
    for (int s = 0; s < kSbrQmfSlots; ++s) ProcessSlot(frame.re[s], frame.im[s], output + kBands * s);
}

}  // namespace aurivane
