// Records that the stages of the SBR encoder hand each other within one
// frame: settings, header values, band tables, the transient decision, the
// time/frequency grid (as frame info and as coded grid fields), the envelope
// and noise-floor values, and the missing-harmonics result.
#ifndef AURIVANE_SBRENC_SBR_ENCODER_TYPES_H
#define AURIVANE_SBRENC_SBR_ENCODER_TYPES_H

#include <cstdint>

#include "dsp/sbr_grid.h"  // SbrGridFields, SbrFrameInfo, kSbrTimeSlots, kSbrMaxEnvelopes

namespace aurivane {

inline constexpr int kSbrQmfBands = 64;
inline constexpr int kSbrQmfSlots = 32;       // QMF slots per frame (64 samples each)
inline constexpr int kSbrMaxHighBands = 28;   // N_high storage
inline constexpr int kSbrMaxLowBands = 14;    // N_low storage
inline constexpr int kSbrMaxNoiseBands = 5;
inline constexpr int kSbrMaxPayloadBytes = 256;

// Caller-owned configuration; SbrDefaultSettings and SbrAdjustSettings fill it.
struct SbrEncoderSettings {
    int32_t bitrate;
    int32_t channels;
    int32_t coreSampleRate;
    int32_t transientFactor;
    int32_t standardBitrate;
    int32_t headerRepeatTimeMs;
    int32_t crcFlag;
    int32_t flagA;
    int32_t flagB;
    int32_t transientThreshold;
    int32_t noiseFloorOffset;
    int32_t speechMode;
    int32_t dataExtra;
    int32_t ampResolution;
    int32_t maxLevelDb;
    int32_t transientCutoffHz;
    int32_t transientDetectMode;
    int32_t frameSpread;
    int32_t staticFraming;
    int32_t maxEnvelopesLog2;
    int32_t stereoMode;
    int32_t deltaTAcrossFrames;
    float edgeFirstEnvelope;
    float edgeIncrement;
    int32_t inverseFilteringMode;
    int32_t harmonicsDetection;
    int32_t patchingMode;
    int32_t reserved;
    int32_t startFrequency;
    int32_t stopFrequency;
    int32_t usePs;
    int32_t psMode;
    int32_t freqScale;
    int32_t alterScale;
    int32_t noiseBands;
    int32_t limiterBands;
    int32_t limiterGains;
    int32_t interpolFreq;
    int32_t smoothingMode;
};

// Values written in the SBR header (bs_* of ISO/IEC 14496-3).
struct SbrHeaderValues {
    int32_t ampResolution;
    int32_t startFrequency;
    int32_t stopFrequency;
    int32_t xoverBand;
    int32_t headerExtra1;
    int32_t headerExtra2;
    int32_t freqScale;
    int32_t alterScale;
    int32_t noiseBands;
    int32_t limiterBands;
    int32_t limiterGains;
    int32_t interpolFreq;
    int32_t smoothingMode;
};

// Frequency band tables in QMF bands of fsSbr / 128 Hz, fixed at open.
struct SbrEncoderBandTables {
    int32_t fsSbr;
    int32_t k0, k2;
    int32_t nMaster, nHigh, nLow, nNoise;  // band counts (tables hold count + 1 edges)
    uint8_t master[kSbrMaxHighBands + 1];
    uint8_t high[kSbrMaxHighBands + 1];
    uint8_t low[kSbrMaxLowBands + 1];
    uint8_t noise[kSbrMaxNoiseBands + 1];
    // For each QMF band of the high band: the low QMF band the decoder's HF
    // generator copies into it, or 255.
    uint8_t patchSource[kSbrQmfBands];
};

// Transient detector and frame splitter result of one frame.
struct SbrTransientInfo {
    int32_t position;  // time slot of the transient, or the split flag when there is none
    int32_t flag;      // 1: transient found
};

// Quantised values the bitstream writer codes for one frame of one channel.
struct SbrFrameValues {
    int32_t envelope[kSbrMaxEnvelopes][kSbrMaxHighBands];  // scalefactors per envelope
    int32_t noise[2][kSbrMaxNoiseBands];                  // quantised noise floors, 0..30
    int32_t invfMode[kSbrMaxNoiseBands];                  // bs_invf_mode per noise band
    int32_t addHarmonicFlag;                              // bs_add_harmonic_flag
    int32_t addHarmonic[kSbrMaxHighBands];                // per high-resolution band
};

// Missing-harmonics result that the envelope estimation reads.
struct SbrHarmonicsInfo {
    int32_t frameFlag;                        // a sinusoid is added in at least one band
    int32_t detected[kSbrMaxHighBands];       // per high-resolution band
    int32_t compensation[kSbrMaxHighBands];   // -2..2 per high-resolution band
};

// One frame of complex QMF slots of one analysis channel.
struct SbrQmfFrame {
    float re[kSbrQmfSlots][kSbrQmfBands];
    float im[kSbrQmfSlots][kSbrQmfBands];
};

}  // namespace aurivane

#endif
