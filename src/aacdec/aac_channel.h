// Per-channel parse state of the AAC-LC core decoder: individual channel
// stream fields, and the parsing and spectral tools that work on them.
#ifndef AURIVANE_AACDEC_AAC_CHANNEL_H
#define AURIVANE_AACDEC_AAC_CHANNEL_H

#include "dsp/aac_tables.h"
#include "dsp/bit_buffer.h"

#include <cstdint>

namespace aurivane {

enum WindowSequence : uint8_t {
    kOnlyLong = 0,
    kLongStart = 1,
    kEightShort = 2,
    kLongStop = 3,
};

// Status codes of a frame (0 = success).
enum AacStatus : int32_t {
    kAacOk = 0,
    kAacBadSection = 2,  // section past the band limit, escape too large, other range errors
    kAacReservedCodebook = 3,
    kAacPrediction = 5,
    kAacProgramConfig = 6,
    kAacLfe = 8,
    kAacCoupling = 9,
    kAacGainControl = 10,
};

inline constexpr int kMaxGroups = 8;
inline constexpr int kBandSlots = 128;  // long: band; short: group * 16 + band
inline constexpr int kMaxTnsOrder = 12;  // AAC-LC, long windows

struct IcsInfo {
    uint8_t windowSequence;
    uint8_t windowShape;
    uint8_t maxSfb;
    uint8_t scaleFactorGrouping;
    uint8_t numGroups;
    uint8_t groupLength[kMaxGroups];
    uint8_t numBands;   // bands of the rate for this window type
    uint8_t rateIndex;
    uint8_t read;       // read in the current frame
    const uint16_t* offsets;  // band offsets of the rate for this window type
};

struct PulseData {
    int32_t present;
    int32_t count;
    int32_t startSfb;
    int32_t offset[4];
    int32_t amplitude[4];
};

struct TnsFilter {
    int32_t length;
    int32_t order;
    int32_t direction;  // 1: downward
    int32_t coefRes;
    int32_t coef[kMaxTnsOrder];  // sign-extended coded values
};

struct TnsData {
    int32_t present;
    int32_t numFilters[8];
    TnsFilter filters[8][3];
};

struct ChannelStream {
    int32_t elementTag;
    int32_t commonWindow;
    int32_t globalGain;
    IcsInfo ics;
    uint8_t sectionCodebook[kBandSlots];
    int16_t scalefactor[kBandSlots];  // value - 100 (also noise energy and intensity position)
    int16_t quantised[1024];  // |q| <= 8191, plus up to four pulses of 15
    float spectrum[1024];
    PulseData pulse;
    TnsData tns;
    int32_t msMaskPresent;
    uint8_t msMask[64];  // per band, bit g for window group g
    uint8_t pnsFlag[kBandSlots];
    int32_t usesNoise;
    uint8_t correlated[kBandSlots];
    int16_t savedNoiseState[kBandSlots];
};

// Shared perceptual-noise generator (kept across frames).
struct NoiseGenerator {
    int16_t state;
    int16_t increment;
};

// Syntax (returns a status).
int32_t ParseIcsInfo(BitBuffer* bits, IcsInfo* ics);
int32_t ParseIndividualChannelStream(BitBuffer* bits, ChannelStream* ch, int32_t commonWindow);
void ParseMsMask(BitBuffer* bits, ChannelStream* ch0);

// Spectral tools.
void InverseQuantise(ChannelStream* ch);
void ApplyNoiseCorrelationCheck(ChannelStream* ch0, ChannelStream* ch1);
void ApplyMidSide(ChannelStream* ch0, ChannelStream* ch1);
void ApplyIntensity(const ChannelStream* ch0, ChannelStream* ch1);
void ApplyNoiseSubstitution(ChannelStream* ch, int32_t channelIndex, ChannelStream* ch0, NoiseGenerator* noise);
void ApplyTns(ChannelStream* ch);

// Mirrors the TNS maximum band of the rate and window type.
int32_t TnsMaxBands(int32_t rateIndex, bool shortWindow);

}  // namespace aurivane

#endif
