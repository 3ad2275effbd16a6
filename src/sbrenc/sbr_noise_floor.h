// Noise floor per noise envelope and noise band: how much noise the decoder
// mixes into the patched band, from the tonality of the original and of the
// source band, smoothed over the last four values of each band. The result
// is the noise value in the log2 domain that the quantiser rounds.
#ifndef AURIVANE_SBRENC_SBR_NOISE_FLOOR_H
#define AURIVANE_SBRENC_SBR_NOISE_FLOOR_H

#include "sbrenc/sbr_encoder_types.h"
#include "sbrenc/sbr_tonality.h"

namespace aurivane {

class SbrNoiseFloor {
public:
    // Takes speechMode, noiseFloorOffset and maxLevelDb of the settings;
    // tables must already hold the noise band table.
    void Init(const SbrEncoderBandTables& tables, const SbrEncoderSettings& settings);

    // values[n][q]: 6 - log2(smoothed noise floor) for noise envelope n and
    // noise band q; invfMode is this frame's level per noise band.
    void Estimate(const SbrTonality& tonality, const SbrFrameInfo& frame, const int32_t invfMode[kSbrMaxNoiseBands],
                  int harmonicsFrameFlag, float values[2][kSbrMaxNoiseBands]);

private:
    const SbrEncoderBandTables* tables_ = nullptr;
    float maxLevelFactor_ = 4.0f;
    float offsetFactor_ = 1.0f;
    float weightFactor_ = 0.25f;
    float history_[kSbrMaxNoiseBands][4] = {};  // linear noise floors, oldest first
};

}  // namespace aurivane

#endif
