#include "sbrenc/sbr_transient.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr int kSlots = kSbrQmfSlots;       // QMF slots per frame
constexpr int kTimeStep = 2;               // QMF slots per grid time slot
constexpr int kFrameRows = kSbrTimeSlots;  // energy rows per frame
// Energy of QMF slot j of the two-frame window (0..63): both slots of a row share it.
inline const float* SlotRow(const float (*energy)[kSbrQmfBands], int j) { return energy[j / kTimeStep]; }

}  // namespace

void SbrTransientDetector::Init(const SbrEncoderSettings& s, const SbrEncoderBandTables& t) {
    std::memset(thr_, 0, sizeof(thr_));
    std::memset(score_, 0, sizeof(score_));
    prevLowEnergy_ = 0.0f;
    meanSubbandEnergy_ = 0.0f;
    transientThreshold_ = static_cast<float>(s.transientThreshold);
    detectMode_ = s.transientDetectMode;

    int cutoffHz = s.transientCutoffHz;
    if (cutoffHz == 0) cutoffHz = std::min(5000, (t.k0 * t.fsSbr / 64 + 1) / 2);
    cutoffBand_ = t.fsSbr > 0 ? (cutoffHz * 256 / t.fsSbr + 1) / 2 : 0;

    // The splitting threshold scales with the frame duration and with the
    // bits per channel relative to the reference rate.
    float x = 2048.0f / static_cast<float>(t.fsSbr) - 0.01f;
    if (x < 0.0001f) x = 0.0001f;
    const float rateFactor = s.bitrate == 0 ? 1.0f
                                            : static_cast<float>(s.standardBitrate) * static_cast<float>(s.channels) /
                                                  static_cast<float>(s.bitrate);
    splitThreshold_ = 0.000075f / (x * x) * rateFactor;

    nHigh_ = t.nHigh;
    std::memcpy(high_, t.high, sizeof(high_));
}

void SbrTransientDetector::UpdateThresholds(const float (*energy)[kSbrQmfBands]) {
    // Rows 8..31, each counted for both of its QMF slots: 48 values per band.
    constexpr int kFirstRow = kFrameRows / 2, kValues = 2 * (2 * kFrameRows - kFirstRow);
    float mean[kSbrQmfBands] = {};
    for (int r = kFirstRow; r < 2 * kFrameRows; ++r)
        for (int k = 0; k < kSbrQmfBands; ++k) mean[k] += 2.0f * energy[r][k];
    for (int k = 0; k < kSbrQmfBands; ++k) mean[k] *= 1.0f / kValues;
    float var[kSbrQmfBands] = {};
    for (int r = kFirstRow; r < 2 * kFrameRows; ++r)
        for (int k = 0; k < kSbrQmfBands; ++k) {
            const float d = mean[k] - energy[r][k];
            var[k] += 2.0f * d * d;
        }
    for (int k = 0; k < kSbrQmfBands; ++k) {
        const float sd = std::sqrt(var[k] * (1.0f / (kValues - 1)));
        thr_[k] = std::max(kMinThreshold, 0.66f * thr_[k] + 0.34f * sd);
    }
}

void SbrTransientDetector::UpdateScores(const float (*energy)[kSbrQmfBands]) {
    // The line advances by one frame (32 QMF slots); its newest 48 values are rebuilt.
    std::memmove(score_, score_ + kSlots, (kScoreLength / 2) * sizeof(float));
    std::fill(score_ + kScoreLength / 2, score_ + kScoreLength, 0.0f);
    constexpr int e = kSlots / 2;
    float inv[kSbrQmfBands];
    for (int k = 0; k < kSbrQmfBands; ++k) inv[k] = 1.0f / thr_[k];
    for (int i = 0; i <= 44; ++i) {
        const int j = i + e;
        const float* up1 = SlotRow(energy, j + 1);
        const float* dn1 = SlotRow(energy, j - 1);
        const float* up2 = SlotRow(energy, j + 2);
        const float* dn2 = SlotRow(energy, j - 2);
        const float* up3 = SlotRow(energy, j + 3);
        const float* dn3 = SlotRow(energy, j - 3);
        float acc = 0.0f;
        for (int k = 0; k < kSbrQmfBands; ++k) {
            const float d1 = up1[k] - dn1[k];
            const float d2 = d1 + up2[k] - dn2[k];
            const float d3 = d2 + up3[k] - dn3[k];
            acc += (d1 > thr_[k] ? d1 * inv[k] - 1.0f : 0.0f) + (d2 > thr_[k] ? d2 * inv[k] - 1.0f : 0.0f) +
                   (d3 > thr_[k] ? d3 * inv[k] - 1.0f : 0.0f);
        }
        score_[kScoreLength / 2 + i] += acc;
    }
}

int SbrTransientDetector::Split(const float (*energy)[kSbrQmfBands]) {
    // Low band below k_x over rows 8..23 (QMF slots 16..47).
    const int kx = high_[0];
    float low = 1.0f;
    for (int r = kFrameRows / 2; r < kFrameRows / 2 + kFrameRows; ++r)
        for (int k = 0; k < kx; ++k) low += 2.0f * energy[r][k];
    const float lowAvg = 0.5f * (low + prevLowEnergy_);
    prevLowEnergy_ = low;

    float s[kFrameRows][kSbrMaxHighBands];
    float total = 1.0f;
    for (int t = 0; t < kFrameRows; ++t)
        for (int b = 0; b < nHigh_; ++b) {
            float sum = 0.0f;
            for (int k = high_[b]; k < high_[b + 1]; ++k) sum += energy[t][k] + energy[t][k];
            s[t][b] = sum;
            total += sum;
        }
    meanSubbandEnergy_ = nHigh_ > 0 ? total / static_cast<float>(nHigh_ * kFrameRows) : 0.0f;

    float measure = 0.0f;
    for (int b = 0; b < nHigh_; ++b) {
        float e1 = 8.0e6f, e2 = 8.0e6f;
        for (int t = 0; t < kFrameRows / 2; ++t) e1 += s[t][b];
        for (int t = kFrameRows / 2; t < kFrameRows; ++t) e2 += s[t][b];
        measure += std::sqrt((e1 + e2) / (lowAvg + total)) * std::fabs(std::log(e2 / e1));
    }
    return measure > splitThreshold_ ? 1 : 0;
}

SbrTransientInfo SbrTransientDetector::Process(const float (*energy)[kSbrQmfBands]) {
    UpdateThresholds(energy);
    UpdateScores(energy);
    // A transient is where the score line falls after a peak above the
    // threshold; the search starts 4 time slots into the window.
    constexpr int kStart = kSlots + 4 * kTimeStep;
    const float minPeak = transientThreshold_ / 64.0f;
    SbrTransientInfo info = {0, 0};
    for (int i = kStart; i < kStart + kSlots; ++i) {
        if (0.9f * score_[i - 1] > score_[i] && score_[i - 1] > minPeak) {
            info.position = (i - kStart) / kTimeStep;
            info.flag = 1;
            return info;
        }
    }
    info.position = Split(energy);
    return info;
}

}  // namespace aurivane
