// Codeword decoding through the two-level lookup tables of aac_tables.h:
// one 32-bit peek, at most two table reads, then the codeword's own length
// consumed.
#ifndef AURIVANE_AACDEC_AAC_HUFFMAN_H
#define AURIVANE_AACDEC_AAC_HUFFMAN_H

#include "dsp/aac_tables.h"
#include "dsp/bit_buffer.h"

#include <cstddef>

namespace aurivane {

// The next 32 bits, first bit most significant, without consuming them.
// Past the written data the bits are whatever the storage holds, as reads
// there would see them; the circular storage wraps as in BitBufferRead.
inline uint32_t HuffmanPeek32(const BitBuffer* bits) {
    const uint8_t* p = bits->readByte;
    const int32_t skip = 7 - bits->readBit;
    if (bits->end - p >= 7) {
        uint64_t word = 0;
        for (int32_t i = 0; i < 8; ++i) word = (word << 8) | p[i];  // one 64-bit load and byte swap
        return static_cast<uint32_t>((word << skip) >> 32);
    }
    uint64_t word = 0;
    for (int32_t i = 0; i < 5; ++i) {
        word = (word << 8) | *p;
        p = (p == bits->end) ? bits->start : p + 1;
    }
    return static_cast<uint32_t>((word << (24 + skip)) >> 32);
}

// Consumes `count` bits (0..32), as BitBufferRead would.
inline void HuffmanConsume(BitBuffer* bits, int32_t count) {
    const int32_t position = 7 - bits->readBit + count;
    const std::ptrdiff_t capacity = bits->end - bits->start + 1;
    std::ptrdiff_t at = (bits->readByte - bits->start) + (position >> 3);
    if (at >= capacity) at -= capacity;
    bits->readByte = bits->start + at;
    bits->readBit = 7 - (position & 7);
    bits->bitCount -= count;
}

// The leaf entry of the codeword at the top of `window`; *used receives its
// length. The codes are complete, so any bit pattern ends at a leaf.
inline uint32_t HuffmanLookup(const uint32_t* lookup, uint32_t window, int32_t* used) {
    uint32_t entry = lookup[window >> (32 - kHuffmanRootBits)];
    int32_t length = 0;
    if (entry & 32u) {
        const uint32_t subBits = entry & 31u;
        entry = lookup[(entry >> 6) + ((window << kHuffmanRootBits) >> (32 - subBits))];
        length = kHuffmanRootBits;
    }
    *used = length + static_cast<int32_t>(entry & 31u);
    return entry >> 6;
}

// Packed leaf value of the next codeword; only the codeword's bits are
// consumed.
inline int32_t HuffmanDecodeLeaf(BitBuffer* bits, const uint32_t* lookup) {
    int32_t used = 0;
    const uint32_t leaf = HuffmanLookup(lookup, HuffmanPeek32(bits), &used);
    HuffmanConsume(bits, used);
    return static_cast<int32_t>(leaf);
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
