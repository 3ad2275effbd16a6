// The two G.729 filters: 8 kHz mono 16-bit PCM in 160-byte pieces to
// 10-byte frames, and back. The objects hold only their sink list; the
// codec history is one process-wide encoder state and one decoder state,
// initialised by the first creation of each kind and never reset, so all
// encoder objects continue one history (and all decoder objects another).
#ifndef AURIVANE_ENGINE_G729_FILTERS_H
#define AURIVANE_ENGINE_G729_FILTERS_H

#include "engine/sink_list.h"

namespace aurivane {

class G729Encoder final : public AudioFilter {
public:
    // The first construction in the process initialises the shared encoder.
    G729Encoder();

    // One frame per whole 160 bytes; a remainder is dropped, not kept.
    // Always delivers (also zero bytes) and returns 1; returns 0 without
    // delivering only for a null buffer with a non-zero count or when the
    // output cannot be allocated.
    int32_t Process(const void* data, uint32_t byteCount) override;
    int32_t AddSink(AudioSink* sink) override;
    int32_t RemoveSink(AudioSink* sink) override;

private:
    SinkList sinks_;
};

class G729Decoder final : public AudioFilter {
public:
    // The first construction in the process initialises the shared decoder.
    G729Decoder();

    // 160 bytes of PCM per whole 10-byte frame; a partial frame is dropped.
    // Same delivery and return rules as the encoder, except that a null
    // buffer with a count of whole frames reports that many lost frames:
    // they are concealed and delivered as 160 bytes each.
    int32_t Process(const void* data, uint32_t byteCount) override;
    int32_t AddSink(AudioSink* sink) override;
    int32_t RemoveSink(AudioSink* sink) override;

private:
    SinkList sinks_;
};

}  // namespace aurivane

#endif
