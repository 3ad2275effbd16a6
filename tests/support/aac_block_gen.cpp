#include "support/aac_block_gen.h"

#include <algorithm>
#include <stdexcept>

#include "dsp/aac_huffman_codes.h"

namespace aurivane::testgen {

HuffCode ScalefactorCode(int index) {
    return {kAacScalefactorCodewords[index], kAacScalefactorCodeLengths[index]};
}

HuffCode SpectralCode(int book, int index) {
    return {kAacSpectralCodewords[book][index], kAacSpectralCodeLengths[book][index]};
}

void BitWriter::Put(uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        if ((bits_ & 7) == 0) bytes_.push_back(0);
        if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bits_ & 7));
        ++bits_;
    }
}

void BitWriter::AlignZero() {
    while (bits_ & 7) Put(0, 1);
}

namespace {

// TNS_MAX_BANDS of the low-complexity profile, long and short windows, by
// sampling_frequency_index.
constexpr int kTnsMaxBandsLong[12] = {31, 31, 34, 40, 42, 51, 46, 46, 42, 42, 42, 39};
constexpr int kTnsMaxBandsShort[12] = {9, 9, 10, 14, 14, 14, 14, 14, 14, 14, 14, 14};
constexpr int kTnsMaxOrderLong = 12;  // low-complexity limits
constexpr int kTnsMaxOrderShort = 7;

constexpr int kBookDimension[12] = {0, 4, 4, 4, 4, 2, 2, 2, 2, 2, 2, 2};
constexpr int kBookLav[12] = {0, 1, 1, 2, 2, 4, 4, 7, 7, 12, 12, 16};
constexpr bool kBookSigned[12] = {false, true, true, false, false, true, true, false, false, false, false, false};

constexpr int kNoiseBook = 13;
constexpr int kIntensityBook2 = 14;  // INTENSITY_HCB2: out of phase
constexpr int kIntensityBook = 15;

}  // namespace

struct AacBlockGenerator::Ics {
    struct Section {
        int cb, start, end;
    };
    int windowSequence = 0;
    int windowShape = 0;
    int maxSfb = 0;
    int grouping = 0;  // scale_factor_grouping bits
    int groups = 1;
    int groupLen[8] = {1};
    int numBands = 0;
    const int* offsets = nullptr;
    int bandCb[8][64] = {};
    Section sections[8][64] = {};
    int sectionCount[8] = {};
    int globalGain = 0;
    int value[8][64] = {};  // scalefactor, intensity position or noise energy
    int pulseCount = 0;
    int pulseStart = 0;
    int pulseOffset[4] = {};
    int pulseAmp[4] = {};
    bool tnsPresent = false;
    int nFilt[8] = {};
    int coefRes[8] = {};
    int length[8][3] = {};
    int order[8][3] = {};
    int direction[8][3] = {};
    int compress[8][3] = {};
    int coef[8][3][32] = {};

    bool Short() const { return windowSequence == kEightShort; }
    int Windows() const { return Short() ? 8 : 1; }
};

AacBlockGenerator::AacBlockGenerator(uint32_t seed, const BlockGenOptions& options)
    : rng_(seed), opt_(options) {
    if (opt_.samplingIndex < 0 || opt_.samplingIndex > 11 || opt_.channels < 1 || opt_.channels > 2) {
        throw std::invalid_argument("unsupported block generator options");
    }
    const SwbTables& t = kSwbBySamplingIndex[opt_.samplingIndex];
    longOffsets_ = t.longOffsets;
    shortOffsets_ = t.shortOffsets;
    longBands_ = t.longBands;
    shortBands_ = t.shortBands;
    tnsMaxLong_ = kTnsMaxBandsLong[opt_.samplingIndex];
    tnsMaxShort_ = kTnsMaxBandsShort[opt_.samplingIndex];
}

int AacBlockGenerator::NextWindowSequence() {
    if (opt_.forcedWindow >= 0) return opt_.forcedWindow;
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double r = u(rng_);
    // Only transitions whose overlapping window halves match.
    switch (prevSequence_) {
        case kOnlyLong: return r < 0.6 ? kOnlyLong : kLongStart;
        case kLongStart: return r < 0.8 ? kEightShort : kLongStop;
        case kEightShort: return r < 0.6 ? kEightShort : kLongStop;
        default: return r < 0.5 ? kOnlyLong : kLongStart;
    }
}

