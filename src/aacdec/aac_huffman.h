// Codeword decoding through the two-bit trees of aac_tables.h.
#ifndef AURIVANE_AACDEC_AAC_HUFFMAN_H
#define AURIVANE_AACDEC_AAC_HUFFMAN_H

#include "dsp/aac_tables.h"
#include "dsp/bit_buffer.h"

namespace aurivane {

// Packed leaf value of the next codeword. The trees are complete and finite,
// so any bit pattern ends at a leaf.
inline int32_t HuffmanDecodeLeaf(BitBuffer* bits, const uint16_t* tree) {
    uint32_t node = 0;
    for (;;) {
        const uint32_t entry = tree[node * 4 + BitBufferRead(bits, 2)];
        if (entry & 1u) {
            if (entry & 2u) BitBufferSkip(bits, -1);
            return static_cast<int32_t>(entry >> 2);
        }
        node = entry >> 2;
    }
}

// Scalefactor codebook: 0..120, 60 meaning no change.
inline int32_t HuffmanDecodeScalefactor(BitBuffer* bits) {
    return HuffmanDecodeLeaf(bits, kScalefactorCodebook.tree);
}

// Unpacks one spectral codeword into book.dimension values (before signs
// and escapes).
inline void HuffmanDecodeSpectral(BitBuffer* bits, const HuffmanCodebook& book, int32_t* values) {
    const int32_t leaf = HuffmanDecodeLeaf(bits, book.tree);
    const int32_t mask = (1 << book.bits) - 1;
    for (int32_t k = 0; k < book.dimension; ++k) values[k] = ((leaf >> (k * book.bits)) & mask) - book.offset;
}

}  // namespace aurivane

#endif
