// Scalefactor estimation from the allowed noise per band, distortion-driven
// refinement, smoothing across bands, and quantisation of the spectrum with
// q = trunc(|x|^(3/4) x 2^(-3a/16) + 0.4054). |x|^(3/4) is formed once per
// line and frame; 2^(-3a/16) comes from two tables. Keeps only tables and the
// per-frame scratch of the band it works on.
#ifndef AURIVANE_AACENC_AAC_QUANTISER_H
#define AURIVANE_AACENC_AAC_QUANTISER_H

#include "aacenc/aac_psy_output.h"

#include <cstdint>

namespace aurivane {

// Per grouped band inputs of the estimation (from rate control).
struct AacBandInfo {
    const float* threshold;     // allowed noise, after threshold adaptation
    const float* formFactor;    // sum of sqrt|x|, 1e-38 for bands at or below threshold
    const float* relevantLines;
};

class AacQuantiser {
public:
    AacQuantiser();

    // |x|^(3/4) and the largest |x| of every band; call once per frame.
    void Prepare(const PsyOutput& psy);

    // Estimates, refines and smooths the scalefactors. Writes the offsets
    // G - s (0 for unused bands, whose lines are cleared in `spectrum`), the
    // global gain G and the quantised spectrum at G. Returns the number of
    // used bands.
    int Estimate(const PsyOutput& psy, const AacBandInfo& bands, int16_t* scfOffset, int32_t* globalGain,
                 int16_t* quant);

    // Quantises every band at global gain G. Fills each band's largest
    // magnitude and returns the largest of the frame (capped to 32767).
    int32_t QuantiseAll(const PsyOutput& psy, int32_t globalGain, const int16_t* scfOffset, int16_t* quant,
                        int32_t* sfbMaxVal) const;

    // 2^(-3a/16) from the two tables.
    float StepFactor(int a) const;

private:
    // Quantises `width` lines at step a; returns the largest magnitude.
    int32_t QuantiseBand(const float* pow34, int width, int a, int16_t* q) const;
    // Sum of (|x| - 2^(s/4) q^(4/3))^2 with q quantised at step s.
    float Distortion(const float* absX, const float* pow34, int width, int s) const;
    // Scalefactor smoothing: single-band assimilation, then run assimilation.
    void Smooth(const PsyOutput& psy, const AacBandInfo& bands, int* scf);
    void AssimilateSingleBands(const PsyOutput& psy, int* scf);
    void AssimilateRuns(const PsyOutput& psy, const AacBandInfo& bands, int* scf);
    float BandDistortion(const PsyOutput& psy, int band, int s);
    float PeAt(int band, int s) const;
    int ScfBits(const int* scf, int previous, int next, int s) const;

    static constexpr int kMinStep = -120;  // keeps every scalefactor above 0
    static constexpr int kMaxStep = 151;   // global_gain at most 255
    float pow2Int_[26];                    // 2^(-3f), f = -8 .. 17
    float pow2Frac_[16];                   // 2^(-3k/16)
    float pow34_[kAacFrameLength];
    float maxAbs_[kAacMaxGroupedBands];
    float absX_[kAacFrameLength];
    // Per band state of the smoothing.
    float distortion_[kAacMaxGroupedBands];
    int minScf_[kAacMaxGroupedBands];
    int lowestTried_[kAacMaxGroupedBands];
    float peLines_[kAacMaxGroupedBands];  // 0.7 x relevant lines
    float logRatio_[kAacMaxGroupedBands];  // log2(6.75 x energy / formFactor)
};

}  // namespace aurivane

#endif
