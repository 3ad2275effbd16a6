#include "sbrenc/sbr_envelope_coder.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "dsp/sbr_grid.h"
#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

constexpr int kMaxEnvelopeValue = 127;
constexpr int kMaxNoiseValue = 30;
constexpr int kNoiseStartBits = 5;

int CodeLength(const HuffmanBook& book, int delta) { return book.lengths[delta + book.lav]; }

struct VectorCoding {
    const HuffmanBook* fBook;
    const HuffmanBook* tBook;
    int startBits;
    int maxValue;
};

// Codes `n` values in the direction that costs fewer bits. ref is null when
// time direction is not allowed. Returns 1 for time direction. A time
// difference outside the table would change the value, so such a vector
// goes in frequency direction, where clamping only raises later values.
int CodeVector(const VectorCoding& c, const int32_t* in, int n, const int32_t* ref, float edge, int32_t* deltas,
               int32_t* values) {
    const int fLav = c.fBook->lav;
    const int startMax = (1 << c.startBits) - 1;
    int32_t fValues[kSbrMaxHighBands];
    int32_t fDeltas[kSbrMaxHighBands];
    int fCost = c.startBits;
    fValues[0] = std::clamp(in[0], 0, std::min(startMax, c.maxValue));
    fDeltas[0] = fValues[0];
    for (int k = 1; k < n; ++k) {
        const int target = std::clamp(in[k], 0, c.maxValue);
        const int d = std::clamp(target - fValues[k - 1], -fLav, fLav);
        fDeltas[k] = d;
        fValues[k] = fValues[k - 1] + d;
        fCost += CodeLength(*c.fBook, d);
    }
    int tCost = INT_MAX;
    if (ref != nullptr) {
        const int tLav = c.tBook->lav;
        tCost = 0;
        for (int k = 0; k < n && tCost != INT_MAX; ++k) {
            const int d = std::clamp(in[k], 0, c.maxValue) - ref[k];
            if (d < -tLav || d > tLav) tCost = INT_MAX;
            else tCost += CodeLength(*c.tBook, d);
        }
    }
    const bool time = tCost != INT_MAX && (1.0f + edge) * static_cast<float>(tCost) < static_cast<float>(fCost);
    if (time) {
        for (int k = 0; k < n; ++k) {
            values[k] = std::clamp(in[k], 0, c.maxValue);
            deltas[k] = values[k] - ref[k];
        }
        return 1;
    }
    std::memcpy(values, fValues, sizeof(int32_t) * static_cast<size_t>(n));
    std::memcpy(deltas, fDeltas, sizeof(int32_t) * static_cast<size_t>(n));
    return 0;
}

// Position on the high-resolution axis that low-resolution band b reads.
int LowToHigh(int b, int offset) {
    if (offset >= 0 && b < offset) return b;
    if (offset < 0 && b < -offset) return 3 * b;
    return 2 * b - offset;
}

}  // namespace

void SbrQuantiseNoise(const float values[2][kSbrMaxNoiseBands], int numNoiseEnvelopes, int nNoise,
                      SbrFrameValues* out) {
    for (int n = 0; n < numNoiseEnvelopes && n < 2; ++n) {
        for (int q = 0; q < nNoise && q < kSbrMaxNoiseBands; ++q) {
            const float v = values[n][q];
            const int quantised = v > 30.0f ? 30 : static_cast<int>(v + 0.5f);
            out->noise[n][q] = quantised < 0 ? 0 : quantised;
        }
    }
}

void SbrEnvelopeCoder::Init(const SbrEncoderBandTables& tables, const SbrEncoderSettings& settings) {
    tables_ = &tables;
    ampRes_ = settings.ampResolution ? 1 : 0;
    deltaTAcrossFrames_ = settings.deltaTAcrossFrames != 0;
    edgeFirst_ = settings.edgeFirstEnvelope;
    edgeIncrement_ = settings.edgeIncrement;
    havePrev_ = false;
    timeRun_ = 0;
    std::memset(prevEnv_, 0, sizeof(prevEnv_));
    std::memset(prevNoise_, 0, sizeof(prevNoise_));
}

void SbrEnvelopeCoder::Code(const SbrFrameInfo& frame, const SbrGridFields& grid, bool headerSent,
                            const SbrFrameValues& values, SbrCodedChannel* out) {
    const SbrEncoderBandTables& t = *tables_;
    const int ampRes = SbrEffectiveAmpResolution(grid.frameClass, grid.numEnvelopes, ampRes_);
    const int scale = ampRes_ && !ampRes ? 2 : 1;
    const VectorCoding envCoding = {
        &kSbrHuffmanBooks[ampRes ? kSbrBookFEnv30 : kSbrBookFEnv15],
        &kSbrHuffmanBooks[ampRes ? kSbrBookTEnv30 : kSbrBookTEnv15], ampRes ? 6 : 7, kMaxEnvelopeValue};
    const VectorCoding noiseCoding = {&kSbrHuffmanBooks[kSbrBookFEnv30], &kSbrHuffmanBooks[kSbrBookTNoise30],
                                      kNoiseStartBits, kMaxNoiseValue};
    const bool acrossFrames = deltaTAcrossFrames_ && havePrev_ && !headerSent;
    const int offset = 2 * t.nLow - t.nHigh;

    out->ampRes = ampRes;
    out->numEnvelopes = frame.numEnvelopes;
    out->numNoiseEnvelopes = frame.numNoiseEnvelopes > 1 ? 2 : 1;
    for (int e = 0; e < frame.numEnvelopes; ++e) {
        const int res = frame.freqRes[e] ? 1 : 0;
        const int n = res ? t.nHigh : t.nLow;
        int32_t in[kSbrMaxHighBands];
        int32_t ref[kSbrMaxHighBands];
        for (int b = 0; b < n; ++b) {
            in[b] = values.envelope[e][b] * scale;
            ref[b] = prevEnv_[res ? b : LowToHigh(b, offset)];
        }
        const bool timeAllowed = e > 0 || acrossFrames;
        const float edge = e == 0 ? edgeFirst_ + edgeIncrement_ * static_cast<float>(timeRun_) : 0.0f;
        out->freqRes[e] = res;
        out->dfEnv[e] = CodeVector(envCoding, in, n, timeAllowed ? ref : nullptr, edge, out->env[e], out->envValue[e]);
        const int32_t* v = out->envValue[e];
        if (res) {
            std::memcpy(prevEnv_, v, sizeof(int32_t) * static_cast<size_t>(n));
        } else {
            for (int b = 0; b < n; ++b) {
                if (offset >= 0 && b < offset) {
                    prevEnv_[b] = v[b];
                } else if (offset < 0 && b < -offset) {
                    for (int j = 0; j < 3; ++j) prevEnv_[3 * b + j] = v[b];
                } else {
                    prevEnv_[2 * b - offset] = v[b];
                    prevEnv_[2 * b - offset + 1] = v[b];
                }
            }
        }
        if (e == 0) timeRun_ = out->dfEnv[0] ? timeRun_ + 1 : 0;
    }
    for (int q = 0; q < out->numNoiseEnvelopes; ++q) {
        const bool timeAllowed = q > 0 || acrossFrames;
        out->dfNoise[q] = CodeVector(noiseCoding, values.noise[q], t.nNoise, timeAllowed ? prevNoise_ : nullptr, 0.0f,
                                     out->noise[q], out->noiseValue[q]);
        std::memcpy(prevNoise_, out->noiseValue[q], sizeof(int32_t) * static_cast<size_t>(t.nNoise));
    }
    havePrev_ = true;
}

}  // namespace aurivane
