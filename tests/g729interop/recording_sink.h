// A sink that keeps a copy of every buffer it is given.
#ifndef AURIVANE_TESTS_G729INTEROP_RECORDING_SINK_H
#define AURIVANE_TESTS_G729INTEROP_RECORDING_SINK_H

#include <aurivane/aurivane.h>

#include <cstdint>
#include <vector>

namespace aurivane::test {

class RecordingSink final : public AudioSink {
public:
    struct Delivery {
        bool nullData;
        std::vector<uint8_t> bytes;
    };

    int32_t Process(const void* data, uint32_t byteCount) override {
        const auto* p = static_cast<const uint8_t*>(data);
        deliveries.push_back({data == nullptr, p ? std::vector<uint8_t>(p, p + byteCount) : std::vector<uint8_t>()});
        return 1;
    }

    std::vector<Delivery> deliveries;
};

}  // namespace aurivane::test

#endif
