// Temporal noise shaping in the encoder: per long frame or short window, a
// lattice predictor over frequency found from the weighted spectrum's
// autocorrelation; when its prediction gain pays off, the spectrum is
// replaced by the prediction residual and the filter recorded for tns_data().
#ifndef AURIVANE_AACENC_AAC_TNS_H
#define AURIVANE_AACENC_AAC_TNS_H

#include "aacenc/aac_psy_output.h"

#include <cstdint>

namespace aurivane {

// Fixed at open, one for long and one for short blocks.
struct TnsConfig {
    int32_t active;  // this block type may use TNS
    int32_t maxOrder;
    int32_t coefRes;
    float threshOn;  // prediction gain above which the filter is used
    float acfWindow[kAacMaxTnsOrder + 1];
    int32_t maxBands;
    int32_t sfbCnt;
    int32_t stopBand, stopLine;
    int32_t startBand, startLine;
    int32_t lpcStartBand, lpcStartLine;
    int32_t lpcStopBand, lpcStopLine;
    int32_t patchLowBand;  // band of 380 Hz: bottom of the threshold patch under the filter
    int32_t lowpassLine;
};

// Detection result of one long frame or short window.
struct TnsWindowData {
    int32_t active;
    float predictionGain;
    float parcor[kAacMaxTnsOrder];  // reflection coefficients
};

// Band of a frequency, rounded to the nearer band edge.
int32_t TnsFreqToBand(int32_t freq, int32_t sampleRate, const int32_t* sfbOffset, int32_t sfbCnt);

// Returns 0, or 1 when the bitrate per channel has no parameters or the rate
// no band limit.
int TnsConfigInit(TnsConfig* config, int bitRatePerChannel, int sampleRate, int enabled, bool shortBlock,
                  const int32_t* sfbOffset, int32_t sfbCnt, int32_t sfbActive, int32_t lowpassLine);

// Levinson-Durbin recursion on r[0..order]; returns the prediction gain and
// writes `order` reflection coefficients (zeros past an early stop).
float TnsLevinson(const float* r, int order, float* parcor);

// Decides whether the filter pays off for `spectrum` (the lines of one long
// frame or short window) with the band energies of the psychoacoustic model.
// `weights` is scratch of at least lpcStopLine floats.
void TnsDetect(const TnsConfig& config, const float* spectrum, const int32_t* sfbOffset, const float* sfbEnergy,
               float* weights, TnsWindowData* data);

// For an active window: quantises the coefficients, records them in window
// `window` of `info`, and replaces the spectrum by the all-zero lattice
// filter's residual. A long frame (window 0) clears windows 1..7.
void TnsEncode(const TnsConfig& config, bool shortBlock, int window, TnsWindowData* data, float* spectrum,
               TnsInfo* info);

}  // namespace aurivane

#endif
