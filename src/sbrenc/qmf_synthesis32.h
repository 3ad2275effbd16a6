// 32-band complex synthesis QMF of the SBR encoder: resynthesises the lower
// 32 bands of a 64-band analysis frame at half the rate, the encoder's only
// 2:1 downsampler. Keeps a 320-float overlap-add line between frames.
#ifndef AURIVANE_SBRENC_QMF_SYNTHESIS32_H
#define AURIVANE_SBRENC_QMF_SYNTHESIS32_H

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

class QmfSynthesis32 {
public:
    static constexpr int kBands = 32;
    static constexpr int kFrameSamples = kSbrQmfSlots * kBands;  // 1024

    QmfSynthesis32() { Reset(); }
    void Reset();
    // One slot: bands 0..31 of re/im in, 32 samples out.
    void ProcessSlot(const float* re, const float* im, float* output);
    // All 32 slots of a frame: 1024 samples at half the analysis rate.
    void Process(const SbrQmfFrame& frame, float* output);

private:
    // acc_[32 d + k]: partial sums of the output d slots ahead.
    float acc_[10 * kBands];
};

}  // namespace aurivane

#endif
