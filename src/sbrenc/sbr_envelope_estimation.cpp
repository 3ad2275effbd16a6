#include "sbrenc/sbr_envelope_estimation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace aurivane {

namespace {

constexpr int kQmfPerTimeSlot = 2;
// A sinusoid's band keeps only part of its strongest QMF band: -4 dB when the
// band spans more than two QMF bands, -3 dB when it spans two.
constexpr float kSineWide = 0.39810726f;
constexpr float kSineTwo = 0.5f;

}  // namespace

void SbrEnvelopeEstimator::Init(const SbrEncoderBandTables& t, int ampResolution, int flagB) {
    nBands_[0] = t.nLow;
    nBands_[1] = t.nHigh;
    std::memcpy(table_[0], t.low, sizeof(t.low));
    std::memcpy(table_[1], t.high, sizeof(t.high));
    for (int j = 0; j < t.nLow; ++j) {
        int first = 0;
        while (first < t.nHigh && t.high[first] < t.low[j]) ++first;
        int end = first;
        while (end < t.nHigh && t.high[end + 1] <= t.low[j + 1]) ++end;
        lowToHighFirst_[j] = static_cast<uint8_t>(first);
        lowToHighEnd_[j] = static_cast<uint8_t>(end);
    }
    ampResolution_ = ampResolution;
    flagB_ = flagB;
}

void SbrEnvelopeEstimator::Estimate(const float (*energy)[kSbrQmfBands], const SbrFrameInfo& info,
                                    const SbrHarmonicsInfo& harmonics, SbrFrameValues* values) const {
    const int steps = 2 - ampResolution_;  // scalefactor steps per log2 unit
    for (int e = 0; e < info.numEnvelopes; ++e) {
        const int res = info.freqRes[e];
        const uint8_t* table = table_[res];
        int slot0 = kQmfPerTimeSlot * info.borders[e];
        int slot1 = kQmfPerTimeSlot * info.borders[e + 1];
        // The envelope before the short one stops early so the transient's
        // pre-echo does not raise it.
        if (e + 1 == info.shortEnvelope && info.shortEnvelope < info.numEnvelopes) slot1 -= 2;
        slot1 = std::max(slot1, slot0 + 1);
        const int nSlots = slot1 - slot0;
        int* sf = values->envelope[e];
        for (int j = 0; j < nBands_[res]; ++j) {
            int k0 = table[j];
            const int k1 = table[j + 1];
            // The lowest QMF band of the first band borders the core's
            // transition band; leave it out when the band is wide enough.
            if (j == 0 && k1 - k0 >= (res ? 2 : 3)) ++k0;
            const int width = k1 - k0;
            bool sine;
            if (res) {
                sine = harmonics.detected[j] != 0;
            } else {
                sine = false;
                for (int i = lowToHighFirst_[j]; i < lowToHighEnd_[j]; ++i) sine |= harmonics.detected[i] != 0;
            }
            float sum = 0.0f;
            int count;
            if (sine) {
                float peak = 0.0f;
                for (int k = k0; k < k1; ++k) {
                    float band = 0.0f;
                    for (int s = slot0; s < slot1; ++s) band += energy[s / kQmfPerTimeSlot][k];
                    peak = std::max(peak, band);
                }
                sum = peak * (width > 2 ? kSineWide : (width == 2 ? kSineTwo : 1.0f));
                count = nSlots;
            } else {
                for (int s = slot0; s < slot1; ++s) {
                    const float* row = energy[s / kQmfPerTimeSlot];
                    for (int k = k0; k < k1; ++k) sum += row[k];
                }
                count = nSlots * width;
            }
            const float value = std::max(0.0f, std::log2(sum / static_cast<float>(count * 64) + 1e-18f));
            sf[j] = static_cast<int>(static_cast<float>(steps) * value + 0.5f);
        }
        if (flagB_) {
            if (res)
                for (int j = 0; j < nBands_[1]; ++j)
                    sf[j] -= std::abs(static_cast<int>(harmonics.compensation[j])) * steps;
            for (int j = 0; j < nBands_[res]; ++j) sf[j] = std::max(0, sf[j]);
        }
    }
}

}  // namespace aurivane
