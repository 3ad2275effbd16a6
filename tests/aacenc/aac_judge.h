// Our core decoder as the judge of the encoder's access units: one unit per
// call on a clean bit buffer, as the decoder filter feeds it.
#ifndef AURIVANE_TESTS_AACENC_AAC_JUDGE_H
#define AURIVANE_TESTS_AACENC_AAC_JUDGE_H

#include "aacdec/aac_core_decoder.h"

#include <cstdint>

namespace aurivane::enctest {

struct Judge {
    explicit Judge(int rate) {
        BitBufferCreate(&bits, storage, sizeof(storage));
        AacCoreDecoderOpen(&dec, &bits, &sbr, time);
        AacCoreDecoderConfigure(&dec, rate, 0);
    }
    // Status of the frame; *exact is false when the parse over- or under-read.
    int Decode(const uint8_t* au, int bytes, bool* exact) {
        BitBufferAttach(&bits, storage, sizeof(storage));
        for (int i = 0; i < bytes; ++i) BitBufferWrite(&bits, au[i], 8);
        sbr.count = 0;
        int frameSize, rate, channels, mode;
        const int status = AacCoreDecodeFrame(&dec, &frameSize, &rate, &channels, &mode, 1);
        *exact = BitBufferCount(&bits) == 0;
        return status;
    }
    AacCoreDecoder dec{};
    BitBuffer bits{};
    SbrPayloadList sbr{};
    uint8_t storage[1536]{};
    float time[4096]{};  // output of the previous call
};

}  // namespace aurivane::enctest

#endif
