#include "sbrenc/sbr_missing_harmonics.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace aurivane {

namespace {

constexpr int kTransientOffset = 4;
constexpr float kDiffThreshold = 25.0f;      // tonality difference of a new sinusoid
constexpr float kTonalityThreshold = 15.0f;  // quota of a new sinusoid
constexpr float kMinGuide = 1.26f;
constexpr float kSfmSbr = 0.3f;
constexpr float kSfmOrig = 0.1f;
constexpr float kNeighbourDiff = 0.06666667f;  // 1 / 15

// Geometric over arithmetic mean; 1 for an empty or all-zero set.
float Flatness(const float* values, int count) {
    if (count <= 1) return 1.0f;
    float sum = 0.0f, logSum = 0.0f;
    bool zero = false;
    for (int i = 0; i < count; ++i) {
        sum += values[i];
        if (values[i] <= 0.0f) zero = true;
        else logSum += std::log(values[i]);
    }
    if (sum <= 0.0f) return 1.0f;
    const float mean = sum / static_cast<float>(count);
    const float geo = zero ? 0.0f : std::exp(logSum / static_cast<float>(count));
    return geo / mean;
}

int Steps(float diff) {
    const int s = static_cast<int>(std::fabs(std::log2(diff + 1e-18f)) + 0.5f);
    return s > 2 ? 2 : s;
}

}  // namespace

void SbrMissingHarmonics::Init(const SbrEncoderBandTables& tables, int detection) {
    tables_ = &tables;
    enabled_ = detection == 2;
    std::memset(guideDiff_, 0, sizeof(guideDiff_));
    std::memset(guideTonality_, 0, sizeof(guideTonality_));
    std::memset(prevCompensation_, 0, sizeof(prevCompensation_));
    prevTransientFlag_ = prevTransientFrame_ = prevTransientPos_ = 0;
}

void SbrMissingHarmonics::DetectEstimate(const SbrTonality& tonality, int row, bool allowNew, float* diff,
                                         int32_t* detected) {
    const SbrEncoderBandTables& t = *tables_;
    const float* q = tonality.QuotaRow(row);
    const int nHigh = t.nHigh;
    float origMax[kSbrMaxHighBands];
    float sfmOrig[kSbrMaxHighBands];
    float sfmSbr[kSbrMaxHighBands];
    for (int i = 0; i < nHigh; ++i) {
        const int lo = t.high[i], hi = t.high[i + 1];
        float src[kSbrQmfBands];
        int nSrc = 0;
        float oMax = 0.0f, sMax = 0.0f;
        for (int k = lo; k < hi; ++k) {
            oMax = std::max(oMax, q[k]);
            if (t.patchSource[k] != 255) {
                src[nSrc] = q[t.patchSource[k]];
                sMax = std::max(sMax, src[nSrc]);
                ++nSrc;
            }
        }
        origMax[i] = oMax;
        diff[i] = sMax < 1.0f ? oMax : oMax / sMax;
        sfmOrig[i] = Flatness(q + lo, hi - lo);
        sfmSbr[i] = hi - lo > 1 ? Flatness(src, nSrc) : 1.0f;
    }
    for (int i = 0; i < nHigh; ++i) {
        const int lo = t.high[i], hi = t.high[i + 1];
        bool hit = false;
        // Continuation of a sinusoid detected before.
        const float g = guideDiff_[i];
        const float diffThreshold = g == 0.0f ? kDiffThreshold : std::min(kDiffThreshold, std::max(kMinGuide, 0.5f * g));
        if (diff[i] > diffThreshold) hit = true;
        const float h = guideTonality_[i];
        if (h != 0.0f) {
            const float tonThreshold = std::min(kTonalityThreshold, std::max(kMinGuide, 0.3f * h));
            for (int k = lo; k < hi; ++k) hit |= q[k] > tonThreshold;
        }
        if (!hit && allowNew) {
            if (hi - lo > 1) {
                for (int k = lo; k < hi; ++k)
                    hit |= q[k] > kTonalityThreshold && sfmSbr[i] > kSfmSbr && sfmOrig[i] < kSfmOrig;
            } else if (i < nHigh - 1 && q[lo] > kTonalityThreshold) {
                hit = i == 0 ? diff[1] < kNeighbourDiff : (diff[i - 1] < kNeighbourDiff || diff[i + 1] < kNeighbourDiff);
            }
        }
        if (hit) {
            detected[i] = 1;
            guideDiff_[i] = diff[i];
            guideTonality_[i] = origMax[i];
        }
    }
}

