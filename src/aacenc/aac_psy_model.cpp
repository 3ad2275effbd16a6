#include "aacenc/aac_psy_model.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr float kNoPreviousThreshold = 1e20f;

inline float Max(float a, float b) { return a > b ? a : b; }
inline float Min(float a, float b) { return a < b ? a : b; }

// Every band of the AAC band tables is a multiple of four lines wide: four
// partial sums let the loop vectorise.
void BandEnergies(const PsyConfig& c, const float* x, float* energy) {
    for (int32_t b = 0; b < c.sfbCnt; ++b) {
        float acc[4] = {};
        for (int32_t l = c.sfbOffset[b]; l < c.sfbOffset[b + 1]; l += 4) {
            for (int j = 0; j < 4; ++j) acc[j] += x[l + j] * x[l + j];
        }
        energy[b] = (acc[0] + acc[1]) + (acc[2] + acc[3]);
    }
}

// Masking spreads upward in frequency by `high`, downward by `low`.
void Spread(int32_t n, const float* high, const float* low, float* v) {
    for (int32_t i = 1; i < n; ++i) v[i] = Max(v[i], high[i] * v[i - 1]);
    for (int32_t i = n - 2; i >= 0; --i) v[i] = Max(v[i], low[i] * v[i + 1]);
}

int32_t HighestNonZeroBand(const int32_t* offsets, int32_t bands, const float* x) {
    for (int32_t b = bands - 1; b >= 0; --b) {
        for (int32_t l = offsets[b]; l < offsets[b + 1]; ++l) {
            if (x[l] != 0.0f) return b;
        }
    }
    return -1;
}

}  // namespace

int AacPsyModel::Open(int sampleRate, int bitRate, int channels, int bandwidth, int tnsMask) {
    open_ = false;
    channel_ = PsyChannelState{};
    if (channels != 1 || sampleRate <= 0) return 1;
    const int perChannel = bitRate / channels;
    if (PsyConfigInit(&longConfig_, sampleRate, perChannel, bandwidth, false, tnsMask & 1) != 0) return 1;
    if (PsyConfigInit(&shortConfig_, sampleRate, perChannel, bandwidth, true, (tnsMask >> 1) & 1) != 0) return 1;
    BlockSwitchInit(&channel_.blockSwitch, bitRate, channels);
    channel_.mdct.Reset();
    std::memcpy(channel_.previousThreshold, longConfig_.thrQuiet, sizeof(channel_.previousThreshold));
    open_ = true;
    return 0;
}

// Steps of one long frame or one short window: lowpass, energies, TNS,
// thresholds with spreading, threshold in quiet and pre-echo control, and
// the spread energies.
void AacPsyModel::AnalyseBlock(const PsyConfig& c, bool shortBlock, int32_t sequence, int window, float* x,
                               PsyOutput* out) {
    PsyChannelState& ch = channel_;
    const int32_t lines = shortBlock ? 128 : kAacFrameLength;
    const int32_t n = c.sfbCnt;
    float* energy = ch.sfbEnergy[window];
    float* thr = ch.sfbThreshold[window];
    float* spread = ch.sfbSpreadEnergy[window];

    for (int32_t l = c.lowpassLine; l < lines; ++l) x[l] = 0.0f;
    BandEnergies(c, x, energy);
    float total = 0.0f;
    for (int32_t b = 0; b < n; ++b) total += energy[b];
    ch.totalEnergy += total;

    TnsWindowData& tns = ch.tnsData[window];
    TnsDetect(c.tns, x, c.sfbOffset, energy, ch.weights, &tns);
    if (tns.active) TnsEncode(c.tns, shortBlock, window, &tns, x, &out->tns);

    const float clip = c.clipEnergy * 0.25f;
    for (int32_t b = 0; b < n; ++b) thr[b] = Min(energy[b] * c.ratio, clip);
    if (tns.active) BandEnergies(c, x, energy);

    Spread(n, c.maskHigh, c.maskLow, thr);
    for (int32_t b = 0; b < n; ++b) thr[b] = Max(thr[b], c.thrQuiet[b] * 0.25f);

    // Pre-echo control: the threshold may at most double from one block to
    // the next. Around a short run (LONG_START, LONG_STOP) the history does
    // not apply.
    float* previous = ch.previousThreshold;
    if (sequence == kAacStopWindow) {
        for (int32_t b = 0; b < n; ++b) previous[b] = kNoPreviousThreshold;
    }
    for (int32_t b = 0; b < n; ++b) {
        const float before = thr[b];
        const float p = previous[b];
        previous[b] = before;
        thr[b] = Max(Min(before, p * c.maxAllowedIncrease), c.minRemainingThreshold * before);
    }
    if (sequence == kAacStartWindow) {
        for (int32_t b = 0; b < n; ++b) previous[b] = kNoPreviousThreshold;
    }

    // Under an active filter the quantisation noise below the filtered range
    // is not shaped: ask for more accuracy there.
    if (tns.active) {
        for (int32_t b = c.tns.patchLowBand; b < c.tns.startBand; ++b) thr[b] *= 0.25f;
    }

    std::memcpy(spread, energy, sizeof(float) * n);
    Spread(n, c.maskHighSprEn, c.maskLowSprEn, spread);
}

