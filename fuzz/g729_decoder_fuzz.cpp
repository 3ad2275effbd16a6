// Any byte string into the G.729 decoder filter: every 80-bit pattern is a
// frame to decode, without reading outside the input or undefined behaviour.
#include <aurivane/aurivane.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Checks the delivery size and reads every sample so that the sanitizers
// see the whole output buffer.
class CheckingSink final : public aurivane::AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        if (data == nullptr || byteCount != expected) std::abort();
        const auto* p = static_cast<const uint8_t*>(data);
        unsigned sum = 0;
        for (uint32_t i = 0; i < byteCount; ++i) sum += p[i];
        checksum ^= sum;
        ++deliveries;
        return 1;
    }
    uint32_t expected = 0;
    unsigned checksum = 0;
    unsigned deliveries = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One decoder for the whole run, as the process-wide history is shared
    // anyway: inputs are decoded as one long, hostile stream.
    static auto* decoder = static_cast<aurivane::AudioFilter*>(CreateObject(&aurivane::kG729DecoderId));
    static CheckingSink sink;
    static bool wired = decoder != nullptr && decoder->AddSink(&sink) == 1;
    if (!wired) std::abort();
    if (size > (1u << 20)) return 0;
    sink.expected = static_cast<uint32_t>(size / 10 * 160);
    const unsigned before = sink.deliveries;
    if (decoder->Process(size ? data : nullptr, static_cast<uint32_t>(size)) != 1) std::abort();
    if (sink.deliveries != before + 1) std::abort();
    return 0;
}
