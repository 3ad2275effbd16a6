// Encoder view of the AAC noiseless coding books (ISO/IEC 14496-3 Tables
// 4.A.1 to 4.A.12): codewords and code lengths by codebook index, and code
// lengths of two neighbouring books packed per entry so that a band's cost
// in both books is summed in one pass (generated, see tools/gen/aac_tables.py).
#ifndef AURIVANE_DSP_AAC_HUFFMAN_CODES_H
#define AURIVANE_DSP_AAC_HUFFMAN_CODES_H

#include <cstdint>

namespace aurivane {

// Scalefactor book: index = delta + 60, delta -60 .. 60.
extern const uint32_t* const kAacScalefactorCodewords;
extern const uint8_t* const kAacScalefactorCodeLengths;

// Spectral books 1 .. 11 (entry 0 null). Index as in the standard: books 1
// to 4 are quads of 3 digits, books 5 to 11 pairs with modulo 9, 8, 8, 13,
// 13, 17; signed books offset each value by 1 (books 1, 2) or 4 (books 5, 6).
extern const uint32_t* const kAacSpectralCodewords[12];
extern const uint8_t* const kAacSpectralCodeLengths[12];

// Length in book a << 16 | length in book a + 1.
extern const uint32_t kAacPairedLengths1_2[81];
extern const uint32_t kAacPairedLengths3_4[81];
extern const uint32_t kAacPairedLengths5_6[81];
extern const uint32_t kAacPairedLengths7_8[64];
extern const uint32_t kAacPairedLengths9_10[169];

}  // namespace aurivane

#endif
