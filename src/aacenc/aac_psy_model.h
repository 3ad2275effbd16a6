// Psychoacoustic analysis of the AAC-LC encoder for one channel: block
// switching, the forward filterbank, per-band energies and masking
// thresholds with pre-echo control, TNS and short-window grouping. Keeps the
// configuration fixed at open and the per-channel history (delay line,
// attack detector, previous thresholds).
#ifndef AURIVANE_AACENC_AAC_PSY_MODEL_H
#define AURIVANE_AACENC_AAC_PSY_MODEL_H

#include "aacenc/aac_block_switch.h"
#include "aacenc/aac_mdct.h"
#include "aacenc/aac_psy_config.h"
#include "aacenc/aac_psy_output.h"
#include "aacenc/aac_tns.h"

#include <cstdint>

namespace aurivane {

struct PsyChannelState {
    BlockSwitchState blockSwitch;
    AacMdct mdct;
    float spectrum[kAacFrameLength];  // short frames: eight windows before interleaving
    float previousThreshold[kPsyMaxLongBands];
    float sfbEnergy[8][kPsyMaxLongBands];  // long frames use row 0
    float sfbThreshold[8][kPsyMaxLongBands];
    float sfbSpreadEnergy[8][kPsyMaxLongBands];
    float totalEnergy;
    TnsWindowData tnsData[8];
    float weights[kAacFrameLength];  // TNS detection scratch
};

class AacPsyModel {
public:
    // Configures for the core sample rate, total bitrate, channel count (1),
    // coded bandwidth in Hz and TNS mask (bit 0 long, bit 1 short blocks).
    // Returns 0, or 1 when the rate has no band table (only 11025, 12000,
    // 16000, 22050, 24000 Hz have one), the bitrate per channel has no TNS
    // parameters (4000..44001) or the channel count is not 1. Clears all
    // history: a new or reopened instance starts from a clean state.
    int Open(int sampleRate, int bitRate, int channels, int bandwidth, int tnsMask);

    // One frame of 1024 core samples read with `stride`: block switching
    // (with its one frame of look-ahead), transform, thresholds, TNS and
    // grouping for short frames -> out.
    void Analyse(const float* samples, int stride, PsyOutput* out);

    const PsyConfig& LongConfig() const { return longConfig_; }
    const PsyConfig& ShortConfig() const { return shortConfig_; }

private:
    void AnalyseBlock(const PsyConfig& config, bool shortBlock, int32_t sequence, int window, float* lines,
                      PsyOutput* out);
    void GroupShortWindows(PsyOutput* out);

    PsyConfig longConfig_{};
    PsyConfig shortConfig_{};
    PsyChannelState channel_{};
    bool open_ = false;
};

}  // namespace aurivane

#endif