void AacBlockGenerator::ChooseIcsInfo(Ics* ics, int /*channel*/) {
    std::uniform_int_distribution<int> bit(0, 1);
    ics->windowShape = bit(rng_);
    if (ics->Short()) {
        ics->numBands = shortBands_;
        ics->offsets = shortOffsets_;
        ics->maxSfb = std::uniform_int_distribution<int>(0, shortBands_)(rng_);
        if (bit(rng_)) ics->maxSfb = shortBands_ - std::uniform_int_distribution<int>(0, 2)(rng_);
        // All-in-one and one-per-window groupings are rare in uniform draws.
        const int g = std::uniform_int_distribution<int>(0, 9)(rng_);
        ics->grouping = g == 0 ? 127 : (g == 1 ? 0 : std::uniform_int_distribution<int>(0, 127)(rng_));
        ics->groups = 1;
        ics->groupLen[0] = 1;
        for (int i = 6; i >= 0; --i) {
            if ((ics->grouping >> i) & 1) {
                ++ics->groupLen[ics->groups - 1];
            } else {
                ics->groupLen[ics->groups++] = 1;
            }
        }
    } else {
        ics->numBands = longBands_;
        ics->offsets = longOffsets_;
        ics->maxSfb = std::uniform_int_distribution<int>(0, longBands_)(rng_);
        if (bit(rng_)) ics->maxSfb = longBands_ - std::uniform_int_distribution<int>(0, 4)(rng_);
        ics->groups = 1;
        ics->groupLen[0] = 1;
    }
}

