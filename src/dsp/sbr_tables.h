// Fixed tables of the SBR tool (ISO/IEC 14496-3, 4.6.18 and annex 4.A),
// generated into sbr_tables.cpp by tools/gen/sbr_tables.py.
#ifndef AURIVANE_DSP_SBR_TABLES_H
#define AURIVANE_DSP_SBR_TABLES_H

#include <cstdint>

namespace aurivane {

// A prefix code as a binary decoding tree. tree[node][bit] >= 0 is the next
// node, < 0 the leaf -(index + 1); index = value + lav.
struct HuffmanBook {
    const int16_t (*tree)[2];
    const uint8_t* lengths;
    const uint32_t* codes;
    int32_t count;
    int32_t lav;
};

enum SbrBook {
    kSbrBookTEnv15 = 0,
    kSbrBookFEnv15,
    kSbrBookTEnvBal15,
    kSbrBookFEnvBal15,
    kSbrBookTEnv30,
    kSbrBookFEnv30,
    kSbrBookTEnvBal30,
    kSbrBookFEnvBal30,
    kSbrBookTNoise30,
    kSbrBookTNoiseBal30,
    kSbrBookCount
};

extern const float kSbrQmfWindow[640];
extern const float kSbrNoiseTable[512][2];
// k0 offsets per bs_start_freq for the rate classes 16000, 22050, 24000,
// 32000, 44100..64000 and above 64000 Hz.
extern const int8_t kSbrStartOffsets[6][16];
extern const HuffmanBook kSbrHuffmanBooks[kSbrBookCount];

}  // namespace aurivane

#endif
