#include "aacdec/aac_filterbank.h"

#include "aacdec/aac_channel.h"
#include "dsp/fft.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Pre- and post-rotation factors of the DCT-IV through an N/4-point FFT,
// and where each pre-rotated value goes in the FFT's bit-reversed input.
struct Rotation {
    const float* preCos;
    const float* preSin;
    const float* postCos;
    const float* postSin;
    const uint16_t* slot;
};

template <int32_t kCount>
struct RotationTables {
    float preCos[kCount / 2], preSin[kCount / 2], postCos[kCount / 2], postSin[kCount / 2];
    uint16_t slot[kCount / 2];
    RotationTables() {
        for (int32_t k = 0; k < kCount / 2; ++k) {
            const double pre = kPi * (4 * k + 1) / (4.0 * kCount);
            const double post = kPi * k / kCount;
            preCos[k] = static_cast<float>(std::cos(pre));
            preSin[k] = static_cast<float>(std::sin(pre));
            postCos[k] = static_cast<float>(std::cos(post));
            postSin[k] = static_cast<float>(std::sin(post));
            slot[k] = static_cast<uint16_t>(FftBitReverse(k, kCount / 2));
        }
    }
    Rotation View() const { return {preCos, preSin, postCos, postSin, slot}; }
};

Rotation RotationFor(int32_t count) {
    static const RotationTables<1024> longRotation;
    static const RotationTables<128> shortRotation;
    return count == 1024 ? longRotation.View() : shortRotation.View();
}

// u[n] = 0.5 * sum_k X[k] cos(pi/M (n + 1/2)(k + 1/2)), M = count. The
// pre-rotation writes straight into the FFT's bit-reversed split input and
// the post-rotation reads its natural-order output; `work` holds count
// floats.
void DctIv(const float* x, int32_t count, float* u, float* work) {
    const Rotation rot = RotationFor(count);
    const int32_t quarter = count / 2;
    float* re = work;
    float* im = work + quarter;
    for (int32_t k = 0; k < quarter; ++k) {
        const float a = 0.5f * x[2 * k];
        const float b = 0.5f * x[count - 1 - 2 * k];
        // (a + i b) * exp(-i pre)
        re[rot.slot[k]] = a * rot.preCos[k] + b * rot.preSin[k];
        im[rot.slot[k]] = b * rot.preCos[k] - a * rot.preSin[k];
    }
    FftForwardBitReversed(re, im, quarter);
    for (int32_t n = 0; n < quarter; ++n) {
        u[2 * n] = re[n] * rot.postCos[n] + im[n] * rot.postSin[n];
        u[count - 1 - 2 * n] = -(im[n] * rot.postCos[n] - re[n] * rot.postSin[n]);
    }
}

// Windowed IMDCT of `count` lines, rising half with `left`, falling half
// with `right` (each `count` long), written over 2 * count samples.
void WindowedImdct(const float* spectrum, int32_t count, const float* left, const float* right, float* out,
                   float* work) {
    Imdct(spectrum, count, out, work);
    for (int32_t n = 0; n < count; ++n) {
        out[n] *= left[n];
        out[count + n] *= right[count - 1 - n];
    }
}

}  // namespace

void OverlapReset(OverlapState* state) {
    state->previousShape = 0;
    state->previousSequence = 0;
    state->windows = &AacWindowTables();
    std::memset(state->overlap, 0, sizeof(state->overlap));
}

void Imdct(const float* spectrum, int32_t count, float* out, float* work) {
    // The IMDCT output is the DCT-IV u extended by its symmetries:
    // y[n] = u[n + M/2] with u[2M-1-m] = -u[m] and u[m+2M] = -u[m].
    float u[1024];
    DctIv(spectrum, count, u, work);
    const int32_t half = count / 2;
    for (int32_t n = 0; n < half; ++n) out[n] = u[half + n];
    for (int32_t n = half; n < count + half; ++n) out[n] = -u[count + half - 1 - n];
    for (int32_t n = count + half; n < 2 * count; ++n) out[n] = -u[n - count - half];
}

void InverseFilterbank(OverlapState* state, const float* spectrum, uint8_t windowSequence, uint8_t windowShape,
                       float* output) {
    const AacWindows& win = *state->windows;
    const uint8_t prevShape = state->previousShape & 1;
    const uint8_t shape = windowShape & 1;
    float frame[2048];
    float work[1024];
    if (windowSequence == kEightShort) {
        std::memset(frame, 0, sizeof(frame));
        float block[256];
        for (int32_t w = 0; w < 8; ++w) {
            const float* left = win.shortWindow[w == 0 ? prevShape : shape];
            WindowedImdct(spectrum + 128 * w, 128, left, win.shortWindow[shape], block, work);
            float* dst = frame + 448 + 128 * w;
            for (int32_t n = 0; n < 256; ++n) dst[n] += block[n];
        }
    } else if (windowSequence == kOnlyLong) {
        // IMDCT, windows and overlap-add in one pass over the DCT-IV
        // output u: frame[n] = u[512 + n] (n < 512), -u[1535 - n] (n < 1536),
        // -u[n - 1536] above.
        float u[1024];
        DctIv(spectrum, 1024, u, work);
        const float* rise = win.longWindow[prevShape];
        const float* fall = win.longWindow[shape];
        float* overlap = state->overlap;
        for (int32_t n = 0; n < 512; ++n) output[n] = overlap[n] + u[512 + n] * rise[n];
        for (int32_t n = 512; n < 1024; ++n) output[n] = overlap[n] + -u[1535 - n] * rise[n];
        for (int32_t n = 0; n < 512; ++n) overlap[n] = -u[511 - n] * fall[1023 - n];
        for (int32_t n = 512; n < 1024; ++n) overlap[n] = -u[n - 512] * fall[1023 - n];
        state->previousShape = shape;
        state->previousSequence = windowSequence;
        return;
    } else {
        Imdct(spectrum, 1024, frame, work);
        // Left half.
        if (windowSequence == kLongStop) {
            const float* rise = win.shortWindow[prevShape];
            for (int32_t n = 0; n < 448; ++n) frame[n] = 0.0f;
            for (int32_t n = 0; n < 128; ++n) frame[448 + n] *= rise[n];
        } else {
            const float* rise = win.longWindow[prevShape];
            for (int32_t n = 0; n < 1024; ++n) frame[n] *= rise[n];
        }
        // Right half.
        if (windowSequence == kLongStart) {
            const float* rise = win.shortWindow[shape];
            for (int32_t n = 0; n < 128; ++n) frame[1024 + 448 + n] *= rise[127 - n];
            for (int32_t n = 1024 + 576; n < 2048; ++n) frame[n] = 0.0f;
        } else {
            const float* rise = win.longWindow[shape];
            for (int32_t n = 0; n < 1024; ++n) frame[1024 + n] *= rise[1023 - n];
        }
    }
    for (int32_t n = 0; n < 1024; ++n) output[n] = state->overlap[n] + frame[n];
    std::memcpy(state->overlap, frame + 1024, sizeof(state->overlap));
    state->previousShape = shape;
    state->previousSequence = windowSequence;
}

}  // namespace aurivane
