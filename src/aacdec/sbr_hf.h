// HF generation (4.6.18.6) and envelope adjustment (4.6.18.7) of the SBR
// tool for one channel and frame. Slot indices are QMF slots of the SBR
// frame; buffers are indexed by slot + t_HFAdj (2).
#ifndef AURIVANE_AACDEC_SBR_HF_H
#define AURIVANE_AACDEC_SBR_HF_H

#include "aacdec/sbr_frame.h"

namespace aurivane {

inline constexpr int kSbrLowSlots = 40;   // 8 look-back + 32 current slots
inline constexpr int kSbrHighSlots = 40;  // up to slot 37 + t_HFAdj

struct SbrSubbands {
    float re[kSbrHighSlots][64];
    float im[kSbrHighSlots][64];
};

struct SbrLowBands {
    float re[kSbrLowSlots][32];
    float im[kSbrLowSlots][32];
};

// Chirp factors per noise band from the inverse-filtering modes, smoothed
// with the previous frame's factors (updated in place).
void SbrChirpFactors(int nQ, const int* invfMode, int* invfModePrev, float* bwPrev, float* bw);

// Fills bands kx..kx+M-1 of `high` for slots [slotBegin, slotEnd) by
// patching and inverse filtering the low band. For the real-valued path,
// degreeAlias[k] (64 entries, may be null) receives how strongly a
// sinusoid straddles the border between bands k-1 and k (0..1); it is 0
// for the first band of each patch.
void SbrHfGenerate(const SbrFreqTables& t, const SbrLowBands& low, bool complex, const float* bw, int slotBegin,
                   int slotEnd, SbrSubbands* high, float* degreeAlias = nullptr);

struct SbrAdjusterState {
    float gHist[5][48];
    float qHist[5][48];
    int histHead;  // ring position of the newest slot in gHist and qHist
    bool reset;    // fill the smoothing history on the next frame
    int noiseIndex;
    int sineIndex;
};

struct SbrAdjustInput {
    const SbrFreqTables* tables;
    const SbrHeader* header;
    const SbrGrid* grid;
    const float (*envOrig)[48];   // [envelope][band in its resolution]
    const float (*noiseOrig)[5];  // [noise floor][noise band]
    const int* addHarmonic;       // per high-resolution band
    const int* addHarmonicPrev;
    bool prevTransientAtEnd;  // the previous frame's l_A was its last border
    bool complex;
    const float* degreeAlias;  // real-valued path: from SbrHfGenerate
};

// The sinusoid flags the next frame sees as its predecessor's: a flag counts
// only where the sinusoid was present in the last envelope (S_IndexMapped of
// envelope L_E - 1), so a sine coded with l_A = L_E, which starts in no
// envelope of this frame, does not carry over. Updates `prev` in place.
void SbrCarrySinusoids(const SbrGrid& grid, int nHigh, const int* addHarmonic, int* prev);

// Adjusts the generated high band in place (estimated energies, gains with
// limiter and boost, smoothing, noise floor and sinusoids).
void SbrHfAdjust(const SbrAdjustInput& in, SbrAdjusterState* state, SbrSubbands* high);

}  // namespace aurivane

#endif
