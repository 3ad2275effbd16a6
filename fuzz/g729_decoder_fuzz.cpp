// Any byte string into the G.729 decoder filter: every 80-bit pattern is a
// frame to decode and any run of frames may be reported lost, without
// reading outside the input or undefined behaviour.
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
    if (size == 0 || data[0] < 0x80) {
        // The whole input as received frames, a partial tail included.
        sink.expected = static_cast<uint32_t>(size / 10 * 160);
        const unsigned before = sink.deliveries;
        if (decoder->Process(size ? data : nullptr, static_cast<uint32_t>(size)) != 1) std::abort();
        if (sink.deliveries != before + 1) std::abort();
        return 0;
    }
    // Runs led by a control byte: bits 0-2 give 1 to 8 frames, bit 3 marks
    // the run lost (a null buffer of its byte count), bits 4-7 all set ask
    // for a null buffer with a partial frame, which must be refused.
    for (size_t at = 1; at < size;) {
        const uint8_t control = data[at++];
        const uint32_t frames = 1u + (control & 7u);
        const unsigned before = sink.deliveries;
        if ((control & 0xF0u) == 0xF0u) {
            if (decoder->Process(nullptr, frames * 10 + 5) != 0 || sink.deliveries != before) std::abort();
        } else if (control & 8u) {
            sink.expected = frames * 160;
            if (decoder->Process(nullptr, frames * 10) != 1 || sink.deliveries != before + 1) std::abort();
        } else {
            const size_t left = size - at;
            const uint32_t bytes = static_cast<uint32_t>(left < frames * 10 ? left : frames * 10);
            sink.expected = bytes / 10 * 160;
            if (decoder->Process(data + at, bytes) != 1 || sink.deliveries != before + 1) std::abort();
            at += bytes;
        }
    }
    return 0;
}
