#include "dsp/bit_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace aurivane;

TEST(BitBuffer, CreateAttachDelete) {
    uint8_t storage[16] = {};
    BitBuffer b;
    BitBuffer* handle = BitBufferCreate(&b, storage, 16);
    EXPECT_EQ(handle, &b);
    EXPECT_EQ(b.start, storage);
    EXPECT_EQ(b.end, storage + 15);
    EXPECT_EQ(b.readBit, 7);
    EXPECT_EQ(b.writeBit, 7);
    EXPECT_EQ(b.capacityBits, 128);
    EXPECT_EQ(b.inUse, 1);

    uint8_t other[4] = {};
    BitBufferWrite(&b, 0x3, 2);
    BitBufferAttach(&b, other, 4);
    EXPECT_EQ(b.start, other);
    EXPECT_EQ(b.end, other + 3);
    EXPECT_EQ(b.writeByte, other);
    EXPECT_EQ(b.bitCount, 0);
    EXPECT_EQ(b.capacityBits, 128);  // attach keeps capacity and in-use
    EXPECT_EQ(b.inUse, 1);

    BitBufferDelete(&handle);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(b.inUse, 0);
    BitBufferDelete(&handle);  // a cleared handle is ignored
}

TEST(BitBuffer, MsbFirstWriteAndRead) {
    uint8_t storage[8] = {};
    BitBuffer b;
    BitBufferCreate(&b, storage, 8);
    EXPECT_EQ(BitBufferWrite(&b, 0b101, 3), 3);
    EXPECT_EQ(BitBufferWrite(&b, 0xFF, 8), 8);
    EXPECT_EQ(storage[0], 0xBF);
    EXPECT_EQ(storage[1] & 0xE0, 0xE0);
    EXPECT_EQ(BitBufferCount(&b), 11);
    EXPECT_EQ(BitBufferRead(&b, 3), 5u);
    EXPECT_EQ(BitBufferRead(&b, 8), 255u);
    EXPECT_EQ(BitBufferCount(&b), 0);
    EXPECT_EQ(BitBufferWrite(&b, 0xFFFFFFFF, 0), 0);
    EXPECT_EQ(BitBufferCount(&b), 0);
}

TEST(BitBuffer, WriteKeepsNeighbouringBits) {
    uint8_t storage[2] = {0xFF, 0xFF};
    BitBuffer b;
    BitBufferCreate(&b, storage, 2);
    BitBufferWrite(&b, 0, 3);
    EXPECT_EQ(storage[0], 0x1F);  // bits below the field untouched
    BitBufferWrite(&b, 0, 7);
    EXPECT_EQ(storage[0], 0x00);
    EXPECT_EQ(storage[1], 0x3F);
}

TEST(BitBuffer, WrapsAroundTheStorage) {
    uint8_t storage[4] = {};
    BitBuffer b;
    BitBufferCreate(&b, storage, 4);
    for (uint32_t i = 0; i < 5; ++i) BitBufferWrite(&b, 0x10 + i, 8);
    EXPECT_EQ(BitBufferCount(&b), 40);
    EXPECT_EQ(storage[0], 0x14);  // fifth byte landed in the first
    EXPECT_EQ(b.writeByte, storage + 1);

    // Reads across the wrap: 32-bit write, 24-bit read starting at bit 0.
    BitBufferCreate(&b, storage, 4);
    BitBufferWrite(&b, 0xAB, 8);
    BitBufferWrite(&b, 0xCD, 8);
    BitBufferWrite(&b, 0xEF, 8);
    EXPECT_EQ(BitBufferRead(&b, 7), 0xABu >> 1);
    EXPECT_EQ(b.readBit, 0);
    BitBufferWrite(&b, 0x12, 8);  // storage[3]
    BitBufferWrite(&b, 0x34, 8);  // wraps to storage[0]
    // The wrapped write replaced byte 0, unread bit included (writes never
    // check the read position); from bit 0 of byte 0 the read spans bytes 0..3.
    EXPECT_EQ(BitBufferRead(&b, 24), ((0x34u & 1u) << 23) | (0xCDu << 15) | (0xEFu << 7) | (0x12u >> 1));
    EXPECT_EQ(BitBufferRead(&b, 9), ((0x12u & 1u) << 8) | 0x34u);
    EXPECT_EQ(BitBufferCount(&b), 0);
}

