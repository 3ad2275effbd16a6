// Transient detector and frame splitter of one SBR channel. Per-band
// thresholds follow the spread of the QMF energies; a score line collects the
// energy rises over the last two frames and a peak in it places the
// transient. Without a transient the splitter decides whether the frame's
// high band changes enough between its halves to need two envelopes.
// Keeps the thresholds, the score line and the previous low-band energy.
#ifndef AURIVANE_SBRENC_SBR_TRANSIENT_H
#define AURIVANE_SBRENC_SBR_TRANSIENT_H

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

class SbrTransientDetector {
public:
    static constexpr int kScoreLength = 96;
    static constexpr float kMinThreshold = 128000.0f;

    // Called at open with the adjusted settings and the channel's band tables.
    void Init(const SbrEncoderSettings& settings, const SbrEncoderBandTables& tables);

    // energy: 32 rows of the QMF energies, rows 0..15 the previous frame and
    // 16..31 this one (before the frame loop swaps the halves). Returns the
    // transient position and flag, or the split flag in the position field.
    SbrTransientInfo Process(const float (*energy)[kSbrQmfBands]);

    float Threshold(int band) const { return thr_[band]; }
    float SplitThreshold() const { return splitThreshold_; }
    float MeanSubbandEnergy() const { return meanSubbandEnergy_; }
    int CutoffBand() const { return cutoffBand_; }

private:
    void UpdateThresholds(const float (*energy)[kSbrQmfBands]);
    void UpdateScores(const float (*energy)[kSbrQmfBands]);
    int Split(const float (*energy)[kSbrQmfBands]);

    float thr_[kSbrQmfBands] = {};
    float score_[kScoreLength] = {};
    float transientThreshold_ = 0.0f;
    float splitThreshold_ = 0.0f;
    float prevLowEnergy_ = 0.0f;
    float meanSubbandEnergy_ = 0.0f;
    int cutoffBand_ = 0;      // stored for the detector mode; all 64 bands are examined
    int detectMode_ = 0;
    int nHigh_ = 0;
    uint8_t high_[kSbrMaxHighBands + 1] = {};
};

}  // namespace aurivane

#endif
