// Spectral tools of AAC-LC: inverse quantisation, M/S and intensity stereo,
// perceptual noise substitution and temporal noise shaping.
#include "aacdec/aac_channel.h"
#include "dsp/aac_pow43.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr int32_t kIntensity2Codebook = 14;
constexpr int32_t kIntensityCodebook = 15;

// TNS reflection coefficients by coded value, for coef_res 3 and 4 bits.
struct TnsTables {
    float coef3[8];   // index value + 4
    float coef4[16];  // index value + 8
    TnsTables() {
        const double halfPi = std::acos(0.0);
        for (int32_t r = 3; r <= 4; ++r) {
            const int32_t half = 1 << (r - 1);
            const double positive = (half - 0.5) / halfPi;
            const double negative = (half + 0.5) / halfPi;
            for (int32_t c = -half; c < half; ++c) {
                const float value = static_cast<float>(std::sin(c / (c >= 0 ? positive : negative)));
                if (r == 3) coef3[c + 4] = value; else coef4[c + 8] = value;
            }
        }
    }
};

const TnsTables& Tns() {
    static const TnsTables tables;
    return tables;
}

constexpr int32_t kTnsMaxLong[kNumRates] = {40, 42, 51, 46, 46, 42, 42, 42, 39};
constexpr int32_t kTnsMaxShort = 14;

// Stored scalefactors lie in [-400, 200] (see the syntax's clamp); the
// gain 2^(s/4 - bias) for bias 6 (short) or 9 (long) is read from a table
// of s - 4*bias.
constexpr int32_t kScaleLow = -400 - 4 * 9;
constexpr int32_t kScaleHigh = 200 - 4 * 6;

struct ScaleTable {
    float gain[kScaleHigh - kScaleLow + 1];
    ScaleTable() {
        for (int32_t e = kScaleLow; e <= kScaleHigh; ++e) {
            // Floor-based split keeps 2^(e/4) exact in its fractional part.
            const int32_t whole = (e >= 0) ? e / 4 : -((-e + 3) / 4);
            const int32_t frac = e - 4 * whole;
            gain[e - kScaleLow] = static_cast<float>(std::pow(2.0, 0.25 * frac + whole));
        }
    }
};

const ScaleTable& Scales() {
    static const ScaleTable table;
    return table;
}

float ScalePower(int32_t s, int32_t bias) {
    const int32_t e = s - 4 * bias;
    if (e < kScaleLow || e > kScaleHigh) {
        const int32_t whole = (s >= 0) ? s / 4 : -((-s + 3) / 4);
        return static_cast<float>(std::pow(2.0, 0.25 * (s - 4 * whole) + whole - bias));
    }
    return Scales().gain[e - kScaleLow];
}

bool IsShort(const ChannelStream* ch) { return ch->ics.windowSequence == kEightShort; }

// Calls fn(lines, count) for every window of every group and band below
// max_sfb that pred(slot) selects.
template <typename Fn>
void ForEachBandWindow(const IcsInfo& ics, Fn fn) {
    const bool isShort = ics.windowSequence == kEightShort;
    int32_t window = 0;
    for (int32_t g = 0; g < ics.numGroups; ++g) {
        for (int32_t w = 0; w < ics.groupLength[g]; ++w) {
            const int32_t base = isShort ? (window + w) * 128 : 0;
            for (int32_t b = 0; b < ics.maxSfb; ++b)
                fn(g, b, base + ics.offsets[b], ics.offsets[b + 1] - ics.offsets[b]);
        }
        window += ics.groupLength[g];
    }
}

}  // namespace

int32_t TnsMaxBands(int32_t rateIndex, bool shortWindow) {
    return shortWindow ? kTnsMaxShort : kTnsMaxLong[rateIndex];
}

void InverseQuantise(ChannelStream* ch) {
    const AacPow43& powers = AacPow43Table();
    std::memset(ch->spectrum, 0, sizeof(ch->spectrum));
    const int32_t bias = IsShort(ch) ? 6 : 9;
    ForEachBandWindow(ch->ics, [&](int32_t g, int32_t b, int32_t start, int32_t count) {
        // Zero, noise and intensity bands carry no quantised values.
        const int32_t cb = ch->sectionCodebook[g * 16 + b];
        if (cb < 1 || cb > 11) return;
        const float gain = ScalePower(ch->scalefactor[g * 16 + b], bias);
        const int16_t* q = ch->quantised;
        float* x = ch->spectrum;
        for (int32_t k = start; k < start + count; ++k) {
            // Pulses can push a magnitude past 8191 (four of 15 at most).
            const int32_t m = q[k] < 0 ? -q[k] : q[k];
            const double p = m < 8192 ? powers.value[m] : std::pow(static_cast<double>(m), 4.0 / 3.0);
            // The sign by copysign, not a branch: signs of coded lines are
            // as good as random.
            x[k] = std::copysign(static_cast<float>(p * gain), static_cast<float>(q[k]));
        }
    });
}

void ApplyNoiseCorrelationCheck(ChannelStream* ch0, ChannelStream* ch1) {
    if (!ch0->usesNoise && !ch1->usesNoise) return;
    const IcsInfo& ics = ch0->ics;
    for (int32_t g = 0; g < ics.numGroups; ++g) {
        for (int32_t b = 0; b < ics.maxSfb; ++b) {
            if (!((ch0->msMask[b] >> g) & 1)) continue;
            const int32_t slot = g * 16 + b;
            ch0->correlated[slot] = 1;
            if (ch0->pnsFlag[slot] && ch1->pnsFlag[slot]) ch0->msMask[b] &= static_cast<uint8_t>(~(1u << g));
        }
    }
}

