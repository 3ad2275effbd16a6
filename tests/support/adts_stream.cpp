#include "support/adts_stream.h"

#include "support/aac_block_gen.h"

namespace aurivane::test {

namespace {

constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

}  // namespace

bool ReadAdtsBlocks(const std::vector<uint8_t>& file, AdtsStream* out, std::string* error, bool resync) {
    struct Header {
        bool crc;
        int sfi, channels, blocks;
        std::size_t length;
    };
    auto parse = [&file](std::size_t pos, Header* h) {
        if (pos + 7 > file.size()) return false;
        const uint8_t* p = file.data() + pos;
        if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;
        h->crc = (p[1] & 1) == 0;
        h->sfi = (p[2] >> 2) & 15;
        h->channels = ((p[2] & 1) << 2) | (p[3] >> 6);
        h->length = (static_cast<std::size_t>(p[3] & 3) << 11) | (static_cast<std::size_t>(p[4]) << 3) | (p[5] >> 5);
        h->blocks = (p[6] & 3) + 1;
        return h->sfi <= 12 && h->length >= (h->crc ? 9u : 7u);
    };
    *out = AdtsStream{};
    std::size_t pos = 0;
    while (pos + 7 <= file.size()) {
        Header h{};
        bool ok = parse(pos, &h);
        if (ok && resync) {
            // A plausible frame is followed by another header or the end.
            Header next{};
            const std::size_t end = pos + h.length;
            ok = end <= file.size() && (end == file.size() || end + 7 > file.size() || parse(end, &next));
            if (!ok && end > file.size() && !out->blocks.empty()) break;  // truncated tail
        }
        if (!ok) {
            if (resync) {
                ++pos;
                continue;
            }
            *error = "no ADTS frame at offset " + std::to_string(pos);
            return false;
        }
        if (pos + h.length > file.size() || h.blocks != 1) {
            *error = "unsupported or truncated ADTS frame at offset " + std::to_string(pos);
            return false;
        }
        out->sampleRate = kRates[h.sfi];
        out->channelConfig = h.channels;
        const std::size_t head = h.crc ? 9 : 7;
        out->blocks.emplace_back(file.begin() + static_cast<long>(pos + head),
                                 file.begin() + static_cast<long>(pos + h.length));
        pos += h.length;
    }
    return true;
}

std::vector<uint8_t> WrapAdts(const AdtsStream& s) {
    int sfi = 0;
    while (sfi < 12 && kRates[sfi] != s.sampleRate) ++sfi;
    return testgen::WrapAdts(s.blocks, sfi, s.channelConfig);
}

}  // namespace aurivane::test
