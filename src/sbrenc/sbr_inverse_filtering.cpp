#include "sbrenc/sbr_inverse_filtering.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr float kSmoothing[3] = {0.125f, 0.375f, 0.5f};  // oldest to newest
constexpr float kPatThresholds[4] = {1.0f, 10.0f, 14.0f, 19.0f};
constexpr float kSigThresholds[4] = {0.0f, 3.0f, 7.0f, 10.0f};
constexpr float kEnergyThresholds[4] = {25.0f, 30.0f, 35.0f, 40.0f};
constexpr int kEnergyOffset[5] = {-4, -3, -2, -1, 0};
constexpr int kLateTransientOffset = 4;

// [patched region][signal region]
constexpr int kMusic[5][5] = {{2, 1, 0, 0, 0}, {2, 1, 0, 0, 0}, {3, 2, 1, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}};
constexpr int kMusicLate[5][5] = {{1, 1, 1, 0, 0}, {1, 1, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}};
constexpr int kSpeech[5][5] = {{2, 2, 1, 0, 0}, {2, 2, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}};

// Region 0 below t[0], i in [t[i-1], t[i]), 4 at or above t[3]. With a
// previous region the region's own borders move outwards by 1.
int Region(float value, const float (&thresholds)[4], int previous) {
    float t[4];
    std::memcpy(t, thresholds, sizeof(t));
    if (previous >= 0) {
        if (previous < 4) t[previous] += 1.0f;
        if (previous > 0) t[previous - 1] -= 1.0f;
    }
    int region = 0;
    while (region < 4 && value >= t[region]) ++region;
    return region;
}

}  // namespace

void SbrInverseFiltering::Init(const SbrEncoderBandTables& tables, int speechMode, int mode) {
    tables_ = &tables;
    speech_ = speechMode != 0;
    mode_ = mode;
    lateTransient_ = false;
    std::memset(prevSigRegion_, 0, sizeof(prevSigRegion_));
    std::memset(prevPatRegion_, 0, sizeof(prevPatRegion_));
    std::memset(sigHistory_, 0, sizeof(sigHistory_));
    std::memset(patHistory_, 0, sizeof(patHistory_));
}

void SbrInverseFiltering::Detect(const SbrTonality& tonality, const SbrTransientInfo& transient,
                                 const SbrFrameInfo& frame, int32_t invfMode[kSbrMaxNoiseBands]) {
    const SbrEncoderBandTables& t = *tables_;
    const int lastBorder = frame.borders[frame.numEnvelopes];
    lateTransient_ = transient.flag != 0 && transient.position + kLateTransientOffset >= lastBorder;
    if (mode_ != 4) {
        for (int q = 0; q < t.nNoise; ++q) invfMode[q] = mode_ & 3;
        return;
    }
    const int(*table)[5] = speech_ ? kSpeech : (lateTransient_ ? kMusicLate : kMusic);
    const int row0 = kSbrTonalityNewRow;
    const float meanEnergy = 0.5f * (tonality.Energy(row0) + tonality.Energy(row0 + 1));
    const float energy = 1.5f * std::log2(meanEnergy + 1e-18f);
    const int energyRegion = Region(energy, kEnergyThresholds, -1);
    for (int q = 0; q < t.nNoise; ++q) {
        float sig = 0.0f, pat = 0.0f;
        int count = 0, patCount = 0;
        for (int k = t.noise[q]; k < t.noise[q + 1]; ++k) {
            for (int r = row0; r < row0 + 2; ++r) {
                sig += tonality.Quota(r, k);
                const int source = t.patchSource[k];
                if (source != 255) {
                    pat += tonality.Quota(r, source);
                    ++patCount;
                }
            }
            count += 2;
        }
        sig = count ? sig / static_cast<float>(count) : 0.0f;
        pat = patCount ? pat / static_cast<float>(patCount) : 0.0f;
        float* sh = sigHistory_[q];
        float* ph = patHistory_[q];
        sh[0] = sh[1];
        sh[1] = sh[2];
        sh[2] = sig;
        ph[0] = ph[1];
        ph[1] = ph[2];
        ph[2] = pat;
        const float sigSmooth = kSmoothing[0] * sh[0] + kSmoothing[1] * sh[1] + kSmoothing[2] * sh[2];
        const float patSmooth = kSmoothing[0] * ph[0] + kSmoothing[1] * ph[1] + kSmoothing[2] * ph[2];
        const int sigRegion = Region(3.0f * std::log2(sigSmooth + 1e-18f), kSigThresholds, prevSigRegion_[q]);
        const int patRegion = Region(3.0f * std::log2(patSmooth + 1e-18f), kPatThresholds, prevPatRegion_[q]);
        prevSigRegion_[q] = sigRegion;
        prevPatRegion_[q] = patRegion;
        const int level = table[patRegion][sigRegion] + kEnergyOffset[energyRegion];
        invfMode[q] = level < 0 ? 0 : level;
    }
}

}  // namespace aurivane
