// Envelope estimation of one SBR channel: the mean QMF energy of every
// envelope and scalefactor band of the frame's grid, quantised to
// scalefactors in 1.5 or 3.0 dB steps. Bands carrying an added sinusoid take
// their strongest QMF band instead of the mean, and with flagB the bands next
// to a sinusoid are lowered by the compensation of the harmonics detector.
// Keeps only the band tables and settings copied at open.
#ifndef AURIVANE_SBRENC_SBR_ENVELOPE_ESTIMATION_H
#define AURIVANE_SBRENC_SBR_ENVELOPE_ESTIMATION_H

#include "dsp/sbr_grid.h"
#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

class SbrEnvelopeEstimator {
public:
    // ampResolution: bs_amp_res of the header; flagB: apply the compensation.
    void Init(const SbrEncoderBandTables& tables, int ampResolution, int flagB);

    // energy: the channel's 32 energy rows (time slot t reads row t), before
    // the halves are swapped. Writes values->envelope[e][j] for every envelope
    // e of info and band j of its resolution, in the steps of bs_amp_res
    // (the envelope coder doubles them for a one-envelope FIXFIX frame, which
    // the decoder reads in 1.5 dB steps).
    void Estimate(const float (*energy)[kSbrQmfBands], const SbrFrameInfo& info, const SbrHarmonicsInfo& harmonics,
                  SbrFrameValues* values) const;

private:
    int nBands_[2] = {};                 // [0] low, [1] high resolution
    uint8_t table_[2][kSbrMaxHighBands + 1] = {};
    // Per low-resolution band: the high-resolution bands it covers.
    uint8_t lowToHighFirst_[kSbrMaxLowBands] = {};
    uint8_t lowToHighEnd_[kSbrMaxLowBands] = {};
    int ampResolution_ = 1;
    int flagB_ = 1;
};

}  // namespace aurivane

#endif
