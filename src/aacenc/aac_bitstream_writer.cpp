// Raw data block writing.
#include "aacenc/aac_bitstream_writer.h"

#include "dsp/aac_huffman_codes.h"

#include <algorithm>

namespace aurivane {

namespace {

constexpr int kMaxFillElementBits = 2167;  // 15 + 8 x 269 bytes

inline int Abs(int v) { return v < 0 ? -v : v; }

// coef_compress: every index fits in one bit less.
bool TnsCompressible(const TnsInfo& tns, int w) {
    const int limit = 1 << (tns.coefRes[w] - 2);  // 4-bit: -4..3, 3-bit: -2..1
    for (int k = 0; k < tns.order[w]; ++k)
        if (tns.coef[w][k] < -limit || tns.coef[w][k] >= limit) return false;
    return true;
}

int32_t TnsBits(const PsyOutput& psy) {
    if (!psy.tnsPresent) return 0;
    const bool isShort = psy.windowSequence == kAacShortWindow;
    const int windows = isShort ? 8 : 1;
    int32_t bits = 0;
    for (int w = 0; w < windows; ++w) {
        if (!psy.tns.active[w]) {
            bits += isShort ? 1 : 2;
            continue;
        }
        bits += isShort ? 9 : 14;
        if (psy.tns.order[w] > 0) {
            const int coefBits = psy.tns.coefRes[w] - (TnsCompressible(psy.tns, w) ? 1 : 0);
            bits += 2 + psy.tns.order[w] * coefBits;
        }
    }
    return bits;
}

void WriteTns(BitBuffer* out, const PsyOutput& psy) {
    const bool isShort = psy.windowSequence == kAacShortWindow;
    const int windows = isShort ? 8 : 1;
    for (int w = 0; w < windows; ++w) {
        const int active = psy.tns.active[w] ? 1 : 0;
        BitBufferWrite(out, active, isShort ? 1 : 2);
        if (!active) continue;
        BitBufferWrite(out, psy.tns.coefRes[w] == 4 ? 1 : 0, 1);
        BitBufferWrite(out, psy.tns.length[w], isShort ? 4 : 6);
        BitBufferWrite(out, psy.tns.order[w], isShort ? 3 : 5);
        if (psy.tns.order[w] == 0) continue;
        const int compress = TnsCompressible(psy.tns, w) ? 1 : 0;
        BitBufferWrite(out, 0, 1);  // direction: upward
        BitBufferWrite(out, compress, 1);
        const int bits = psy.tns.coefRes[w] - compress;
        for (int k = 0; k < psy.tns.order[w]; ++k)
            BitBufferWrite(out, static_cast<uint32_t>(psy.tns.coef[w][k]) & ((1u << bits) - 1), bits);
    }
}

void WriteEscape(BitBuffer* out, int v) {
    int n = 0;
    while ((v >> (n + 5)) != 0) ++n;
    BitBufferWrite(out, (1u << (n + 1)) - 2, n + 1);  // n ones and a zero
    BitBufferWrite(out, static_cast<uint32_t>(v - (1 << (n + 4))), n + 4);
}

// Codewords go out with their sign bits in one write (at most 20 bits).
void WriteBand(BitBuffer* out, const int16_t* q, int width, int book) {
    const uint32_t* codes = kAacSpectralCodewords[book];
    const uint8_t* lengths = kAacSpectralCodeLengths[book];
    if (book <= 2) {
        for (int i = 0; i < width; i += 4) {
            const int idx = 27 * (q[i] + 1) + 9 * (q[i + 1] + 1) + 3 * (q[i + 2] + 1) + (q[i + 3] + 1);
            BitBufferWrite(out, codes[idx], lengths[idx]);
        }
        return;
    }
    if (book <= 4) {
        for (int i = 0; i < width; i += 4) {
            const int idx = 27 * Abs(q[i]) + 9 * Abs(q[i + 1]) + 3 * Abs(q[i + 2]) + Abs(q[i + 3]);
            uint32_t value = codes[idx];
            int length = lengths[idx];
            for (int k = 0; k < 4; ++k) {
                if (q[i + k] == 0) continue;
                value = (value << 1) | (q[i + k] < 0 ? 1u : 0u);
                ++length;
            }
            BitBufferWrite(out, value, length);
        }
        return;
    }
    if (book <= 6) {
        for (int i = 0; i < width; i += 2) {
            const int idx = 9 * (q[i] + 4) + (q[i + 1] + 4);
            BitBufferWrite(out, codes[idx], lengths[idx]);
        }
        return;
    }
    const int modulo = book <= 8 ? 8 : (book <= 10 ? 13 : 17);
    for (int i = 0; i < width; i += 2) {
        const int a = Abs(q[i]), b = Abs(q[i + 1]);
        const int idx = modulo * std::min(a, 16) + std::min(b, 16);
        uint32_t value = codes[idx];
        int length = lengths[idx];
        if (a != 0) {
            value = (value << 1) | (q[i] < 0 ? 1u : 0u);
            ++length;
        }
        if (b != 0) {
            value = (value << 1) | (q[i + 1] < 0 ? 1u : 0u);
            ++length;
        }
        BitBufferWrite(out, value, length);
        if (book == 11) {
            if (a >= 16) WriteEscape(out, a);
            if (b >= 16) WriteEscape(out, b);
        }
    }
}

// fill_element header for `bytes` payload bytes: count alone (7 bits) or
// count 15 and esc_count = bytes - 14 (15 bits, 14 to 269 bytes).
void WriteFillHeader(BitBuffer* out, int bytes, bool escaped) {
    BitBufferWrite(out, 6, 3);
    if (!escaped) {
        BitBufferWrite(out, static_cast<uint32_t>(bytes), 4);
    } else {
        BitBufferWrite(out, 15, 4);
        BitBufferWrite(out, static_cast<uint32_t>(bytes - 14), 8);
    }
}

}  // namespace

int32_t AacStaticBits(const PsyOutput& psy) {
    return (psy.windowSequence == kAacShortWindow ? 33 : 29) + TnsBits(psy);
}

bool AacFillAndAlignment(int32_t usedBits, int32_t fillBits, int32_t* fillOut, int32_t* alignOut) {
    int32_t fill = 0;
    if (fillBits > 0) {
        const int32_t full = (fillBits - 1) / kMaxFillElementBits;
        int32_t rest = fillBits - kMaxFillElementBits * full;
        if (rest > 0) {
            rest = std::max(rest, 7);
            rest += (8 - (rest - 7) % 8) % 8;
        }
        fill = kMaxFillElementBits * full + rest;
    }
    int32_t align = 7 - ((usedBits + fill - 1) % 8);
    if (align + fill - fillBits == 8 && fill > 8) fill -= 8;
    *fillOut = fill;
    *alignOut = align;
    return align + fill - fillBits >= 0;
}

int32_t AacWriteRawDataBlock(BitBuffer* out, const PsyOutput& psy, const AacChannelCoding& coding,
                             const uint8_t* sbrPayload, int sbrBytes, int32_t fill) {
    const int32_t startCount = BitBufferCount(out);
    const AacSectionData& sec = *coding.sections;
    const bool isShort = psy.windowSequence == kAacShortWindow;

    BitBufferWrite(out, 0, 3);  // ID_SCE
    BitBufferWrite(out, 0, 4);  // element_instance_tag
    const int firstOffset = sec.firstScf >= 0 ? coding.scfOffset[sec.firstScf] : 0;
    BitBufferWrite(out, static_cast<uint32_t>(coding.globalGain - firstOffset + 104), 8);

    // ics_info
    BitBufferWrite(out, 0, 1);
    BitBufferWrite(out, static_cast<uint32_t>(psy.windowSequence), 2);
    BitBufferWrite(out, static_cast<uint32_t>(psy.windowShape), 1);
    if (isShort) {
        BitBufferWrite(out, static_cast<uint32_t>(sec.maxSfbPerGroup), 4);
        BitBufferWrite(out, static_cast<uint32_t>(psy.groupingMask) & 0x7F, 7);
    } else {
        BitBufferWrite(out, static_cast<uint32_t>(sec.maxSfbPerGroup), 6);
        BitBufferWrite(out, 0, 1);  // predictor_data_present
    }

    // section_data
    const int lenBits = isShort ? 3 : 5;
    const int escape = (1 << lenBits) - 1;
    for (int i = 0; i < sec.sectionCount; ++i) {
        const AacSection& s = sec.section[i];
        BitBufferWrite(out, static_cast<uint32_t>(s.codebook), 4);
        int n = s.sfbCount;
        while (n >= escape) {
            BitBufferWrite(out, static_cast<uint32_t>(escape), lenBits);
            n -= escape;
        }
        BitBufferWrite(out, static_cast<uint32_t>(n), lenBits);
    }

    // scale_factor_data
    bool ok = true;
    int previous = firstOffset;
    for (int i = 0; i < sec.sectionCount && ok; ++i) {
        const AacSection& s = sec.section[i];
        if (s.codebook == 0) continue;
        for (int b = s.sfbStart; b < s.sfbStart + s.sfbCount; ++b) {
            int delta = 0;
            if (coding.sfbMaxVal[b] != 0) {
                delta = previous - coding.scfOffset[b];
                previous = coding.scfOffset[b];
            }
            if (delta < -60 || delta > 60) {
                ok = false;
                break;
            }
            BitBufferWrite(out, kAacScalefactorCodewords[delta + 60], kAacScalefactorCodeLengths[delta + 60]);
        }
    }
    if (!ok) return -1;

    BitBufferWrite(out, 0, 1);  // pulse_data_present
    BitBufferWrite(out, psy.tnsPresent ? 1 : 0, 1);
    if (psy.tnsPresent) WriteTns(out, psy);
    BitBufferWrite(out, 0, 1);  // gain_control_data_present

    // spectral_data
    for (int i = 0; i < sec.sectionCount; ++i) {
        const AacSection& s = sec.section[i];
        if (s.codebook == 0) continue;
        for (int b = s.sfbStart; b < s.sfbStart + s.sfbCount; ++b)
            WriteBand(out, coding.quant + psy.sfbOffset[b], psy.sfbOffset[b + 1] - psy.sfbOffset[b], s.codebook);
    }

    // The SBR payload goes in as it is: its first nibble is the extension type.
    if (sbrBytes > 0) {
        WriteFillHeader(out, sbrBytes, sbrBytes >= 15);
        for (int i = 0; i < sbrBytes; ++i) BitBufferWrite(out, sbrPayload[i], 8);
    }

    // Fill elements of zero bytes for bits that would overflow the reservoir.
    int32_t remaining = fill;
    while (remaining > 6) {
        int bytes = (remaining - 7) / 8;
        const bool escaped = bytes >= 15;
        if (escaped) bytes = std::min(bytes - 1, 14 + 255);  // the escape byte takes one
        WriteFillHeader(out, bytes, escaped);
        for (int i = 0; i < bytes; ++i) BitBufferWrite(out, 0, 8);
        remaining -= (escaped ? 15 : 7) + 8 * bytes;
    }

    BitBufferWrite(out, 7, 3);  // ID_END
    const int32_t written = BitBufferCount(out) - startCount;
    if (written % 8 != 0) BitBufferWrite(out, 0, 8 - written % 8);
    return BitBufferCount(out) - startCount;
}

}  // namespace aurivane
