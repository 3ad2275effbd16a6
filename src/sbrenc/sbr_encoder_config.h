// Configuration of the SBR encoder: the bitrate tuning table, the
// availability check that yields the core rate, the settings defaults and
// their adjustment, and the frequency band tables fixed at open. All pure
// functions over caller-owned records.
#ifndef AURIVANE_SBRENC_SBR_ENCODER_CONFIG_H
#define AURIVANE_SBRENC_SBR_ENCODER_CONFIG_H

#include <cstdint>

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

struct SbrTuningRow {
    int32_t bitrateFrom;  // inclusive
    int32_t bitrateTo;    // exclusive
    int32_t coreSampleRate;
    int32_t channels;
    int32_t startFrequency;
    int32_t stopFrequency;
    int32_t noiseBands;
    int32_t noiseFloorOffset;
    int32_t maxLevelDb;
    int32_t stereoMode;
    int32_t freqScale;
};

inline constexpr int kSbrTuningRows = 23;
extern const SbrTuningRow kSbrTuningTable[kSbrTuningRows];

// First row with equal channels and core rate and from <= bitrate < to, or null.
const SbrTuningRow* SbrFindTuning(int32_t bitrate, int32_t channels, int32_t coreSampleRate);

// 1 and *coreRate = inputRate / 2 when a tuning row covers the combination;
// 0 otherwise (*coreRate untouched when inputRate < 32000).
int32_t SbrCheckAvailability(int32_t bitrate, int32_t channels, int32_t inputRate, int32_t* coreRate);

// Writes the defaults of every field but the first five; returns 1.
int32_t SbrDefaultSettings(SbrEncoderSettings* settings);

// Stores the five arguments, copies the tuned values of the matching row and
// derives the speech tuning and the PS mode from the bitrate. 0 when no row
// matches (only the first five fields are then written).
int32_t SbrAdjustSettings(SbrEncoderSettings* settings, int32_t bitrate, int32_t channels, int32_t coreSampleRate,
                          int32_t transientFactor, int32_t standardBitrate);

// Header values the open derives from the settings (bs_xover_band still 0).
SbrHeaderValues SbrHeaderFromSettings(const SbrEncoderSettings& settings);

// k0, k2, master, high and low tables for the SBR rate fsSbr, choosing
// bs_xover_band so that the high band starts inside the 32 bands the core
// carries (dual rate). Writes the crossover into header->xoverBand and the
// core bandwidth in Hz into *bandwidthHz. Returns false for a start/stop
// combination the encoder refuses.
bool SbrBuildEncoderBandTables(int32_t fsSbr, bool dualRate, SbrHeaderValues* header,
                               SbrEncoderBandTables* tables, int32_t* bandwidthHz);

// Header period in frames of 2048 samples: 0 sends the header only once.
int32_t SbrHeaderPeriod(int32_t headerRepeatTimeMs, int32_t fsSbr);

}  // namespace aurivane

#endif
