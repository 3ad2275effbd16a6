#include "sbrenc/ps_encoder.h"

#include <cmath>
#include <cstring>

#include "dsp/ps_hybrid.h"
#include "dsp/ps_tables.h"

namespace aurivane {

namespace {

// Hybrid sub-bands: 0..7 split QMF band 0 (8-band filter), 8..11 band 1 and
// 12..15 band 2 (4-band filter), each in the filters' natural order. A real
// input's spectrum sits in one half of a complex QMF band and its mirror in
// the other, so each of the first 8 parameter bands takes a sub-band and its
// mirror image: the same frequencies the decoder's 20-band hybrid
// configuration maps to that parameter band (whatever the sign convention of
// the analysis' imaginary part).
constexpr int8_t kSubBandPairs[8][2] = {{0, 7}, {1, 6}, {2, 5}, {3, 4}, {9, 10}, {8, 11}, {12, 15}, {13, 14}};

// QMF band ranges of parameter bands 8..19 (the down-mix bins 16..27).
constexpr int8_t kQmfRanges[13] = {3, 4, 5, 6, 7, 8, 9, 11, 14, 18, 23, 35, 64};

// Parameter bands below this one measure coherence from the real part of the
// cross power; above, phase differences are not synthesised, so the
// magnitude is used.
constexpr int kRealCoherenceBands20 = 12;

constexpr float kEpsilon = 0.0001f;

// Decision thresholds halfway between the quantiser's reconstruction
// points: IID in log2 of the amplitude ratio, ICC as sqrt((1 - rho) / 2).
constexpr float kIidThresholds[7] = {0.1661f, 0.4983f, 0.9135f, 1.4118f, 1.9932f, 2.6576f, 3.5711f};
constexpr float kIccThresholds[7] = {0.0889f, 0.2298f, 0.36425f, 0.5045f, 0.6351f, 0.7996f, 0.94565f};

int Count(const float* thresholds, float v) {
    int n = 0;
    while (n < 7 && v >= thresholds[n]) ++n;
    return n;
}

// Down-mix gain for the mean power o of the two channels and half the power
// of their sum, t: the sum scaled to o, but by at most 2.
float DownmixGain(float o, float t) { return o > 8.0f * t ? 2.0f : std::sqrt(o / (2.0f * t)); }

int CodeLength(const HuffmanBook& book, int value) { return book.lengths[value + book.lav]; }

}  // namespace

int PsEncoder::Open(int psMode) {
    open_ = false;
    if (psMode < 0) return 1;
    numBands_ = (psMode & kTenBandMode) ? 10 : 20;
    firstFrame_ = true;
    std::memset(xRe_, 0, sizeof(xRe_));
    std::memset(xIm_, 0, sizeof(xIm_));
    std::memset(p0_, 0, sizeof(p0_));
    std::memset(p1_, 0, sizeof(p1_));
    std::memset(xr_, 0, sizeof(xr_));
    std::memset(xi_, 0, sizeof(xi_));
    std::memset(iid_, 0, sizeof(iid_));
    std::memset(smP0_, 0, sizeof(smP0_));
    std::memset(smP1_, 0, sizeof(smP1_));
    std::memset(smX_, 0, sizeof(smX_));
    std::memset(antiPhase_, 0, sizeof(antiPhase_));
    for (float& v : icc_) v = -1.0f;
    std::memset(iidIndex_, 0, sizeof(iidIndex_));
    std::memset(iccIndex_, 0, sizeof(iccIndex_));
    std::memset(prevIid_, 0, sizeof(prevIid_));
    std::memset(prevIcc_, 0, sizeof(prevIcc_));
    prevIidEnable_ = prevIccEnable_ = false;
    bitCount_ = 0;
    open_ = true;
    return 0;
}

void PsEncoder::EncodeFrame(SbrQmfFrame* ch0, const SbrQmfFrame* ch1, bool sbrHeaderSent) {
    bitCount_ = 0;
    if (!open_) return;
    const SbrQmfFrame* in[2] = {ch0, ch1};
    for (int c = 0; c < 2; ++c) {
        std::memmove(xRe_[c][0], xRe_[c][kSbrQmfSlots], sizeof(xRe_[c][0]) * kHistory);
        std::memmove(xIm_[c][0], xIm_[c][kSbrQmfSlots], sizeof(xIm_[c][0]) * kHistory);
        std::memcpy(xRe_[c][kHistory], in[c]->re, sizeof(in[c]->re));
        std::memcpy(xIm_[c][kHistory], in[c]->im, sizeof(in[c]->im));
    }
    const PsHybridFilters& hf = PsHybridFilterBank();
    // The accumulators still hold the second half of the previous frame.
    for (int b = 0; b < kMaxBands; ++b) {
        p0_[b] += kEpsilon;
        p1_[b] += kEpsilon;
        xr_[b] += kEpsilon;
        xi_[b] += kEpsilon;
    }
    for (int n = 0; n < kSbrQmfSlots; ++n) {
        // Output slot n is input slot n - 6: the filters read up to row n + 12.
        const int row = n + kHistory;
        for (int c = 0; c < 2; ++c) {
            constexpr int kStride = kSbrQmfBands;
            PsHybridSplit(hf.h8_20, 8, &xRe_[c][row][0], &xIm_[c][row][0], kStride, subRe_[c], subIm_[c]);
            PsHybridSplit(hf.h4_34, 4, &xRe_[c][row][1], &xIm_[c][row][1], kStride, subRe_[c] + 8, subIm_[c] + 8);
            PsHybridSplit(hf.h4_34, 4, &xRe_[c][row][2], &xIm_[c][row][2], kStride, subRe_[c] + 12, subIm_[c] + 12);
        }
        AccumulateAndDownmix(n, ch0);
        if (n == kSbrQmfSlots / 2 - 1) {
            Estimate();
            std::memset(p0_, 0, sizeof(p0_));
            std::memset(p1_, 0, sizeof(p1_));
            std::memset(xr_, 0, sizeof(xr_));
            std::memset(xi_, 0, sizeof(xi_));
        }
    }
    Quantise();
    WriteBits(sbrHeaderSent);
}

// A parameter band turns to the difference signal once its smoothed
// correlation falls below -0.6 and back once it rises above -0.3; the
// hysteresis and the ~90 ms smoothing keep uncorrelated noise from
// toggling it.
void PsEncoder::UpdateAntiPhase(int band, float p0, float p1, float cross) {
    constexpr float kAlpha = 1.0f / 64.0f;
    smP0_[band] += kAlpha * (p0 - smP0_[band]);
    smP1_[band] += kAlpha * (p1 - smP1_[band]);
    smX_[band] += kAlpha * (cross - smX_[band]);
    const float norm = std::sqrt(smP0_[band] * smP1_[band]) + kEpsilon;
    if (smX_[band] < -0.6f * norm) antiPhase_[band] = true;
    if (smX_[band] > -0.3f * norm) antiPhase_[band] = false;
}

// Both channels' powers and cross power per bin serve the parameter
// accumulators and the down-mix gain alike.
void PsEncoder::AccumulateAndDownmix(int slot, SbrQmfFrame* ch0) {
    float* outRe = ch0->re[slot];
    float* outIm = ch0->im[slot];
    // Bins 0..15: the hybrid sub-bands one by one, merged back into QMF
    // bands 0..2 (the filters sum to a 6-slot delay).
    float pl[kSubBands], pr[kSubBands], cr[kSubBands], ci[kSubBands];
    for (int s = 0; s < kSubBands; ++s) {
        const float lr = subRe_[0][s], li = subIm_[0][s], rr = subRe_[1][s], ri = subIm_[1][s];
        pl[s] = lr * lr + li * li;
        pr[s] = rr * rr + ri * ri;
        cr[s] = lr * rr + li * ri;
        ci[s] = li * rr - lr * ri;
    }
    outRe[0] = outIm[0] = outRe[1] = outIm[1] = outRe[2] = outIm[2] = 0.0f;
    for (int b = 0; b < 8; ++b) {
        const int s0 = kSubBandPairs[b][0], s1 = kSubBandPairs[b][1];
        p0_[b] += pl[s0] + pl[s1];
        p1_[b] += pr[s0] + pr[s1];
        xr_[b] += cr[s0] + cr[s1];
        xi_[b] += ci[s0] + ci[s1];
        UpdateAntiPhase(b, pl[s0] + pl[s1], pr[s0] + pr[s1], cr[s0] + cr[s1]);
        const float sign = antiPhase_[b] ? -1.0f : 1.0f;
        for (int j = 0; j < 2; ++j) {
            const int s = kSubBandPairs[b][j];
            const float o = 0.5f * (pl[s] + pr[s]) + kEpsilon;
            const float g = DownmixGain(o, o + sign * cr[s]);
            const int band = s < 8 ? 0 : (s < 12 ? 1 : 2);
            outRe[band] += g * (subRe_[0][s] + sign * subRe_[1][s]);
            outIm[band] += g * (subIm_[0][s] + sign * subIm_[1][s]);
        }
    }
    // Bins 16..27: one gain per QMF range, so each range keeps its energy.
    const int row = slot + kHistory - kPsHybridDelay;
    const float* lr = xRe_[0][row];
    const float* li = xIm_[0][row];
    const float* rr = xRe_[1][row];
    const float* ri = xIm_[1][row];
    for (int b = 8; b < kMaxBands; ++b) {
        const int lo = kQmfRanges[b - 8], hi = kQmfRanges[b - 7];
        float a0 = 0.0f, a1 = 0.0f, xr = 0.0f, xi = 0.0f;
        for (int k = lo; k < hi; ++k) {
            a0 += lr[k] * lr[k] + li[k] * li[k];
            a1 += rr[k] * rr[k] + ri[k] * ri[k];
            xr += lr[k] * rr[k] + li[k] * ri[k];
            xi += li[k] * rr[k] - lr[k] * ri[k];
        }
        p0_[b] += a0;
        p1_[b] += a1;
        xr_[b] += xr;
        xi_[b] += xi;
        UpdateAntiPhase(b, a0, a1, xr);
        const float sign = antiPhase_[b] ? -1.0f : 1.0f;
        const float o = 0.5f * (a0 + a1) + kEpsilon;
        const float g = DownmixGain(o, o + sign * xr);
        for (int k = lo; k < hi; ++k) {
            outRe[k] = g * (lr[k] + sign * rr[k]);
            outIm[k] = g * (li[k] + sign * ri[k]);
        }
    }
}

void PsEncoder::Estimate() {
    const bool ten = numBands_ == 10;
    const int step = ten ? 2 : 1;
    for (int b = 0; b < numBands_; ++b) {
        float p0 = 0.0f, p1 = 0.0f, cr = 0.0f, ci = 0.0f;
        for (int j = 0; j < step; ++j) {
            p0 += p0_[b * step + j];
            p1 += p1_[b * step + j];
            cr += xr_[b * step + j];
            ci += xi_[b * step + j];
        }
        iid_[b] = 0.5f * std::log2(p0 / p1);
        const float norm = std::sqrt(p0 * p1);
        const float c = (b * step < kRealCoherenceBands20 ? cr : std::sqrt(cr * cr + ci * ci)) / norm;
        icc_[b] = c <= 1.0f ? std::sqrt(0.5f * (1.0f - c)) : 0.0f;
    }
}

void PsEncoder::Quantise() {
    for (int b = 0; b < numBands_; ++b) {
        const int n = std::fabs(iid_[b]) > kIidThresholds[0] ? Count(kIidThresholds, std::fabs(iid_[b])) : 0;
        iidIndex_[b] = iid_[b] < 0.0f ? -n : n;
        iccIndex_[b] = icc_[b] > kIccThresholds[0] ? Count(kIccThresholds, icc_[b]) : 0;
    }
}

void PsEncoder::Put(uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        if (bitCount_ >= 8 * kBitBufferBytes) return;
        const int bit = (value >> i) & 1u;
        uint8_t& byte = bits_[bitCount_ >> 3];
        const int shift = 7 - (bitCount_ & 7);
        byte = static_cast<uint8_t>((byte & ~(1u << shift)) | (bit << shift));
        ++bitCount_;
    }
}

