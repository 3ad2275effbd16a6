#include "aacenc/aac_block_switch.h"

#include "aacenc/aac_psy_output.h"

#include <cstddef>
#include <cstring>

namespace aurivane {

namespace {

// Grouping of the eight short windows by the window in which the attack sat:
// the attack window stands alone so that its pre-echo stays confined.
constexpr int32_t kGroupTable[8][4] = {
    {1, 3, 3, 1}, {1, 1, 3, 3}, {2, 1, 3, 2}, {3, 1, 3, 1},
    {3, 1, 1, 3}, {3, 2, 1, 2}, {3, 3, 1, 1}, {3, 3, 1, 1},
};

constexpr float kHpCoeffB = 0.7548f;
constexpr float kHpCoeffA = -0.5095f;  // stored negated: y = b (x - x1) - a y1
constexpr float kMinAttackEnergy = 1000000.0f;
constexpr int kWindows = 8;
constexpr int kWindowLength = kAacFrameLength / kWindows;

}  // namespace

void BlockSwitchInit(BlockSwitchState* state, int bitRate, int channels) {
    std::memset(state, 0, sizeof(*state));
    const bool high = channels == 1 ? bitRate > 24000 : bitRate / channels > 16000;
    state->invAttackRatio = high ? 0.1f : 0.056f;
    state->windowSequence = kAacLongWindow;
    state->nextWindowSequence = kAacLongWindow;
}

void BlockSwitch(BlockSwitchState* s, const float* samples, int stride) {
    std::memset(s->groupLen, 0, sizeof(s->groupLen));
    s->attackIndex = s->lastAttackIndex;
    s->noOfGroups = 4;
    for (int g = 0; g < 4; ++g) s->groupLen[g] = kGroupTable[s->attackIndex][g];

    std::memcpy(s->windowEnergy[0], s->windowEnergy[1], sizeof(s->windowEnergy[1]));
    std::memcpy(s->windowEnergyFiltered[0], s->windowEnergyFiltered[1], sizeof(s->windowEnergyFiltered[1]));

    float x1 = s->hpState[0];
    float y1 = s->hpState[1];
    for (int w = 0; w < kWindows; ++w) {
        float plain = 0.0f;
        float filtered = 0.0f;
        const float* in = samples + static_cast<std::ptrdiff_t>(w) * kWindowLength * stride;
        for (int n = 0; n < kWindowLength; ++n) {
            const float x = in[static_cast<std::ptrdiff_t>(n) * stride];
            const float y = kHpCoeffB * (x - x1) - kHpCoeffA * y1;
            x1 = x;
            y1 = y;
            plain += x * x;
            filtered += y * y;
        }
        s->windowEnergy[1][w] = plain;
        s->windowEnergyFiltered[1][w] = filtered;
    }
    s->hpState[0] = x1;
    s->hpState[1] = y1;

    int32_t attack = 0;
    float previous = s->windowEnergyFiltered[0][kWindows - 1];
    float largest = 0.0f;
    for (int w = 0; w < kWindows; ++w) {
        const float e = s->windowEnergyFiltered[1][w];
        s->accWindowEnergy = 0.7f * s->accWindowEnergy + 0.3f * previous;
        if (e * s->invAttackRatio > s->accWindowEnergy) {
            attack = 1;
            s->lastAttackIndex = w;
        }
        previous = e;
        if (e > largest) largest = e;
    }
    if (largest < kMinAttackEnergy) attack = 0;

    // An attack in the last window reaches into the next frame's first
    // short window, so the next decision stays short.
    const int32_t detected = attack;
    if (!attack && s->lastAttack && s->attackIndex == kWindows - 1) attack = 1;
    s->lastAttack = detected;
    s->attack = attack;

    s->windowSequence = s->nextWindowSequence;
    s->nextWindowSequence = attack ? kAacShortWindow : kAacLongWindow;
    if (s->nextWindowSequence == kAacShortWindow) {
        if (s->windowSequence == kAacLongWindow) s->windowSequence = kAacStartWindow;
        if (s->windowSequence == kAacStopWindow) {
            // LONG_STOP cannot reach a short window: code it as one more
            // short frame.
            s->windowSequence = kAacShortWindow;
            s->noOfGroups = 3;
            s->groupLen[0] = 3;
            s->groupLen[1] = 3;
            s->groupLen[2] = 2;
            s->groupLen[3] = 0;
        }
    }
    if (s->nextWindowSequence == kAacLongWindow && s->windowSequence == kAacShortWindow)
        s->nextWindowSequence = kAacStopWindow;
}

void BlockSwitchSync(BlockSwitchState* s) {
    if (s->windowSequence == kAacShortWindow) return;
    s->noOfGroups = 1;
    std::memset(s->groupLen, 0, sizeof(s->groupLen));
    s->groupLen[0] = 1;
}

}  // namespace aurivane
