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
// modulation). Written as Re exp(i*pi*(4n+1)/256) W(n) with W the 64-point
// inverse DFT of X(k) exp(i*pi*k/128) (upper half zero).
struct Synthesis32Tables {
    float pre[32][2];   // exp(i*pi*k/128) / 64
    float post[64][2];  // exp(i*pi*(4n+1)/256)
    // -c(64 d + 2 k): the prototype's even coefficients in overlap-add order,
    // with the output negation folded in.
    float window[10 * 32];
    Synthesis32Tables() {
        for (int k = 0; k < 32; ++k) {
            pre[k][0] = static_cast<float>(std::cos(kPi * k / 128) / 64);
            pre[k][1] = static_cast<float>(std::sin(kPi * k / 128) / 64);
        }
        for (int n = 0; n < 64; ++n) {
            post[n][0] = static_cast<float>(std::cos(kPi * (4 * n + 1) / 256));
            post[n][1] = static_cast<float>(std::sin(kPi * (4 * n + 1) / 256));
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
    float buf[128];
    for (int k = 0; k < 32; ++k) {
        buf[2 * k] = re[k] * t.pre[k][0] - im[k] * t.pre[k][1];
        buf[2 * k + 1] = re[k] * t.pre[k][1] + im[k] * t.pre[k][0];
    }
    std::memset(buf + 64, 0, 64 * sizeof(float));
    FftInterleaved(buf, 64, 1);
    // v[0..31] feeds the even delays, v[32..63] the odd ones.
    float v[64];
    for (int n = 0; n < 64; ++n) v[n] = buf[2 * n] * t.post[n][0] - buf[2 * n + 1] * t.post[n][1];
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
