// Circular, most-significant-bit-first bit reader and writer over storage
// the caller owns. Read and write positions are independent so a producer
// and a consumer can alternate on one buffer without copying.
#ifndef AURIVANE_DSP_BIT_BUFFER_H
#define AURIVANE_DSP_BIT_BUFFER_H

#include <cstdint>

namespace aurivane {

struct BitBuffer {
    uint8_t* start;      // first storage byte
    uint8_t* end;        // last storage byte (inclusive)
    uint8_t* readByte;   // byte holding the next bit to read
    uint8_t* writeByte;  // byte receiving the next bit written
    int32_t readBit;     // 7 (MSB) down to 0
    int32_t writeBit;    // 7 (MSB) down to 0
    int32_t bitCount;    // written minus read bits; negative after an over-read
    int32_t capacityBits;
    int32_t inUse;
};

BitBuffer* BitBufferCreate(BitBuffer* buffer, uint8_t* storage, uint32_t capacityBytes);
// Like create, but keeps capacityBits and inUse.
BitBuffer* BitBufferAttach(BitBuffer* buffer, uint8_t* storage, uint32_t capacityBytes);
// Marks the record unused and clears the handle.
void BitBufferDelete(BitBuffer** handle);
// Copies storage contents, positions (as offsets), bit indices, count and
// in-use flag; both buffers have the same capacity.
void BitBufferCopy(const BitBuffer* source, BitBuffer* destination);

inline int32_t BitBufferCount(const BitBuffer* buffer) { return buffer->bitCount; }

// Next `width` bits (1..24), first bit most significant. Wider reads return
// 0 and consume nothing.
inline uint32_t BitBufferRead(BitBuffer* buffer, int32_t width) {
    if (width <= 0 || width > 24) return 0;
    buffer->bitCount -= width;
    int32_t bit = buffer->readBit - width;
    uint8_t* p = buffer->readByte;
    uint32_t value = *p;
    while (bit < 0) {
        bit += 8;
        p = (p == buffer->end) ? buffer->start : p + 1;
        value = (value << 8) | *p;
    }
    buffer->readByte = p;
    buffer->readBit = bit;
    // The wanted bits end just above `bit`; at most 32 bits are in `value`.
    return (value << (31 - width - bit)) >> (32 - width);
}

// Appends the low `width` bits (0..32) of value, most significant first.
int32_t BitBufferWrite(BitBuffer* buffer, uint32_t value, int32_t width);

// Moves the read position by `bits` (backward when negative).
void BitBufferSkip(BitBuffer* buffer, int32_t bits);

}  // namespace aurivane

#endif