void AacBlockGenerator::ChooseSections(Ics* ics, int channel, bool commonWindow) {
    std::vector<int> books = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11};
    if (opt_.pns) books.insert(books.end(), {kNoiseBook, kNoiseBook});
    if (opt_.intensity && channel == 1 && commonWindow) {
        books.insert(books.end(), {kIntensityBook, kIntensityBook2});
    }
    std::uniform_int_distribution<int> pick(0, static_cast<int>(books.size()) - 1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int g = 0; g < ics->groups; ++g) {
        int n = 0;
        for (int start = 0; start < ics->maxSfb;) {
            const int left = ics->maxSfb - start;
            // Mostly short sections; now and then one long enough to need
            // the section-length escape.
            int len = u(rng_) < 0.15 ? left : std::uniform_int_distribution<int>(1, std::min(left, 6))(rng_);
            const int cb = books[pick(rng_)];
            ics->sections[g][n++] = {cb, start, start + len};
            for (int b = start; b < start + len; ++b) ics->bandCb[g][b] = cb;
            start += len;
        }
        ics->sectionCount[g] = n;
        for (int b = ics->maxSfb; b < 64; ++b) ics->bandCb[g][b] = 0;
    }

    // Scalefactors, intensity positions and noise energies as the decoder
    // accumulates them; deltas stay within the scalefactor book (+-60). Noise
    // energies sit 100 below scalefactors of the same level.
    std::uniform_int_distribution<int> small(-4, 4);
    std::uniform_int_distribution<int> wide(-60, 60);
    ics->globalGain = opt_.levelGain + std::uniform_int_distribution<int>(-6, 6)(rng_);
    int sf = ics->globalGain;
    int position = 0;
    int energy = ics->globalGain - 90;
    bool firstNoise = true;
    const int sfLow = std::max(0, opt_.levelGain - 50);
    const int sfHigh = std::min(255, opt_.levelGain + 12);
    for (int g = 0; g < ics->groups; ++g) {
        for (int b = 0; b < ics->maxSfb; ++b) {
            const int cb = ics->bandCb[g][b];
            if (cb == 0) continue;
            int delta = u(rng_) < 0.05 ? wide(rng_) : small(rng_);
            if (cb == kIntensityBook || cb == kIntensityBook2) {
                position = std::clamp(position + delta, -4, 24);  // gain 0.5^(pos/4)
                ics->value[g][b] = position;
            } else if (cb == kNoiseBook) {
                if (firstNoise) {
                    // The first energy is sent as a 9-bit offset (value - 256).
                    energy = opt_.levelGain - 92 + small(rng_);
                    firstNoise = false;
                } else {
                    energy = std::clamp(energy + delta, opt_.levelGain - 130, opt_.levelGain - 88);
                }
                ics->value[g][b] = energy;
            } else {
                // Drift back towards the level; escape magnitudes reach
                // 8191^(4/3), so those bands sit lower and the 16-bit output
                // rarely clips.
                const int target = (cb == 11 && opt_.escapes) ? opt_.levelGain - 24 : opt_.levelGain;
                if (delta == 0 || std::abs(delta) < 5) delta += (target - sf) / 2;
                sf = std::clamp(sf + std::clamp(delta, -60, 60), sfLow, sfHigh);
                ics->value[g][b] = sf;
            }
        }
    }

    ics->pulseCount = 0;
    if (opt_.pulses && !ics->Short() && u(rng_) < 0.35) {
        std::vector<int> spectral;
        for (int b = 0; b < ics->maxSfb; ++b) {
            if (ics->bandCb[0][b] >= 1 && ics->bandCb[0][b] <= 11) spectral.push_back(b);
        }
        if (!spectral.empty()) {
            ics->pulseStart = spectral[std::uniform_int_distribution<int>(0, static_cast<int>(spectral.size()) - 1)(rng_)];
            int pos = ics->offsets[ics->pulseStart];
            const int want = std::uniform_int_distribution<int>(1, 4)(rng_);
            for (int k = 0; k < want; ++k) {
                const int offset = std::uniform_int_distribution<int>(0, 31)(rng_);
                const int at = pos + offset;
                // Pulses only on lines of bands that carry spectral data.
                int band = 0;
                while (band < ics->maxSfb && ics->offsets[band + 1] <= at) ++band;
                if (band >= ics->maxSfb || ics->bandCb[0][band] < 1 || ics->bandCb[0][band] > 11) break;
                ics->pulseOffset[k] = offset;
                ics->pulseAmp[k] = std::uniform_int_distribution<int>(0, 15)(rng_);
                pos = at;
                ics->pulseCount = k + 1;
            }
        }
    }

    ics->tnsPresent = opt_.tns && u(rng_) < 0.5;
    if (ics->tnsPresent) {
        const int maxOrder = std::min(opt_.tnsMaxOrder, ics->Short() ? kTnsMaxOrderShort : kTnsMaxOrderLong);
        for (int w = 0; w < ics->Windows(); ++w) {
            ics->nFilt[w] = std::uniform_int_distribution<int>(0, ics->Short() ? 1 : 3)(rng_);
            ics->coefRes[w] = std::uniform_int_distribution<int>(0, 1)(rng_);
            int bandsLeft = ics->numBands;
            for (int f = 0; f < ics->nFilt[w]; ++f) {
                const int maxLen = std::min(bandsLeft, ics->Short() ? 15 : 63);
                const int len = std::uniform_int_distribution<int>(0, maxLen)(rng_);
                bandsLeft -= len;
                ics->length[w][f] = len;
                ics->order[w][f] = std::uniform_int_distribution<int>(0, maxOrder)(rng_);
                ics->direction[w][f] = std::uniform_int_distribution<int>(0, 1)(rng_);
                ics->compress[w][f] = std::uniform_int_distribution<int>(0, 1)(rng_);
                const int width = ics->coefRes[w] + 3 - ics->compress[w][f];
                std::uniform_int_distribution<int> c(-(1 << (width - 1)), (1 << (width - 1)) - 1);
                for (int i = 0; i < ics->order[w][f]; ++i) ics->coef[w][f][i] = c(rng_);
            }
        }
    }
}

void AacBlockGenerator::WriteIcsInfo(BitWriter* w, const Ics& ics) {
    w->Put(0, 1);  // ics_reserved_bit
    w->Put(static_cast<uint32_t>(ics.windowSequence), 2);
    w->Put(static_cast<uint32_t>(ics.windowShape), 1);
    if (ics.Short()) {
        w->Put(static_cast<uint32_t>(ics.maxSfb), 4);
        w->Put(static_cast<uint32_t>(ics.grouping), 7);
    } else {
        w->Put(static_cast<uint32_t>(ics.maxSfb), 6);
        w->Put(0, 1);  // predictor_data_present
    }
}

