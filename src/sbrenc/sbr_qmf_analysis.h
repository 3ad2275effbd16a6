// 64-band complex analysis QMF of the SBR encoder (ISO/IEC 14496-3, 4.6.18.4
// prototype) and the per-frame QMF energy grid. The bank keeps the last 640
// input samples of its channel between frames.
#ifndef AURIVANE_SBRENC_SBR_QMF_ANALYSIS_H
#define AURIVANE_SBRENC_SBR_QMF_ANALYSIS_H

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

class SbrQmfAnalysis {
public:
    static constexpr int kFrameSamples = kSbrQmfSlots * kSbrQmfBands;  // 2048

    SbrQmfAnalysis() { Reset(); }
    void Reset();
    // Analyses one frame: sample n of the channel is input[n * stride],
    // n = 0..2047. X(k) = sum_n u(n) exp(i*pi*(k+0.5)*(2n-1)/128), n = 0..127,
    // the partner of the decoder's 64-band synthesis (unit gain, 577 samples
    // of delay through both).
    void Process(const float* input, int stride, SbrQmfFrame* frame);

private:
    // Input reversed (newest first): the frame's 2048 samples, then the 640
    // of the previous frames, so each slot's window reads forward.
    float history_[kFrameSamples + 640];
};

// Energy rows of the current frame: energy[16 + r][k] = mean power of QMF
// slots 2r and 2r + 1 of band k. Rows 0..15 (the previous frame) are kept.
void SbrQmfEnergies(const SbrQmfFrame& frame, float (*energy)[kSbrQmfBands]);

// The current rows become the history of the next frame.
void SbrSwapEnergyHalves(float (*energy)[kSbrQmfBands]);

}  // namespace aurivane

#endif
