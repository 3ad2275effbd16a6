#include "engine/sink_list.h"

#include <algorithm>

namespace aurivane {

bool SinkList::Remove(AudioSink* sink) {
    auto it = std::find(sinks_.begin(), sinks_.end(), sink);
    if (it == sinks_.end()) return false;
    sinks_.erase(it);
    return true;
}

void SinkList::Deliver(const void* data, uint32_t byteCount) const {
    // Index loop: a sink that appends to this list during delivery is outside
    // the contract, but must not invalidate an iterator we hold.
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        sinks_[i]->Process(data, byteCount);
    }
}

}  // namespace aurivane
