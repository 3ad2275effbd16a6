// Arbitrary PCM into an AacEncoder with an accepted configuration chosen by
// the first bytes, fed in call sizes the input also chooses (0, 1, odd,
// partial and several frames). Every delivery must be whole records whose
// length bytes match, every record must decode in our AacDecoder, and the
// records must account for every byte fed: the remainder is carried.
#include <aurivane/aurivane.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class RecordSink final : public aurivane::AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        if (byteCount > 0 && data == nullptr) std::abort();
        const auto* p = static_cast<const uint8_t*>(data);
        for (uint32_t at = 0; at < byteCount; at += 1u + p[at]) {
            // A zero length or a record running past the delivery is a fault.
            if (p[at] == 0 || at + 1u + p[at] > byteCount) std::abort();
            records.emplace_back(p + at, p + at + 1 + p[at]);
        }
        return 1;
    }
    std::vector<std::vector<uint8_t>> records;
};

class Discard final : public aurivane::AudioSink {
public:
    int32_t Process(const void*, uint32_t) override { return 1; }
};

struct Config {
    uint32_t rate;
    int32_t lowest, highest;  // accepted bitrates, inclusive
};
constexpr Config kConfigs[] = {{32000, 10000, 19999}, {44100, 8000, 44000}, {48000, 12000, 44000}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > 6 * 8192) return 0;
    const Config& config = kConfigs[data[0] % 3];
    const uint16_t channels = (data[1] & 1) ? 2 : 1;
    const int32_t bitrate =
        config.lowest + static_cast<int32_t>((data[2] | (data[3] << 8)) % (config.highest - config.lowest + 1));
    uint32_t plan = static_cast<uint32_t>(data[4] | (data[5] << 8) | (data[6] << 16) | (data[7] << 24));
    const std::vector<uint8_t> pcm(data + 8, data + size);

    WAVEFORMATEX format = {};
    format.wFormatTag = 1;
    format.nChannels = channels;
    format.nSamplesPerSec = config.rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<uint16_t>(2 * channels);
    format.nAvgBytesPerSec = config.rate * format.nBlockAlign;

    auto* encoder = static_cast<aurivane::AacEncoderInterface*>(CreateObject(&aurivane::kAacEncoderId));
    if (encoder == nullptr) std::abort();
    RecordSink sink;
    encoder->AddSink(&sink);
    if (encoder->Open(&format, bitrate) != 1) std::abort();

    const uint32_t frameBytes = 2048u * 2u * channels;
    uint32_t fed = 0;
    while (fed < pcm.size()) {
        const uint32_t left = static_cast<uint32_t>(pcm.size()) - fed;
        uint32_t n = 0;
        switch (plan & 7) {
            case 0: n = 0; break;
            case 1: n = 1; break;
            case 2: n = ((plan >> 3) & 0xFF) | 1; break;
            case 3: n = frameBytes - 1; break;
            case 4: n = frameBytes + ((plan >> 3) & 0x3FF); break;
            default: n = left; break;
        }
        plan = plan * 1664525u + 1013904223u;
        if (n > left) n = left;
        // An exact-size copy, so that an overread of the caller's buffer shows.
        std::vector<uint8_t> call(pcm.begin() + fed, pcm.begin() + fed + n);
        encoder->Process(call.data(), n);
        fed += n;
    }
    // Completing the held remainder must produce exactly the missing record.
    const uint32_t remainder = fed % frameBytes;
    if (remainder != 0) {
        std::vector<uint8_t> pad(frameBytes - remainder, 0);
        encoder->Process(pad.data(), static_cast<uint32_t>(pad.size()));
    }
    if (sink.records.size() != (fed + frameBytes - 1) / frameBytes) std::abort();
    DestroyObject(&aurivane::kAacEncoderId, encoder);

    auto* decoder = static_cast<aurivane::AacDecoderInterface*>(CreateObject(&aurivane::kAacDecoderId));
    Discard out;
    decoder->AddSink(&out);
    if (decoder->Open(0) != 1) std::abort();
    for (const std::vector<uint8_t>& record : sink.records) {
        if (decoder->Process(record.data(), static_cast<uint32_t>(record.size())) != 1) std::abort();
    }
    DestroyObject(&aurivane::kAacDecoderId, decoder);
    return 0;
}
