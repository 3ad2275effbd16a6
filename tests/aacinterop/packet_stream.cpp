#include "packet_stream.h"

#include <aurivane/aurivane.h>

#include "support/adts_stream.h"

namespace aurivane::aactest {

namespace {

class CollectingSink final : public AudioSink {
public:
    explicit CollectingSink(FilterRun* run) : run_(run) {}
    int32_t Process(const void* data, uint32_t byteCount) override {
        run_->deliveries.push_back(byteCount);
        const auto* p = static_cast<const uint8_t*>(data);
        for (uint32_t i = 0; i + 1 < byteCount; i += 2) {
            run_->pcm.push_back(static_cast<int16_t>(p[i] | (p[i + 1] << 8)));
        }
        return 1;
    }

private:
    FilterRun* run_;
};

}  // namespace

bool ToPacketStream(const std::vector<std::vector<uint8_t>>& blocks, std::vector<uint8_t>* out) {
    out->clear();
    for (const auto& b : blocks) {
        if (b.size() > 255) return false;
        out->push_back(static_cast<uint8_t>(b.size()));
        out->insert(out->end(), b.begin(), b.end());
    }
    return true;
}

std::vector<std::vector<uint8_t>> AdtsBlocks(const std::vector<uint8_t>& adts) {
    test::AdtsStream stream;
    std::string error;
    test::ReadAdtsBlocks(adts, &stream, &error);
    return stream.blocks;
}

bool DecodeWithFilter(const std::vector<uint8_t>& stream, int recordsPerCall, FilterRun* run) {
    auto* decoder = static_cast<AacDecoderInterface*>(CreateObject(&kAacDecoderId));
    if (decoder == nullptr) return false;
    CollectingSink sink(run);
    decoder->AddSink(&sink);
    bool ok = decoder->Open(0) == 1;
    std::size_t at = 0;
    while (ok && at < stream.size()) {
        std::size_t end = at;
        for (int r = 0; end < stream.size() && (recordsPerCall == 0 || r < recordsPerCall); ++r) {
            end += 1 + static_cast<std::size_t>(stream[end]);
        }
        if (end > stream.size()) end = stream.size();
        run->results.push_back(decoder->Process(stream.data() + at, static_cast<uint32_t>(end - at)));
        at = end;
    }
    DestroyObject(&kAacDecoderId, decoder);
    return ok;
}

}  // namespace aurivane::aactest
