#include "aacenc/aac_mdct.h"

#include "aacenc/aac_psy_output.h"
#include "dsp/aac_windows.h"
#include "dsp/fft.h"

#include <cstddef>
#include <cstring>

namespace aurivane {

namespace {

// Both halves of every long-block window, so that the fold reads one table
// per half whatever the sequence; built from the shared window shapes.
struct WindowTables {
    const float* kbdRise;   // Kaiser-Bessel-derived, alpha 4, 2048-sample block
    const float* sineLong;  // sine window of a 2048-sample block: long pre-rotation
    const float* sineRise;  // sine window of a 256-sample block
    float kbdFall[1024];
    float startFall[1024];  // LONG_START: flat, short sine slope, zeros
    float stopRise[1024];   // LONG_STOP: zeros, short sine slope, flat
    float sineFall[128];

    WindowTables() {
        const AacWindows& shapes = AacWindowTables();
        kbdRise = shapes.longWindow[1];
        sineLong = shapes.longWindow[0];
        sineRise = shapes.shortWindow[0];
        for (int j = 0; j < 128; ++j) sineFall[j] = sineRise[127 - j];
        for (int j = 0; j < 1024; ++j) {
            kbdFall[j] = kbdRise[1023 - j];
            startFall[j] = j < 448 ? 1.0f : (j < 576 ? sineFall[j - 448] : 0.0f);
            stopRise[j] = j < 448 ? 0.0f : (j < 576 ? sineRise[j - 448] : 1.0f);
        }
    }
};

const WindowTables& Windows() {
    static const WindowTables tables;  // built once, read-only afterwards
    return tables;
}

// Time-domain aliasing fold of a block of N = 2 * half samples given as its
// two halves: u[N/4 + i] = z[i] wl[i] - z[N/2-1-i] wl[N/2-1-i] and
// u[N/4-1-i] = -(z[N/2+i] wr[i] + z[N-1-i] wr[N/2-1-i]).
void Fold(const float* left, const float* right, const float* wl, const float* wr, int half, float* u) {
    const int quarter = half / 2;
    for (int i = 0; i < quarter; ++i)
        u[quarter + i] = left[i] * wl[i] - left[half - 1 - i] * wl[half - 1 - i];
    for (int i = 0; i < quarter; ++i)
        u[quarter - 1 - i] = -(right[i] * wr[i] + right[half - 1 - i] * wr[half - 1 - i]);
}

}  // namespace

void MdctDctIv(const float* in, int count, float* out, float* work) {
    const WindowTables& win = Windows();
    // Pre-rotation by exp(-i pi (4n + 1) / (4 count)): the sine window of the
    // 2 * count block holds these sines at even indices, the cosines mirrored.
    const float* pre = count == 1024 ? win.sineLong : win.sineRise;
    const int points = count / 2;
    for (int n = 0; n < points; ++n) {
        const float re = in[2 * n];
        const float im = in[count - 1 - 2 * n];
        const float c = pre[count - 1 - 2 * n];
        const float s = pre[2 * n];
        work[2 * n] = re * c + im * s;
        work[2 * n + 1] = im * c - re * s;
    }
    FftInterleaved(work, points, -1);
    // Post-rotation by exp(-i pi n / count) from the quarter-wave table.
    const int step = 1024 / count;
    for (int n = 0; n < points; ++n) {
        const float re = work[2 * n];
        const float im = work[2 * n + 1];
        const float s = kRotationTable[n * step];
        const float c = kRotationTable[512 - n * step];
        out[2 * n] = re * c + im * s;
        out[count - 1 - 2 * n] = -(im * c - re * s);
    }
}

void AacMdct::Reset() {
    std::memset(delayLine_, 0, sizeof(delayLine_));
    std::memset(folded_, 0, sizeof(folded_));
    std::memset(work_, 0, sizeof(work_));
}

void AacMdct::ShiftIn(const float* samples, int stride) {
    std::memmove(delayLine_, delayLine_ + kAacFrameLength, (kAacDelayLineLength - kAacFrameLength) * sizeof(float));
    float* dst = delayLine_ + (kAacDelayLineLength - kAacFrameLength);
    if (stride == 1) {
        std::memcpy(dst, samples, kAacFrameLength * sizeof(float));
    } else {
        for (int n = 0; n < kAacFrameLength; ++n) dst[n] = samples[static_cast<std::ptrdiff_t>(n) * stride];
    }
}

void AacMdct::Transform(const float* samples, int stride, int32_t windowSequence, float* spectrum) {
    const WindowTables& win = Windows();
    if (windowSequence == kAacShortWindow) {
        // Window w covers block samples 448 + 128 w ... + 255, all inside the
        // delay line as it stands before this frame's samples come in.
        for (int w = 0; w < 8; ++w) {
            const float* block = delayLine_ + 448 + 128 * w;
            Fold(block, block + 128, win.sineRise, win.sineFall, 128, folded_);
            MdctDctIv(folded_, 128, spectrum + 128 * w, work_);
        }
        ShiftIn(samples, stride);
        return;
    }
    const float* wl = windowSequence == kAacStopWindow ? win.stopRise : win.kbdRise;
    const float* wr = windowSequence == kAacStartWindow ? win.startFall : win.kbdFall;
    // Left half: delay line 0..1023. After the shift the right half (old
    // delay 1024..1599 and the first 448 new samples) is delay 0..1023.
    const int quarter = 512;
    for (int i = 0; i < quarter; ++i)
        folded_[quarter + i] = delayLine_[i] * wl[i] - delayLine_[1023 - i] * wl[1023 - i];
    ShiftIn(samples, stride);
    for (int i = 0; i < quarter; ++i)
        folded_[quarter - 1 - i] = -(delayLine_[i] * wr[i] + delayLine_[1023 - i] * wr[1023 - i]);
    MdctDctIv(folded_, 1024, spectrum, work_);
}

}  // namespace aurivane
