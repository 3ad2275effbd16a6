// Block switching of the AAC-LC encoder: an attack detector on the newest
// frame decides the window sequence one frame ahead and picks the short-window
// grouping. Keeps the window energies, the high-pass memory and the decisions.
#ifndef AURIVANE_AACENC_AAC_BLOCK_SWITCH_H
#define AURIVANE_AACENC_AAC_BLOCK_SWITCH_H

#include <cstdint>

namespace aurivane {

struct BlockSwitchState {
    float invAttackRatio;
    int32_t windowSequence;      // of the frame transformed in this call
    int32_t nextWindowSequence;  // decided from the newest input
    int32_t attack;
    int32_t lastAttack;
    int32_t attackIndex;         // window whose grouping row this frame uses
    int32_t lastAttackIndex;
    int32_t noOfGroups;
    int32_t groupLen[8];
    float windowEnergy[2][8];          // [0] previous input, [1] newest
    float windowEnergyFiltered[2][8];
    float hpState[2];                  // last input, last output of the high-pass
    float accWindowEnergy;
};

// Clears the state; the attack threshold follows the bitrate per channel.
void BlockSwitchInit(BlockSwitchState* state, int bitRate, int channels);

// Analyses the newest 1024 samples (read with `stride`) and advances the
// window sequence: windowSequence, noOfGroups and groupLen then describe the
// frame that the transform codes in this call.
void BlockSwitch(BlockSwitchState* state, const float* samples, int stride);

// Single-channel form of the channel synchronisation: anything but an
// EIGHT_SHORT_SEQUENCE is one group of one window.
void BlockSwitchSync(BlockSwitchState* state);

}  // namespace aurivane

#endif
