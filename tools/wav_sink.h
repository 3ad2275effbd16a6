// A sink that writes what an engine filter delivers (16-bit little-endian
// PCM) straight into a WavWriter, so a decode holds one block of output at
// a time instead of the whole file.
#ifndef AURIVANE_TOOLS_WAV_SINK_H
#define AURIVANE_TOOLS_WAV_SINK_H

#include <aurivane/aurivane.h>

#include "wav_file.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace aurivane::cli {

class WavSink final : public AudioSink {
public:
    explicit WavSink(WavWriter* out) : out_(out) {}
    int32_t Process(const void* data, uint32_t byteCount) override {
        last = byteCount;
        if (data == nullptr) return 1;
        const auto* p = static_cast<const uint8_t*>(data);
        const std::size_t count = byteCount / 2;
        for (std::size_t at = 0; at < count;) {
            const std::size_t n = std::min(count - at, WavWriter::kBlockBytes / 2);
            int16_t* pcm = out_->Reserve(n);
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(pcm, p + 2 * at, 2 * n);
            } else {
                for (std::size_t i = 0; i < n; ++i) {
                    pcm[i] = static_cast<int16_t>(p[2 * (at + i)] | (p[2 * (at + i) + 1] << 8));
                }
            }
            out_->Commit(n);
            at += n;
        }
        return 1;
    }
    uint32_t last = 0;  // size of the latest delivery

private:
    WavWriter* out_;
};

}  // namespace aurivane::cli

#endif