void ApplyMidSide(ChannelStream* ch0, ChannelStream* ch1) {
    ForEachBandWindow(ch0->ics, [&](int32_t g, int32_t b, int32_t start, int32_t count) {
        if (!((ch0->msMask[b] >> g) & 1)) return;
        for (int32_t k = start; k < start + count; ++k) {
            const float l = ch0->spectrum[k];
            const float r = ch1->spectrum[k];
            ch0->spectrum[k] = l + r;
            ch1->spectrum[k] = l - r;
        }
    });
}

void ApplyIntensity(const ChannelStream* ch0, ChannelStream* ch1) {
    ForEachBandWindow(ch1->ics, [&](int32_t g, int32_t b, int32_t start, int32_t count) {
        const int32_t slot = g * 16 + b;
        const int32_t cb = ch1->sectionCodebook[slot];
        if (cb != kIntensity2Codebook && cb != kIntensityCodebook) return;
        const bool msMarked = ch1->commonWindow && ((ch0->msMask[b] >> g) & 1);
        float scale = static_cast<float>(std::pow(0.5, (ch1->scalefactor[slot] + 100) / 4.0));
        if ((cb == kIntensity2Codebook) != msMarked) scale = -scale;
        for (int32_t k = start; k < start + count; ++k) ch1->spectrum[k] = ch0->spectrum[k] * scale;
    });
}

void ApplyNoiseSubstitution(ChannelStream* ch, int32_t channelIndex, ChannelStream* ch0, NoiseGenerator* noise) {
    if (!ch->usesNoise) return;
    const int32_t bias = IsShort(ch) ? 6 : 9;
    ForEachBandWindow(ch->ics, [&](int32_t g, int32_t b, int32_t start, int32_t count) {
        const int32_t slot = g * 16 + b;
        if (!ch->pnsFlag[slot]) return;
        // The noise energy is stored like a scalefactor (value - 100) but
        // scales the band as 2^(energy/4) itself: the 100 comes back here.
        const double amplitude = std::pow(2.0, 0.25 * (ch->scalefactor[slot] + 100) - bias);
        int16_t* state = &noise->state;
        if (ch0->correlated[slot]) {
            if (channelIndex == 0) {
                ch->savedNoiseState[slot] = noise->state;
            } else {
                state = &ch0->savedNoiseState[slot];
            }
        }
        double energy = 0.0;
        for (int32_t k = start; k < start + count; ++k) {
            *state = static_cast<int16_t>(static_cast<uint16_t>(*state * 1321 + 14975));
            ch->spectrum[k] = static_cast<float>(*state);
            energy += static_cast<double>(*state) * *state;
        }
        const double factor = energy > 0.0 ? amplitude / std::sqrt(energy) : 0.0;
        for (int32_t k = start; k < start + count; ++k) ch->spectrum[k] = static_cast<float>(ch->spectrum[k] * factor);
    });
    noise->state = static_cast<int16_t>(static_cast<uint16_t>(noise->state + noise->increment));
}

void ApplyTns(ChannelStream* ch) {
    if (!ch->tns.present) return;
    const IcsInfo& ics = ch->ics;
    const bool isShort = IsShort(ch);
    const int32_t windows = isShort ? 8 : 1;
    const int32_t tnsMax = TnsMaxBands(ics.rateIndex, isShort);
    const TnsTables& tables = Tns();
    for (int32_t w = 0; w < windows; ++w) {
        float* lines = ch->spectrum + (isShort ? w * 128 : 0);
        int32_t top = ics.numBands;
        for (int32_t f = 0; f < ch->tns.numFilters[w]; ++f) {
            const TnsFilter& filter = ch->tns.filters[w][f];
            int32_t bottom = top - filter.length;
            if (bottom < 0) bottom = 0;
            const int32_t filterTop = top;
            top = bottom;
            if (filter.order == 0) continue;
            // Reflection to direct-form coefficients (step-up recursion).
            float a[kMaxTnsOrder + 1] = {1.0f};
            for (int32_t m = 1; m <= filter.order; ++m) {
                const int32_t c = filter.coef[m - 1];
                const float k = filter.coefRes ? tables.coef4[c + 8] : tables.coef3[c + 4];
                // In place, pairwise: a[i] and a[m - i] each from both old values.
                for (int32_t i = 1, j = m - 1; i <= j; ++i, --j) {
                    const float ai = a[i];
                    const float aj = a[j];
                    a[i] = ai + k * aj;
                    if (i != j) a[j] = aj + k * ai;
                }
                a[m] = k;
            }
            auto limit = [&](int32_t band) {
                int32_t v = band < tnsMax ? band : tnsMax;
                v = v < ics.maxSfb ? v : ics.maxSfb;
                return static_cast<int32_t>(ics.offsets[v]);
            };
            const int32_t start = limit(bottom);
            const int32_t end = limit(filterTop);
            if (end <= start) continue;
            const int32_t order = filter.order;
            // All-pole filter in place: the outputs already written are the
            // filter's history, zero before the first line.
            const int32_t count = end - start;
            const int32_t step = filter.direction ? -1 : 1;
            int32_t n = filter.direction ? end - 1 : start;
            const int32_t head = count < order ? count : order;
            for (int32_t i = 0; i < head; ++i, n += step) {
                float y = lines[n];
                for (int32_t j = 0; j < order; ++j) y -= a[j + 1] * (j < i ? lines[n - (j + 1) * step] : 0.0f);
                lines[n] = y;
            }
            for (int32_t i = head; i < count; ++i, n += step) {
                float y = lines[n];
                for (int32_t j = 0; j < order; ++j) y -= a[j + 1] * lines[n - (j + 1) * step];
                lines[n] = y;
            }
        }
    }
}

}  // namespace aurivane
