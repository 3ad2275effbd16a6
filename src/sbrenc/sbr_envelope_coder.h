// Delta coding of one channel's scalefactors and noise floors: per envelope
// the cheaper of frequency and time direction (with a bias against time
// coding the first envelope across frames), the differences clamped to the
// Huffman tables' range. Keeps the previous envelope on the high-resolution
// band axis, the previous noise floors and the run of time-coded frames.
#ifndef AURIVANE_SBRENC_SBR_ENVELOPE_CODER_H
#define AURIVANE_SBRENC_SBR_ENVELOPE_CODER_H

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

// What the bitstream writer codes for one channel and frame.
struct SbrCodedChannel {
    int32_t ampRes;                    // effective bs_amp_res (0 in a one-envelope FIXFIX frame)
    int32_t numEnvelopes;
    int32_t numNoiseEnvelopes;
    int32_t freqRes[kSbrMaxEnvelopes];  // time order
    int32_t dfEnv[kSbrMaxEnvelopes];    // bs_df_env: 1 = time direction
    int32_t dfNoise[2];                 // bs_df_noise
    // Frequency direction: start value, then differences; time direction:
    // differences to the reference.
    int32_t env[kSbrMaxEnvelopes][kSbrMaxHighBands];
    int32_t noise[2][kSbrMaxNoiseBands];
    // The values a decoder reconstructs (the input after clamping).
    int32_t envValue[kSbrMaxEnvelopes][kSbrMaxHighBands];
    int32_t noiseValue[2][kSbrMaxNoiseBands];
};

// Noise values of the noise-floor estimation to 0..30 (rounded half up).
void SbrQuantiseNoise(const float values[2][kSbrMaxNoiseBands], int numNoiseEnvelopes, int nNoise,
                      SbrFrameValues* out);

class SbrEnvelopeCoder {
public:
    // Takes ampResolution, deltaTAcrossFrames, edgeFirstEnvelope and
    // edgeIncrement of the settings.
    void Init(const SbrEncoderBandTables& tables, const SbrEncoderSettings& settings);

    // values->envelope holds scalefactors in steps of the header's
    // ampResolution, values->noise the quantised noise floors. In a frame
    // read at 1.5 dB although the header says 3.0 dB the scalefactors are
    // doubled. headerSent: this frame carries an SBR header (no time
    // direction across frames then).
    void Code(const SbrFrameInfo& frame, const SbrGridFields& grid, bool headerSent, const SbrFrameValues& values,
              SbrCodedChannel* out);

private:
    const SbrEncoderBandTables* tables_ = nullptr;
    int ampRes_ = 1;
    bool deltaTAcrossFrames_ = true;
    float edgeFirst_ = 0.3f;
    float edgeIncrement_ = 0.3f;
    bool havePrev_ = false;
    int timeRun_ = 0;  // consecutive frames whose first envelope was time coded
    int32_t prevEnv_[kSbrMaxHighBands] = {};  // high-resolution axis
    int32_t prevNoise_[kSbrMaxNoiseBands] = {};
};

}  // namespace aurivane

#endif
