// What the psychoacoustic stage hands rate control and the bitstream writer
// for one channel and frame: window decision, grouping, band layout, the
// per-band energies and thresholds, the (TNS-filtered, for short frames
// interleaved) spectrum and the TNS side information.
#ifndef AURIVANE_AACENC_AAC_PSY_OUTPUT_H
#define AURIVANE_AACENC_AAC_PSY_OUTPUT_H

#include <cstdint>

namespace aurivane {

// window_sequence codes of ISO/IEC 14496-3.
enum AacWindowSequence { kAacLongWindow = 0, kAacStartWindow = 1, kAacShortWindow = 2, kAacStopWindow = 3 };

inline constexpr int kAacFrameLength = 1024;
inline constexpr int kAacMaxGroupedBands = 8 * 15;  // short: up to 8 groups of 15 bands
inline constexpr int kAacMaxTnsOrder = 12;

// TNS side information per window (one entry used for long frames).
struct TnsInfo {
    int32_t active[8];    // n_filt (0 or 1)
    int32_t coefRes[8];   // 3 or 4 bits
    int32_t length[8];    // in bands
    int32_t order[8];
    int32_t coef[8][kAacMaxTnsOrder];  // quantised indices
};

struct PsyOutput {
    int32_t windowSequence;
    int32_t windowShape;
    int32_t noOfGroups;
    int32_t groupLen[8];
    int32_t groupingMask;   // 8 bits; the low 7 are written (scale_factor_grouping)
    int32_t maxSfb;         // max_sfb: per window for short frames
    int32_t sfbCnt;         // long: bands; short: bands per window x noOfGroups
    int32_t sfbPerGroup;    // long: sfbCnt; short: bands per window
    // Band offsets, grouped for short frames: band b of group g is entry
    // g * sfbPerGroup + b; entry sfbCnt is 1024.
    int32_t sfbOffset[kAacMaxGroupedBands + 1];
    float sfbThreshold[kAacMaxGroupedBands];
    float sfbEnergy[kAacMaxGroupedBands];
    float sfbSpreadEnergy[kAacMaxGroupedBands];
    float sfbMinSnr[kAacMaxGroupedBands];
    float spectrum[kAacFrameLength];  // interleaved by group and band for short frames
    float totalEnergy;
    int32_t tnsPresent;   // any window has an active filter
    TnsInfo tns;
};

}  // namespace aurivane

#endif
