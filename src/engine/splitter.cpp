#include "engine/splitter.h"

namespace aurivane {

int32_t Splitter::Process(const void* data, uint32_t byteCount) {
    sinks_.Deliver(data, byteCount);
    return 1;
}

int32_t Splitter::AddSink(AudioSink* sink) {
    sinks_.Add(sink);
    return 1;
}

int32_t Splitter::RemoveSink(AudioSink* sink) { return sinks_.Remove(sink) ? 1 : 0; }

}  // namespace aurivane
