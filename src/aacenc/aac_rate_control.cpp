// Rate control: reservoir, PE-driven threshold adaptation, budget loop.
#include "aacenc/aac_rate_control.h"

#include "aacenc/aac_bitstream_writer.h"

#include <algorithm>
#include <cmath>

namespace aurivane {

namespace {

constexpr int32_t kMaxBitsPerChannel = 6144;
constexpr int32_t kStaticBits = 3;  // END element, outside the channel element
constexpr float kBitsToPe = 1.18f;
constexpr float kMinFormFactor = 1e-38f;
constexpr float kEpsilon = 1.1754944e-38f;
constexpr float kPeSlope = 0.5593573f;   // below 3 bits of SNR the PE of a line bends
constexpr float kPeConst = 1.3219281f;

// PE of one band: pe, constant part and active lines.
inline void BandPe(float energy, float thr, float nl, float* pe, float* constPart, float* active) {
    if (!(energy > thr) || nl <= 0.0f) {
        *pe = *constPart = *active = 0.0f;
        return;
    }
    const float e = std::log2(energy);
    const float r = e - std::log2(thr);
    if (r >= 3.0f) {
        *pe = nl * r;
        *constPart = nl * e;
        *active = nl;
    } else {
        *pe = nl * (kPeSlope * r + kPeConst);
        *constPart = nl * (kPeSlope * e + kPeConst);
        *active = kPeSlope * nl;
    }
}

}  // namespace

int AacRateControl::Open(const AacRateConfig& c) {
    if (c.sampleRate <= 0 || c.bitRate < 0 || c.channels < 1 || c.channels > 2) return 1;
    bitRate_ = c.bitRate;
    sampleRate_ = c.sampleRate;
    maxBits_ = kMaxBitsPerChannel * c.channels;
    frameCapBits_ = maxBits_;
    if (c.maxFrameBytes > 0) frameCapBits_ = std::min(frameCapBits_, 8 * c.maxFrameBytes);
    averageBits_ = static_cast<int32_t>(static_cast<int64_t>(c.bitRate) * 1024 / c.sampleRate);
    // A frame needs room for its side information, the END element and alignment.
    if (frameCapBits_ < 120) return 1;
    maxBitResBits_ = std::max(0, (maxBits_ - averageBits_) & ~7);
    bitResLevel_ = maxBitResBits_;
    maxBitFac_ = 5400.0f * static_cast<float>(c.channels) / static_cast<float>(averageBits_ > 0 ? averageBits_ : 1);
    paddingRest_ = c.sampleRate;
    overflowBits_ = 0;

    longParams_ = {0.2f, 0.95f, -0.05f, 0.3f, 0.2f, 0.95f, -0.1f, 0.4f};
    shortParams_ = {0.2f, 0.75f, 0.0f, 0.2f, 0.2f, 0.75f, -0.05f, 0.5f};
    const float meanPe = 10240.0f * static_cast<float>(c.bandwidth) / (static_cast<float>(c.sampleRate) / 2.0f);
    peMin_ = 0.8f * meanPe;
    peMax_ = 1.2f * meanPe;
    const float chBitrate = static_cast<float>(c.bitRate) / static_cast<float>(c.channels);
    if (chBitrate > 20000.0f) {
        modifyMinSnr_ = 1;
        startSfbLong_ = 15;
        startSfbShort_ = 3;
    } else {
        modifyMinSnr_ = startSfbLong_ = startSfbShort_ = 0;
    }
    redRatioFac_ = 0.75f / (10.0f * std::log10(startRatio_ / maxRatio_));
    redOffs_ = 1.0f - redRatioFac_ * 10.0f * std::log10(startRatio_);
    peLast_ = 0.0f;
    dynBitsLast_ = 0;
    peCorrectionFactor_ = 1.0f;
    return 0;
}

int32_t AacRateControl::FrameBudget() {
    int32_t frameBytes = static_cast<int32_t>(static_cast<int64_t>(bitRate_) * 128 / sampleRate_);
    paddingRest_ -= static_cast<int32_t>(static_cast<int64_t>(bitRate_) * 128 % sampleRate_);
    if (paddingRest_ <= 0) {
        paddingRest_ += sampleRate_;
        ++frameBytes;
    }
    averageBits_ = 8 * frameBytes;
    elementAverageBits_ = averageBits_ - kStaticBits;
    return averageBits_;
}

float AacRateControl::BitResFactor(float pe, bool isShort, float avgBits) {
    const AdjThrParams& p = isShort ? shortParams_ : longParams_;
    const float fillLevel = static_cast<float>(bitResLevel_) / static_cast<float>(maxBits_);
    const float pex = std::clamp(pe, peMin_, peMax_);
    const float bitSave = p.maxBitSave - (p.maxBitSave - p.minBitSave) / (p.clipSaveHigh - p.clipSaveLow) *
                                             (std::clamp(fillLevel, p.clipSaveLow, p.clipSaveHigh) - p.clipSaveLow);
    const float spendLevel = std::clamp(fillLevel, p.clipSpendLow, p.clipSpendHigh) - p.clipSpendLow;
    const float bitSpend =
        p.minBitSpend + (p.maxBitSpend - p.minBitSpend) / (p.clipSpendHigh - p.clipSpendLow) * spendLevel;
    const float span = peMax_ - peMin_;
    float factor = 1.0f - bitSave + (span > 0.0f ? (bitSpend + bitSave) / span * (pex - peMin_) : 0.0f);
    factor = std::min(factor, static_cast<float>(bitResLevel_) / std::max(avgBits, 1.0f) + 0.7f);

    // Let the PE window follow the signal.
    if (pe > peMax_) {
        const float d = pe - peMax_;
        peMin_ += 0.3f * d;
        peMax_ += d;
    } else if (pe < peMin_) {
        const float d = peMin_ - pe;
        peMin_ -= 0.14f * d;
        peMax_ -= 0.07f * d;
    } else {
        peMin_ += 0.3f * (pe - peMin_);
        peMax_ -= 0.07f * (peMax_ - pe);
    }
    if (peMax_ - peMin_ < pe / 6.0f) {
        const float lo = std::max(pe - peMin_, 0.0f);
        const float hi = std::max(peMax_ - pe, 0.0f);
        const float sum = lo + hi;
        if (sum > 0.0f) {
            peMax_ = pe + pe / 6.0f * hi / sum;
            peMin_ = std::max(0.0f, pe - pe / 6.0f * lo / sum);
        }
    }
    return std::min(factor, maxBitFac_);
}

void AacRateControl::PeCorrection(float controlPe) {
    const float dynPe = kBitsToPe * static_cast<float>(dynBitsLast_);
    if (dynBitsLast_ >= 1 && controlPe > 0.7f * peLast_ && controlPe < 1.5f * peLast_ && peLast_ > 0.65f * dynPe &&
        peLast_ < 1.2f * dynPe) {
        const float ratio = peLast_ / dynPe;
        const float g = ratio < 1.0f ? std::clamp(ratio * 1.1f, 0.85f, 1.0f) : std::clamp(ratio * 0.9f, 1.0f, 1.15f);
        float f = peCorrectionFactor_;
        if ((g - 1.0f) * (f - 1.0f) < 0.0f) f = 1.0f;
        if (std::fabs(g - 1.0f) > std::fabs(f - 1.0f)) {
            f = 0.85f * f + 0.15f * g;
        } else {
            f = 0.7f * f + 0.3f * g;
        }
        peCorrectionFactor_ = std::clamp(f, 0.85f, 1.15f);
    } else {
        peCorrectionFactor_ = 1.0f;
    }
}

void AacRateControl::CalcPe(const PsyOutput& psy, float* pe, float* constPart, float* activeLines) const {
    float p = 0.0f, c = 0.0f, a = 0.0f;
    for (int b = 0; b < psy.sfbCnt; ++b) {
        p += bandPe_[b];
        c += bandConst_[b];
        a += bandActive_[b];
    }
    *pe = p;
    *constPart = c;
    *activeLines = a;
}

void AacRateControl::ReduceThresholds(const PsyOutput& psy, float target, float pe) {
    const int n = psy.sfbCnt;
    const bool isShort = psy.windowSequence == kAacShortWindow;
    const int perGroup = psy.sfbPerGroup;
    float thrExp[kAacMaxGroupedBands];
    for (int b = 0; b < n; ++b) thrExp[b] = std::sqrt(std::sqrt(thr_[b]));

    // Minimum-SNR adaptation: quiet bands may take relatively more noise.
    float avgEn = 0.0f;
    for (int b = 0; b < n; ++b) avgEn += psy.sfbEnergy[b];
    avgEn /= static_cast<float>(std::max(n, 1));
    for (int b = 0; b < n; ++b) {
        if (startRatio_ * psy.sfbEnergy[b] < avgEn) {
            const float ratioDb = 10.0f * std::log10((avgEn + kEpsilon) / (psy.sfbEnergy[b] + kEpsilon));
            const float red = redOffs_ + redRatioFac_ * ratioDb;
            minSnr_[b] = std::min(std::pow(minSnr_[b], std::max(red, maxRed_)), 0.8f);
        }
    }

    // Hole flags: a band masked by its neighbours may end up empty.
    for (int b = 0; b < n; ++b) {
        const int k = b % perGroup;
        const float en = psy.sfbEnergy[b];
        const float spread = psy.sfbSpreadEnergy[b] * (isShort ? 0.63f : 0.5f);
        if (modifyMinSnr_) {
            const float left = k > 0 ? psy.sfbEnergy[b - 1] : en;
            const float right = (k + 1 < perGroup && b + 1 < n) ? psy.sfbEnergy[b + 1] : en;
            const float h = 0.5f * (left + right);
            if (en > h) minSnr_[b] = std::min(minSnr_[b], std::max(0.8f * h / en, isShort ? 0.5f : 0.316f));
            if (en > 0.0f && h > 2.0f * en)
                minSnr_[b] = std::min({minSnr_[b] * h / (2.0f * en), 0.8f, 3.16f * minSnr_[b]});
        }
        hole_[b] = (spread > en || minSnr_[b] > 1.0f) ? kFree : kProtected;
    }

    // Raise the thresholds evenly in the fourth-root domain, at most twice.
    float redVal = 0.0f;
    for (int iteration = 0; iteration < 2; ++iteration) {
        float p = 0.0f, c = 0.0f, a = 0.0f, heldPe = 0.0f;
        for (int b = 0; b < n; ++b) {
            if (hole_[b] == kHeld) {
                heldPe += bandPe_[b];
                continue;
            }
            p += bandPe_[b];
            c += bandConst_[b];
            a += bandActive_[b];
        }
        if (a <= 0.0f) break;
        const float t = target - heldPe;
        redVal = std::max(0.0f, std::exp2((c - t) / (4.0f * a)) - std::exp2((c - p) / (4.0f * a)));
        for (int b = 0; b < n; ++b) {
            if (hole_[b] == kHeld || !(psy.sfbEnergy[b] > thr_[b])) continue;
            const float base = iteration == 0 ? thrExp[b] : std::sqrt(std::sqrt(thr_[b]));
            const float r = base + redVal;
            const float next = r * r * r * r;
            const float limit = psy.sfbEnergy[b] * minSnr_[b];
            if (next > limit && hole_[b] != kFree) {
                thr_[b] = std::max(thr_[b], limit);
                hole_[b] = kHeld;
            } else {
                thr_[b] = next;
            }
            BandPe(psy.sfbEnergy[b], thr_[b], relevantLines_[b], &bandPe_[b], &bandConst_[b], &bandActive_[b]);
        }
        CalcPe(psy, &pe, &c, &a);
        if (std::fabs(pe - target) <= 0.05f * target) break;
    }

    if (1.15f * target > pe) {
        // Close to the target: spread the remaining difference by active lines.
        const float diff = target - pe;
        float weightSum = 0.0f;
        float weight[kAacMaxGroupedBands];
        for (int b = 0; b < n; ++b) {
            weight[b] = 0.0f;
            if ((hole_[b] == kHeld && target <= pe) || bandActive_[b] <= 0.5f) continue;
            weight[b] = bandActive_[b] / (redVal + std::sqrt(std::sqrt(thr_[b])));
            weightSum += weight[b];
        }
        if (weightSum <= 0.0f) return;
        for (int b = 0; b < n; ++b) {
            if (weight[b] <= 0.0f) continue;
            const float share = diff * weight[b] / weightSum;
            const float next = thr_[b] * std::exp2(std::min(-share / bandActive_[b], 20.0f));
            const float limit = psy.sfbEnergy[b] * minSnr_[b];
            if (next > limit && hole_[b] == kProtected) {
                thr_[b] = std::max(thr_[b], limit);
                hole_[b] = kHeld;
            } else {
                thr_[b] = next;
            }
        }
        return;
    }

    // Still far above: give non-free bands 0.8 of their energy as noise, top down.
    const float limitPe = 1.05f * target;
    for (int b = n - 1; b >= 0 && pe > limitPe; --b) {
        if (hole_[b] == kFree || !(psy.sfbEnergy[b] > thr_[b])) continue;
        pe -= bandPe_[b];
        minSnr_[b] = 0.8f;
        thr_[b] = 0.8f * psy.sfbEnergy[b];
        BandPe(psy.sfbEnergy[b], thr_[b], relevantLines_[b], &bandPe_[b], &bandConst_[b], &bandActive_[b]);
        pe += bandPe_[b];
    }
    if (pe <= limitPe) return;
    // Then allow holes, the weakest bands first, from the top.
    const int startSfb = isShort ? startSfbShort_ : startSfbLong_;
    float mean = 0.0f, smallest = 0.0f;
    int count = 0;
    for (int b = 0; b < n; ++b) {
        if (b % perGroup < startSfb || hole_[b] == kFree || !(psy.sfbEnergy[b] > thr_[b])) continue;
        mean += psy.sfbEnergy[b];
        smallest = count == 0 ? psy.sfbEnergy[b] : std::min(smallest, psy.sfbEnergy[b]);
        ++count;
    }
    if (count == 0 || smallest <= 0.0f) return;
    mean /= static_cast<float>(count);
    for (int k = 0; k < 4 && pe > limitPe; ++k) {
        const float limit = smallest * std::pow(mean / smallest, static_cast<float>(2 * k + 1) / 7.0f);
        for (int b = n - 1; b >= 0 && pe > limitPe; --b) {
            if (b % perGroup < startSfb || hole_[b] == kFree || !(psy.sfbEnergy[b] > thr_[b])) continue;
            if (psy.sfbEnergy[b] < limit) {
                pe -= bandPe_[b];
                thr_[b] = psy.sfbEnergy[b];
                bandPe_[b] = bandConst_[b] = bandActive_[b] = 0.0f;
            }
        }
    }
}

void AacRateControl::AdaptThresholds(const PsyOutput& psy, float avgBits, float sideInfoBits, float* peOut) {
    for (int b = 0; b < psy.sfbCnt; ++b)
        BandPe(psy.sfbEnergy[b], thr_[b], relevantLines_[b], &bandPe_[b], &bandConst_[b], &bandActive_[b]);
    float pe, constPart, active;
    CalcPe(psy, &pe, &constPart, &active);
    *peOut = pe;
    const bool isShort = psy.windowSequence == kAacShortWindow;
    float factor = BitResFactor(pe + 5.0f * sideInfoBits, isShort, avgBits);
    // Never aim above what the frame may carry.
    const float capBits = static_cast<float>(frameCapBits_ - kStaticBits) - sideInfoBits - 7.0f;
    if (avgBits > 0.0f) factor = std::min(factor, std::max(capBits, 0.0f) / avgBits);
    const float desiredPe = kBitsToPe * avgBits * factor;
    PeCorrection(std::min(desiredPe, pe));
    const float target = desiredPe * peCorrectionFactor_;
    if (target < pe) ReduceThresholds(psy, target, pe);
    peLast_ = desiredPe;
}

void AacRateControl::CodeFrame(const PsyOutput& psy, int32_t sbrBytes, AacQuantiser* quantiser, AacFrameCoding* out) {
    const bool isShort = psy.windowSequence == kAacShortWindow;
    out->reservoirError = out->fillError = out->overMaxBits = out->ceilingHit = out->sbrDropped = 0;
    out->loopSteps = 0;
    if (bitResLevel_ < 0 || bitResLevel_ > maxBitResBits_) {
        // Never reached by the accounting below; recover instead of losing the frame.
        out->reservoirError = 1;
        bitResLevel_ = std::clamp(bitResLevel_, 0, maxBitResBits_);
    }

    out->staticBits = AacStaticBits(psy);
    const int32_t available = std::min(elementAverageBits_ + bitResLevel_, frameCapBits_ - kStaticBits);
    // Section side information of an all-zero spectrum: the least the element can cost.
    const int groups = psy.sfbPerGroup > 0 ? psy.sfbCnt / psy.sfbPerGroup : 1;
    const int32_t leastDynamic = psy.maxSfb > 0 ? groups * AacSectionSideInfo(psy.maxSfb, isShort) : 0;
    out->sbrBytes = sbrBytes;
    out->ancillaryBits = AacSbrPayloadBits(sbrBytes);
    if (out->staticBits + out->ancillaryBits + leastDynamic + 8 > available && sbrBytes > 0) {
        // Neither the reservoir nor the ceiling can carry this payload: the
        // frame goes without it rather than above its bounds.
        out->sbrBytes = 0;
        out->ancillaryBits = 0;
        out->sbrDropped = 1;
        out->ceilingHit = available < elementAverageBits_ + bitResLevel_ ? 1 : 0;
    }

    // Form factors and relevant lines of the bands above their threshold.
    for (int b = 0; b < psy.sfbCnt; ++b) {
        thr_[b] = psy.sfbThreshold[b];
        minSnr_[b] = psy.sfbMinSnr[b];
        formFactor_[b] = kMinFormFactor;
        relevantLines_[b] = 0.0f;
        const float energy = psy.sfbEnergy[b];
        if (!(energy > thr_[b])) continue;
        const int start = psy.sfbOffset[b];
        const int width = psy.sfbOffset[b + 1] - start;
        float ff = 0.0f;
        for (int i = start; i < start + width; ++i) ff += std::sqrt(std::fabs(psy.spectrum[i]));
        formFactor_[b] = kMinFormFactor + ff;
        relevantLines_[b] = formFactor_[b] / std::sqrt(std::sqrt(energy / static_cast<float>(width)));
    }

    const float sideInfo = static_cast<float>(out->staticBits + out->ancillaryBits);
    const float avgBits = static_cast<float>(elementAverageBits_) - sideInfo;
    AdaptThresholds(psy, avgBits, sideInfo, &out->pe);

    quantiser->Prepare(psy);
    const AacBandInfo bands{thr_, formFactor_, relevantLines_};
    quantiser->Estimate(psy, bands, out->scfOffset, &out->globalGain, out->quant);
    int smallestOffset = 0;
    for (int b = 0; b < psy.sfbCnt; ++b) smallestOffset = std::min<int>(smallestOffset, out->scfOffset[b]);

    // Budget loop: coarsen the global gain until the frame fits.
    const int32_t maxDynamic = available - out->staticBits - out->ancillaryBits - 7;
    const int32_t maxDynamicUncapped = elementAverageBits_ + bitResLevel_ - out->staticBits - out->ancillaryBits - 7;
    for (;;) {
        const int32_t maxVal = quantiser->QuantiseAll(psy, out->globalGain, out->scfOffset, out->quant, out->sfbMaxVal);
        int32_t dyn = AacBuildSections(out->quant, psy.sfbOffset, out->sfbMaxVal, psy.sfbCnt, psy.sfbPerGroup,
                                       psy.maxSfb, isShort, &out->sections);
        dyn += AacScalefactorBits(&out->sections, out->sfbMaxVal, out->scfOffset);
        out->dynamicBits = dyn;
        if (maxVal <= kAacMaxQuant && dyn < maxDynamic) break;
        if (maxVal <= kAacMaxQuant && dyn < maxDynamicUncapped) out->ceilingHit = 1;  // coarser only for the ceiling
        if (maxVal == 0 || out->globalGain - smallestOffset >= 151) {
            // Nothing left to coarsen: code the frame empty.
            for (int i = 0; i < kAacFrameLength; ++i) out->quant[i] = 0;
            for (int b = 0; b < psy.sfbCnt; ++b) out->sfbMaxVal[b] = 0;
            out->dynamicBits = AacBuildSections(out->quant, psy.sfbOffset, out->sfbMaxVal, psy.sfbCnt,
                                                psy.sfbPerGroup, psy.maxSfb, isShort, &out->sections);
            out->dynamicBits += AacScalefactorBits(&out->sections, out->sfbMaxVal, out->scfOffset);
            break;
        }
        ++out->globalGain;
        ++out->loopSteps;
    }
    dynBitsLast_ = out->dynamicBits;

    // Fill bits for what would overflow the reservoir, then fill' and alignment.
    const int32_t used = kStaticBits + out->staticBits + out->dynamicBits + out->ancillaryBits;
    int32_t fill = std::max(0, (elementAverageBits_ - out->staticBits - out->dynamicBits - out->ancillaryBits) -
                                   (maxBitResBits_ - bitResLevel_));
    out->fillError = AacFillAndAlignment(used, fill, &out->fillBits, &out->alignBits) ? 0 : 1;
    while (used + out->fillBits + out->alignBits > frameCapBits_ && fill > 0) {
        // The ceiling takes precedence over the reservoir: drop fill bits.
        out->ceilingHit = 1;
        fill = std::max(0, std::min(fill - 8, frameCapBits_ - used - 7));
        AacFillAndAlignment(used, fill, &out->fillBits, &out->alignBits);
    }
    out->totalBits = used + out->fillBits + out->alignBits;
    out->overMaxBits = out->totalBits > maxBits_ ? 1 : 0;
}

int AacRateControl::Commit(const AacFrameCoding& coded, int32_t writtenBits) {
    (void)coded;
    bitResLevel_ += averageBits_ - writtenBits;
    if (bitResLevel_ > maxBitResBits_) {
        // Only the ceiling can leave bits unwritten: they are lost to the stream.
        overflowBits_ += bitResLevel_ - maxBitResBits_;
        bitResLevel_ = maxBitResBits_;
        return coded.ceilingHit ? 0 : 1;
    }
    if (bitResLevel_ < 0) {
        bitResLevel_ = 0;
        return 1;
    }
    return 0;
}

}  // namespace aurivane
