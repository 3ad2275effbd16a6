// A sink that appends everything an engine object delivers, for the commands
// that drive a filter and write its output afterwards.
#ifndef AURIVANE_TOOLS_BYTE_SINK_H
#define AURIVANE_TOOLS_BYTE_SINK_H

#include <aurivane/aurivane.h>

#include <cstdint>
#include <vector>

namespace aurivane::cli {

class ByteSink final : public AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        const auto* p = static_cast<const uint8_t*>(data);
        last = byteCount;
        if (p != nullptr) bytes.insert(bytes.end(), p, p + byteCount);
        return 1;
    }
    std::vector<uint8_t> bytes;
    uint32_t last = 0;  // size of the latest delivery
};

}  // namespace aurivane::cli

#endif
