// Scalefactor estimation and quantisation.
#include "aacenc/aac_quantiser.h"

#include "dsp/aac_huffman_codes.h"
#include "dsp/aac_pow43.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace aurivane {

namespace {

constexpr float kRounding = 0.4054f;  // dead zone of the AAC quantiser
constexpr int kMaxSpan = 60;          // largest scalefactor delta the book can code
constexpr int kUnused = INT_MIN;

// PE of a line at log2 signal-to-noise d, bent below 3 bits.
inline float PeCurve(float d) { return d >= 3.0f ? d : 0.5593573f * d + 1.3219281f; }

inline int DeltaBits(int delta) {
    return (delta < -kMaxSpan || delta > kMaxSpan) ? 1000 : kAacScalefactorCodeLengths[delta + kMaxSpan];
}

}  // namespace

AacQuantiser::AacQuantiser() {
    for (int f = 0; f < 26; ++f) pow2Int_[f] = std::ldexp(1.0f, -3 * (f - 8));
    for (int k = 0; k < 16; ++k) pow2Frac_[k] = static_cast<float>(std::exp2(-3.0 * k / 16.0));
    for (int i = 0; i < kAacFrameLength; ++i) {
        pow34_[i] = 0.0f;
        absX_[i] = 0.0f;
    }
    for (float& m : maxAbs_) m = 0.0f;
}

float AacQuantiser::StepFactor(int a) const {
    const int f = std::clamp((a >> 4) + 8, 0, 25);  // floor(a / 16), also for negative a
    return pow2Int_[f] * pow2Frac_[a & 15];
}

