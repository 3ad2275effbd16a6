// The ordered, non-owning list of receivers every producer keeps.
#ifndef AURIVANE_ENGINE_SINK_LIST_H
#define AURIVANE_ENGINE_SINK_LIST_H

#include <aurivane/aurivane.h>

#include <cstddef>
#include <deque>

namespace aurivane {

class SinkList {
public:
    // Appends at the back; duplicates and null are kept like any other value.
    void Add(AudioSink* sink) { sinks_.push_back(sink); }
    // Removes the first entry equal to sink; false when there is none.
    bool Remove(AudioSink* sink);
    void Clear() { sinks_.clear(); }
    std::size_t Size() const { return sinks_.size(); }
    bool Empty() const { return sinks_.empty(); }
    AudioSink* At(std::size_t i) const { return sinks_[i]; }

    // Hands the buffer to every sink, front to back; results are ignored.
    void Deliver(const void* data, uint32_t byteCount) const;

private:
    std::deque<AudioSink*> sinks_;
};

}  // namespace aurivane

#endif
