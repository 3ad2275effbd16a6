// Forward filterbank of the AAC-LC encoder: the window of each window
// sequence, the time-domain aliasing fold and the MDCT as a DCT-IV through
// the shared FFT. Keeps the 1600-sample delay line (576 samples of history
// and the newest frame) and its working buffers.
#ifndef AURIVANE_AACENC_AAC_MDCT_H
#define AURIVANE_AACENC_AAC_MDCT_H

#include <cstdint>

namespace aurivane {

inline constexpr int kAacDelayLineLength = 1600;

// DCT-IV of `count` values (1024 or 128), unnormalised:
// out[k] = sum_n in[n] cos(pi / count (n + 1/2)(k + 1/2)).
// `work` holds `count` floats; in and out may not overlap work.
void MdctDctIv(const float* in, int count, float* out, float* work);

class AacMdct {
public:
    // Zeroes the delay line: the first frame transforms 1600 zeros followed by
    // the first 448 input samples.
    void Reset();

    // Transforms the 2048-sample block ending 576 samples before the newest
    // input (the delay line, then the first 448 of `samples`) with the window
    // of `windowSequence`, then takes the 1024 new samples (read with
    // `stride`) into the delay line. Long sequences give 1024 lines; the
    // short sequence eight runs of 128 lines, one per window. The scale is
    // the MDCT of ISO/IEC 14496-3 without its factor 2.
    void Transform(const float* samples, int stride, int32_t windowSequence, float* spectrum);

private:
    void ShiftIn(const float* samples, int stride);

    float delayLine_[kAacDelayLineLength];
    float folded_[1024];
    float work_[1024];
};

}  // namespace aurivane

#endif