void AacQuantiser::Prepare(const PsyOutput& psy) {
    for (int i = 0; i < kAacFrameLength; ++i) {
        const float a = std::fabs(psy.spectrum[i]);
        absX_[i] = a;
        pow34_[i] = std::sqrt(a * std::sqrt(a));
    }
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

float AacQuantiser::Distortion(const float* absX, const float* pow34, int width, int s) const {
    // Quantise and reconstruct in one pass; magnitudes past the table are
    // past 8191 too, which the budget loop refuses anyway.
    const float factor = StepFactor(s);
    const float step = std::exp2(0.25f * static_cast<float>(s));
    constexpr float kLast = static_cast<float>(kAacPow43Size - 1);
    const float* pow43 = AacPow43Table().valueFloat;
    float d = 0.0f;
    for (int i = 0; i < width; ++i) {
        const int q = static_cast<int>(std::min(pow34[i] * factor + kRounding, kLast));
        const float e = absX[i] - step * pow43[q];
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
        scf[b] = kUnused;
        const float thr = bands.threshold[b];
        if (maxAbs_[b] <= 0.0f || !(psy.sfbEnergy[b] > thr)) continue;
        const int start = psy.sfbOffset[b];
        const int width = psy.sfbOffset[b + 1] - start;
        const float* x = absX_ + start;
        const float* p34 = pow34_ + start;
        int s = static_cast<int>(
            std::floor(8.8585f * (std::log10(6.75f * thr + 1e-30f) - std::log10(bands.formFactor[b]))));
        // Smallest step that keeps the largest line codable.
        int minScf = static_cast<int>(std::ceil(5.77078f * std::log(maxAbs_[b]) - 69.33295f));
        minScf = std::clamp(minScf, kMinStep, kMaxStep);
        s = std::clamp(std::max(s, minScf), kMinStep, kMaxStep);

        // Refinement by the band's distortion against its allowed noise.
        const float d0 = Distortion(x, p34, width, s);
        int best = s;
        int lowest = s;  // lowest step whose distortion is known
        float bestD = d0;
        if (d0 > 1.25f * thr) {
            for (int k = 1; k <= 3 && bestD > 1.25f * thr && s + k <= kMaxStep; ++k) {
                const float d = Distortion(x, p34, width, s + k);
                if (d < bestD) {
                    bestD = d;
                    best = s + k;
                }
            }
            if (bestD > 1.25f * thr && s > minScf) {
                const float d = Distortion(x, p34, width, s - 1);
                lowest = s - 1;
                if (d < bestD) {
                    bestD = d;
                    best = s - 1;
                }
            }
        } else {
            const float allowance = std::min(thr, 1.25f * d0);
            for (int k = 1; k <= 3 && s + k <= kMaxStep; ++k) {
                if (Distortion(x, p34, width, s + k) < allowance) best = s + k;
            }
        }
        scf[b] = best;
        distortion_[b] = bestD;
        minScf_[b] = minScf;
        lowestTried_[b] = lowest;
        peLines_[b] = 0.7f * bands.relevantLines[b];
        logRatio_[b] = std::log2(6.75f * psy.sfbEnergy[b] / bands.formFactor[b]);
        ++used;
        smallest = std::min(smallest, best);
        largest = std::max(largest, best);
    }

    if (used > 1) {
        Smooth(psy, bands, scf);
        smallest = INT_MAX;
        largest = INT_MIN;
        for (int b = 0; b < psy.sfbCnt; ++b) {
            if (scf[b] == kUnused) continue;
            smallest = std::min(smallest, scf[b]);
            largest = std::max(largest, scf[b]);
        }
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
        if (scf[b] == kUnused) {
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

float AacQuantiser::BandDistortion(const PsyOutput& psy, int band, int s) {
    const int start = psy.sfbOffset[band];
    return Distortion(absX_ + start, pow34_ + start, psy.sfbOffset[band + 1] - start, s);
}

float AacQuantiser::PeAt(int band, int s) const {
    return peLines_[band] * PeCurve(logRatio_[band] - 0.375f * static_cast<float>(s));
}

// Scalefactor bits of the deltas into and out of `band` when it takes s.
int AacQuantiser::ScfBits(const int* scf, int previous, int next, int s) const {
    int bits = 0;
    if (previous >= 0) bits += DeltaBits(s - scf[previous]);
    if (next >= 0) bits += DeltaBits(scf[next] - s);
    return bits;
}

void AacQuantiser::Smooth(const PsyOutput& psy, const AacBandInfo& bands, int* scf) {
    AssimilateSingleBands(psy, scf);
    AssimilateRuns(psy, bands, scf);
}

// A band whose step is coarser than both used neighbours moves towards them
// when the PE it costs is repaid by shorter scalefactor codes and its
// distortion falls.
void AacQuantiser::AssimilateSingleBands(const PsyOutput& psy, int* scf) {
    const int n = psy.sfbCnt;
    int lastPrev[kAacMaxGroupedBands], lastNext[kAacMaxGroupedBands];
    float lastDeltaPe[kAacMaxGroupedBands];
    for (int b = 0; b < n; ++b) {
        lastPrev[b] = lastNext[b] = kUnused;
        lastDeltaPe[b] = 0.0f;
    }
    float deltaPe = 0.0f;
    bool restart = true;
    for (int guard = 0; restart && guard < 4 * n; ++guard) {
        restart = false;
        int previous = -1;
        for (int b = 0; b < n && !restart; ++b) {
            if (scf[b] == kUnused) continue;
            int next = -1;
            for (int k = b + 1; k < n; ++k)
                if (scf[k] != kUnused) {
                    next = k;
                    break;
                }
            const int prevBand = previous;  // -1 at the lower edge
            const int nextBand = next;      // -1 at the upper edge
            previous = b;
            // An edge band takes its one neighbour for both.
            const int p = prevBand >= 0 ? prevBand : nextBand;
            const int q = nextBand >= 0 ? nextBand : prevBand;
            if (p < 0) continue;
            const int s = scf[b];
            const int lo = std::max(std::min(scf[p], scf[q]), minScf_[b]);
            const int hi = std::max(scf[p], scf[q]);
            if (!(lo < s && s <= lo + kMaxSpan && s >= hi - kMaxSpan)) continue;
            if (scf[p] == lastPrev[b] && scf[q] == lastNext[b] && !(deltaPe < lastDeltaPe[b])) continue;
            const float base = PeAt(b, s) + static_cast<float>(ScfBits(scf, prevBand, nextBand, s));
            bool lowering = true;
            int chosen = s;
            float chosenD = distortion_[b];
            for (int t = s - 1; t >= lo; --t) {
                if (t >= lowestTried_[b] || t < hi - kMaxSpan) continue;
                const float cost =
                    PeAt(b, t) + static_cast<float>(ScfBits(scf, prevBand, nextBand, t)) + deltaPe - base;
                if (cost < 10.0f) {
                    const float d = BandDistortion(psy, b, t);
                    if (d < chosenD) {
                        chosen = t;
                        chosenD = d;
                    }
                    if (lowering) lowestTried_[b] = t;
                } else {
                    lowering = false;
                }
            }
            lastPrev[b] = scf[p];
            lastNext[b] = scf[q];
            lastDeltaPe[b] = deltaPe;
            if (chosen != s) {
                deltaPe += PeAt(b, chosen) + static_cast<float>(ScfBits(scf, prevBand, nextBand, chosen)) - base;
                scf[b] = chosen;
                distortion_[b] = chosenD;
                restart = true;
            }
        }
    }
}

// Runs of bands coarser than a target step t join t when the scalefactor
// bits saved pay for the PE and every band still meets its threshold.
void AacQuantiser::AssimilateRuns(const PsyOutput& psy, const AacBandInfo& bands, int* scf) {
    const int n = psy.sfbCnt;
    int smallest = INT_MAX, largest = INT_MIN;
    for (int b = 0; b < n; ++b) {
        if (scf[b] == kUnused) continue;
        smallest = std::min(smallest, scf[b]);
        largest = std::max(largest, scf[b]);
    }
    if (smallest == INT_MAX || largest - smallest > kMaxSpan) return;
    float accepted = 0.0f;
    for (int t = largest - 1; t > smallest; --t) {
        int b = 0;
        int before = -1;  // last used band before the run
        while (b < n) {
            if (scf[b] == kUnused) {
                ++b;
                continue;
            }
            if (scf[b] <= t) {
                before = b;
                ++b;
                continue;
            }
            // A run of used bands above t, unused bands in between.
            int end = b, last = b;
            bool allowed = true;
            while (end < n && (scf[end] == kUnused || scf[end] > t)) {
                if (scf[end] != kUnused) {
                    last = end;
                    if (t < minScf_[end]) allowed = false;
                }
                ++end;
            }
            const int after = end < n ? end : -1;
            if (allowed) {
                int bitsNow = 0, bitsThen = 0, prev = before;
                float peChange = 0.0f;
                for (int k = b; k <= last; ++k) {
                    if (scf[k] == kUnused) continue;
                    if (prev >= 0) {
                        bitsNow += DeltaBits(scf[k] - scf[prev]);
                        bitsThen += DeltaBits(t - (prev >= b ? t : scf[prev]));
                    }
                    peChange += PeAt(k, t) - PeAt(k, scf[k]);
                    prev = k;
                }
                if (after >= 0) {
                    bitsNow += DeltaBits(scf[after] - scf[last]);
                    bitsThen += DeltaBits(scf[after] - t);
                }
                const float change = static_cast<float>(bitsThen - bitsNow) + peChange + accepted;
                if (change < 10.0f) {
                    float sumNow = 0.0f, sumThen = 0.0f;
                    float trial[kAacMaxGroupedBands];
                    bool fits = true;
                    for (int k = b; k <= last && fits; ++k) {
                        if (scf[k] == kUnused) continue;
                        trial[k] = BandDistortion(psy, k, t);
                        if (trial[k] > bands.threshold[k]) fits = false;
                        sumNow += distortion_[k];
                        sumThen += trial[k];
                    }
                    if (fits && sumThen < sumNow) {
                        for (int k = b; k <= last; ++k) {
                            if (scf[k] == kUnused) continue;
                            scf[k] = t;
                            distortion_[k] = trial[k];
                        }
                        accepted = change;
                    }
                }
            }
            before = last;
            b = end;
        }
    }
}

}  // namespace aurivane
