// individual_channel_stream syntax of ISO/IEC 14496-3 (AAC-LC subset):
// ics_info, section, scalefactor, pulse, TNS and spectral data.
#include "aacdec/aac_channel.h"
#include "aacdec/aac_huffman.h"

#include <cstring>

namespace aurivane {

namespace {

constexpr int32_t kZeroCodebook = 0;
constexpr int32_t kNoiseCodebook = 13;
constexpr int32_t kIntensity2Codebook = 14;
constexpr int32_t kIntensityCodebook = 15;
constexpr int32_t kEscapeCodebook = 11;

// Stored scalefactors stay in a range whose powers of two are finite floats
// even after the filterbank gains; hostile accumulators cannot reach inf.
int16_t StoreScalefactor(int32_t accumulator) {
    int32_t s = accumulator - 100;
    if (s < -400) s = -400;
    if (s > 200) s = 200;
    return static_cast<int16_t>(s);
}

int32_t SignExtend(uint32_t value, int32_t width) {
    const uint32_t sign = 1u << (width - 1);
    return static_cast<int32_t>((value ^ sign)) - static_cast<int32_t>(sign);
}

int32_t ParseSectionData(BitBuffer* bits, ChannelStream* ch) {
    const IcsInfo& ics = ch->ics;
    const bool isShort = ics.windowSequence == kEightShort;
    const int32_t lenBits = isShort ? 3 : 5;
    const uint32_t escape = isShort ? 7u : 31u;
    const int32_t limit = isShort ? 16 : 64;
    std::memset(ch->sectionCodebook, 0, sizeof(ch->sectionCodebook));
    for (int32_t g = 0; g < ics.numGroups; ++g) {
        int32_t k = 0;
        while (k < ics.maxSfb) {
            const int32_t cb = static_cast<int32_t>(BitBufferRead(bits, 4));
            int32_t length = 0;
            uint32_t increment;
            while ((increment = BitBufferRead(bits, lenBits)) == escape) {
                length += static_cast<int32_t>(escape);
                if (k + length > limit) return kAacBadSection;
            }
            length += static_cast<int32_t>(increment);
            // A zero-length section would never advance.
            if (length == 0 || k + length > limit) return kAacBadSection;
            if (cb == 12) return kAacReservedCodebook;
            // Bands past max_sfb keep codebook 0.
            const int32_t end = (k + length < ics.maxSfb) ? k + length : ics.maxSfb;
            for (int32_t b = k; b < end; ++b) ch->sectionCodebook[g * 16 + b] = static_cast<uint8_t>(cb);
            k += length;
        }
    }
    return kAacOk;
}

void ParseScalefactorData(BitBuffer* bits, ChannelStream* ch) {
    const IcsInfo& ics = ch->ics;
    int32_t scalefactor = ch->globalGain;
    int32_t position = 0;
    int32_t noiseEnergy = ch->globalGain - 90 - 256;
    bool firstNoise = true;
    for (int32_t g = 0; g < ics.numGroups; ++g) {
        for (int32_t b = 0; b < ics.maxSfb; ++b) {
            const int32_t slot = g * 16 + b;
            switch (ch->sectionCodebook[slot]) {
                case kZeroCodebook:
                    ch->scalefactor[slot] = 0;
                    break;
                case kNoiseCodebook:
                    if (firstNoise) {
                        noiseEnergy += static_cast<int32_t>(BitBufferRead(bits, 9));
                        firstNoise = false;
                    } else {
                        noiseEnergy += HuffmanDecodeScalefactor(bits) - 60;
                    }
                    ch->scalefactor[slot] = StoreScalefactor(noiseEnergy);
                    ch->pnsFlag[slot] = 1;
                    ch->usesNoise = 1;
                    break;
                case kIntensity2Codebook:
                case kIntensityCodebook:
                    position += HuffmanDecodeScalefactor(bits) - 60;
                    ch->scalefactor[slot] = StoreScalefactor(position);
                    break;
                default:
                    scalefactor += HuffmanDecodeScalefactor(bits) - 60;
                    ch->scalefactor[slot] = StoreScalefactor(scalefactor);
                    break;
            }
        }
    }
}

int32_t ParsePulseData(BitBuffer* bits, ChannelStream* ch) {
    PulseData& p = ch->pulse;
    p.present = static_cast<int32_t>(BitBufferRead(bits, 1));
    if (!p.present) return kAacOk;
    p.count = static_cast<int32_t>(BitBufferRead(bits, 2)) + 1;
    p.startSfb = static_cast<int32_t>(BitBufferRead(bits, 6));
    for (int32_t i = 0; i < p.count; ++i) {
        p.offset[i] = static_cast<int32_t>(BitBufferRead(bits, 5));
        p.amplitude[i] = static_cast<int32_t>(BitBufferRead(bits, 4));
    }
    if (ch->ics.windowSequence == kEightShort) return kAacOk;  // read, not applied
    if (p.startSfb >= ch->ics.numBands) return kAacBadSection;
    int32_t position = ch->ics.offsets[p.startSfb];
    for (int32_t i = 0; i < p.count; ++i) {
        position += p.offset[i];
        if (position > 1023) return kAacBadSection;
    }
    return kAacOk;
}

int32_t ParseTnsData(BitBuffer* bits, ChannelStream* ch) {
    const bool isShort = ch->ics.windowSequence == kEightShort;
    const int32_t windows = isShort ? 8 : 1;
    TnsData& tns = ch->tns;
    for (int32_t w = 0; w < windows; ++w) {
        tns.numFilters[w] = static_cast<int32_t>(BitBufferRead(bits, isShort ? 1 : 2));
        if (tns.numFilters[w] == 0) continue;
        const int32_t coefRes = static_cast<int32_t>(BitBufferRead(bits, 1));
        for (int32_t f = 0; f < tns.numFilters[w]; ++f) {
            TnsFilter& filter = tns.filters[w][f];
            filter.coefRes = coefRes;
            filter.length = static_cast<int32_t>(BitBufferRead(bits, isShort ? 4 : 6));
            filter.order = static_cast<int32_t>(BitBufferRead(bits, isShort ? 3 : 5));
            filter.direction = 0;
            if (filter.order > kMaxTnsOrder) return kAacBadSection;
            if (filter.order == 0) continue;
            filter.direction = static_cast<int32_t>(BitBufferRead(bits, 1));
            const int32_t compress = static_cast<int32_t>(BitBufferRead(bits, 1));
            const int32_t width = coefRes + 3 - compress;
            for (int32_t i = 0; i < filter.order; ++i)
                filter.coef[i] = SignExtend(BitBufferRead(bits, width), width);
        }
    }
    return kAacOk;
}

// Escape sequence of codebook 11 after a value of +-16. Magnitudes above
// 8191 are invalid, so the prefix is not followed further than that.
int32_t ReadEscape(BitBuffer* bits, int32_t* value) {
    int32_t n = 4;
    while (BitBufferRead(bits, 1) == 1) {
        if (++n > 12) return kAacBadSection;
    }
    const int32_t magnitude = (1 << n) + static_cast<int32_t>(BitBufferRead(bits, n));
    if (magnitude > 8191) return kAacBadSection;
    *value = *value < 0 ? -magnitude : magnitude;
    return kAacOk;
}

// The codewords of lines [start, end) of one window in one codebook. The
// dimension, sign convention and escape use are template parameters so the
// per-codeword work compiles to straight-line code.
template <int32_t kDimension, bool kUnsigned, bool kEscape>
int32_t DecodeLines(BitBuffer* stream, const HuffmanCodebook& book, int16_t* line, int32_t start, int32_t end) {
    // A local copy of the read position: stores to `line` cannot alias it,
    // so it stays in registers.
    BitBuffer local = *stream;
    BitBuffer* bits = &local;
    const uint32_t* lookup = book.lookup;
    const int32_t valueBits = book.bits;
    const int32_t mask = (1 << valueBits) - 1;
    const int32_t offset = book.offset;
    for (int32_t k = start; k < end; k += kDimension) {
        // A codeword (at most 16 bits) and its sign bits (at most 4) come
        // from one 32-bit window.
        const uint32_t window = HuffmanPeek32(bits);
        int32_t used = 0;
        const int32_t leaf = static_cast<int32_t>(HuffmanLookup(lookup, window, &used));
        int32_t v[kDimension];
        for (int32_t i = 0; i < kDimension; ++i) v[i] = ((leaf >> (i * valueBits)) & mask) - offset;
        if constexpr (kUnsigned) {
            for (int32_t i = 0; i < kDimension; ++i) {
                if (v[i] != 0) {
                    if ((window << used) >> 31) v[i] = -v[i];
                    ++used;
                }
            }
        }
        HuffmanConsume(bits, used);
        if constexpr (kEscape) {
            for (int32_t i = 0; i < 2; ++i) {
                if (v[i] == 16 || v[i] == -16) {
                    const int32_t status = ReadEscape(bits, &v[i]);
                    if (status != kAacOk) {
                        *stream = local;
                        return status;
                    }
                }
            }
        }
        for (int32_t i = 0; i < kDimension; ++i) line[k + i] = static_cast<int16_t>(v[i]);
    }
    *stream = local;
    return kAacOk;
}

int32_t ParseSpectralData(BitBuffer* bits, ChannelStream* ch) {
    const IcsInfo& ics = ch->ics;
    std::memset(ch->quantised, 0, sizeof(ch->quantised));
    const bool isShort = ics.windowSequence == kEightShort;
    int32_t window = 0;
    for (int32_t g = 0; g < ics.numGroups; ++g) {
        for (int32_t b = 0; b < ics.maxSfb; ++b) {
            const int32_t cb = ch->sectionCodebook[g * 16 + b];
            if (cb < 1 || cb > 11) continue;
            const HuffmanCodebook& book = kSpectralCodebooks[cb];
            const int32_t start = ics.offsets[b];
            const int32_t end = ics.offsets[b + 1];
            for (int32_t w = 0; w < ics.groupLength[g]; ++w) {
                int16_t* line = ch->quantised + (isShort ? (window + w) * 128 : 0);
                int32_t status;
                if (cb <= 2) {
                    status = DecodeLines<4, false, false>(bits, book, line, start, end);
                } else if (cb <= 4) {
                    status = DecodeLines<4, true, false>(bits, book, line, start, end);
                } else if (cb <= 6) {
                    status = DecodeLines<2, false, false>(bits, book, line, start, end);
                } else if (cb < kEscapeCodebook) {
                    status = DecodeLines<2, true, false>(bits, book, line, start, end);
                } else {
                    status = DecodeLines<2, true, true>(bits, book, line, start, end);
                }
                if (status != kAacOk) return status;
            }
        }
        window += ics.groupLength[g];
    }
    return kAacOk;
}

void ApplyPulses(ChannelStream* ch) {
    const PulseData& p = ch->pulse;
    if (!p.present || ch->ics.windowSequence == kEightShort) return;
    int32_t position = ch->ics.offsets[p.startSfb];
    for (int32_t i = 0; i < p.count; ++i) {
        position += p.offset[i];
        int16_t& q = ch->quantised[position];
        q = static_cast<int16_t>(q + (q > 0 ? p.amplitude[i] : -p.amplitude[i]));
    }
}

}  // namespace

int32_t ParseIcsInfo(BitBuffer* bits, IcsInfo* ics) {
    BitBufferRead(bits, 1);  // ics_reserved_bit
    ics->windowSequence = static_cast<uint8_t>(BitBufferRead(bits, 2));
    ics->windowShape = static_cast<uint8_t>(BitBufferRead(bits, 1));
    const BandTable& table = kBandTables[ics->rateIndex];
    ics->read = 1;
    if (ics->windowSequence == kEightShort) {
        ics->maxSfb = static_cast<uint8_t>(BitBufferRead(bits, 4));
        ics->scaleFactorGrouping = static_cast<uint8_t>(BitBufferRead(bits, 7));
        ics->numGroups = 1;
        ics->groupLength[0] = 1;
        for (int32_t i = 6; i >= 0; --i) {
            if ((ics->scaleFactorGrouping >> i) & 1) {
                ++ics->groupLength[ics->numGroups - 1];
            } else {
                ics->groupLength[ics->numGroups] = 1;
                ++ics->numGroups;
            }
        }
        ics->numBands = static_cast<uint8_t>(table.numShort);
        ics->offsets = table.shortOffsets;
    } else {
        ics->maxSfb = static_cast<uint8_t>(BitBufferRead(bits, 6));
        ics->scaleFactorGrouping = 0;
        ics->numGroups = 1;
        ics->groupLength[0] = 1;
        ics->numBands = static_cast<uint8_t>(table.numLong);
        ics->offsets = table.longOffsets;
        if (BitBufferRead(bits, 1)) return kAacPrediction;
    }
    if (ics->maxSfb > ics->numBands) return kAacBadSection;
    return kAacOk;
}

void ParseMsMask(BitBuffer* bits, ChannelStream* ch0) {
    std::memset(ch0->msMask, 0, sizeof(ch0->msMask));
    ch0->msMaskPresent = static_cast<int32_t>(BitBufferRead(bits, 2));
    const IcsInfo& ics = ch0->ics;
    if (ch0->msMaskPresent == 1) {
        for (int32_t g = 0; g < ics.numGroups; ++g)
            for (int32_t b = 0; b < ics.maxSfb; ++b)
                if (BitBufferRead(bits, 1)) ch0->msMask[b] |= static_cast<uint8_t>(1u << g);
    } else if (ch0->msMaskPresent == 2) {
        std::memset(ch0->msMask, 255, sizeof(ch0->msMask));
    }
}

int32_t ParseIndividualChannelStream(BitBuffer* bits, ChannelStream* ch, int32_t commonWindow) {
    ch->commonWindow = commonWindow;
    ch->globalGain = static_cast<int32_t>(BitBufferRead(bits, 8));
    if (!ch->ics.read) {
        const int32_t status = ParseIcsInfo(bits, &ch->ics);
        if (status != kAacOk) return status;
    }
    int32_t status = ParseSectionData(bits, ch);
    if (status != kAacOk) return status;
    ParseScalefactorData(bits, ch);
    status = ParsePulseData(bits, ch);
    if (status != kAacOk) return status;
    ch->tns.present = static_cast<int32_t>(BitBufferRead(bits, 1));
    if (ch->tns.present) {
        status = ParseTnsData(bits, ch);
        if (status != kAacOk) return status;
    }
    if (BitBufferRead(bits, 1)) return kAacGainControl;
    status = ParseSpectralData(bits, ch);
    if (status != kAacOk) return status;
    ApplyPulses(ch);
    InverseQuantise(ch);
    return kAacOk;
}

}  // namespace aurivane
