#include "adts_reader.h"

namespace aurivane {

namespace {

constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                            22050, 16000, 12000, 11025, 8000,  7350};

// Bytes between the fixed/variable header and the first raw data block.
std::size_t HeaderExtraBytes(const AdtsHeader& h) {
    if (!h.crcPresent) return 0;
    // raw_data_block_position[1..n] then crc_check.
    return 2 * static_cast<std::size_t>(h.rawBlocks - 1) + 2;
}

// Both headers describe the same stream: the fixed header must not change.
bool SameFixedHeader(const AdtsHeader& a, const AdtsHeader& b) {
    return a.mpeg2 == b.mpeg2 && a.profile == b.profile && a.samplingIndex == b.samplingIndex &&
           a.channelConfig == b.channelConfig;
}

uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

// Block boundaries from raw_data_block_position, taken as offsets from
// `base`; each block is followed by its 16-bit CRC word.
bool SplitByPositions(const uint8_t* frame, std::size_t frameLength, const AdtsHeader& h,
                      std::size_t base, AdtsFrame* out) {
    const std::size_t first = kAdtsHeaderBytes + HeaderExtraBytes(h);
    std::size_t starts[4] = {first, 0, 0, 0};
    for (int i = 1; i < h.rawBlocks; ++i) {
        starts[i] = base + Be16(frame + kAdtsHeaderBytes + 2 * (i - 1));
    }
    for (int i = 0; i < h.rawBlocks; ++i) {
        const std::size_t end = (i + 1 < h.rawBlocks) ? starts[i + 1] : frameLength;
        // At least one byte of block plus the two CRC bytes.
        if (starts[i] < first || end > frameLength || end < starts[i] + 3) return false;
        out->blocks[i] = {frame + starts[i], end - 2 - starts[i]};
    }
    out->blockCount = h.rawBlocks;
    out->blocksDelimited = true;
    return true;
}

}  // namespace

int AdtsSampleRate(int samplingIndex) {
    return (samplingIndex >= 0 && samplingIndex < 13) ? kRates[samplingIndex] : 0;
}

int AdtsSamplingIndex(int sampleRate) {
    for (int i = 0; i < 13; ++i) {
        if (kRates[i] == sampleRate) return i;
    }
    return -1;
}

bool ParseAdtsHeader(const uint8_t* d, std::size_t size, AdtsHeader* h) {
    if (size < kAdtsHeaderBytes) return false;
    if (d[0] != 0xFF || (d[1] & 0xF0) != 0xF0) return false;  // syncword 0xFFF
    if ((d[1] & 0x06) != 0) return false;                     // layer is always 0
    AdtsHeader r;
    r.mpeg2 = (d[1] & 0x08) != 0;
    r.crcPresent = (d[1] & 0x01) == 0;
    r.profile = d[2] >> 6;
    r.samplingIndex = (d[2] >> 2) & 0x0F;
    r.sampleRate = AdtsSampleRate(r.samplingIndex);
    if (r.sampleRate == 0) return false;
    r.channelConfig = ((d[2] & 0x01) << 2) | (d[3] >> 6);
    r.frameLength = ((d[3] & 0x03) << 11) | (d[4] << 3) | (d[5] >> 5);
    r.bufferFullness = ((d[5] & 0x1F) << 6) | (d[6] >> 2);
    r.rawBlocks = (d[6] & 0x03) + 1;
    if (static_cast<std::size_t>(r.frameLength) <= kAdtsHeaderBytes + HeaderExtraBytes(r)) return false;
    *h = r;
    return true;
}

bool AdtsReader::Plausible(std::size_t at, AdtsHeader* header) const {
    if (!ParseAdtsHeader(data_ + at, size_ - at, header)) return false;
    if (synced_) return at + static_cast<std::size_t>(header->frameLength) <= size_;
    // After junk (or at the start) a header counts only when the frame ends
    // exactly at the end of the data or is followed by a matching header.
    const std::size_t next = at + static_cast<std::size_t>(header->frameLength);
    if (next == size_) return true;
    AdtsHeader following;
    return next < size_ && ParseAdtsHeader(data_ + next, size_ - next, &following) &&
           SameFixedHeader(*header, following);
}

bool AdtsReader::Next(AdtsFrame* frame) {
    AdtsHeader h;
    // First header seen whose frame the data cuts short; what follows it is
    // not counted as junk.
    std::size_t cutAt = size_;
    std::size_t at = pos_;
    while (true) {
        if (size_ - at < kAdtsHeaderBytes) {
            // Leftover bytes shorter than a header: a cut-off frame or junk.
            if (size_ > at || cutAt < size_) truncated_ = true;
            skipped_ += (cutAt < at ? cutAt : at) - pos_;
            pos_ = size_;
            return false;
        }
        if (Plausible(at, &h)) break;
        // A frame that runs past the end is either the cut-off tail of the
        // stream or a damaged length: look on for a confirmed header.
        AdtsHeader cut;
        if (cutAt == size_ && ParseAdtsHeader(data_ + at, size_ - at, &cut) &&
            at + static_cast<std::size_t>(cut.frameLength) > size_) {
            cutAt = at;
        }
        synced_ = false;
        ++at;
    }
    skipped_ += at - pos_;
    const std::size_t length = static_cast<std::size_t>(h.frameLength);
    if (at + length > size_) {
        truncated_ = true;
        pos_ = size_;
        return false;
    }

    const uint8_t* f = data_ + at;
    AdtsFrame out;
    out.header = h;
    out.offset = at;
    const std::size_t first = kAdtsHeaderBytes + HeaderExtraBytes(h);
    out.payload = {f + first, length - first};
    if (h.rawBlocks == 1) {
        out.blocks[0] = out.payload;
        out.blockCount = 1;
    } else if (!h.crcPresent) {
        out.blocks[0] = out.payload;
        out.blockCount = 1;
        out.blocksDelimited = false;
    } else if (!SplitByPositions(f, length, h, first, &out) && !SplitByPositions(f, length, h, 0, &out)) {
        // Positions that fit neither reading: hand over the payload whole.
        out.blocks = {};
        out.blocks[0] = out.payload;
        out.blockCount = 1;
        out.blocksDelimited = false;
    }
    *frame = out;
    pos_ = at + length;
    synced_ = true;
    return true;
}

}  // namespace aurivane
