// Forwards every buffer, unchanged and uncopied, to all of its sinks.
#ifndef AURIVANE_ENGINE_SPLITTER_H
#define AURIVANE_ENGINE_SPLITTER_H

#include "engine/sink_list.h"

namespace aurivane {

class Splitter final : public AudioFilter {
public:
    int32_t Process(const void* data, uint32_t byteCount) override;
    int32_t AddSink(AudioSink* sink) override;
    int32_t RemoveSink(AudioSink* sink) override;

    const SinkList& Sinks() const { return sinks_; }

private:
    SinkList sinks_;
};

}  // namespace aurivane

#endif
