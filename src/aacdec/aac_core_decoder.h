// AAC-LC core decoder: one raw_data_block (ISO/IEC 14496-3) per call from a
// BitBuffer into 1024 time samples per channel, with frame concealment.
// All state lives in the instance, so decoders may run on several threads.
#ifndef AURIVANE_AACDEC_AAC_CORE_DECODER_H
#define AURIVANE_AACDEC_AAC_CORE_DECODER_H

#include "aacdec/aac_channel.h"
#include "aacdec/aac_concealment.h"
#include "aacdec/aac_filterbank.h"
#include "dsp/bit_buffer.h"
#include "aacdec/sbr_payload.h"

#include <cstdint>

namespace aurivane {

class AacCoreDecoder {
public:
    // Stream configuration.
    int32_t rateIndex;
    int32_t sampleRate;
    int32_t channels;  // channel count of the last valid frame
    int32_t parameter;
    int32_t frameLength;

    // Per frame.
    uint8_t frameValid;
    int32_t anchor;  // BitBufferCount at the last byte alignment

    BitBuffer* bits;
    SbrPayloadList* sbr;
    float* timeBuffer;  // 4096 floats, channel c at 1024 * c

    ChannelStream channel[2];
    ConcealmentState concealment[2];
    OverlapState overlap[2];
    NoiseGenerator noise;
};

// Resets the instance and binds it to its input, its SBR payload list and
// its output. Returns the instance (null only for a null instance).
AacCoreDecoder* AacCoreDecoderOpen(AacCoreDecoder* instance, BitBuffer* bits, SbrPayloadList* sbr,
                                   float* timeBuffer);

// 0, or -1 for a null instance or an unsupported rate (48000, 44100, 32000,
// 24000, 22050, 16000, 12000, 11025 and 8000 Hz are supported).
int AacCoreDecoderConfigure(AacCoreDecoder* instance, int sampleRate, int parameter);

// Decodes the next raw_data_block. Outputs: frame size 1024, the configured
// rate, the channel count and the channel mode (0 one, 1 two channels).
// Returns 0 on success; the caller's frameValid when the frame held no
// channel element; 2, 3, 5, 6, 8, 9 or 10 for parse errors (see AacStatus).
// The time buffer always receives a frame (concealed when not valid),
// delayed by one call.
int AacCoreDecodeFrame(AacCoreDecoder* instance, int* frameSize, int* sampleRate, int* channels, int* channelMode,
                       int frameValid);

}  // namespace aurivane

#endif
