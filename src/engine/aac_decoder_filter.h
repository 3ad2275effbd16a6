// AacDecoder: decodes an AacPacketStream ([1-byte length][raw data block]
// records) to 16-bit interleaved stereo and hands each call's PCM to its
// sinks in one delivery.
#ifndef AURIVANE_ENGINE_AAC_DECODER_FILTER_H
#define AURIVANE_ENGINE_AAC_DECODER_FILTER_H

#include "aacdec/aac_core_decoder.h"
#include "dsp/bit_buffer.h"
#include "aacdec/sbr_payload.h"
#include "engine/sink_list.h"

#include <aurivane/aurivane.h>

#include <cstdint>

namespace aurivane {

struct SbrDecoder;

// Float sample at the 16-bit scale to PCM: clamped to [-32768, 32767],
// truncated toward zero; NaN becomes 0.
int16_t AacPcmFromFloat(float value);

class AacDecoderFilter final : public AacDecoderInterface {
public:
    static constexpr uint32_t kOutputBytes = 1764000;
    static constexpr uint32_t kBitBufferBytes = 1536;

    AacDecoderFilter();
    ~AacDecoderFilter();
    bool HasSbrStorage() const { return sbrStorage_ != nullptr; }

    int32_t Process(const void* data, uint32_t byteCount) override;
    int32_t AddSink(AudioSink* sink) override;
    int32_t RemoveSink(AudioSink* sink) override;
    int32_t Open(int32_t parameter) override;

    const SinkList& Sinks() const { return sinks_; }

private:
    // Decodes one record into the output area at `*offset`; false on failure.
    bool DecodeRecord(const uint8_t* payload, uint32_t length, uint32_t* offset);
    // SBR and parametric stereo of the current frame (steps 4 and 5 of the
    // record loop); may double the frame size and the rate, and raise the
    // channel count to 2.
    void ApplySbr(int* frameSize, int* sampleRate, int* channels);

    SinkList sinks_;
    float time_[4096];
    int16_t staging_[4096];
    uint8_t output_[kOutputBytes];
    BitBuffer bitBuffer_;
    BitBuffer* bits_;
    SbrPayloadList sbrPayloads_;
    AacCoreDecoder* core_;
    SbrDecoder* sbrStorage_;  // allocated once with the filter
    SbrDecoder* sbr_;         // sbrStorage_ while an SBR decoder is open
    int32_t parameter_;
    uint8_t bitStorage_[6144];
    AacCoreDecoder coreInstance_;
};

}  // namespace aurivane

#endif
