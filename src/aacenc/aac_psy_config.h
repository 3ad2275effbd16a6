// Psychoacoustic configuration of the AAC-LC encoder, fixed at open for long
// and for short blocks: band layout, Bark values, threshold in quiet,
// spreading slopes, minimum SNR per band and the TNS set-up.
#ifndef AURIVANE_AACENC_AAC_PSY_CONFIG_H
#define AURIVANE_AACENC_AAC_PSY_CONFIG_H

#include "aacenc/aac_tns.h"

#include <cstdint>

namespace aurivane {

inline constexpr int kPsyMaxLongBands = 51;
inline constexpr int kPsyMaxShortBands = 15;

struct PsyConfig {
    int32_t sfbCnt;
    int32_t sfbActive;  // first band starting at or above lowpassLine
    int32_t sfbOffset[kPsyMaxLongBands + 1];
    float bark[kPsyMaxLongBands];  // mean Bark value of each band
    float thrQuiet[kPsyMaxLongBands];
    float maxAllowedIncrease;
    float minRemainingThreshold;
    int32_t lowpassLine;
    float clipEnergy;
    float ratio;
    float maskLow[kPsyMaxLongBands];
    float maskHigh[kPsyMaxLongBands];
    float maskLowSprEn[kPsyMaxLongBands];
    float maskHighSprEn[kPsyMaxLongBands];
    float minSnr[kPsyMaxLongBands];
    TnsConfig tns;
};

// Long and short band offsets of a core rate; false when the rate has none
// (only 11025, 12000, 16000, 22050 and 24000 Hz are coded).
bool PsyBandOffsets(int sampleRate, bool shortBlock, int32_t* offsets, int32_t* count);

// Returns 0, or 1 when the rate has no band table or the bitrate per channel
// no TNS parameters. `tnsEnabled` switches TNS for this block type.
int PsyConfigInit(PsyConfig* config, int sampleRate, int bitRatePerChannel, int bandwidth, bool shortBlock,
                  int tnsEnabled);

}  // namespace aurivane

#endif
