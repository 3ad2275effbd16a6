// AacEncoder: codes 16-bit PCM (two interleaved channels, or one that feeds
// both parametric-stereo inputs) at 32000, 44100 or 48000 Hz into an
// AacPacketStream of [1-byte length][access unit] records, HE-AAC with
// parametric stereo. Owns its SBR encoder and AAC-LC core; carries the
// bytes of a call that do not fill a frame over to the next call.
#ifndef AURIVANE_ENGINE_AAC_ENCODER_FILTER_H
#define AURIVANE_ENGINE_AAC_ENCODER_FILTER_H

#include <aurivane/aurivane.h>

#include <cstdint>

#include "aacenc/aac_core_encoder.h"
#include "engine/sink_list.h"
#include "sbrenc/sbr_encoder.h"

namespace aurivane {

class AacEncoderFilter final : public AacEncoderInterface {
public:
    static constexpr uint32_t kStreamBytes = 122896;
    // A record's length is one byte.
    static constexpr int32_t kMaxAccessUnitBytes = 255;
    static constexpr int kFramePeriods = 2048;  // input sample periods per access unit

    AacEncoderFilter();
    ~AacEncoderFilter();
    AacEncoderFilter(const AacEncoderFilter&) = delete;
    AacEncoderFilter& operator=(const AacEncoderFilter&) = delete;

    int32_t Process(const void* data, uint32_t byteCount) override;
    int32_t AddSink(AudioSink* sink) override;
    int32_t RemoveSink(AudioSink* sink) override;
    int32_t Open(const WAVEFORMATEX* format, int32_t bitrate) override;

    bool IsOpen() const { return opened_ != 0; }
    int32_t Bitrate() const { return bitrate_; }
    // Input bytes held back for the next call (less than one frame).
    uint32_t PendingBytes() const { return pendingBytes_; }
    const AacCoreStats* CoreStats() const { return core_ != nullptr ? AacCoreGetStats(core_) : nullptr; }
    const SbrEncoder* Sbr() const { return sbr_; }

private:
    void EncodeFrame(const uint8_t* pcm);
    void CloseEncoders();

    SinkList sinks_;
    int32_t opened_ = 0;
    AacCoreEncoder* core_ = nullptr;
    SbrEncoder* sbr_ = nullptr;  // &sbrInstance_ while set up
    WAVEFORMATEX format_ = {};
    int32_t bitrate_ = 0;
    uint32_t frameBytes_ = 0;
    uint32_t pendingBytes_ = 0;
    uint32_t streamLength_ = 0;
    bool delivered_ = false;  // a full stream buffer went out during this call
    float input_[2 * kFramePeriods] = {};
    float coreSamples_[kFramePeriods / 2] = {};
    uint8_t sbrPayload_[kSbrMaxPayloadBytes] = {};
    // The previous frame's payload: the core's MDCT lags its input by 1600
    // core samples, so the SBR data of frame k describe the audio that the
    // decoder reconstructs from the next access unit. The first unit repeats
    // frame 0's self-contained (header, frequency-delta) payload, so that
    // decoders find SBR and PS from the start. -1: no frame yet.
    uint8_t delayedPayload_[kSbrMaxPayloadBytes] = {};
    int32_t delayedBytes_ = -1;
    uint8_t unit_[768] = {};  // the core's own ceiling; ours is kMaxAccessUnitBytes
    uint8_t pending_[4 * kFramePeriods] = {};
    uint8_t stream_[kStreamBytes] = {};
    SbrEncoder sbrInstance_;
};

}  // namespace aurivane

#endif