TEST(BitBuffer, WideReadsAndOverReads) {
    uint8_t storage[8] = {0x80, 0, 0, 0, 0, 0, 0, 0};
    BitBuffer b;
    BitBufferCreate(&b, storage, 8);
    b.bitCount = 64;
    EXPECT_EQ(BitBufferRead(&b, 25), 0u);  // too wide: nothing consumed
    EXPECT_EQ(BitBufferCount(&b), 64);
    EXPECT_EQ(b.readBit, 7);

    BitBufferCreate(&b, storage, 8);
    BitBufferRead(&b, 12);
    EXPECT_EQ(BitBufferCount(&b), -12);  // read past the written data
    BitBufferWrite(&b, 0xFFF, 12);
    EXPECT_EQ(BitBufferCount(&b), 0);
    BitBufferWrite(&b, 1, 1);
    EXPECT_EQ(BitBufferCount(&b), 1);
}

TEST(BitBuffer, SkipBothWaysWithWrap) {
    uint8_t storage[4] = {};
    BitBuffer b;
    BitBufferCreate(&b, storage, 4);
    BitBufferWrite(&b, 0x5A, 8);
    BitBufferWrite(&b, 0xC3, 8);
    EXPECT_EQ(BitBufferRead(&b, 8), 0x5Au);
    BitBufferSkip(&b, -8);  // the same byte is readable again
    EXPECT_EQ(BitBufferCount(&b), 16);
    EXPECT_EQ(BitBufferRead(&b, 8), 0x5Au);
    BitBufferSkip(&b, 0);
    EXPECT_EQ(BitBufferCount(&b), 8);
    BitBufferSkip(&b, 3);
    EXPECT_EQ(BitBufferRead(&b, 5), 0x03u);

    // Backwards from the start wraps to the end.
    BitBufferCreate(&b, storage, 4);
    storage[3] = 0x81;
    BitBufferSkip(&b, -1);
    EXPECT_EQ(b.readByte, storage + 3);
    EXPECT_EQ(b.readBit, 0);
    EXPECT_EQ(BitBufferRead(&b, 1), 1u);
    EXPECT_EQ(b.readByte, storage);
    // Forward past the end wraps to the start.
    BitBufferSkip(&b, 4 * 8 * 3 + 9);
    EXPECT_EQ(b.readByte, storage + 1);
    EXPECT_EQ(b.readBit, 6);
}

TEST(BitBuffer, CopyKeepsPositionsRelative) {
    uint8_t a[8] = {}, c[8] = {};
    BitBuffer src, dst;
    BitBufferCreate(&src, a, 8);
    BitBufferCreate(&dst, c, 8);
    BitBufferWrite(&src, 0xDEADBEEF, 32);
    BitBufferRead(&src, 5);
    BitBufferCopy(&src, &dst);
    EXPECT_EQ(dst.start, c);
    EXPECT_EQ(dst.readByte - dst.start, src.readByte - src.start);
    EXPECT_EQ(dst.writeByte - dst.start, src.writeByte - src.start);
    EXPECT_EQ(BitBufferCount(&dst), 27);
    EXPECT_EQ(BitBufferRead(&dst, 24), BitBufferRead(&src, 24));
}

TEST(BitBuffer, RandomRoundTripAcrossManyWraps) {
    std::mt19937 rng(7);
    uint8_t storage[13];
    BitBuffer b;
    BitBufferCreate(&b, storage, sizeof storage);
    for (int round = 0; round < 20000; ++round) {
        const int width = 1 + static_cast<int>(rng() % 24);
        const uint32_t value = rng() & ((1u << width) - 1u);
        BitBufferWrite(&b, value | (rng() << width), width);  // high garbage ignored
        ASSERT_EQ(BitBufferRead(&b, width), value) << "round " << round;
        ASSERT_EQ(BitBufferCount(&b), 0);
    }
    BitBufferWrite(&b, 0xA5A5A5A5u, 32);
    EXPECT_EQ(BitBufferRead(&b, 16), 0xA5A5u);
    EXPECT_EQ(BitBufferRead(&b, 16), 0xA5A5u);
}

}  // namespace
