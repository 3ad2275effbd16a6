// bs_invf_mode per noise band: compares the smoothed tonality of the
// original high band with that of the low band the decoder will patch into
// it, with hysteresis on the regions, and whitens more where the patch is
// more tonal than the original. Keeps per noise band the previous regions
// and three-frame tonality histories.
#ifndef AURIVANE_SBRENC_SBR_INVERSE_FILTERING_H
#define AURIVANE_SBRENC_SBR_INVERSE_FILTERING_H

#include "sbrenc/sbr_encoder_types.h"
#include "sbrenc/sbr_tonality.h"

namespace aurivane {

class SbrInverseFiltering {
public:
    // mode: inverseFilteringMode of the settings (4 adaptive, 0..3 fixed).
    void Init(const SbrEncoderBandTables& tables, int speechMode, int mode);

    // Fills invfMode[0 .. N_Q) for this frame. Adaptive mode only reads the
    // frame's two estimates of `tonality`.
    void Detect(const SbrTonality& tonality, const SbrTransientInfo& transient, const SbrFrameInfo& frame,
                int32_t invfMode[kSbrMaxNoiseBands]);

    bool LateTransient() const { return lateTransient_; }

private:
    const SbrEncoderBandTables* tables_ = nullptr;
    int speech_ = 0;
    int mode_ = 4;
    bool lateTransient_ = false;
    int prevSigRegion_[kSbrMaxNoiseBands] = {};
    int prevPatRegion_[kSbrMaxNoiseBands] = {};
    float sigHistory_[kSbrMaxNoiseBands][3] = {};  // oldest first
    float patHistory_[kSbrMaxNoiseBands][3] = {};
};

}  // namespace aurivane

#endif
