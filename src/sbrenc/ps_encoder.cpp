#include "sbrenc/ps_encoder.h"

#include <cmath>
#include <cstring>

#include "dsp/ps_hybrid.h"
#include "dsp/ps_tables.h"

namespace aurivane {

namespace {

// 20-band configuration. Hybrid sub-bands: 0..7 split QMF band 0 (8-band
// filter), 8..11 band 1 and 12..15 band 2 (4-band filter), each in the
// filters' natural order. A real input's spectrum sits in one half of a
// complex QMF band and its mirror in the other, so each of the first 8
// parameter bands takes a sub-band and its mirror image: the same
// frequencies the decoder's 20-band hybrid configuration maps to that
// parameter band (whatever the sign convention of the analysis' imaginary
// part).
constexpr int8_t kSubBandPar20[16] = {0, 1, 2, 3, 3, 2, 1, 0, 5, 4, 4, 5, 6, 7, 7, 6};
// QMF band ranges of parameter bands 8..19.
constexpr int8_t kQmfRanges20[13] = {3, 4, 5, 6, 7, 8, 9, 11, 14, 18, 23, 35, 64};

// Parameter bands below these measure coherence from the real part of the
// cross power (QMF bands below 7); above, phase differences are not
// synthesised, so the magnitude is used.
constexpr int kRealCoherenceBands20 = 12;
constexpr int kRealCoherenceBands34 = 18;

constexpr float kEpsilon = 0.0001f;

// ICC decision thresholds halfway between the quantiser's reconstruction
// points, as sqrt((1 - rho) / 2).
constexpr float kIccThresholds[7] = {0.0889f, 0.2298f, 0.36425f, 0.5045f, 0.6351f, 0.7996f, 0.94565f};

// IID is measured as log2 of the amplitude ratio; the grid is in dB.
constexpr float kDbPerLog2 = 6.0205999f;

// The nearest step of the fine IID grid (iid_mode 3 to 5: -50..50 dB in 31
// steps), as an index -15..15. The default grid's 7 and 10 dB steps would
// narrow an 8 dB pan to 7 dB, and its 25 dB end caps a hard pan well short
// of what a listener hears as one-sided.
int NearestIidStep(float db) {
    int best = 0;
    for (int i = 1; i < 31; ++i)
        if (std::fabs(kPsIidFineDb[i] - db) < std::fabs(kPsIidFineDb[best] - db)) best = i;
    return best - 15;
}

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
    // Without the 10-band bit, 34 parameter bands: the 20-band hybrid split
    // of QMF band 0 (86 Hz sub-bands with skirts reaching the neighbours at
    // -15 dB) cannot keep sources 50 Hz apart on their sides below 300 Hz,
    // and its wide sub-bands lose the decorrelated part's power where the
    // decoder sums them. The finer bands cost 50 to 80 bits a frame.
    numBands_ = (psMode & kTenBandMode) ? 10 : 34;
    if (numBands_ == 34) {
        // The decoder's 34-band configuration: QMF bands 0..4 split into
        // 12, 8, 4, 4 and 4 sub-bands, mapped as its k-to-i table says.
        split_ = 5;
        numSub_ = 32;
        hybridBands_ = 34;
        for (int s = 0; s < numSub_; ++s) {
            subPar_[s] = kPsKToI34[s];
            subQmf_[s] = static_cast<int8_t>(s < 12 ? 0 : (s < 20 ? 1 : (s - 20) / 4 + 2));
        }
        for (int k = split_; k < kSbrQmfBands; ++k) qmfPar_[k] = kPsKToI34[k + 27];
    } else {
        split_ = 3;
        numSub_ = 16;
        hybridBands_ = 20;
        for (int s = 0; s < numSub_; ++s) {
            subPar_[s] = kSubBandPar20[s];
            subQmf_[s] = static_cast<int8_t>(s < 8 ? 0 : (s < 12 ? 1 : 2));
        }
        for (int b = 8; b < 20; ++b)
            for (int k = kQmfRanges20[b - 8]; k < kQmfRanges20[b - 7]; ++k) qmfPar_[k] = static_cast<int8_t>(b);
    }
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
    std::memset(smO_, 0, sizeof(smO_));
    std::memset(smT_, 0, sizeof(smT_));
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
    for (int b = 0; b < hybridBands_; ++b) {
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
            float* re = subRe_[c];
            float* im = subIm_[c];
            if (split_ == 3) {
                PsHybridSplit(hf.h8_20, 8, &xRe_[c][row][0], &xIm_[c][row][0], kStride, re, im);
                PsHybridSplit(hf.h4_34, 4, &xRe_[c][row][1], &xIm_[c][row][1], kStride, re + 8, im + 8);
                PsHybridSplit(hf.h4_34, 4, &xRe_[c][row][2], &xIm_[c][row][2], kStride, re + 12, im + 12);
            } else {
                PsHybridSplit(hf.h12_34, 12, &xRe_[c][row][0], &xIm_[c][row][0], kStride, re, im);
                PsHybridSplit(hf.h8_34, 8, &xRe_[c][row][1], &xIm_[c][row][1], kStride, re + 12, im + 12);
                for (int b = 2; b < 5; ++b)
                    PsHybridSplit(hf.h4_34, 4, &xRe_[c][row][b], &xIm_[c][row][b], kStride, re + 4 * b + 12,
                                  im + 4 * b + 12);
            }
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

// The down-mix gain of one bin from its powers smoothed over about 10
// slots. A gain taken slot by slot keeps each bin's power, but for weakly
// correlated channels it jumps from slot to slot and bin to bin, so the
// overlapping hybrid and QMF synthesis filters add the bins' skirts
// incoherently and the core signal comes out low (0.4 dB on uncorrelated
// pink noise); a slowly moving gain keeps neighbouring bins coherent.
float PsEncoder::SmoothedGain(int bin, float o, float t) {
    constexpr float kAlpha = 0.1f;
    smO_[bin] += kAlpha * (o - smO_[bin]);
    smT_[bin] += kAlpha * (t - smT_[bin]);
    return DownmixGain(smO_[bin], smT_[bin]);
}

// Both channels' powers and cross power per bin serve the parameter
// accumulators and the down-mix gain alike.
void PsEncoder::AccumulateAndDownmix(int slot, SbrQmfFrame* ch0) {
    float* outRe = ch0->re[slot];
    float* outIm = ch0->im[slot];
    float s0[kMaxBands] = {}, s1[kMaxBands] = {}, sr[kMaxBands] = {}, si[kMaxBands] = {};
    // The hybrid sub-bands one by one, merged back into their QMF bands (the
    // filters sum to a 6-slot delay).
    float pl[kMaxSubBands], pr[kMaxSubBands], cr[kMaxSubBands];
    for (int s = 0; s < numSub_; ++s) {
        const float lr = subRe_[0][s], li = subIm_[0][s], rr = subRe_[1][s], ri = subIm_[1][s];
        pl[s] = lr * lr + li * li;
        pr[s] = rr * rr + ri * ri;
        cr[s] = lr * rr + li * ri;
        const int b = subPar_[s];
        s0[b] += pl[s];
        s1[b] += pr[s];
        sr[b] += cr[s];
        si[b] += li * rr - lr * ri;
    }
    // The QMF bands above the split, summed per parameter band: one gain
    // per band range, so each range keeps its energy.
    const int row = slot + kHistory - kPsHybridDelay;
    const float* lr = xRe_[0][row];
    const float* li = xIm_[0][row];
    const float* rr = xRe_[1][row];
    const float* ri = xIm_[1][row];
    float q0[kMaxBands] = {}, q1[kMaxBands] = {}, qr[kMaxBands] = {};
    for (int k = split_; k < kSbrQmfBands; ++k) {
        const int b = qmfPar_[k];
        const float a0 = lr[k] * lr[k] + li[k] * li[k], a1 = rr[k] * rr[k] + ri[k] * ri[k];
        const float xr = lr[k] * rr[k] + li[k] * ri[k];
        q0[b] += a0;
        q1[b] += a1;
        qr[b] += xr;
        si[b] += li[k] * rr[k] - lr[k] * ri[k];
    }
    for (int b = 0; b < hybridBands_; ++b) {
        s0[b] += q0[b];
        s1[b] += q1[b];
        sr[b] += qr[b];
        p0_[b] += s0[b];
        p1_[b] += s1[b];
        xr_[b] += sr[b];
        xi_[b] += si[b];
        UpdateAntiPhase(b, s0[b], s1[b], sr[b]);
    }
    for (int k = 0; k < split_; ++k) outRe[k] = outIm[k] = 0.0f;
    for (int s = 0; s < numSub_; ++s) {
        const float sign = antiPhase_[subPar_[s]] ? -1.0f : 1.0f;
        const float o = 0.5f * (pl[s] + pr[s]) + kEpsilon;
        const float g = SmoothedGain(s, o, o + sign * cr[s]);
        outRe[subQmf_[s]] += g * (subRe_[0][s] + sign * subRe_[1][s]);
        outIm[subQmf_[s]] += g * (subIm_[0][s] + sign * subIm_[1][s]);
    }
    float gain[kMaxBands];
    for (int b = qmfPar_[split_]; b < hybridBands_; ++b) {
        const float sign = antiPhase_[b] ? -1.0f : 1.0f;
        const float o = 0.5f * (q0[b] + q1[b]) + kEpsilon;
        gain[b] = SmoothedGain(kMaxSubBands + b, o, o + sign * qr[b]);
    }
    for (int k = split_; k < kSbrQmfBands; ++k) {
        const int b = qmfPar_[k];
        const float g = gain[b], sign = antiPhase_[b] ? -1.0f : 1.0f;
        outRe[k] = g * (lr[k] + sign * rr[k]);
        outIm[k] = g * (li[k] + sign * ri[k]);
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
        const int realBands = hybridBands_ == 34 ? kRealCoherenceBands34 : kRealCoherenceBands20;
        const float c = (b * step < realBands ? cr : std::sqrt(cr * cr + ci * ci)) / norm;
        icc_[b] = c <= 1.0f ? std::sqrt(0.5f * (1.0f - c)) : 0.0f;
    }
}

void PsEncoder::Quantise() {
    for (int b = 0; b < numBands_; ++b) {
        iidIndex_[b] = NearestIidStep(kDbPerLog2 * iid_[b]);
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
    // icc_mode 0 and 1: 10 and 20 bands with mixing procedure A; iid_mode 3
    // and 4: the same bands on the fine IID grid.
    const int mode = numBands_ == 34 ? 2 : (numBands_ == 20 ? 1 : 0);
    Put(header, 1);
    if (header) {
        Put(iidEnable, 1);
        if (iidEnable) Put(mode + 3, 3);
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
            const HuffmanBook& df = kPsHuffmanBooks[p == 0 ? kPsBookIidFineDf : kPsBookIccDf];
            const HuffmanBook& dt = kPsHuffmanBooks[p == 0 ? kPsBookIidFineDt : kPsBookIccDt];
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
