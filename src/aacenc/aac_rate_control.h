// Rate control of the AAC-LC core encoder: frame budget with padding, the bit
// reservoir and its fill-level factor, perceptual entropy (PE), threshold
// adaptation towards the PE the budget allows, the budget loop on the global
// gain, and fill and alignment bits. Keeps the reservoir and the PE control
// memory from frame to frame.
#ifndef AURIVANE_AACENC_AAC_RATE_CONTROL_H
#define AURIVANE_AACENC_AAC_RATE_CONTROL_H

#include "aacenc/aac_psy_output.h"
#include "aacenc/aac_quantiser.h"
#include "aacenc/aac_section.h"

#include <cstdint>

namespace aurivane {

struct AacRateConfig {
    int32_t bitRate;
    int32_t sampleRate;
    int32_t bandwidth;
    int32_t channels;
    int32_t maxFrameBytes;  // per access unit, fill and SBR data included
};

// One channel's coded frame: what the writer needs and how its bits add up.
struct AacFrameCoding {
    int32_t globalGain;
    int16_t scfOffset[kAacMaxGroupedBands];
    int32_t sfbMaxVal[kAacMaxGroupedBands];
    int16_t quant[kAacFrameLength];
    AacSectionData sections;
    int32_t staticBits;
    int32_t dynamicBits;
    int32_t ancillaryBits;
    int32_t fillBits;   // fill' : bits of the fill elements
    int32_t alignBits;
    int32_t sbrBytes;   // SBR payload bytes that fit this frame (0 when dropped)
    int32_t totalBits;  // 3 + static + dynamic + ancillary + fill' + alignment
    float pe;           // before threshold adaptation
    int32_t loopSteps;  // global gain increments of the budget loop
    // Flags of this frame.
    int32_t reservoirError;  // reservoir out of its bounds before coding
    int32_t fillError;       // fill arithmetic lowered the fill
    int32_t overMaxBits;
    int32_t ceilingHit;      // the ceiling cut the budget, the fill or the SBR payload
    int32_t sbrDropped;
};

class AacRateControl {
public:
    // 0 ok, 1 when the configuration cannot be coded.
    int Open(const AacRateConfig& config);

    // Step 1: this frame's averageBits (padding included).
    int32_t FrameBudget();

    // Steps 2 to 9 for one channel. `psy` is read only; the SBR payload of
    // sbrBytes may be dropped when it cannot fit under the ceiling.
    void CodeFrame(const PsyOutput& psy, int32_t sbrBytes, AacQuantiser* quantiser, AacFrameCoding* out);

    // Step 10 with the bits actually written. Returns 1 when the reservoir
    // left its bounds (it is then clamped back).
    int Commit(const AacFrameCoding& coded, int32_t writtenBits);

    int32_t BitResLevel() const { return bitResLevel_; }
    int32_t MaxBitResBits() const { return maxBitResBits_; }
    int32_t AverageBits() const { return averageBits_; }
    int32_t FrameCapBits() const { return frameCapBits_; }
    int32_t OverflowBits() const { return overflowBits_; }

private:
    struct AdjThrParams {
        float clipSaveLow, clipSaveHigh, minBitSave, maxBitSave;
        float clipSpendLow, clipSpendHigh, minBitSpend, maxBitSpend;
    };
    enum HoleFlag : uint8_t { kFree, kProtected, kHeld };

    float BitResFactor(float pe, bool isShort, float avgBits);
    void PeCorrection(float controlPe);
    // Sums of the per-band PE, constant part and active lines.
    void CalcPe(const PsyOutput& psy, float* pe, float* constPart, float* activeLines) const;
    void AdaptThresholds(const PsyOutput& psy, float avgBits, float sideInfoBits, float* pe);
    void ReduceThresholds(const PsyOutput& psy, float target, float pe);

    int32_t bitRate_ = 0;
    int32_t sampleRate_ = 0;
    int32_t averageBits_ = 0;
    int32_t maxBits_ = 0;
    int32_t frameCapBits_ = 0;
    int32_t paddingRest_ = 0;
    float maxBitFac_ = 0.0f;
    int32_t elementAverageBits_ = 0;
    int32_t bitResLevel_ = 0;
    int32_t maxBitResBits_ = 0;
    int32_t overflowBits_ = 0;  // reservoir overflow the ceiling kept from being written

    AdjThrParams longParams_{}, shortParams_{};
    float peMin_ = 0.0f, peMax_ = 0.0f;
    int32_t modifyMinSnr_ = 0, startSfbLong_ = 0, startSfbShort_ = 0;
    float maxRed_ = 0.25f, startRatio_ = 10.0f, maxRatio_ = 1000.0f, redRatioFac_ = 0.0f, redOffs_ = 0.0f;
    float peLast_ = 0.0f;
    int32_t dynBitsLast_ = 0;
    float peCorrectionFactor_ = 1.0f;

    // Per-frame scratch, per grouped band.
    float thr_[kAacMaxGroupedBands];
    float minSnr_[kAacMaxGroupedBands];
    float formFactor_[kAacMaxGroupedBands];
    float relevantLines_[kAacMaxGroupedBands];
    float bandPe_[kAacMaxGroupedBands];
    float bandConst_[kAacMaxGroupedBands];
    float bandActive_[kAacMaxGroupedBands];
    uint8_t hole_[kAacMaxGroupedBands];
};

}  // namespace aurivane

#endif
