// Noiseless coding cost: per-band bit counts in every spectral codebook (two
// books per pass through the paired code-length tables), sectioning with
// greedy merging, and the scalefactor bits of a frame. Keeps no state.
#ifndef AURIVANE_AACENC_AAC_SECTION_H
#define AURIVANE_AACENC_AAC_SECTION_H

#include "aacenc/aac_psy_output.h"

#include <cstdint>

namespace aurivane {

inline constexpr int32_t kAacInvalidBits = 0x1FFFFFFF;  // book cannot hold the band
inline constexpr int kAacNumBooks = 12;                  // 0 (zero band) .. 11 (escape)
inline constexpr int kAacMaxQuant = 8191;                // largest codable magnitude

struct AacSection {
    int32_t codebook;
    int32_t sfbStart;  // band index in the grouped band list
    int32_t sfbCount;
    int32_t bits;      // Huffman bits plus section side information
};

struct AacSectionData {
    int32_t isShort;
    int32_t sfbCnt;
    int32_t sfbPerGroup;
    int32_t maxSfbPerGroup;
    int32_t sectionCount;
    AacSection section[kAacMaxGroupedBands];
    int32_t huffmanBits;
    int32_t sideInfoBits;
    int32_t scalefactorBits;
    int32_t firstScf;  // first band inside a section with a non-zero book, -1 if none
};

// Bits of one band of `width` lines (a multiple of 4) in every book; books
// that cannot hold maxVal get kAacInvalidBits, book 0 costs 0 only for an
// all-zero band. Sign bits of the unsigned books and escape sequences of
// book 11 are included.
void AacCountBandBits(const int16_t* q, int width, int maxVal, int32_t bits[kAacNumBooks]);

// section_data cost of one section of n bands.
inline int32_t AacSectionSideInfo(int n, bool isShort) {
    return isShort ? 4 + 3 * (n / 7 + 1) : 4 + 5 * (n / 31 + 1);
}

// Chooses sections and books for bands 0 .. maxSfb - 1 of every group.
// sfbMaxVal holds each grouped band's largest magnitude. Fills `out` except
// the scalefactor fields; returns Huffman plus side-information bits.
int32_t AacBuildSections(const int16_t* quant, const int32_t* sfbOffset, const int32_t* sfbMaxVal, int sfbCnt,
                         int sfbPerGroup, int maxSfb, bool isShort, AacSectionData* out);

// scale_factor_data bits for the chosen sections: deltas between the
// offsets of successive bands that carry values (0 for all-zero bands).
// Also sets firstScf. A delta outside -60..60 costs kAacInvalidBits.
int32_t AacScalefactorBits(AacSectionData* sections, const int32_t* sfbMaxVal, const int16_t* scfOffset);

}  // namespace aurivane

#endif
