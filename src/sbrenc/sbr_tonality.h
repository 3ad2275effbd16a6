// Tonality (quota) of every QMF band below the top of the high-resolution
// table: how well a second-order complex linear predictor, solved as the
// decoder's HF generator solves it, predicts the band. Two estimates per
// frame (first and second half); the matrix keeps the previous frame's two.
#ifndef AURIVANE_SBRENC_SBR_TONALITY_H
#define AURIVANE_SBRENC_SBR_TONALITY_H

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

inline constexpr int kSbrTonalityRows = 4;       // rows 0, 1: previous frame; 2, 3: current
inline constexpr int kSbrTonalityNewRow = 2;     // first row of the current frame

class SbrTonality {
public:
    // topBand: the top of the high-resolution table (k2); bands at and above
    // it are not estimated and stay 0.
    void Init(int topBand);

    // Shifts the matrix by two rows and fills rows 2 and 3 from the frame's
    // 32 QMF slots (slots 0..15 and 16..31, each predicted from the two
    // slots before it, so the first estimate reaches into the last frame).
    void Estimate(const SbrQmfFrame& qmf);

    float Quota(int row, int band) const { return quota_[row][band]; }
    const float* QuotaRow(int row) const { return quota_[row]; }
    // Sum over the bands of the zero-lag energy of one estimate.
    float Energy(int row) const { return energy_[row]; }
    int TopBand() const { return topBand_; }

private:
    float quota_[kSbrTonalityRows][kSbrQmfBands] = {};
    float energy_[kSbrTonalityRows] = {};
    // The last two QMF slots of the previous frame (lag history).
    float histRe_[2][kSbrQmfBands] = {};
    float histIm_[2][kSbrQmfBands] = {};
    int topBand_ = 0;
};

}  // namespace aurivane

#endif
