#include "dsp/sbr_crc.h"

namespace aurivane {

uint32_t SbrCrc10(const uint8_t* data, int firstBit, int bitCount) {
    uint32_t crc = 0;
    for (int i = firstBit; i < firstBit + bitCount; ++i) {
        const uint32_t bit = (data[i >> 3] >> (7 - (i & 7))) & 1u;
        const uint32_t feedback = ((crc >> 9) & 1u) ^ bit;
        crc = (crc << 1) & 0x3FFu;
        if (feedback) crc ^= 0x233u;
    }
    return crc;
}

}  // namespace aurivane