void AacPsyModel::Analyse(const float* samples, int stride, PsyOutput* out) {
    std::memset(&out->tns, 0, sizeof(out->tns));
    if (!open_) {
        std::memset(out, 0, sizeof(*out));
        return;
    }
    PsyChannelState& ch = channel_;
    BlockSwitchState& bs = ch.blockSwitch;
    BlockSwitch(&bs, samples, stride);
    BlockSwitchSync(&bs);

    const int32_t sequence = bs.windowSequence;
    out->windowSequence = sequence;
    out->windowShape = (sequence == kAacLongWindow || sequence == kAacStopWindow) ? 1 : 0;
    out->noOfGroups = bs.noOfGroups;
    std::memcpy(out->groupLen, bs.groupLen, sizeof(out->groupLen));
    ch.totalEnergy = 0.0f;

    if (sequence != kAacShortWindow) {
        const PsyConfig& c = longConfig_;
        ch.mdct.Transform(samples, stride, sequence, out->spectrum);
        AnalyseBlock(c, false, sequence, 0, out->spectrum, out);
        out->groupingMask = 0;
        out->sfbCnt = c.sfbCnt;
        out->sfbPerGroup = c.sfbCnt;
        for (int32_t b = 0; b <= c.sfbCnt; ++b) out->sfbOffset[b] = c.sfbOffset[b];
        std::memcpy(out->sfbEnergy, ch.sfbEnergy[0], sizeof(float) * c.sfbCnt);
        std::memcpy(out->sfbThreshold, ch.sfbThreshold[0], sizeof(float) * c.sfbCnt);
        std::memcpy(out->sfbSpreadEnergy, ch.sfbSpreadEnergy[0], sizeof(float) * c.sfbCnt);
        std::memcpy(out->sfbMinSnr, c.minSnr, sizeof(float) * c.sfbCnt);
        out->maxSfb = HighestNonZeroBand(c.sfbOffset, c.sfbCnt, out->spectrum) + 1;
    } else {
        ch.mdct.Transform(samples, stride, sequence, ch.spectrum);
        for (int w = 0; w < 8; ++w) AnalyseBlock(shortConfig_, true, sequence, w, ch.spectrum + 128 * w, out);
        GroupShortWindows(out);
    }
    out->totalEnergy = ch.totalEnergy;
    out->tnsPresent = 0;
    for (int w = 0; w < 8; ++w) out->tnsPresent |= out->tns.active[w];
}

void AacPsyModel::GroupShortWindows(PsyOutput* out) {
    const PsyConfig& c = shortConfig_;
    PsyChannelState& ch = channel_;
    const int32_t n = c.sfbCnt;

    int32_t highest = -1;
    for (int w = 0; w < 8; ++w) {
        const int32_t b = HighestNonZeroBand(c.sfbOffset, n, ch.spectrum + 128 * w);
        if (b > highest) highest = b;
    }
    out->maxSfb = highest + 1 > 1 ? highest + 1 : 1;
    out->sfbPerGroup = n;
    out->sfbCnt = n * out->noOfGroups;

    int32_t mask = 0;
    int32_t window = 0;
    float* dst = out->spectrum;
    for (int32_t g = 0; g < out->noOfGroups; ++g) {
        const int32_t len = out->groupLen[g];
        const int32_t start = 128 * window;
        for (int32_t w = 0; w < len; ++w) mask = (mask << 1) | (w > 0 ? 1 : 0);
        for (int32_t b = 0; b < n; ++b) {
            const int32_t slot = g * n + b;
            out->sfbOffset[slot] = start + c.sfbOffset[b] * len;
            out->sfbMinSnr[slot] = c.minSnr[b];
            float e = 0.0f, t = 0.0f, s = 0.0f;
            for (int32_t w = window; w < window + len; ++w) {
                e += ch.sfbEnergy[w][b];
                t += ch.sfbThreshold[w][b];
                s += ch.sfbSpreadEnergy[w][b];
            }
            out->sfbEnergy[slot] = e;
            out->sfbThreshold[slot] = t;
            out->sfbSpreadEnergy[slot] = s;
            const int32_t width = c.sfbOffset[b + 1] - c.sfbOffset[b];
            for (int32_t w = window; w < window + len; ++w) {
                std::memcpy(dst, ch.spectrum + 128 * w + c.sfbOffset[b], sizeof(float) * width);
                dst += width;
            }
        }
        window += len;
    }
    out->sfbOffset[out->sfbCnt] = kAacFrameLength;
    out->groupingMask = mask;
}

}  // namespace aurivane
