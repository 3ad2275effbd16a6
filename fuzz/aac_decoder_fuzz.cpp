// Any byte string into the AacDecoder filter after a valid open: once as a
// packet stream as it stands (length bytes and all), once cut into records
// of up to 255 bytes so that the payloads reach the raw data block parser.
// Nothing may be read outside the input, and every delivery must be whole
// frames within the output area.
#include <aurivane/aurivane.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kOutputBytes = 1764000;

class CheckingSink final : public aurivane::AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        // Plain frames are 4096 bytes, SBR frames 8192.
        if (byteCount % 4096 != 0 || byteCount > kOutputBytes) std::abort();
        if (byteCount > 0 && data == nullptr) std::abort();
        const auto* p = static_cast<const uint8_t*>(data);
        unsigned sum = 0;
        for (uint32_t i = 0; i < byteCount; ++i) sum += p[i];
        checksum ^= sum;
        return 1;
    }
    unsigned checksum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One decoder for the run, re-opened per input so that every input
    // starts from a clean core state.
    static auto* decoder = static_cast<aurivane::AacDecoderInterface*>(CreateObject(&aurivane::kAacDecoderId));
    static CheckingSink sink;
    static bool wired = decoder != nullptr && decoder->AddSink(&sink) == 1;
    if (!wired) std::abort();
    if (size > (1u << 16)) return 0;
    if (decoder->Open(0) != 1) std::abort();

    // An exact-size copy, so that an overread of the caller's buffer shows.
    std::vector<uint8_t> raw(data, data + size);
    decoder->Process(raw.data(), static_cast<uint32_t>(raw.size()));

    std::vector<uint8_t> records;
    for (size_t at = 0; at < size;) {
        const size_t n = size - at < 255 ? size - at : 255;
        records.push_back(static_cast<uint8_t>(n));
        records.insert(records.end(), data + at, data + at + n);
        at += n;
    }
    // One record per call: a failing record then does not hide the rest.
    for (size_t at = 0; at < records.size(); at += 1 + records[at]) {
        decoder->Process(records.data() + at, 1u + records[at]);
    }
    return 0;
}
