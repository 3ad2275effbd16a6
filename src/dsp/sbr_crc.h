// The 10-bit CRC of SBR extension data (bs_sbr_crc_bits, ISO/IEC 14496-3):
// x^10 + x^9 + x^5 + x^4 + x + 1, register starting at 0, most significant
// bit first. The encoder writes it, the decoder checks it.
#ifndef AURIVANE_DSP_SBR_CRC_H
#define AURIVANE_DSP_SBR_CRC_H

#include <cstdint>

namespace aurivane {

// CRC over `bitCount` bits of `data` starting at bit `firstBit` (bit 0 is
// the most significant bit of the first byte).
uint32_t SbrCrc10(const uint8_t* data, int firstBit, int bitCount);

}  // namespace aurivane

#endif
