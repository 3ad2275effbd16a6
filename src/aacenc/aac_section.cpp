// Bit counting and sectioning of the quantised spectrum.
#include "aacenc/aac_section.h"

#include "dsp/aac_huffman_codes.h"

#include <algorithm>
#include <cstdlib>

namespace aurivane {

namespace {

inline int Abs(int v) { return v < 0 ? -v : v; }

// Quads of signed values -1..1 in books 1 and 2.
uint32_t CountQuadSigned(const int16_t* q, int width) {
    uint32_t acc = 0;
    for (int i = 0; i < width; i += 4) {
        const int idx = 27 * (q[i] + 1) + 9 * (q[i + 1] + 1) + 3 * (q[i + 2] + 1) + (q[i + 3] + 1);
        acc += kAacPairedLengths1_2[idx];
    }
    return acc;
}

// Quads of magnitudes 0..2 in books 3 and 4, plus one sign bit per non-zero value.
uint32_t CountQuadUnsigned(const int16_t* q, int width, int* signs) {
    uint32_t acc = 0;
    int s = 0;
    for (int i = 0; i < width; i += 4) {
        const int a = Abs(q[i]), b = Abs(q[i + 1]), c = Abs(q[i + 2]), d = Abs(q[i + 3]);
        acc += kAacPairedLengths3_4[27 * a + 9 * b + 3 * c + d];
        s += (a != 0) + (b != 0) + (c != 0) + (d != 0);
    }
    *signs = s;
    return acc;
}

uint32_t CountPairSigned(const int16_t* q, int width) {
    uint32_t acc = 0;
    for (int i = 0; i < width; i += 2) acc += kAacPairedLengths5_6[9 * (q[i] + 4) + (q[i + 1] + 4)];
    return acc;
}

template <int kModulo>
uint32_t CountPairUnsigned(const uint32_t* table, const int16_t* q, int width, int* signs) {
    uint32_t acc = 0;
    int s = 0;
    for (int i = 0; i < width; i += 2) {
        const int a = Abs(q[i]), b = Abs(q[i + 1]);
        acc += table[kModulo * a + b];
        s += (a != 0) + (b != 0);
    }
    *signs = s;
    return acc;
}

// Escape sequence of a magnitude >= 16: N ones, a zero and N + 4 bits.
inline int EscapeBits(int v) {
    int n = 0;
    while ((v >> (n + 5)) != 0) ++n;  // n = floor(log2 v) - 4
    return 2 * n + 5;
}

int32_t CountBook11(const int16_t* q, int width) {
    const uint8_t* len = kAacSpectralCodeLengths[11];
    int32_t bits = 0;
    for (int i = 0; i < width; i += 2) {
        const int a = Abs(q[i]), b = Abs(q[i + 1]);
        bits += len[17 * std::min(a, 16) + std::min(b, 16)] + (a != 0) + (b != 0);
        if (a >= 16) bits += EscapeBits(a);
        if (b >= 16) bits += EscapeBits(b);
    }
    return bits;
}

inline int32_t High(uint32_t v) { return static_cast<int32_t>(v >> 16); }
inline int32_t Low(uint32_t v) { return static_cast<int32_t>(v & 0xFFFF); }

inline int32_t AddBits(int32_t a, int32_t b) { return std::min(a + b, kAacInvalidBits); }

// One section while merging: summed counts per book.
struct Run {
    int32_t bits[kAacNumBooks];
    int32_t start;
    int32_t count;
    int32_t book;
    int32_t cost;  // bits in the best book plus side information
};

int BestBook(const int32_t* bits, int32_t* best) {
    int book = 0;
    for (int b = 1; b < kAacNumBooks; ++b)
        if (bits[b] < bits[book]) book = b;
    *best = bits[book];
    return book;
}

// Gain of merging a and b: the bits saved (positive is better).
int32_t MergeGain(const Run& a, const Run& b, bool isShort) {
    int32_t best = kAacInvalidBits;
    for (int k = 0; k < kAacNumBooks; ++k) best = std::min(best, AddBits(a.bits[k], b.bits[k]));
    return a.cost + b.cost - best - AacSectionSideInfo(a.count + b.count, isShort);
}

void Merge(Run* a, const Run& b, bool isShort) {
    for (int k = 0; k < kAacNumBooks; ++k) a->bits[k] = AddBits(a->bits[k], b.bits[k]);
    a->count += b.count;
    int32_t best;
    a->book = BestBook(a->bits, &best);
    a->cost = best + AacSectionSideInfo(a->count, isShort);
}

}  // namespace

void AacCountBandBits(const int16_t* q, int width, int maxVal, int32_t bits[kAacNumBooks]) {
    for (int b = 0; b < kAacNumBooks; ++b) bits[b] = kAacInvalidBits;
    if (maxVal == 0) bits[0] = 0;
    int signs = 0;
    uint32_t p;
    if (maxVal <= 1) {
        p = CountQuadSigned(q, width);
        bits[1] = High(p);
        bits[2] = Low(p);
    }
    if (maxVal <= 2) {
        p = CountQuadUnsigned(q, width, &signs);
        bits[3] = High(p) + signs;
        bits[4] = Low(p) + signs;
    }
    if (maxVal <= 4) {
        p = CountPairSigned(q, width);
        bits[5] = High(p);
        bits[6] = Low(p);
    }
    if (maxVal <= 7) {
        p = CountPairUnsigned<8>(kAacPairedLengths7_8, q, width, &signs);
        bits[7] = High(p) + signs;
        bits[8] = Low(p) + signs;
    }
    if (maxVal <= 12) {
        p = CountPairUnsigned<13>(kAacPairedLengths9_10, q, width, &signs);
        bits[9] = High(p) + signs;
        bits[10] = Low(p) + signs;
    }
    if (maxVal <= kAacMaxQuant) bits[11] = CountBook11(q, width);
}

int32_t AacBuildSections(const int16_t* quant, const int32_t* sfbOffset, const int32_t* sfbMaxVal, int sfbCnt,
                         int sfbPerGroup, int maxSfb, bool isShort, AacSectionData* out) {
    out->isShort = isShort ? 1 : 0;
    out->sfbCnt = sfbCnt;
    out->sfbPerGroup = sfbPerGroup;
    out->maxSfbPerGroup = maxSfb;
    out->sectionCount = 0;
    out->huffmanBits = 0;
    out->sideInfoBits = 0;
    Run runs[64];
    for (int group = 0; group * sfbPerGroup < sfbCnt; ++group) {
        const int first = group * sfbPerGroup;
        int n = 0;
        // One section per band, runs of equal books joined at once.
        for (int b = first; b < first + maxSfb; ++b) {
            Run r;
            AacCountBandBits(quant + sfbOffset[b], sfbOffset[b + 1] - sfbOffset[b], sfbMaxVal[b], r.bits);
            r.start = b;
            r.count = 1;
            int32_t best;
            r.book = BestBook(r.bits, &best);
            r.cost = best + AacSectionSideInfo(1, isShort);
            if (n > 0 && runs[n - 1].book == r.book) {
                Merge(&runs[n - 1], r, isShort);
            } else {
                runs[n++] = r;
            }
        }
        // Greedy merging: join the neighbours that save most until none saves.
        int32_t gain[64];
        for (int i = 0; i + 1 < n; ++i) gain[i] = MergeGain(runs[i], runs[i + 1], isShort);
        while (n > 1) {
            int bestI = 0;
            for (int i = 1; i + 1 < n; ++i)
                if (gain[i] > gain[bestI]) bestI = i;
            if (gain[bestI] <= 0) break;
            Merge(&runs[bestI], runs[bestI + 1], isShort);
            for (int i = bestI + 1; i + 1 < n; ++i) {
                runs[i] = runs[i + 1];
                gain[i] = gain[i + 1];
            }
            --n;
            if (bestI > 0) gain[bestI - 1] = MergeGain(runs[bestI - 1], runs[bestI], isShort);
            if (bestI + 1 < n) gain[bestI] = MergeGain(runs[bestI], runs[bestI + 1], isShort);
        }
        for (int i = 0; i < n; ++i) {
            AacSection& s = out->section[out->sectionCount++];
            s.codebook = runs[i].book;
            s.sfbStart = runs[i].start;
            s.sfbCount = runs[i].count;
            s.bits = runs[i].cost;
            const int32_t side = AacSectionSideInfo(runs[i].count, isShort);
            out->sideInfoBits += side;
            out->huffmanBits += runs[i].cost - side;
        }
    }
    return out->huffmanBits + out->sideInfoBits;
}

int32_t AacScalefactorBits(AacSectionData* sections, const int32_t* sfbMaxVal, const int16_t* scfOffset) {
    sections->firstScf = -1;
    int32_t bits = 0;
    int previous = 0;
    for (int i = 0; i < sections->sectionCount; ++i) {
        const AacSection& s = sections->section[i];
        if (s.codebook == 0) continue;
        for (int b = s.sfbStart; b < s.sfbStart + s.sfbCount; ++b) {
            if (sections->firstScf < 0) {
                sections->firstScf = b;
                previous = scfOffset[b];
            }
            int delta = 0;
            if (sfbMaxVal[b] != 0) {
                delta = previous - scfOffset[b];
                previous = scfOffset[b];
            }
            if (delta < -60 || delta > 60) return kAacInvalidBits;
            bits += kAacScalefactorCodeLengths[delta + 60];
        }
    }
    sections->scalefactorBits = bits;
    return bits;
}

}  // namespace aurivane