void AacBlockGenerator::WriteIcs(BitWriter* w, Ics* ics, bool commonWindow, BlockInfo* info) {
    w->Put(static_cast<uint32_t>(ics->globalGain), 8);
    if (!commonWindow) WriteIcsInfo(w, *ics);

    // section_data
    const int lenBits = ics->Short() ? 3 : 5;
    const int escape = (1 << lenBits) - 1;
    for (int g = 0; g < ics->groups; ++g) {
        for (int s = 0; s < ics->sectionCount[g]; ++s) {
            const Ics::Section& sec = ics->sections[g][s];
            w->Put(static_cast<uint32_t>(sec.cb), 4);
            int len = sec.end - sec.start;
            while (len >= escape) {
                w->Put(static_cast<uint32_t>(escape), lenBits);
                len -= escape;
            }
            w->Put(static_cast<uint32_t>(len), lenBits);
            if (info) info->codebooksUsed |= 1u << sec.cb;
        }
    }

    // scale_factor_data
    int sf = ics->globalGain;
    int position = 0;
    int energy = ics->globalGain - 90;
    bool firstNoise = true;
    for (int g = 0; g < ics->groups; ++g) {
        for (int b = 0; b < ics->maxSfb; ++b) {
            const int cb = ics->bandCb[g][b];
            const int v = ics->value[g][b];
            if (cb == 0) continue;
            if (cb == kIntensityBook || cb == kIntensityBook2) {
                w->Put(ScalefactorCode(v - position + 60));
                position = v;
            } else if (cb == kNoiseBook) {
                if (firstNoise) {
                    w->Put(static_cast<uint32_t>(v - energy + 256), 9);
                    firstNoise = false;
                } else {
                    w->Put(ScalefactorCode(v - energy + 60));
                }
                energy = v;
            } else {
                w->Put(ScalefactorCode(v - sf + 60));
                sf = v;
            }
        }
    }

    // pulse_data
    w->Put(ics->pulseCount > 0 ? 1 : 0, 1);
    if (ics->pulseCount > 0) {
        w->Put(static_cast<uint32_t>(ics->pulseCount - 1), 2);
        w->Put(static_cast<uint32_t>(ics->pulseStart), 6);
        for (int k = 0; k < ics->pulseCount; ++k) {
            w->Put(static_cast<uint32_t>(ics->pulseOffset[k]), 5);
            w->Put(static_cast<uint32_t>(ics->pulseAmp[k]), 4);
        }
        if (info) info->pulseCount += ics->pulseCount;
    }

    // tns_data
    w->Put(ics->tnsPresent ? 1 : 0, 1);
    if (ics->tnsPresent) {
        const bool s = ics->Short();
        for (int win = 0; win < ics->Windows(); ++win) {
            w->Put(static_cast<uint32_t>(ics->nFilt[win]), s ? 1 : 2);
            if (ics->nFilt[win] == 0) continue;
            w->Put(static_cast<uint32_t>(ics->coefRes[win]), 1);
            for (int f = 0; f < ics->nFilt[win]; ++f) {
                w->Put(static_cast<uint32_t>(ics->length[win][f]), s ? 4 : 6);
                w->Put(static_cast<uint32_t>(ics->order[win][f]), s ? 3 : 5);
                if (info) {
                    ++info->tnsFilters;
                    info->tnsOrdersUsed |= 1u << ics->order[win][f];
                }
                if (ics->order[win][f] == 0) continue;
                w->Put(static_cast<uint32_t>(ics->direction[win][f]), 1);
                w->Put(static_cast<uint32_t>(ics->compress[win][f]), 1);
                if (info && ics->direction[win][f]) info->tnsDownward = true;
                const int width = ics->coefRes[win] + 3 - ics->compress[win][f];
                for (int i = 0; i < ics->order[win][f]; ++i) {
                    w->Put(static_cast<uint32_t>(ics->coef[win][f][i]) & ((1u << width) - 1), width);
                }
            }
        }
    }

    w->Put(0, 1);  // gain_control_data_present
    WriteSpectralData(w, *ics, info);
}