void PsEncoder::WriteBits(bool sbrHeaderSent) {
    bool iidEnable = false, iccEnable = false, changed = false;
    for (int b = 0; b < numBands_; ++b) {
        iidEnable |= iidIndex_[b] != 0;
        iccEnable |= iccIndex_[b] != 0;
        changed |= iidIndex_[b] != prevIid_[b] || iccIndex_[b] != prevIcc_[b];
    }
    const bool header = firstFrame_ || sbrHeaderSent || iidEnable != prevIidEnable_ || iccEnable != prevIccEnable_;
    // iid_mode / icc_mode 0 and 1: 10 and 20 bands, coarse IID grid.
    const int mode = numBands_ == 20 ? 1 : 0;
    Put(header, 1);
    if (header) {
        Put(iidEnable, 1);
        if (iidEnable) Put(mode, 3);
        Put(iccEnable, 1);
        if (iccEnable) Put(mode, 3);
        Put(0, 1);  // enable_ext
    }
    Put(0, 1);  // frame_class: fixed borders
    // num_env_idx 0 keeps the decoder's previous parameters.
    const bool send = changed || sbrHeaderSent;
    Put(send ? 1 : 0, 2);
    if (send) {
        for (int p = 0; p < 2; ++p) {
            const bool enable = p == 0 ? iidEnable : iccEnable;
            if (!enable) continue;
            const int* index = p == 0 ? iidIndex_ : iccIndex_;
            const int* prev = p == 0 ? prevIid_ : prevIcc_;
            const HuffmanBook& df = kPsHuffmanBooks[p == 0 ? kPsBookIidDf : kPsBookIccDf];
            const HuffmanBook& dt = kPsHuffmanBooks[p == 0 ? kPsBookIidDt : kPsBookIccDt];
            int costF = 0, costT = 0;
            for (int b = 0; b < numBands_; ++b) {
                costF += CodeLength(df, index[b] - (b ? index[b - 1] : 0));
                costT += CodeLength(dt, index[b] - prev[b]);
            }
            // A frame with an SBR header may be where a decoder starts.
            const bool timeDelta = costT < costF && !sbrHeaderSent;
            const HuffmanBook& book = timeDelta ? dt : df;
            Put(timeDelta, 1);
            for (int b = 0; b < numBands_; ++b) {
                const int d = index[b] - (timeDelta ? prev[b] : (b ? index[b - 1] : 0));
                Put(book.codes[d + book.lav], book.lengths[d + book.lav]);
            }
        }
        std::memcpy(prevIid_, iidIndex_, sizeof(prevIid_));
        std::memcpy(prevIcc_, iccIndex_, sizeof(prevIcc_));
    }
    prevIidEnable_ = iidEnable;
    prevIccEnable_ = iccEnable;
    firstFrame_ = false;
}

}  // namespace aurivane
