#include "aacdec/aac_concealment.h"

#include "aacdec/aac_channel.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr float kFadeOutGain[5] = {0.70710677f, 0.5f, 0.35355335f, 0.25f, 0.17677668f};
constexpr float kFadeInGain[5] = {0.17677668f, 0.25f, 0.35355335f, 0.5f, 0.70710677f};

bool SignNegative(int32_t index) { return (kConcealmentSigns[index >> 5] >> (index & 31)) & 1u; }

float Factor(double numerator, double denominator) {
    return static_cast<float>(std::pow(numerator / denominator, 0.25));
}

// 1 + sum of squares of lines [start, end), or of short line j/8 of the
// window at `shortBase` when reading a long band from a short spectrum.
double BandEnergy(const float* lines, int32_t start, int32_t end) {
    double e = 1.0;
    for (int32_t j = start; j < end; ++j) e += static_cast<double>(lines[j]) * lines[j];
    return e;
}

double LongBandFromShort(const float* window, int32_t start, int32_t end) {
    double e = 1.0;
    for (int32_t j = start; j < end; ++j) e += static_cast<double>(window[j / 8]) * window[j / 8];
    return e;
}

// Rebuilds a single lost frame from its neighbours: `before` (the frame's
// own spectrum, in place) and `after` (the stored next frame).
void Interpolate(float* before, uint8_t* shape, uint8_t* sequence, const ConcealmentState& s,
                 const BandTable& bands) {
    const float* after = s.storedSpectrum;
    const bool beforeShort = *sequence == kEightShort;
    const bool afterShort = s.storedSequence == kEightShort;
    const uint16_t* lo = bands.longOffsets;
    const uint16_t* so = bands.shortOffsets;
    if (beforeShort && afterShort) {
        for (int32_t w = 0; w < 8; ++w) {
            for (int32_t b = 0; b < bands.numShort; ++b) {
                const int32_t start = w * 128 + so[b];
                const int32_t end = w * 128 + so[b + 1];
                const float f = Factor(BandEnergy(after, start, end), BandEnergy(before, start, end));
                for (int32_t j = start; j < end; ++j) before[j] *= f;
            }
        }
        *shape = 1;
        *sequence = kEightShort;
    } else if (beforeShort) {
        float energyBefore[64];
        for (int32_t b = 0; b < bands.numLong; ++b)
            energyBefore[b] = static_cast<float>(LongBandFromShort(before + 7 * 128, lo[b], lo[b + 1]));
        std::memcpy(before, after, sizeof(s.storedSpectrum));
        for (int32_t b = 0; b < bands.numLong; ++b) {
            const float f = Factor(energyBefore[b], BandEnergy(after, lo[b], lo[b + 1]));
            for (int32_t j = lo[b]; j < lo[b + 1]; ++j) before[j] *= f;
        }
        *shape = 0;
        *sequence = kLongStop;
    } else {
        for (int32_t b = 0; b < bands.numLong; ++b) {
            const double ea = afterShort ? LongBandFromShort(after, lo[b], lo[b + 1])
                                         : BandEnergy(after, lo[b], lo[b + 1]);
            const float f = Factor(ea, BandEnergy(before, lo[b], lo[b + 1]));
            for (int32_t j = lo[b]; j < lo[b + 1]; ++j) before[j] *= f;
        }
        *shape = afterShort ? 1 : 0;
        *sequence = afterShort ? kLongStart : kOnlyLong;
    }
}

void AdvanceState(ConcealmentState* s, int32_t valid) {
    const bool recovering = s->lastValid || (s->previousValid && valid);
    switch (s->state) {
        case kConcealNormal:
            if (!s->lastValid && (!s->previousValid || !valid)) s->state = kConcealFadeOut;
            break;
        case kConcealFadeOut:
            if (recovering) {
                s->state = kConcealNormal;
                s->counter = 0;
            } else if (++s->counter >= s->fadeOutLength) {
                s->state = kConcealMuted;
                s->counter = 0;
            }
            break;
        case kConcealMuted:
            if (recovering && ++s->counter >= s->muteLength) {
                s->state = kConcealFadeIn;
                s->counter = 0;
            }
            break;
        default:
            if (!recovering) {
                s->state = kConcealFadeOut;
                s->counter = 0;
            } else if (++s->counter >= s->fadeInLength) {
                s->state = kConcealNormal;
                s->counter = 0;
            }
            break;
    }
}

}  // namespace

void ConcealmentReset(ConcealmentState* state) {
    std::memset(state, 0, sizeof(*state));
    state->previousValid = 1;
    state->lastValid = 1;
    state->fadeInLength = 5;
    state->muteLength = 5;
    state->fadeOutLength = 5;
}

void ConcealmentApply(ConcealmentState* s, float* spectrum, uint8_t* windowShape, uint8_t* windowSequence,
                      int32_t frameValid, const BandTable& bands) {
    const int32_t valid = frameValid ? 1 : 0;
    if (valid) {
        // The delay line: one pass that exchanges the incoming and stored spectra.
        float* stored = s->storedSpectrum;
        for (int32_t j = 0; j < 1024; ++j) {
            const float incoming = spectrum[j];
            spectrum[j] = stored[j];
            stored[j] = incoming;
        }
        const uint8_t shape = *windowShape;
        const uint8_t sequence = *windowSequence;
        *windowShape = s->storedShape;
        *windowSequence = s->storedSequence;
        s->storedShape = shape;
        s->storedSequence = sequence;
    } else {
        std::memcpy(spectrum, s->storedSpectrum, sizeof(s->storedSpectrum));
        *windowShape = s->storedShape;
        *windowSequence = s->storedSequence;
    }

    AdvanceState(s, valid);

    if (!s->lastValid) {
        if (valid && s->previousValid) Interpolate(spectrum, windowShape, windowSequence, *s, bands);
        for (int32_t j = 0; j < 1024; ++j) {
            if (SignNegative(s->noiseIndex)) spectrum[j] = -spectrum[j];
            s->noiseIndex = (s->noiseIndex + 1) & 511;
        }
    }
    s->previousValid = s->lastValid;
    s->lastValid = valid;

    float gain = 1.0f;
    switch (s->state) {
        case kConcealFadeOut: gain = kFadeOutGain[s->counter < 5 ? s->counter : 4]; break;
        case kConcealMuted: gain = 0.0f; break;
        case kConcealFadeIn: gain = kFadeInGain[s->counter < 5 ? s->counter : 4]; break;
        default: return;
    }
    for (int32_t j = 0; j < 1024; ++j) spectrum[j] *= gain;
}

}  // namespace aurivane