void AacBlockGenerator::WriteSpectralData(BitWriter* w, const Ics& ics, BlockInfo* info) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int g = 0; g < ics.groups; ++g) {
        for (int s = 0; s < ics.sectionCount[g]; ++s) {
            const int cb = ics.sections[g][s].cb;
            if (cb < 1 || cb > 11) continue;
            const int dim = kBookDimension[cb];
            const int lav = kBookLav[cb];
            const bool isSigned = kBookSigned[cb];
            const int mod = isSigned ? 2 * lav + 1 : lav + 1;
            // A band in which most tuples are zero, or one that is dense.
            const double zeroShare = u(rng_) < 0.3 ? 0.9 : 0.35;
            int lines = 0;
            for (int b = ics.sections[g][s].start; b < ics.sections[g][s].end; ++b) {
                lines += (ics.offsets[b + 1] - ics.offsets[b]) * ics.groupLen[g];
            }
            for (int k = 0; k < lines; k += dim) {
                int v[4] = {0, 0, 0, 0};
                int escapeValue[4] = {0, 0, 0, 0};
                for (int i = 0; i < dim; ++i) {
                    if (u(rng_) < zeroShare) continue;
                    int m = std::uniform_int_distribution<int>(1, cb == 11 ? 15 : lav)(rng_);
                    if (cb == 11 && opt_.escapes && u(rng_) < 0.08) {
                        const int n = std::uniform_int_distribution<int>(4, 12)(rng_);
                        m = std::min(8191, (1 << n) + std::uniform_int_distribution<int>(0, (1 << n) - 1)(rng_));
                        escapeValue[i] = m;
                        if (info) {
                            info->escapeUsed = true;
                            info->maxEscapeMagnitude = std::max(info->maxEscapeMagnitude, m);
                        }
                        m = 16;
                    }
                    const bool negative = std::uniform_int_distribution<int>(0, 1)(rng_) != 0;
                    v[i] = negative ? -m : m;
                }
                int index = 0;
                for (int i = 0; i < dim; ++i) {
                    index = index * mod + (isSigned ? v[i] + lav : std::abs(v[i]));
                }
                w->Put(SpectralCode(cb, index));
                if (!isSigned) {
                    for (int i = 0; i < dim; ++i) {
                        if (v[i] != 0) w->Put(v[i] < 0 ? 1 : 0, 1);
                    }
                }
                for (int i = 0; i < dim; ++i) {
                    if (escapeValue[i] == 0) continue;
                    // escape_prefix: N - 4 ones and a zero; escape_word: N bits.
                    int n = 4;
                    while ((escapeValue[i] >> (n + 1)) != 0) ++n;
                    for (int j = 4; j < n; ++j) w->Put(1, 1);
                    w->Put(0, 1);
                    w->Put(static_cast<uint32_t>(escapeValue[i] - (1 << n)), n);
                }
            }
        }
    }
}

void AacBlockGenerator::WriteExtraElements(BitWriter* w) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    if (u(rng_) < 0.3) {
        // data_stream_element, sometimes long enough for the count escape.
        w->Put(4, 3);
        w->Put(std::uniform_int_distribution<int>(0, 15)(rng_), 4);
        const int align = std::uniform_int_distribution<int>(0, 1)(rng_);
        w->Put(static_cast<uint32_t>(align), 1);
        const int count = u(rng_) < 0.2 ? std::uniform_int_distribution<int>(255, 300)(rng_)
                                        : std::uniform_int_distribution<int>(0, 20)(rng_);
        w->Put(static_cast<uint32_t>(std::min(count, 255)), 8);
        if (count >= 255) w->Put(static_cast<uint32_t>(count - 255), 8);
        if (align) w->AlignZero();
        for (int i = 0; i < count; ++i) w->Put(std::uniform_int_distribution<int>(0, 255)(rng_), 8);
    }
    if (u(rng_) < 0.3) {
        // fill_element with EXT_FILL or EXT_FILL_DATA payload (never SBR).
        w->Put(6, 3);
        // count 15 is followed by esc_count: 14 + esc_count bytes in all.
        const int bytes = std::uniform_int_distribution<int>(0, 24)(rng_);
        w->Put(static_cast<uint32_t>(std::min(bytes, 15)), 4);
        if (bytes >= 15) w->Put(static_cast<uint32_t>(bytes - 14), 8);
        if (bytes > 0) {
            w->Put(std::uniform_int_distribution<int>(0, 1)(rng_), 4);  // extension_type
            w->Put(0, 4);                                               // fill_nibble
            for (int i = 1; i < bytes; ++i) w->Put(0xA5, 8);
        }
    }
}

std::vector<uint8_t> AacBlockGenerator::Next(BlockInfo* info) {
    const int previous = prevSequence_;
    std::vector<uint8_t> block;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        prevSequence_ = previous;
        block = Draw(info);
        if (block.size() <= opt_.maxBlockBytes) return block;
    }
    throw std::runtime_error("no block within the size limit");
}

