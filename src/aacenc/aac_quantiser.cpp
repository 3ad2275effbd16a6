// Scalefactor estimation and quantisation.
#include "aacenc/aac_quantiser.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace aurivane {

namespace {

constexpr float kRounding = 0.4054f;  // dead zone of the AAC quantiser
constexpr int kMaxSpan = 60;          // largest scalefactor delta the book can code

}  // namespace

AacQuantiser::AacQuantiser() {
    for (int f = 0; f < 26; ++f) pow2Int_[f] = std::ldexp(1.0f, -3 * (f - 8));
    for (int k = 0; k < 16; ++k) pow2Frac_[k] = static_cast<float>(std::exp2(-3.0 * k / 16.0));
    for (int q = 0; q < kPow43Size; ++q) pow43_[q] = static_cast<float>(std::pow(static_cast<double>(q), 4.0 / 3.0));
    for (int i = 0; i < kAacFrameLength; ++i) {
        pow34_[i] = 0.0f;
        trial_[i] = 0;
    }
    for (float& m : maxAbs_) m = 0.0f;
}

float AacQuantiser::StepFactor(int a) const {
    const int f = std::clamp((a >> 4) + 8, 0, 25);  // floor(a / 16), also for negative a
    return pow2Int_[f] * pow2Frac_[a & 15];
}

float AacQuantiser::Pow43(int q) const {
    return q < kPow43Size ? pow43_[q] : static_cast<float>(q) * std::cbrt(static_cast<float>(q));
}

void AacQuantiser::Prepare(const PsyOutput& psy) {
    for (int i = 0; i < kAacFrameLength; ++i) pow34_[i] = std::sqrt(std::fabs(psy.spectrum[i]) * std::sqrt(std::fabs(psy.spectrum[i])));
    for (int b = 0; b < psy.sfbCnt; ++b) {
        float m = 0.0f;
        for (int i = psy.sfbOffset[b]; i < psy.sfbOffset[b + 1]; ++i) m = std::max(m, std::fabs(psy.spectrum[i]));
        maxAbs_[b] = m;
    }
}

int32_t AacQuantiser::QuantiseBand(const float* pow34, int width, int a, int16_t* q) const {
    const float factor = StepFactor(a);
    int32_t maxVal = 0;
    for (int i = 0; i < width; ++i) {
        const float v = std::min(pow34[i] * factor + kRounding, 32767.0f);
        const int32_t m = static_cast<int32_t>(v);
        q[i] = static_cast<int16_t>(m);
        maxVal = std::max(maxVal, m);
    }
    return maxVal;
}

float AacQuantiser::Distortion(const float* x, const float* pow34, int width, int s, int16_t* q) const {
    QuantiseBand(pow34, width, s, q);
    const float step = std::exp2(0.25f * static_cast<float>(s));
    float d = 0.0f;
    for (int i = 0; i < width; ++i) {
        const float e = std::fabs(x[i]) - step * Pow43(q[i]);
        d += e * e;
    }
    return d;
}

int32_t AacQuantiser::QuantiseAll(const PsyOutput& psy, int32_t globalGain, const int16_t* scfOffset, int16_t* quant,
                                  int32_t* sfbMaxVal) const {
    int32_t frameMax = 0;
    for (int b = 0; b < psy.sfbCnt; ++b) {
        const int start = psy.sfbOffset[b];
        const int width = psy.sfbOffset[b + 1] - start;
        int32_t m = 0;
        if (maxAbs_[b] > 0.0f) {
            m = QuantiseBand(pow34_ + start, width, globalGain - scfOffset[b], quant + start);
        } else {
            for (int i = 0; i < width; ++i) quant[start + i] = 0;
        }
        sfbMaxVal[b] = m;
        frameMax = std::max(frameMax, m);
    }
    // Signs follow the spectrum.
    for (int i = 0; i < kAacFrameLength; ++i)
        if (psy.spectrum[i] < 0.0f) quant[i] = static_cast<int16_t>(-quant[i]);
    return frameMax;
}

int AacQuantiser::Estimate(const PsyOutput& psy, const AacBandInfo& bands, int16_t* scfOffset, int32_t* globalGain,
                           int16_t* quant) {
    int scf[kAacMaxGroupedBands];
    int used = 0;
    int smallest = INT_MAX, largest = INT_MIN;
    for (int b = 0; b < psy.sfbCnt; ++b) {
        scf[b] = INT_MIN;
        const float thr = bands.threshold[b];
        if (maxAbs_[b] <= 0.0f || !(psy.sfbEnergy[b] > thr)) continue;
        const int start = psy.sfbOffset[b];
        const int width = psy.sfbOffset[b + 1] - start;
        const float* x = psy.spectrum + start;
        const float* p34 = pow34_ + start;
        int s = static_cast<int>(
            std::floor(8.8585f * (std::log10(6.75f * thr + 1e-30f) - std::log10(bands.formFactor[b]))));
        // Smallest step that keeps the largest line codable.
        int minScf = static_cast<int>(std::ceil(5.77078f * std::log(maxAbs_[b]) - 69.33295f));
        minScf = std::clamp(minScf, kMinStep, kMaxStep);
        s = std::clamp(std::max(s, minScf), kMinStep, kMaxStep);

        // Refinement by the band's distortion against its allowed noise.
        const float d0 = Distortion(x, p34, width, s, trial_);
        int best = s;
        float bestD = d0;
        if (d0 > 1.25f * thr) {
            for (int k = 1; k <= 3 && bestD > 1.25f * thr && s + k <= kMaxStep; ++k) {
                const float d = Distortion(x, p34, width, s + k, trial_);
                if (d < bestD) {
                    bestD = d;
                    best = s + k;
                }
            }
            if (bestD > 1.25f * thr && s > minScf) {
                const float d = Distortion(x, p34, width, s - 1, trial_);
                if (d < bestD) {
                    bestD = d;
                    best = s - 1;
                }
            }
        } else {
            const float allowance = std::min(thr, 1.25f * d0);
            for (int k = 1; k <= 3 && s + k <= kMaxStep; ++k) {
                if (Distortion(x, p34, width, s + k, trial_) < allowance) best = s + k;
            }
        }
        scf[b] = best;
        ++used;
        smallest = std::min(smallest, best);
        largest = std::max(largest, best);
    }

    if (used == 0) {
        *globalGain = 0;
        for (int b = 0; b < psy.sfbCnt; ++b) {
            scfOffset[b] = 0;
            maxAbs_[b] = 0.0f;
        }
        for (int i = 0; i < kAacFrameLength; ++i) quant[i] = 0;
        return 0;
    }
    const int g = std::min(smallest + kMaxSpan, largest);
    for (int b = 0; b < psy.sfbCnt; ++b) {
        if (scf[b] == INT_MIN) {
            // Unused: the band codes as zeros.
            scfOffset[b] = 0;
            maxAbs_[b] = 0.0f;
            continue;
        }
        scfOffset[b] = static_cast<int16_t>(g - std::min(scf[b], smallest + kMaxSpan));
    }
    *globalGain = g;
    int32_t dummy[kAacMaxGroupedBands];
    QuantiseAll(psy, g, scfOffset, quant, dummy);
    return used;
}

}  // namespace aurivane