void SbrMissingHarmonics::Detect(const SbrTonality& tonality, const SbrTransientInfo& transient,
                                 const SbrFrameInfo& frame, SbrHarmonicsInfo* info) {
    std::memset(info, 0, sizeof(*info));
    if (!enabled_) return;
    const SbrEncoderBandTables& t = *tables_;
    const int nHigh = t.nHigh;

    // New sinusoids are only accepted around transients, where the grid
    // gives the envelope the time resolution to follow them.
    const int tf = transient.flag != 0;
    const int tp = tf ? transient.position : 0;
    const int lastBorder = frame.borders[frame.numEnvelopes];
    const int transientFrame = tf ? (tp + kTransientOffset < lastBorder) : (!prevTransientFrame_ && prevTransientFlag_);
    const bool allowNew =
        transientFrame || (prevTransientFrame_ && std::abs(frame.borders[0] + 16 - prevTransientPos_ - kTransientOffset) < 9);
    prevTransientFlag_ = tf;
    prevTransientFrame_ = transientFrame;
    prevTransientPos_ = tp;

    float diff[2][kSbrMaxHighBands] = {};
    for (int e = 0; e < 2; ++e) DetectEstimate(tonality, kSbrTonalityNewRow + e, allowNew, diff[e], info->detected);

    // Peak QMF band (and its estimate) of each band over the frame.
    int peakBand[kSbrMaxHighBands];
    int peakRow[kSbrMaxHighBands];
    float peak[kSbrMaxHighBands];
    for (int i = 0; i < nHigh; ++i) {
        peak[i] = -1.0f;
        peakBand[i] = t.high[i];
        peakRow[i] = kSbrTonalityNewRow;
        for (int r = kSbrTonalityNewRow; r < kSbrTonalityNewRow + 2; ++r) {
            for (int k = t.high[i]; k < t.high[i + 1]; ++k) {
                if (tonality.Quota(r, k) > peak[i]) {
                    peak[i] = tonality.Quota(r, k);
                    peakBand[i] = k;
                    peakRow[i] = r;
                }
            }
        }
    }
    // One sinusoid straddling a band border is signalled once, in the band
    // holding its stronger peak.
    for (int i = 0; i + 1 < nHigh; ++i) {
        if (!info->detected[i] || !info->detected[i + 1]) continue;
        if (std::abs(peakBand[i] - peakBand[i + 1]) < 2) {
            if (peak[i + 1] > peak[i]) info->detected[i] = 0;
            else info->detected[i + 1] = 0;
        }
    }

    int32_t* comp = info->compensation;
    for (int i = 0; i < nHigh; ++i) {
        if (!info->detected[i]) continue;
        const int e = peakRow[i] - kSbrTonalityNewRow;
        const float* q = tonality.QuotaRow(peakRow[i]);
        const float* d = diff[e];
        const int idx = peakBand[i];
        const bool lowerFree = i > 0 && !info->detected[i - 1];
        const bool upperFree = i + 1 < nHigh && !info->detected[i + 1];
        if (idx == t.high[i] && lowerFree && 0.1f * q[idx] < q[idx - 1]) comp[i - 1] = -Steps(d[i - 1]);
        if (idx == t.high[i + 1] - 1 && upperFree && 0.1f * q[idx] < q[idx + 1]) comp[i + 1] = Steps(d[i + 1]);
        if (i > 0 && i < nHigh - 1) {
            // 0.75 diff[i] < 1 / diff[j], without dividing by a zero diff.
            if (lowerFree && 0.75f * d[i] * d[i - 1] < 1.0f) comp[i - 1] = -Steps(d[i - 1]);
            if (upperFree && 0.75f * d[i] * d[i + 1] < 1.0f) comp[i + 1] = Steps(d[i + 1]);
        }
    }
    for (int i = 0; i < nHigh; ++i) {
        if (!allowNew && prevCompensation_[i] == 0) comp[i] = 0;
        prevCompensation_[i] = comp[i];
        if (info->detected[i]) info->frameFlag = 1;
        else guideDiff_[i] = guideTonality_[i] = 0.0f;
    }
}

void SbrMissingHarmonics::Signal(const SbrHarmonicsInfo& info, int nHigh, SbrFrameValues* values) {
    values->addHarmonicFlag = info.frameFlag;
    for (int i = 0; i < kSbrMaxHighBands; ++i) values->addHarmonic[i] = i < nHigh && info.frameFlag ? info.detected[i] : 0;
}

}  // namespace aurivane
