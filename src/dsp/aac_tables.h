// Fixed tables of AAC-LC decoding: Huffman lookup tables and scalefactor
// band offsets (generated, see tools/gen/aac_tables.py).
#ifndef AURIVANE_DSP_AAC_TABLES_H
#define AURIVANE_DSP_AAC_TABLES_H

#include <cstdint>

namespace aurivane {

// A codebook as a two-level lookup table. The root holds 2^kHuffmanRootBits
// entries indexed by the next bits of the stream; a codeword longer than
// that continues in a subtable indexed by the bits after the root's.
// Entry bits 0-4: bits used at its level (leaf) or subtable index bits
// (link); bit 5: link; bits 6 and up: value (leaf) or subtable offset.
// Value k of a leaf is bits [k*bits, k*bits + bits) minus offset (value 0
// lowest).
inline constexpr int kHuffmanRootBits = 8;
inline constexpr int kHuffmanPeekBits = 19;  // longest codeword of any book

struct HuffmanCodebook {
    const uint32_t* lookup;
    int32_t dimension;  // values per codeword: 1, 2 or 4
    int32_t bits;       // bits per packed value
    int32_t offset;     // subtracted from each unpacked value
    int32_t isSigned;   // 0: magnitudes, sign bits follow the codeword
};

extern const HuffmanCodebook kScalefactorCodebook;
// Index 1..11 are the spectral codebooks; index 0 is empty.
extern const HuffmanCodebook kSpectralCodebooks[12];

inline constexpr int kNumRates = 9;

struct BandTable {
    int32_t rate;
    const uint16_t* longOffsets;   // numLong + 1 entries, last is 1024
    int32_t numLong;
    const uint16_t* shortOffsets;  // numShort + 1 entries, last is 128
    int32_t numShort;
};

// Indexed by the decoder's sampling-rate index: 48000, 44100, 32000, 24000,
// 22050, 16000, 12000, 11025, 8000 Hz.
extern const BandTable kBandTables[kNumRates];

// Signs of the real parts of the 512-entry SBR noise table: bit i % 32 of
// word i / 32 is set when entry i is negative.
extern const uint32_t kConcealmentSigns[16];

}  // namespace aurivane

#endif
