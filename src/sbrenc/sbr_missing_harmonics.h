// Missing-harmonics detection: finds high-resolution bands where the
// original carries a sinusoid that patching will not reproduce (original far
// more tonal than its source band), so the decoder adds one
// (bs_add_harmonic). Keeps the previous frame's guide values, so a detected
// tone stays detected while it lasts, and the compensation values that
// lower the envelope of the neighbouring bands.
#ifndef AURIVANE_SBRENC_SBR_MISSING_HARMONICS_H
#define AURIVANE_SBRENC_SBR_MISSING_HARMONICS_H

#include "sbrenc/sbr_encoder_types.h"
#include "sbrenc/sbr_tonality.h"

namespace aurivane {

class SbrMissingHarmonics {
public:
    // detection: harmonicsDetection of the settings; only 2 runs the detector.
    void Init(const SbrEncoderBandTables& tables, int detection);

    // Runs on the frame's two estimates after the grid is known; writes the
    // frame flag, detections and compensation values to `info`.
    void Detect(const SbrTonality& tonality, const SbrTransientInfo& transient, const SbrFrameInfo& frame,
                SbrHarmonicsInfo* info);

    // bs_add_harmonic_flag and bs_add_harmonic from a detection result.
    static void Signal(const SbrHarmonicsInfo& info, int nHigh, SbrFrameValues* values);

private:
    void DetectEstimate(const SbrTonality& tonality, int row, bool allowNew, float* diff, int32_t* detected);

    const SbrEncoderBandTables* tables_ = nullptr;
    bool enabled_ = false;
    float guideDiff_[kSbrMaxHighBands] = {};
    float guideTonality_[kSbrMaxHighBands] = {};
    int32_t prevCompensation_[kSbrMaxHighBands] = {};
    int prevTransientFlag_ = 0;
    int prevTransientFrame_ = 0;
    int prevTransientPos_ = 0;
};

}  // namespace aurivane

#endif
