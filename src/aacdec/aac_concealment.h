// Frame concealment of the AAC-LC core: a one-frame delay line on the
// spectrum so that a single lost frame can be interpolated from both
// neighbours, and a fade-out / mute / fade-in state machine for bursts.
#ifndef AURIVANE_AACDEC_AAC_CONCEALMENT_H
#define AURIVANE_AACDEC_AAC_CONCEALMENT_H

#include "dsp/aac_tables.h"

#include <cstdint>

namespace aurivane {

enum ConcealmentStateId : int32_t {
    kConcealNormal = 0,
    kConcealFadeOut = 1,
    kConcealMuted = 2,
    kConcealFadeIn = 3,
};

struct ConcealmentState {
    uint8_t storedShape;
    uint8_t storedSequence;
    float storedSpectrum[1024];
    int32_t noiseIndex;     // 0..511 in the sign sequence
    int32_t previousValid;  // validity of the frame before the last
    int32_t lastValid;      // validity of the last frame
    int32_t counter;
    int32_t state;
    int32_t fadeInLength;
    int32_t muteLength;
    int32_t fadeOutLength;
};

void ConcealmentReset(ConcealmentState* state);

// Runs one frame through the delay line. On return spectrum, shape and
// sequence hold the frame to synthesise now (the previous one, possibly
// rebuilt and faded).
void ConcealmentApply(ConcealmentState* state, float* spectrum, uint8_t* windowShape, uint8_t* windowSequence,
                      int32_t frameValid, const BandTable& bands);

}  // namespace aurivane

#endif
