#include "dsp/bit_buffer.h"

#include <cstring>

namespace aurivane {

namespace {

uint8_t* Advance(const BitBuffer* b, uint8_t* p) { return (p == b->end) ? b->start : p + 1; }

}  // namespace

BitBuffer* BitBufferCreate(BitBuffer* buffer, uint8_t* storage, uint32_t capacityBytes) {
    BitBufferAttach(buffer, storage, capacityBytes);
    buffer->capacityBits = static_cast<int32_t>(capacityBytes * 8u);
    buffer->inUse = 1;
    return buffer;
}

BitBuffer* BitBufferAttach(BitBuffer* buffer, uint8_t* storage, uint32_t capacityBytes) {
    buffer->start = storage;
    buffer->end = storage + capacityBytes - 1;
    buffer->readByte = storage;
    buffer->writeByte = storage;
    buffer->readBit = 7;
    buffer->writeBit = 7;
    buffer->bitCount = 0;
    return buffer;
}

void BitBufferDelete(BitBuffer** handle) {
    if (handle == nullptr || *handle == nullptr) return;
    (*handle)->inUse = 0;
    *handle = nullptr;
}

void BitBufferCopy(const BitBuffer* source, BitBuffer* destination) {
    const std::size_t capacity = static_cast<std::size_t>(source->end - source->start) + 1;
    std::memmove(destination->start, source->start, capacity);
    destination->readByte = destination->start + (source->readByte - source->start);
    destination->writeByte = destination->start + (source->writeByte - source->start);
    destination->readBit = source->readBit;
    destination->writeBit = source->writeBit;
    destination->bitCount = source->bitCount;
    destination->inUse = source->inUse;
}

int32_t BitBufferWrite(BitBuffer* buffer, uint32_t value, int32_t width) {
    if (width <= 0) return 0;
    if (width > 32) width = 32;
    buffer->bitCount += width;
    int32_t remaining = width;
    uint8_t* p = buffer->writeByte;
    int32_t bit = buffer->writeBit;
    while (remaining > 0) {
        const int32_t k = (bit + 1 < remaining) ? bit + 1 : remaining;
        // The k most significant of the `remaining` low bits of value.
        const uint32_t chunk = static_cast<uint32_t>((static_cast<uint64_t>(value) >> (remaining - k)) &
                                                     ((1u << k) - 1u));
        const int32_t shift = bit + 1 - k;
        const uint32_t mask = ((1u << k) - 1u) << shift;
        *p = static_cast<uint8_t>((*p & ~mask) | (chunk << shift));
        bit -= k;
        remaining -= k;
        if (bit < 0) {
            bit += 8;
            p = Advance(buffer, p);
        }
    }
    buffer->writeByte = p;
    buffer->writeBit = bit;
    return width;
}

void BitBufferSkip(BitBuffer* buffer, int32_t bits) {
    if (bits == 0) return;
    const int64_t capacity = static_cast<int64_t>(buffer->end - buffer->start) + 1;
    const int64_t index = static_cast<int64_t>(buffer->readBit) - bits;
    // Floor division: negative when moving forward.
    int64_t wholeBytes = index / 8;
    int64_t rest = index % 8;
    if (rest < 0) {
        rest += 8;
        wholeBytes -= 1;
    }
    int64_t offset = (buffer->readByte - buffer->start) - wholeBytes;
    offset %= capacity;
    if (offset < 0) offset += capacity;
    buffer->readByte = buffer->start + offset;
    buffer->readBit = static_cast<int32_t>(rest);
    buffer->bitCount -= bits;
}

}  // namespace aurivane
