// SBR time/frequency grid (sbr_grid of ISO/IEC 14496-3): the coded grid
// fields and the frame info derived from them (envelope and noise-floor
// borders, frequency resolution per envelope, the transient envelope l_A).
// Coder and decoder both derive the frame info here, so they always agree.
#ifndef AURIVANE_DSP_SBR_GRID_H
#define AURIVANE_DSP_SBR_GRID_H

#include <cstdint>

namespace aurivane {

inline constexpr int kSbrTimeSlots = 16;      // grid time slots per frame (2 QMF slots each)
inline constexpr int kSbrMaxEnvelopes = 5;

enum SbrFrameClass { kFixFix = 0, kFixVar = 1, kVarFix = 2, kVarVar = 3 };

// The coded grid fields (sbr_grid of ISO/IEC 14496-3), as written.
struct SbrGridFields {
    int32_t frameClass;         // SbrFrameClass
    int32_t numEnvelopes;       // FIXFIX: 1, 2 or 4
    int32_t freqResFixed;       // FIXFIX: one resolution for all envelopes
    int32_t varBorder0;         // FIXVAR, VARFIX, VARVAR: first variable border (FIXVAR: absolute, 16..19)
    int32_t varBorder1;         // VARVAR: second variable border (16..19)
    int32_t numRel0;            // relative borders of the first kind (n, nA)
    int32_t numRel1;            // VARVAR: relative borders of the second kind (nB)
    int32_t rel0[4];            // relative borders (2, 4, 6 or 8)
    int32_t rel1[4];
    int32_t pointer;            // bs_pointer
    int32_t freqRes[kSbrMaxEnvelopes];  // per envelope, in bitstream order
};

// The frame's time/frequency grid as both coder and decoder derive it.
struct SbrFrameInfo {
    int32_t numEnvelopes;                       // 1..5
    int32_t borders[kSbrMaxEnvelopes + 1];      // time slots, 0..16 (VAR classes may end beyond 16)
    int32_t freqRes[kSbrMaxEnvelopes];          // 0 low, 1 high resolution
    int32_t shortEnvelope;                      // index of the short envelope, -1 when none
    int32_t numNoiseEnvelopes;                  // 1 or 2
    int32_t noiseBorders[3];
};

// Width of bs_pointer: ceil(log2(numEnvelopes + 1)).
int SbrGridPointerBits(int numEnvelopes);

// Derives the frame info from the grid fields. Returns false when a field
// does not fit its syntax element (FIXFIX with 8 envelopes, odd or oversized
// relative borders, more than 5 envelopes, a pointer beyond the envelopes) or
// the grid fails SbrFrameInfoValid; info is then unspecified.
bool SbrDeriveFrameInfo(const SbrGridFields& fields, SbrFrameInfo* info);

// The consistency checks a decoder applies to a grid: 1..5 envelopes, first
// border 0..3, last border 16..19, strictly increasing borders, noise borders
// at the frame ends and on envelope borders.
bool SbrFrameInfoValid(const SbrFrameInfo& info);

// A FIXFIX frame with one envelope is coded at 1.5 dB whatever bs_amp_res says.
inline int SbrEffectiveAmpResolution(int frameClass, int numEnvelopes, int headerAmpRes) {
    return frameClass == kFixFix && numEnvelopes == 1 ? 0 : headerAmpRes;
}

}  // namespace aurivane

#endif
