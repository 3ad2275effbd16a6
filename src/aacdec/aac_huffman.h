// Codeword decoding through the two-level lookup tables of aac_tables.h:
// one peek of the longest codeword's width, at most two table reads, then
// the codeword's own length consumed.
#ifndef AURIVANE_AACDEC_AAC_HUFFMAN_H
#define AURIVANE_AACDEC_AAC_HUFFMAN_H

#include "dsp/aac_tables.h"
#include "dsp/bit_buffer.h"

namespace aurivane {

// The next `width` bits without consuming them. Past the written data the
// bits are whatever the storage holds, as a read there would see them.
inline uint32_t HuffmanPeek(const BitBuffer* bits, int32_t width) {
    BitBuffer ahead = *bits;
    return BitBufferRead(&ahead, width);
}

// Packed leaf value of the next codeword. The codes are complete, so any
// bit pattern ends at a leaf, and only the codeword's bits are consumed.
inline int32_t HuffmanDecodeLeaf(BitBuffer* bits, const uint32_t* lookup) {
    const uint32_t window = HuffmanPeek(bits, kHuffmanPeekBits);
    uint32_t entry = lookup[window >> (kHuffmanPeekBits - kHuffmanRootBits)];
    int32_t used = 0;
    if (entry & 32u) {
        const uint32_t subBits = entry & 31u;
        const uint32_t index = (window >> (kHuffmanPeekBits - kHuffmanRootBits - subBits)) & ((1u << subBits) - 1u);
        entry = lookup[(entry >> 6) + index];
        used = kHuffmanRootBits;
    }
    BitBufferRead(bits, used + static_cast<int32_t>(entry & 31u));
    return static_cast<int32_t>(entry >> 6);
}

// Scalefactor codebook: 0..120, 60 meaning no change.
inline int32_t HuffmanDecodeScalefactor(BitBuffer* bits) {
    return HuffmanDecodeLeaf(bits, kScalefactorCodebook.lookup);
}

// Unpacks one spectral codeword into book.dimension values (before signs
// and escapes).
inline void HuffmanDecodeSpectral(BitBuffer* bits, const HuffmanCodebook& book, int32_t* values) {
    const int32_t leaf = HuffmanDecodeLeaf(bits, book.lookup);
    const int32_t mask = (1 << book.bits) - 1;
    for (int32_t k = 0; k < book.dimension; ++k) values[k] = ((leaf >> (k * book.bits)) & mask) - book.offset;
}

}  // namespace aurivane

#endif