std::vector<uint8_t> AacBlockGenerator::Draw(BlockInfo* info) {
    BitWriter w;
    BlockInfo local;
    BlockInfo* inf = info ? info : &local;
    *inf = BlockInfo{};
    std::uniform_real_distribution<double> u(0.0, 1.0);

    const int sequence = NextWindowSequence();
    prevSequence_ = sequence;
    inf->windowSequence = sequence;

    if (opt_.extraElements && u(rng_) < 0.5) WriteExtraElements(&w);

    Ics ics[2];
    ics[0].windowSequence = sequence;
    ChooseIcsInfo(&ics[0], 0);
    if (opt_.channels == 1) {
        ChooseSections(&ics[0], 0, false);
        w.Put(0, 3);  // ID_SCE
        w.Put(std::uniform_int_distribution<int>(0, 15)(rng_), 4);
        WriteIcs(&w, &ics[0], false, inf);
        inf->groups = ics[0].groups;
    } else {
        const bool common = u(rng_) < 0.75;
        inf->commonWindow = common;
        ics[1].windowSequence = sequence;
        if (common) {
            Ics copy = ics[0];
            ics[1] = copy;
        } else {
            ChooseIcsInfo(&ics[1], 1);
        }
        ChooseSections(&ics[0], 0, common);
        ChooseSections(&ics[1], 1, common);
        w.Put(1, 3);  // ID_CPE
        w.Put(std::uniform_int_distribution<int>(0, 15)(rng_), 4);
        w.Put(common ? 1 : 0, 1);
        if (common) {
            WriteIcsInfo(&w, ics[0]);
            int msPresent = 0;
            if (opt_.midSide) {
                const double r = u(rng_);
                msPresent = r < 0.2 ? 0 : (r < 0.8 ? 1 : 2);
            }
            inf->msMaskPresent = msPresent;
            w.Put(static_cast<uint32_t>(msPresent), 2);
            if (msPresent == 1) {
                for (int g = 0; g < ics[0].groups; ++g) {
                    for (int b = 0; b < ics[0].maxSfb; ++b) w.Put(std::uniform_int_distribution<int>(0, 1)(rng_), 1);
                }
            }
        }
        WriteIcs(&w, &ics[0], common, inf);
        WriteIcs(&w, &ics[1], common, inf);
        inf->groups = ics[0].groups;
    }

    if (opt_.extraElements && u(rng_) < 0.5) WriteExtraElements(&w);
    w.Put(7, 3);  // ID_END
    w.AlignZero();
    return w.Bytes();
}

std::vector<uint8_t> WrapAdts(const std::vector<std::vector<uint8_t>>& blocks, int samplingIndex,
                              int channelConfig, bool crc, int blocksPerFrame) {
    if (blocksPerFrame < 1 || blocksPerFrame > 4) throw std::invalid_argument("1 to 4 blocks per frame");
    std::vector<uint8_t> out;
    for (std::size_t first = 0; first < blocks.size(); first += static_cast<std::size_t>(blocksPerFrame)) {
        const std::size_t n = std::min<std::size_t>(blocksPerFrame, blocks.size() - first);
        std::size_t length = 7;
        if (crc) length += 2 * (n - 1) + 2 + (n > 1 ? 2 * n : 0);
        for (std::size_t i = 0; i < n; ++i) length += blocks[first + i].size();
        if (length > 8191) throw std::invalid_argument("ADTS frame too long");
        BitWriter w;
        w.Put(0xFFF, 12);
        w.Put(0, 1);  // ID: MPEG-4
        w.Put(0, 2);  // layer
        w.Put(crc ? 0 : 1, 1);
        w.Put(1, 2);  // profile: low complexity
        w.Put(static_cast<uint32_t>(samplingIndex), 4);
        w.Put(0, 1);
        w.Put(static_cast<uint32_t>(channelConfig), 3);
        w.Put(0, 4);  // original_copy, home, copyright id bit and start
        w.Put(static_cast<uint32_t>(length), 13);
        w.Put(0x7FF, 11);
        w.Put(static_cast<uint32_t>(n - 1), 2);
        if (crc) {
            std::size_t position = 0;
            for (std::size_t i = 1; i < n; ++i) {
                position += blocks[first + i - 1].size() + 2;
                w.Put(static_cast<uint32_t>(position), 16);
            }
            w.Put(0, 16);  // crc_check
        }
        out.insert(out.end(), w.Bytes().begin(), w.Bytes().end());
        for (std::size_t i = 0; i < n; ++i) {
            out.insert(out.end(), blocks[first + i].begin(), blocks[first + i].end());
            if (crc && n > 1) out.insert(out.end(), {0, 0});  // adts_raw_data_block_error_check
        }
    }
    return out;
}

}  // namespace aurivane::testgen
