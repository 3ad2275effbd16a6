// Fixed tables of the parametric stereo tool (ISO/IEC 14496-3, 8.6.4),
// generated into ps_tables.cpp by tools/gen/sbr_tables.py.
#ifndef AURIVANE_DSP_PS_TABLES_H
#define AURIVANE_DSP_PS_TABLES_H

#include <cstdint>

#include "dsp/sbr_tables.h"

namespace aurivane {

enum PsBook {
    kPsBookIidDf = 0,
    kPsBookIidDt,
    kPsBookIidFineDf,
    kPsBookIidFineDt,
    kPsBookIccDf,
    kPsBookIccDt,
    kPsBookIpdDf,
    kPsBookIpdDt,
    kPsBookOpdDf,
    kPsBookOpdDt,
    kPsBookCount
};

// One parameter as the weighted mean of up to four source parameters.
struct PsMapRow {
    int8_t count;
    int8_t source[4];
    int8_t weight[4];
};

extern const HuffmanBook kPsHuffmanBooks[kPsBookCount];
extern const float kPsHybridG8_20[13];
extern const float kPsHybridG2_20[13];
extern const float kPsHybridG12_34[13];
extern const float kPsHybridG8_34[13];
extern const float kPsHybridG4_34[13];
extern const float kPsIidDefaultDb[15];
extern const float kPsIidFineDb[31];
extern const float kPsIccRho[8];
extern const int8_t kPsNumEnv[2][4];
extern const int8_t kPsKToI20[71];
extern const int8_t kPsKToI34[91];
extern const PsMapRow kPsMap20To34[34];
extern const PsMapRow kPsMap34To20[20];
extern const float kPsAllpassA[3];
extern const int kPsAllpassDelay[3];
extern const float kPsFractionalQ[3];
extern const float kPsFractionalQPhi;
extern const float kPsPeakDecayAlpha;
extern const float kPsTransientGamma;
extern const float kPsEnergySmoothingAlpha;
extern const float kPsDecaySlope;
extern const int8_t kPsFCenter20Times8[10];
extern const int16_t kPsFCenter34Times24[32];

}  // namespace aurivane

#endif
