// Inverse filterbank of AAC-LC: IMDCT, windowing and overlap-add for every
// pair of window sequences.
#ifndef AURIVANE_AACDEC_AAC_FILTERBANK_H
#define AURIVANE_AACDEC_AAC_FILTERBANK_H

#include "dsp/aac_windows.h"

#include <cstdint>

namespace aurivane {

struct OverlapState {
    uint8_t previousShape;
    uint8_t previousSequence;
    const AacWindows* windows;
    float overlap[1024];  // windowed second half of the previous frame
};

void OverlapReset(OverlapState* state);

// Unscaled-by-2/N IMDCT with factor 0.5: out[n] = 0.5 * sum_k X[k]
// cos(2pi/N (n + n0)(k + 1/2)), N = 2 * count (count = 1024 or 128);
// `work` holds 2 * count floats.
void Imdct(const float* spectrum, int32_t count, float* out, float* work);

// One frame: 1024 spectral lines (8 x 128 for eight-short) to 1024 output
// samples, updating the overlap.
void InverseFilterbank(OverlapState* state, const float* spectrum, uint8_t windowSequence,
                       uint8_t windowShape, float* output);

}  // namespace aurivane

#endif
